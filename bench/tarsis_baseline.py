"""The straightforward ElementTree `iterparse` reading of Tarsis XML files.

Benchmarks measure the native module against it, and the differential tests use it as the
oracle: it follows the same rules as `TarsisAnalysis.get_xml_def_name` and `OutputFileParser`.
"""

from __future__ import annotations

import xml.etree.ElementTree as ET

from norvale.errors import TarsisParsingError
from norvale.external.tarsis import TARSIS_NAMESPACE

NS = {"tarsis": TARSIS_NAMESPACE}


def get_xml_def_name(input_file) -> str:
    pos = input_file.tell()
    input_file.seek(0)
    name = ""
    for _, elem in ET.iterparse(input_file, events=("end",)):
        if elem.tag == "{%s}def" % TARSIS_NAMESPACE:
            name = elem.get("uri", "")
    input_file.seek(pos)
    return name


def tag_without_ns(elem) -> str:
    return elem.tag.rpartition("}")[2]


def get_table_element(file, table_name, parent=None):
    parent_found = False
    first = None
    for _, elem in ET.iterparse(file, events=("end",)):
        if first is None:
            first = elem
            continue
        if tag_without_ns(elem) != "table":
            continue
        if parent:
            if elem.get("name") == parent:
                parent_found = True
                elem.clear()
                continue
            if parent_found and elem.get("name") == table_name:
                return elem
        elif elem.get("name") == table_name:
            return elem
        elem.clear()
    if parent:
        raise TarsisParsingError(f"Cannot find table '{table_name}' in output XML for parent '{parent}'")
    raise TarsisParsingError(f"Cannot find table '{table_name}' in output XML")


def result_element_to_dict(element) -> dict:
    header = element.find("tarsis:h", NS)
    if header is None:
        raise TarsisParsingError("No result headers were found in the provided XML table.")
    columns = {}
    for cell in header:
        columns[tag_without_ns(cell).replace("h", "p")] = cell.get("t")
    result = {cell.get("t"): [] for cell in header}
    for row in element.findall("tarsis:row", NS):
        record = dict.fromkeys(columns)
        for cell in row:
            record[tag_without_ns(cell)] = cell.get("v")
        for key, value in record.items():
            result[columns[key]].append(value)
    return result


def get_result(file, table_name, *, parent=None) -> dict:
    pos = file.tell()
    file.seek(0)
    table = get_table_element(file, table_name, parent)
    obj = table.find("tarsis:obj", NS)
    if obj is None or len(obj) == 0:
        raise TarsisParsingError(f"No results were found in XML table '{table_name}'.")
    result = {}
    for block in obj:
        columns = result_element_to_dict(block)
        key = block.get("h")
        result[key if key is not None else tag_without_ns(block)] = columns
    file.seek(pos)
    return result
