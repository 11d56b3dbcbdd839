"""The client side of a cluster: a worker object that hands jobs to the workers through the broker."""

from __future__ import annotations

import json
import logging
import os
import shutil
import tempfile
import threading
import time
import uuid
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass
from typing import Any, Callable, Iterable, Optional

from norvale.worker.cluster import advice, checks, routing, settings
from norvale.worker.cluster.node import lost_message, timeout_message
from norvale.worker.cluster.store import FileStore, decode_content
from norvale.worker.result import WorkerFailure, WorkerResult

log = logging.getLogger("norvale.worker")

SLICE = 0.25          # the client waits in slices this long
PROGRESS_EVERY = 2.0  # and reports progress at least this often
CANCEL_WAIT = 1.5     # after cancelling, how long it waits for the worker to confirm


@dataclass(frozen=True)
class Progress:
    """One progress report of a job: state is "queued", "started" or "running"."""

    job_id: str
    integration: str
    state: str
    worker: Optional[str] = None
    elapsed: float = 0.0
    last_line: str = ""
    attempt: int = 0
    waiting: Optional[int] = None  # jobs waiting in the queue (queued jobs, where the broker tells)

    def describe(self) -> str:
        if self.state == "queued":
            ahead = f", {self.waiting} job(s) waiting in the queue" if self.waiting is not None else ""
            return f"{self.integration} job {self.job_id[:8]}: queued{ahead}"
        text = f"{self.integration} job {self.job_id[:8]}: "
        text += f"started on {self.worker}" if self.state == "started" else \
            f"running on {self.worker} for {self.elapsed:.0f} s"
        if self.attempt > 1:
            text += f" (attempt {self.attempt})"
        if self.last_line:
            text += f": {self.last_line}"
        return text


class _Interrupted(Exception):
    pass


def _new_job_id() -> str:
    return uuid.uuid4().hex


def _job_header(job_path: str) -> dict:
    """The header members of a job file (integration, kind), read from its first bytes."""
    with open(job_path, encoding="utf-8") as f:
        head = f.read(1 << 16)
    cut = head.find(', "content":')
    try:
        header = json.loads(head[:cut] + "}") if cut > 0 else None
    except ValueError:
        header = None
    if not isinstance(header, dict) or not isinstance(header.get("integration"), str):
        raise WorkerFailure("Invalid job: the job file names no integration")
    if header.get("kind") == "script":
        header["script_key"] = routing.script_key_of(head)  # it decides the queue
    return header


class ClusterWorker:
    """Runs jobs on the workers of a cluster; `run(job_path, *, timeout)` like the embedded worker."""

    def __init__(self, broker: str, *, results: str, store: str, store_options: Optional[dict] = None,
                 broker_options: Optional[dict] = None, on_progress: Optional[Callable[[Progress], Any]] = None,
                 prefix: str = settings.DEFAULT_PREFIX, max_attempts: int = settings.DEFAULT_MAX_ATTEMPTS,
                 result_root: Optional[str] = None) -> None:
        import redis

        if isinstance(max_attempts, bool) or not isinstance(max_attempts, int) or max_attempts < 1:
            raise ValueError(f"max_attempts must be a whole number of at least 1, not {max_attempts!r}")
        self.prefix = settings.check_prefix(prefix)
        self.max_attempts = max_attempts
        self.on_progress = on_progress
        self.result_root = result_root
        # what the application gave is checked now, not at its first job
        checks.check_cluster(broker, results, store, store_options=store_options,
                             broker_transport_options=broker_options, result_root=result_root)
        self.app = settings.make_app(broker, results, broker_options=broker_options)
        self.redis = redis.Redis.from_url(results)
        self.store = FileStore(store, store_options)
        self._local = threading.local()
        self._interrupt = threading.Event()
        self._broker_text = settings.mask_url(broker)

    def __repr__(self) -> str:
        return f"<ClusterWorker broker={self._broker_text} store={settings.mask_url(self.store.url)}>"

    # -- one job ------------------------------------------------------------------------------
    def run(self, job_path: str, *, timeout: float, on_progress: Optional[Callable] = None) -> WorkerResult:
        deadline = time.monotonic() + timeout
        header = _job_header(job_path)
        integration = header["integration"]
        try:
            settings.check_integration(integration)
        except ValueError:
            raise WorkerFailure(f"This worker does not run {integration!r} jobs") from None
        callback = on_progress or getattr(self._local, "on_progress", None) or self.on_progress
        job_id = _new_job_id()
        keys = settings.Keys(self.prefix, job_id)
        queue = routing.job_queue(self.prefix, integration, header.get("script_key"))
        submitted = False
        try:
            self.store.put(job_path, self.store.job_file(job_id))
            budget = max(0.1, deadline - time.monotonic())
            self.app.send_task(settings.TASK_NAME, task_id=job_id, queue=queue, routing_key=queue,
                               kwargs={"job_id": job_id, "integration": integration, "timeout": float(timeout),
                                       "budget": budget, "max_attempts": self.max_attempts})
            submitted = True
            outcome = self._wait(job_id, integration, queue, keys, deadline, callback)
            if outcome is None:
                self._cancel(keys)
                raise WorkerFailure(timeout_message(integration, timeout))
            return self._result(job_id, integration, outcome)
        except (KeyboardInterrupt, _Interrupted):
            if submitted:
                self._cancel(keys)
            raise
        finally:
            self._cleanup(job_id, keys)

    def _wait(self, job_id, integration, queue, keys, deadline, callback) -> Optional[dict]:
        last_report, last_state = 0.0, None
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            if self._interrupt.is_set():
                raise _Interrupted()
            item = self.redis.blpop([keys.done], timeout=min(SLICE, left))
            if item is not None:
                return json.loads(item[1])
            now = time.monotonic()
            raw = self.redis.get(keys.progress)
            report = json.loads(raw) if raw else {"state": "queued"}
            if report["state"] != last_state or now - last_report >= PROGRESS_EVERY:
                last_report, last_state = now, report["state"]
                progress = Progress(job_id=job_id, integration=integration, state=report["state"],
                                    worker=report.get("worker"), elapsed=report.get("elapsed", 0.0),
                                    last_line=report.get("last_line", ""), attempt=report.get("attempt", 0),
                                    waiting=self._waiting(queue) if report["state"] == "queued" else None)
                log.info("%s", progress.describe())
                if callback is not None:
                    callback(progress)

    def _waiting(self, queue: str) -> Optional[int]:
        try:
            with self.app.pool.acquire(block=True, timeout=1.0) as conn:
                return conn.default_channel.queue_declare(queue=queue, passive=True).message_count
        except Exception:  # the broker cannot tell now (queue not declared yet, connection lost)
            return None

    def _result(self, job_id: str, integration: str, outcome: dict) -> WorkerResult:
        status = outcome.get("status")
        if status == "failure":
            raise advice.reported_failure(outcome)
        if status != "ok":
            raise WorkerFailure(f"The {integration} job was cancelled")
        directory = tempfile.mkdtemp(prefix="norvale-result-", dir=self.result_root)
        try:
            def download(ref):
                remote = self.store.result_path(job_id, ref)  # checks the reference
                local = os.path.join(directory, ref)
                self.store.get(remote, local)
                return local

            content = decode_content(outcome.get("content") or {}, download)
        except ValueError as exc:
            shutil.rmtree(directory, ignore_errors=True)
            raise WorkerFailure(f"The worker returned an invalid result: {exc}") from None
        except BaseException:
            shutil.rmtree(directory, ignore_errors=True)
            raise
        result = WorkerResult(content, directory)
        _own_bodies(content, result)
        return result

    def _cancel(self, keys) -> None:
        """Raises the job's cancel flag and waits briefly for its worker to confirm the program is dead."""
        try:
            self.redis.set(keys.cancel, "1", ex=settings.KEY_TTL)
            limit = time.monotonic() + CANCEL_WAIT
            while time.monotonic() < limit:
                if self.redis.blpop([keys.done], timeout=0.1) is not None or not self.redis.exists(keys.progress):
                    break
        except Exception as exc:  # never hide the time-out or the interrupt behind this
            log.warning("could not cancel the job: %s", type(exc).__name__)

    def _cleanup(self, job_id: str, keys) -> None:
        try:
            self.store.remove_job(job_id)
        except Exception as exc:
            log.warning("could not remove the store objects of job %s: %s", job_id[:8], type(exc).__name__)
        try:
            self.redis.delete(keys.done, keys.progress, keys.attempts)
        except Exception:
            pass

    # -- many jobs ----------------------------------------------------------------------------
    def run_all(self, jobs: Iterable, *, timeout: float, max_parallel: int = 8,
                on_progress: Optional[Callable] = None) -> list:
        """Executes every job concurrently (at most `max_parallel` at once); see norvale.worker.run_all."""
        return run_all(jobs, timeout=timeout, max_parallel=max_parallel, on_progress=on_progress, worker=self)


def _own_bodies(content: Any, owner: WorkerResult) -> None:
    from norvale.external.external_program import ResultBody

    if isinstance(content, ResultBody):
        content._owner = owner
    elif isinstance(content, dict):
        for v in content.values():
            _own_bodies(v, owner)
    elif isinstance(content, list):
        for v in content:
            _own_bodies(v, owner)


def run_all(jobs: Iterable, *, timeout: float, max_parallel: int = 8, on_progress: Optional[Callable] = None,
            worker=None) -> list:
    """Executes every job (`job.execute(timeout)`) concurrently, at most `max_parallel` at once.

    Returns one entry per job, in order: None when it succeeded, else the exception it raised
    (`ExecutionError`, ...). Ctrl+C cancels every running and waiting job, then raises
    KeyboardInterrupt.
    """
    from norvale import worker as _worker

    if isinstance(max_parallel, bool) or not isinstance(max_parallel, int) or max_parallel < 1:
        raise ValueError(f"max_parallel must be a whole number of at least 1, not {max_parallel!r}")
    jobs = list(jobs)
    target = worker if worker is not None else _worker.get_worker()
    cluster = target if isinstance(target, ClusterWorker) else None

    def one(job):
        if cluster is not None:
            cluster._local.on_progress = on_progress
        try:
            job.execute(timeout)
            return None
        except Exception as exc:
            return exc

    if cluster is not None:
        cluster._interrupt.clear()
    pool = ThreadPoolExecutor(max_workers=max_parallel, thread_name_prefix="norvale-run")
    futures = [pool.submit(one, job) for job in jobs]
    try:
        return [f.result() for f in futures]
    except KeyboardInterrupt:
        for f in futures:
            f.cancel()
        if cluster is not None:
            cluster._interrupt.set()
        raise
    finally:
        pool.shutdown(wait=True)
        if cluster is not None:
            cluster._interrupt.clear()


__all__ = ["ClusterWorker", "Progress", "lost_message", "run_all"]
