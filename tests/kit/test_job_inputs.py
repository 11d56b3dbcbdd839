"""Job inputs: every execute sends the same bytes, big files stream, wrong kinds get clear errors."""

import base64
import io
import json
import pathlib
from unittest import mock

import pytest

import norvale.external.korro as korro
import norvale.external.moraine as moraine
from norvale import _native, worker
from norvale.core import File
from norvale.external.korro import KORROAnalysis, WriteResultsAction
from norvale.external.moraine import MoraineAnalysis
from norvale.external.pylon import PYLONAnalysis
from norvale.external.tarsis.tarsis import TarsisAnalysis

XML = b'<project xmlns="urn:norvale:tarsis"><def uri="m.def"/><node id="1"/></project>'
SCRIPT = File.from_data(b"import shutil; shutil.copy('in.txt', 'out.txt')\n")


class Recorder:
    """Runs jobs on the given worker and keeps each job file's text."""

    def __init__(self, inner):
        self.inner, self.jobs = inner, []

    def run(self, job_path, *, timeout):
        self.jobs.append(pathlib.Path(job_path).read_text(encoding="utf-8"))
        return self.inner.run(job_path, timeout=timeout)


def _bodies(job_text):
    found = []

    def walk(value):
        if isinstance(value, dict):
            if "body" in value:
                found.append(base64.b64decode(value["body"]))
            for item in value.values():
                walk(item)
        elif isinstance(value, list):
            for item in value:
                walk(item)

    walk(json.loads(job_text)["content"])
    return found


JOBS = {
    "moraine": lambda: MoraineAnalysis(io.BytesIO(b"slope input")),
    "korro": lambda: KORROAnalysis(io.BytesIO(b"LOADCASE 1\n"), [WriteResultsAction([1])]),
    "tarsis": lambda: TarsisAnalysis(io.BytesIO(XML), io.BytesIO(b"definition"), io.BytesIO(b"project")),
    "pylon": lambda: PYLONAnalysis(script=SCRIPT, files=[("in.txt", File.from_data(b"payload"))],
                                   output_filenames=["out.txt"]),
}


@pytest.mark.parametrize("name", sorted(JOBS))
def test_a_second_execute_sends_the_same_job(standin_worker, name):
    recorder = Recorder(standin_worker)
    worker.set_worker(recorder)
    job = JOBS[name]()
    job.execute(timeout=60)
    job.execute(timeout=60)
    first, second = recorder.jobs
    assert first == second
    assert all(_bodies(first)), "no input may travel empty"


class Trickle(io.BytesIO):
    """A stream whose reads come back short, as a pipe's or a socket's do."""

    def read(self, size=-1):
        return super().read(1000 if size is None or size < 0 else min(size, 1000))


@pytest.mark.parametrize("into", ["text file", "text buffer"])
def test_short_reads_still_give_one_base64_text(tmp_path, into):
    data = bytes(range(256)) * 50 + b"xy"  # 1000-byte reads, not a multiple of 3
    job = TarsisAnalysis(io.BytesIO(XML), io.BytesIO(b"d"), io.BytesIO(b"m"))
    if into == "text file":
        path = tmp_path / "out.txt"
        with open(path, "w", encoding="utf-8") as out:
            out.write("[")
            job._write_file_content_to_file(out, Trickle(data))
            out.write("]")
        text = path.read_text()
    else:
        buffer = io.StringIO()
        job._write_file_content_to_file(buffer, Trickle(data))
        text = "[" + buffer.getvalue() + "]"
    assert text == "[" + base64.b64encode(data).decode() + "]"


def test_stream_helper_puts_the_stream_back(tmp_path):
    job = TarsisAnalysis(io.BytesIO(XML), io.BytesIO(b"d"), io.BytesIO(b"m"))
    stream = io.BytesIO(b"0123456789")
    stream.seek(4)
    out = io.StringIO()
    job._write_file_content_to_file(out, stream)
    job._write_file_content_to_file(out, stream)
    assert out.getvalue() == base64.b64encode(b"456789").decode() * 2 and stream.tell() == 4

    class Broken(io.BytesIO):
        def read(self, size=-1):
            raise OSError("disk gone")

    broken = Broken(b"abc")
    with pytest.raises(OSError, match="disk gone"):
        job._write_file_content_to_file(io.StringIO(), broken)
    assert broken.tell() == 0


# -- streaming -------------------------------------------------------------------------------------

@pytest.fixture
def disk_file(tmp_path):
    path = tmp_path / "big.bin"
    path.write_bytes(bytes(range(256)) * 40 + b"tail")  # not a multiple of 3
    return File.from_path(path), path.read_bytes()


@pytest.mark.parametrize("module, make, body", [
    (moraine, lambda f: MoraineAnalysis(f), lambda content: content["body"]),
    (korro, lambda f: KORROAnalysis(f, []), lambda content: content["model"]["body"]),
])
def test_file_on_disk_is_encoded_without_its_bytes(disk_file, module, make, body):
    file, data = disk_file
    with mock.patch.object(_native, "b64encode_file", wraps=_native.b64encode_file) as native, \
            mock.patch.object(File, "getvalue_binary", side_effect=AssertionError("read whole")):
        content = make(file)._generate_job_content()
    native.assert_called_once_with(file.path)  # read and encoded in pieces
    assert body(content) == base64.b64encode(data).decode()

    # an application's own File reads its content its own way; a file in memory is its bytes
    class MyFile(File):
        def getvalue_binary(self):
            return b"mine"

    mine = MyFile.from_path(file.path)
    assert body(make(mine)._generate_job_content()) == base64.b64encode(b"mine").decode()
    assert body(make(File.from_data(data))._generate_job_content()) == base64.b64encode(data).decode()


def test_script_analysis_streams_its_files(local_worker, disk_file):
    file, data = disk_file
    recorder = Recorder(local_worker)
    worker.set_worker(recorder)
    job = PYLONAnalysis(script=SCRIPT, files=[("in.txt", file)], output_filenames=["out.txt"])
    with mock.patch.object(File, "getvalue_binary", side_effect=AssertionError("read whole")):
        job.execute(timeout=60)
    assert job.get_output_file("out.txt").getvalue_binary() == data
    content = json.loads(recorder.jobs[0])["content"]
    assert list(content) == ["script", "script_key", "files", "output_filenames"]
    assert content["files"][0] == {"filename": "in.txt", "type": "txt", "body": base64.b64encode(data).decode()}


# -- wrong kinds -----------------------------------------------------------------------------------

WRONG = [
    ("a str", "input.sti"),
    ("a bytes object", b"raw bytes"),
    (r"a path \(PosixPath\)", pathlib.Path("input.sti")),
]


@pytest.mark.parametrize("kind, value", WRONG)
@pytest.mark.parametrize("make, parameter", [
    (lambda v: MoraineAnalysis(v), "input_file"),
    (lambda v: KORROAnalysis(v, []), "kox_file"),
    (lambda v: TarsisAnalysis(io.BytesIO(XML), v, io.BytesIO(b"m")), "xml_def_file"),
])
def test_wrong_input_kinds_are_named_at_execute(standin_worker, make, parameter, kind, value):
    job = make(value)  # constructors store what they are given
    with pytest.raises(TypeError, match=rf"^\w+Analysis: {parameter} must be an io.BytesIO or a norvale.core.File, "
                                        rf"not {kind}; use File.from_path\(path\)"):
        job.execute(timeout=10)


def test_open_file_is_a_wrong_kind(standin_worker, tmp_path):
    (tmp_path / "in.sti").write_bytes(b"x")
    with open(tmp_path / "in.sti", "rb") as f:
        with pytest.raises(TypeError, match=r"input_file .* not an open file \(BufferedReader\)"):
            MoraineAnalysis(f).execute(timeout=10)


def test_patched_stream_type_of_a_module_is_accepted(standin_worker):
    class Stream(io.StringIO):
        def getvalue(self):
            return b"slope"

    with mock.patch.object(moraine, "BytesIO", Stream):
        job = MoraineAnalysis(Stream())
        job.execute(timeout=30)
    assert job.get_output_file(".sto") is not None


@pytest.mark.parametrize("kwargs, error, match", [
    ({"script": SCRIPT, "script_key": "k"}, ValueError, "either a script or a script_key, not both"),
    ({"script": "print(1)"}, TypeError, r"script must be a File, not a str; build one with File.from_path"),
    ({"script": SCRIPT, "output_filenames": "out.txt"}, TypeError,
     r"output_filenames must be a list of file names, not a str: write \['out.txt'\]"),
    ({"script": SCRIPT, "files": [("in.txt", b"data")]}, TypeError,
     r"files\[0\]: the input file 'in.txt' must be a File, not a bytes"),
    ({"script": SCRIPT, "files": [("in.txt", pathlib.Path("in.txt"))]}, TypeError,
     r"files\[0\]: the input file 'in.txt' must be a File, not a path \(PosixPath\)"),
    ({"script": SCRIPT, "files": "in.txt"}, TypeError, "files must be a list of \\(name, File\\) pairs, not a str"),
])
def test_script_analysis_refuses_wrong_kinds(kwargs, error, match):
    with pytest.raises(error, match=match):
        PYLONAnalysis(**kwargs)
