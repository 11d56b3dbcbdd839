"""Workers that die or stop, a broker that restarts, an S3 file store, and what crosses the broker."""

import io
import json
import logging
import os
import signal
import subprocess
import sys

import pytest

from norvale import worker
from norvale.errors import ExecutionError
from norvale.external.moraine import MoraineAnalysis
from norvale.worker.cluster import localservers

from .helpers import alive, in_thread, read_pid, script_job, sleeper_job, wait_for

HERE = os.path.dirname(os.path.abspath(__file__))
SLEEPER = {"local_scripts_only": True, "scripts": {"sleeper": os.path.join(HERE, "sleeper_script.py")}}


@pytest.fixture
def connect_to(rabbit, redis_server):
    previous = worker.get_worker()

    def connect(prefix, store, **options):
        return worker.connect(rabbit.url, results=redis_server.url, store=store, prefix=prefix, **options)

    yield connect
    worker.set_worker(previous)


def test_killed_worker_leaves_no_program_and_its_job_runs_again(daemons, connect_to, store_dir, tmp_path):
    daemon = daemons("loss", {"python": 1}, name="w-loss", store=store_dir.as_uri(), extra=SLEEPER)
    connect_to("loss", store_dir.as_uri())
    job, pid_path = sleeper_job(tmp_path, "loss")
    box = in_thread(job.execute, timeout=120)
    first = wait_for(lambda: read_pid(pid_path), what="the first run")
    node = daemon.nodes()[0]
    os.kill(node, signal.SIGKILL)
    wait_for(lambda: not alive(first), limit=5, what="the supervisor to kill the program")
    box["thread"].join(90)
    assert "error" not in box, box.get("error")
    assert job.get_output_file("out.txt").getvalue() == "run 2"
    assert "starting it again" in daemon.output()


def test_sigterm_hands_running_jobs_back_and_sent_scripts_pass_by_local_only_workers(daemons, connect_to,
                                                                                     store_dir, tmp_path):
    first_daemon = daemons("handback", {"python": 1}, name="w-first", store=store_dir.as_uri(), extra=SLEEPER)
    connect_to("handback", store_dir.as_uri())
    with pytest.raises(ExecutionError) as unserved:  # routed past the worker that would refuse it
        script_job("pass").execute(timeout=3)
    assert "within 3 seconds" in str(unserved.value) and "local scripts only" not in str(unserved.value)
    job, pid_path = sleeper_job(tmp_path, "handback")
    box = in_thread(job.execute, timeout=120)
    first = wait_for(lambda: read_pid(pid_path), what="the first run")
    assert first_daemon.stop(signal.SIGTERM) == 0
    assert not alive(first)
    assert "handed back to the queue" in first_daemon.output()
    daemons("handback", {"python": 1}, name="w-second", store=store_dir.as_uri(), extra=SLEEPER)
    box["thread"].join(90)
    assert "error" not in box, box.get("error")
    assert job.get_output_file("out.txt").getvalue() == "run 2"


def test_s3_store(daemons, connect_to, s3):
    store = f"s3://{s3.bucket}/jobs"
    daemons("s3", {"moraine": 1}, name="w-s3", store=store, store_options=s3.options)
    connect_to("s3", store, store_options=s3.options)
    job = MoraineAnalysis(io.BytesIO(b"slope on s3\n"))
    job.execute(timeout=60)
    assert job.get_output_file(".sto").getvalue()
    import fsspec
    fs = fsspec.filesystem("s3", **s3.options, skip_instance_cache=True)
    assert fs.find(f"{s3.bucket}/jobs") == []


def test_only_json_references_cross_the_broker_and_no_password_is_logged(connect_to, rabbit, redis_server,
                                                                          store_dir, caplog):
    from kombu import Connection

    cluster = connect_to("peek", store_dir.as_uri())
    secret = b"SECRET-BYTES-" * 100
    with caplog.at_level(logging.DEBUG):
        with pytest.raises(ExecutionError, match="did not finish within 2 seconds"):
            MoraineAnalysis(io.BytesIO(secret)).execute(timeout=2)  # no worker serves "peek"
    with Connection(rabbit.url) as conn:
        message = conn.default_channel.basic_get("peek.moraine", no_ack=True)
    assert message.content_type == "application/json"
    body = message.body if isinstance(message.body, bytes) else message.body.encode()
    assert b"SECRET" not in body and b"U0VDUkVU" not in body  # neither the bytes nor their Base64
    args, kwargs, _ = json.loads(body)
    assert set(kwargs) == {"job_id", "integration", "timeout", "budget", "max_attempts"}
    assert localservers.PASSWORD not in caplog.text + repr(cluster)


def test_a_job_that_kills_its_node_and_supervisor_leaves_no_job_folder(daemons, connect_to, store_dir, tmp_path):
    daemon = daemons("suicide", {"python": 1}, name="w-suicide", store=store_dir.as_uri())
    connect_to("suicide", store_dir.as_uri())
    record = tmp_path / "node.pid"
    code = (f"import os, signal\nif not os.path.exists({str(record)!r}):\n"
            "    sup = os.getppid()\n"
            "    node = int(open(f'/proc/{sup}/stat').read().rsplit(')', 1)[1].split()[1])\n"
            f"    open({str(record)!r}, 'w').write(str(node))\n"
            "    os.kill(node, signal.SIGKILL)\n    os.kill(sup, signal.SIGKILL)\n"
            "open('out.txt', 'w').write('second run')\n")
    job = script_job(code)
    job.execute(timeout=60)
    assert job.get_output_file("out.txt").getvalue() == "second run"
    killed = int(record.read_text())
    work_root = os.path.dirname(daemon.config)
    assert [n for n in os.listdir(work_root) if f"-n{killed}-" in n] == []
