"""The embedded worker: runs jobs on this machine."""

from __future__ import annotations

import logging
import os
import shutil
import tempfile
import time
from typing import Optional

from norvale.worker.adapters import JobContext, adapter_for
from norvale.worker.config import WorkerConfig
from norvale.worker.jobfile import JobFileError, read_job
from norvale.worker.process import ProgramTimeout
from norvale.worker.protocol import JOB_DIR_PREFIX, WorkerFailure, WorkerResult

log = logging.getLogger("norvale.worker")


class LocalWorker:
    """Runs each job in a fresh temporary directory through the adapter of its integration.

    The directory is removed when the job ends; result files move to a result directory that
    lives as long as the `WorkerResult` that refers to them. `config` is a `WorkerConfig` (for
    instance `WorkerConfig.from_file(path)`); a default one when None.
    """

    def __init__(self, config: Optional[WorkerConfig] = None) -> None:
        if config is not None and not isinstance(config, WorkerConfig):
            raise TypeError(f"config must be a WorkerConfig, not {type(config).__name__}")
        self.config = config if config is not None else WorkerConfig()

    def _make_dir(self, prefix: str) -> str:
        root = self.config.work_root
        try:
            return tempfile.mkdtemp(prefix=prefix, dir=root)
        except OSError as exc:
            where = repr(root) if root else "the system's temporary directory"
            problem = "does not exist" if isinstance(exc, FileNotFoundError) else f"cannot be used ({exc.strerror or exc})"
            raise WorkerFailure(
                f"The worker's work root {where} {problem}: create it, or configure another with "
                f"norvale.worker.configure(work_root=<directory>)"
            ) from None

    def run(self, job_path: str, *, timeout: float) -> WorkerResult:
        deadline = time.monotonic() + timeout
        job_dir = self._make_dir("norvale-run-")
        try:
            result_dir = self._make_dir("norvale-result-")
        except BaseException:
            shutil.rmtree(job_dir, ignore_errors=True)
            raise
        cleanup = [job_dir, result_dir]
        job_parent = os.path.dirname(os.path.abspath(job_path))
        if os.path.basename(job_parent).startswith(JOB_DIR_PREFIX):
            cleanup.append(job_parent)  # the kit's own temporary directory of this job
        keep_results = False
        context: Optional[JobContext] = None
        try:
            try:
                job = read_job(job_path, job_dir)
            except JobFileError as exc:
                raise WorkerFailure(f"Invalid job: {exc}") from None
            except FileNotFoundError:
                raise WorkerFailure(f"Invalid job: there is no job file {job_path!r}") from None
            integration = job["integration"]
            adapter = adapter_for(job.get("kind", "program"), integration)
            context = JobContext(integration=integration, version=job.get("version"), content=job["content"],
                                 work_dir=job_dir, result_dir=result_dir, config=self.config,
                                 deadline=deadline, timeout=timeout, cleanup=cleanup)
            log.info("running %s job in %s (time-out %.0f s)", integration, job_dir, timeout)
            started = time.monotonic()
            try:
                content = adapter(context)
            except ProgramTimeout:
                raise WorkerFailure(
                    f"The {integration} job did not finish within {timeout:g} seconds and was stopped"
                ) from None
            log.info("%s job finished in %.1f s", integration, time.monotonic() - started)
            run = context.last_run
            result = WorkerResult(content, result_dir, exit_status=run.returncode if run else None,
                                  output=run.output() if run else "")
            for body in context.bodies:
                body._owner = result
            keep_results = True
            return result
        except WorkerFailure as failure:
            run = context.last_run if context is not None else None
            if run is not None:
                if failure.exit_status is None:
                    failure.exit_status = run.returncode
                if not failure.output:
                    failure.output = run.output()
            raise
        finally:
            shutil.rmtree(job_dir, ignore_errors=True)
            if not keep_results:
                shutil.rmtree(result_dir, ignore_errors=True)
