"""What a worker hands back: a result, or a failure (defined in `norvale.worker.protocol`)."""

from norvale.worker.protocol import ResultBody, WorkerFailure, WorkerResult

__all__ = ["ResultBody", "WorkerFailure", "WorkerResult"]
