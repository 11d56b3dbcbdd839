"""The frame analysis against textbook results: beams, hinges, torsion, temperature, springs."""

import math

import pytest
from frame_helpers import E_STEEL, FREE, FLEX, G_STEEL, RIGID, STEEL, cases, line_load, model, results, support
from pytest import approx

L = 4.0
W, H = 0.1, 0.2                      # width along local y, height along local z
IY, IZ = W * H ** 3 / 12, H * W ** 3 / 12
EIY, EIZ = E_STEEL * IY, E_STEEL * IZ
PIN = (RIGID, RIGID, RIGID, RIGID, FREE, FREE)     # torsion held so that the beam cannot spin
ROLLER = (FREE, RIGID, RIGID, FREE, FREE, FREE)


def beam_model(n_parts=1, shear=False, length=L):
    m = model(shear)
    section = m.create_rectangular_cross_section("R", STEEL, W, H)
    nodes = [m.create_node(f"N{i}", length * i / n_parts, 0.0, 0.0) for i in range(n_parts + 1)]
    beams = [m.create_beam(a, b, section, name=f"B{i + 1}") for i, (a, b) in enumerate(zip(nodes, nodes[1:]))]
    (lc,) = cases(m, "LC1")
    return m, nodes, beams, lc


def test_cantilever_tip_force_and_moment_follow_the_textbook():
    P, M = -1000.0, 300.0
    m, (a, b), (beam,), lc = beam_model()
    support(m, a)
    m.create_point_load_node(b, lc, P, direction="Z")
    m.create_point_load_node(b, lc, 2 * P, direction="Y")
    m.create_point_moment_node(b, lc, M, "Y")
    r = results(m)
    ux, uy, uz, fix, fiy, fiz = r.disp["N1"]
    # Z: force and moment about Y (a positive moment about Y lifts... turns x towards -z: uz = -M L^2 / 2EI)
    assert uz == approx(P * L ** 3 / (3 * EIY) - M * L ** 2 / (2 * EIY), rel=1e-12)
    assert fiy == approx(-P * L ** 2 / (2 * EIY) + M * L / EIY, rel=1e-12)
    assert uy == approx(2 * P * L ** 3 / (3 * EIZ), rel=1e-12)
    assert fiz == approx(2 * P * L ** 2 / (2 * EIZ), rel=1e-12)
    assert r.reac["N0"] == approx((0, -2 * P, -P, 0, P * L - M, -2 * P * L), abs=1e-9)
    # internal forces: what the part beyond the section exerts on the part before it
    n, vy, vz, mx, my, mz = r.forces("B1", 0.0)
    assert (vz, my, vy, mz) == approx((P, -P * L + M, 2 * P, 2 * P * L), rel=1e-12)
    assert r.forces("B1", L)[4] == approx(M, rel=1e-12)


def test_simply_supported_beam_under_uniform_and_point_load():
    q, P = -5000.0, -8000.0
    m, (a, b), (beam,), lc = beam_model()
    support(m, a, PIN)
    support(m, b, ROLLER)
    line_load(m, lc, beam, q)
    m.create_point_load("P", lc, beam, "Z", "FORCE", P, position_x=0.5)
    r = results(m)
    # mid-span deflection from a station? the nodes are the supports: check reactions and moments
    assert r.reac["N0"][2] == approx(-(q * L + P) / 2, rel=1e-12)
    assert r.reac["N1"][2] == approx(-(q * L + P) / 2, rel=1e-12)
    before, after = r.forces("B1", L / 2, 0), r.forces("B1", L / 2, -1)
    # sagging is a negative My (right-hand rule on the face towards the end node)
    assert before[4] == approx(q * L ** 2 / 8 + P * L / 4, rel=1e-12)
    assert after[4] == approx(before[4], rel=1e-12)
    assert after[2] - before[2] == approx(-P, rel=1e-12)      # the point load's jump in Vz
    assert r.forces("B1", 0.0)[2] == approx((q * L + P) / 2, rel=1e-12)
    # rotation at the pin: q L^3 / 24 EI + P L^2 / 16 EI
    assert r.disp["N0"][4] == approx(-(q * L ** 3 / (24 * EIY) + P * L ** 2 / (16 * EIY)), rel=1e-12)


def test_mid_span_deflection_of_a_simply_supported_beam_split_in_two():
    q = -5000.0
    m, (a, c, b), beams, lc = beam_model(2)
    support(m, a, PIN)
    support(m, b, ROLLER)
    for beam in beams:
        line_load(m, lc, beam, q)
    assert results(m).disp["N1"][2] == approx(5 * q * L ** 4 / (384 * EIY), rel=1e-12)


def test_fixed_fixed_beam_under_uniform_and_eccentric_point_load():
    q, P, a_ = -3000.0, -10000.0, 1.0
    b_ = L - a_
    m, (a, b), (beam,), lc = beam_model()
    support(m, a)
    support(m, b)
    line_load(m, lc, beam, q)
    m.create_point_load("P", lc, beam, "Z", "FORCE", P, c_def="ABSOLUTE", position_x=a_)
    r = results(m)
    # end moments: q L^2 / 12 and P a b^2 / L^2, P a^2 b / L^2 (hogging: positive My at the begin face)
    m_begin = -q * L ** 2 / 12 - P * a_ * b_ ** 2 / L ** 2
    m_end = -q * L ** 2 / 12 - P * a_ ** 2 * b_ / L ** 2
    assert r.forces("B1", 0.0)[4] == approx(m_begin, rel=1e-12)
    assert r.forces("B1", L)[4] == approx(m_end, rel=1e-12)
    assert r.reac["N0"][2] + r.reac["N1"][2] == approx(-(q * L + P), rel=1e-12)
    assert r.reac["N0"][2] == approx(-q * L / 2 - P * b_ ** 2 * (3 * a_ + b_) / L ** 3, rel=1e-12)


def test_fixed_fixed_uniform_deflection_at_mid_span():
    q = -3000.0
    m, (a, c, b), beams, lc = beam_model(2)
    support(m, a)
    support(m, b)
    for beam in beams:
        line_load(m, lc, beam, q)
    r = results(m)
    assert r.disp["N1"][2] == approx(q * L ** 4 / (384 * EIY), rel=1e-12)
    assert r.forces("B1", L / 2)[4] == approx(q * L ** 2 / 24, rel=1e-12)


def test_continuous_beam_over_three_supports():
    q = -2000.0
    m, (a, c, b), beams, lc = beam_model(2, length=2 * L)
    support(m, a, PIN)
    support(m, c, ROLLER)
    support(m, b, ROLLER)
    for beam in beams:
        line_load(m, lc, beam, q)
    r = results(m)
    assert r.reac["N0"][2] == approx(-3 * q * L / 8, rel=1e-12)
    assert r.reac["N1"][2] == approx(-10 * q * L / 8, rel=1e-12)
    assert r.forces("B1", L)[4] == approx(-q * L ** 2 / 8, rel=1e-12)   # hogging over the middle support


def test_hinges_release_the_moment_and_flexible_ones_carry_a_share():
    q = -3000.0
    m, (a, b), (beam,), lc = beam_model()
    support(m, a)
    support(m, b)
    m.create_hinge_on_beam(beam, "END")                 # rotation about local y released at the end
    line_load(m, lc, beam, q)
    r = results(m)
    assert r.forces("B1", L)[4] == approx(0.0, abs=1e-9)
    assert r.forces("B1", 0.0)[4] == approx(-q * L ** 2 / 8, rel=1e-12)
    assert r.reac["N0"][2] == approx(-5 * q * L / 8, rel=1e-12)
    # a rotational spring k at the end: end moment between 0 and the fixed value, by the slope-deflection rule
    k = 4 * EIY / L
    m2, (a2, b2), (beam2,), lc2 = beam_model()
    support(m2, a2)
    support(m2, b2)
    m2.create_hinge_on_beam(beam2, "END", freedom_fiy=FLEX, stiffness_fiy=k)
    line_load(m2, lc2, beam2, q)
    r2 = results(m2)
    # slope-deflection with the begin end clamped: M = M0 + (4EI/L) th at the beam end, M = -k th in the
    # spring, so the fixed-end moment M0 = q L^2 / 12 drops to M0 k / (k + 4EI/L)
    M0 = -q * L ** 2 / 12
    assert r2.forces("B1", L)[4] == approx(M0 * k / (k + 4 * EIY / L), rel=1e-12)


def test_torsion_of_a_cantilever():
    T = 250.0
    m, (a, b), (beam,), lc = beam_model()
    support(m, a)
    m.create_point_moment_node(b, lc, T, "X")
    r = results(m)
    from norvale.worker.standins.frame.sections import rectangle_torsion
    assert r.disp["N1"][3] == approx(T * L / (G_STEEL * rectangle_torsion(W, H)), rel=1e-12)
    assert r.forces("B1", L / 2)[3] == approx(T, rel=1e-12)
    assert r.reac["N0"][3] == approx(-T, rel=1e-12)


def test_temperature_restrained_and_free():
    alpha, dT = 1.2e-5, 30.0
    m, (a, b), (beam,), lc = beam_model()
    support(m, a)
    support(m, b)
    m.create_thermal_load("T", lc, beam, "CONSTANT", dT, 0, 0, 0, 0, 0.0, 1.0, "RELATIVE", "FROM_START")
    r = results(m)
    assert r.forces("B1", L / 3 if False else 0.4)[0] == approx(-E_STEEL * W * H * alpha * dT, rel=1e-12)
    assert r.reac["N0"][0] == approx(E_STEEL * W * H * alpha * dT, rel=1e-12)
    # a gradient on a cantilever: free curvature, no forces; tip deflection kappa L^2 / 2 upwards when
    # the bottom is hotter
    m, (a, b), (beam,), lc = beam_model()
    support(m, a)
    m.create_thermal_load("T", lc, beam, "LINEAR", 0.0, 0, 0, -10.0, 10.0, 0.0, 1.0, "RELATIVE", "FROM_START")
    r = results(m)
    kappa = alpha * 20.0 / H
    assert r.disp["N1"][2] == approx(kappa * L ** 2 / 2, rel=1e-12)
    assert max(abs(v) for row in r.rows for v in row[2:]) < 1e-6
    # the same gradient clamped at both ends: a constant moment EI kappa, no reactions but moments
    m, (a, b), (beam,), lc = beam_model()
    support(m, a)
    support(m, b)
    m.create_thermal_load("T", lc, beam, "LINEAR", 0.0, 0, 0, -10.0, 10.0, 0.0, 1.0, "RELATIVE", "FROM_START")
    r = results(m)
    assert r.forces("B1", 1.2)[4] == approx(EIY * kappa, rel=1e-12)
    assert r.reac["N0"][2] == approx(0.0, abs=1e-6)


def test_spring_supports_and_an_inclined_roller():
    k, P = 2.0e6, -10000.0
    m, (a, b), (beam,), lc = beam_model()
    support(m, a, PIN[:2] + (FLEX,) + PIN[3:], (0, 0, k, 0, 0, 0))
    support(m, b, (FREE, RIGID, FLEX, FREE, FREE, FREE), (0, 0, k, 0, 0, 0))
    m.create_point_load("P", lc, beam, "Z", "FORCE", P, position_x=0.5)
    r = results(m)
    assert r.disp["N0"][2] == approx(P / (2 * k), rel=1e-12)
    assert r.reac["N0"][2] == approx(-P / 2, rel=1e-12)
    # a roller whose axes are turned 30 degrees about Y: the reaction is normal to its rolling plane
    m, (a, b), (beam,), lc = beam_model()
    support(m, a, PIN)
    support(m, b, (FREE, RIGID, RIGID, FREE, FREE, FREE), angle=(0.0, 30.0, 0.0))
    m.create_point_load_node(b, lc, -1000.0, direction="Z")
    r = results(m)
    rx, _, rz = r.reac["N1"][:3]
    # the support's z axis is global Z turned 30 degrees about Y: (sin 30, 0, cos 30)
    assert rx / rz == approx(math.tan(math.radians(30.0)), rel=1e-9)
    assert r.reac["N0"][0] + rx == approx(0.0, abs=1e-7)


def test_shear_deformation_follows_the_solver_setup():
    P = -1000.0
    m, (a, b), (beam,), lc = beam_model(shear=True, length=1.0)
    support(m, a)
    m.create_point_load_node(b, lc, P, direction="Z")
    uz = results(m).disp["N1"][2]
    assert uz == approx(P / (3 * EIY) + P / (G_STEEL * 5 / 6 * W * H), rel=1e-12)


def test_local_axes_rotation_and_local_line_loads():
    q = -1000.0
    m, (a, b), (beam,), lc = beam_model()
    m._beams[0]._lcs_rotation = 90.0         # the section turned: the width now lies along global Z
    support(m, a)
    line_load(m, lc, beam, q)                # global Z
    r = results(m)
    assert r.disp["N1"][2] == approx(q * L ** 4 / (8 * EIZ), rel=1e-12)
    # local z is now global -Y: the load along global Z is along local y
    assert r.forces("B1", 0.0)[5] == approx(q * L ** 2 / 2, rel=1e-12)
    # a local load on a vertical column: local y is global +Y
    m = model()
    section = m.create_rectangular_cross_section("R", STEEL, W, H)
    a, b = m.create_node("A", 0, 0, 0), m.create_node("B", 0, 0, L)
    col = m.create_beam(a, b, section)
    (lc,) = cases(m, "LC1")
    support(m, a)
    line_load(m, lc, col, q, direction="Y", c_sys="LOCAL")
    r = results(m)
    assert r.disp["B"][1] == approx(q * L ** 4 / (8 * EIZ), rel=1e-12)


def test_partial_trapezoidal_load_reactions_by_statics():
    m, (a, b), (beam,), lc = beam_model()
    support(m, a, PIN)
    support(m, b, ROLLER)
    line_load(m, lc, beam, -1000.0, -3000.0, start=1.0, end=3.0, c_def="ABSOLUTE", origin="FROM_END")
    r = results(m)
    # from the end: -1000 at x = 3, -3000 at x = 1; resultant 4000 N at 1 + (2/3)(2 * 3000 + 1000)/4000... 
    total = -(1000 + 3000) / 2 * 2.0
    centroid = 1.0 + 2.0 * (2 * 1000 + 3000) / (3 * (1000 + 3000))    # from x = 1 towards x = 3
    assert r.reac["N1"][2] == approx(-total * centroid / L, rel=1e-12)
    assert r.reac["N0"][2] == approx(-total * (L - centroid) / L, rel=1e-12)
    assert r.forces("B1", 0.4)[4] == approx(-r.reac["N0"][2] * 0.4, rel=1e-12)


def test_rigid_arm_carries_a_load_from_its_slave_node():
    P = -2000.0
    m, (a, b), (beam,), lc = beam_model()
    c = m.create_node("C", L, 1.5, 0.0)
    support(m, a)
    m.create_rigid_arm("RA", b, c, False, False)
    m.create_point_load_node(c, lc, P, direction="Z")
    r = results(m)
    GIt = G_STEEL * __import__("norvale.worker.standins.frame.sections", fromlist=["x"]).rectangle_torsion(W, H)
    twist = P * 1.5 / GIt * L                  # the arm twists the beam: torque P * 1.5 about X
    assert r.disp["N1"][3] == approx(twist, rel=1e-12)
    assert r.disp["C"][2] == approx(P * L ** 3 / (3 * EIY) + twist * 1.5, rel=1e-12)
    assert r.reac["N0"][3] == approx(-P * 1.5, rel=1e-12)


def test_fixed_base_portal_frame_under_a_horizontal_load():
    # the tabulated portal frame: equal members, h = L, k = (Ib / Ic)(h / L) = 1; members nearly
    # inextensible (the tables neglect axial strain): base moments H h (3k + 1) / (2 (6k + 1)),
    # corner moments H h 3k / (2 (6k + 1))
    H, h = 10e3, 4.0
    m = model()
    s = m.create_numerical_cross_section("S", STEEL, A=1e4, Iy=1e-4, Iz=1e-4, It=1e-4)
    a, b = m.create_node("A", 0, 0, 0), m.create_node("B", 0, 0, h)
    c, d = m.create_node("C", h, 0, h), m.create_node("D", h, 0, 0)
    for p, q in ((a, b), (b, c), (c, d)):
        m.create_beam(p, q, s)
    support(m, a)
    support(m, d)
    (lc,) = cases(m, "LC1")
    m.create_point_load_node(b, lc, H, direction="X")
    r = results(m)
    k = 1.0
    base, corner = H * h * (3 * k + 1) / (2 * (6 * k + 1)), H * h * 3 * k / (2 * (6 * k + 1))
    assert abs(r.reac["A"][4]) == approx(base, rel=1e-6)
    assert abs(r.reac["D"][4]) == approx(base, rel=1e-6)
    assert r.reac["A"][0] == approx(-H / 2, rel=1e-6)
    assert abs(r.forces("B2", 0.0)[4]) == approx(corner, rel=1e-6)
