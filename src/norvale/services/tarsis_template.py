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
document as Python objects. A request it does not read that way (anything malformed, and rare
well-formed forms: a name given twice in an object, members out of order, numbers beyond a double,
several gzip members) is decoded here with the host's decoders, which word what is wrong with it;
a usable document is then handed to the same native writer as plain JSON text.
"""

from __future__ import annotations

import base64
import binascii
import gzip
import json
import zlib
from typing import Any, Dict, Mapping, Optional, Tuple, Union

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


def _plain_text(document: Any) -> bytes:
    """The JSON text of a usable model document, members in document order, as the native reader
    takes it (ASCII, every name once)."""
    _check_document(document)
    ordered = {key: document[key] for key in MEMBERS}
    try:
        return json.dumps(ordered, ensure_ascii=True).encode("ascii")
    except RecursionError:
        raise InternalError(f"Tarsis model document nests deeper than {_template.MAX_DEPTH} levels") from None


def _answer(files: Union[Tuple[Any, Any], str, None]) -> Tuple[Any, Any]:
    if isinstance(files, str):
        raise InternalError(files)
    if files is None:  # plain JSON text the native reader does not take: nested too deeply
        raise InternalError(f"Tarsis model document nests deeper than {_template.MAX_DEPTH} levels")
    return files


def fill_template(payload: Any, *, timeout: Optional[float] = None) -> Dict[str, str]:
    """Answers one request: the input XML and definition file, each gzip + Base64 text.

    The work is local and short, so `timeout` (seconds) is not needed here.
    """
    text = _request_text(payload)
    files = _template.fill(text, MEMBERS, SETUP_MEMBERS, TARSIS_NAMESPACE, DEF_FILE_NAME)
    if files is None:
        plain = _plain_text(_decode_text(text))
        files = _template.render(plain, MEMBERS, SETUP_MEMBERS, TARSIS_NAMESPACE, DEF_FILE_NAME, pack=True)
    input_file, def_file = _answer(files)
    return {"input_file": input_file, "def_file": def_file}


def render(document: Mapping[str, Any], def_name: str = DEF_FILE_NAME) -> Tuple[bytes, bytes]:
    """The input XML and the definition file (UTF-8 bytes) of a model document."""
    files = _template.render(_plain_text(document), MEMBERS, SETUP_MEMBERS, TARSIS_NAMESPACE, def_name)
    input_xml, def_file = _answer(files)
    return input_xml, def_file
