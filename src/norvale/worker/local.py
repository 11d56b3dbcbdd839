"""The embedded worker: runs jobs on this machine."""

from __future__ import annotations

import logging
import shutil
import tempfile
import time
from typing import Optional

from norvale.worker.adapters import JobContext, adapter_for
from norvale.worker.config import WorkerConfig
from norvale.worker.jobfile import JobFileError, read_job
from norvale.worker.process import ProgramTimeout
from norvale.worker.result import WorkerFailure, WorkerResult

log = logging.getLogger("norvale.worker")


class LocalWorker:
    """Runs each job in a fresh temporary directory through the adapter of its integration.

    The directory is removed when the job ends; result files move to a result directory that
    lives as long as the `WorkerResult` that refers to them.
    """

    def __init__(self, config: Optional[WorkerConfig] = None) -> None:
        self.config = config if config is not None else WorkerConfig()

    def run(self, job_path: str, *, timeout: float) -> WorkerResult:
        deadline = time.monotonic() + timeout
        root = self.config.work_root
        job_dir = tempfile.mkdtemp(prefix="norvale-run-", dir=root)
        result_dir = tempfile.mkdtemp(prefix="norvale-result-", dir=root)
        keep_results = False
        try:
            try:
                job = read_job(job_path, job_dir)
            except JobFileError as exc:
                raise WorkerFailure(f"Invalid job: {exc}") from None
            integration = job["integration"]
            adapter = adapter_for(job.get("kind", "program"), integration)
            context = JobContext(integration=integration, version=job.get("version"), content=job["content"],
                                 work_dir=job_dir, result_dir=result_dir, config=self.config,
                                 deadline=deadline, timeout=timeout)
            log.info("running %s job in %s (time-out %.0f s)", integration, job_dir, timeout)
            started = time.monotonic()
            try:
                content = adapter(context)
            except ProgramTimeout:
                raise WorkerFailure(
                    f"The {integration} job did not finish within {timeout:g} seconds and was stopped"
                ) from None
            log.info("%s job finished in %.1f s", integration, time.monotonic() - started)
            result = WorkerResult(content, result_dir)
            for body in context.bodies:
                body._owner = result
            keep_results = True
            return result
        finally:
            shutil.rmtree(job_dir, ignore_errors=True)
            if not keep_results:
                shutil.rmtree(result_dir, ignore_errors=True)
