"""Running jobs on workers elsewhere: the machines that hold the outside programs' licences.

`norvale.worker.connect(...)` gives a `ClusterWorker` and makes it the one `execute` uses; the
daemon `norvale-worker` runs on each licensed machine. The engine (Celery, its broker and result
store) and the file store libraries are imported only when a cluster is used. See docs/cluster.md.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    from norvale.worker.cluster.client import ClusterWorker


def connect(broker: str, *, results: str, store: str, **options: Any) -> ClusterWorker:
    from norvale import worker as _worker
    from norvale.worker.cluster.client import ClusterWorker

    cluster = ClusterWorker(broker, results=results, store=store, **options)
    _worker.set_worker(cluster)
    return cluster
