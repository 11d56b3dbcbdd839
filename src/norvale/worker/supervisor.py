"""Per-job supervisor: runs one program and makes sure nothing outlives the application.

The embedded worker starts this file as a small process of its own (standard library only, run by
path with `python -I`) for every program it runs. The supervisor reads one JSON line from its
stdin, {"argv", "cwd", "stdout", "stderr", "env", "cleanup"}, starts the program in a process group
of its own and answers on stdout:

    started <pid>            the program runs
    error <errno> <text>     the program could not be started (nothing runs)
    exit <status>            the program ended (negative: killed by that signal); the supervisor ends

While the program runs, the supervisor watches its stdin, which only the application holds open:

    a line "kill"            stop the whole process tree, answer "killed" and end
    end of file              the application is gone (it exited, was killed, crashed): stop the
                             process tree, remove the "cleanup" paths (the job's temporary
                             directories) and end

SIGTERM and SIGHUP sent to the supervisor itself count as end of file. The supervisor runs in a
session of its own, so Ctrl+C at the terminal reaches only the application, which then asks for
"kill".
"""

from __future__ import annotations

import json
import os
import select
import shutil
import signal
import subprocess
import sys
from types import FrameType
from typing import Any, Iterable, NoReturn, Optional


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


def _signal_all(pids: Iterable[int], sig: int) -> None:
    for pid in pids:
        try:
            os.kill(pid, sig)
        except OSError:
            pass


def kill_tree(proc: subprocess.Popen[Any]) -> None:
    """Kills `proc`, its process group and every descendant, including ones that left the group."""
    # Stop the tree first so nothing forks while it is being collected, then kill.
    pids: list[int] = []
    for _ in range(3):
        pids = descendants(proc.pid)
        _signal_all([proc.pid, *pids], signal.SIGSTOP)
        if set(descendants(proc.pid)) <= set(pids):
            break
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except OSError:
        pass
    _signal_all([proc.pid, *descendants(proc.pid), *pids], signal.SIGKILL)
    proc.wait()


def _answer(text: str) -> None:
    try:
        sys.stdout.write(text + "\n")
        sys.stdout.flush()
    except OSError:
        pass  # the application is gone; the cleanup path follows on stdin


class _Abandoned(Exception):
    pass


def _on_signal(signum: int, frame: Optional[FrameType]) -> NoReturn:
    raise _Abandoned()


def _cleanup(paths: Iterable[str]) -> None:
    for path in paths:
        shutil.rmtree(path, ignore_errors=True)


def _identity(spec: dict[str, Any]) -> dict[str, Any]:
    """Popen's options that run the program as the spec's "user" ({"uid", "gid"}), with no other groups."""
    user = spec.get("user")
    if not user:
        return {}
    return {"user": user["uid"], "group": user["gid"], "extra_groups": []}


def main() -> int:
    for sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, _on_signal)
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    fd = sys.stdin.fileno()
    received = b""
    while b"\n" not in received:  # unbuffered: a "kill" right behind the spec must stay visible
        chunk = os.read(fd, 65536)
        if not chunk:
            return 0
        received += chunk
    line, _, pending = received.partition(b"\n")
    spec = json.loads(line)
    cleanup = spec.get("cleanup") or []
    try:
        with open(spec["stdout"], "ab") as out, open(spec["stderr"], "ab") as err:
            proc = subprocess.Popen(spec["argv"], cwd=spec["cwd"], stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=err, env=spec.get("env"), process_group=0, close_fds=True,
                                    **_identity(spec))
    except OSError as exc:
        _answer(f"error {exc.errno or 0} {exc.strerror or exc}")
        return 0
    except _Abandoned:
        _cleanup(cleanup)
        return 0
    abandoned = False
    try:
        _answer(f"started {proc.pid}")
        try:
            pidfd = os.pidfd_open(proc.pid)
        except (AttributeError, OSError):
            pidfd = None
        while b"kill" not in pending:
            watched = [fd] if pidfd is None else [fd, pidfd]
            ready, _, _ = select.select(watched, [], [], 0.2 if pidfd is None else None)
            if fd in ready:
                request = os.read(fd, 64)
                if not request:
                    abandoned = True
                    break
                pending += request
                continue
            if proc.poll() is not None:
                # the program is done; anything it left running in its group goes too (its children
                # were handed to init when it exited, so the group is what still identifies them)
                try:
                    os.killpg(proc.pid, signal.SIGKILL)
                except OSError:
                    pass
                _answer(f"exit {proc.returncode}")
                return 0
    except _Abandoned:
        abandoned = True
    for sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, signal.SIG_IGN)  # finish the clean-up whatever arrives now
    kill_tree(proc)
    if abandoned:
        _cleanup(cleanup)
    else:
        _answer("killed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
