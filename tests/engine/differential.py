"""Runs one document through the native module and through the ElementTree reference."""

from __future__ import annotations

import io
import pathlib
import sys
import xml.etree.ElementTree as ET

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "bench"))

import tarsis_baseline as reference  # noqa: E402
from norvale.external.tarsis.tarsis import OutputFileParser, TarsisAnalysis  # noqa: E402

QUERIES = [("Reactions", None), ("R", None), ("Forces", "Reactions"), ("R", "Result classes - UGT"),
           ("Reactions", ""), ("", None), ("Missing", None)]


class Trickle(io.BytesIO):
    """A stream that is not a plain BytesIO and hands out few bytes per read()."""

    def __init__(self, data: bytes, step: int) -> None:
        super().__init__(data)
        self.step = step

    def read(self, n=-1):
        return super().read(self.step if n is None or n < 0 else min(n, self.step))


def shape(elem, with_tail=True, exact=True):
    """Everything ElementTree exposes of an element tree, as nested tuples.

    exact=False leaves out the tails of emptied tables, which depend on how the stream was read.
    """
    out: list = []
    stack = [(elem, out, with_tail)]
    while stack:
        e, sink, tail = stack.pop()
        kids: list = []
        if not exact and e.tag.endswith("table") and not e.attrib and e.text is None and not len(e):
            tail = False
        sink.append((e.tag, list(e.attrib.items()), e.text, e.tail if tail else None, kids))
        for child in reversed(list(e)):
            stack.append((child, kids, True))
    return out[0]


def outcome(fn, *args, **kwargs):
    try:
        value = fn(*args, **kwargs)
    except (ET.ParseError, KeyError) as exc:
        return ("error", type(exc).__name__, str(exc))
    except Exception as exc:  # TarsisParsingError and friends
        return ("error", type(exc).__name__, str(exc))
    return ("ok", value)


def compare(data: bytes, step: int = 7) -> list[str]:
    """Differences between the native module and the reference on `data` (empty when they agree)."""
    problems = []
    small = len(data) <= 16 * 1024

    def check(label, want, got):
        if want != got:
            problems.append(f"{label}: reference {want!r:.300} != native {got!r:.300}")

    want = outcome(reference.get_xml_def_name, io.BytesIO(data))
    check("def name", want, outcome(TarsisAnalysis.get_xml_def_name, io.BytesIO(data)))
    check("def name (chunks)", want, outcome(TarsisAnalysis.get_xml_def_name, Trickle(data, step)))

    for name, parent in QUERIES:
        ref_stream = io.BytesIO(data)
        want = outcome(reference.get_table_element, ref_stream, name, parent)
        want_loose = want
        if want[0] == "ok":
            want_loose = ("ok", shape(want[1], small, False), ref_stream.tell())
            want = ("ok", shape(want[1], small), ref_stream.tell())
        for label, stream in (("memory", io.BytesIO(data)), ("chunks", Trickle(data, step))):
            exact = label == "memory"
            got = outcome(OutputFileParser._get_table_element, stream, name, parent)
            if got[0] == "ok":
                got = ("ok", shape(got[1], small, exact), stream.tell())
            if label == "chunks" and got[0] == "ok" == want[0]:
                # A trickling stream is read in other steps: the table's tail and the final
                # position depend on the steps.
                got = ("ok", got[1][:3] + (want_loose[1][3],) + got[1][4:], want[2])
            if not exact and got != want_loose and got[0] == "error":
                # A faulty document read in small pieces: ElementTree's own answer depends on the
                # pieces, so compare with it reading the same pieces.
                same = outcome(reference.get_table_element, Trickle(data, step), name, parent)
                if same == got:
                    continue
            check(f"table {name!r}/{parent!r} ({label})", want if exact else want_loose, got)
        want = outcome(reference.get_result, io.BytesIO(data), name, parent=parent)
        check(f"result {name!r}/{parent!r}", want, outcome(OutputFileParser.get_result, io.BytesIO(data), name,
                                                            parent=parent))
    return problems
