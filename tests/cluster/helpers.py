import json
import os
import threading
import time

from norvale.core import File
from norvale.external.python import PythonAnalysis


def alive(pid: int) -> bool:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def wait_for(predicate, limit=30.0, what="the condition"):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError(f"gave up waiting for {what}")


def read_pid(path):
    try:
        return int(open(path).read())
    except (OSError, ValueError):
        return None


def sleeper_job(tmp_path, tag, slow_runs=1, seconds=120):
    """A job of the worker-configured sleeper script; returns (job, pid file)."""
    pid_path = str(tmp_path / f"{tag}.pid")
    args = {"pid_path": pid_path, "marker": str(tmp_path / f"{tag}.marker"), "slow_runs": slow_runs,
            "seconds": seconds}
    job = PythonAnalysis(script_key="sleeper", files=[("args.json", File.from_data(json.dumps(args).encode()))],
                         output_filenames=["out.txt"])
    return job, pid_path


def in_thread(fn, *args, **kwargs):
    """Runs fn in a thread; the returned dict gets "result" or "error" when it ends."""
    box = {}

    def target():
        try:
            box["result"] = fn(*args, **kwargs)
        except BaseException as exc:  # noqa: BLE001
            box["error"] = exc

    box["thread"] = threading.Thread(target=target, daemon=True)
    box["thread"].start()
    return box


def script_job(text, output="out.txt", files=()):
    return PythonAnalysis(script=File.from_data(text.encode()), files=list(files), output_filenames=[output])
