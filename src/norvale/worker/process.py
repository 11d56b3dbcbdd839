"""Running an outside program with a time-out, and stopping its whole process tree."""

from __future__ import annotations

import os
import signal
import subprocess
import time
from dataclasses import dataclass
from typing import Optional, Sequence

_TAIL = 4000


@dataclass
class ProgramRun:
    returncode: int
    stdout_path: str
    stderr_path: str

    def stderr_tail(self) -> str:
        return _tail(self.stderr_path)

    def stdout_tail(self) -> str:
        return _tail(self.stdout_path)


class ProgramTimeout(Exception):
    """The program did not finish in time; it and its descendants were killed."""


def _tail(path: str) -> str:
    try:
        with open(path, "rb") as f:
            f.seek(0, os.SEEK_END)
            size = f.tell()
            f.seek(max(0, size - _TAIL))
            return f.read().decode("utf-8", "replace").strip()
    except OSError:
        return ""


def _children_map() -> dict[int, list[int]]:
    children: dict[int, list[int]] = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat", "rb") as f:
                stat = f.read()
        except OSError:
            continue
        # the command name may hold blanks and parentheses: the fields follow the last ')'
        fields = stat[stat.rfind(b")") + 2:].split()
        if len(fields) > 1:
            children.setdefault(int(fields[1]), []).append(int(entry))
    return children


def descendants(pid: int) -> list[int]:
    """The processes below `pid` (children, grandchildren, ...), as seen now."""
    if not os.path.isdir("/proc"):
        return []
    tree = _children_map()
    found, todo = [], [pid]
    while todo:
        for child in tree.get(todo.pop(), []):
            found.append(child)
            todo.append(child)
    return found


def kill_tree(proc: subprocess.Popen) -> None:
    """Kills `proc`, its process group and every descendant, including ones that left the group."""
    # Stop the tree first so nothing forks while it is being collected, then kill.
    for _ in range(3):
        pids = descendants(proc.pid)
        for pid in [proc.pid, *pids]:
            try:
                os.kill(pid, signal.SIGSTOP)
            except OSError:
                pass
        if set(descendants(proc.pid)) <= set(pids):
            break
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except OSError:
        pass
    for pid in [proc.pid, *descendants(proc.pid), *pids]:
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass
    proc.wait()


def run_program(argv: Sequence[str], *, cwd: str, log_dir: str, timeout: Optional[float],
                env: Optional[dict] = None) -> ProgramRun:
    """Runs `argv` in `cwd`; output goes to files in `log_dir`. Raises ProgramTimeout after `timeout` s."""
    stdout_path = os.path.join(log_dir, "stdout.txt")
    stderr_path = os.path.join(log_dir, "stderr.txt")
    with open(stdout_path, "wb") as out, open(stderr_path, "wb") as err:
        proc = subprocess.Popen(list(argv), cwd=cwd, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                start_new_session=True, env=env)
    try:
        returncode = proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        kill_tree(proc)
        raise ProgramTimeout() from None
    except BaseException:
        kill_tree(proc)  # interrupted (KeyboardInterrupt...): leave nothing running
        raise
    # the program is done; anything it left running in its group goes too (its children were
    # handed to init when it exited, so the group is what still identifies them)
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except OSError:
        pass
    return ProgramRun(returncode, stdout_path, stderr_path)


def remaining(deadline: float) -> float:
    """Seconds left until `deadline` (a `time.monotonic()` value), never below a small minimum."""
    return max(0.01, deadline - time.monotonic())
