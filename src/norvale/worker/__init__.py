"""The worker: what actually runs a job.

`execute` on a job hands its job file to the worker returned by `get_worker()`. By default that is
an embedded `LocalWorker`, which runs each job on this machine in a fresh temporary directory
through a program adapter per integration. Configure it with `configure(...)`, or install another
worker with `set_worker(...)`: any object that satisfies `norvale.worker.protocol.Worker`
(docs/worker.md).
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, Optional, Unpack

from norvale.worker.config import ConfigOptions, WorkerConfig, register_script_integration
from norvale.worker.protocol import ResultBody, Worker, WorkerFailure, WorkerResult
from norvale.worker.local import LocalWorker
from norvale.worker.batch import run_all

if TYPE_CHECKING:
    from norvale.worker.cluster.client import ClusterWorker

__all__ = [
    "LocalWorker",
    "ResultBody",
    "Worker",
    "WorkerConfig",
    "WorkerFailure",
    "WorkerResult",
    "configure",
    "connect",
    "get_worker",
    "register_script_integration",
    "run_all",
    "set_worker",
]

_worker: Optional[Worker] = None


def get_worker() -> Worker:
    """The worker that `execute` uses; an embedded `LocalWorker` unless another was set."""
    global _worker, _embedded
    if _worker is None:
        _worker, _embedded = _embedded or LocalWorker(), None
    return _worker


_embedded: Optional[LocalWorker] = None


def _embedded_worker() -> LocalWorker:
    """The embedded worker that `configure` configured while a cluster was the worker."""
    global _embedded
    if _embedded is None:
        _embedded = LocalWorker()
    return _embedded


def set_worker(worker: Optional[Worker]) -> None:
    """Makes `worker` (an object with `run(job_path, *, timeout)`) the one `execute` uses; None resets."""
    global _worker
    if worker is not None and not callable(getattr(worker, "run", None)):
        raise TypeError(f"a worker must have a run(job_path, *, timeout) method; {type(worker).__name__} has none")
    _worker = worker


def configure(config: Optional[WorkerConfig] = None, **options: Unpack[ConfigOptions]) -> WorkerConfig:
    """Changes the configuration of the embedded worker and returns it.

    `config`: a whole `WorkerConfig` (for instance `WorkerConfig.from_file(path)`) that replaces the
    current one; `options` (programs=, scripts=, local_scripts_only=, work_root=) then change it
    as `WorkerConfig.update` does. While a cluster is the worker (`connect`), it configures the
    embedded worker the application returns to with `set_worker(None)`; the cluster's workers
    follow their own worker.json.
    """
    worker = get_worker()
    if not isinstance(worker, LocalWorker):
        if type(worker).__name__ != "ClusterWorker":
            raise TypeError("configure() applies to the embedded LocalWorker; configure your own worker directly")
        # the cluster's workers have their own worker.json; the embedded worker keeps this for when
        # the application goes back to it (set_worker(None)), so the same script runs on either
        worker = _embedded_worker()
    if config is not None:
        if not isinstance(config, WorkerConfig):
            raise TypeError(f"config must be a WorkerConfig, not {type(config).__name__}")
        worker.config = config
    worker.config.update(**options)
    return worker.config


def connect(broker: str, *, results: str, store: str, **options: Any) -> ClusterWorker:
    """Connects to a cluster and makes its worker the one `execute` uses; returns that worker.

    `broker`: Celery broker URL (amqp://...); `results`: result store URL (redis://...); `store`:
    fsspec URL of the file store (file:///shared/norvale, s3://bucket/prefix). Options:
    store_options, broker_options, on_progress, prefix, max_attempts, result_root, no_worker_timeout
    (docs/cluster.md).
    """
    from norvale.worker.cluster import connect as _connect

    return _connect(broker, results=results, store=store, **options)
