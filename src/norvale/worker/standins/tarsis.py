"""Stand-in for the Tarsis structural analysis program (not the real program).

Usage: python -m norvale.worker.standins.tarsis tarsis_job.json   (see the Tarsis adapter)

An input XML made by the kit's template-filling service (tables of rows, see docs/tarsis-input.md)
is a model: its frame part is analysed (linear elastic, `norvale.worker.standins.frame`) and the
output XML holds "Summary", "Nodes" and, for every load case and combination, a table "Load case -
NAME" or "Combination - NAME" followed by "Displacements of nodes", "Reactions" and "Internal forces
on beams" (docs/tarsis-results.md). A model the analysis refuses (an object it does not analyse, a
mechanism, an unknown material or profile) makes it exit with status 3 and the reason on its error
output, writing no output XML. Any other input XML is echoed: "Nodes" lists every element that has
an "id" attribute, with placeholder "Reactions" under "Result classes - ULS" and "Result classes -
SLS", for trying the road. With the result type "MODEL" it appends a line to the project file; with
"ENGINEERING_REPORT" it writes a one-page PDF named after the output document. An input XML holding
the text "TARSIS_EXIT=<n>" makes it exit with status n before writing anything, so that failures can
be tried out.
"""

from __future__ import annotations

import collections
import contextlib
import gc
import importlib
import itertools
import json
import os
import re
import sys
import xml.etree.ElementTree as ET
from collections.abc import Callable, Iterator, Sequence
from operator import attrgetter, methodcaller
from typing import IO, Any, Optional, cast
from xml.sax.saxutils import quoteattr

from norvale.external.tarsis import TARSIS_NAMESPACE
from norvale.worker.standins import frame

_EXIT = re.compile(rb"TARSIS_EXIT=(\d+)")
_TAG = attrgetter("tag")
_VALUE = methodcaller("get", "v")

#: Blocks of an output table: block key -> (column titles, rows of cell texts).
Blocks = dict[str, tuple[list[str], list[list[str]]]]
#: Rows of the tables of a template-filled input XML: table name -> rows of column title -> cell text.
Tables = dict[Optional[str], Sequence[dict[Optional[str], Optional[str]]]]
#: A table as the package's XML engine reads it: name, rows, and its columns (title -> the values)
#: when its rows share their cells, its rows (title -> value) otherwise.
_EngineTable = tuple[Optional[str], int, Optional[dict[Optional[str], list[Optional[str]]]],
                     Optional[list[dict[Optional[str], Optional[str]]]]]
#: The engine's reading of a document's tables (`norvale._native.xml_tables`, compiled, without a
#: stub of its own): element counts by name and the tables, or None for a document it leaves to
#: a full parser.
_xml_tables: Callable[[bytes, str], Optional[tuple[dict[str, int], list[_EngineTable]]]] = (
    importlib.import_module("norvale._native").xml_tables)


def _table(name: str, blocks: Blocks) -> str:
    out = [f"<table name={quoteattr(name)}><obj>"]
    for key, (titles, rows) in blocks.items():
        out.append(f"<block h={quoteattr(key)}><h>")
        out.extend(f"<h{i} t={quoteattr(t)}/>" for i, t in enumerate(titles))
        out.append("</h>\n")
        for row in rows:
            out.append("<row>" + "".join(f"<p{i} v={quoteattr(v)}/>" for i, v in enumerate(row)) + "</row>\n")
        out.append("</block>")
    out.append("</obj></table>\n")
    return "".join(out)


def _reactions(ids: list[str], factor: float) -> Blocks:
    rows = [[i, f"{(k + 1) * factor:.3f}", "0.000", f"{-(k + 1) * 2 * factor:.3f}"] for k, i in enumerate(ids)]
    return {"Reactions": (["Node", "Rx", "Ry", "Rz"], rows)}


def _local(tag: str) -> str:
    return tag.rpartition("}")[2]


def model_tables(root: ET.Element) -> Tables:
    """The tables of an input XML made by the template-filling service: name -> rows, each row a
    mapping of column title to the cell's text (None for a cell without value). A table or column
    without a name has the key None."""
    ns = "{" + TARSIS_NAMESPACE + "}"
    tables: Tables = {}
    for table in root.iter(ns + "table"):
        header = table.find(ns + "h")
        if header is None:
            continue
        titles = {_local(cell.tag).replace("h", "p"): cell.get("t") for cell in header}
        rows = table.findall(ns + "row")
        width = len(rows[0]) if rows else 0
        first = list(map(_TAG, rows[0])) if rows else []
        cells = list(itertools.chain.from_iterable(rows))
        if width and len(cells) == width * len(rows) and list(map(_TAG, cells)) == first * len(rows):
            # every row has the same cells in the same order (the service's tables): the rows are
            # made without a Python step per cell
            keys = [titles.get(_local(tag)) for tag in first]
            tables[table.get("name")] = list(map(dict, map(zip, itertools.repeat(keys),
                                                           itertools.batched(map(_VALUE, cells), width))))
        else:
            tables[table.get("name")] = [{titles.get(_local(cell.tag)): cell.get("v") for cell in row}
                                         for row in rows]
    return tables


def _element_counts(root: ET.Element) -> collections.Counter[str]:
    """How many elements of each name (without namespace) the tree holds."""
    counts: collections.Counter[str] = collections.Counter()
    for tag, n in collections.Counter(map(_TAG, root.iter())).items():
        counts[_local(tag)] += n
    return counts


@contextlib.contextmanager
def _without_gc() -> Iterator[None]:
    """No cyclic garbage collection inside: the passes over a big model's hundreds of thousands of
    tree elements would otherwise be repeated by the collector at every threshold it crosses."""
    enabled = gc.isenabled()
    gc.disable()
    try:
        yield
    finally:
        if enabled:
            gc.enable()


class _Pieces(list[str]):
    """A text sink that keeps the written pieces, joined once at the end."""

    write = list.append


def output_xml(input_xml: bytes, options: dict[str, Any]) -> str:
    """The whole output XML as text (see `write_output`)."""
    out = _Pieces()
    write_output(cast(IO[str], out), input_xml, options)  # it has the one method write_output calls
    return "".join(out)


def read_input(input_xml: bytes) -> tuple[collections.Counter[str], Tables, list[str]]:
    """What the output takes from `input_xml`: how many elements of each name it holds, its tables
    (`model_tables`, empty when it is not a model) and the ids of its first 1 000 nodes (of its
    elements with an "id" attribute when it is not a model). Raises ET.ParseError."""
    with _without_gc():
        # the package's XML engine reads a model's tables straight into columns; a document it
        # leaves to a full parser, and one without tables, go to ElementTree
        native = _xml_tables(input_xml, TARSIS_NAMESPACE)
        if native is not None:
            by_name, found = native
            read: Tables = {}
            for name, n, columns, records in found:
                read[name] = frame.Table(columns, n) if columns is not None else (records or [])
            if read:
                node_ids = [v or "" for v in frame.column(read.get("nodes", []), "name")[:1000]]
                return collections.Counter(by_name), read, node_ids
        root = ET.fromstring(input_xml)
        counts = _element_counts(root)
        tables = model_tables(root)
        if tables:
            ids = [row.get("name") or "" for row in itertools.islice(tables.get("nodes", []), 1000)]
        else:
            ids = [el.get("id", "") for el in root.iter() if el.get("id") is not None][:1000]
        # the tree of a big model takes several times the size of its tables: freed here, before the
        # analysis
        del root
    return counts, tables, ids


def write_output(out: IO[str], input_xml: bytes, options: dict[str, Any]) -> None:
    """Writes the output XML of `input_xml`: a model is analysed (raises AnalysisRefused when it
    cannot be); any other XML is echoed (Summary, Nodes and placeholder reactions)."""
    counts, tables, ids = read_input(input_xml)
    summary = {"Input": (["Item", "Count"], [[tag, str(n)] for tag, n in sorted(counts.items())]),
               "Options": (["Option", "Value"], [[k, str(options.get(k))] for k in
                                                ("calculation_setting", "xml_doc_name", "result_type")])}
    tables_text = [_table("Summary", summary), _table("Nodes", {"Nodes": (["Id"], [[i] for i in ids])})]
    if tables:
        analysis = frame.analyse(tables)
        out.write(f'<?xml version="1.0" encoding="UTF-8"?>\n<project xmlns="{TARSIS_NAMESPACE}">\n<container>\n')
        out.write("".join(tables_text))
        frame.write(out, analysis)
        out.write("</container>\n</project>\n")
        return
    out.write(f'<?xml version="1.0" encoding="UTF-8"?>\n<project xmlns="{TARSIS_NAMESPACE}">\n<container>\n')
    out.write("".join(tables_text))
    for parent, factor in (("Result classes - ULS", 1.35), ("Result classes - SLS", 1.0)):
        out.write(f"<table name={quoteattr(parent)}><obj/></table>\n")
        out.write(_table("Reactions", _reactions(ids, factor)))
    out.write("</container>\n</project>\n")


_PDF = (b"%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
        b"3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 595 842]>>endobj\ntrailer<</Root 1 0 R>>\n%%EOF\n")


def _discard(path: str) -> None:
    try:
        os.remove(path)
    except OSError:
        pass


def main(argv: list[str]) -> int:
    if len(argv) != 1:
        print("usage: tarsis-standin tarsis_job.json", file=sys.stderr)
        return 2
    with open(argv[0], encoding="utf-8") as f:
        options = json.load(f)
    files = options["files"]
    with open(files["input"], "rb") as f:
        input_xml = f.read()
    code = _EXIT.search(input_xml)
    if code:
        return int(code.group(1))
    try:
        with open(files["output"], "w", encoding="utf-8") as f:
            write_output(f, input_xml, options)
    except ET.ParseError as exc:
        _discard(files["output"])
        print(f"cannot read the input XML: {exc}", file=sys.stderr)
        return 7
    except frame.AnalysisRefused as exc:
        _discard(files["output"])
        print(f"Tarsis stand-in: {exc}", file=sys.stderr)
        return 3
    if options.get("result_type") == "MODEL":
        with open(files["model"], "ab") as f:
            f.write(f"\n# calculated: {options.get('calculation_setting')}\n".encode())
    elif options.get("result_type") == "ENGINEERING_REPORT":
        with open(f"{options['output_document']}.pdf", "wb") as f:
            f.write(_PDF)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
