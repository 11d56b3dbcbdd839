"""What the client and the workers of a cluster agree on: names, keys, the Celery settings."""

from __future__ import annotations

import re
import urllib.parse

TASK_NAME = "norvale.run_job"
DEFAULT_PREFIX = "norvale"
DEFAULT_MAX_ATTEMPTS = 3

_NAME = re.compile(r"^[a-z][a-z0-9_]{0,63}$")
_JOB_ID = re.compile(r"^[0-9a-f]{32}$")
_PREFIX = re.compile(r"^[A-Za-z][A-Za-z0-9_\-]{0,63}$")


def check_integration(name) -> str:
    if not isinstance(name, str) or not _NAME.match(name):
        raise ValueError(f"invalid integration name {name!r}")
    return name


def check_job_id(job_id) -> str:
    """A job id is 32 lower-case hex digits; nothing else reaches the file store."""
    if not isinstance(job_id, str) or not _JOB_ID.match(job_id):
        raise ValueError(f"invalid job id {job_id!r}")
    return job_id


def check_prefix(prefix) -> str:
    if not isinstance(prefix, str) or not _PREFIX.match(prefix):
        raise ValueError(f"invalid cluster prefix {prefix!r}: letters, digits, '_' and '-' only")
    return prefix


def queue_name(prefix: str, integration: str) -> str:
    return f"{prefix}.{integration}"


class Keys:
    """Redis keys of one job: progress reports, the cancel flag, the attempt count, the end notice."""

    def __init__(self, prefix: str, job_id: str) -> None:
        base = f"{prefix}:job:{job_id}"
        self.progress = base + ":progress"
        self.cancel = base + ":cancel"
        self.attempts = base + ":attempts"
        self.done = base + ":done"


# How long the keys of a job live in Redis when nobody removes them (seconds).
KEY_TTL = 24 * 3600


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


def make_app(broker: str, results: str, *, broker_options: dict | None = None):
    """The Celery application both sides use. Every setting here guards against something; see docs/cluster.md."""
    from celery import Celery

    app = Celery("norvale", broker=broker, backend=results, set_as_current=False)
    transport_options = {"confirm_publish": True}
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
        worker_cancel_long_running_tasks_on_connection_loss=True,
        # the broker confirms every published job; queues and messages survive a broker restart
        broker_transport_options=transport_options,
        task_default_delivery_mode="persistent",
        task_create_missing_queues=True,
        broker_connection_retry_on_startup=True,
        result_expires=KEY_TTL,
        # the end of a job travels by its own key; Celery's copy of it (celery-task-meta-<id>) would be
        # left behind for a day after every job
        task_ignore_result=True,
        worker_hijack_root_logger=False,
        # task events, so `celery events` and Flower show every job: its integration, worker and state
        worker_send_task_events=True,
        task_send_sent_event=True,
    )
    return app
