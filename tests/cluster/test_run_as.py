"""Programs run as a user of their own, and nothing a job can read holds the cluster's passwords."""

import json
import os
import pwd
import shutil
import subprocess
import tempfile
import uuid

import pytest

from norvale import worker
from norvale.errors import ExecutionError

from .helpers import script_job

PYTHON = "/usr/bin/python3"  # one the job's user can reach (the test's own may live in root's home)


@pytest.fixture(scope="module")
def job_user():
    if os.geteuid() != 0:
        pytest.skip("running programs as another user needs root")
    if shutil.which("useradd") is None or not os.path.exists(PYTHON):
        pytest.skip(f"useradd or {PYTHON} is missing")
    name = "nvjob" + uuid.uuid4().hex[:8]
    subprocess.run(["useradd", "--system", "--no-create-home", "--home-dir", "/nonexistent", "--shell",
                    "/usr/sbin/nologin", name], check=True, capture_output=True)
    yield pwd.getpwnam(name)
    subprocess.run(["userdel", name], capture_output=True)


# what the job reports: who it is, what it owns, and every process file it can read that holds a secret
PROBE = """
import json, os
secrets = json.load(open("secrets.json"))
readable, leaks = 0, []
for pid in filter(str.isdigit, os.listdir("/proc")):
    for part in ("cmdline", "environ"):
        try:
            data = open(f"/proc/{pid}/{part}", "rb").read()
        except OSError:
            continue
        readable += 1
        leaks += [f"{pid}/{part}" for s in secrets if s.encode() in data]
try:
    open(secrets_file := json.load(open("where.json"))["config"]).read()
    config_readable = True
except OSError:
    config_readable = False
json.dump({"uid": os.getuid(), "groups": os.getgroups(), "folder_owner": os.stat(".").st_uid,
           "readable": readable, "leaks": leaks, "config_readable": config_readable,
           "norvale_env": sorted(k for k in os.environ if k.startswith(("NORVALE", "CELERY")))},
          open("out.txt", "w"))
"""


def test_programs_run_as_the_configured_user_and_no_readable_process_file_holds_a_secret(
        daemons, rabbit, redis_server, store_dir, job_user):
    from norvale.core import File

    work_root = tempfile.mkdtemp(prefix="norvale-runas-")
    os.chmod(work_root, 0o711)
    try:
        daemon = daemons("runas", {"python": 1}, name="w-runas", store=store_dir.as_uri(), extra={
            "run_as": job_user.pw_name, "work_root": work_root, "programs": {"python": [PYTHON]}})
        previous = worker.get_worker()
        worker.connect(rabbit.url, results=redis_server.url, store=store_dir.as_uri(), prefix="runas")
        try:
            secrets = [rabbit.url, redis_server.url]
            job = script_job(PROBE, files=[("secrets.json", File.from_data(json.dumps(secrets).encode())),
                                           ("where.json", File.from_data(json.dumps({"config": daemon.config}).encode()))])
            job.execute(timeout=60)
            report = json.loads(job.get_output_file("out.txt").getvalue())
            # a sent script cannot return a file of the worker through a link either
            with pytest.raises(ExecutionError, match="is not a file the program wrote in its job folder"):
                script_job(f"import os; os.symlink({daemon.config!r}, 'out.txt')").execute(timeout=60)
        finally:
            worker.set_worker(previous)
    finally:
        shutil.rmtree(work_root, ignore_errors=True)
    assert report["uid"] == job_user.pw_uid and report["folder_owner"] == job_user.pw_uid
    assert 0 not in report["groups"]
    assert report["readable"] > 10  # it did see the process list: every command line, its own environment
    assert report["leaks"] == []
    assert report["norvale_env"] == [] and not report["config_readable"]
    # neither the daemon's log, nor its command line, nor its nodes' carries a password
    assert not any(s in daemon.output() for s in secrets + [redis_server.url.split("@")[0]])
    for pid in [daemon.proc.pid, *daemon.nodes()]:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            assert not any(s.encode() in f.read() for s in secrets)
        with open(f"/proc/{pid}/environ", "rb") as f:
            environ = f.read()
        assert pid == daemon.proc.pid or not any(s.encode() in environ for s in secrets)


def test_a_run_as_worker_that_cannot_work_is_refused_at_start(tmp_path, rabbit, redis_server, store_dir, job_user):
    from .test_setup_checks import start_daemon

    env = {"NORVALE_BROKER_URL": rabbit.url, "NORVALE_RESULTS_URL": redis_server.url,
           "NORVALE_STORE_URL": store_dir.as_uri()}
    closed = tmp_path / "closed"
    closed.mkdir(mode=0o700)
    cases = {
        "nouser": ({"run_as": "no-such-user-x", "licences": {"python": 1}}, "there is no user 'no-such-user-x'"),
        "closedroot": ({"run_as": job_user.pw_name, "work_root": str(closed), "licences": {"python": 1},
                        "programs": {"python": [PYTHON]}}, f"cannot enter {str(closed)!r}"),
    }
    for tag, (data, words) in cases.items():
        proc, path = start_daemon(tmp_path, tag, data, env)
        out, _ = proc.communicate(timeout=60)
        assert proc.returncode == 2 and words in out and path in out, (tag, out)
