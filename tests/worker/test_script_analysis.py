"""Script analysis on the embedded worker: running, failing, timing out, and cleaning up."""

import os
import signal
import time

import pytest

from conftest import leftovers
from norvale.core import File
from norvale.errors import ExecutionError
from norvale.external.python import PythonAnalysis


def script(text: str) -> File:
    return File.from_data(text.encode())


def alive(pid: int) -> bool:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    # a zombie is as good as gone
    with open(f"/proc/{pid}/stat") as f:
        return f.read().rsplit(")", 1)[1].split()[0] != "Z"


def test_outputs_inputs_and_missing_names(local_worker):
    job = PythonAnalysis(
        script=script("import shutil; shutil.copy('in.txt', 'out.txt'); open('two.bin','wb').write(bytes(range(256)))"),
        files=[("in.txt", File.from_data(b"hello"))],
        output_filenames=["out.txt", "two.bin"],
    )
    job.execute(timeout=60)
    assert job.get_output_file("out.txt").getvalue_binary() == b"hello"
    assert job.get_output_file("two.bin").getvalue_binary() == bytes(range(256))
    assert job.get_output_file("not-listed.txt") is None


def test_getter_before_execute():
    job = PythonAnalysis(script=script("pass"))
    with pytest.raises(ExecutionError, match="Call .execute"):
        job.get_output_file("x")


@pytest.mark.parametrize("text, outputs, match", [
    ("import sys; sys.stderr.write('bad input'); sys.exit(3)", [], "exit status 3:\nbad input"),
    ("pass", ["result.txt"], "did not write the output file\\(s\\): result.txt"),
    ("raise RuntimeError('kaputt')", [], "RuntimeError: kaputt"),
])
def test_failures_are_execution_errors(local_worker, text, outputs, match):
    job = PythonAnalysis(script=script(text), output_filenames=outputs)
    with pytest.raises(ExecutionError, match=match):
        job.execute(timeout=60)
    assert leftovers(local_worker.config.work_root) == []


def test_handle_execution_error_hook_sees_the_worker_message(local_worker):
    class Translating(PythonAnalysis):
        def _handle_execution_error(self, message):
            raise KeyError(message)

    with pytest.raises(KeyError, match="exit status 2"):
        Translating(script=script("raise SystemExit(2)")).execute(timeout=60)


def test_timeout_kills_the_whole_tree(local_worker, tmp_path):
    pids = tmp_path / "pids.txt"
    text = f"""
import os, subprocess, sys, time
child = subprocess.Popen([sys.executable, "-c", "import os, time; os.setsid(); time.sleep(300)"])
grand = subprocess.Popen([sys.executable, "-c", "import time; time.sleep(300)"])
open({str(pids)!r}, "w").write(f"{{os.getpid()}} {{child.pid}} {{grand.pid}}")
time.sleep(300)
"""
    job = PythonAnalysis(script=script(text))
    started = time.monotonic()
    with pytest.raises(ExecutionError, match="did not finish within 2 seconds"):
        job.execute(timeout=2)
    assert time.monotonic() - started < 2 + 5
    for pid in map(int, pids.read_text().split()):
        for _ in range(50):
            if not alive(pid):
                break
            time.sleep(0.05)
        assert not alive(pid), f"process {pid} survived the time-out"
        if alive(pid):
            os.kill(pid, signal.SIGKILL)
    assert leftovers(local_worker.config.work_root) == []


def test_local_scripts_only_and_script_keys(local_worker, tmp_path):
    configured = tmp_path / "configured.py"
    configured.write_text("open('out.txt', 'w').write('from the worker')")
    local_worker.config.update(scripts={"report": str(configured)}, local_scripts_only=True)
    with pytest.raises(ExecutionError, match="runs local scripts only"):
        PythonAnalysis(script=script("pass")).execute(timeout=60)
    job = PythonAnalysis(script_key="report", output_filenames=["out.txt"])
    job.execute(timeout=60)
    assert job.get_output_file("out.txt").getvalue() == "from the worker"
    with pytest.raises(ExecutionError, match="No script is configured on this worker for the script key 'nope'"):
        PythonAnalysis(script_key="nope").execute(timeout=60)


@pytest.mark.parametrize("name", ["../escape.txt", "/etc/passwd", "a/b.txt", "..", ""])
def test_unsafe_file_names_are_refused(local_worker, name):
    with pytest.raises(ExecutionError, match="Invalid file name"):
        PythonAnalysis(script=script("pass"), files=[(name, File.from_data(b"x"))]).execute(timeout=60)
    with pytest.raises(ExecutionError, match="Invalid file name"):
        PythonAnalysis(script=script("pass"), output_filenames=[name or "."]).execute(timeout=60)


@pytest.mark.parametrize("kwargs, error", [
    ({}, ValueError),
    ({"script": b"print()"}, TypeError),
    ({"script_key": 5}, TypeError),
    ({"script_key": "k", "files": [("a", "b", "c")]}, TypeError),
    ({"script_key": "k", "output_filenames": [1]}, TypeError),
])
def test_bad_arguments(kwargs, error):
    with pytest.raises(error):
        PythonAnalysis(**kwargs)


@pytest.mark.parametrize("timeout", [0, -1, "10", None, True])
def test_bad_timeouts(timeout):
    with pytest.raises((TypeError, ValueError)):
        PythonAnalysis(script=script("pass")).execute(timeout)


def test_outputs_named_like_the_program_logs_keep_their_own_content(local_worker):
    job = PythonAnalysis(
        script=script("import sys; print('progress'); sys.stderr.write('warning');"
                      "open('stdout.txt', 'w').write('A'); open('stderr.txt', 'w').write('B')"),
        output_filenames=["stdout.txt", "stderr.txt"],
    )
    job.execute(timeout=60)
    assert job.get_output_file("stdout.txt").getvalue() == "A"
    assert job.get_output_file("stderr.txt").getvalue() == "B"
    assert "progress" in job.get_program_log() and "warning" in job.get_program_log()


def test_a_job_leaves_only_its_results_and_they_go_with_the_job(local_worker, tmp_path, monkeypatch):
    import gc
    import tempfile

    system_tmp = tmp_path / "system-tmp"
    system_tmp.mkdir()
    monkeypatch.setattr(tempfile, "tempdir", str(system_tmp))
    work_root = local_worker.config.work_root
    job = PythonAnalysis(script=script("open('out.txt', 'w').write('x')"), output_filenames=["out.txt"])
    job.execute(timeout=60)
    assert os.listdir(system_tmp) == []  # the job file went when the run ended
    [result_dir] = os.listdir(work_root)
    assert result_dir.startswith("norvale-result-")
    job.execute(timeout=60)  # a new run replaces the results of the last one
    assert len(os.listdir(work_root)) == 1 and os.listdir(work_root) != [result_dir]
    del job
    gc.collect()
    assert os.listdir(work_root) == [] and os.listdir(system_tmp) == []
