"""Every name a program writes stays in its job folder; what it returns must be its own file."""

import io
import sys

import pytest

from norvale.errors import ExecutionError
from norvale.external.moraine import MoraineAnalysis
from norvale.external.tarsis.tarsis import ResultType, TarsisAnalysis
from norvale.worker.adapters import safe_name
from norvale.worker import WorkerFailure

from norvale.core import File
from norvale.external.python import PythonAnalysis


def script_job(text):
    return PythonAnalysis(script=File.from_data(text.encode()), output_filenames=["out.txt"])

TARSIS_XML = b'<project xmlns="urn:norvale:tarsis"><def uri="m.def"/></project>'


def marker_program(tmp_path):
    """A program that only leaves a marker file behind when it runs."""
    marker = tmp_path / "ran"
    return [sys.executable, "-c", f"open({str(marker)!r}, 'w').close()"], marker


@pytest.mark.parametrize("document", ["../../escaped", "/tmp/norvale-escaped", "sub/report", ".."])
def test_a_report_name_that_is_not_plain_is_refused_before_the_program_runs(local_worker, tmp_path, document):
    command, marker = marker_program(tmp_path)
    local_worker.config.update(programs={"tarsis": command})
    job = TarsisAnalysis(io.BytesIO(TARSIS_XML), io.BytesIO(b"d"), io.BytesIO(b"m"),
                         result_type=ResultType.ENGINEERING_REPORT, output_document=document)
    with pytest.raises(ExecutionError) as caught:
        job.execute(timeout=30)
    with pytest.raises(WorkerFailure) as plain:
        safe_name(document)
    assert caught.value.worker_message == plain.value.message  # the existing words for such names
    assert "only plain file names are accepted" in plain.value.message
    assert not marker.exists()


def test_a_script_output_that_is_a_link_is_not_returned(local_worker, tmp_path):
    secret = tmp_path / "worker-secret.txt"
    secret.write_text("the worker's own file")
    for text in (f"import os; os.symlink({str(secret)!r}, 'out.txt')",
                 f"import os; os.symlink({str(tmp_path)!r}, 'sub'); open('sub/x', 'w').close(); "
                 f"os.symlink('sub/x', 'out.txt')"):
        with pytest.raises(ExecutionError) as caught:
            script_job(text).execute(timeout=30)
        assert caught.value.worker_message == (
            "The output 'out.txt' is not a file the program wrote in its job folder (a link, or a path outside "
            "it): it is not returned")
    assert secret.read_text() == "the worker's own file"


def test_a_program_that_leaves_a_link_among_its_outputs_fails_instead_of_returning_it(local_worker, tmp_path):
    secret = tmp_path / "worker-secret.txt"
    secret.write_text("the worker's own file")
    code = f"import os, sys; open('input.sto', 'w').write('ok'); os.symlink({str(secret)!r}, 'input.err')"
    local_worker.config.update(programs={"moraine": [sys.executable, "-c", code]})
    with pytest.raises(ExecutionError) as caught:
        MoraineAnalysis(io.BytesIO(b"slope")).execute(timeout=30)
    assert "'input.err' is not a file the program wrote in its job folder" in caught.value.worker_message
