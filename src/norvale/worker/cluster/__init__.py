"""Running jobs on workers elsewhere: the machines that hold the outside programs' licences.

`norvale.worker.connect(...)` gives a `ClusterWorker` and makes it the one `execute` uses; the
daemon `norvale-worker` runs on each licensed machine. The engine (Celery, its broker and result
store) and the file store libraries are imported only when a cluster is used. See docs/cluster.md.
"""

from __future__ import annotations


def connect(broker: str, *, results: str, store: str, **options):
    from norvale import worker as _worker
    from norvale.worker.cluster.client import ClusterWorker

    cluster = ClusterWorker(broker, results=results, store=store, **options)
    _worker.set_worker(cluster)
    return cluster


def run_all(jobs, *, timeout: float, max_parallel: int = 8, on_progress=None) -> list:
    from norvale.worker.cluster.client import run_all as _run_all

    return _run_all(jobs, timeout=timeout, max_parallel=max_parallel, on_progress=on_progress)
