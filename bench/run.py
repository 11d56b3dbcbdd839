"""Runs every benchmark (bench/bench_*.py) and prints its figures. `make bench`."""

import pathlib
import subprocess
import sys

here = pathlib.Path(__file__).parent
selected = sys.argv[1:]
failed = []
for script in sorted(here.glob("bench_*.py")):
    if selected and not any(s in script.name for s in selected):
        continue
    print(f"== {script.name}", flush=True)
    if subprocess.call([sys.executable, str(script)]) != 0:
        failed.append(script.name)
if failed:
    print("failed:", ", ".join(failed))
    sys.exit(1)
