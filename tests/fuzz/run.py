"""Long differential/fuzz runs (`make fuzz`): runs every tests/fuzz/fuzz_*.py script in turn.

`--short` runs each for a little while only (what `make sanitize` does under the sanitizers).
"""

import pathlib
import runpy
import sys

# Arguments each script gets with --short: a document count or a number of seconds.
SHORT = {"fuzz_xml.py": ["150"], "fuzz_json_writer.py": ["15"]}

short = "--short" in sys.argv[1:]
here = pathlib.Path(__file__).parent
scripts = sorted(here.glob("fuzz_*.py"))
for script in scripts:
    print(f"== {script.name}", flush=True)
    sys.argv = [str(script), *(SHORT.get(script.name, []) if short else [])]
    runpy.run_path(str(script), run_name="__main__")
print(f"{len(scripts)} fuzz script(s) run")
sys.exit(0)
