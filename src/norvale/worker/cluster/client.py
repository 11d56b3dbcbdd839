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
from dataclasses import dataclass
from typing import Any, Callable, Optional, TypeVar

from norvale.worker.batch import check_callback, progress_callback
from norvale.worker.cluster import advice, checks, routing, settings
from norvale.worker.cluster.node import lost_message
from norvale.worker.cluster.store import FileStore, decode_content
from norvale.worker.local import timeout_message
from norvale.worker.protocol import ResultBody, WorkerFailure, WorkerResult

log = logging.getLogger("norvale.worker")

SLICE = 0.25          # the client waits in slices this long
PROGRESS_EVERY = 2.0  # and reports progress at least this often
CANCEL_WAIT = 1.5     # after cancelling, how long it waits for the worker to confirm
QUEUE_CHECK_AFTER = 1.0  # a job queued this long has its queue's consumers counted (every report)
EVENTS_LIMIT = 200    # task-sent events waiting for their batch (settings.EVENTS_EVERY) go at once past this many


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
    workers: Optional[int] = None  # nodes serving the queue (queued jobs, where the broker tells)

    def describe(self) -> str:
        if self.state == "queued":
            if self.workers == 0:
                return f"{self.integration} job {self.job_id[:8]}: queued, no worker serves {self.integration} jobs"
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


T = TypeVar("T")

# The end of a job for its client: marked ended (a late delivery of it is dropped), its keys
# removed, its entry among those the nodes' clean-up looks at removed. KEYS: ended, the ended
# jobs' set, then the job's other keys.
_END = """
redis.call('SET', KEYS[1], '1', 'EX', ARGV[1])
redis.call('DEL', unpack(KEYS, 3))
redis.call('ZREM', KEYS[2], ARGV[2])
return 1
"""


class _Interrupted(Exception):
    pass


class _TimedOut(Exception):
    pass


def _new_job_id() -> str:
    return uuid.uuid4().hex


def _job_header(job_path: str) -> dict[str, Any]:
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


def no_worker_message(integration: str) -> str:
    return f"no worker serves {integration} jobs"


class _Service:
    """One server the client waits on, with the back-off of calls that fail while it is down."""

    def __init__(self, name: str, url: str, errors: tuple[type[BaseException], ...]) -> None:
        self.name, self.url, self.errors = name, url, errors

    def call(self, fn: Callable[[], T], deadline: float) -> T:
        """`fn()`, called again with back-off while the server is unreachable.

        Gives up with `ServiceDown` once it has been unreachable for OUTAGE_LIMIT seconds, or at
        `deadline` (the job's time-out) if it is still unreachable then.
        """
        down_since: Optional[float] = None
        delay = 0.2
        while True:
            try:
                return fn()
            except self.errors as exc:
                if _refused(exc):
                    raise settings.ServiceDown(self.name, self.url, f"it refused the credentials ({exc})") from None
                now = time.monotonic()
                if down_since is None:
                    down_since = now
                    log.warning("%s is unreachable (%s): trying again", self.name, type(exc).__name__)
                if now - down_since >= settings.OUTAGE_LIMIT or now >= deadline:
                    raise settings.ServiceDown(self.name, self.url, exc) from None
                time.sleep(max(0.0, min(delay, deadline - now, settings.OUTAGE_LIMIT - (now - down_since))))
                delay = min(delay * 2, 5.0)


def _refused(exc: BaseException) -> bool:
    import redis

    text = str(exc)
    return isinstance(exc, redis.AuthenticationError) or "ACCESS_REFUSED" in text or "NOT_ALLOWED" in text


class ClusterWorker:
    """Runs jobs on the workers of a cluster; `run(job_path, *, timeout)` like the embedded worker."""

    def __init__(self, broker: str, *, results: str, store: str, store_options: Optional[dict[str, Any]] = None,
                 broker_options: Optional[dict[str, Any]] = None,
                 on_progress: Optional[Callable[[Progress], object]] = None, prefix: str = settings.DEFAULT_PREFIX,
                 max_attempts: int = settings.DEFAULT_MAX_ATTEMPTS, result_root: Optional[str] = None,
                 no_worker_timeout: Optional[float] = None) -> None:
        if isinstance(max_attempts, bool) or not isinstance(max_attempts, int) or max_attempts < 1:
            raise ValueError(f"max_attempts must be a whole number of at least 1, not {max_attempts!r}")
        if no_worker_timeout is not None and (isinstance(no_worker_timeout, bool)
                                              or not isinstance(no_worker_timeout, (int, float))
                                              or not no_worker_timeout >= 0):
            raise ValueError(f"no_worker_timeout must be a number of seconds (or None: wait), not {no_worker_timeout!r}")
        self.prefix = settings.check_prefix(prefix)
        self.max_attempts = max_attempts
        self.no_worker_timeout = no_worker_timeout
        self.on_progress = check_callback(on_progress)
        self.result_root = result_root
        # what the application gave is checked now, not at its first job
        checks.check_cluster(broker, results, store, store_options=store_options,
                             broker_transport_options=broker_options, result_root=result_root)
        self.app = settings.make_app(broker, results, broker_options=broker_options)
        # the "task-sent" event goes by a connection without publisher confirms (Celery would
        # send it on the job's own, confirmed, channel: a second wait for the broker per job)
        self.app.conf.task_send_sent_event = False
        self._events: Any = None
        self._events_lock = threading.Lock()
        self._events_due = False  # a send of the waiting events is planned
        self.redis = settings.redis_client(results)
        self._end_script = self.redis.register_script(_END)
        self.store = FileStore(store, store_options)
        self._cancelled = 0  # raised by cancel(); runs begun before a raise stop
        self._broker_text = settings.mask_url(broker)
        errors = settings.outage_errors()
        self._results = _Service("result store", results, errors)
        self._broker = _Service("broker", broker, errors)
        self._files = _Service("file store", store, (OSError, ConnectionError, TimeoutError))

    def __repr__(self) -> str:
        return f"<ClusterWorker broker={self._broker_text} store={settings.mask_url(self.store.url)}>"

    def cancel(self) -> None:
        """Cancels every job this worker runs now (from any thread); their `run` calls raise."""
        self._cancelled += 1

    # -- one job ------------------------------------------------------------------------------
    def run(self, job_path: str, *, timeout: float,
            on_progress: Optional[Callable[[Progress], object]] = None) -> WorkerResult:
        deadline = time.monotonic() + timeout
        header = _job_header(job_path)
        integration = header["integration"]
        try:
            settings.check_integration(integration)
        except ValueError:
            raise WorkerFailure(f"This worker does not run {integration!r} jobs") from None
        callback = check_callback(on_progress) or progress_callback() or self.on_progress
        generation = self._cancelled
        job_id = _new_job_id()
        keys = settings.Keys(self.prefix, job_id)
        queue = routing.job_queue(self.prefix, integration, header.get("script_key"))
        submitted = False
        try:
            self._files.call(lambda: self.store.put(job_path, self.store.job_file(job_id)), deadline)
            budget = max(0.1, deadline - time.monotonic())
            kwargs = {"job_id": job_id, "integration": integration, "timeout": float(timeout), "budget": budget,
                      "max_attempts": self.max_attempts}
            # the monitoring view of the arguments, given (Celery's own is a costly safe repr)
            shown = repr(kwargs)
            self._broker.call(lambda: self.app.send_task(settings.TASK_NAME, task_id=job_id, queue=queue,
                                                         routing_key=queue, kwargs=kwargs, argsrepr="()",
                                                         kwargsrepr=shown), deadline)
            submitted = True
            self._sent_event(job_id, queue, shown)
            outcome = self._wait(job_id, integration, queue, keys, deadline, timeout, callback, generation)
            return self._result(job_id, integration, outcome, deadline)
        except _TimedOut as ended:
            self._cancel(keys)
            raise WorkerFailure(str(ended)) from None
        except _Interrupted:
            self._cancel(keys)
            raise WorkerFailure(f"The {integration} job was cancelled") from None
        except settings.ServiceDown as down:
            if submitted and down.service != "result store":  # the flag would not get through
                self._cancel(keys)
            raise WorkerFailure(f"The {integration} job could not run: {down}") from None
        except BaseException:
            # every way out (Ctrl+C, SystemExit, a callback that raised, a time-out) stops the program
            if submitted:
                self._cancel(keys)
            raise
        finally:
            self._cleanup(job_id, keys)

    def _sent_event(self, job_id: str, queue: str, shown: str) -> None:
        """Celery's "task-sent" event of a job (what `celery events` and Flower show it queued by).

        The events of the jobs sent within settings.EVENTS_EVERY s go to the broker together, as Celery's
        own batch of events ("task.multi"), by a thread of their own."""
        with self._events_lock:
            try:
                if self._events is None:
                    conn = self.app.connection_for_write(transport_options={"confirm_publish": False})
                    conn.ensure_connection(max_retries=1, timeout=2.0)
                    self._events = self.app.events.Dispatcher(conn, buffer_while_offline=False, buffer_group=["task"],
                                                              buffer_limit=EVENTS_LIMIT)
                self._events.send("task-sent", uuid=job_id, root_id=job_id, parent_id=None, name=settings.TASK_NAME,
                                  args="()", kwargs=shown, retries=0, eta=None, expires=None, queue=queue,
                                  exchange=queue, routing_key=queue)
            except Exception as exc:  # noqa: BLE001  (monitoring only: the job goes on; the next one reconnects)
                log.debug("the task-sent event of job %s could not be sent: %s", job_id[:8], exc)
                self._drop_events()
                return
            if not self._events_due:
                sender = threading.Timer(settings.EVENTS_EVERY, self._send_events)
                sender.daemon = True
                try:
                    sender.start()
                    self._events_due = True
                except RuntimeError as exc:  # no thread to be had now: the next job's event tries again
                    log.debug("task-sent events wait: %s", exc)

    def _send_events(self) -> None:
        with self._events_lock:
            self._events_due = False
            try:
                if self._events is not None:
                    self._events.flush(errors=False)
            except Exception as exc:  # noqa: BLE001  (monitoring only: these events are dropped)
                log.debug("task-sent events could not be sent: %s", exc)
                self._drop_events()

    def _drop_events(self) -> None:
        events, self._events = self._events, None
        if events is not None:
            try:
                events.connection.close()
            except Exception:  # noqa: BLE001
                pass

    def _wait(self, job_id: str, integration: str, queue: str, keys: settings.Keys, deadline: float,
              timeout: float, callback: Optional[Callable[[Progress], object]], generation: int) -> dict[str, Any]:
        last_report, last_state = 0.0, ""
        # the first sign of life after CLIENT_EVERY s: a node gives up on a job only after 15 s
        # without one, so a short job needs none
        last_sign = time.monotonic()
        queued_since = time.monotonic()
        no_worker_since: Optional[float] = None
        served: Optional[bool] = None  # what the broker last said: does a node consume the queue?
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                message = timeout_message(integration, timeout)
                if served is False and last_state == "queued":
                    message += f": {no_worker_message(integration)}"
                raise _TimedOut(message)
            if self._cancelled != generation:
                raise _Interrupted()
            now = time.monotonic()
            sign = now - last_sign >= settings.CLIENT_EVERY
            item = self._results.call(lambda: self._look(keys, min(SLICE, left), sign), deadline)
            if sign:
                last_sign = now
            if item is not None:
                outcome: dict[str, Any] = json.loads(item[1])
                return outcome
            now = time.monotonic()
            raw = self._results.call(lambda: self.redis.get(keys.progress), deadline)
            report: dict[str, Any] = json.loads(raw) if raw else {"state": "queued"}
            state = str(report.get("state"))
            if state != "queued":
                queued_since, no_worker_since, served = now, None, None
            if state != last_state or now - last_report >= PROGRESS_EVERY:
                last_report, last_state = now, state
                waiting = workers = None
                if state == "queued" and now - queued_since >= QUEUE_CHECK_AFTER:
                    waiting, workers = self._queue_state(queue)
                    if workers is not None:
                        served = workers > 0
                        no_worker_since = None if served else (no_worker_since or now)
                progress = Progress(job_id=job_id, integration=integration, state=state,
                                    worker=report.get("worker"), elapsed=float(report.get("elapsed", 0.0)),
                                    last_line=str(report.get("last_line", "")), attempt=int(report.get("attempt", 0)),
                                    waiting=waiting, workers=workers)
                log.info("%s", progress.describe())
                if callback is not None:
                    callback(progress)
                if (no_worker_since is not None and self.no_worker_timeout is not None
                        and now - no_worker_since >= self.no_worker_timeout):
                    raise _TimedOut(f"The {integration} job was not started: {no_worker_message(integration)} "
                                    f"(the queue {queue} has no consumer)")

    def _look(self, keys: settings.Keys, wait: float, sign: bool) -> Any:
        """Waits up to `wait` s for the job's end; with `sign`, renews the client's sign of life in
        the same round trip first."""
        if not sign:
            return self.redis.blpop([keys.done], timeout=wait)
        pipe = self.redis.pipeline(transaction=False)
        pipe.set(keys.client, "1", ex=settings.CLIENT_TTL)
        pipe.blpop([keys.done], timeout=wait)
        return pipe.execute()[1]

    def _queue_state(self, queue: str) -> tuple[Optional[int], Optional[int]]:
        """Jobs waiting in `queue` and the nodes consuming it, as the broker tells now (None, None: it cannot)."""
        try:
            with self.app.pool.acquire(block=True, timeout=1.0) as conn:
                conn.ensure_connection(max_retries=1, timeout=1.0)
                ok = conn.default_channel.queue_declare(queue=queue, passive=True)
                return int(ok.message_count), int(ok.consumer_count)
        except Exception:  # the broker cannot tell now (queue not declared yet, connection lost)
            return None, None

    def _result(self, job_id: str, integration: str, outcome: dict[str, Any], deadline: float) -> WorkerResult:
        status = outcome.get("status")
        exit_status = outcome.get("exit_status")
        output = str(outcome.get("output") or "")
        if status == "failure":
            failure = advice.reported_failure(outcome)
            failure.exit_status, failure.output = exit_status, output
            raise failure
        if status != "ok":
            raise WorkerFailure(f"The {integration} job was cancelled")
        directory = tempfile.mkdtemp(prefix="norvale-result-", dir=self.result_root)
        try:
            def download(ref: Any) -> str:
                remote = self.store.result_path(job_id, ref)  # checks the reference
                local = os.path.join(directory, ref)
                self._files.call(lambda: self.store.get(remote, local, link=True), deadline + 5.0)
                return local

            content = decode_content(outcome.get("content") or {}, download)
        except ValueError as exc:
            shutil.rmtree(directory, ignore_errors=True)
            raise WorkerFailure(f"The worker returned an invalid result: {exc}") from None
        except BaseException:
            shutil.rmtree(directory, ignore_errors=True)
            raise
        result = WorkerResult(content, directory, exit_status=exit_status, output=output)
        _own_bodies(content, result)
        return result

    def _cancel(self, keys: settings.Keys) -> None:
        """Raises the job's cancel flag and waits briefly for its worker to confirm the program is dead."""
        try:
            self.redis.set(keys.cancel, "1", ex=settings.KEY_TTL)
            limit = time.monotonic() + CANCEL_WAIT
            while time.monotonic() < limit:
                # no run holds the lease (none, or one that handed the job back freed it)
                if (self.redis.get(keys.lease) in (None, b"free")
                        or self.redis.blpop([keys.done], timeout=0.1) is not None):
                    break
        except Exception as exc:  # never hide the time-out or the interrupt behind this
            log.warning("could not cancel the job: %s", type(exc).__name__)

    def _cleanup(self, job_id: str, keys: settings.Keys) -> None:
        """The job has ended for this client: its store objects and keys go, a late delivery is dropped."""
        try:
            self._end_script(keys=[keys.ended, settings.orphans_key(self.prefix), *keys.transient()],
                             args=[settings.ENDED_TTL, job_id])
        except Exception as exc:
            log.warning("could not remove the keys of job %s: %s (they expire)", job_id[:8], type(exc).__name__)
        try:
            self.store.remove_job(job_id)
        except Exception as exc:
            log.warning("could not remove the store objects of job %s: %s", job_id[:8], type(exc).__name__)


def _own_bodies(content: Any, owner: WorkerResult) -> None:
    if isinstance(content, ResultBody):
        content._owner = owner
    elif isinstance(content, dict):
        for v in content.values():
            _own_bodies(v, owner)
    elif isinstance(content, list):
        for v in content:
            _own_bodies(v, owner)


__all__ = ["ClusterWorker", "Progress", "lost_message", "no_worker_message"]
