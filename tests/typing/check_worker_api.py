"""The worker API as applications use it, checked like check_usage.py.

Expected to fail until `norvale.worker`'s public functions carry annotations (`configure` and
`get_worker` are untyped calls under --strict today); test_type_checkers.py marks it so.
"""

from __future__ import annotations

from typing import assert_type

from norvale import worker
from norvale.worker import LocalWorker, WorkerConfig, WorkerFailure, WorkerResult


class RemoteWorker:
    """An application's own worker: anything with run(job_path, *, timeout)."""

    def run(self, job_path: str, *, timeout: float) -> WorkerResult:
        raise WorkerFailure(f"cannot reach the cluster for {job_path} within {timeout} s")


def configure() -> None:
    config = worker.configure(programs={"korro": ["/opt/korro/bin/korro"]}, local_scripts_only=True)
    assert_type(config, WorkerConfig)
    assert_type(WorkerConfig.from_file("worker.json"), WorkerConfig)
    worker.set_worker(RemoteWorker())
    worker.set_worker(LocalWorker(WorkerConfig(work_root="/srv/norvale")))
    worker.set_worker(None)
    result = worker.get_worker().run("job.json", timeout=10.0)
    assert_type(result, WorkerResult)
    worker.set_worker(object())  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
