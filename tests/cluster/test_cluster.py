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
