"""Error types of the kit. Each is raised with one message text."""

__all__ = ["NorvaleError", "ExecutionError", "InternalError", "TarsisParsingError"]


class NorvaleError(Exception):
    """Base of the kit's own errors."""


class ExecutionError(NorvaleError):
    """A job failed on the worker, timed out, or its results are not available."""


class InternalError(NorvaleError):
    """A platform (add-on) service could not produce a result."""


class TarsisParsingError(NorvaleError):
    """A Tarsis output file could not be read."""
