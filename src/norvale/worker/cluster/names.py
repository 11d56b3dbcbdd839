"""A worker name belongs to one live daemon at a time.

The daemon holds `<prefix>:worker:<name>` in the result store ("<host> <pid>"), renewed while it
runs and removed when it stops. A second daemon given the same name refuses to start, unless the
holder is a daemon of this machine that is no longer alive (killed outright: its mark is stale).
"""

from __future__ import annotations

import os
import socket
from typing import Any, Optional

from norvale.worker.cluster import settings

# Takes the name when it is free, or when ARGV[2] (the stale holder's value) still holds it.
_CLAIM = """
local v = redis.call('GET', KEYS[1])
if (not v) or v == ARGV[2] or v == ARGV[1] then
  redis.call('SET', KEYS[1], ARGV[1], 'EX', ARGV[3]) return 1 end
return 0
"""
# Removes KEYS[1] while it still holds ARGV[1] (a mark given up by the one holding it).
RELEASE = """
if redis.call('GET', KEYS[1]) == ARGV[1] then return redis.call('DEL', KEYS[1]) end
return 0
"""


class NameInUse(ValueError):
    """Another live worker has this name."""


def text(value: Any) -> str:
    """A value read from the result store as text ("" for none)."""
    return value.decode(errors="replace") if isinstance(value, bytes) else str(value or "")


def process_gone(pid: int) -> bool:
    """Whether no process of this machine has the id `pid` (one of another user counts as alive)."""
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return True
    except PermissionError:
        return False
    return False


def _stale(holder: str) -> bool:
    """Whether `holder` ("<host> <pid>") is a daemon of this machine that is no longer alive."""
    host, _, pid = holder.rpartition(" ")
    return host == socket.gethostname() and pid.isdigit() and process_gone(int(pid))


def live_holder(redis: Any, prefix: str, name: str) -> Optional[str]:
    """The live daemon ("<host> <pid>") that holds `name`, None when the name is free (or stale)."""
    raw = redis.get(settings.worker_key(prefix, name))
    if raw is None:
        return None
    holder = text(raw)
    return None if _stale(holder) or holder == f"{socket.gethostname()} {os.getpid()}" else holder


def check_name_free(redis: Any, prefix: str, name: str) -> None:
    """NameInUse when a live worker other than this process has `name`."""
    holder = live_holder(redis, prefix, name)
    if holder is not None:
        host, _, pid = holder.rpartition(" ")
        raise NameInUse(f"the worker name {name!r} is in use by a live worker (host {host}, process {pid}): "
                        f"give this worker another --name, or stop the other one first")


class WorkerName:
    """This daemon's hold on its name: `claim()` at start, `renew()` every few seconds, `release()`."""

    def __init__(self, redis: Any, prefix: str, name: str) -> None:
        self.redis, self.prefix, self.name = redis, prefix, name
        self.key = settings.worker_key(prefix, name)
        self.value = f"{socket.gethostname()} {os.getpid()}"

    def claim(self) -> None:
        raw = self.redis.get(self.key)
        stale = text(raw) if raw is not None and _stale(text(raw)) else ""
        if not self.redis.eval(_CLAIM, 1, self.key, self.value, stale, settings.WORKER_TTL):
            check_name_free(self.redis, self.prefix, self.name)
            raise NameInUse(f"the worker name {self.name!r} is in use by another worker: give this worker "
                            f"another --name")

    def renew(self) -> None:
        self.redis.eval(_CLAIM, 1, self.key, self.value, "", settings.WORKER_TTL)

    def release(self) -> None:
        self.redis.eval(RELEASE, 1, self.key, self.value)
