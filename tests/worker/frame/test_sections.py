"""Materials and cross-sections by name against catalogue and hand values."""

import pytest
from pytest import approx

from norvale.worker.standins.frame import AnalysisRefused
from norvale.worker.standins.frame.materials import material
from norvale.worker.standins.frame.sections import library, rectangle_torsion


def test_rolled_profiles_match_the_catalogue():
    ipe = library("IPE 200", "x")
    assert (ipe.A * 1e4, ipe.Iy * 1e8, ipe.It * 1e8) == approx((28.48, 1943.0, 6.98), rel=2e-3)
    heb = library("HE300B", "x")
    assert (heb.A * 1e4, heb.Iy * 1e8, heb.It * 1e8) == approx((149.1, 25170.0, 185.0), rel=3e-3)
    assert library("HEA100", "x").height == 0.096


def test_parametric_profiles_are_computed_from_their_names():
    rhs = library("RHS200x100x8", "x")
    assert rhs.A == approx(0.2 * 0.1 - 0.184 * 0.084)
    assert rhs.Iy == approx((0.1 * 0.2 ** 3 - 0.084 * 0.184 ** 3) / 12)
    assert rhs.Iy > rhs.Iz
    assert library("SHS100x5", "x").Iy == approx(library("SHS100x5", "x").Iz)
    chs = library("CHS219.1x8", "x")
    assert chs.It == approx(2 * chs.Iy)
    flat = library("FLAT100x10", "x")
    assert (flat.width, flat.height) == approx((0.1, 0.01))
    # Saint-Venant: a square's torsion constant is 0.1406 a^4, a long strip's tends to b t^3 / 3
    assert rectangle_torsion(1.0, 1.0) == approx(0.140577, rel=1e-5)
    assert rectangle_torsion(100.0, 1.0) == approx(100 / 3 * (1 - 0.630 / 100), rel=1e-3)
    with pytest.raises(AnalysisRefused, match=r"unknown profile 'IPE 210' \(of cross-section 'C'\)"):
        library("IPE 210", "cross-section 'C'")


def test_materials_by_name_and_overrides_of_the_model():
    steel = material("S355", {}, "x")
    assert (steel.E, steel.G, steel.alpha) == (210e9, 210e9 / 2.6, 1.2e-5)
    concrete = material("C30/37", {}, "x")
    assert (concrete.E, concrete.alpha) == (33e9, 1.0e-5)
    assert material("C90/105", {}, "x").E == 44e9
    changed = material("C30/37", {"C30/37": {"e_modulus": "3.0e10", "poisson": "0.25"}}, "x")
    assert (changed.E, changed.G) == (3.0e10, approx(3.0e10 / 2.5))
    with pytest.raises(AnalysisRefused, match="unknown material 'S999'"):
        material("S999", {}, "beam B1")
