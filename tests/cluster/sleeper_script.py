# A worker-configured script for the cluster tests: records its pid, then either finishes at once
# (when its marker file exists, i.e. on a rerun) or creates the marker and works for a long time.
import json
import os
import time

args = json.load(open("args.json"))
open(args["pid_path"], "w").write(str(os.getpid()))
runs = 1 + (os.path.exists(args["marker"]) and int(open(args["marker"]).read() or 0))
open(args["marker"], "w").write(str(runs))
if runs > args.get("slow_runs", 1):
    open("out.txt", "w").write(f"run {runs}")
else:
    print("working", flush=True)
    time.sleep(args.get("seconds", 120))
    open("out.txt", "w").write(f"run {runs}")
