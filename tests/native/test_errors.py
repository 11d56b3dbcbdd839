"""C++ exceptions reach Python as the types nanobind's dispatcher gives them, and faults in what a
user hands the native code come out as the documented errors, never RuntimeError('std::...')."""

import io
import json
import os
import xml.etree.ElementTree as ET
from unittest import mock

import pytest

from norvale._native import _raise_cpp
from norvale.errors import TarsisParsingError
from norvale.external.tarsis import TARSIS_NAMESPACE as NS
from norvale.external.tarsis.tarsis import OutputFileParser, TarsisAnalysis

DOC = (f'<p xmlns="{NS}"><meta/><table name="T"><obj><b h="K"><h><h0 t="A"/></h></b></obj></table>'
       f'<def uri="d.xml"/></p>').encode()


@pytest.mark.parametrize("kind, error, text", [
    ("bad_alloc", MemoryError, ""),
    ("bad_cast", TypeError, "a value of an unexpected type was given to native code"),
    ("type_error", TypeError, "type_error text"),
    ("key_error", KeyError, "'key_error text'"),
    ("invalid_argument", ValueError, "invalid_argument text"),
    ("out_of_range", IndexError, "out_of_range text"),
    ("overflow_error", OverflowError, "overflow_error text"),
    ("runtime_error", RuntimeError, "runtime_error text"),
    ("python_error", LookupError, "python_error text"),
    ("unknown", SystemError, "native code raised an exception of unknown type"),
])
def test_cpp_exceptions_are_translated_like_nanobind(kind, error, text):
    with pytest.raises(error) as caught:
        _raise_cpp(kind)
    assert type(caught.value) is error and str(caught.value) == text


@pytest.mark.parametrize("table, parent, message", [
    ("\ud800", None, "Cannot find table '\ud800' in output XML"),
    ("T\udcff", "\ud800", "Cannot find table 'T\udcff' in output XML for parent '\ud800'"),
    (7, None, "Cannot find table '7' in output XML"),
])
def test_names_no_document_can_hold_give_the_documented_error(table, parent, message):
    with pytest.raises(TarsisParsingError) as caught:
        OutputFileParser.get_result(io.BytesIO(DOC), table, parent=parent)
    assert caught.value.args == (message,)


def host_error(data, read):
    """What ElementTree raises for a stream whose read() gives `read(n)`."""
    stream = io.BytesIO(data)
    stream.read = read
    with pytest.raises(Exception) as caught:
        for _ in ET.iterparse(stream, events=("end",)):
            pass
    return type(caught.value), str(caught.value)


@pytest.mark.parametrize("value", [-1, 1.5, None, bytearray(b"<p/>")])
def test_a_read_that_gives_no_bytes_fails_as_elementtree_fails(value):
    expected = host_error(DOC, lambda n=-1: value)
    stream = io.BytesIO(DOC)
    stream.read = lambda n=-1: value
    with pytest.raises(Exception) as caught:
        OutputFileParser.get_result(stream, "T")
    assert (type(caught.value), str(caught.value)) == expected


@pytest.mark.parametrize("text", ["text" * 50_000, ""])
def test_a_text_stream_fails_as_elementtree_fails(text):
    # a file opened without "b": its read() gives str, which the host parser is left to judge
    with pytest.raises(Exception) as expected:
        for _ in ET.iterparse(io.StringIO(text), events=("end",)):
            pass
    with pytest.raises(Exception) as caught:
        OutputFileParser.get_result(io.StringIO(text), "T")
    assert (type(caught.value), str(caught.value)) == (type(expected.value), str(expected.value))


def test_a_text_stream_of_a_document_is_read():
    assert OutputFileParser.get_result(io.StringIO(DOC.decode()), "T") == {"K": {"A": []}}


@pytest.mark.parametrize("value", [-1, 1.5])
def test_a_pipe_whose_read_gives_no_bytes_fails_as_elementtree_fails(value):
    expected = host_error(DOC, lambda n=-1: value)
    r, w = os.pipe()
    os.write(w, DOC)
    os.close(w)
    with open(r, "rb") as pipe:
        pipe.readinto = lambda b: value
        pipe.read = lambda n=-1: value
        with pytest.raises(Exception) as caught:
            OutputFileParser.get_result(pipe, "T")
    assert (type(caught.value), str(caught.value)) == expected


def job_text(analysis):
    out = io.StringIO()
    with mock.patch.object(TarsisAnalysis, "_write_file_content_to_file", lambda self, w, s, **kw: w.write("B")):
        analysis._write_job_content(out)
    return out.getvalue()


def test_a_definition_name_with_any_characters_is_written():
    analysis = TarsisAnalysis(io.BytesIO(DOC), io.BytesIO(b"d"), io.BytesIO(b"m"))
    with mock.patch.object(TarsisAnalysis, "get_xml_def_name", staticmethod(lambda f: 'a"\\\ud800\x01')):
        text = job_text(analysis)
    assert '{"filename": "a\\"\\\\\ud800\\u0001", "type": "def", "body": "' in text


def test_a_patched_json_dumps_that_gives_no_text_is_a_type_error():
    analysis = TarsisAnalysis(io.BytesIO(DOC), io.BytesIO(b"d"), io.BytesIO(b"m"))
    with mock.patch("norvale.external.tarsis.tarsis.json.dumps", return_value=3):
        with pytest.raises(TypeError, match=r'can only concatenate str \(not "int"\) to str'):
            job_text(analysis)


def test_real_job_text_is_unchanged():
    analysis = TarsisAnalysis(io.BytesIO(DOC), io.BytesIO(b"d"), io.BytesIO(b"m"))
    text = job_text(analysis)
    assert text.startswith('"files": [{"filename": "tarsis_input.xml", "type": "xml", "body": "B"}, '
                           '{"filename": "d.xml", "type": "def", "body": "B"}, ')
    assert text.endswith('"calculation_setting": "LIN", "xml_doc_name": "output", "result_type": "MODEL", '
                         '"result_extension": "esa", "output_document": ""')
    assert json.loads("{" + text + "}")["files"][1]["filename"] == "d.xml"
