"""The worker protocol: one module both sides import, and no import cycle between kit and worker."""

import subprocess
import sys

import pytest

from norvale.external import external_program
from norvale.worker import LocalWorker, WorkerResult, protocol


@pytest.mark.parametrize("first, absent", [
    ("norvale.worker.protocol", ("norvale.core", "norvale.external", "norvale.errors")),
    ("norvale.worker", ("norvale.core", "norvale.external", "norvale.errors")),
    ("norvale.external.external_program", ()),
    ("norvale.external.moraine", ()),
])
def test_imports_in_any_order_without_a_cycle(first, absent):
    code = (f"import sys, {first}\n"
            f"bad = [m for m in sys.modules if m in {absent!r} or any(m.startswith(a + '.') for a in {absent!r})]\n"
            "assert not bad, bad\n"
            "import norvale.external.external_program as ep, norvale.worker as w\n"
            "assert ep.ResultBody is w.ResultBody is w.protocol.ResultBody\n")
    subprocess.run([sys.executable, "-c", code], check=True)


def test_the_shared_classes_are_one_and_satisfy_the_protocols(tmp_path):
    assert external_program.ResultBody is protocol.ResultBody
    assert isinstance(LocalWorker(), protocol.Worker)
    result = WorkerResult({}, str(tmp_path / "gone-later"), exit_status=0, output="ok")
    assert isinstance(result, protocol.RunResult)
    failure = protocol.WorkerFailure("Error running analysis", exit_status=2, output="tail")
    assert (failure.args, failure.message, failure.exit_status, failure.output) == (
        ("Error running analysis",), "Error running analysis", 2, "tail")
