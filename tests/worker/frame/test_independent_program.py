"""The frame analysis against an independent open-source frame program on random space frames.

Round tubes make the comparison independent of how each program orients the local axes of a member:
their stiffness is the same about every axis through the centre, and all loads are given in global
axes. The other program neglects shear deformation, so does the model here.
"""

import numpy as np
import pytest
from frame_helpers import FREE, FLEX, RIGID, STEEL, Results, cases, line_load, model, output, support

pynite = pytest.importorskip("Pynite")

D, T = 0.25, 0.012


def random_frame(seed):
    rng = np.random.default_rng(seed)
    m = model(shear=False)
    section = m.create_circular_hollow_cross_section("CHS", STEEL, D, T)
    other = pynite.FEModel3D()
    other.add_material("S355", 210e9, 210e9 / 2.6, 0.3, 7850.0)
    from norvale.worker.standins.frame.sections import circular_hollow
    s = circular_hollow(D, T)
    other.add_section("CHS", s.A, s.Iy, s.Iz, s.It)
    nodes = {}
    for k in range(3):
        for i in range(3):
            for j in range(2):
                name = f"N{k}{i}{j}"
                xyz = (4.0 * i + rng.uniform(-0.3, 0.3), 5.0 * j + rng.uniform(-0.3, 0.3), 3.5 * k)
                nodes[k, i, j] = m.create_node(name, *xyz)
                other.add_node(name, *xyz)
    members = []

    def member(a, b):
        beam = m.create_beam(nodes[a], nodes[b], section)
        other.add_member(beam.name, nodes[a].name, nodes[b].name, "S355", "CHS")
        members.append(beam)
        return beam

    for k in range(2):
        for i in range(3):
            for j in range(2):
                member((k, i, j), (k + 1, i, j))
                if i < 2:
                    member((k + 1, i, j), (k + 1, i + 1, j))
            member((k + 1, i, 0), (k + 1, i, 1))
        member((k, 0, 0), (k + 1, 1, 0))                     # a brace
    for i in range(3):
        for j in range(2):
            node = nodes[0, i, j].name
            if (i, j) == (2, 1):
                support(m, nodes[0, i, j], (RIGID, RIGID, FLEX, RIGID, RIGID, FREE), (0, 0, 5e7, 0, 0, 0))
                other.def_support(node, True, True, False, True, True, False)
                other.def_support_spring(node, "DZ", 5e7)
            else:
                support(m, nodes[0, i, j])
                other.def_support(node, True, True, True, True, True, True)
    # both bending rotations released at the end of one beam: the same for any local axes of a tube
    hinged = members[4]
    m.create_hinge_on_beam(hinged, "END", freedom_fiy=FREE, freedom_fiz=FREE)
    other.def_releases(hinged.name, Ryj=True, Rzj=True)
    lc1, lc2 = cases(m, "LC1", "LC2")
    for case, label in ((lc1, "LC1"), (lc2, "LC2")):
        for node in rng.choice(list(nodes.values())[6:], 5, replace=False):
            axis = str(rng.choice(list("XYZ")))
            value = float(rng.uniform(-2e4, 2e4))
            if rng.random() < 0.7:
                m.create_point_load_node(node, case, value, direction=axis)
                other.add_node_load(node.name, "F" + axis, value, case=label)
            else:
                m.create_point_moment_node(node, case, value / 4, axis)
                other.add_node_load(node.name, "M" + axis, value / 4, case=label)
        for beam in rng.choice(members, 6, replace=False):
            axis = str(rng.choice(list("XYZ")))
            q1, q2 = (float(v) for v in rng.uniform(-8e3, 8e3, 2))
            r1, r2 = sorted(rng.uniform(0, 1, 2))
            length = other.members[beam.name].L()
            line_load(m, case, beam, q1, q2, direction=axis, start=float(r1), end=float(r2))
            other.add_member_dist_load(beam.name, "F" + axis, q1, q2, float(r1) * length, float(r2) * length,
                                       case=label)
        beam = members[int(rng.integers(len(members)))]
        m.create_point_load(f"P{label}", case, beam, "Z", "FORCE", -15e3, position_x=0.37)
        length = other.members[beam.name].L()
        other.add_member_pt_load(beam.name, "FZ", -15e3, 0.37 * length, case=label)
        other.add_load_combo(label, {label: 1.0})
    return m, other


@pytest.mark.parametrize("seed", [11, 12, 13])
def test_displacements_and_reactions_agree_with_the_other_program(seed):
    m, other = random_frame(seed)
    xml = output(m)
    other.analyze_linear(check_stability=False)
    for label in ("LC1", "LC2"):
        ours = Results(xml, f"Load case - {label}")
        theirs = {name: [getattr(n, c)[label] for c in ("DX", "DY", "DZ", "RX", "RY", "RZ")]
                  for name, n in other.nodes.items()}
        a = np.array([ours.disp[n] for n in theirs])
        b = np.array(list(theirs.values()))
        assert np.abs(a - b).max() <= 1e-6 * np.abs(b).max()
        names = list(ours.reac)
        a = np.array([ours.reac[n] for n in names])
        b = np.array([[getattr(other.nodes[n], "Rxn" + c)[label] for c in ("FX", "FY", "FZ", "MX", "MY", "MZ")]
                      for n in names])
        assert np.abs(a - b).max() <= 1e-6 * np.abs(b).max()
