"""Program failures carry their diagnostics; worker-side problems say what is wrong and how to fix it."""

import io
import stat
import sys

import pytest

from norvale import worker
from norvale.core import File
from norvale.errors import ExecutionError
from norvale.external.korro import KORROAnalysis, WriteResultsAction
from norvale.external.moraine import MoraineAnalysis
from norvale.external.pylon import PYLONAnalysis
from norvale.external.tarsis.tarsis import TarsisAnalysis
from norvale.worker import WorkerFailure

TARSIS_XML = b'<project xmlns="urn:norvale:tarsis"><def uri="m.def"/>TARSIS_EXIT=4</project>'

FAILING_JOBS = {
    # documented message, exit status, a line the program wrote
    "moraine": (lambda: MoraineAnalysis(io.BytesIO(b"INVALID")),
                "Error running the analysis, please check the input file, license and server", 1),
    "korro": (lambda: KORROAnalysis(io.BytesIO(b"FAIL"), [WriteResultsAction()]),
              "Error running KORRO analysis, please check all inputs, license and server", 3),
    "tarsis": (lambda: TarsisAnalysis(io.BytesIO(TARSIS_XML), io.BytesIO(b"d"), io.BytesIO(b"m")),
               "Error running TARSIS analysis, cannot open project file", 4),
}


def shout_then(command, exit_status=None):
    """A program that writes to stdout and stderr, then runs `command` (or exits)."""
    code = ("import sys, subprocess; print('line on stdout'); print('line on stderr', file=sys.stderr); "
            + (f"sys.exit({exit_status})" if exit_status is not None
               else f"sys.exit(subprocess.call({command!r} + sys.argv[1:]))"))
    return [sys.executable, "-c", code]


@pytest.mark.parametrize("name", sorted(FAILING_JOBS))
def test_program_failure_keeps_the_documented_message_and_adds_the_diagnostics(standin_worker, name):
    make, message, status = FAILING_JOBS[name]
    standin_worker.config.update(programs={name: shout_then(worker.standins.command(name))})
    job = make()
    with pytest.raises(ExecutionError) as caught:
        job.execute(timeout=60)
    error = caught.value
    assert error.args == (message,)
    assert error.exit_status == status
    assert error.worker_message != message and error.worker_message
    assert "line on stdout" in error.program_output and "line on stderr" in error.program_output
    notes = "\n".join(error.__notes__)
    assert f"worker message: {error.worker_message}" in notes
    assert f"program exit status: {status}" in notes
    assert "line on stderr" in notes
    assert "line on stdout" in job.get_program_log()


def test_unmapped_failure_and_success_logs(local_worker):
    local_worker.config.update(programs={"moraine": shout_then(None, exit_status=0)})
    job = MoraineAnalysis(io.BytesIO(b"x"))
    assert job.get_program_log() == ""
    with pytest.raises(ExecutionError) as caught:  # exit 0 but no output: a worker message of its own
        job.execute(timeout=60)
    error = caught.value
    assert error.args == ("The analysis finished without writing an output file, please check the input file",)
    assert error.exit_status == 0
    assert job.get_program_log() == "[stdout]\nline on stdout\n[stderr]\nline on stderr"

    # a successful run keeps its log too, and a second run replaces it
    local_worker.config.update(programs={"moraine": [sys.executable, "-c", "print('fine'); open('a.sto', 'w')"]})
    job.execute(timeout=60)
    assert job.get_program_log() == "fine"


def test_output_tail_is_bounded(local_worker):
    program = [sys.executable, "-c", "print('x' * 200000 + 'END'); raise SystemExit(1)"]
    local_worker.config.update(programs={"moraine": program})
    job = MoraineAnalysis(io.BytesIO(b"x"))
    with pytest.raises(ExecutionError) as caught:
        job.execute(timeout=60)
    assert caught.value.program_output.endswith("END") and len(caught.value.program_output) == 4000
    assert job.get_program_log().endswith("END") and 64000 < len(job.get_program_log()) <= 64 * 1024
    assert "program output (end):" in "\n".join(caught.value.__notes__)


def test_custom_worker_failure_fields_reach_the_error(local_worker):
    class Remote:
        def run(self, job_path, *, timeout):
            raise WorkerFailure("Error running KORRO analysis", exit_status=-9, output="killed by the host")

    worker.set_worker(Remote())
    job = KORROAnalysis(io.BytesIO(b"m"), [])
    with pytest.raises(ExecutionError, match="please check all inputs") as caught:
        job.execute(timeout=5)
    assert (caught.value.exit_status, caught.value.program_output) == (-9, "killed by the host")
    assert caught.value.worker_message == "Error running KORRO analysis"
    assert job.get_program_log() == "killed by the host"


def _not_executable(tmp_path):
    path = tmp_path / "program.sh"
    path.write_text("#!/bin/sh\nexit 0\n")
    path.chmod(stat.S_IRUSR)
    return [str(path)]


@pytest.mark.parametrize("case, expected", [
    ("missing program", r"The program '.*/nowhere/moraine' configured for 'moraine' does not exist: configure .*"
                        r"norvale\.worker\.configure\(programs=\{'moraine': \[<command>, \.\.\.\]\}\)"),
    ("not executable", r"The program '.*program\.sh' configured for 'moraine' cannot be run \(Permission denied\): "
                       r"make it executable \(chmod \+x\)"),
    ("missing work root", r"The worker's work root '.*/gone' does not exist: create it, or configure another "
                          r"with norvale\.worker\.configure\(work_root=<directory>\)"),
])
def test_worker_side_problems_are_execution_errors(local_worker, tmp_path, case, expected):
    if case == "missing program":
        local_worker.config.update(programs={"moraine": [str(tmp_path / "nowhere" / "moraine")]})
    elif case == "not executable":
        local_worker.config.update(programs={"moraine": _not_executable(tmp_path)})
    else:
        local_worker.config.update(programs={"moraine": ["true"]}, work_root=str(tmp_path / "gone"))
    with pytest.raises(ExecutionError, match=expected) as caught:
        MoraineAnalysis(io.BytesIO(b"x")).execute(timeout=30)
    assert caught.value.__cause__ is None
    assert not isinstance(caught.value.__context__, OSError)


def test_missing_configured_script_is_an_execution_error(local_worker, tmp_path):
    local_worker.config.update(scripts={"report": str(tmp_path / "report.py")})
    job = PYLONAnalysis(script_key="report", output_filenames=["out.txt"])
    with pytest.raises(ExecutionError, match=r"The script '.*report\.py' configured for the script key 'report' "
                                             r"cannot be read \(No such file or directory\): fix the path with "
                                             r"norvale\.worker\.configure\(scripts=\{'report': <path>\}\)"):
        job.execute(timeout=30)


def test_script_and_key_together_are_refused_by_the_worker(local_worker, tmp_path):
    job = PYLONAnalysis(script_key="report")
    job.script = File.from_data(b"pass")  # bypass the constructor's check, as another client could
    with pytest.raises(ExecutionError, match="carries both a script and a script_key"):
        job.execute(timeout=30)
