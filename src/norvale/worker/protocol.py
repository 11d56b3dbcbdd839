"""The contract between the kit and a worker.

The kit (`ExternalProgram.execute`) writes a job file and calls `run(job_path, timeout=...)` on the
worker that `norvale.worker.get_worker()` returns. Any object that satisfies `Worker` will do: the
embedded `LocalWorker`, a cluster client, or a worker of the application's own (docs/worker.md).

This module imports nothing of the kit or of the rest of the worker, so both sides can import it.
"""

from __future__ import annotations

import base64
import os
import shutil
import weakref
from typing import Any, BinaryIO, Optional, Protocol, runtime_checkable

__all__ = [
    "CancellableWorker",
    "JOB_DIR_PREFIX",
    "OUTPUT_TAIL",
    "ResultBody",
    "RunResult",
    "Worker",
    "WorkerFailure",
    "WorkerResult",
]

#: Name prefix of the temporary directory in which the kit writes a job file. A worker that
#: outlives the application (a supervisor of a job whose application died) may remove it.
JOB_DIR_PREFIX = "norvale-job-"

#: Characters of program output that go with a failure or result (the end of the output).
OUTPUT_TAIL = 64 * 1024


class WorkerFailure(Exception):
    """The worker could not run the job.

    message: the worker's own text; the job's `_handle_execution_error` looks it up.
    exit_status: the program's exit status when a program ran (negative: killed by that signal).
    output: the end of the program's output (stdout, then stderr), at most `OUTPUT_TAIL` characters.
    worker_name: the worker (machine) that reported it, None for the embedded worker.
    advice: texts that go with the message as notes (what to do about it where the job ran).
    """

    def __init__(self, message: str, *, exit_status: Optional[int] = None, output: str = "",
                 worker_name: Optional[str] = None, advice: tuple[str, ...] = ()) -> None:
        super().__init__(message)
        self.message = message
        self.exit_status = exit_status
        self.output = output
        self.worker_name = worker_name
        self.advice = tuple(advice)


class ResultBody:
    """A file the worker left on disk, standing in for the Base64 text of a file entry's body.

    It holds the decoded bytes; `text()` gives the Base64 text when something asks for it. The
    object keeps its owner (the result that holds the directory) alive while it is referenced.
    """

    __slots__ = ("path", "_owner", "__weakref__")

    def __init__(self, path: str, owner: Any = None) -> None:
        self.path = path
        self._owner = owner

    @property
    def size(self) -> int:
        return os.path.getsize(self.path)

    def read_bytes(self) -> bytes:
        with open(self.path, "rb") as f:
            return f.read()

    def open_binary(self) -> BinaryIO:
        return open(self.path, "rb")

    def text(self) -> str:
        """The Base64 text of the content (standard alphabet, padded, no line breaks)."""
        return base64.b64encode(self.read_bytes()).decode("ascii")

    def __len__(self) -> int:
        return self.size

    def __bool__(self) -> bool:
        return True

    def __repr__(self) -> str:
        return f"<ResultBody {self.path!r}>"


@runtime_checkable
class RunResult(Protocol):
    """What `Worker.run` returns (`WorkerResult` is the kit's own implementation)."""

    #: The result content: a dict whose file bodies are Base64 text or `ResultBody` objects.
    content: dict[str, Any]
    #: The program's exit status, None when no program ran.
    exit_status: Optional[int]
    #: The end of the program's output, "" when there was none.
    output: str

    def release(self) -> None:
        """Frees what the result holds on disk; called before the job runs again."""


@runtime_checkable
class Worker(Protocol):
    """Runs one job file and returns its result, or raises `WorkerFailure`."""

    def run(self, job_path: str, *, timeout: float) -> RunResult:
        """Runs the job at `job_path` (read it; do not change or remove it) within `timeout` seconds."""
        ...


@runtime_checkable
class CancellableWorker(Worker, Protocol):
    """A worker that can also stop what it runs; `norvale.worker.run_all` calls `cancel()` on Ctrl+C.

    `cancel()` stops the programs of every job the worker runs at that moment, from any thread;
    each of those `run` calls then ends with `WorkerFailure` (or the interrupt of its own thread).
    Jobs started afterwards run as usual. The method is optional: a worker without it is left to
    finish the jobs it has begun.
    """

    def cancel(self) -> None: ...


class WorkerResult:
    """The result content of one job, and the directory that holds its result files on disk.

    The directory is removed by `release()`, or when the result is garbage-collected.
    """

    def __init__(self, content: dict[str, Any], directory: Optional[str] = None, *, exit_status: Optional[int] = None,
                 output: str = "") -> None:
        self.content = content
        self.directory = directory
        self.exit_status = exit_status
        self.output = output
        self._finalizer = weakref.finalize(self, shutil.rmtree, directory, True) if directory else None

    def release(self) -> None:
        """Removes the result files now (bodies already read stay valid in memory only)."""
        if self._finalizer is not None:
            self._finalizer()

    def __repr__(self) -> str:
        return f"<WorkerResult {sorted(self.content)}>"
