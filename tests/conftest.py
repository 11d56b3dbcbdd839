import os
import tempfile

import pytest

from norvale import worker
from norvale.worker import LocalWorker, WorkerConfig, standins


@pytest.fixture
def local_worker(tmp_path):
    """A fresh embedded worker (its job directories under tmp_path/work), restored afterwards."""
    work_root = tmp_path / "work"
    work_root.mkdir()
    previous = worker.get_worker()
    fresh = LocalWorker(WorkerConfig(work_root=str(work_root)))
    worker.set_worker(fresh)
    yield fresh
    worker.set_worker(previous)


@pytest.fixture
def standin_worker(local_worker):
    """The embedded worker configured with every stand-in program."""
    local_worker.config.update(programs={name: standins.command(name) for name in ("korro", "moraine", "tarsis")})
    return local_worker


def leftovers(work_root) -> list[str]:
    """Job directories still present below `work_root` (result directories excluded)."""
    return sorted(name for name in os.listdir(work_root) if name.startswith("norvale-run-"))


@pytest.fixture
def no_temp_leftovers():
    """Fails the test when it leaves norvale job files in the system's temporary directory."""
    tmp = tempfile.gettempdir()
    before = set(os.listdir(tmp))
    yield
    new = {n for n in set(os.listdir(tmp)) - before if n.startswith("norvale-")}
    assert not new, f"left behind: {sorted(new)}"
