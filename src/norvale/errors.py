"""Error types of the kit. Each is raised with one message text."""

from typing import Optional

__all__ = ["NorvaleError", "ExecutionError", "InternalError", "TarsisParsingError"]


class NorvaleError(Exception):
    """Base of the kit's own errors."""


class ExecutionError(NorvaleError):
    """A job failed on the worker, timed out, or its results are not available.

    Raised for a worker failure by `execute`, it also carries what the worker reported (and the
    same in its `__notes__`, shown in the traceback):

    worker_message: the worker's own message (the job's documented message may differ from it).
    exit_status: the program's exit status, None when no program ran.
    program_output: the end of the program's output (a few kB), "" when there was none.
    worker_name: the cluster worker that reported the failure, None for the embedded worker.
    """

    worker_message: Optional[str] = None
    worker_name: Optional[str] = None
    exit_status: Optional[int] = None
    program_output: str = ""


class InternalError(NorvaleError):
    """A platform (add-on) service could not produce a result."""


class TarsisParsingError(NorvaleError):
    """A Tarsis output file could not be read."""
