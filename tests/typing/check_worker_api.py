"""The worker API as applications use it, checked like check_usage.py."""

from __future__ import annotations

import pathlib
import shlex
from typing import Any, Optional, assert_type

from norvale import worker
from norvale.worker import LocalWorker, ResultBody, WorkerConfig, WorkerFailure, WorkerResult, standins
from norvale.worker.protocol import RunResult


class RemoteWorker:
    """An application's own worker: anything with run(job_path, *, timeout)."""

    def run(self, job_path: str, *, timeout: float) -> WorkerResult:
        raise WorkerFailure(f"cannot reach the cluster for {job_path} within {timeout} s", exit_status=None, output="")


class NoRun:
    def start(self, job_path: str) -> None: ...


def configure() -> None:
    config = worker.configure(programs={"korro": ["/opt/korro/bin/korro"]}, local_scripts_only=True)
    assert_type(config, WorkerConfig)
    worker.configure(programs={"moraine": shlex.split("/opt/moraine/run --batch"), "korro": None},
                     scripts={"report": pathlib.Path("/srv/report.py"), "old": None}, work_root=None)
    worker.configure(programs={"python": ("/usr/bin/python3", "-I"), "pylon": ["/opt/pylon/python"]},
                     work_root=pathlib.Path("/srv"))
    worker.configure(config=WorkerConfig.from_file(pathlib.Path("worker.json")))
    worker.configure(programs={"korro": "/opt/korro/bin/korro"})  # type: ignore[dict-item]  # pyright: ignore[reportArgumentType]
    worker.configure(local_scripts_only="no")  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
    worker.configure(program={"korro": ["/opt/korro"]})  # type: ignore[call-arg]  # pyright: ignore[reportCallIssue]
    assert_type(WorkerConfig.from_file("worker.json"), WorkerConfig)
    assert_type(WorkerConfig().program("korro"), Optional[list[str]])
    assert_type(standins.command("korro"), list[str])
    worker.set_worker(RemoteWorker())
    worker.set_worker(LocalWorker(WorkerConfig(work_root="/srv/norvale")))
    worker.set_worker(None)
    worker.set_worker(object())  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
    worker.set_worker(NoRun())  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]


def run() -> None:
    result = worker.get_worker().run("job.json", timeout=10.0)
    assert_type(result, RunResult)
    assert_type(result.content, dict[str, Any])
    assert_type(result.exit_status, Optional[int])
    assert_type(result.output, str)
    local = LocalWorker().run("job.json", timeout=10.0)
    assert_type(local, WorkerResult)
    assert_type(local.directory, Optional[str])
    body = ResultBody("/tmp/body")
    assert_type(body.read_bytes(), bytes)
    assert_type(body.size, int)
    try:
        worker.get_worker().run("job.json", timeout=1)
    except WorkerFailure as failure:
        assert_type(failure.message, str)
        assert_type(failure.exit_status, Optional[int])
        assert_type(failure.output, str)
