"""The kit's types and helpers that the modules rely on."""

import base64
import gzip
import io
import json
from unittest import mock

import pytest

from norvale import core
from norvale.core import File, _post_on_addon_endpoint, register_addon_service, unregister_addon_service
from norvale.errors import ExecutionError, InternalError
from norvale.external.external_program import (
    ExternalProgram,
    ResultBody,
    _JobContent,
    _StreamedDict,
    _get_file_body,
    _get_strata_file_body,
    _strata_exception_map,
)
from norvale.geometry import Vector


def test_file_in_memory_and_on_disk(tmp_path):
    f = File.from_data(b"abc")
    assert f.getvalue_binary() == b"abc" and f.getvalue() == "abc"
    with f.open_binary() as stream:
        assert stream.read() == b"abc"
    assert File.from_data("é").getvalue_binary() == "é".encode()
    path = tmp_path / "x.bin"
    path.write_bytes(b"\x00disk")
    g = File.from_path(path)
    assert g.getvalue_binary() == b"\x00disk" and g.size == 5
    with g.open_binary() as stream:
        stream.seek(1)
        assert stream.read() == b"disk"
    with pytest.raises(FileNotFoundError):
        File.from_path(tmp_path / "missing")
    with pytest.raises(TypeError):
        File.from_data(12)


def test_file_body_helpers():
    assert _get_file_body(None) is None and _get_file_body("") is None
    body = _get_file_body(base64.b64encode(b"xyz").decode())
    assert isinstance(body, io.BytesIO) and body.tell() == 0 and body.getvalue() == b"xyz"
    with pytest.raises(ExecutionError, match="not valid Base64"):
        _get_file_body("@@@")


def test_strata_lookup_by_extension():
    entry = lambda name, data: {"filename": name, "type": "", "body": base64.b64encode(data).decode()}
    content = {"output_files": [entry("in.error.log", b"log"), entry("in.sto", b"sto"), entry("in.err", b"err")]}
    assert _get_strata_file_body(content, ".sto").getvalue() == b"sto"
    assert _get_strata_file_body(content, ".err").getvalue() == b"err"
    assert _get_strata_file_body(content, ".error.log").getvalue() == b"log"
    assert _get_strata_file_body(content, ".xyz") is None
    assert _get_strata_file_body({}, ".sto") is None
    text, cls = _strata_exception_map["Error running analysis"]
    assert cls is ExecutionError and text


def test_streamed_dict(tmp_path):
    packed = base64.b64encode(gzip.compress(b"<xml/>")).decode()
    reply = _StreamedDict.from_dict({"input_file": packed, "empty": ""})
    assert reply["input_file"] == packed
    assert reply.get_value_as_file("input_file", decompress=True).getvalue_binary() == b"<xml/>"
    assert not reply.get_value_as_file("missing", decompress=True)
    assert not reply.get_value_as_file("empty", decompress=True)
    with pytest.raises(KeyError):
        reply["missing"]
    with pytest.raises(gzip.BadGzipFile):
        _StreamedDict.from_dict({"x": base64.b64encode(b"plain").decode()}).get_value_as_file("x", decompress=True)
    path = tmp_path / "b"
    path.write_bytes(b"on disk")
    on_disk = _StreamedDict.from_dict({"f": ResultBody(str(path))})
    assert on_disk["f"] == base64.b64encode(b"on disk").decode()
    with pytest.raises(TypeError):
        _StreamedDict.from_dict(["not", "a", "mapping"])


def test_addon_registry():
    calls = []

    def echo(payload, *, timeout):
        calls.append((payload, timeout))
        return {"ok": True}

    def broken(payload, *, timeout):
        raise RuntimeError("disk full")

    register_addon_service("test/echo/", echo)
    register_addon_service("test/broken/", broken)
    try:
        assert _post_on_addon_endpoint("test/echo/", {"a": 1}, timeout=60) == {"ok": True}
        assert calls == [({"a": 1}, 60)]
        with pytest.raises(InternalError, match="disk full") as info:
            _post_on_addon_endpoint("test/broken/", {}, timeout=1)
        assert isinstance(info.value.__cause__, RuntimeError)
        with pytest.raises(InternalError, match="No add-on service is registered for the endpoint 'nope/'"):
            _post_on_addon_endpoint("nope/", {}, timeout=1)
    finally:
        unregister_addon_service("test/echo/")
        unregister_addon_service("test/broken/")
    assert "filltarsistemplate/v10/jobs/" in core.addon_services()


def test_vector():
    v = Vector(1, 0, 0).cross(Vector(0, 1, 0))
    assert (v.x, v.y, v.z) == (0, 0, 1)
    assert Vector(3, 0, 4).normalize() == Vector(0.6, 0, 0.8)
    assert Vector(1, 2, 3) * 2 == Vector(2, 4, 6) == 2 * Vector(1, 2, 3)
    with pytest.raises(ValueError):
        Vector(0, 0, 0).normalize()


class Streaming(ExternalProgram):
    _multipart_job_content = True

    def __init__(self, data):
        super().__init__("custom", version=3)
        self.data = data

    def _write_job_content(self, w):
        w.write('"files": [{"filename": "a.bin", "type": "bin", "body": "')
        self._write_file_content_to_file(w, io.BytesIO(self.data), base64_encoding=True)
        w.write('"}]')


def test_job_file_of_a_streaming_job(tmp_path):
    data = bytes(range(256)) * 40000  # several read chunks
    path = tmp_path / "job.json"
    Streaming(data)._write_job_file(str(path))
    job = json.loads(path.read_text())
    assert (job["integration"], job["version"], job["kind"]) == ("custom", 3, "program")
    assert base64.b64decode(job["content"]["files"][0]["body"]) == data


def test_write_file_content_reads_from_the_current_position():
    w = io.StringIO()
    stream = io.BytesIO(b"0123456789")
    stream.seek(4)
    ExternalProgram("x")._write_file_content_to_file(w, stream)
    assert w.getvalue() == base64.b64encode(b"456789").decode()
    w = io.StringIO()
    ExternalProgram("x")._write_file_content_to_file(w, io.BytesIO("é".encode()), base64_encoding=False)
    assert w.getvalue() == "é"


def test_results_before_execute_and_bad_job_content(local_worker):
    job = ExternalProgram("custom", 1)
    assert job._get_result_content() == {}
    assert job._get_result("anything") is None and job._get_result("anything", as_file=True) is None
    job._generate_job_content = lambda: {"not": "a record"}
    with pytest.raises(TypeError, match="must return a _JobContent"):
        job.execute(timeout=5)


def test_unknown_worker_message_is_raised_as_execution_error(local_worker):
    job = ExternalProgram("no-such-integration", 1)
    job._generate_job_content = lambda: _JobContent(body="")
    with pytest.raises(ExecutionError, match="This worker does not run 'no-such-integration' jobs"):
        job.execute(timeout=5)


def test_get_result_decodes_entries_and_bodies():
    job = ExternalProgram("custom", 1)
    body = base64.b64encode(b"out").decode()
    with mock.patch.object(ExternalProgram, "_get_result_content",
                           return_value={"a": {"filename": "a", "type": "x", "body": body}, "b": body}):
        assert job._get_result("a").getvalue() == b"out"
        assert job._get_result("b", as_file=True).getvalue_binary() == b"out"


def test_subclass_without_base_init_gets_a_clear_error():
    class Broken(ExternalProgram):
        def __init__(self):
            pass

    with pytest.raises(ExecutionError, match="must call ExternalProgram.__init__"):
        Broken().execute(timeout=5)


def test_job_file_of_a_record_job_with_long_and_odd_values(tmp_path):
    body = base64.b64encode(bytes(range(256)) * 30000).decode()  # longer than one write slice
    job = ExternalProgram("custom", 1)
    members = dict(body=body, files=[{"filename": "é\"x", "type": "t", "body": "QQ=="}], n=None, k={1: 2.5})
    job._generate_job_content = lambda: _JobContent(**members)
    path = tmp_path / "job.json"
    job._write_job_file(str(path))
    content = json.loads(path.read_text())["content"]
    assert content == json.loads(json.dumps(members))
