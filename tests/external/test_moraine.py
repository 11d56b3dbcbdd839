import base64
import io
import json
import pathlib
from unittest import mock

import pytest

import norvale.external.moraine as moraine
from norvale import worker
from norvale.core import File
from norvale.errors import ExecutionError
from norvale.external.external_program import ExternalProgram
from norvale.external.moraine import MoraineAnalysis


def test_module_is_compiled_and_exports_only_the_job():
    assert moraine.__file__.endswith(".so")
    assert moraine.__all__ == ["MoraineAnalysis"]
    assert MoraineAnalysis.__module__ == "norvale.external.moraine"
    assert issubclass(MoraineAnalysis, ExternalProgram)


class Recorder:
    """A worker that keeps the text of each job file and runs it on the worker it wraps."""

    def __init__(self, inner):
        self.inner, self.jobs = inner, []

    def run(self, job_path, *, timeout):
        self.jobs.append(json.loads(pathlib.Path(job_path).read_text(encoding="utf-8")))
        return self.inner.run(job_path, timeout=timeout)


@pytest.mark.parametrize("make", [io.BytesIO, File.from_data])
def test_the_job_sent_names_the_program_and_carries_the_input_as_base64(standin_worker, make):
    recorder = Recorder(standin_worker)
    worker.set_worker(recorder)
    data = make(b"\x00\xffslope")
    job = MoraineAnalysis(input_file=data)
    assert vars(job) == {"input_file": data}
    job.execute(timeout=30)
    sent = recorder.jobs[0]
    assert (sent["integration"], sent["version"]) == ("moraine", 1)
    assert sent["content"] == {"body": base64.b64encode(b"\x00\xffslope").decode()}


def test_job_content_of_a_wrong_input_type_fails():
    with pytest.raises(AttributeError):
        MoraineAnalysis("not a file")._generate_job_content()


def test_execution_errors_follow_the_kit_map():
    job = MoraineAnalysis(io.BytesIO(b""))

    class Custom(Exception):
        pass

    table = {"boom": ("Readable text", Custom), "quiet": ("", None)}
    with mock.patch("norvale.external.moraine._strata_exception_map", table):
        with pytest.raises(Custom) as info:
            job._handle_execution_error("boom")
        assert info.value.args == ("Readable text",)
        assert job._handle_execution_error("quiet") is None
        assert job._handle_execution_error("boom ") is None


@pytest.mark.parametrize("entry", [("text", KeyError, "extra"), None, "boom"])
def test_an_error_table_entry_that_is_not_a_pair_fails_loudly(entry):
    with mock.patch("norvale.external.moraine._strata_exception_map", {"boom": entry}):
        with pytest.raises((ValueError, TypeError)):
            MoraineAnalysis(io.BytesIO(b""))._handle_execution_error("boom")


def test_what_the_error_class_gives_for_the_text_is_raised():
    given = RuntimeError("other")
    factory = mock.Mock(return_value=given)  # an application's factory may give any exception
    with mock.patch("norvale.external.moraine._strata_exception_map", {"boom": ("text", factory)}):
        with pytest.raises(RuntimeError) as info:
            MoraineAnalysis(io.BytesIO(b""))._handle_execution_error("boom")
    assert info.value is given and factory.call_args == mock.call("text")


@pytest.mark.parametrize("missing", [None, "", 0])
def test_get_output_file_returns_the_false_value_unchanged(missing):
    job = MoraineAnalysis(io.BytesIO(b""))
    with mock.patch("norvale.external.moraine._get_strata_file_body", return_value=missing):
        assert job.get_output_file(as_file=True) is missing


def test_as_file_is_keyword_only():
    with pytest.raises(TypeError):
        MoraineAnalysis(io.BytesIO(b"")).get_output_file(".sto", True)


def test_runs_on_the_embedded_worker_with_the_standin(standin_worker):
    job = MoraineAnalysis(input_file=File.from_data(b"slope"))
    job.execute(timeout=30)
    assert job.get_output_file().getvalue().startswith(b"[MORAINE STAND-IN REPORT]")
    assert job.get_output_file(".err", as_file=True).getvalue_binary() == b""
    assert job.get_output_file(".error.log") is None


def test_program_failure_is_translated(standin_worker):
    job = MoraineAnalysis(io.BytesIO(b"INVALID input"))
    with pytest.raises(ExecutionError, match="Error running the analysis"):
        job.execute(timeout=30)
    assert job.get_output_file() is None
