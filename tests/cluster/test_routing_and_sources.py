"""Which queue a job takes and which a node serves; where a worker's URLs come from. No servers."""

import json
import os

import pytest

from norvale.core import File
from norvale.external.python import PythonAnalysis
from norvale.worker import WorkerConfig
from norvale.worker.cluster import advice, deployment, routing


def head_of(job, tmp_path):
    path = tmp_path / "job.json"
    job._write_job_file(str(path))
    return path.read_text()[:1 << 16]


def test_a_job_goes_where_only_workers_that_can_run_it_listen(tmp_path):
    by_key = PythonAnalysis(script_key="report", output_filenames=["o"])
    sent = PythonAnalysis(script=File.from_data(b'"script_key": "report"' * 5000), output_filenames=["o"])
    assert routing.script_key_of(head_of(by_key, tmp_path)) == "report"
    assert routing.script_key_of(head_of(sent, tmp_path)) is None  # whatever the script's text holds
    key_queue = routing.job_queue("p", "python", "report")
    sent_queue = routing.job_queue("p", "python", None)
    local_only = WorkerConfig(scripts={"report": "r.py"}, local_scripts_only=True)
    open_worker = WorkerConfig(scripts={"other": "o.py"})
    assert key_queue in routing.node_queues("p", "python", local_only)
    assert sent_queue not in routing.node_queues("p", "python", local_only)
    assert routing.node_queues("p", "python", open_worker) == [sent_queue, routing.job_queue("p", "python", "other")]
    assert routing.node_queues("p", "python", WorkerConfig(local_scripts_only=True)) == []
    assert routing.node_queues("p", "korro", local_only) == ["p.korro"]
    # keys that are no plain queue names still get one queue each, and distinct keys distinct queues
    odd = [routing.job_queue("p", "python", k) for k in ("a b", "a.b", "ä", "x" * 300)]
    assert len(set(odd)) == 4 and all(q.startswith("p.python.script.h") and len(q) < 80 for q in odd)


def test_urls_come_from_the_command_line_then_the_environment_then_the_file(tmp_path):
    path = str(tmp_path / "worker.json")
    data = {"broker": "amqp://f:filepw@h//", "results": "redis://:filepw@h/0", "store": "file:///s",
            "store_options": {"auto_mkdir": False}}
    env = {"NORVALE_RESULTS_URL": "redis://:envpw@h/0", "NORVALE_STORE_OPTIONS": '{"a": 1}'}
    urls, warnings = deployment.resolve(path, data, {"broker": "amqp://c:clipw@h//"}, env)
    assert (urls.broker, urls.results, urls.store, urls.store_options) == (
        "amqp://c:clipw@h//", "redis://:envpw@h/0", "file:///s", {"a": 1})
    assert urls.origins == {"broker": "--broker", "results": "$NORVALE_RESULTS_URL", "store": f'{path} "store"',
                            "store_options": "$NORVALE_STORE_OPTIONS"}
    assert len(warnings) == 1 and "command line" in warnings[0] and "clipw" not in warnings[0]
    with pytest.raises(deployment.DeploymentError, match=r"no store URL: give it in \$NORVALE_STORE_URL"):
        deployment.resolve(path, {}, {"broker": "amqp://h//", "results": "redis://h"}, {})


def test_a_worker_file_with_secrets_must_be_private_and_its_errors_name_it(tmp_path):
    path = tmp_path / "worker.json"
    path.write_text(json.dumps({"results": "redis://:pw@h/0", "licences": {"python": 1}}))
    os.chmod(path, 0o640)
    with pytest.raises(deployment.DeploymentError, match="other users may read it"):
        deployment.read_worker_file(str(path))
    os.chmod(path, 0o600)
    assert deployment.read_worker_file(str(path))["licences"] == {"python": 1}
    path.write_text('{"licences": {"python": 1}\n"x": 1}')
    with pytest.raises(ValueError, match=f"{path}.* is not valid JSON"):
        deployment.read_worker_file(str(path))


def test_a_worker_failure_says_which_worker_and_what_fixes_it_there():
    failure = advice.reported_failure({"status": "failure", "worker": "desk-12", "message":
                                       "No Korro program is configured on this worker: configure one with ..."})
    assert failure.message.startswith("No Korro program")  # the text the modules look up, unchanged
    assert failure.worker_name == "desk-12"
    assert failure.advice == ("the worker 'desk-12' has no such program: add it to \"programs\" in its worker.json "
                              "and restart its norvale-worker",)
    assert advice.reported_failure({"status": "failure", "message": "Error running analysis"}).advice == ()
