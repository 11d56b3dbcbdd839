"""Which queue a job goes to, and which queues a node serves.

Workers of one integration may differ in what they can run: the scripts they hold (`scripts`) and
whether they take sent scripts (`local_scripts_only`). A job is therefore routed by what it needs:
a job of a worker's own script goes to a queue of its script key, which only workers holding that
script serve; a sent script or a program job goes to the integration's queue, which script workers
serve only when they take sent scripts. The client and the nodes both call these functions.
"""

from __future__ import annotations

import hashlib
import json
import re
from typing import Optional

from norvale.worker.config import PROGRAM_INTEGRATIONS, WorkerConfig
from norvale.worker.cluster.settings import queue_name

_PLAIN_KEY = re.compile(r"^[A-Za-z0-9_\-]{1,80}$")
# what the kit writes before a script job's key when it sends no script
_KEY_MARK = '"content": {"script": null, "script_key": '


def _key_part(script_key: str) -> str:
    if _PLAIN_KEY.match(script_key):
        return script_key
    return "h" + hashlib.sha256(script_key.encode("utf-8")).hexdigest()[:24]


def job_queue(prefix: str, integration: str, script_key: Optional[str] = None) -> str:
    """The queue of a job: `<prefix>.<integration>`, or `<prefix>.<integration>.script.<key>`."""
    base = queue_name(prefix, integration)
    return base if script_key is None else f"{base}.script.{_key_part(script_key)}"


def node_queues(prefix: str, integration: str, config: WorkerConfig) -> list[str]:
    """The queues a node of `integration` with this configuration serves (none: it can run nothing)."""
    if integration in PROGRAM_INTEGRATIONS:
        return [queue_name(prefix, integration)]
    queues = [] if config.local_scripts_only else [queue_name(prefix, integration)]
    return queues + [job_queue(prefix, integration, key) for key in sorted(config.scripts)]


def script_key_of(head: str) -> Optional[str]:
    """The script key of a script job from the first bytes of its job file; None for a sent script."""
    at = head.find(_KEY_MARK)
    if at < 0:
        return None
    try:
        key, _ = json.JSONDecoder().raw_decode(head, at + len(_KEY_MARK))
    except ValueError:
        return None
    return key if isinstance(key, str) else None
