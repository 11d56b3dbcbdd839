"""The Tarsis stand-in's frame analysis on 3D building frames, input XML to output XML, against the
sparse solver library alone (PARDISO through pypardiso; CHOLMOD through cholespy beside it where
it takes less than minutes) on the same matrix and loads, in the same run.

Figures printed, per frame (10 000 and 50 000 nodes; 3 load cases, 2 combinations):
  phases             seconds to read the input XML, build the arrays, assemble and solve, write
  input -> output    the whole stand-in step (target: <= 10 s for 10 000 nodes)
  solver alone       PARDISO's factorisation and solution, of every right-hand side at once, of the
                     very matrix the analysis hands it (the upper triangle of the reduced stiffness
                     matrix, canonical CSR) and its right-hand sides (the cases' loads and the
                     mechanism probe); its solution is checked to be the analysis' (and CHOLMOD's
                     through cholespy, once, below 100 000 unknowns)
  ratio              input -> output over solver alone (target: <= 2)
  peak memory        the process's peak resident size, and PARDISO's own memory (what it reports
                     for its factor and solution, or for its ordering when that is more)
  plot_results       seconds for the deformed shape of the 10 000-node frame (target: <= 5 s)

Each frame runs in a fresh interpreter. The whole step and the solver alone run in turns, three
times (`--repeat N`), and the best time of each is compared: other work on the machine slows
single runs at random. `python bench/bench_frame.py --quick` runs 2 000 nodes only, `--small` the
10 000-node frame only.
"""

from __future__ import annotations

import json
import pathlib
import subprocess
import sys
import tempfile
import time

CHILD = r"""
import io, json, resource, sys, time
import numpy as np
sys.path.insert(0, sys.argv[3])
from bench_frame import building
from norvale.worker.standins import tarsis as standin
from norvale.worker.standins.frame import solve
nx, ny, levels = (int(v) for v in sys.argv[1].split("x"))
model = building(nx, levels, ny)
input_xml = model.generate_xml_input()[0].getvalue()
captured = {}
class Recording(solve._Factor):
    # what the analysis hands the solver: the upper triangle of its reduced matrix, and the loads
    def __init__(self, U):
        captured["U"] = U
        t = time.perf_counter(); super().__init__(U); captured["factor"] = time.perf_counter() - t
    def solve(self, b):
        captured["b"] = b
        t = time.perf_counter(); x = super().solve(b); captured["solve"] = time.perf_counter() - t
        captured["x"] = x
        return x
solve._Factor = Recording
phases = {}
t0 = time.perf_counter()
counts, tables, ids = standin.read_input(input_xml)
t1 = time.perf_counter()
from norvale.worker.standins import frame
from norvale.worker.standins.frame import model as fmodel, results as fresults
fr = fmodel.read(tables); st = fresults.stations(fr)
t2 = time.perf_counter()
solution = solve.analyse(fr)
t3 = time.perf_counter()
out = io.StringIO()
frame.write(out, frame.Analysis(fr, solution, st))
t4 = time.perf_counter()
del counts, tables, ids
output_bytes = len(out.getvalue())
output_text = out.getvalue() if len(sys.argv) > 4 else None   # for the pictures
del out
solve._Factor = Recording.__mro__[1]
repeats = int(sys.argv[2]) or 1
U, b = captured["U"], captured["b"]
import pypardiso
# the stand-in's own entry, whole (parsing included), and the library alone on the same matrix and
# right-hand sides (the cases' loads and the probe), in turns: the best of each (the machine's other
# work slows single runs at random)
totals, alones = [], []
for _ in range(repeats):
    t5 = time.perf_counter(); standin.output_xml(input_xml, {}); totals.append(time.perf_counter() - t5)
    t = time.perf_counter()
    p = pypardiso.PyPardisoSolver(mtype=2); p.set_statistical_info_off(); p.factorize(U); x = p.solve(U, b)
    alones.append(time.perf_counter() - t)
    # PARDISO's own memory (KB): the larger of the ordering's peak and the factor with its solution
    factor_mb = max(p.get_iparm(15), p.get_iparm(16) + p.get_iparm(17)) / 1024
    p.free_memory(everything=True)
    assert np.abs(x - captured["x"]).max() <= 1e-9 * np.abs(captured["x"]).max(), "not the analysis' solution"
total, alone = min(totals), min(alones)
cholmod = None
if U.shape[0] < 100_000:
    from cholespy import CholeskySolverD, MatrixType
    t = time.perf_counter()
    coo = solve._symmetric(U).tocoo()
    s = CholeskySolverD(U.shape[0], coo.row.astype(np.int32), coo.col.astype(np.int32), coo.data, MatrixType.COO)
    x = np.zeros_like(b); s.solve(b, x)
    cholmod = time.perf_counter() - t
plot = None
if len(sys.argv) > 4:
    import matplotlib; matplotlib.use("Agg")
    from norvale.external.tarsis import plot as tplot
    from norvale.external.tarsis.tarsis import OutputFileParser
    from norvale.external.tarsis import TARSIS_NAMESPACE
    xml = io.BytesIO((f'<?xml version="1.0" encoding="UTF-8"?><project xmlns="{TARSIS_NAMESPACE}"><container>'
                      + output_text + "</container></project>").encode())
    t = time.perf_counter(); fig = tplot.plot_results(model, xml, "Load case - DEAD", "deformed"); plot = time.perf_counter() - t
    t = time.perf_counter(); fig = tplot.plot_results(model, xml, "Load case - DEAD", "My"); plot_my = time.perf_counter() - t
    plot = (plot, plot_my)
chosen = alone if U.shape[0] >= solve.PARDISO_FROM else cholmod
print(json.dumps({"chosen": chosen, "nodes": len(fr.node_names), "beams": len(fr.beam_names), "unknowns": U.shape[0],
                  "nnz": int(U.nnz), "read_xml": t1 - t0, "arrays": t2 - t1, "solve": t3 - t2,
                  "write": t4 - t3, "output_bytes": output_bytes, "total": total, "alone": alone,
                  "factor": captured["factor"], "solve_rhs": captured["solve"], "repeats": repeats, "totals": totals, "alones": alones, "cholmod": cholmod, "factor_mb": factor_mb, "peak_mb": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024,
                  "plot": plot}))
"""


def building(nx: int, levels: int, ny: int = 0):
    """A building frame of nx x ny columns and `levels` floors (nx * ny * (levels + 1) nodes): clamped
    columns HEB 300, beams IPE 400 both ways; dead load on every beam, live load on every other one,
    wind as nodal forces along X; a linear ULS combination and an envelope."""
    from norvale.external.tarsis import object as obj
    from norvale.external.tarsis.tarsis import Model

    m = Model()
    steel = obj.Material("S355")
    column = m.create_library_cross_section("I", "HEB300", steel, name="HEB300")
    girder = m.create_library_cross_section("I", "IPE400", steel, name="IPE400")
    nodes = {}
    for k in range(levels + 1):
        for i in range(nx):
            for j in range(ny or nx):
                nodes[k, i, j] = m.create_node(f"N{k}_{i}_{j}", 6.0 * i, 5.0 * j, 3.5 * k)
    rigid = (obj.PointSupport.Freedom.RIGID,) * 6
    for i in range(nx):
        for j in range(ny or nx):
            m.create_point_support(f"S{i}_{j}", nodes[0, i, j], "STANDARD", rigid, (0.0,) * 6, "GLOBAL")
    group = m.create_load_group("G", "PERMANENT")
    dead = m.create_permanent_load_case("DEAD", "", group, "STANDARD")
    live = m.create_variable_load_case("LIVE", "", group, "STATIC")
    wind = m.create_variable_load_case("WIND", "", group, "STATIC")
    count = 0
    for k in range(1, levels + 1):
        for i in range(nx):
            for j in range(ny or nx):
                m.create_beam(nodes[k - 1, i, j], nodes[k, i, j], column)
                for di, dj in ((1, 0), (0, 1)):
                    if i + di < nx and j + dj < (ny or nx):
                        beam = m.create_beam(nodes[k, i, j], nodes[k, i + di, j + dj], girder)
                        m.create_line_load(f"D{count}", dead, beam, "FORCE", "UNIFORM", -12e3, -12e3, "Z", 0.0, 1.0,
                                           "RELATIVE", "GLOBAL", "FROM_START", 0.0, 0.0)
                        if count % 2:
                            m.create_line_load(f"L{count}", live, beam, "FORCE", "UNIFORM", -8e3, -8e3, "Z", 0.0,
                                               1.0, "RELATIVE", "GLOBAL", "FROM_START", 0.0, 0.0)
                        count += 1
            m.create_point_load_node(nodes[k, 0, j], wind, 5e3, direction="X")
    m.create_load_combination("ULS", "LINEAR_ULTIMATE", {dead: 1.35, live: 1.5, wind: 0.9})
    m.create_load_combination("ENV", "ENVELOPE_ULTIMATE", {dead: 1.0, live: 1.0, wind: 1.0})
    return m


def run(shape: str, plot: bool, repeats: int) -> dict:
    here = str(pathlib.Path(__file__).resolve().parent)
    args = [sys.executable, "-c", CHILD, shape, str(repeats), here] + (["plot"] if plot else [])
    out = subprocess.run(args, capture_output=True, text=True)
    if out.returncode != 0:
        sys.exit(f"the {shape} frame failed:\n{out.stderr[-3000:]}")
    return json.loads(out.stdout.strip().splitlines()[-1])


def main() -> None:
    quick = "--quick" in sys.argv
    repeats = int(sys.argv[sys.argv.index("--repeat") + 1]) if "--repeat" in sys.argv else 3
    # a slab block of 50 x 10 bays and 19 floors (10 000 nodes), one of 125 x 16 and 24 floors (50 000)
    sizes = [("20x5x19", True)] if quick else [("50x10x19", True), ("125x16x24", False)]
    if "--small" in sys.argv:        # the 10 000-node frame only
        sizes = sizes[:1]
    for shape, plot in sizes:
        r = run(shape, plot, repeats)
        print(f"frame of {r['nodes']} nodes, {r['beams']} beams, {r['unknowns']} unknowns, "
              f"{r['nnz']} stored entries of the matrix's upper triangle")
        print(f"  phases           read XML {r['read_xml']:.2f} s, arrays {r['arrays']:.2f} s, "
              f"assemble+solve {r['solve']:.2f} s, write {r['write']:.2f} s ({r['output_bytes'] / 1e6:.0f} MB)")
        print(f"  input -> output  {r['total']:.2f} s (best of {r['repeats']}: "
              + ", ".join(f"{t:.2f}" for t in r["totals"]) + ")")
        print(f"  solver alone     PARDISO {r['alone']:.2f} s (best of " + ", ".join(f"{t:.2f}" for t in r["alones"])
              + f"; in the first analysis: factorisation {r['factor']:.2f} s, solution {r['solve_rhs']:.2f} s)"
              + (f"; CHOLMOD through cholespy {r['cholmod']:.2f} s" if r["cholmod"] else ""))
        print(f"  ratio            {r['total'] / r['chosen']:.1f} (against the library the analysis uses "
              f"at this size)")
        print(f"  peak memory      {r['peak_mb']:.0f} MB (PARDISO's own, factor and solution: {r['factor_mb']:.0f} MB)")
        if r["plot"]:
            print(f"  plot_results     deformed {r['plot'][0]:.2f} s, My diagram {r['plot'][1]:.2f} s")


if __name__ == "__main__":
    main()
