"""Per-job supervisor: starts one program and kills its whole process tree when told to or orphaned.

Run as a script of its own (`python -I -S supervisor.py`), so it needs nothing beyond the standard
library and the worker's process module, loaded by path. The worker writes one JSON line on its
standard input ({"argv", "cwd", "stdout", "stderr"}); the supervisor answers "pid N", then
"exit N" when the program ends. A line "kill" on its input, the end of its input (the worker
process died, whatever killed it) or SIGTERM kills the program and everything below it.
"""

import importlib.util
import json
import os
import signal
import subprocess
import sys
import threading


def _process_module():
    path = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "process.py")
    spec = importlib.util.spec_from_file_location("_norvale_process", path)
    module = importlib.util.module_from_spec(spec)
    sys.modules[spec.name] = module
    spec.loader.exec_module(module)
    return module


def main() -> int:
    spec = json.loads(sys.stdin.readline())
    process = _process_module()
    with open(spec["stdout"], "wb") as out, open(spec["stderr"], "wb") as err:
        proc = subprocess.Popen(spec["argv"], cwd=spec["cwd"], stdin=subprocess.DEVNULL, stdout=out,
                                stderr=err, start_new_session=True)
    lock = threading.Lock()
    killed = []

    def say(line):
        try:
            sys.stdout.write(line + "\n")
            sys.stdout.flush()
        except (OSError, ValueError):
            pass

    def kill(*_):
        with lock:
            if not killed:
                killed.append(True)
                process.kill_tree(proc)
                say("killed")
        os._exit(0)

    signal.signal(signal.SIGTERM, kill)
    say(f"pid {proc.pid}")

    def watch_input():
        for line in sys.stdin:
            if line.strip() == "kill":
                break
        kill()  # told to, or the worker is gone

    threading.Thread(target=watch_input, daemon=True).start()
    code = proc.wait()
    with lock:
        if killed:
            return 0
        try:
            os.killpg(proc.pid, signal.SIGKILL)  # what the program left running in its group
        except OSError:
            pass
        say(f"exit {code}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
