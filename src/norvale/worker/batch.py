"""Many jobs at once on whichever worker `execute` uses."""

from __future__ import annotations

import contextvars
from concurrent.futures import ThreadPoolExecutor
from typing import Any, Callable, Iterable, Optional

from norvale.worker.protocol import Worker

#: What a worker calls with each progress report of a job (a cluster's `Progress`).
ProgressCallback = Callable[[Any], object]

_progress: contextvars.ContextVar[Optional[ProgressCallback]] = contextvars.ContextVar("norvale_progress",
                                                                                        default=None)


def progress_callback() -> Optional[ProgressCallback]:
    """The progress callback `run_all` gave the jobs of this thread, None outside `run_all`."""
    return _progress.get()


def check_callback(on_progress: object) -> Optional[ProgressCallback]:
    if on_progress is not None and not callable(on_progress):
        raise TypeError(f"on_progress must be a function called with each progress report, not "
                        f"{type(on_progress).__name__} {on_progress!r}")
    return on_progress


def run_all(jobs: Iterable[Any], *, timeout: float, max_parallel: int = 8,
            on_progress: Optional[ProgressCallback] = None) -> list[Optional[BaseException]]:
    """Executes every job (`job.execute(timeout)`) concurrently, at most `max_parallel` at once.

    Returns one entry per job, in order: None when it succeeded, else the exception it raised
    (`ExecutionError`, ...). `on_progress` gets each progress report of these jobs (workers that
    report progress: a cluster). Ctrl+C stops every running job (through the worker's `cancel()`,
    when it has one), drops the waiting ones, then raises KeyboardInterrupt. The jobs run on the
    current worker (`norvale.worker.get_worker()`).
    """
    from norvale import worker as _worker

    if isinstance(max_parallel, bool) or not isinstance(max_parallel, int) or max_parallel < 1:
        raise ValueError(f"max_parallel must be a whole number of at least 1, not {max_parallel!r}")
    callback = check_callback(on_progress)
    jobs = list(jobs)
    target: Worker = _worker.get_worker()

    def one(job: Any) -> Optional[BaseException]:
        token = _progress.set(callback)
        try:
            job.execute(timeout)
            return None
        except Exception as exc:
            return exc
        finally:
            _progress.reset(token)

    pool = ThreadPoolExecutor(max_workers=max_parallel, thread_name_prefix="norvale-run")
    futures = [pool.submit(one, job) for job in jobs]
    try:
        return [f.result() for f in futures]
    except BaseException:
        for f in futures:
            f.cancel()
        cancel = getattr(target, "cancel", None)
        if callable(cancel):
            cancel()
        raise
    finally:
        pool.shutdown(wait=True)
