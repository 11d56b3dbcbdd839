"""The kit's template-filling service for Tarsis, reached as the kit reaches it."""

import base64
import gzip
import json
import xml.etree.ElementTree as ET
from unittest import mock

import pytest

from norvale import core
from norvale.errors import InternalError
from norvale.external.tarsis import TARSIS_NAMESPACE
from norvale.services import tarsis_template
from norvale.services.tarsis_template import DEF_FILE_NAME, ENDPOINT, MEMBERS

NS = {"t": TARSIS_NAMESPACE}


def empty_document():
    doc = {key: [] for key in MEMBERS}
    doc.update(mesh_setup={"average_size": 0.25}, solver_setup={"method": "DIRECT"}, project_data={"name": "P"})
    return doc


def sample_document():
    doc = empty_document()
    doc["nodes"] = [{"id": 1, "name": "N1", "x": 0.0, "y": 0, "z": 1e-5},
                    {"id": 2, "name": "Nœud <2> & \"q\"", "x": 2.5, "y": 0.0, "z": None}]
    doc["beams"] = [{"id": 1, "name": "B1", "begin_node": {"id": 1, "name": "N1"}, "end_node": {"id": 2, "name": "N2"},
                     "layer": None, "points": [[0, 0], [1, 1.5]], "flag": True}]
    return doc


def encode(document) -> str:
    return base64.b64encode(gzip.compress(json.dumps(document).encode("utf-8"))).decode("utf-8")


def unpack(text: str) -> bytes:
    return gzip.decompress(base64.b64decode(text))


def post(document):
    reply = core._post_on_addon_endpoint(ENDPOINT, {"input": encode(document)}, timeout=60)
    assert set(reply) == {"input_file", "def_file"}
    return ET.fromstring(unpack(reply["input_file"])), ET.fromstring(unpack(reply["def_file"]))


def test_service_is_registered_by_default():
    assert ENDPOINT == "filltarsistemplate/v10/jobs/"
    assert core._resolve_service(ENDPOINT) is tarsis_template.fill_template


def test_input_xml_holds_the_def_reference_and_one_table_per_filled_member():
    root, _ = post(sample_document())
    assert root.tag == f"{{{TARSIS_NAMESPACE}}}project"
    assert [d.get("uri") for d in root.iter(f"{{{TARSIS_NAMESPACE}}}def")] == [DEF_FILE_NAME]
    names = [t.get("name") for t in root.iterfind("t:container/t:table", NS)]
    assert names == ["nodes", "beams", "mesh_setup", "solver_setup", "project_data"]


def table(root, name):
    (found,) = [t for t in root.iterfind("t:container/t:table", NS) if t.get("name") == name]
    titles = {cell.tag.split("}")[1].replace("h", "p"): cell.get("t") for cell in found.find("t:h", NS)}
    rows = []
    for row in found.iterfind("t:row", NS):
        rows.append({titles[cell.tag.split("}")[1]]: cell.get("v") for cell in row})
    return list(titles.values()), rows


def test_cells_carry_the_values_as_text():
    root, _ = post(sample_document())
    titles, rows = table(root, "nodes")
    assert titles == ["id", "name", "x", "y", "z"]
    assert rows == [{"id": "1", "name": "N1", "x": "0.0", "y": "0", "z": "1e-05"},
                    {"id": "2", "name": 'Nœud <2> & "q"', "x": "2.5", "y": "0.0", "z": None}]
    titles, rows = table(root, "beams")
    assert titles == ["id", "name", "begin_node.id", "begin_node.name", "end_node.id", "end_node.name", "layer",
                      "points", "flag"]
    assert rows[0]["points"] == "[[0, 0], [1, 1.5]]"
    assert rows[0]["flag"] == "true" and rows[0]["layer"] is None


def test_def_file_describes_every_table_and_column():
    _, definition = post(sample_document())
    assert definition.tag == f"{{{TARSIS_NAMESPACE}}}definition"
    tables = {t.get("name"): t for t in definition.iterfind("t:table", NS)}
    assert list(tables) == ["nodes", "beams", "mesh_setup", "solver_setup", "project_data"]
    assert tables["nodes"].get("rows") == "2"
    columns = [(c.get("id"), c.get("name"), c.get("type")) for c in tables["nodes"].iterfind("t:column", NS)]
    assert columns == [("p0", "id", "integer"), ("p1", "name", "text"), ("p2", "x", "number"),
                       ("p3", "y", "number"), ("p4", "z", "number")]
    types = {c.get("name"): c.get("type") for c in tables["beams"].iterfind("t:column", NS)}
    assert types["layer"] == "null" and types["points"] == "list" and types["flag"] == "boolean"


def test_empty_model_gives_only_the_setup_tables():
    root, definition = post(empty_document())
    assert [t.get("name") for t in root.iterfind("t:container/t:table", NS)] == ["mesh_setup", "solver_setup",
                                                                                "project_data"]
    assert len(definition.findall("t:table", NS)) == 3


def broken(**changes):
    doc = empty_document()
    for key, value in changes.items():
        if value is KeyError:
            del doc[key]
        else:
            doc[key] = value
    return {"input": encode(doc)}


@pytest.mark.parametrize("payload, message", [
    ("text", "Tarsis template request must be a mapping, not str"),
    ({}, "Tarsis template request must hold exactly the member 'input'"),
    ({"input": "", "extra": 1}, "Tarsis template request must hold exactly the member 'input'"),
    ({"input": 5}, "Tarsis template request member 'input' must be text, not int"),
    ({"input": "not base64!"}, "Tarsis template request input is not valid Base64"),
    ({"input": "é"}, "Tarsis template request input is not valid Base64"),
    ({"input": base64.b64encode(b"plain").decode()}, "Tarsis template request input is not gzip data"),
    ({"input": base64.b64encode(gzip.compress(b"\xff\xfe")).decode()}, "Tarsis model document is not UTF-8 text"),
    ({"input": base64.b64encode(gzip.compress(b"{nope")).decode()}, "Tarsis model document is not valid JSON"),
    ({"input": base64.b64encode(gzip.compress(b"[]")).decode()},
     "Tarsis model document must be a JSON object, not an array"),
    (broken(nodes=KeyError, beams=KeyError), "Tarsis model document lacks the member(s) 'nodes', 'beams'"),
    (broken(extra=[]), "Tarsis model document has unknown member(s) 'extra'"),
    (broken(nodes={}), "Tarsis model document member 'nodes' must be an array, not an object"),
    (broken(nodes=[1]), "Tarsis model document member 'nodes' item 0 must be an object, not a number"),
    (broken(mesh_setup=None), "Tarsis model document member 'mesh_setup' must be an object, not null"),
    (broken(nodes=[{"name": "a\x01"}]), "Tarsis model document value at nodes[0] holds a character XML cannot carry"),
    (broken(nodes=[{"a\x02": 1}]), "Tarsis model document table 'nodes' has a field name XML cannot carry"),
])
def test_unusable_requests_raise_internal_error(payload, message):
    with pytest.raises(InternalError) as info:
        core._post_on_addon_endpoint(ENDPOINT, payload, timeout=60)
    assert str(info.value).startswith(message)


def test_non_finite_numbers_keep_the_json_spelling():
    doc = empty_document()
    doc["nodes"] = [{"x": float("nan"), "y": float("inf"), "z": -float("inf")}]
    root, _ = post(doc)
    assert table(root, "nodes")[1] == [{"x": "NaN", "y": "Infinity", "z": "-Infinity"}]


def test_render_gives_the_same_files_without_the_transport():
    input_xml, def_file = tarsis_template.render(sample_document())
    assert input_xml.startswith(b'<?xml version="1.0" encoding="UTF-8"?>')
    root, definition = post(sample_document())
    assert ET.tostring(ET.fromstring(input_xml)) == ET.tostring(root)
    assert ET.tostring(ET.fromstring(def_file)) == ET.tostring(definition)
