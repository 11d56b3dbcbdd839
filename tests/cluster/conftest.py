"""Real servers for the cluster tests: a private RabbitMQ, Redis and S3 (moto), started once per session."""

import json
import os
import signal
import subprocess
import sys
import time

import pytest

pytest.importorskip("celery", reason="the cluster extra (celery, redis, fsspec, s3fs) is not installed")

from norvale import worker  # noqa: E402
from norvale.worker import standins  # noqa: E402
from norvale.worker.cluster import localservers  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))


def _start(kind):
    try:
        return kind()
    except localservers.ServerUnavailable as exc:
        pytest.skip(f"cluster tests skipped: {exc}")


@pytest.fixture(scope="session")
def rabbit():
    server = _start(localservers.RabbitServer)
    yield server
    server.stop()


@pytest.fixture(scope="session")
def redis_server():
    server = _start(localservers.RedisServer)
    yield server
    server.stop()


@pytest.fixture(scope="session")
def s3():
    server = _start(localservers.S3Server)
    yield server
    server.stop()


@pytest.fixture(scope="session")
def store_dir(tmp_path_factory):
    return tmp_path_factory.mktemp("store")


class Daemon:
    """One `norvale-worker` process with its own worker.json."""

    def __init__(self, tmp, *, broker, results, store, prefix, licences, name, extra=None, store_options=None):
        self.config = os.path.join(tmp, f"worker-{name}.json")
        self.licences = licences
        data = {"programs": {k: standins.command(k) for k in ("korro", "moraine", "tarsis")},
                "licences": licences, "work_root": tmp}
        data.update(extra or {})
        with open(self.config, "w") as f:
            json.dump(data, f)
        self.log = os.path.join(tmp, f"worker-{name}.log")
        command = [sys.executable, "-m", "norvale.worker", "--config", self.config, "--name", name,
                   "--prefix", prefix]
        # the URLs and their passwords by the environment, as deployed: never on a command line
        env = dict(os.environ, NORVALE_BROKER_URL=broker, NORVALE_RESULTS_URL=results, NORVALE_STORE_URL=store)
        if store_options:
            env["NORVALE_STORE_OPTIONS"] = json.dumps(store_options)
        with open(self.log, "ab") as log:
            self.proc = subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT, env=env)
        self.name, self.env = name, env

    def output(self) -> str:
        with open(self.log, errors="replace") as f:
            return f.read()

    def nodes(self) -> list[int]:
        """Process ids of the daemon's nodes."""
        out = subprocess.run(["pgrep", "-P", str(self.proc.pid)], capture_output=True, text=True).stdout
        return [int(p) for p in out.split()]

    def wait_ready(self, count, limit=60):
        end = time.monotonic() + limit
        while time.monotonic() < end:
            if self.output().count("ready.") >= count or _ready(self, count):
                return
            time.sleep(0.2)
        raise RuntimeError("the worker did not start:\n" + self.output()[-3000:])

    def send_signal(self, sig=signal.SIGTERM):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)

    def stop(self, sig=signal.SIGTERM, limit=60):
        self.send_signal(sig)
        self.proc.wait(timeout=limit)
        return self.proc.returncode


def _ready(daemon, count):
    return daemon.output().count("node ready") >= count


@pytest.fixture(scope="session")
def daemons(tmp_path_factory, rabbit, redis_server):
    started = []
    tmp = tmp_path_factory.mktemp("daemons")

    def start(prefix, licences, name="w1", store=None, extra=None, store_options=None, wait=True):
        daemon = Daemon(str(tmp), broker=rabbit.url, results=redis_server.url, store=store, prefix=prefix,
                        licences=licences, name=name, extra=extra, store_options=store_options)
        started.append(daemon)
        if wait:
            daemon.wait_ready(len(licences))
        return daemon

    yield start
    # all told to stop at once, then waited for: each hands back and ends in a second or two
    for daemon in started:
        daemon.send_signal()
    for daemon in started:
        try:
            daemon.stop()
        except subprocess.TimeoutExpired:
            daemon.proc.kill()


@pytest.fixture(scope="session")
def main_daemon(daemons, store_dir):
    """The workers most tests use: every stand-in, and Python scripts two at a time."""
    return daemons("t", {"moraine": 2, "korro": 1, "tarsis": 1, "python": 2}, name="office-a",
                   store=store_dir.as_uri(), extra={"scripts": {"hello": os.path.join(HERE, "hello_script.py")}})


@pytest.fixture
def cluster(main_daemon, rabbit, redis_server, store_dir):
    previous = worker.get_worker()
    client = worker.connect(rabbit.url, results=redis_server.url, store=store_dir.as_uri(), prefix="t")
    # after a test that restarted the broker, its nodes may still be on their way back
    end = time.monotonic() + 30
    for integration in main_daemon.licences:
        while client._queue_state(f"t.{integration}")[1] in (None, 0) and time.monotonic() < end:
            time.sleep(0.1)
    yield client
    worker.set_worker(previous)
