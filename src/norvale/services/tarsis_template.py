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

The work is native (`norvale.services._template`): it reads the request in two passes over the
decompressed document and writes both files through gzip as it goes, without building the
document as Python objects. A request the native reader does not take (anything malformed, and
rare well-formed forms: duplicate names in an object, members out of order, numbers beyond a
double) is read here in Python, which answers it, or raises the error, word for word as always.
"""

from __future__ import annotations

import base64
import binascii
import gzip
import json
import math
import re
import zlib
from typing import Any, Dict, Iterable, List, Mapping, Optional, Tuple

from norvale.errors import InternalError
from norvale.external.tarsis import TARSIS_NAMESPACE
from norvale.services import _template

__all__ = ["ENDPOINT", "DEF_FILE_NAME", "MEMBERS", "fill_template", "render"]

ENDPOINT = "filltarsistemplate/v10/jobs/"

#: The name the input XML gives the definition file (its ``def`` element's ``uri``).
DEF_FILE_NAME = "tarsis_input.def"


#: The members of the model document, in document order: the Model's registry table
#: (native/external/tarsis/tarsis/registries.h) read through the native half of this service.
MEMBERS: Tuple[str, ...] = _template.MEMBERS

#: Members holding one object each (the model's setup objects).
SETUP_MEMBERS: Tuple[str, ...] = _template.SETUP_MEMBERS

#: Members holding arrays of objects, in document order.
ARRAY_MEMBERS: Tuple[str, ...] = tuple(key for key in MEMBERS if key not in SETUP_MEMBERS)

# Characters XML 1.0 cannot carry, even as character references.
_NOT_XML = re.compile("[\x00-\x08\x0b\x0c\x0e-\x1f\ud800-\udfff\ufffe\uffff]")


# ---------------------------------------------------------------------------------------------
# Request


def _request_text(payload: Any) -> str:
    if not isinstance(payload, Mapping):
        raise InternalError(f"Tarsis template request must be a mapping, not {type(payload).__name__}")
    if set(payload) != {"input"}:
        raise InternalError("Tarsis template request must hold exactly the member 'input'")
    text = payload["input"]
    if not isinstance(text, str):
        raise InternalError(f"Tarsis template request member 'input' must be text, not {type(text).__name__}")
    return text


def _decode_request(payload: Any) -> Any:
    """The model document of a request (any JSON value; `_check_document` checks its shape)."""
    return _decode_text(_request_text(payload))


def _decode_text(text: str) -> Any:
    try:
        packed = base64.b64decode(text.encode("ascii"), validate=True)
    except (UnicodeEncodeError, binascii.Error) as exc:
        raise InternalError(f"Tarsis template request input is not valid Base64: {exc}") from None
    try:
        raw = gzip.decompress(packed)
    except (OSError, EOFError, zlib.error) as exc:
        raise InternalError(f"Tarsis template request input is not gzip data: {exc}") from None
    try:
        document = json.loads(raw.decode("utf-8"))
    except UnicodeDecodeError as exc:
        raise InternalError(f"Tarsis model document is not UTF-8 text: {exc}") from None
    except ValueError as exc:
        raise InternalError(f"Tarsis model document is not valid JSON: {exc}") from None
    return document


def _check_document(document: Any) -> None:
    if not isinstance(document, dict):
        raise InternalError(f"Tarsis model document must be a JSON object, not {_json_kind(document)}")
    missing = [key for key in MEMBERS if key not in document]
    if missing:
        raise InternalError("Tarsis model document lacks the member(s) " + ", ".join(map(repr, missing)))
    unknown = [key for key in document if key not in MEMBERS]
    if unknown:
        raise InternalError("Tarsis model document has unknown member(s) " + ", ".join(map(repr, unknown)))
    for key in ARRAY_MEMBERS:
        value = document[key]
        if not isinstance(value, list):
            raise InternalError(f"Tarsis model document member '{key}' must be an array, not {_json_kind(value)}")
        for index, item in enumerate(value):
            if not isinstance(item, dict):
                raise InternalError(f"Tarsis model document member '{key}' item {index} must be an object, "
                                    f"not {_json_kind(item)}")
    for key in SETUP_MEMBERS:
        if not isinstance(document[key], dict):
            raise InternalError(f"Tarsis model document member '{key}' must be an object, "
                                f"not {_json_kind(document[key])}")


def _json_kind(value: Any) -> str:
    if value is None:
        return "null"
    if isinstance(value, bool):
        return "a boolean"
    if isinstance(value, (int, float)):
        return "a number"
    if isinstance(value, str):
        return "a string"
    if isinstance(value, list):
        return "an array"
    return "an object"


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
    text = _request_text(payload)
    if _steps() == _STEPS_AT_IMPORT:
        files = _template.fill(text, MEMBERS, SETUP_MEMBERS, TARSIS_NAMESPACE, DEF_FILE_NAME)
        if files is not None:
            return {"input_file": files[0], "def_file": files[1]}
    input_xml, def_file = render(_decode_text(text))
    return {"input_file": _pack(input_xml), "def_file": _pack(def_file)}


def _steps() -> Tuple[int, ...]:
    """Identities of what the Python reading calls: once a test or an application patches one of
    them (`gzip.compress`, `json.loads`, `render`, ...), requests take the Python reading, which
    calls it."""
    return tuple(map(id, (base64.b64decode, base64.b64encode, gzip.decompress, gzip.compress, json.loads,
                          json.dumps, render, _decode_text, _pack, _tables, _input_xml, _def_file)))


_STEPS_AT_IMPORT = _steps()
