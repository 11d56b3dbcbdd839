"""What the client and the workers of a cluster agree on: names, keys, the Celery settings."""

from __future__ import annotations

import re
import urllib.parse
from typing import Any, Optional

TASK_NAME = "norvale.run_job"
DEFAULT_PREFIX = "norvale"
DEFAULT_MAX_ATTEMPTS = 3

_NAME = re.compile(r"^[a-z][a-z0-9_]{0,63}$")
_JOB_ID = re.compile(r"^[0-9a-f]{32}$")
_PREFIX = re.compile(r"^[A-Za-z][A-Za-z0-9_\-]{0,63}$")


def check_integration(name: object) -> str:
    if not isinstance(name, str) or not _NAME.match(name):
        raise ValueError(f"invalid integration name {name!r}")
    return name


def check_job_id(job_id: object) -> str:
    """A job id is 32 lower-case hex digits; nothing else reaches the file store."""
    if not isinstance(job_id, str) or not _JOB_ID.match(job_id):
        raise ValueError(f"invalid job id {job_id!r}")
    return job_id


def check_prefix(prefix: object) -> str:
    if not isinstance(prefix, str) or not _PREFIX.match(prefix):
        raise ValueError(f"invalid cluster prefix {prefix!r}: letters, digits, '_' and '-' only")
    return prefix


def queue_name(prefix: str, integration: str) -> str:
    return f"{prefix}.{integration}"


class Keys:
    """Redis keys of one job.

    progress: the running node's last report; cancel: the client's cancel flag; attempts: runs
    begun; done: the end notice the client waits for; lease: the one run allowed now ("<fence>
    <worker> <pid>"), renewed by its node; fence: the counter that numbers the runs; client: the
    waiting client's sign of life; ended: set once the job has ended for good, so a late
    delivery of it is dropped.
    """

    def __init__(self, prefix: str, job_id: str) -> None:
        base = f"{prefix}:job:{job_id}"
        self.job_id = job_id
        self.progress = base + ":progress"
        self.cancel = base + ":cancel"
        self.attempts = base + ":attempts"
        self.done = base + ":done"
        self.lease = base + ":lease"
        self.fence = base + ":fence"
        self.client = base + ":client"
        self.ended = base + ":ended"

    def transient(self) -> tuple[str, ...]:
        """The keys that go once the job has ended for its client (`ended` stays, with its expiry)."""
        return (self.progress, self.cancel, self.attempts, self.done, self.lease, self.fence, self.client)


def orphans_key(prefix: str) -> str:
    """Sorted set of ended jobs (score: end time) whose client may be gone; nodes clean up after them."""
    return f"{prefix}:ended-jobs"


def record_key(prefix: str) -> str:
    """The result store's record of runs: since when it knows every lease ("<time> new|lost")."""
    return f"{prefix}:record"


def worker_key(prefix: str, name: str) -> str:
    """The live daemon of a worker name ("<host> <pid>"), renewed while it runs."""
    return f"{prefix}:worker:{name}"


# How long the keys of a job live in Redis when nobody removes them (seconds).
KEY_TTL = 24 * 3600
# The ended mark of a job: long enough for any redelivery of it to come and be dropped.
ENDED_TTL = 3600
# A run's lease lives this long unless its node renews it (every RENEW_EVERY seconds). A node
# that cannot renew it for LEASE_TTL - LEASE_MARGIN seconds stops the run's program.
LEASE_TTL = 30.0
RENEW_EVERY = 2.0
LEASE_MARGIN = 5.0
# A run alive while the result store lost its keys takes its lease back within this long (its
# node looks every second while the program runs, and on reporting its end); a store whose
# record is younger does not start a job handed out before that has no lease. When a node saw
# the loss, the wait is a whole LEASE_TTL: by then a run that could not reach the store has
# stopped its program.
RETAKE_WINDOW = 5.0
# A delivery of a job whose lease is held elsewhere comes back after this many seconds.
LEASE_BUSY_RETRY = 3.0
# The waiting client renews its sign of life every CLIENT_EVERY s (expiry CLIENT_TTL); a node
# cancels a run whose client has been gone for CLIENT_GONE s while the result store answered.
CLIENT_EVERY = 2.0
CLIENT_TTL = 8
CLIENT_GONE = 15.0
# A broker or result store unreachable this long fails the jobs that wait on it.
OUTAGE_LIMIT = 60.0
# Task events (a node's, and the client's task-sent) go to the broker in one batch this often.
EVENTS_EVERY = 0.1
# The daemon's mark of its worker name expires this long after its last renewal.
WORKER_TTL = 15


def confirmed_connection(app: Any) -> Any:
    """A broker connection of `app` whose every published message the broker confirms."""
    return app.connection_for_write(transport_options={"confirm_publish": True})


class ServiceDown(Exception):
    """A service of the cluster (broker, result store, file store) cannot be reached."""

    def __init__(self, service: str, url: str, cause: BaseException | str) -> None:
        detail = cause if isinstance(cause, str) else (str(cause).strip() or type(cause).__name__)
        super().__init__(f"the {service} at {mask_url(url)} is unreachable: {detail}")
        self.service = service


def outage_errors() -> tuple[type[BaseException], ...]:
    """The exceptions that mean "that server cannot be reached now" for Redis and the broker."""
    import kombu.exceptions
    import redis

    return (redis.ConnectionError, redis.TimeoutError, redis.BusyLoadingError, kombu.exceptions.OperationalError,
            ConnectionError, TimeoutError, OSError)


def redis_client(url: str) -> Any:
    """A Redis client that fails fast on a lost server (callers retry with back-off)."""
    import redis

    return redis.Redis.from_url(url, socket_timeout=5, socket_connect_timeout=3, health_check_interval=15,
                                retry_on_timeout=False)


def mask_url(url: str) -> str:
    """`url` with its password (and a user name that carries one) replaced, for messages and logs."""
    try:
        parts = urllib.parse.urlsplit(url)
    except ValueError:
        return "<unparsable URL>"
    if parts.password is None and "@" not in parts.netloc:
        return url
    host = parts.netloc.rsplit("@", 1)[-1]
    user = parts.username or ""
    netloc = f"{user}:***@{host}" if user else f"***@{host}"
    return urllib.parse.urlunsplit((parts.scheme, netloc, parts.path, "", ""))


def make_app(broker: str, results: str, *, broker_options: Optional[dict[str, Any]] = None,
             confirm: bool = True) -> Any:
    """The Celery application both sides use. Every setting here guards against something; see docs/cluster.md.

    confirm: whether the broker confirms every message published through it (a node's application
    publishes only monitoring events and remote-control replies; it confirms the jobs it sends
    back to the queue through `confirmed_connection`)."""
    from celery import Celery

    # No Celery result backend: ends travel through the job's own keys (its result consumer gives up
    # for good after a few failed reconnections, and every task would leave a key behind).
    app = Celery("norvale", broker=broker, set_as_current=False)
    transport_options: dict[str, Any] = {"confirm_publish": confirm}
    transport_options.update(broker_options or {})
    app.conf.update(
        # only JSON crosses the broker and the result store
        task_serializer="json",
        result_serializer="json",
        accept_content=["json"],
        result_accept_content=["json"],
        # a job is acknowledged when it has ended, so a worker that dies mid-run hands it back
        task_acks_late=True,
        task_reject_on_worker_lost=True,
        task_acks_on_failure_or_timeout=True,
        worker_prefetch_multiplier=1,
        # a run goes on while its node reconnects to the broker: its lease keeps it the only one
        worker_cancel_long_running_tasks_on_connection_loss=False,
        broker_connection_retry=True,
        broker_connection_max_retries=None,
        broker_connection_timeout=4,
        task_ignore_result=True,
        # the broker confirms every published job; queues and messages survive a broker restart
        broker_transport_options=transport_options,
        task_default_delivery_mode="persistent",
        task_create_missing_queues=True,
        broker_connection_retry_on_startup=True,
        worker_hijack_root_logger=False,
        # task events, so `celery events` and Flower show every job: its integration, worker and state
        worker_send_task_events=True,
        task_send_sent_event=True,
    )
    return app
