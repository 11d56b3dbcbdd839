import io
import xml.etree.ElementTree as ET
from unittest import mock

import pytest

from norvale.errors import TarsisParsingError
from norvale.external.tarsis import TARSIS_NAMESPACE
from norvale.external.tarsis.tarsis import OutputFileParser

NS = TARSIS_NAMESPACE
REACTIONS = ('<table name="Reactions"><obj><blk h="R"><h><h0 t="Node"/><h1 t="Fx"/></h>'
             '<row><p0 v="K1"/><p1 v="10"/></row><row><p0 v="K2"/></row></blk></obj></table>')


def doc(*tables: str, ns: str = NS) -> bytes:
    return (f'<?xml version="1.0" encoding="UTF-8"?>\n<project xmlns="{ns}"><meta/>\n<container>'
            + "\n".join(tables) + "</container></project>").encode()


class ChunkedStream(io.BytesIO):
    """Not a plain BytesIO: read piece by piece, a few bytes at a time."""

    def read(self, n=-1):
        return super().read(5 if n is None or n < 0 else min(n, 5))


@pytest.fixture(params=["bytesio", "file", "chunks"])
def open_stream(request, tmp_path):
    opened = []

    def make(data: bytes):
        if request.param == "bytesio":
            return io.BytesIO(data)
        if request.param == "chunks":
            return ChunkedStream(data)
        path = tmp_path / f"out{len(opened)}.xml"
        path.write_bytes(data)
        f = open(path, "rb")
        opened.append(f)
        return f

    yield make
    for f in opened:
        f.close()


def test_class_surface():
    assert OutputFileParser.__module__ == "norvale.external.tarsis.tarsis"
    assert OutputFileParser.__bases__ == (object,)
    assert OutputFileParser._NS == {"tarsis": NS}


def test_reads_the_documented_example(open_stream):
    stream = open_stream(doc(REACTIONS))
    assert OutputFileParser.get_result(stream, "Reactions") == {"R": {"Node": ["K1", "K2"], "Fx": ["10", None]}}


@pytest.mark.parametrize("block, expected", [
    ('<res><h><h0 t="A"/></h><row><p0 v="1"/></row></res>', {"res": {"A": ["1"]}}),
    ('<b h="K"><h><h0 t="A"/></h><row><p0 v="1"/></row></b><b h="K"><h><h0 t="B"/></h></b>', {"K": {"B": []}}),
    ('<b h="K"><h><h0 t="A"/><h1 t="A"/></h><row><p0 v="1"/><p1 v="2"/></row></b>', {"K": {"A": ["1", "2"]}}),
    ('<b h="K"><h><h0 t="A"/><h1 t="B"/></h></b>', {"K": {"A": [], "B": []}}),
    ('<b h="K"><h><h0/><h1 t="B"/></h><row><p1/><p0 v="x"/></row></b>', {"K": {None: ["x"], "B": [None]}}),
    ('<b h="K"><h><h0 t="A"/><h0 t="B"/></h><row><p0 v="1"/></row></b>', {"K": {"A": [], "B": ["1"]}}),
    ('<b h="K"><h><hh12 t="A"/></h><row><pp12 v="1"/><pp12 v="2"/></row></b>', {"K": {"A": ["2"]}}),
    ('<b h=""><h><h0 t="A"/></h><row><p0 v="&lt;&amp;&#x20AC;"/></row><other><p0 v="no"/></other></b>',
     {"": {"A": ["<&\u20ac"]}}),
])
def test_result_blocks(open_stream, block, expected):
    stream = open_stream(doc(f'<table name="T"><obj>{block}</obj></table>'))
    assert OutputFileParser.get_result(stream, "T") == expected


def test_cell_without_header_raises_key_error(open_stream):
    block = '<b h="K"><h><h0 t="A"/></h><row><p0 v="1"/><p5 v="x"/><p7 v="y"/></row></b>'
    with pytest.raises(KeyError) as info:
        OutputFileParser.get_result(open_stream(doc(f'<table name="T"><obj>{block}</obj></table>')), "T")
    assert info.value.args == ("p5",)


@pytest.mark.parametrize("table, message", [
    ('<table name="Reactions"><other/></table>', "No results were found in XML table 'Reactions'."),
    ('<table name="Reactions"><obj/></table>', "No results were found in XML table 'Reactions'."),
    ('<table name="Reactions"><obj xmlns="urn:x"><b h="K"/></obj></table>',
     "No results were found in XML table 'Reactions'."),
    ('<table name="Reactions"><obj><b h="K"/></obj></table>', "No result headers were found in the provided XML table."),
    ('<table name="Reactions"><obj><b h="K"><h xmlns=""><h0 t="A"/></h></b></obj></table>',
     "No result headers were found in the provided XML table."),
])
def test_parsing_errors(open_stream, table, message):
    with pytest.raises(TarsisParsingError) as info:
        OutputFileParser.get_result(open_stream(doc(table)), "Reactions")
    assert info.value.args == (message,)


@pytest.mark.parametrize("parent, message", [
    (None, "Cannot find table 'Missing' in output XML"),
    ("", "Cannot find table 'Missing' in output XML"),
    ("Reactions", "Cannot find table 'Missing' in output XML for parent 'Reactions'"),
])
def test_missing_table(open_stream, parent, message):
    with pytest.raises(TarsisParsingError) as info:
        OutputFileParser.get_result(open_stream(doc(REACTIONS)), "Missing", parent=parent)
    assert info.value.args == (message,)


def test_table_name_is_inserted_as_text():
    with pytest.raises(TarsisParsingError, match=r"^Cannot find table '42' in output XML for parent '\(1,\)'$"):
        OutputFileParser.get_result(io.BytesIO(doc(REACTIONS)), 42, parent=(1,))


def titled(name: str, title: str) -> str:
    return f'<table name="{name}"><obj><b h="K"><h><h0 t="{title}"/></h></b></obj></table>'


def test_parent_selects_the_first_table_after_it(open_stream):
    data = doc(titled("Reactions", "before"), titled("Result classes - UGT", "parent"), titled("Other", "x"),
               titled("Reactions", "after"), titled("Reactions", "later"))
    stream = open_stream(data)
    assert OutputFileParser.get_result(stream, "Reactions", parent="Result classes - UGT") == {"K": {"after": []}}
    assert OutputFileParser.get_result(stream, "Reactions") == {"K": {"before": []}}
    assert OutputFileParser.get_result(stream, "Reactions", parent="") == {"K": {"before": []}}


def test_a_table_inside_the_parent_is_passed_over(open_stream):
    parent = '<table name="P">' + titled("Reactions", "inside") + "</table>"
    data = doc(parent, titled("Reactions", "after"))
    assert OutputFileParser.get_result(open_stream(data), "Reactions", parent="P") == {"K": {"after": []}}


def test_tables_match_in_any_namespace(open_stream):
    data = doc('<o:table xmlns:o="urn:other" name="A"><obj><b h="K"><h><h0 t="x"/></h></b></obj></o:table>',
               '<table xmlns="" name="B"><obj xmlns="' + NS + '"><b h="K"><h><h0 t="y"/></h></b></obj></table>')
    stream = open_stream(data)
    assert OutputFileParser.get_result(stream, "A") == {"K": {"x": []}}
    assert OutputFileParser.get_result(stream, "B") == {"K": {"y": []}}


def test_two_tables_in_a_row_from_one_stream_keep_its_position(open_stream):
    stream = open_stream(doc(titled("A", "a"), titled("B", "b")))
    stream.seek(7)
    assert OutputFileParser.get_result(stream, "B") == {"K": {"b": []}}
    assert OutputFileParser.get_result(stream, "A") == {"K": {"a": []}}
    assert stream.tell() == 7


def test_data_of_the_first_completed_element_is_kept(open_stream):
    data = (f'<project xmlns="{NS}"><table name="T"><obj><b h="K"><h><h0 t="A"/></h>'
            '<row><p0 v="1"/></row></b></obj></table></project>').encode()
    assert OutputFileParser.get_result(open_stream(data), "T") == {"K": {"A": ["1"]}}


def test_the_first_completed_element_is_not_a_candidate(open_stream):
    data = f'<project xmlns="{NS}"><table name="T"/>{titled("T", "second")}</project>'.encode()
    assert OutputFileParser.get_result(open_stream(data), "T") == {"K": {"second": []}}


def test_table_element_is_an_elementtree_element(open_stream):
    stream = open_stream(doc(REACTIONS))
    stream.seek(0)
    table = OutputFileParser._get_table_element(stream, "Reactions")
    assert isinstance(table, ET.Element)
    assert table.tag == "{%s}table" % NS and table.attrib == {"name": "Reactions"}
    expected = ET.fromstring(f'<c xmlns="{NS}">{REACTIONS}</c>')[0]
    assert ET.tostring(table) == ET.tostring(expected)


def test_emptied_tables_inside_the_result_are_visible():
    data = doc(f'<table name="T"><table name="X" a="1"><obj/></table><obj/></table>')
    table = OutputFileParser._get_table_element(io.BytesIO(data), "T")
    inner = table[0]
    assert (inner.attrib, len(inner), inner.text, inner.tail) == ({}, 0, None, None)


def test_stream_position_after_the_table_search_matches_reading_in_steps():
    filler = "".join(titled(f"F{i}", "x") for i in range(2000))
    data = doc(titled("First", "a"), filler, titled("Last", "z"))
    for name, expected in (("First", 16384), ("Last", len(data))):
        stream = io.BytesIO(data)
        OutputFileParser._get_table_element(stream, name)
        assert stream.tell() == expected
    stream = io.BytesIO(data)
    with pytest.raises(TarsisParsingError):
        OutputFileParser._get_table_element(stream, "Missing")
    assert stream.tell() == len(data)


@pytest.mark.parametrize("buffering", [0, -1])
def test_files_read_ahead_in_pieces_end_where_a_bytesio_does(tmp_path, buffering):
    # a document of several read pieces, from a file moved away from its start whose buffer has
    # already read ahead: results and final positions equal those of a BytesIO over the same bytes
    filler = "".join(titled(f"F{i}", "x" * 40) for i in range(40000))
    data = doc(titled("First", "a"), filler, titled("Last", "z"))
    assert len(data) > 3 * 2**20
    path = tmp_path / "big.xml"
    path.write_bytes(data)
    for name in ("First", "Last", "Missing"):
        expected_stream = io.BytesIO(data)
        expected_stream.seek(15)
        with open(path, "rb", buffering=buffering) as f:
            f.seek(15)
            if buffering:
                f.peek(1)
            if name == "Missing":
                with pytest.raises(TarsisParsingError):
                    OutputFileParser.get_result(f, name)
                with pytest.raises(TarsisParsingError):
                    OutputFileParser.get_result(expected_stream, name)
            else:
                assert OutputFileParser.get_result(f, name) == OutputFileParser.get_result(expected_stream, name)
            assert f.tell() == expected_stream.tell()


def test_result_element_to_dict_accepts_elementtree_elements():
    block = ET.fromstring(f'<b xmlns="{NS}" h="K"><h><h0 t="A"/></h><row><p0 v="1"/></row></b>')
    assert OutputFileParser._result_element_to_dict(block) == {"A": ["1"]}
    with pytest.raises(TarsisParsingError, match="No result headers"):
        OutputFileParser._result_element_to_dict(ET.Element("b"))


@pytest.mark.parametrize("tag, local", [("{urn:x}name", "name"), ("plain", "plain"), ("{a}b}c", "c"), ("", "")])
def test_tag_without_ns(tag, local):
    assert OutputFileParser._tag_without_ns(ET.Element(tag)) == local


def test_subclass_redefinitions_are_used():
    calls = []

    class Parser(OutputFileParser):
        @classmethod
        def _result_element_to_dict(cls, element):
            calls.append(element.get("h"))
            return "columns"

        @staticmethod
        def _tag_without_ns(elem):
            return "table" if elem.tag.endswith("table") else "renamed"

    data = doc('<table name="T"><obj><b h="K"/><c/></obj></table>')
    assert Parser.get_result(io.BytesIO(data), "T") == {"K": "columns", "renamed": "columns"}
    assert calls == ["K", None]


def test_subclass_tag_without_ns_decides_what_is_a_table():
    class Parser(OutputFileParser):
        @staticmethod
        def _tag_without_ns(elem):
            return elem.tag.rpartition("}")[2].replace("tbl", "table")

    data = doc('<tbl name="T"><obj><b h="K"><h><h0 t="A"/></h></b></obj></tbl>')
    assert Parser.get_result(io.BytesIO(data), "T") == {"K": {"A": []}}
    with pytest.raises(TarsisParsingError):
        OutputFileParser.get_result(io.BytesIO(data), "T")


def test_subclass_table_lookup_is_used():
    table = ET.fromstring(f'<table xmlns="{NS}"><obj><b h="Z"><h><h0 t="A"/></h></b></obj></table>')

    class Parser(OutputFileParser):
        @classmethod
        def _get_table_element(cls, file, table_name, parent=None):
            return table

    assert Parser.get_result(io.BytesIO(b"<not parsed"), "T") == {"Z": {"A": []}}


def test_subclass_namespace_is_used():
    class Parser(OutputFileParser):
        _NS = {"tarsis": "urn:other"}

    data = doc('<table name="T"><obj><b h="K"><h><h0 t="A"/></h></b></obj></table>', ns="urn:other")
    assert Parser.get_result(io.BytesIO(data), "T") == {"K": {"A": []}}


def test_error_type_is_looked_up_at_call_time():
    class Custom(Exception):
        pass

    with mock.patch("norvale.external.tarsis.tarsis.TarsisParsingError", Custom):
        with pytest.raises(Custom):
            OutputFileParser.get_result(io.BytesIO(doc()), "Missing")


@pytest.mark.parametrize("data", [
    b"", b"<project>", doc(REACTIONS)[:90], b"<a><b></a>", b"<a>\x01</a>", b"<a>&nbsp;</a>", b"<a b='1' b='2'/>",
    b"<a><u:b/></a>", b"<a>\xff</a>", b"<a/><b/>", b"<?xml version='1.0' encoding='latin-1'?><a>\xe9<</a>",
])
def test_malformed_documents_raise_the_host_parsers_error(open_stream, data):
    with pytest.raises(ET.ParseError) as ours:
        OutputFileParser.get_result(open_stream(data), "Reactions")
    with pytest.raises(ET.ParseError) as host:
        for _ in ET.iterparse(io.BytesIO(data)):
            pass
    assert (str(ours.value), ours.value.code) == (str(host.value), host.value.code)


def test_a_fault_after_the_table_is_not_reached():
    data = doc(REACTIONS)[:-len("</container></project>")] + b"<broken"
    assert OutputFileParser.get_result(io.BytesIO(data), "Reactions")["R"]["Node"] == ["K1", "K2"]


def test_documents_the_engine_leaves_to_the_host_parser_still_read():
    data = (b'<?xml version="1.0" encoding="ISO-8859-1"?>\n<!DOCTYPE p [<!ENTITY e "\xe9t\xe9">]>'
            + f'<p xmlns="{NS}"><meta/><table name="&e;"><obj><b h="K"><h><h0 t="&e;"/></h></b></obj></table></p>'
            .encode())
    assert OutputFileParser.get_result(io.BytesIO(data), "\u00e9t\u00e9") == {"K": {"\u00e9t\u00e9": []}}


def test_entity_expansion_is_bounded():
    lol = ['<!ENTITY a0 "lollollollollollollollollollol">']
    lol += [f'<!ENTITY a{i} "' + f"&a{i - 1};" * 10 + '">' for i in range(1, 10)]
    data = ("<!DOCTYPE p [" + "".join(lol) + "]><p><table name='x'>&a9;</table></p>").encode()
    with pytest.raises(ET.ParseError, match="amplification"):
        OutputFileParser.get_result(io.BytesIO(data), "x")


def test_external_entities_are_not_fetched(tmp_path):
    secret = tmp_path / "secret.txt"
    secret.write_text("secret")
    data = (f'<!DOCTYPE p [<!ENTITY s SYSTEM "{secret.as_uri()}">]><p><meta/>'
            '<table name="T"><obj><b h="K"><h><h0 t="A"/></h><row><p0 v="x">&s;</p0></row></b></obj></table></p>')
    with pytest.raises(ET.ParseError, match="undefined entity &s;"):
        OutputFileParser._get_table_element(io.BytesIO(data.encode()), "T")


@pytest.mark.parametrize("depth", [200_000])
def test_deep_nesting_does_not_overflow(open_stream, depth):
    data = (f'<p xmlns="{NS}">' + "<d>" * depth + '<table name="T"><obj><b h="K"><h><h0 t="A"/></h></b></obj></table>'
            + "</d>" * depth + "</p>").encode()
    assert OutputFileParser.get_result(open_stream(data), "T") == {"K": {"A": []}}
    wrapped = f'<p xmlns="{NS}"><meta/><table name="W">'.encode() + data + b"</table></p>"
    table = OutputFileParser._get_table_element(io.BytesIO(wrapped), "W")
    assert table[0][0].tag == "{%s}d" % NS


def test_repeated_calls_do_not_leak():
    import gc
    import sys
    import tracemalloc

    data = doc(titled("A", "a"), REACTIONS)
    bad = data[:-5]

    def once():
        OutputFileParser.get_result(io.BytesIO(data), "Reactions")
        OutputFileParser._get_table_element(ChunkedStream(data), "A")
        for call in (lambda: OutputFileParser.get_result(io.BytesIO(data), "Missing"),
                     lambda: OutputFileParser.get_result(io.BytesIO(bad), "Missing")):
            try:
                call()
            except (TarsisParsingError, ET.ParseError):
                pass

    for _ in range(50):
        once()
    gc.collect()
    # Only what these calls allocate: threads that earlier tests left running (an S3 stand-in
    # server, fsspec's event loop, the kit's clean-up thread) allocate meanwhile, so only blocks
    # allocated with this test in their call stack are counted, less the first snapshot's own
    # (alive until the second). The interpreter's attribute cache holds the names last looked up
    # (up to 4096 of them, the parser's method names among them), so it is emptied before each
    # snapshot.
    ours = [tracemalloc.Filter(True, __file__, all_frames=True), tracemalloc.Filter(False, tracemalloc.__file__)]
    tracemalloc.start(64)
    sys._clear_type_cache()
    start = tracemalloc.take_snapshot().filter_traces(ours)
    for _ in range(300):
        once()
    gc.collect()
    sys._clear_type_cache()
    end = tracemalloc.take_snapshot().filter_traces(ours)
    tracemalloc.stop()
    grown = sum(stat.size_diff for stat in end.compare_to(start, "filename"))
    top = [str(stat) for stat in end.compare_to(start, "lineno")[:3]]
    # What stays is one class object that ElementTree's iterparse defines per call (≈ 4.6 KB, kept
    # by the type machinery); one leaked string or tuple per call would add more than 12 KB.
    assert grown < 12 * 1024, (grown, top)
