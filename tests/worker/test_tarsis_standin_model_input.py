"""The Tarsis stand-in reads the input XML that the template-filling service writes."""

import xml.etree.ElementTree as ET

from norvale.external.tarsis import TARSIS_NAMESPACE
from norvale.services.tarsis_template import MEMBERS, render
from norvale.worker.standins import tarsis as standin


def document():
    doc = {key: [] for key in MEMBERS}
    doc.update(mesh_setup={}, solver_setup={}, project_data={})
    doc["nodes"] = [{"id": i, "name": f"K{i}", "x": float(i)} for i in (1, 2, 3)]
    doc["point_supports"] = [{"id": 1, "name": "Sn1", "node": {"id": 1, "name": "K1"}},
                             {"id": 2, "name": "Sn3", "node": {"id": 3, "name": "K3"}}]
    doc["point_loads_node"] = [{"id": 1, "name": "F1", "node": {"id": 2, "name": "K2"}, "load": -3000.0,
                                "direction": "Z"},
                               {"id": 2, "name": "F2", "node": {"id": 2, "name": "K2"}, "load": 99.0,
                                "direction": "X"}]
    return doc


def rows(root, name, parent):
    ns = {"t": TARSIS_NAMESPACE}
    tables = list(root.iter(f"{{{TARSIS_NAMESPACE}}}table"))
    start = [t.get("name") for t in tables].index(parent)
    table = next(t for t in tables[start:] if t.get("name") == name)
    return [[cell.get("v") for cell in row] for row in table.iterfind("t:obj/*/t:row", ns)]


def test_tables_of_the_service_are_read_back():
    input_xml, _ = render(document())
    tables = standin.model_tables(ET.fromstring(input_xml))
    assert [row["name"] for row in tables["nodes"]] == ["K1", "K2", "K3"]
    assert tables["point_supports"][1]["node.name"] == "K3"
    assert tables["mesh_setup"] == [{}]


def test_reactions_balance_the_vertical_loads_per_result_class():
    input_xml, _ = render(document())
    root = ET.fromstring(standin.output_xml(input_xml, {"result_type": "MODEL"}))
    assert rows(root, "Reactions", "Result classes - SLS") == [["K1", "0.000", "0.000", "1500.000"],
                                                               ["K3", "0.000", "0.000", "1500.000"]]
    assert rows(root, "Reactions", "Result classes - ULS")[0][3] == "2025.000"
    nodes = [r[0] for r in rows(root, "Nodes", "Summary")]
    assert nodes == ["K1", "K2", "K3"]
