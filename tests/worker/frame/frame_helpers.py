"""Building small frames and reading the stand-in's result tables back as numbers."""

from __future__ import annotations

import io

from norvale.external.tarsis import object as obj
from norvale.external.tarsis.tarsis import Model, OutputFileParser
from norvale.worker.standins import tarsis as standin

RIGID, FREE, FLEX = "RIGID", "FREE", "FLEXIBLE"
STEEL = obj.Material("S355")
E_STEEL = 210e9
G_STEEL = 210e9 / 2.6


def model(shear: bool = False) -> Model:
    m = Model()
    m.solver_setup.neglect_shear_force_deformation = not shear
    return m


def support(m: Model, node, freedom=(RIGID,) * 6, stiffness=(0.0,) * 6, angle=None, name=None):
    return m.create_point_support(name or f"S{node.name}", node, "STANDARD", tuple(freedom), tuple(stiffness),
                                  "GLOBAL", angle=angle)


def cases(m: Model, *names):
    group = m.create_load_group("G", "PERMANENT")
    return [m.create_permanent_load_case(n, "", group, "STANDARD") for n in names]


def line_load(m, case, beam, q1, q2=None, direction="Z", start=0.0, end=1.0, c_sys="GLOBAL", c_def="RELATIVE",
              origin="FROM_START", name=None):
    return m.create_line_load(name or f"L{len(m.line_loads) + 1}", case, beam, "FORCE",
                              "UNIFORM" if q2 is None else "TRAPEZOIDAL", q1, q1 if q2 is None else q2,
                              direction, start, end, c_def, c_sys, origin, 0.0, 0.0)


def output(m: Model) -> bytes:
    input_file, _ = m.generate_xml_input()
    return standin.output_xml(input_file.getvalue(), {}).encode()


class Results:
    """The tables of one load case or combination, as floats keyed by node, support node or beam."""

    def __init__(self, xml: bytes, title: str, block: str | None = None):
        stream = io.BytesIO(xml)

        def table(name):
            blocks = OutputFileParser.get_result(stream, name, parent=title)
            return blocks[block or name]

        d = table("Displacements of nodes")
        self.disp = {n: tuple(float(d[k][i]) for k in ("Ux", "Uy", "Uz", "Fix", "Fiy", "Fiz"))
                     for i, n in enumerate(d["Node"])}
        r = table("Reactions")
        self.reac = {n: tuple(float(r[k][i]) for k in ("Rx", "Ry", "Rz", "Mx", "My", "Mz"))
                     for i, n in enumerate(r["Node"])}
        f = table("Internal forces on beams")
        self.rows = [(b, float(f["dx"][i]), *(float(f[k][i]) for k in ("N", "Vy", "Vz", "Mx", "My", "Mz")))
                     for i, b in enumerate(f["Beam"])]
        self.raw = (d, r, f)

    def forces(self, beam: str, x: float, which: int = -1):
        """N, Vy, Vz, Mx, My, Mz at x of beam (the last row at x: the side after a point load)."""
        rows = [r for r in self.rows if r[0] == beam and abs(r[1] - x) < 1e-12]
        assert rows, f"no row at {x} on {beam}"
        return rows[which][2:]


def results(m: Model, title: str = "Load case - LC1", block: str | None = None) -> Results:
    return Results(output(m), title, block)


def close(a, b, rel=1e-9, scale=None):
    s = scale if scale is not None else max(abs(b), 1e-300)
    return abs(a - b) <= rel * s
