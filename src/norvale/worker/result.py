"""What a worker hands back: a result, or a failure message."""

from __future__ import annotations

import shutil
import weakref
from typing import Any, Optional


class WorkerFailure(Exception):
    """The worker could not run the job; `message` is the worker's own text."""

    def __init__(self, message: str) -> None:
        super().__init__(message)
        self.message = message


class WorkerResult:
    """The result content of one job, and the directory that holds its result files on disk.

    The directory is removed by `release()`, or when the result is garbage-collected.
    """

    def __init__(self, content: dict, directory: Optional[str] = None) -> None:
        self.content = content
        self.directory = directory
        self._finalizer = weakref.finalize(self, shutil.rmtree, directory, True) if directory else None

    def release(self) -> None:
        """Removes the result files now (bodies already read stay valid in memory only)."""
        if self._finalizer is not None:
            self._finalizer()

    def __repr__(self) -> str:
        return f"<WorkerResult {sorted(self.content)}>"
