import base64
import io
import json
import xml.etree.ElementTree as ET
from unittest import mock

import pytest

import norvale.external.tarsis.tarsis as tarsis
from norvale.core import File
from norvale.errors import ExecutionError
from norvale.external.external_program import ExternalProgram
from norvale.external.tarsis import TARSIS_NAMESPACE
from norvale.external.tarsis.tarsis import CalcSetting, ResultType, TarsisAnalysis

NS = TARSIS_NAMESPACE


def xml_input(*defs: str, other: str = "") -> bytes:
    body = "".join(f'<def uri="{d}"/>' if d is not None else "<def/>" for d in defs)
    return f'<?xml version="1.0"?><project xmlns="{NS}">{body}{other}</project>'.encode()


class Recorder(io.StringIO):
    """A text stream that keeps every write."""

    def __init__(self):
        super().__init__()
        self.writes = []

    def write(self, s):
        self.writes.append(s)
        return super().write(s)


def test_module_surface():
    assert tarsis.__file__.endswith(".so")
    assert tarsis.__all__ == ["CalcSetting", "Model", "OutputFileParser", "ResultType", "TarsisAnalysis"]
    for cls in (CalcSetting, ResultType, TarsisAnalysis):
        assert cls.__module__ == "norvale.external.tarsis.tarsis"
    assert issubclass(TarsisAnalysis, ExternalProgram)
    assert TarsisAnalysis._multipart_job_content is True


def test_enumerations():
    assert [(m.name, m.value) for m in CalcSetting] == [(n, n) for n in (
        "NONE", "NOC", "LIN", "NEL", "EIG", "STB", "INF", "MOB", "TDA", "SLN", "PHA", "NPH", "CSS", "NST", "TID")]
    assert [(m.name, m.value) for m in ResultType] == [
        ("NONE", "XML"), ("MODEL", "MODEL"), ("ENGINEERING_REPORT", "ENGINEERING_REPORT")]
    assert CalcSetting.__doc__ == "Enumeration of calculation settings:"
    assert ResultType.__doc__ == "Enumeration of result types:"
    assert isinstance(CalcSetting.LIN, str) and isinstance(ResultType.NONE, str)


def test_constructor_defaults_and_attribute_order():
    i, d, m = io.BytesIO(), io.BytesIO(), io.BytesIO()
    job = TarsisAnalysis(i, d, m)
    assert list(vars(job).items()) == [
        ("input_file", i), ("xml_def_file", d), ("tarsis_model", m), ("calculation_setting", CalcSetting.LIN),
        ("xml_doc_name", "output"), ("_result_type", ResultType.MODEL), ("_output_document", "")]


def test_base_constructor_runs_first_with_the_documented_arguments():
    seen = {}

    def fake_init(self, *args, **kwargs):
        seen["call"] = (args, kwargs)
        seen["attrs"] = dict(vars(self))

    with mock.patch.object(ExternalProgram, "__init__", fake_init):
        TarsisAnalysis(io.BytesIO(), io.BytesIO(), io.BytesIO())
    assert seen == {"call": (("tarsis",), {"version": 2}), "attrs": {}}


def test_positional_and_keyword_only_parameters():
    job = TarsisAnalysis(1, 2, 3, CalcSetting.EIG, "doc", result_type=ResultType.NONE, output_document="x")
    assert (job.calculation_setting, job.xml_doc_name, job._result_type, job._output_document) == (
        CalcSetting.EIG, "doc", ResultType.NONE, "x")
    with pytest.raises(TypeError):
        TarsisAnalysis(1, 2, 3, CalcSetting.EIG, "doc", ResultType.NONE)
    with pytest.raises(TypeError):
        TarsisAnalysis(1, 2)


@pytest.mark.parametrize("kwargs", [{}, {"output_document": ""}, {"output_document": None}])
def test_engineering_report_needs_a_document(kwargs):
    with mock.patch.object(ExternalProgram, "__init__", return_value=None) as base:
        with pytest.raises(ValueError) as info:
            TarsisAnalysis(1, 2, 3, result_type=ResultType.ENGINEERING_REPORT, **kwargs)
    assert str(info.value) == "Engineering Report is selected as result type, but no output document is specified."
    base.assert_called_once()  # after the base constructor


@pytest.mark.parametrize("data, expected", [
    (xml_input(), ""),
    (xml_input("a.def"), "a.def"),
    (xml_input("a.def", "b.def"), "b.def"),
    (xml_input("a.def", None), ""),
    (xml_input("a&amp;b.def"), "a&b.def"),
    (f'<p xmlns="{NS}"><def uri="outer"><def uri="inner"/></def></p>'.encode(), "outer"),
    (f'<p xmlns:o="urn:other" xmlns:t="{NS}"><t:def uri="ok"/><o:def uri="no"/><def uri="no"/></p>'.encode(), "ok"),
    (b'<p><def uri="no namespace"/></p>', ""),
])
def test_definition_name(data, expected):
    stream = io.BytesIO(data)
    stream.seek(3)
    assert TarsisAnalysis.get_xml_def_name(stream) == expected
    assert stream.tell() == 3


def test_definition_name_on_a_file_read_in_chunks(tmp_path):
    path = tmp_path / "input.xml"
    filler = "".join(f'<obj id="{i}"/>' for i in range(200_000))
    path.write_bytes(xml_input("first.def", other=filler + f'<def uri="last.def"/>'))
    with open(path, "rb") as f:
        assert TarsisAnalysis.get_xml_def_name(f) == "last.def"
        assert f.tell() == 0


@pytest.fixture(params=["bytesio", "file"])
def input_stream(request, tmp_path):
    """Makes a readable stream over some bytes: a BytesIO, or a file opened with open()."""
    opened = []

    def make(data: bytes):
        if request.param == "bytesio":
            return io.BytesIO(data)
        path = tmp_path / f"input{len(opened)}.xml"
        path.write_bytes(data)
        opened.append(open(path, "rb"))
        return opened[-1]

    yield make
    for f in opened:
        f.close()


@pytest.mark.parametrize("data", [b"", b"<p>", b"<p></q>", b"<p>&undefined;</p>", b"<p a='1' a='2'/>",
                                  b"<?xml version='1.0' encoding='latin-1'?><p>\xe9</p><"])
def test_definition_name_of_a_malformed_document_raises_the_parsers_error(data, input_stream):
    with pytest.raises(ET.ParseError) as ours:
        TarsisAnalysis.get_xml_def_name(input_stream(data))
    with pytest.raises(ET.ParseError) as host:
        for _ in ET.iterparse(io.BytesIO(data)):
            pass
    assert str(ours.value) == str(host.value)


def test_definition_name_with_a_document_type_is_read_by_the_host_parser(input_stream):
    data = (f'<!DOCTYPE p [<!ENTITY n "from-entity.def">]><p xmlns="{NS}"><def uri="&n;"/></p>').encode()
    stream = input_stream(data)
    stream.seek(5)
    assert TarsisAnalysis.get_xml_def_name(stream) == "from-entity.def"
    assert stream.tell() == 5


def job_content(job) -> Recorder:
    w = Recorder()
    job._write_job_content(w)
    return w


def test_job_content_writes_the_pieces_in_order():
    job = TarsisAnalysis(io.BytesIO(xml_input("model.def")), io.BytesIO(b"DEF"), io.BytesIO(b"\x00ESA"))
    w = job_content(job)
    b64 = lambda b: base64.b64encode(b).decode()
    assert w.writes == [
        '"files": [',
        '{"filename": "tarsis_input.xml", "type": "xml", "body": "', b64(xml_input("model.def")), '"}, ',
        '{"filename": "model.def", "type": "def", "body": "', b64(b"DEF"), '"}, ',
        '{"filename": "tarsis_model.esa", "type": "esa", "body": "', b64(b"\x00ESA"), '"}',
        '], ',
        '"calculation_setting": "LIN", ',
        '"xml_doc_name": "output", ',
        '"result_type": "MODEL", ',
        '"result_extension": "esa", ',
        '"output_document": ""',
    ]
    content = json.loads("{" + w.getvalue() + "}")
    assert [f["filename"] for f in content["files"]] == ["tarsis_input.xml", "model.def", "tarsis_model.esa"]


@pytest.mark.parametrize("kwargs, tail", [
    ({"result_type": ResultType.NONE}, '"result_type": "XML", "result_extension": "xml", "output_document": ""'),
    ({"result_type": ResultType.ENGINEERING_REPORT, "output_document": "report1"},
     '"result_type": "ENGINEERING_REPORT", "result_extension": "pdf", "output_document": "report1"'),
    ({"output_document": "kept"}, '"result_type": "MODEL", "result_extension": "esa", "output_document": "kept"'),
    ({"xml_doc_name": "caf\u00e9"}, '"xml_doc_name": "caf\\u00e9", "result_type": "MODEL"'),
])
def test_job_content_options(kwargs, tail):
    job = TarsisAnalysis(io.BytesIO(xml_input()), io.BytesIO(), io.BytesIO(), **kwargs)
    assert tail in job_content(job).getvalue()


@pytest.mark.parametrize("name, written", [
    ("", ""), ("plain name.def", "plain name.def"), ('say "x".def', 'say \\"x\\".def'),
    ("back\\slash", "back\\\\slash"), ("tab\tname", "tab\\tname"), ("\u00e9t\u00e9.def", "\u00e9t\u00e9.def"),
])
def test_definition_name_is_placed_as_a_json_string(name, written):
    job = TarsisAnalysis(io.BytesIO(), io.BytesIO(), io.BytesIO())
    with mock.patch.object(TarsisAnalysis, "get_xml_def_name", return_value=name):
        w = job_content(job)
    assert [p for p in w.writes if '"type": "def"' in p] == ['{"filename": "' + written + '", "type": "def", "body": "']
    assert json.loads("{" + w.getvalue() + "}")["files"][1]["filename"] == name


def test_bytesio_inputs_keep_their_position_and_stay_open():
    data = xml_input("a.def")
    i = io.BytesIO(data)
    i.seek(5)
    d, m = io.BytesIO(b"0123"), io.BytesIO(b"esa")
    d.seek(2)
    w = job_content(TarsisAnalysis(i, d, m))
    assert w.writes[2] == base64.b64encode(data[5:]).decode()
    assert w.writes[5] == base64.b64encode(b"23").decode()
    assert not (i.closed or d.closed or m.closed)


class TrackingFile(File):
    """A File whose streams are recorded (they are BytesIO objects)."""

    def __init__(self, data):
        super().__init__()
        self._inner = File.from_data(data)
        self.streams = []

    def open_binary(self):
        stream = io.BytesIO(self._inner.getvalue_binary())
        self.streams.append(stream)
        return stream


def test_streams_opened_from_files_are_closed_even_when_they_are_bytesio():
    files = [TrackingFile(xml_input("x.def")), TrackingFile(b"d"), TrackingFile(b"m")]
    job_content(TarsisAnalysis(*files))
    assert [f.streams[0].closed for f in files] == [True, True, True]


@pytest.mark.parametrize("failure", ["write", "copy", "parse"])
def test_streams_are_closed_when_writing_fails(failure):
    files = [TrackingFile(xml_input("x.def") if failure != "parse" else b"<broken"), TrackingFile(b"d")]
    caller = io.BytesIO(b"m")
    job = TarsisAnalysis(files[0], files[1], caller)
    w = Recorder()
    if failure == "write":
        w.write = mock.Mock(side_effect=[None, OSError("disk full")])
        expected = OSError
    elif failure == "copy":
        job._write_file_content_to_file = mock.Mock(side_effect=RuntimeError("copy"))
        expected = RuntimeError
    else:
        expected = ET.ParseError
    with pytest.raises(expected):
        job._write_job_content(w)
    assert [f.streams[0].closed for f in files] == [True, True]
    assert not caller.closed
    if failure == "parse":
        assert w.getvalue() == ""


def test_wrong_input_type_closes_streams_already_opened_and_writes_nothing():
    first = TrackingFile(xml_input())
    caller = io.BytesIO(b"d")
    job = TarsisAnalysis(first, caller, "not a file")
    w = Recorder()
    with pytest.raises(NotImplementedError) as info:
        job._write_job_content(w)
    assert info.value.args == ()
    assert first.streams[0].closed and not caller.closed
    assert w.writes == []


def test_file_check_comes_before_bytesio_check_and_globals_are_read_at_call_time():
    job = TarsisAnalysis(io.BytesIO(xml_input()), io.BytesIO(), io.BytesIO())
    with mock.patch("norvale.external.tarsis.tarsis.BytesIO", tuple):
        with pytest.raises(NotImplementedError):
            job._write_job_content(Recorder())
    with mock.patch("norvale.external.tarsis.tarsis.File", io.BytesIO):
        # BytesIO inputs now count as File: open_binary() is asked for
        with pytest.raises(AttributeError, match="open_binary"):
            job._write_job_content(Recorder())


def test_setting_that_is_not_a_member_fails_on_its_value():
    job = TarsisAnalysis(io.BytesIO(xml_input()), io.BytesIO(), io.BytesIO(), "LIN")
    with pytest.raises(AttributeError):
        job._write_job_content(Recorder())


@pytest.mark.parametrize("status, message", [
    (1, "Error running TARSIS analysis, unable to initialize MFC"),
    (2, "Error running TARSIS analysis"),
    (3, "Error running TARSIS analysis"),
    (4, "Error running TARSIS analysis, cannot open project file"),
    (5, "Error running TARSIS analysis, cannot perform calculation with current settings and input"),
    (7, "Error running TARSIS analysis, cannot update the project file with the given input XML file"),
    (8, "Error running TARSIS analysis, cannot generate exports"),
    (9, "Error running TARSIS analysis, cannot create output XML file"),
])
def test_worker_messages_are_translated(status, message):
    job = TarsisAnalysis(1, 2, 3)
    with pytest.raises(ExecutionError) as info:
        job._handle_execution_error(f"Tarsis execution error: exit status {status}")
    assert info.value.args == (message,)


@pytest.mark.parametrize("message", ["Tarsis execution error: exit status 10", "",
                                     "Tarsis execution error: exit status 6", "Tarsis execution error: exit status 4 "])
def test_unknown_worker_messages_pass(message):
    assert TarsisAnalysis(1, 2, 3)._handle_execution_error(message) is None


def test_execution_error_is_looked_up_at_call_time():
    class Custom(Exception):
        pass

    with mock.patch("norvale.external.tarsis.tarsis.ExecutionError", Custom):
        with pytest.raises(Custom):
            TarsisAnalysis(1, 2, 3)._handle_execution_error("Tarsis execution error: exit status 2")


@pytest.mark.parametrize("getter, key", [("get_xml_output_file", "output_xml"), ("get_updated_esa_model", "esa_model"),
                                         ("get_engineering_report", "engineering_report")])
def test_getters_pass_the_key_and_as_file_on(getter, key):
    job = TarsisAnalysis(1, 2, 3, result_type=ResultType.NONE)
    with mock.patch.object(TarsisAnalysis, "_get_result", return_value="value") as get:
        assert getattr(job, getter)() == "value"
        assert getattr(job, getter)(True) == "value"
        assert getattr(job, getter)(as_file=True) == "value"
    assert get.call_args_list == [mock.call(key, as_file=False), mock.call(key, as_file=True),
                                  mock.call(key, as_file=True)]


def test_whole_road_on_the_stand_in(standin_worker):
    job = TarsisAnalysis(io.BytesIO(xml_input("frame.def", other='<obj id="K1"/>')), File.from_data(b"def"),
                         io.BytesIO(b"ESA"))
    job.execute(timeout=60)
    output = job.get_xml_output_file(as_file=True)
    with output.open_binary() as stream:
        result = tarsis.OutputFileParser.get_result(stream, "Reactions", parent="Result classes - SLS")
    assert result["Reactions"]["Node"] == ["K1"]
    assert job.get_updated_esa_model().getvalue().startswith(b"ESA")
    assert job.get_engineering_report() is None


def test_program_failure_reaches_the_job_translated(standin_worker):
    job = TarsisAnalysis(io.BytesIO(xml_input(other="<!-- TARSIS_EXIT=4 -->")), io.BytesIO(), io.BytesIO())
    with pytest.raises(ExecutionError) as info:
        job.execute(timeout=60)
    assert str(info.value) == "Error running TARSIS analysis, cannot open project file"
