"""Running a job's program under a per-job supervisor, watched for cancellation and hand-back."""

from __future__ import annotations

import os
import signal
import time
from dataclasses import dataclass
from typing import Any, Callable, Optional, Sequence

from norvale.worker.adapters import JobContext
from norvale.worker.process import ProgramRun, ProgramTimeout, start_supervised
from norvale.worker.protocol import WorkerFailure

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


def supervised_run(argv: list[str], *, cwd: str, log_dir: str, timeout: float, integration: str = "program",
                   cleanup: Sequence[str] = (),
                   watch: Optional[Callable[[str, str], Optional[str]]] = None,
                   run_as: Optional[str] = None) -> ProgramRun:
    """Runs `argv` under the kit's per-job supervisor, as the embedded worker does, and watches it.

    `watch(stdout_path, stderr_path)` is called about ten times a second; "cancel" or "handback"
    stops the program's tree and raises JobCancelled or HandBack. ProgramTimeout after `timeout` s.
    """
    deadline = time.monotonic() + timeout
    supervisor, stdout_path, stderr_path = start_supervised(argv, cwd=cwd, log_dir=log_dir, cleanup=cleanup,
                                                            integration=integration, run_as=run_as)
    try:
        while True:
            line = supervisor.read_line(POLL)
            if line is not None:
                supervisor.close()
                if not line.startswith("exit "):
                    raise WorkerFailure(f"The job supervisor gave an unexpected answer: {line!r}")
                return ProgramRun(int(line.split()[1]), stdout_path, stderr_path)
            if time.monotonic() >= deadline:
                supervisor.stop()
                raise ProgramTimeout(ProgramRun(-signal.SIGKILL, stdout_path, stderr_path))
            verdict = watch(stdout_path, stderr_path) if watch is not None else None
            if verdict == "cancel":
                supervisor.stop()
                raise JobCancelled()
            if verdict == "handback":
                supervisor.stop()
                raise HandBack()
    except (ProgramTimeout, JobCancelled, HandBack):
        raise
    except WorkerFailure:
        supervisor.close()
        raise
    except BaseException:
        supervisor.stop()  # interrupted: leave nothing running
        raise


@dataclass
class ClusterJobContext(JobContext):
    """The adapters' job context, with programs run under a supervisor and watched."""

    watch: Any = None

    def run(self, argv: list[str], cwd: Optional[str] = None) -> ProgramRun:
        log_dir = os.path.join(self.result_dir, ".logs")
        os.makedirs(log_dir, exist_ok=True)
        try:
            self.last_run = supervised_run(argv, cwd=cwd or self.work_dir, log_dir=log_dir, timeout=self.remaining(),
                                           integration=self.integration, cleanup=self.cleanup, watch=self.watch,
                                           run_as=self.config.run_as)
        except ProgramTimeout as timeout:
            self.last_run = timeout.run
            raise
        return self.last_run
