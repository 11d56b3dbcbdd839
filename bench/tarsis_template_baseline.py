"""The kit's template-filling service for Tarsis.

`Model.generate_xml_input` posts a model document to the add-on endpoint
"filltarsistemplate/v10/jobs/": a mapping ``{"input": text}`` whose text is the JSON document
(49 members), UTF-8 encoded, gzip-compressed and Base64-encoded.  This service turns that
document into the two files a Tarsis analysis reads:

* the input XML, in the Tarsis namespace, holding one table per non-empty member of the
  document and a ``def`` element whose ``uri`` names the definition file;
* the definition file, which describes every table of the input XML: its columns and the kind
  of value each column holds.

Both come back gzip-compressed and Base64-encoded under "input_file" and "def_file".  A request
the service cannot use raises `InternalError` with a message that says what is wrong.  Both
formats are described in ``docs/tarsis-input.md``.
"""

from __future__ import annotations

import base64
import gzip
import json
import math
import re
from typing import Any, Dict, Iterable, List, Mapping, Optional, Tuple

from norvale.errors import InternalError
from norvale.external.tarsis import TARSIS_NAMESPACE
from norvale.services.tarsis_template import _check_document, _decode_text, _request_text

__all__ = ["ENDPOINT", "DEF_FILE_NAME", "MEMBERS", "fill_template", "render"]

ENDPOINT = "filltarsistemplate/v10/jobs/"

#: The name the input XML gives the definition file (its ``def`` element's ``uri``).
DEF_FILE_NAME = "tarsis_input.def"


#: Members of the model document holding arrays of objects, in document order.
ARRAY_MEMBERS: Tuple[str, ...] = (
    "concrete_en1992_1_1", "concrete_en1992_2", "layers", "nonlinear_functions", "subsoils",
    "orthotropy_objects", "selections", "cross_sections", "numerical_cross_sections", "nodes", "beams",
    "cross_links", "arbitrary_profiles", "hinges_on_beam", "sections_on_beam", "planes", "open_slabs",
    "internal_edges", "rigid_arms", "point_supports", "point_supports_line", "line_supports_line",
    "line_supports_surface", "surface_supports", "hinges_on_plane", "load_cases", "load_groups",
    "load_combinations", "nonlinear_load_combinations", "result_classes", "point_loads_node", "point_loads",
    "point_moments_node", "line_loads", "line_moments_on_beam", "line_moments_on_plane",
    "line_force_surface_list", "surface_loads", "thermal_loads", "thermal_surface_loads",
    "free_surface_loads", "free_line_loads", "free_point_loads", "integration_strips", "averaging_strips",
    "sections_on_plane",
)

#: Members holding one object each.
SETUP_MEMBERS: Tuple[str, ...] = ("mesh_setup", "solver_setup", "project_data")

MEMBERS: Tuple[str, ...] = ARRAY_MEMBERS + SETUP_MEMBERS

# Characters XML 1.0 cannot carry, even as character references.
_NOT_XML = re.compile("[\x00-\x08\x0b\x0c\x0e-\x1f\ud800-\udfff\ufffe\uffff]")


# ---------------------------------------------------------------------------------------------
# Request


def _decode_request(payload: Any) -> Dict[str, Any]:
    # The request's own checks are the service's: what this module keeps is the rendering.
    document: Dict[str, Any] = _decode_text(_request_text(payload))
    return document


# ---------------------------------------------------------------------------------------------
# Tables


def _flatten(obj: Mapping[str, Any], prefix: str = "") -> Iterable[Tuple[str, Any]]:
    """Columns of one object: nested objects spread into dotted column names."""
    for key, value in obj.items():
        name = prefix + key
        if isinstance(value, dict) and value:
            yield from _flatten(value, name + ".")
        else:
            yield name, value


def _kind(value: Any) -> str:
    if isinstance(value, bool):
        return "boolean"
    if isinstance(value, int):
        return "integer"
    if isinstance(value, float):
        return "number"
    if isinstance(value, str):
        return "text"
    if isinstance(value, list):
        return "list"
    return "object"  # an empty object


def _merge_kind(old: str, new: str) -> str:
    if old == new or old == "":
        return new
    if {old, new} == {"integer", "number"}:
        return "number"
    return "mixed"


def _cell_text(value: Any, where: str) -> str:
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, str):
        text = value
    elif isinstance(value, float) and not math.isfinite(value):
        text = "NaN" if math.isnan(value) else ("Infinity" if value > 0 else "-Infinity")
    else:
        text = json.dumps(value, ensure_ascii=False)
    if _NOT_XML.search(text):
        raise InternalError(f"Tarsis model document value at {where} holds a character XML cannot carry")
    return text


class _Table:
    __slots__ = ("name", "columns", "kinds", "rows")

    def __init__(self, name: str) -> None:
        self.name = name
        self.columns: Dict[str, int] = {}  # column name -> index, in first-seen order
        self.kinds: List[str] = []
        self.rows: List[List[Tuple[int, Any]]] = []

    def add(self, obj: Mapping[str, Any]) -> None:
        row = []
        for name, value in _flatten(obj):
            index = self.columns.get(name)
            if index is None:
                index = self.columns[name] = len(self.columns)
                self.kinds.append("")
            if value is not None:
                self.kinds[index] = _merge_kind(self.kinds[index], _kind(value))
            row.append((index, value))
        self.rows.append(row)


def _tables(document: Mapping[str, Any]) -> List[_Table]:
    tables = []
    for key in MEMBERS:
        value = document[key]
        items = [value] if key in SETUP_MEMBERS else value
        if not items:
            continue
        table = _Table(key)
        for item in items:
            table.add(item)
        tables.append(table)
    return tables


def _attr(text: str) -> str:
    return (text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace('"', "&quot;")
            .replace("\t", "&#9;").replace("\n", "&#10;").replace("\r", "&#13;"))


def _check_name(name: str, table: str) -> None:
    if _NOT_XML.search(name):
        raise InternalError(f"Tarsis model document table '{table}' has a field name XML cannot carry")


def _input_xml(tables: List[_Table], def_name: str) -> bytes:
    out = ['<?xml version="1.0" encoding="UTF-8"?>\n',
           f'<project xmlns="{TARSIS_NAMESPACE}">\n',
           f'  <def uri="{_attr(def_name)}"/>\n']
    for table in tables:
        out.append(f'  <container t="{_attr(table.name)}">\n')
        out.append(f'    <table name="{_attr(table.name)}">\n')
        out.append("      <h>")
        for name, index in table.columns.items():
            _check_name(name, table.name)
            out.append(f'<h{index} t="{_attr(name)}"/>')
        out.append("</h>\n")
        for number, row in enumerate(table.rows):
            out.append("      <row>")
            for index, value in row:
                if value is None:
                    out.append(f"<p{index}/>")
                else:
                    where = f"{table.name}[{number}]"
                    out.append(f'<p{index} v="{_attr(_cell_text(value, where))}"/>')
            out.append("</row>\n")
        out.append("    </table>\n  </container>\n")
    out.append("</project>\n")
    return "".join(out).encode("utf-8")


def _def_file(tables: List[_Table]) -> bytes:
    out = ['<?xml version="1.0" encoding="UTF-8"?>\n',
           f'<definition xmlns="{TARSIS_NAMESPACE}" version="10">\n']
    for table in tables:
        out.append(f'  <table name="{_attr(table.name)}" rows="{len(table.rows)}">\n')
        for name, index in table.columns.items():
            kind = table.kinds[index] or "null"
            out.append(f'    <column id="p{index}" name="{_attr(name)}" type="{kind}"/>\n')
        out.append("  </table>\n")
    out.append("</definition>\n")
    return "".join(out).encode("utf-8")


def _pack(data: bytes) -> str:
    return base64.b64encode(gzip.compress(data, mtime=0)).decode("ascii")


def render(document: Mapping[str, Any], def_name: str = DEF_FILE_NAME) -> Tuple[bytes, bytes]:
    """The input XML and the definition file (UTF-8 bytes) of a model document."""
    _check_document(document)
    tables = _tables(document)
    return _input_xml(tables, def_name), _def_file(tables)


def fill_template(payload: Any, *, timeout: Optional[float] = None) -> Dict[str, str]:
    """Answers one request: the input XML and definition file, each gzip + Base64 text.

    The work is local and short, so `timeout` (seconds) is not needed here.
    """
    input_xml, def_file = render(_decode_request(payload))
    return {"input_file": _pack(input_xml), "def_file": _pack(def_file)}
