"""What an operator sees of the cluster, and what a job leaves behind in the result store."""

import io
import threading

import pytest

from norvale.errors import ExecutionError
from norvale.external.moraine import MoraineAnalysis

from .helpers import in_thread, read_pid, script_job, wait_for


def watch_events(app):
    """Collects the cluster's task events (what `celery events` and Flower read) in a thread."""
    seen = []
    ready = threading.Event()
    box = {}

    def run():
        with app.connection_for_read() as conn:
            receiver = app.events.Receiver(conn, handlers={"*": seen.append})
            receiver.on_consume_ready = lambda *args, **kwargs: ready.set()  # its queue is bound now
            box["receiver"] = receiver
            receiver.capture(limit=None, timeout=None, wakeup=False)

    box["thread"] = threading.Thread(target=run, daemon=True)
    box["thread"].start()
    assert ready.wait(10), "the event receiver did not start"
    return seen, box


def test_a_running_job_shows_in_celery_inspect_and_in_the_events_with_its_integration_and_worker(cluster, tmp_path):
    events, watcher = watch_events(cluster.app)
    pid_path = tmp_path / "pid"
    job = script_job(f"import os, time\nopen({str(pid_path)!r}, 'w').write(str(os.getpid()))\ntime.sleep(60)\n")
    box = in_thread(job.execute, timeout=6)
    wait_for(lambda: read_pid(pid_path), what="the job to run")
    active = cluster.app.control.inspect(timeout=2.0).active() or {}
    running = [(host, task) for host, tasks in active.items() for task in tasks]
    assert [(host, task["kwargs"]["integration"]) for host, task in running] == [("python@office-a", "python")]
    assert running[0][1]["name"] == "norvale.run_job"
    box["thread"].join(30)
    assert isinstance(box.get("error"), ExecutionError)
    job_id = running[0][1]["id"]
    kinds = wait_for(lambda: {e["type"] for e in events if e.get("uuid") == job_id} >= {
        "task-sent", "task-received", "task-started", "task-succeeded"} and events, what="the job's events")
    received = [e for e in kinds if e.get("uuid") == job_id and e["type"] == "task-received"]
    assert received[0]["hostname"] == "python@office-a" and "'integration': 'python'" in received[0]["kwargs"]
    watcher["receiver"].should_stop = True
    watcher["thread"].join(10)


def test_a_job_leaves_only_its_expiring_end_mark_in_the_result_store(cluster):
    from norvale.worker.cluster import settings

    before = set(cluster.redis.keys("*"))
    MoraineAnalysis(io.BytesIO(b"slope\n")).execute(timeout=60)
    with pytest.raises(ExecutionError):
        MoraineAnalysis(io.BytesIO(b"INVALID")).execute(timeout=60)
    left = {k.decode() for k in set(cluster.redis.keys("*")) - before}
    # the ":ended" mark drops a late delivery of the job; it expires by itself
    assert len(left) == 2 and all(k.endswith(":ended") for k in left), left
    assert all(0 < cluster.redis.ttl(k) <= settings.ENDED_TTL for k in left)


def test_the_private_servers_listen_on_loopback_only_and_keep_their_password_off_the_command_line(
        rabbit, redis_server):
    from norvale.worker.cluster import localservers

    rabbit_sockets = localservers.listening_sockets(rabbit.pids())
    redis_sockets = localservers.listening_sockets([redis_server.proc.pid])
    # AMQP, Erlang distribution and epmd all found, all on loopback
    assert {int(a.rsplit(":", 1)[1]) for a in rabbit_sockets} >= {rabbit.port, rabbit.dist_port, rabbit.epmd_port}
    assert redis_sockets == [f"127.0.0.1:{redis_server.port}"]
    for address in rabbit_sockets + redis_sockets:
        assert address.rsplit(":", 1)[0] in ("127.0.0.1", "::1"), address
    for pid in rabbit.pids() + [redis_server.proc.pid]:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            assert localservers.PASSWORD.encode() not in f.read()
