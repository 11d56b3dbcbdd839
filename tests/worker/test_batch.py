"""run_all on the embedded worker, and stopping what a worker runs through its cancel()."""

import os
import signal
import threading
import time

import pytest

from norvale import worker
from norvale.core import File
from norvale.errors import ExecutionError
from norvale.external.python import PythonAnalysis


def _alive(pid: int) -> bool:
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def _sleeper(pid_path):
    text = f"import os, time\nopen({str(pid_path)!r}, 'w').write(str(os.getpid()))\ntime.sleep(60)\n"
    return PythonAnalysis(script=File.from_data(text.encode()), output_filenames=["out.txt"])


def _wait_pid(path, limit=20.0):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        if path.exists() and path.read_text():
            return int(path.read_text())
        time.sleep(0.05)
    raise AssertionError("the program did not start")


def test_run_all_reports_each_outcome_in_order(local_worker):
    jobs = [PythonAnalysis(script=File.from_data(f"open('out.txt', 'w').write('{k}')".encode()),
                           output_filenames=["out.txt"]) for k in range(4)]
    jobs.insert(2, PythonAnalysis(script=File.from_data(b"import sys; sys.exit(3)"), output_filenames=["out.txt"]))
    outcomes = worker.run_all(jobs, timeout=60, max_parallel=3)
    assert [o is None for o in outcomes] == [True, True, False, True, True]
    assert isinstance(outcomes[2], ExecutionError)
    assert [jobs[k].get_output_file("out.txt").getvalue() for k in (0, 1, 3, 4)] == ["0", "1", "2", "3"]
    with pytest.raises(ValueError, match="max_parallel"):
        worker.run_all(jobs, timeout=60, max_parallel=0)
    with pytest.raises(TypeError, match="on_progress must be a function"):
        worker.run_all(jobs, timeout=60, on_progress="print")


def test_cancel_stops_running_programs_and_later_jobs_run(local_worker, tmp_path):
    pid_path = tmp_path / "pid"
    box = {}

    def run():
        try:
            _sleeper(pid_path).execute(timeout=60)
        except ExecutionError as exc:
            box["error"] = exc

    thread = threading.Thread(target=run)
    thread.start()
    pid = _wait_pid(pid_path)
    local_worker.cancel()
    thread.join(10)
    assert not thread.is_alive() and str(box["error"]) == "The job was cancelled"
    assert not _alive(pid)
    job = PythonAnalysis(script=File.from_data(b"open('out.txt', 'w').write('after')"), output_filenames=["out.txt"])
    job.execute(timeout=60)
    assert job.get_output_file("out.txt").getvalue() == "after"


def test_ctrl_c_in_run_all_stops_the_embedded_workers_programs(local_worker, tmp_path):
    pids = [tmp_path / f"{k}.pid" for k in range(2)]
    jobs = [_sleeper(p) for p in pids]

    def interrupt():
        for p in pids:
            _wait_pid(p)
        os.kill(os.getpid(), signal.SIGINT)  # what Ctrl+C sends

    threading.Thread(target=interrupt, daemon=True).start()
    with pytest.raises(KeyboardInterrupt):
        worker.run_all(jobs, timeout=60, max_parallel=2)
    assert not any(_alive(int(p.read_text())) for p in pids)
    assert not [name for name in os.listdir(local_worker.config.work_root) if name.startswith("norvale-run-")]
