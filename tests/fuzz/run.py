"""Long differential/fuzz runs (`make fuzz`): runs every tests/fuzz/fuzz_*.py script in turn."""

import pathlib
import runpy
import sys

here = pathlib.Path(__file__).parent
scripts = sorted(here.glob("fuzz_*.py"))
for script in scripts:
    print(f"== {script.name}", flush=True)
    runpy.run_path(str(script), run_name="__main__")
print(f"{len(scripts)} fuzz script(s) run")
sys.exit(0)
