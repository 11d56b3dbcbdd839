"""Combinations, equilibrium of space frames, refusals, and the road through the embedded worker."""

import io

import numpy as np
import pytest
from frame_helpers import FREE, RIGID, STEEL, Results, cases, line_load, model, output, results, support
from pytest import approx

from norvale.errors import ExecutionError
from norvale.external.tarsis import object as obj
from norvale.external.tarsis.tarsis import OutputFileParser, TarsisAnalysis
from norvale.worker.standins import tarsis as standin
from norvale.worker.standins.frame import AnalysisRefused, analyse
from norvale.worker.standins.tarsis import model_tables

import xml.etree.ElementTree as ET


def space_frame(seed=1, shear=True):
    """A two-storey space frame on four clamped columns with loads of several kinds in two cases."""
    rng = np.random.default_rng(seed)
    m = model(shear)
    sections = [m.create_rectangular_cross_section("R", STEEL, 0.2, 0.3),
                m.create_library_cross_section("I", "HEB200", STEEL),
                m.create_circular_hollow_cross_section("T", STEEL, 0.2, 0.01)]
    nodes = {}
    for k in range(3):
        for i, (x, y) in enumerate(((0, 0), (5, 0), (5, 4), (0, 4))):
            nodes[k, i] = m.create_node(f"N{k}{i}", x + 0.1 * k * rng.random(), y, 3.0 * k)
    beams = []
    for k in range(2):
        for i in range(4):
            beams.append(m.create_beam(nodes[k, i], nodes[k + 1, i], sections[k % 3]))
            beams.append(m.create_beam(nodes[k + 1, i], nodes[k + 1, (i + 1) % 4], sections[(i + 1) % 3],
                                       lcs_rotation=float(rng.uniform(0, 90))))
    for i in range(4):
        support(m, nodes[0, i])
    m.create_hinge_on_beam(beams[3], "BOTH", freedom_fiy="FREE", freedom_fiz="FREE", freedom_fix="RIGID")
    lc1, lc2 = cases(m, "LC1", "LC2")
    for b in beams[1::2]:
        line_load(m, lc1, b, -float(rng.uniform(1e3, 5e3)), -float(rng.uniform(1e3, 5e3)), start=0.1, end=0.8)
    m.create_point_load("P", lc1, beams[5], "Y", "FORCE", 7000.0, c_sys="LOCAL", position_x=0.3)
    m.create_point_load_node(nodes[2, 2], lc2, 12000.0, direction="X")
    m.create_point_moment_node(nodes[2, 1], lc2, 3000.0, "Z")
    m.create_line_moment_on_beam(beams[7], lc2, 500.0, 800.0, direction="X")
    m.create_load_combination("ULS", "LINEAR_ULTIMATE", {lc1: 1.35, lc2: 1.5})
    m.create_load_combination("ENV", "ENVELOPE_ULTIMATE", {lc1: 1.0, lc2: -1.0})
    return m


def resultant(m, title):
    """Force and moment about the origin of the loads of a case, computed from the model objects."""
    xml = output(m)
    r = Results(xml, title)
    tables = model_tables(ET.fromstring(m.generate_xml_input()[0].getvalue()))
    return r, tables


def test_reactions_balance_the_loads_of_every_case_to_rounding():
    m = space_frame()
    input_xml = m.generate_xml_input()[0].getvalue()
    analysis = analyse(model_tables(ET.fromstring(input_xml)))
    frame, sol = analysis.frame, analysis.solution
    xyz = frame.xyz
    for c in range(len(frame.cases)):
        force, moment = np.zeros(3), np.zeros(3)
        for case, node, v in frame.nodal:
            if case == c:
                force += v[:3]
                moment += v[3:] + np.cross(xyz[node], v[:3])
        R = frame.rotations
        for case, b, x, f in frame.points:
            if case == c:
                p = xyz[frame.beam_nodes[b, 0]] + R[b, 0] * x
                force += R[b].T @ f[:3]
                moment += R[b].T @ f[3:] + np.cross(p, R[b].T @ f[:3])
        for case, b, x1, x2, q1, q2 in frame.lines:
            if case == c:
                for g, w in ((0.5 - 3 ** 0.5 / 6, 0.5), (0.5 + 3 ** 0.5 / 6, 0.5)):
                    x = x1 + g * (x2 - x1)
                    q = q1 + g * (q2 - q1)
                    p = xyz[frame.beam_nodes[b, 0]] + R[b, 0] * x
                    force += w * (x2 - x1) * (R[b].T @ q[:3])
                    moment += w * (x2 - x1) * (R[b].T @ q[3:] + np.cross(p, R[b].T @ q[:3]))
        rf = sol.reactions[c, :, :3].sum(axis=0)
        rm = sum(sol.reactions[c, s, 3:] + np.cross(xyz[node], sol.reactions[c, s, :3])
                 for s, (_, node, *_rest) in enumerate(frame.supports))
        scale = np.abs(force).max()
        assert np.abs(rf + force).max() <= 1e-9 * scale
        assert np.abs(rm + moment).max() <= 1e-9 * np.abs(moment).max()


def test_combinations_are_factored_sums_and_envelopes_of_the_cases():
    m = space_frame(2)
    xml = output(m)
    lc1, lc2 = Results(xml, "Load case - LC1"), Results(xml, "Load case - LC2")
    uls = Results(xml, "Combination - ULS")
    for node, d in uls.disp.items():
        assert d == approx(tuple(1.35 * a + 1.5 * b for a, b in zip(lc1.disp[node], lc2.disp[node])), rel=1e-12,
                           abs=1e-15)
    hi, lo = Results(xml, "Combination - ENV", "Maximum"), Results(xml, "Combination - ENV", "Minimum")
    for (h, l, a, b) in zip(hi.rows, lo.rows, lc1.rows, lc2.rows):
        assert h[:2] == l[:2] == a[:2]
        assert h[2:] == tuple(max(x, -y) for x, y in zip(a[2:], b[2:]))
        assert l[2:] == tuple(min(x, -y) for x, y in zip(a[2:], b[2:]))


def test_tables_have_the_documented_columns_and_exact_cells():
    m = space_frame(3)
    xml = output(m)
    stream = io.BytesIO(xml)
    d = OutputFileParser.get_result(stream, "Displacements of nodes", parent="Load case - LC2")
    assert list(d) == ["Displacements of nodes"]
    assert list(d["Displacements of nodes"]) == ["Node", "Ux", "Uy", "Uz", "Fix", "Fiy", "Fiz"]
    r = OutputFileParser.get_result(stream, "Reactions", parent="Combination - ULS")["Reactions"]
    assert list(r) == ["Node", "Rx", "Ry", "Rz", "Mx", "My", "Mz"] and r["Node"] == ["N00", "N01", "N02", "N03"]
    f = OutputFileParser.get_result(stream, "Internal forces on beams", parent="Load case - LC1")
    f = f["Internal forces on beams"]
    assert list(f) == ["Beam", "dx", "N", "Vy", "Vz", "Mx", "My", "Mz"]
    # rows: ends and tenths, and both sides of the point load at 0.3 of B6
    b6 = [float(x) for b, x in zip(f["Beam"], f["dx"]) if b == "B6"]
    assert b6.count(b6[3]) == 2 and len(b6) == 12          # 0.3 L: before and after the load (a tenth too)
    assert all(repr(float(v)) == v for v in f["My"])
    balance = OutputFileParser.get_result(stream, "Load case - LC2")["Balance"]
    assert balance["Item"] == ["Loads", "Reactions"]
    assert float(balance["X"][0]) == 12000.0 and float(balance["X"][1]) == approx(-12000.0, rel=1e-12)


def test_result_sections_add_rows_where_asked():
    m = model()
    section = m.create_rectangular_cross_section("R", STEEL, 0.1, 0.2)
    a, b = m.create_node("A", 0, 0, 0), m.create_node("B", 3, 0, 0)
    beam = m.create_beam(a, b, section)
    support(m, a)
    (lc,) = cases(m, "LC1")
    m.create_point_load_node(b, lc, -100.0)
    m.create_section_on_beam("S", beam, "ABSOLUTE", 0.25, "FROM_START", 2, 0.5)
    dx = [row[1] for row in results(m).rows]
    assert dx == approx([0.0, 0.25, 0.3, 0.6, 0.75, 0.9, 1.2, 1.5, 1.8, 2.1, 2.4, 2.7, 3.0])


@pytest.mark.parametrize("build, message", [
    (lambda m, n, s: m.create_plane([n[0], n[1], n[2]], 0.2, material=obj.Material("C30/37"), name="Slab"),
     "does not analyse the plane 'Slab'"),
    (lambda m, n, s: m.create_point_support("T", n[2], "TENSION_ONLY", (RIGID,) * 6, (0.0,) * 6, "GLOBAL"),
     "tension_only support 'T'"),
    (lambda m, n, s: m.create_rectangular_cross_section("X", obj.Material("S999"), 0.1, 0.1),
     "unknown material 'S999' (of cross-section 'X')"),
    (lambda m, n, s: m.create_library_cross_section("I", "IPE 999", STEEL, name="Odd"),
     "unknown profile 'IPE 999' (of cross-section 'Odd')"),
])
def test_what_it_does_not_analyse_is_refused_by_name(build, message):
    m = model()
    section = m.create_rectangular_cross_section("R", STEEL, 0.1, 0.2)
    nodes = [m.create_node(f"N{i}", x, y, 0.0) for i, (x, y) in enumerate(((0, 0), (3, 0), (3, 3)))]
    m.create_beam(nodes[0], nodes[1], section)
    support(m, nodes[0])
    build(m, nodes, section)
    with pytest.raises(AnalysisRefused, match=message.replace("(", r"\(").replace(")", r"\)")):
        output(m)


@pytest.mark.parametrize("freedom, hinge, names", [
    # torsion released where the first beam meets B: B and the second beam can spin about X
    ((RIGID,) * 6, True, ("node B, rotation about X", "node C, rotation about X")),
    # the only support lets the whole line slide along X
    ((FREE,) + (RIGID,) * 5, False, tuple(f"node {n}, displacement along X" for n in "ABC")),
])
def test_a_mechanism_names_a_free_degree_of_freedom(freedom, hinge, names):
    m = model()
    section = m.create_rectangular_cross_section("R", STEEL, 0.1, 0.2)
    a, b, c = m.create_node("A", 0, 0, 0), m.create_node("B", 3, 0, 0), m.create_node("C", 6, 0, 0)
    b1 = m.create_beam(a, b, section)
    m.create_beam(b, c, section)
    support(m, a, freedom)
    if hinge:
        m.create_hinge_on_beam(b1, "END", freedom_fiy="RIGID", freedom_fix="FREE")
    (lc,) = cases(m, "LC1")
    m.create_point_load_node(c, lc, -100.0)
    with pytest.raises(AnalysisRefused, match="^the structure can move freely: ") as info:
        output(m)
    assert str(info.value).removeprefix("the structure can move freely: ") in names


def test_whole_road_through_the_embedded_worker(standin_worker):
    m = space_frame(4)
    input_file, def_file = m.generate_xml_input()
    job = TarsisAnalysis(input_file, def_file, io.BytesIO(b"project"))
    job.execute(timeout=60)
    out = job.get_xml_output_file()
    reactions = OutputFileParser.get_result(out, "Reactions", parent="Combination - ULS")["Reactions"]
    lc1 = OutputFileParser.get_result(out, "Reactions", parent="Load case - LC1")["Reactions"]
    lc2 = OutputFileParser.get_result(out, "Reactions", parent="Load case - LC2")["Reactions"]
    assert [float(v) for v in reactions["Rz"]] == approx(
        [1.35 * float(a) + 1.5 * float(b) for a, b in zip(lc1["Rz"], lc2["Rz"])], rel=1e-12)


def test_a_refused_model_fails_the_job_with_the_reason_in_the_program_output(standin_worker):
    m = model()
    m.create_node("A", 0, 0, 0)
    m.create_subsoil("Clay", stiffness=1e7)
    input_file, def_file = m.generate_xml_input()
    job = TarsisAnalysis(input_file, def_file, io.BytesIO(b"project"))
    with pytest.raises(ExecutionError) as info:
        job.execute(timeout=60)
    assert "does not analyse the subsoil 'Clay'" in job.get_program_log()


def test_the_big_systems_solver_gives_the_same_results_and_finds_mechanisms(monkeypatch):
    from norvale.worker.standins.frame import solve

    m = space_frame(5)
    small = output(m)
    monkeypatch.setattr(solve, "PARDISO_FROM", 0)
    big = output(m)
    a, b = Results(small, "Combination - ULS"), Results(big, "Combination - ULS")
    for node in a.disp:
        assert b.disp[node] == approx(a.disp[node], rel=1e-8, abs=1e-12)
    m = model()
    section = m.create_rectangular_cross_section("R", STEEL, 0.1, 0.2)
    a_, b_ = m.create_node("A", 0, 0, 0), m.create_node("B", 3, 0, 0)
    m.create_beam(a_, b_, section)
    support(m, a_, (RIGID, RIGID, RIGID, FREE, RIGID, RIGID))
    (lc,) = cases(m, "LC1")
    m.create_point_load_node(b_, lc, -100.0)
    with pytest.raises(AnalysisRefused, match=r"^the structure can move freely: node [AB], rotation about X$"):
        output(m)


@pytest.mark.parametrize("pardiso_from", [0, 10**9], ids=["PARDISO", "CHOLMOD"])
def test_a_node_without_beams_or_support_is_named_as_free(monkeypatch, pardiso_from):
    from norvale.worker.standins.frame import solve

    monkeypatch.setattr(solve, "PARDISO_FROM", pardiso_from)
    m = model()
    section = m.create_rectangular_cross_section("R", STEEL, 0.1, 0.2)
    a_, b_ = m.create_node("A", 0, 0, 0), m.create_node("B", 3, 0, 0)
    m.create_node("LOOSE", 9, 9, 0)
    m.create_beam(a_, b_, section)
    support(m, a_)
    (lc,) = cases(m, "LC1")
    m.create_point_load_node(b_, lc, -100.0)
    with pytest.raises(AnalysisRefused, match=r"^the structure can move freely: node LOOSE, displacement along X$"):
        output(m)
