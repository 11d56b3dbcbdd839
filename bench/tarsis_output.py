"""Generates Tarsis-like XML output files of a chosen size for the benchmarks."""

from __future__ import annotations

import os
import random

from norvale.external.tarsis import TARSIS_NAMESPACE


def _table(name: str, rows: int, rng: random.Random, columns: int = 8) -> str:
    header = "".join(f'<h{i} t="{t}"/>' for i, t in enumerate(["Node", "Case", "Fx", "Fy", "Fz", "Mx", "My", "Mz"][:columns]))
    out = [f'<table name="{name}" type="result"><obj>']
    for block in ("A", "B"):
        out.append(f'<blk h="{name} {block}"><h>{header}</h>')
        for r in range(rows):
            cells = [f'<p0 v="N{r}"/>', f'<p1 v="LC{r % 7}"/>']
            cells += [f'<p{i} v="{rng.uniform(-1e4, 1e4):.3f}"/>' for i in range(2, columns)]
            out.append(f'<row id="{r}">' + "".join(cells) + "</row>\n")
        out.append("</blk>")
    out.append("</obj></table>\n")
    return "".join(out)


def write_output(path: str, size: int, wanted: str = "Reactions", seed: int = 1) -> None:
    """Writes about `size` bytes: filler tables, then the table `wanted` last."""
    rng = random.Random(seed)
    with open(path, "w", encoding="utf-8") as f:
        f.write(f'<?xml version="1.0" encoding="UTF-8"?>\n<project xmlns="{TARSIS_NAMESPACE}">\n<container>\n')
        filler = _table("2D internal forces", 2000, rng)
        written = 0
        i = 0
        while written + len(filler) < size:
            f.write(filler.replace("2D internal forces", f"Internal forces {i}", 1))
            written += len(filler)
            i += 1
        f.write(_table(wanted, 200, rng))
        f.write("</container>\n</project>\n")


def write_input(path: str, size: int, seed: int = 1) -> None:
    """Writes a Tarsis input XML of about `size` bytes with its def reference at the end."""
    rng = random.Random(seed)
    with open(path, "w", encoding="utf-8") as f:
        f.write(f'<?xml version="1.0" encoding="UTF-8"?>\n<project xmlns="{TARSIS_NAMESPACE}">\n')
        f.write('<def uri="first.def"/>\n<container id="nodes">\n')
        written = 0
        n = 0
        while written < size:
            line = (f'<obj id="{n}" nm="K{n}"><p0 v="{rng.uniform(0, 100):.3f}"/><p1 v="{rng.uniform(0, 100):.3f}"/>'
                    f'<p2 v="0.000"/></obj>\n')
            f.write(line)
            written += len(line)
            n += 1
        f.write('</container>\n<def uri="model.def"/>\n</project>\n')


if __name__ == "__main__":
    import sys
    write_output(sys.argv[1], int(float(sys.argv[2])))
    print(os.path.getsize(sys.argv[1]))
