"""The Tarsis stand-in reads the input XML that the template-filling service writes."""

import xml.etree.ElementTree as ET

import pytest

from norvale.external.tarsis import TARSIS_NAMESPACE
from norvale.external.tarsis import object as obj
from norvale.external.tarsis.tarsis import Model
from norvale.worker.standins import tarsis as standin


def small_model() -> Model:
    m = Model()
    section = m.create_rectangular_cross_section("R", obj.Material("S235"), 0.2, 0.4)
    k1, k2, k3 = (m.create_node(f"K{i}", float(i), 0.0, 0.0) for i in (1, 2, 3))
    m.create_beam(k1, k2, section)
    m.create_beam(k2, k3, section)
    rigid = (obj.PointSupport.Freedom.RIGID,) * 6
    m.create_point_support("Sn1", k1, "STANDARD", rigid, (0.0,) * 6, "GLOBAL")
    m.create_point_support("Sn3", k3, "STANDARD", rigid, (0.0,) * 6, "GLOBAL")
    group = m.create_load_group("G", "PERMANENT")
    case = m.create_permanent_load_case("LC1", "", group, "STANDARD")
    m.create_point_load_node(k2, case, -3000.0)
    m.create_point_load_node(k2, case, 99.0, direction="X")
    return m


def test_tables_of_the_service_are_read_back():
    input_file, _ = small_model().generate_xml_input()
    tables = standin.model_tables(ET.fromstring(input_file.getvalue()))
    assert [row["name"] for row in tables["nodes"]] == ["K1", "K2", "K3"]
    assert tables["point_supports"][1]["node.name"] == "K3"
    assert tables["point_loads_node"][1]["direction"] == "X"


def test_a_model_gets_summary_nodes_and_the_tables_of_its_load_case():
    input_file, _ = small_model().generate_xml_input()
    root = ET.fromstring(standin.output_xml(input_file.getvalue(), {"result_type": "MODEL"}))
    names = [t.get("name") for t in root.iter(f"{{{TARSIS_NAMESPACE}}}table")]
    assert names == ["Summary", "Nodes", "Load case - LC1", "Displacements of nodes", "Reactions",
                     "Internal forces on beams"]
    ns = {"t": TARSIS_NAMESPACE}
    reactions = list(root.iter(f"{{{TARSIS_NAMESPACE}}}table"))[4]
    rows = [[cell.get("v") for cell in row] for row in reactions.iterfind("t:obj/*/t:row", ns)]
    # symmetric: each clamp takes half of both loads
    assert [r[0] for r in rows] == ["K1", "K3"]
    assert [float(r[3]) for r in rows] == [1500.0, 1500.0]
    assert sum(float(r[1]) for r in rows) == pytest.approx(-99.0, rel=1e-12)


#: The two readings of a model's tables: the package's XML engine (what the stand-in uses) and the
#: ElementTree one it leaves the documents to that the engine does not take.
READERS = {"engine": lambda xml: standin.read_input(xml.encode())[1],
           "tree": lambda xml: standin.model_tables(ET.fromstring(xml))}


@pytest.mark.parametrize("read", READERS.values(), ids=list(READERS))
def test_rows_that_differ_from_one_another_keep_their_own_cells(read):
    # rows of a hand-written table need not share the header's cells: missing, extra (no title),
    # repeated and reordered cells, an empty row, a header placed after the rows
    xml = f"""<project xmlns="{TARSIS_NAMESPACE}" xmlns:o="urn:other"><container>
      <table name="uniform"><h><h0 t="a"/><h1 t="b"/></h>
        <row><p0 v="1"/><p1 v="2"/></row><row><p0 v="3"/><p1/></row></table>
      <table name="ragged">
        <row><p1 v="b1"/><p0 v="a1"/></row>
        <row><p0 v="a2"/></row>
        <row/>
        <row><p0 v="a3"/><p7 v="x"/><p0 v="a3bis"/></row>
        <row><o:p1 v="other"/><p1 v="b5"/></row>
        <h><h0 t="a"/><h1 t="b"/></h>
      </table>
      <table name="headless"><row><p0 v="1"/></row></table>
      <table name="empty"><h><h0 t="a"/></h></table>
    </container></project>"""
    tables = read(xml)
    assert list(tables) == ["uniform", "ragged", "empty"]
    assert tables["uniform"] == [{"a": "1", "b": "2"}, {"a": "3", "b": None}]
    ragged = tables["ragged"]
    assert [list(row.items()) for row in ragged] == [
        [("b", "b1"), ("a", "a1")], [("a", "a2")], [], [("a", "a3bis"), (None, "x")], [("b", "b5")]]
    assert tables["empty"] == []


def test_summary_counts_the_elements_of_any_namespace_but_not_markup_in_comments():
    xml = (b'<?xml version="1.0"?><!-- <node id="c"/> --><r xmlns:x="urn:x"><x:node id="n1"/>'
           b'<node id="n2"><![CDATA[<node/>]]></node><x:beam/></r>')
    root = ET.fromstring(standin.output_xml(xml, {}))
    ns = {"t": TARSIS_NAMESPACE}
    summary = root.find("t:container/t:table[@name='Summary']", ns)
    assert summary is not None
    rows = [[cell.get("v") for cell in row] for row in summary.iterfind("t:obj/t:block[@h='Input']/t:row", ns)]
    assert rows == [["beam", "1"], ["node", "2"], ["r", "1"]]
    nodes = root.find("t:container/t:table[@name='Nodes']", ns)
    assert nodes is not None
    assert [row[0].get("v") for row in nodes.iterfind("t:obj/t:block/t:row", ns)] == ["n1", "n2"]


def test_the_engine_reads_every_table_as_the_tree_does():
    # entities and non-ASCII text, titles that repeat or are missing, a cell without a header cell,
    # a second header, a table inside a row's cell, a name given twice (the later table counts)
    xml = f"""<?xml version="1.0" encoding="UTF-8"?>
    <project xmlns="{TARSIS_NAMESPACE}"><container>
      <table name="a &amp; b"><h><h0 t="x&lt;y"/><h1 t="Zürich"/></h><h><h0 t="ignored"/></h>
        <row><p0 v="&#65;&quot;"/><p1 v="ä"/></row><row><p0 v=""/><p1 v="2"/></row></table>
      <table name="twice"><h><h0 t="t"/><h1 t="t"/></h><row><p0 v="1"/><p1 v="2"/></row></table>
      <table name="untitled"><h><h0/><h1 t="b"/></h><row><p0 v="1"/><p1 v="2"/><p2 v="3"/></row></table>
      <table><h><h0 t="n"/></h><row><p0 v="no name"/></row></table>
      <table name="outer"><h><h0 t="c"/></h>
        <row><p0 v="1"><table name="inner"><h><h0 t="d"/></h><row><p0 v="in"/></row></table></p0></row>
      </table>
      <table name="twice"><h><h0 t="u"/></h><row><p0 v="later"/></row></table>
    </container></project>"""
    counts, by_engine, _ = standin.read_input(xml.encode())
    root = ET.fromstring(xml)
    by_tree = standin.model_tables(root)
    assert list(by_engine) == list(by_tree) == ["a & b", "twice", "untitled", None, "outer", "inner"]
    assert {name: list(rows) for name, rows in by_engine.items()} == by_tree
    assert by_engine["a & b"][0] == {"x<y": 'A"', "Zürich": "ä"}
    assert by_engine["twice"] == [{"u": "later"}]
    assert counts == standin._element_counts(root)


def test_documents_the_engine_leaves_to_the_tree_are_read_or_refused_by_it():
    table = f'<table name="nodes"><h><h0 t="name"/></h><row><p0 v="K1"/></row></table>'
    doctype = f'<?xml version="1.0"?><!DOCTYPE project><project xmlns="{TARSIS_NAMESPACE}">{table}</project>'
    counts, tables, ids = standin.read_input(doctype.encode())
    assert list(tables["nodes"]) == [{"name": "K1"}] and ids == ["K1"] and counts["row"] == 1
    with pytest.raises(ET.ParseError):
        standin.read_input(f'<project xmlns="{TARSIS_NAMESPACE}">{table}'.encode())
