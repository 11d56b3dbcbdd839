import base64
import io
import re
from unittest import mock

import pytest

import norvale.external.moraine as moraine
from norvale.core import File
from norvale.errors import ExecutionError
from norvale.external.external_program import ExternalProgram
from norvale.external.moraine import MoraineAnalysis


def test_module_is_compiled_and_exports_only_the_job():
    assert moraine.__file__.endswith(".so")
    assert moraine.__all__ == ["MoraineAnalysis"]
    assert MoraineAnalysis.__module__ == "norvale.external.moraine"
    assert issubclass(MoraineAnalysis, ExternalProgram)


def test_input_is_stored_before_the_base_constructor_runs():
    seen = {}

    def fake_init(self, *args, **kwargs):
        seen["input_file"] = self.input_file
        seen["args"] = (args, kwargs)

    data = io.BytesIO(b"x")
    with mock.patch.object(ExternalProgram, "__init__", fake_init):
        MoraineAnalysis(input_file=data)
    assert seen == {"input_file": data, "args": (("moraine",), {"version": 1})}


@pytest.mark.parametrize("make", [io.BytesIO, File.from_data])
def test_job_content_is_the_base64_body(make):
    job = MoraineAnalysis(make(b"\x00\xffslope"))
    with mock.patch("norvale.external.moraine._JobContent") as content:
        assert job._generate_job_content() is content.return_value
    content.assert_called_once_with(body=base64.b64encode(b"\x00\xffslope").decode())


def test_patched_base64_is_used():
    with mock.patch("norvale.external.moraine._JobContent") as job_content:
        MoraineAnalysis(io.BytesIO(b"abc"))._generate_job_content()
        job_content.assert_called_once_with(body="YWJj")
        with mock.patch("norvale.external.moraine.base64") as patched:
            patched.b64encode.return_value = b"patched"
            MoraineAnalysis(io.BytesIO(b"abc"))._generate_job_content()
    patched.b64encode.assert_called_once_with(b"abc")
    assert job_content.call_args == mock.call(body="patched")


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


@pytest.mark.parametrize("entry, error, text", [
    (("text", KeyError, "extra"), ValueError, "too many values to unpack (expected 2)"),
    (None, TypeError, "cannot unpack non-iterable NoneType object"),
])
def test_error_table_entries_are_unpacked_as_pairs(entry, error, text):
    with mock.patch("norvale.external.moraine._strata_exception_map", {"boom": entry}):
        with pytest.raises(error, match=f"^{re.escape(text)}"):
            MoraineAnalysis(io.BytesIO(b""))._handle_execution_error("boom")


@pytest.mark.parametrize("returned, raised", [
    (RuntimeError("other"), RuntimeError),  # a patched class may return any exception
    (KeyError, KeyError),                   # a class is raised as `raise KeyError` would
    ("not an exception", TypeError),        # "exceptions must derive from BaseException"
])
def test_error_class_result_is_raised_as_python_raises_it(returned, raised):
    factory = mock.Mock(return_value=returned)
    with mock.patch("norvale.external.moraine._strata_exception_map", {"boom": ("text", factory)}):
        with pytest.raises(raised):
            MoraineAnalysis(io.BytesIO(b""))._handle_execution_error("boom")
    factory.assert_called_once_with("text")


def test_get_output_file_passes_through_the_kit_lookup():
    job = MoraineAnalysis(io.BytesIO(b""))
    content = {"some": "result"}
    stream = io.BytesIO(b"report")
    with mock.patch.object(MoraineAnalysis, "_get_result_content", return_value=content), \
            mock.patch("norvale.external.moraine._get_strata_file_body", return_value=stream) as lookup:
        assert job.get_output_file() is stream
        lookup.assert_called_with(content, ".sto")
        as_file = job.get_output_file(".err", as_file=True)
        lookup.assert_called_with(content, ".err")
    assert isinstance(as_file, File) and as_file.getvalue_binary() == b"report"


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
