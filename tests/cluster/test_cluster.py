"""Jobs through a real broker, result store and file store to `norvale-worker` daemons."""

import io
import os

import pytest

from norvale import worker
from norvale.core import File
from norvale.errors import ExecutionError
from norvale.external.moraine import MoraineAnalysis
from norvale.external.python import PythonAnalysis
from norvale.worker import LocalWorker, WorkerConfig, standins


def run_locally(job, tmp_path):
    previous = worker.get_worker()
    local = LocalWorker(WorkerConfig(work_root=str(tmp_path)))
    local.config.update(programs={"moraine": standins.command("moraine")})
    worker.set_worker(local)
    try:
        job.execute(timeout=60)
    finally:
        worker.set_worker(previous)


def test_moraine_job_gives_what_the_embedded_worker_gives_and_leaves_no_store_objects(cluster, store_dir, tmp_path):
    data = b"slope input\nlayer 1\n"
    job = MoraineAnalysis(io.BytesIO(data))
    job.execute(timeout=60)
    assert worker.get_worker() is cluster
    local = MoraineAnalysis(io.BytesIO(data))
    run_locally(local, tmp_path)
    assert job.get_output_file(".sto").getvalue() == local.get_output_file(".sto").getvalue()
    assert os.listdir(store_dir) == []


from .helpers import alive, in_thread, read_pid, script_job, sleeper_job, wait_for  # noqa: E402


@pytest.mark.parametrize("make, message", [
    (lambda: MoraineAnalysis(io.BytesIO(b"INVALID")), None),
    (lambda: script_job("import sys; sys.stderr.write('bad input'); sys.exit(4)"), None),
    (lambda: script_job("pass", output="../escape.txt"), None),
    (lambda: script_job("pass", files=[("a/b.txt", File.from_data(b"x"))]), None),
])
def test_failures_read_as_on_the_embedded_worker(cluster, tmp_path, make, message):
    with pytest.raises(ExecutionError) as remote:
        make().execute(timeout=60)
    with pytest.raises(ExecutionError) as local:
        run_locally(make(), tmp_path)
    assert str(remote.value) == str(local.value)
    # which worker said it: beside the message, never inside it
    assert remote.value.worker_name == "office-a" and local.value.worker_name is None
    assert "reported by the worker 'office-a'" in remote.value.__notes__


def test_worker_script_by_key_and_outputs(cluster):
    job = PythonAnalysis(script_key="hello", output_filenames=["hello.txt"])
    job.execute(timeout=60)
    assert job.get_output_file("hello.txt").getvalue() == "hello from the worker's own script\n"


def test_time_out_kills_the_remote_program_and_reads_as_locally(cluster, tmp_path):
    pid_path = tmp_path / "pid"
    job = script_job(f"import os, time\nopen({str(pid_path)!r}, 'w').write(str(os.getpid()))\n"
                     "print('working', flush=True)\ntime.sleep(120)\n")
    with pytest.raises(ExecutionError) as info:
        job.execute(timeout=3)
    assert str(info.value) == "The python job did not finish within 3 seconds and was stopped"
    assert not alive(int(pid_path.read_text()))


def test_ctrl_c_cancels_the_remote_program_and_progress_reaches_the_callback(cluster, tmp_path, caplog):
    pid_path = tmp_path / "pid"
    reports = []

    def on_progress(report):
        reports.append(report)
        if report.state == "running" and report.last_line.startswith("step "):
            raise KeyboardInterrupt

    job = script_job(f"import os, time\nopen({str(pid_path)!r}, 'w').write(str(os.getpid()))\n"
                     "for i in range(200):\n    print('step', i, flush=True)\n    time.sleep(1)\n")
    cluster.on_progress = on_progress
    try:
        with caplog.at_level("INFO", logger="norvale.worker"), pytest.raises(KeyboardInterrupt):
            job.execute(timeout=120)
    finally:
        cluster.on_progress = None
    assert not alive(int(pid_path.read_text()))
    running = [r for r in reports if r.state == "running"]
    assert running and {r.worker for r in running} == {"office-a"}
    assert running[-1].describe().startswith("python job ") and "running on office-a for" in running[-1].describe()
    assert any("running on office-a" in m for m in caplog.messages)
    # the slot is free again: the next job runs
    assert PythonAnalysis(script_key="hello", output_filenames=["hello.txt"]).execute(timeout=60) is None


def test_run_all_runs_jobs_concurrently_and_reports_each_outcome(cluster):
    jobs = [script_job(f"open('out.txt', 'w').write('{k}')") for k in range(5)]
    jobs.append(MoraineAnalysis(io.BytesIO(b"INVALID")))
    outcomes = worker.run_all(jobs, timeout=60, max_parallel=3)
    assert outcomes[:5] == [None] * 5
    assert [j.get_output_file("out.txt").getvalue() for j in jobs[:5]] == [str(k) for k in range(5)]
    assert isinstance(outcomes[5], ExecutionError)
    with pytest.raises(ValueError, match="max_parallel"):
        worker.run_all(jobs, timeout=60, max_parallel=0)


def test_a_job_lost_too_often_is_given_up(cluster):
    from unittest import mock

    from norvale.worker.cluster import settings

    job_id = "ab" * 16
    cluster.redis.set(settings.Keys("t", job_id).attempts, cluster.max_attempts)
    with mock.patch("norvale.worker.cluster.client._new_job_id", return_value=job_id):
        with pytest.raises(ExecutionError) as info:
            script_job("open('out.txt', 'w').write('x')").execute(timeout=60)
    assert str(info.value) == ("The python job was lost 3 times: the worker running it stopped each time, "
                               "so it is not run again")
    cluster.redis.delete(settings.Keys("t", job_id).attempts)
