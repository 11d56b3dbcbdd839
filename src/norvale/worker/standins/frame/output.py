"""The output XML of an analysed frame, written table by table as the results are computed."""

from __future__ import annotations

from typing import IO, Sequence
from xml.sax.saxutils import quoteattr

import numpy as np

from .model import Frame
from .results import Stations, combine, internal_forces
from .solve import Solution

DISPLACEMENTS = ("Displacements of nodes", ("Node", "Ux", "Uy", "Uz", "Fix", "Fiy", "Fiz"))
REACTIONS = ("Reactions", ("Node", "Rx", "Ry", "Rz", "Mx", "My", "Mz"))
FORCES = ("Internal forces on beams", ("Beam", "dx", "N", "Vy", "Vz", "Mx", "My", "Mz"))


from norvale._native import xml_rows

#: Rows per piece of a block's text: bounds the memory of a piece (about 12 MB for 8 columns)
ROWS_PER_PIECE = 50_000


def quoted(names: Sequence[str]) -> list[str]:
    """quoteattr of every name; names without a character it would replace just get double quotes."""
    joined = "".join(names)
    if any(c in joined for c in "&<>\"'\n\r\t"):
        return [quoteattr(n) for n in names]
    return [f'"{n}"' for n in names]


def _header(titles: Sequence[str]) -> str:
    return "<h>" + "".join(f"<h{i} t={quoteattr(t)}/>" for i, t in enumerate(titles)) + "</h>\n"


def _block(out: IO[str], key: str, titles: Sequence[str], labels: list[str], columns: list[np.ndarray]) -> None:
    """One block: labels (already quoted attribute values) in the first column, then numbers, each
    the shortest decimal text that reads back to its double (Python's repr)."""
    out.write(f"<block h={quoteattr(key)}>")
    out.write(_header(titles))
    k = len(columns)
    # the rows of numbers of each piece, made in one array used again from piece to piece
    values = np.empty((min(len(labels), ROWS_PER_PIECE), k))
    for s in range(0, len(labels), ROWS_PER_PIECE):
        piece = values[:min(ROWS_PER_PIECE, len(labels) - s)]
        for i, c in enumerate(columns):
            piece[:, i] = c[s:s + len(piece)]
        out.write(xml_rows(labels[s:s + ROWS_PER_PIECE], piece))
    out.write("</block>")


def _table(out: IO[str], name: str, blocks: list[tuple[str, list[str], list[np.ndarray]]],
           titles: Sequence[str]) -> None:
    out.write(f"<table name={quoteattr(name)}><obj>")
    for key, labels, columns in blocks:
        _block(out, key, titles, labels, columns)
    out.write("</obj></table>\n")


def write_results(out: IO[str], frame: Frame, solution: Solution, st: Stations) -> None:
    node_labels = quoted(frame.node_names)
    support_labels = [node_labels[s[1]] for s in frame.supports]
    beam_labels = quoted(frame.beam_names)
    station_beams = [beam_labels[b] for b in st.beam.tolist()]
    forces = internal_forces(solution, st)               # (nc, S, 6)
    disp = solution.displacements                        # (nc, n, 6)
    reac = solution.reactions                            # (nc, ns, 6)
    applied = _applied(frame, solution)                  # (nc, 3) sum of the loads

    def emit(title: str, kind: str, d: tuple, r: tuple, f: tuple, load: tuple) -> None:
        keys = ("Maximum", "Minimum") if len(d) == 2 else (None,)
        balance_rows = []
        for key, lv, rv in zip(keys, load, r):
            suffix = f" ({key.lower()})" if key else ""
            balance_rows.append((f"Loads{suffix}", lv))
            balance_rows.append((f"Reactions{suffix}", rv[:, :3].sum(axis=0)))
        out.write(f"<table name={quoteattr(title)}><obj>")
        _block(out, "Balance", ("Item", "X", "Y", "Z"), [quoteattr(t) for t, _ in balance_rows],
               [np.array([v[k] for _, v in balance_rows]) for k in range(3)])
        out.write("</obj></table>\n")
        for (name, titles), values, labels, extra in ((DISPLACEMENTS, d, node_labels, None),
                                                      (REACTIONS, r, support_labels, None),
                                                      (FORCES, f, station_beams, st.x)):
            blocks = []
            for key, v in zip(keys, values):
                cols = [v[:, k] for k in range(6)]
                if extra is not None:
                    cols = [extra] + cols
                blocks.append((key or name, labels, cols))
            _table(out, name, blocks, titles)

    for i, case in enumerate(frame.cases):
        emit(case.title, case.kind, (disp[i],), (reac[i],), (forces[i],), (applied[i],))
    for combination in frame.combinations:
        emit(combination.title, combination.kind, combine(disp, combination), combine(reac, combination),
             combine(forces, combination), combine(applied, combination))


def _applied(frame: Frame, solution: Solution) -> np.ndarray:
    """The resultant force of each case's loads (global), for the balance block."""
    nc = len(frame.cases)
    total = np.zeros((nc, 3))
    for case, _, v in frame.nodal:
        total[case] += v[:3]
    R = frame.rotations
    for case, b, _, f in frame.points:
        total[case] += R[b].T @ f[:3]
    if len(frame.lines):
        c, b, x1, x2, q1, q2 = frame.lines.fields()
        q = (q1[:, :3] + q2[:, :3]) / 2 * (x2 - x1)[:, None]                    # local resultants
        glob = np.einsum("kji,kj->ki", R[b], q)
        for k in range(3):
            total[:, k] += np.bincount(c, weights=glob[:, k], minlength=nc)
    return total
