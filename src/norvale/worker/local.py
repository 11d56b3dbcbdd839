"""The embedded worker: runs jobs on this machine.

`execute_job` is the one road from a job file to a result: the embedded worker calls it in the
application, a cluster node calls it on a licensed machine.
"""

from __future__ import annotations

import logging
import os
import shutil
import tempfile
import threading
import time
from typing import Callable, Optional, Sequence

from norvale.worker.adapters import JobContext, adapter_for
from norvale.worker.config import WorkerConfig
from norvale.worker.jobfile import JobFileError, read_job
from norvale.worker.process import ProgramTimeout
from norvale.worker.protocol import JOB_DIR_PREFIX, WorkerFailure, WorkerResult

log = logging.getLogger("norvale.worker")

#: `watch(stdout_path, stderr_path)`: called about ten times a second while a job's program runs;
#: whatever it raises stops the program and leaves `execute_job`.
Watch = Callable[[str, str], None]


class JobCancelled(Exception):
    """The job was cancelled while its program ran; the program was stopped."""


def timeout_message(integration: str, timeout: float) -> str:
    return f"The {integration} job did not finish within {timeout:g} seconds and was stopped"


def make_dir(config: WorkerConfig, prefix: str) -> str:
    """A fresh directory in the worker's work root; a failure that says how to fix the root otherwise."""
    root = config.work_root
    try:
        return tempfile.mkdtemp(prefix=prefix, dir=root)
    except OSError as exc:
        where = repr(root) if root else "the system's temporary directory"
        problem = "does not exist" if isinstance(exc, FileNotFoundError) else f"cannot be used ({exc.strerror or exc})"
        raise WorkerFailure(
            f"The worker's work root {where} {problem}: create it, or configure another with "
            f"norvale.worker.configure(work_root=<directory>)"
        ) from None


def execute_job(job_path: str, *, config: WorkerConfig, timeout: float, deadline: Optional[float] = None,
                watch: Optional[Watch] = None, integration: Optional[str] = None,
                cleanup: Sequence[str] = (), dir_tag: str = "") -> WorkerResult:
    """Runs the job file at `job_path` through the adapter of its integration and returns its result.

    The job runs in a fresh directory of `config.work_root`, removed when it ends; the result files
    stay in a result directory that lives as long as the returned `WorkerResult`. `timeout` is the
    job's own time-out (for its message), `deadline` (a `time.monotonic()` value, default: now plus
    `timeout`) when its program is stopped. `integration`: the one the caller serves; a job of
    another is refused. `cleanup`: more directories (or files) the job supervisor removes if this
    process goes away mid-run; a job file whose name, or whose directory's name, starts with
    "norvale-job-" is one of them too. `dir_tag`: what the job's directory names carry after "norvale-run-" and
    "norvale-result-". Raises `WorkerFailure`, or whatever `watch` raised.
    """
    if deadline is None:
        deadline = time.monotonic() + timeout
    job_dir = make_dir(config, f"norvale-run-{dir_tag}")
    try:
        result_dir = make_dir(config, f"norvale-result-{dir_tag}")
    except BaseException:
        shutil.rmtree(job_dir, ignore_errors=True)
        raise
    dirs = [job_dir, result_dir, *cleanup]
    # the kit's temporary job file, or the temporary directory that holds it (a node's download)
    job_file = os.path.abspath(job_path)
    for temporary in (job_file, os.path.dirname(job_file)):
        if os.path.basename(temporary).startswith(JOB_DIR_PREFIX):
            if temporary not in dirs:
                dirs.append(temporary)
            break
    keep_results = False
    context: Optional[JobContext] = None
    try:
        try:
            job = read_job(job_path, job_dir)
        except JobFileError as exc:
            raise WorkerFailure(f"Invalid job: {exc}") from None
        except FileNotFoundError:
            raise WorkerFailure(f"Invalid job: there is no job file {job_path!r}") from None
        name = job["integration"]
        if integration is not None and name != integration:
            raise WorkerFailure("Invalid job: its integration does not match its queue")
        adapter = adapter_for(job.get("kind", "program"), name)
        context = JobContext(integration=name, version=job.get("version"), content=job["content"],
                             work_dir=job_dir, result_dir=result_dir, config=config, deadline=deadline,
                             timeout=timeout, cleanup=dirs, watch=watch)
        try:
            content = adapter(context)
        except ProgramTimeout:
            raise WorkerFailure(timeout_message(name, timeout)) from None
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
        self._cancelled = 0  # raised by cancel(); a run started before a raise is stopped
        self._lock = threading.Lock()

    def cancel(self) -> None:
        """Stops the programs of every job this worker runs now; their runs raise `WorkerFailure`."""
        with self._lock:
            self._cancelled += 1

    def run(self, job_path: str, *, timeout: float) -> WorkerResult:
        generation = self._cancelled

        def watch(stdout_path: str, stderr_path: str) -> None:
            if self._cancelled != generation:
                raise JobCancelled()

        started = time.monotonic()
        try:
            result = execute_job(job_path, config=self.config, timeout=timeout, watch=watch)
        except JobCancelled:
            raise WorkerFailure("The job was cancelled") from None
        log.info("job finished in %.1f s", time.monotonic() - started)
        return result
