"""Running a job's program under a per-job supervisor, watched for cancellation and hand-back."""

from __future__ import annotations

import os
import queue
import subprocess
import sys
import threading
import time
from dataclasses import dataclass
from typing import Any, Callable, Optional

from norvale.worker.adapters import JobContext
from norvale.worker.process import ProgramRun, ProgramTimeout

SUPERVISOR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "supervisor.py")
POLL = 0.1


class JobCancelled(Exception):
    """The client cancelled the job (time-out, Ctrl+C); its program was killed."""


class HandBack(Exception):
    """The worker is stopping; the job's program was killed and the job goes back to its queue."""


def last_line(*paths: str) -> str:
    """The last non-empty line of the first of `paths` that has one (reads at most 4 KB of each)."""
    for path in paths:
        try:
            with open(path, "rb") as f:
                f.seek(0, os.SEEK_END)
                f.seek(max(0, f.tell() - 4096))
                lines = [ln for ln in f.read().decode("utf-8", "replace").splitlines() if ln.strip()]
        except OSError:
            continue
        if lines:
            return lines[-1].strip()[:300]
    return ""


def supervised_run(argv: list[str], *, cwd: str, log_dir: str, timeout: float,
                   watch: Optional[Callable[[str, str], Optional[str]]] = None) -> ProgramRun:
    """Runs `argv` like the local runner, under a supervisor that outlives nothing it supervises.

    `watch(stdout_path, stderr_path)` is called about ten times a second; "cancel" or "handback"
    stops the program and raises JobCancelled or HandBack. ProgramTimeout after `timeout` seconds.
    """
    stdout_path = os.path.join(log_dir, "stdout.txt")
    stderr_path = os.path.join(log_dir, "stderr.txt")
    deadline = time.monotonic() + timeout
    sup = subprocess.Popen([sys.executable, "-I", "-S", SUPERVISOR, cwd, stdout_path, stderr_path, *argv],
                           stdin=subprocess.PIPE,
                           stdout=subprocess.PIPE, text=True, start_new_session=True)
    lines: "queue.Queue[str]" = queue.Queue()

    def read():
        for line in sup.stdout:
            lines.put(line.strip())
        lines.put("eof")

    threading.Thread(target=read, daemon=True).start()

    def stop(reason: BaseException):
        try:
            sup.stdin.write("kill\n")
            sup.stdin.flush()
        except (OSError, ValueError):
            pass
        while True:
            line = lines.get()
            if line in ("killed", "eof") or line.startswith("exit "):
                break
        sup.wait()
        raise reason

    try:
        while True:
            try:
                line = lines.get(timeout=POLL)
            except queue.Empty:
                line = None
            if line is not None:
                if line.startswith("exit "):
                    sup.wait()
                    return ProgramRun(int(line[5:]), stdout_path, stderr_path)
                if line == "eof":
                    sup.wait()
                    raise RuntimeError("the job's supervisor ended unexpectedly")
                continue
            if time.monotonic() >= deadline:
                stop(ProgramTimeout())
            verdict = watch(stdout_path, stderr_path) if watch is not None else None
            if verdict == "cancel":
                stop(JobCancelled())
            elif verdict == "handback":
                stop(HandBack())
    except (ProgramTimeout, JobCancelled, HandBack, RuntimeError):
        raise
    except BaseException as exc:
        stop(exc)
        raise
    finally:
        try:
            sup.stdin.close()
        except OSError:
            pass


@dataclass
class ClusterJobContext(JobContext):
    """The adapters' job context, with programs run under a supervisor and watched."""

    watch: Any = None

    def run(self, argv: list[str], cwd: Optional[str] = None) -> ProgramRun:
        log_dir = os.path.join(self.result_dir, ".logs")
        os.makedirs(log_dir, exist_ok=True)
        return supervised_run(argv, cwd=cwd or self.work_dir, log_dir=log_dir, timeout=self.remaining(),
                              watch=self.watch)
