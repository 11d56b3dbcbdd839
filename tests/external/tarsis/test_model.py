"""Model: registries, accessors, and what every create-method passes to its object class."""

import gc
import inspect
import re
import sys
from fractions import Fraction
from types import SimpleNamespace
from unittest import mock

import pytest

from norvale.external.tarsis import object as o
from norvale.external.tarsis import tarsis
from norvale.external.tarsis.tarsis import Model
from norvale.geometry import Vector

MAT = o.Material("C30/37")
MAT2 = o.Material("S235")

REGISTRIES = [
    "_layers", "_cross_sections", "_general_cross_section_elements", "_concrete_materials", "_subsoils",
    "_nonlinear_functions", "_orthotropy_objects", "_selections", "_nodes", "_beams", "_cross_links",
    "_arbitrary_profile_spans", "_arbitrary_profiles", "_hinges_on_beam", "_hinges_on_plane", "_sections_on_beam",
    "_planes", "_open_slabs", "_internal_edges", "_rigid_arms", "_point_supports", "_point_supports_line",
    "_line_supports_line", "_line_supports_surface", "_surface_supports", "_load_cases", "_load_groups",
    "_load_combinations", "_nonlinear_load_combinations", "_result_classes", "_point_loads", "_point_loads_node",
    "_point_moments_node", "_line_loads", "_line_moments_on_beam", "_line_moments_on_plane",
    "_line_force_surface_list", "_surface_loads", "_thermal_loads", "_thermal_surface_loads",
    "_free_surface_loads", "_free_line_loads", "_free_point_loads", "_integration_strips", "_averaging_strips",
    "_sections_on_plane",
]
PROPERTIES = [r[1:] for r in REGISTRIES if r not in ("_general_cross_section_elements", "_arbitrary_profile_spans")]


def build_world():
    """A model holding one or more objects of every kind that others refer to."""
    m = Model()
    w = SimpleNamespace(model=m)
    w.n1 = m.create_node("N1", 0.0, 0.0, 0.0)
    w.n2 = m.create_node("N2", 4.0, 0.0, 0.0)
    w.n3 = m.create_node("N3", 4.0, 4.0, 0.0)
    w.n4 = m.create_node("N4", 0.0, 4.0, 0.0)
    w.cs = m.create_rectangular_cross_section("R", MAT, 0.3, 0.5)
    w.beam = m.create_beam(w.n1, w.n2, w.cs)
    w.beam2 = m.create_beam(w.n2, w.n3, w.cs)
    w.layer = m.create_layer("L1")
    w.fn = m.create_nonlinear_function("F", o.NonLinearFunction.Type.TRANSLATION, o.NonLinearFunction.Support.RIGID,
                                       o.NonLinearFunction.Support.FREE, [(0.0, 0.0), (0.01, 1e5)])
    w.subsoil = m.create_subsoil("Soil", stiffness=1e7)
    w.ortho = m.create_orthotropy("O", MAT, 0.2)
    w.plane = m.create_plane([w.n1, w.n2, w.n3, w.n4], 0.2, material=MAT)
    w.edge = m.create_internal_edge(w.plane, w.n1, w.n3)
    w.group = m.create_load_group("G", o.LoadGroup.LoadOption.PERMANENT)
    w.case = m.create_permanent_load_case("LC1", "dead", w.group, o.LoadCase.PermanentLoadType.STANDARD)
    w.combo = m.create_load_combination("C1", o.LoadCombination.Type.ENVELOPE_ULTIMATE, {w.case: 1.35})
    w.nl_combo = m.create_nonlinear_load_combination(o.NonLinearLoadCombination.Type.ULTIMATE, {w.case: 1.0})
    w.element = m.create_general_cross_section_element(
        "P", o.GeneralCrossSectionElement.Type.POLYGON, [(0, 0), (0.2, 0), (0.2, 0.4)], material=MAT)
    w.span = m.create_arbitrary_profile_span(2.0, o.ArbitraryProfileSpan.TypeOfCss.PRISMATIC, w.cs, w.cs,
                                             o.ArbitraryProfileSpan.Alignment.DEFAULT)
    return w


@pytest.fixture
def w():
    return build_world()


@pytest.fixture
def f():
    """Objects of another model."""
    return build_world()


def sizes(model):
    return [len(getattr(model, name)) for name in REGISTRIES]


def C(*args, **kwargs):
    return args, kwargs


N = None
P = (0.0, 0.0, 0.0)
Q = (1.0, 0.0, 0.0)
LS = o.LineSupportLine.Freedom
CSYS = o.CoordinateSystem
CDEF = o.CoordinateDefinition
ORIGIN = o.PositionOrigin

# (method, call(w) -> (args, kwargs), class, expected(w) -> (args, kwargs), registry)
CALLS = [
    ("create_layer", lambda w: C("L2", comment="c"), "Layer", lambda w: C(2, "L2", "c", N, N), "_layers"),
    ("update_concrete_material", lambda w: C(7, "C30", o.Concrete.ECPart.GENERAL, 1e-5, fck=3e7), "Concrete",
     lambda w: C(7, "C30", o.Concrete.ECPart.GENERAL, 1e-5, N, N, N, N, N, N, N, N, fck=3e7), "_concrete_materials"),
    ("create_nonlinear_function", lambda w: C("F2", "ROTATION", "FREE", "FREE", [(0, 0)]), "NonLinearFunction",
     lambda w: C(2, "F2", "ROTATION", "FREE", "FREE", [(0, 0)]), "_nonlinear_functions"),
    ("create_subsoil", lambda w: C("S2", stiffness=5.0, nonlinear_function=w.fn, cu=1.0), "Subsoil",
     lambda w: C(2, "S2", 5.0, N, N, N, w.fn, N, N, N, N, N, N, N, N, 1.0), "_subsoils"),
    ("create_orthotropy", lambda w: C("O2", MAT, 0.3, 1.0, kyx=2.0), "Orthotropy",
     lambda w: C(2, "O2", MAT, 0.3, 1.0, N, N, N, N, N, N, N, N, N, N, 2.0), "_orthotropy_objects"),
    ("create_selection", lambda w: C("Sel", [w.beam, w.n1]), "Selection",
     lambda w: C(1, "Sel", [{"id": 1, "name": "B1", "type": "Beam"}, {"id": 1, "name": "N1", "type": "Node"}]),
     "_selections"),
    ("create_rectangular_cross_section", lambda w: C("R2", MAT, 1, 2), "RectangularCrossSection",
     lambda w: C(2, "R2", MAT, 1, 2), "_cross_sections"),
    ("create_circular_cross_section", lambda w: C("C", MAT, 0.5), "CircularCrossSection",
     lambda w: C(2, "C", MAT, 0.5), "_cross_sections"),
    ("create_circular_hollow_cross_section", lambda w: C("H", MAT, 0.5, 0.01), "CircularHollowCrossSection",
     lambda w: C(2, "H", MAT, 0.5, 0.01), "_cross_sections"),
    ("create_circular_composed_cross_section", lambda w: C("CC", MAT, MAT2, 0.5, 0.01),
     "CircularComposedCrossSection", lambda w: C(2, "CC", MAT, MAT2, 0.5, 0.01), "_cross_sections"),
    ("create_numerical_cross_section", lambda w: C("Num", MAT, A=1.0, beta_z=2.0), "NumericalCrossSection",
     lambda w: C(2, "Num", MAT, **{k: N for k in o.NumericalCrossSection._NAMES} | {"A": 1.0, "beta_z": 2.0}),
     "_cross_sections"),
    ("create_library_cross_section", lambda w: C("I", "IPE200", MAT), "LibraryCrossSection",
     lambda w: C(2, "CS2", MAT, "I", "IPE200"), "_cross_sections"),
    ("create_general_cross_section_element", lambda w: C("E", "OPENING", [(0, 0)]), "GeneralCrossSectionElement",
     lambda w: C("E", "OPENING", [(0, 0)], material=N), "_general_cross_section_elements"),
    ("create_general_cross_section", lambda w: C([w.element], name=""), "GeneralCrossSection",
     lambda w: C(2, "CS2", MAT, [w.element]), "_cross_sections"),
    ("create_arbitrary_profile_span", lambda w: C(2.0, "TWO_CSS", w.cs, w.cs, "DEFAULT"), "ArbitraryProfileSpan",
     lambda w: C(2.0, "TWO_CSS", w.cs, w.cs, "DEFAULT"), "_arbitrary_profile_spans"),
    ("create_arbitrary_profile", lambda w: C("AP", w.beam, "RELATIVE", w.cs, [w.span]), "ArbitraryProfile",
     lambda w: C(1, "AP", w.beam, "RELATIVE", w.cs, [w.span]), "_arbitrary_profiles"),
    ("create_node", lambda w: C("N5", 1, 2, 3), "Node", lambda w: C(5, "N5", 1, 2, 3), "_nodes"),
    ("create_beam", lambda w: C(w.n1, w.n3, w.cs, layer=w.layer), "Beam",
     lambda w: C(3, "B3", w.n1, w.n3, w.cs, N, N, w.layer), "_beams"),
    ("create_cross_link", lambda w: C(w.beam, w.beam2), "CrossLink", lambda w: C(1, "CL1", w.beam, w.beam2),
     "_cross_links"),
    ("create_hinge_on_beam", lambda w: C(w.beam, "BEGIN"), "HingeOnBeam",
     lambda w: C(1, "H1", w.beam, "BEGIN", *["RIGID"] * 4, "FREE", "RIGID", 0, 0, 0, 0, 0, 0), "_hinges_on_beam"),
    ("create_section_on_beam", lambda w: C("SB", w.beam, "RELATIVE", 0.5, "FROM_START", 1, 0.0), "SectionOnBeam",
     lambda w: C(1, "SB", w.beam, "RELATIVE", 0.5, "FROM_START", 1, 0.0), "_sections_on_beam"),
    ("create_section_on_plane", lambda w: C(P, Q, name=None), "SectionOnPlane", lambda w: C(1, "SE1", P, Q, N, N),
     "_sections_on_plane"),
    ("create_rigid_arm", lambda w: C("RA", w.n1, w.n2, True, False), "RigidArm",
     lambda w: C(1, "RA", w.n1, w.n2, True, False), "_rigid_arms"),
    ("create_plane", lambda w: C([w.n1, w.n2, w.n3], 0.2, material=MAT, layer=w.layer), "Plane",
     lambda w: C(2, "S2", 0.2, MAT, plane_type=N, corner_nodes=[w.n1, w.n2, w.n3], layer=w.layer, internal_nodes=[],
                 swap_orientation=N, lcs_rotation=N, fem_model=N, orthotropy=N), "_planes"),
    ("create_open_slab", lambda w: C("OS", w.plane, [w.n1, w.n2]), "OpenSlab",
     lambda w: C(1, "OS", w.plane, [w.n1, w.n2]), "_open_slabs"),
    ("create_internal_edge", lambda w: C(w.plane, w.n2, w.n4), "InternalEdge",
     lambda w: C(2, "ES2", w.plane, w.n2, w.n4), "_internal_edges"),
    ("create_integration_strip", lambda w: C(w.plane, P, Q, 0.5), "IntegrationStrip",
     lambda w: C(1, "CM1", w.plane, P, Q, 0.5), "_integration_strips"),
    ("create_averaging_strip", lambda w: C(w.plane, strip_type="POINT", point_1=P, width=1, length=2, angle=0,
                                           direction="BOTH"), "AveragingStrip",
     lambda w: C(1, "RS1", w.plane, "POINT", P, 1, 2, 0, "BOTH"), "_averaging_strips"),
    ("create_point_support", lambda w: C("PS", w.n1, "STANDARD", ("RIGID",) * 6, (0.0,) * 6, "GLOBAL"),
     "PointSupport", lambda w: C(1, "PS", w.n1, "STANDARD", ("RIGID",) * 6, (0.0,) * 6, "GLOBAL", 0.2, N),
     "_point_supports"),
    ("create_point_support_on_beam", lambda w: C(w.beam, x="RIGID", delta_x=0.5), "PointSupportLine",
     lambda w: C(1, "Sb1", w.beam, "RIGID", *[N] * 17, 0.5), "_point_supports_line"),
    ("create_line_support_on_beam", lambda w: C(w.beam, function_y=w.fn, origin="FROM_END"), "LineSupportLine",
     lambda w: C(1, "Slb1", w.beam, N, N, N, N, N, w.fn, *[N] * 17, "FROM_END"), "_line_supports_line"),
    ("create_line_support_on_plane", lambda w: C((w.plane, 1), rz="FREE"), "LineSupportSurface",
     lambda w: C(1, "Sle1", (w.plane, 1), *[N] * 10, "FREE", *[N] * 6), "_line_supports_surface"),
    ("create_surface_support", lambda w: C(w.plane, w.subsoil), "SurfaceSupportSurface",
     lambda w: C(1, "SS1", w.plane, w.subsoil), "_surface_supports"),
    ("create_hinge_on_plane", lambda w: C(w.edge, fix="FREE"), "HingeOnPlane",
     lambda w: C(1, "L1", w.edge, *[N] * 6, "FREE", *[N] * 5), "_hinges_on_plane"),
    ("create_load_group", lambda w: C("G2", "VARIABLE"), "LoadGroup", lambda w: C(2, "G2", "VARIABLE", N, N),
     "_load_groups"),
    ("create_permanent_load_case", lambda w: C("LC2", "d", w.group, "SELF_WEIGHT", "NEG_Z"), "PermanentLoadCase",
     lambda w: C(2, "LC2", "d", w.group, "SELF_WEIGHT", "NEG_Z", N), "_load_cases"),
    ("create_variable_load_case", lambda w: C("LC2", "d", w.group, "STATIC", primary_effect=w.case),
     "VariableLoadCase", lambda w: C(2, "LC2", "d", w.group, "STATIC", N, N, w.case), "_load_cases"),
    ("create_load_combination", lambda w: C("C2", "ULS_SET_B", {w.case: 1.0}), "LoadCombination",
     lambda w: C(2, "C2", "ULS_SET_B", {w.case: 1.0}, description=N), "_load_combinations"),
    ("create_nonlinear_load_combination", lambda w: C("ULTIMATE", {}, description="d"), "NonLinearLoadCombination",
     lambda w: C(2, "NC2", "ULTIMATE", {}, description="d"), "_nonlinear_load_combinations"),
    ("create_result_class", lambda w: C("RC", [w.combo]), "ResultClass", lambda w: C(1, "RC", [w.combo], []),
     "_result_classes"),
    ("create_point_load_node", lambda w: C(w.n1, w.case, -5.0), "PointLoadNode",
     lambda w: C(1, "F1", w.n1, w.case, -5.0, N, N, N), "_point_loads_node"),
    ("create_point_load", lambda w: C("PL", w.case, w.beam, "Z", "FORCE", 10.0, ez=0.1), "PointLoad",
     lambda w: C(1, "PL", w.case, w.beam, "Z", "FORCE", 10.0, N, N, N, N, N, N, 0.1, angle=N), "_point_loads"),
    ("create_point_moment_node", lambda w: C(w.n1, w.case, 5.0, "X"), "PointMomentNode",
     lambda w: C(1, "M1", w.n1, w.case, 5.0, "X", o.PointMomentNode.CSys.GLOBAL), "_point_moments_node"),
    ("create_line_load", lambda w: C("LL", w.case, w.beam, "FORCE", "UNIFORM", 1.0, 2.0, "Z", 0.0, 1.0, "RELATIVE",
                                     "LOCAL", "FROM_START", 0.1, 0.2), "LineLoad",
     lambda w: C(1, "LL", w.case, w.beam, "FORCE", "UNIFORM", 1.0, 2.0, "Z", "LOCAL", 0.0, 1.0, "RELATIVE",
                 "FROM_START", 0.1, 0.2), "_line_loads"),
    ("create_line_moment_on_beam", lambda w: C(w.beam, w.case, 1.0), "LineMomentOnBeam",
     lambda w: C(1, "LM1", w.beam, w.case, 1.0, N, N, N, N, N, N), "_line_moments_on_beam"),
    ("create_line_moment_on_plane", lambda w: C((w.plane, 7), 1.0, load_case=w.case), "LineMomentOnPlane",
     lambda w: C(1, "LMS1", (w.plane, 7), w.case, 1.0, N, N, N, N, N, N), "_line_moments_on_plane"),
    ("create_line_load_on_plane", lambda w: C(w.edge, 2.0, 3.0, load_case=w.case, name=""), "LineForceSurface",
     lambda w: C(1, "LFS1", w.edge, w.case, 2.0, 3.0, N, N, N, N, N, N, N), "_line_force_surface_list"),
    ("create_surface_load", lambda w: C("SL", w.case, w.plane, "Z", "FORCE", 1.0, "GLOBAL", "LENGTH"),
     "SurfaceLoad", lambda w: C(1, "SL", w.case, w.plane, "Z", "FORCE", 1.0, "GLOBAL", "LENGTH"), "_surface_loads"),
    ("create_thermal_load", lambda w: C("TL", w.case, w.beam, "CONSTANT", 1, 2, 3, 4, 5, 0, 1, "RELATIVE",
                                        "FROM_START"), "ThermalLoad",
     lambda w: C(1, "TL", w.case, w.beam, "CONSTANT", 1, 2, 3, 4, 5, 0, 1, "RELATIVE", "FROM_START"),
     "_thermal_loads"),
    ("create_thermal_surface_load", lambda w: C("TS", w.case, w.plane, 5.0), "ThermalSurfaceLoad",
     lambda w: C(1, "TS", w.case, w.plane, 5.0, N, N), "_thermal_surface_loads"),
    ("create_free_surface_load", lambda w: C("FS", w.case, "Z", 1.0, selection=[w.plane]), "FreeSurfaceLoad",
     lambda w: C(1, "FS", w.case, "Z", 1.0, N, N, N, distribution=N, selection=[w.plane]), "_free_surface_loads"),
    ("create_free_line_load", lambda w: C("FL", w.case, (0, 0), (1, 0), "Z", 1.0, 2.0), "FreeLineLoad",
     lambda w: C(1, "FL", w.case, (0, 0), (1, 0), "Z", 1.0, 2.0), "_free_line_loads"),
    ("create_free_point_load", lambda w: C("FP", w.case, "Z", 3.0, (1, 1)), "FreePointLoad",
     lambda w: C(1, "FP", w.case, "Z", 3.0, (1, 1)), "_free_point_loads"),
]


@pytest.mark.parametrize("method, call, cls, expected, registry", CALLS, ids=[c[0] for c in CALLS])
def test_create_method_calls_the_patched_module_class_exactly(w, method, call, cls, expected, registry):
    args, kwargs = call(w)
    before = len(getattr(w.model, registry))
    with mock.patch(f"norvale.external.tarsis.tarsis.{cls}") as fake:
        result = getattr(w.model, method)(*args, **kwargs)
    exp_args, exp_kwargs = expected(w)
    fake.assert_called_once_with(*exp_args, **exp_kwargs)
    assert list(fake.call_args.kwargs) == list(exp_kwargs)  # keywords in the documented order
    assert result is fake.return_value
    stored = getattr(w.model, registry)
    assert len(stored) == before + 1
    assert (stored[exp_args[1]] if registry == "_layers" else stored[-1]) is result


def test_every_create_method_is_covered():
    methods = {name for name in vars(Model) if name.startswith(("create_", "update_"))}
    assert methods == {c[0] for c in CALLS} | {"create_circular_plane"}


@pytest.mark.parametrize("method, call, cls, expected, registry", CALLS, ids=[c[0] for c in CALLS])
def test_failing_constructor_stores_nothing(w, method, call, cls, expected, registry):
    args, kwargs = call(w)
    before = sizes(w.model)
    with mock.patch(f"norvale.external.tarsis.tarsis.{cls}", side_effect=ArithmeticError("bad")):
        with pytest.raises(ArithmeticError, match="bad"):
            getattr(w.model, method)(*args, **kwargs)
    assert sizes(w.model) == before


# (method, call(w, f) with one reference of the other model, message)
FOREIGN = [
    ("create_subsoil", lambda w, f: C("S", stiffness=1, nonlinear_function=f.fn),
     "Non-linear function not defined in current model"),
    ("create_general_cross_section", lambda w, f: C([w.element, f.element]),
     "One or more elements not defined in current model"),
    ("create_arbitrary_profile_span", lambda w, f: C(1.0, "PRISMATIC", f.cs, w.cs, "DEFAULT"),
     "Cross-section start not defined in current model"),
    ("create_arbitrary_profile_span", lambda w, f: C(1.0, "PRISMATIC", w.cs, f.cs, "DEFAULT"),
     "Cross-section end not defined in current model"),
    ("create_arbitrary_profile", lambda w, f: C("A", f.beam, "ABSOLUTE", f.cs, [f.span]),
     "Beam not defined in current model"),
    ("create_arbitrary_profile", lambda w, f: C("A", w.beam, "ABSOLUTE", f.cs, [f.span]),
     "Cross-section not defined in current model"),
    ("create_arbitrary_profile", lambda w, f: C("A", w.beam, "ABSOLUTE", w.cs, [w.span, f.span]),
     "One or more spans not defined in current model"),
    ("create_beam", lambda w, f: C(f.n1, f.n2, f.cs), "Begin node not defined in current model"),
    ("create_beam", lambda w, f: C(w.n1, f.n2, f.cs), "End node not defined in current model"),
    ("create_beam", lambda w, f: C(w.n1, w.n2, f.cs), "Cross-section not defined in current model"),
    ("create_beam", lambda w, f: C(w.n1, w.n2, w.cs, layer=f.layer), "Layer not defined in current model"),
    ("create_cross_link", lambda w, f: C(f.beam, f.beam2), "Beam 1 not defined in current model"),
    ("create_cross_link", lambda w, f: C(w.beam, f.beam2), "Beam 2 not defined in current model"),
    ("create_hinge_on_beam", lambda w, f: C(f.beam, "END"), "Beam not defined in current model"),
    ("create_section_on_beam", lambda w, f: C("S", f.beam, "RELATIVE", 0, "FROM_START", 1, 0),
     "Beam not defined in current model"),
    ("create_rigid_arm", lambda w, f: C("R", f.n1, f.n2, 0, 0), "Master node not defined in current model"),
    ("create_rigid_arm", lambda w, f: C("R", w.n1, f.n2, 0, 0), "Slave node not defined in current model"),
    ("create_plane", lambda w, f: C([w.n1, f.n2], 0.2, material=MAT, internal_nodes=[f.n3]),
     "One or more corner nodes not defined in current model"),
    ("create_plane", lambda w, f: C([w.n1, w.n2, w.n3], 0.2, material=MAT, internal_nodes=[f.n3], layer=f.layer),
     "One or more internal nodes not defined in current model"),
    ("create_plane", lambda w, f: C([w.n1, w.n2, w.n3], 0.2, material=MAT, layer=f.layer, orthotropy=f.ortho),
     "Layer not defined in current model"),
    ("create_plane", lambda w, f: C([w.n1, w.n2, w.n3], 0.2, material=MAT, orthotropy=f.ortho),
     "Orthotropy not defined in current model"),
    ("create_circular_plane", lambda w, f: C(f.n1, 1.0, 0.2, material=MAT, internal_nodes=[f.n2]),
     "Center node not defined in current model"),
    ("create_circular_plane", lambda w, f: C(w.n1, 1.0, 0.2, material=MAT, internal_nodes=[f.n2]),
     "One or more internal nodes not defined in current model"),
    ("create_circular_plane", lambda w, f: C(w.n1, 1.0, 0.2, material=MAT, layer=f.layer),
     "Layer not defined in current model"),
    ("create_circular_plane", lambda w, f: C(w.n1, 1.0, 0.2, material=MAT, orthotropy=f.ortho),
     "Orthotropy not defined in current model"),
    ("create_open_slab", lambda w, f: C("O", f.plane, [f.n1]), "Plane not defined in current model"),
    ("create_open_slab", lambda w, f: C("O", w.plane, [w.n1, f.n1]),
     "One or more corner nodes not defined in current model"),
    ("create_internal_edge", lambda w, f: C(f.plane, f.n1, f.n2), "Plane not defined in current model"),
    ("create_internal_edge", lambda w, f: C(w.plane, f.n1, f.n2), "Node 1 not defined in current model"),
    ("create_internal_edge", lambda w, f: C(w.plane, w.n1, f.n2), "Node 2 not defined in current model"),
    ("create_integration_strip", lambda w, f: C(f.plane, P, Q, 1), "Plane not defined in current model"),
    ("create_averaging_strip", lambda w, f: C(f.plane, strip_type="POINT", point_1=P, width=1, length=1, angle=0,
                                              direction="BOTH"), "Plane not defined in current model"),
    ("create_point_support", lambda w, f: C("S", f.n1, N, N, N, N), "Node not defined in current model"),
    ("create_point_support_on_beam", lambda w, f: C(f.beam), "Beam not defined in current model"),
    ("create_line_support_on_beam", lambda w, f: C(f.beam, function_x=f.fn), "Beam not defined in current model"),
    ("create_line_support_on_beam", lambda w, f: C(w.beam, function_x=w.fn, function_y=f.fn, function_z=f.fn),
     "function_y is not defined in current model"),
    ("create_line_support_on_beam", lambda w, f: C(w.beam, function_rz=f.fn), "function_rz is not defined in current model"),
    ("create_line_support_on_plane", lambda w, f: C((f.plane, 1)), "Plane not defined in current model"),
    ("create_line_support_on_plane", lambda w, f: C(f.edge), "InternalEdge not defined in current model"),
    ("create_line_support_on_plane", lambda w, f: C([w.plane, 1]), "InternalEdge not defined in current model"),
    ("create_surface_support", lambda w, f: C(f.plane, f.subsoil), "Plane not defined in current model"),
    ("create_surface_support", lambda w, f: C(w.plane, f.subsoil), "Subsoil not defined in current model"),
    ("create_hinge_on_plane", lambda w, f: C((f.plane, 2)), "Plane not defined in current model"),
    ("create_hinge_on_plane", lambda w, f: C(f.edge), "InternalEdge not defined in current model"),
    ("create_permanent_load_case", lambda w, f: C("L", "", f.group, "STANDARD", None, f.case),
     "Load group not defined in current model"),
    ("create_permanent_load_case", lambda w, f: C("L", "", w.group, "STANDARD", None, f.case),
     "Primary effect load case not defined in current model"),
    ("create_variable_load_case", lambda w, f: C("L", "", f.group, "STATIC"), "Load group not defined in current model"),
    ("create_variable_load_case", lambda w, f: C("L", "", w.group, "STATIC", primary_effect=f.case),
     "Primary effect load case not defined in current model"),
    ("create_load_combination", lambda w, f: C("C", "ULS_SET_B", {w.case: 1.0, f.case: 1.0}),
     "One or more load cases not defined in current model"),
    ("create_nonlinear_load_combination", lambda w, f: C("ULTIMATE", {f.case: 1.0}),
     "One or more load cases not defined in current model"),
    ("create_result_class", lambda w, f: C("R", [f.combo], [f.nl_combo]),
     "One or more load combinations not defined in current model"),
    ("create_result_class", lambda w, f: C("R", [w.combo], [w.combo]),
     "One or more nonlinear load combinations not defined in current model"),
    ("create_point_load_node", lambda w, f: C(f.n1, f.case, 1.0), "Load case not defined in current model"),
    ("create_point_load_node", lambda w, f: C(f.n1, w.case, 1.0), "Node not defined in current model"),
    ("create_point_load", lambda w, f: C("P", f.case, f.beam, "Z", "FORCE", 1), "Load case not defined in current model"),
    ("create_point_load", lambda w, f: C("P", w.case, f.beam, "Z", "FORCE", 1), "Beam not defined in current model"),
    ("create_point_moment_node", lambda w, f: C(f.n1, f.case, 1.0, "X"), "Node not defined in current model"),
    ("create_point_moment_node", lambda w, f: C(w.n1, f.case, 1.0, "X"), "Load case not defined in current model"),
    ("create_line_load", lambda w, f: C("L", w.case, f.beam, *[N] * 12), "Beam not defined in current model"),
    ("create_line_moment_on_beam", lambda w, f: C(f.beam, f.case, 1.0), "Load case not defined in current model"),
    ("create_line_moment_on_beam", lambda w, f: C(f.beam, w.case, 1.0), "Beam not defined in current model"),
    ("create_line_moment_on_plane", lambda w, f: C((f.plane, 1), 1.0, load_case=f.case),
     "Load case not defined in current model"),
    ("create_line_moment_on_plane", lambda w, f: C((f.plane, 1), 1.0, load_case=w.case),
     "Plane not defined in current model"),
    ("create_line_moment_on_plane", lambda w, f: C([w.plane, 7], 1.0, load_case=w.case),
     "InternalEdge not defined in current model"),
    ("create_line_load_on_plane", lambda w, f: C(f.edge, 1.0, load_case=w.case),
     "InternalEdge not defined in current model"),
    ("create_surface_load", lambda w, f: C("S", w.case, f.plane, *[N] * 5), "Plane not defined in current model"),
    ("create_thermal_load", lambda w, f: C("T", f.case, w.beam, *[N] * 10), "Load case not defined in current model"),
    ("create_thermal_load", lambda w, f: C("T", w.case, f.beam, *[N] * 10), "Beam not defined in current model"),
    ("create_thermal_surface_load", lambda w, f: C("T", w.case, f.plane), "Plane not defined in current model"),
    ("create_free_surface_load", lambda w, f: C("F", f.case, "Z", 1.0, selection=[f.plane]),
     "Load case not defined in current model"),
    ("create_free_surface_load", lambda w, f: C("F", w.case, "Z", 1.0, selection=[w.plane, f.plane]),
     "One or more planes are not defined in current model"),
    ("create_free_line_load", lambda w, f: C("F", f.case, P, Q, "Z", 1, 1), "Load case not defined in current model"),
    ("create_free_point_load", lambda w, f: C("F", f.case, "Z", 1, P), "Load case not defined in current model"),
]


@pytest.mark.parametrize("method, call, message", FOREIGN, ids=[f"{c[0]}:{c[2][:24]}" for c in FOREIGN])
def test_reference_of_another_model_is_refused_and_nothing_changes(w, f, method, call, message):
    args, kwargs = call(w, f)
    before = sizes(w.model)
    with pytest.raises(ValueError) as info:
        getattr(w.model, method)(*args, **kwargs)
    assert str(info.value) == message
    assert info.value.__cause__ is None and not info.value.__suppress_context__
    assert sizes(w.model) == before


@pytest.mark.parametrize("method, call", [
    ("create_beam", lambda w: C(w.n1, w.n2, w.cs, layer=None)),
    ("create_subsoil", lambda w: C("S", stiffness=1, nonlinear_function=None)),
    ("create_permanent_load_case", lambda w: C("L", "", w.group, "STANDARD", None, None)),
    ("create_plane", lambda w: C([], 0.2, material=MAT, internal_nodes=[], layer=None, orthotropy=None)),
    ("create_general_cross_section_element", lambda w: C("E", "POLYGON", [(0, 0), (1, 0), (1, 1)], material=MAT)),
    ("create_arbitrary_profile", lambda w: C("A", w.beam, "ABSOLUTE", w.cs, [])),
    ("create_load_combination", lambda w: C("C", "ULS_SET_B", {})),
    ("create_result_class", lambda w: C("R", [], None)),
    ("create_free_surface_load", lambda w: C("F", w.case, "Z", 1.0, None, None, [(0, 0), (1, 0), (1, 1)])),
    ("create_line_moment_on_plane", lambda w: C((w.plane, 99), 1.0, load_case=w.case)),
])
def test_missing_optional_references_and_empty_sequences_pass(w, method, call):
    args, kwargs = call(w)
    before = sizes(w.model)
    created = getattr(w.model, method)(*args, **kwargs)
    grown = [name for name, old, new in zip(REGISTRIES, before, sizes(w.model)) if new != old]
    assert len(grown) == 1 and getattr(w.model, grown[0])[-1] is created  # stored once, as returned


@pytest.mark.parametrize("bad", [None, "N1", 1, [None]])
@pytest.mark.parametrize("method, call, message", [
    ("create_beam", lambda w, x: C(x, w.n2, w.cs), "Begin node not defined in current model"),
    ("create_hinge_on_beam", lambda w, x: C(x, "BEGIN"), "Beam not defined in current model"),
    ("create_surface_support", lambda w, x: C(w.plane, x), "Subsoil not defined in current model"),
    ("create_point_load_node", lambda w, x: C(w.n1, x, 1.0), "Load case not defined in current model"),
    ("create_hinge_on_plane", lambda w, x: C(x), "InternalEdge not defined in current model"),
])
def test_required_reference_that_is_none_or_of_another_kind_is_not_defined(w, bad, method, call, message):
    before = sizes(w.model)
    with pytest.raises(ValueError) as info:
        getattr(w.model, method)(*call(w, bad)[0])
    assert str(info.value) == message
    assert sizes(w.model) == before


def test_empty_edge_tuple_fails_reading_its_plane(w):
    with pytest.raises(IndexError, match="tuple index out of range"):
        w.model.create_line_load_on_plane((), 1.0, load_case=w.case)


def test_equal_names_and_equal_places_are_accepted_except_for_layers(w):
    a = w.model.create_node("Same", 1, 1, 1)
    b = w.model.create_node("Same", 1, 1, 1)
    assert a is not b and w.model.nodes[-2:] == (a, b)
    assert w.model.create_load_group("G", "PERMANENT").name == w.group.name
    with pytest.raises(ValueError, match="^Layer 'L1' already exists in current model.$"):
        w.model.create_layer("L1")


def test_geometry_is_left_to_tarsis(w):
    # Any edge number of a model plane, and members that join an object to itself, are accepted.
    for number in (0, -1, 99):
        assert w.model.create_hinge_on_plane((w.plane, number)).name.startswith("L")
    assert w.model.create_line_support_on_plane((w.plane, 0)).name.startswith("Sle")
    assert w.model.create_cross_link(w.beam, w.beam).name.startswith("CL")
    assert w.model.create_internal_edge(w.plane, w.n1, w.n1).name.startswith("ES")
    assert w.model.create_rigid_arm("RA", w.n1, w.n1, False, False).name == "RA"


def test_construction_creates_the_attributes_in_order():
    m = Model()
    assert list(vars(m)) == REGISTRIES + ["_mesh_setup", "_solver_setup", "_project_data"]
    assert vars(m)["_layers"] == {} and all(vars(m)[r] == [] for r in REGISTRIES[1:])
    assert type(m.mesh_setup) is o.MeshSetup and type(m.solver_setup) is o.SolverSetup
    assert type(m.project_data) is o.ProjectData
    for name in PROPERTIES:
        assert getattr(m, name) == ()
    assert not hasattr(m, "general_cross_section_elements") and not hasattr(m, "arbitrary_profile_spans")


def test_setups_given_are_kept_and_false_ones_replaced():
    mesh = o.MeshSetup(average_1d=0.5)
    falsy = mock.MagicMock(__bool__=lambda self: False)
    with mock.patch("norvale.external.tarsis.tarsis.SolverSetup") as solver:
        m = Model(mesh_setup=mesh, solver_setup=falsy)
    solver.assert_called_once_with()
    assert m.mesh_setup is mesh and m.solver_setup is solver.return_value
    with pytest.raises(TypeError):
        Model(mesh)


def test_properties_are_read_only_snapshots(w):
    nodes = w.model.nodes
    w.model.create_node("X", 0, 0, 0)
    assert len(w.model.nodes) == len(nodes) + 1
    assert w.model.layers == (w.layer,)
    with pytest.raises(AttributeError):
        w.model.nodes = ()
    w.model.mesh_setup.average_2d = 0.25
    assert w.model._mesh_setup.average_2d == 0.25


def test_ids_count_per_registry_and_shared_sequences_number_together():
    m = Model()
    assert m.create_rectangular_cross_section("R", MAT, 1, 1).object_id == 1
    assert m.create_library_cross_section("I", "IPE100", MAT).name == "CS2"
    assert m.create_circular_cross_section("C", MAT, 1).object_id == 3
    assert m.create_general_cross_section_element("E", "POLYGON", [(0, 0), (1, 0), (0, 1)], material=MAT)
    assert m.create_node("N", 0, 0, 0).object_id == 1
    n = m.nodes[0]
    m.create_plane([n], 0.1, material=MAT)
    m.create_plane([n], 0.1, material=MAT)
    assert m.create_circular_plane(n, 1.0, 0.1, material=MAT).name == "S3"
    g = m.create_load_group("G", "PERMANENT")
    m.create_permanent_load_case("P", "", g, "STANDARD")
    assert m.create_variable_load_case("V", "", g, "STATIC").object_id == 2


def test_layer_names_default_from_the_count_and_must_be_unique():
    m = Model()
    m.create_layer("Layer2")
    with pytest.raises(ValueError) as info:
        m.create_layer()
    assert str(info.value) == "Layer 'Layer2' already exists in current model."
    assert list(m._layers) == ["Layer2"]
    m2 = Model()
    assert [m2.create_layer(n).name for n in (None, "", None)] == ["Layer1", "Layer2", "Layer3"]
    assert [layer.name for layer in m2.layers] == ["Layer1", "Layer2", "Layer3"]


@pytest.mark.parametrize("name", [None, ""])
def test_false_names_get_the_prefix(w, name):
    assert w.model.create_beam(w.n1, w.n2, w.cs, name=name).name == "B3"
    assert w.model.create_nonlinear_load_combination("ULTIMATE", {}, name=name).name == "NC2"
    assert w.model.create_point_moment_node(w.n1, w.case, 1.0, "X", name).name == "M1"


def test_names_without_default_pass_unchanged(w):
    assert w.model.create_point_support(None, w.n1, None, None, None, None).name is None
    assert w.model.create_rectangular_cross_section("", MAT, 1, 1).name == ""


def test_general_cross_section_needs_exactly_one_polygon(w):
    m = w.model
    opening = m.create_general_cross_section_element("O", "OPENING", [(0, 0), (0.1, 0), (0, 0.1)])
    polygon2 = m.create_general_cross_section_element("P2", "POLYGON", [(0, 0), (1, 0), (0, 1)], material=MAT2)
    message = "GeneralCrossSection should contain (only) one element of type POLYGON"
    for elements in ([], [opening], [w.element, polygon2]):
        with pytest.raises(ValueError, match=r"^GeneralCrossSection should contain \(only\) one"):
            m.create_general_cross_section(elements)
    section = m.create_general_cross_section((opening, polygon2, opening))
    assert section.material is MAT2 and section.name == "CS2"
    assert message


def test_selection_records_name_the_class_each_object_reports(w):
    proxy = mock.Mock(spec=o.Beam, _object_id=7, _name="b7")
    with mock.patch.object(tarsis, "Selection") as selection:
        w.model.create_selection("S", [w.n1, proxy])
    assert selection.call_args.args[2] == [{"id": 1, "name": "N1", "type": "Node"},
                                           {"id": 7, "name": "b7", "type": "Beam"}]


def test_selection_records_are_read_before_numbering(w):
    with pytest.raises(AttributeError):
        w.model.create_selection("S", [w.n1, object()])
    assert w.model.selections == ()
    assert w.model.create_selection("S", [])._objects == []


class TestCircularPlane:
    @pytest.mark.parametrize("axis, vertex, axis_point", [
        (None, (1.0, 4.0, 3.0), (1, 2, 4)),
        ((1, 0, 0), (1.0, 4.0, 3.0), (2, 2, 3)),
        ((0, 2, 0), (1.0, 2.0, 1.0), (1, 4, 3)),
        (Vector(0, 0, 5), (1.0, 4.0, 3.0), (1, 2, 8)),
    ])
    def test_vertex_node_and_axis_point(self, axis, vertex, axis_point):
        m = Model()
        hub = m.create_node("Hub", 1, 2, 3)
        with mock.patch("norvale.external.tarsis.tarsis.Plane") as plane:
            result = m.create_circular_plane(hub, 4, 0.2, material=MAT, axis=axis)
        vertex_node = m.nodes[1]
        assert (vertex_node.object_id, vertex_node.name) == (2, "Hub_vertex")
        assert (vertex_node.x, vertex_node.y, vertex_node.z) == pytest.approx(vertex)
        plane.assert_called_once_with(1, "S1", 0.2, MAT, plane_type=N, layer=N, center_node=hub,
                                      vertex_node=vertex_node, axis=axis_point, internal_nodes=[],
                                      swap_orientation=N, lcs_rotation=N, fem_model=N, orthotropy=N)
        assert list(plane.call_args.kwargs)[2:5] == ["center_node", "vertex_node", "axis"]
        assert m.planes == (result,)

    def test_vertex_node_goes_through_create_node_of_the_instance(self):
        class Logged(Model):
            def create_node(self, name, x, y, z):
                self.log = (name, x, y, z)
                return super().create_node(name, x, y, z)

        m = Logged()
        hub = m.create_node("Hub", 0, 0, 0)
        m.create_circular_plane(hub, 3, 0.2, material=MAT)
        assert m.log == ("Hub_vertex", 0.0, 1.5, 0.0)

    def test_failed_plane_takes_the_vertex_node_out_again(self):
        m = Model()
        hub = m.create_node("Hub", 0, 0, 0)
        before = sizes(m)
        with pytest.raises(ValueError, match="thickness"):
            m.create_circular_plane(hub, 3, -0.2, material=MAT)
        assert sizes(m) == before and m.nodes == (hub,)

    def test_axis_without_cross_fails_before_anything_is_stored(self):
        m = Model()
        hub = m.create_node("Hub", 0, 0, 0)
        with pytest.raises(AttributeError):
            m.create_circular_plane(hub, 3, 0.2, material=MAT, axis=[0, 0, 1])
        assert m.nodes == (hub,)

    def test_rim_direction_is_compared_and_normalized_as_written(self):
        m = Model()
        hub = m.create_node("Hub", 0, 0, 0)
        with mock.patch.object(tarsis, "Vector") as vector:
            d = vector.return_value.cross.return_value = vector.return_value  # cross gives the zero vector itself
            d.__eq__.return_value = False
            with pytest.raises(TypeError):
                m.create_circular_plane(hub, None, 0.2, material=MAT)  # None / 2 fails after normalize
        d.__eq__.assert_called_once_with(vector.return_value)  # asked even though it is the same object
        assert vector.call_args_list == [mock.call(0, 0, 1), mock.call(1, 0, 0), mock.call(0, 0, 0)]
        d.normalize.assert_called_once_with()
        assert m.nodes == (hub,)



class TestNodesBuiltWithoutTheirConstructor:
    """create_node may skip running Node.__init__; the node must be what the class would have made."""

    @pytest.mark.parametrize("name, x, y, z", [
        ("N", 1.5, -2, 0.0),
        ("N", 10 ** 30, 2.5, -0.0),
        (None, 1, 2, 3),
        (7, 1.0, 2.0, 3.0),
        ("N", Fraction(1, 2), 0, 0),
        ("N", True, 0, 0),
        ("N", 0, "1", 0),
    ])
    def test_node_is_what_its_class_makes(self, name, x, y, z):
        m = Model()
        try:
            expected = o.Node(1, name, x, y, z)
        except ValueError as error:
            with pytest.raises(ValueError, match=f"^{re.escape(str(error))}$"):
                m.create_node(name, x, y, z)
            assert m.nodes == ()
            return
        node = m.create_node(name, x, y, z)
        assert type(node) is o.Node and gc.is_tracked(node)
        assert list(vars(node)) == list(vars(expected)) == ["_object_id", "_name", "_x", "_y", "_z"]
        assert all(a is b for a, b in zip(list(vars(node).values())[1:], [name, x, y, z]))
        assert node._serialize() == expected._serialize() and m.nodes == (node,)

    def test_patched_constructor_runs(self):
        calls = []

        def init(self, *args):
            calls.append(args)
            self.seen = args

        with mock.patch.object(o.Node, "__init__", init):
            assert Model().create_node("N", 1.0, 2.0, 3.0).seen == (1, "N", 1.0, 2.0, 3.0)
        assert calls == [(1, "N", 1.0, 2.0, 3.0)]
        assert not hasattr(Model().create_node("N", 1.0, 2.0, 3.0), "seen")

    def test_replaced_constructor_code_runs(self):
        def init(self, object_id, name, x, y, z):
            self.marked = (x, y, z)

        original = o.Node.__init__.__code__
        o.Node.__init__.__code__ = init.__code__
        try:
            assert vars(Model().create_node("N", 1.0, 2.0, 3.0)) == {"marked": (1.0, 2.0, 3.0)}
        finally:
            o.Node.__init__.__code__ = original
        assert list(vars(Model().create_node("N", 1.0, 2.0, 3.0))) == ["_object_id", "_name", "_x", "_y", "_z"]

    def test_descriptor_added_to_the_class_takes_the_assignment(self):
        stored = []
        setter = property(lambda self: "via descriptor", lambda self, value: stored.append(value))
        with mock.patch.object(o.Node, "_x", setter, create=True):
            node = Model().create_node("N", 4.0, 0.0, 0.0)
            assert stored == [4.0] and node.x == "via descriptor"

    def test_globals_of_the_constructor_are_honoured(self):
        m = Model()
        m.create_node("before", 0.0, 0.0, 0.0)  # the direct way is in use from here
        with mock.patch.object(o, "type", create=True, return_value=str), \
                mock.patch.object(o, "_is_number", return_value=False):
            with pytest.raises(ValueError, match="^node coordinates must be numbers, not 1.0$"):
                m.create_node("shadowed", 1.0, 0.0, 0.0)
        assert list(vars(m.create_node("after", 2.0, 0.0, 0.0))) == ["_object_id", "_name", "_x", "_y", "_z"]

    def test_subclass_put_in_the_module_namespace_is_instantiated(self):
        class Tagged(o.Node):
            def __init__(self, *args):
                super().__init__(*args)
                self.tag = "T"

        with mock.patch.object(tarsis, "Node", Tagged):
            node = Model().create_node("N", 0.0, 0.0, 0.0)
        assert type(node) is Tagged and node.tag == "T"


class TestReferenceChecksKeepContainmentMeaning:
    def test_object_removed_from_the_registry_is_no_longer_defined(self, w):
        w.model._nodes.remove(w.n2)
        with pytest.raises(ValueError, match="End node"):
            w.model.create_beam(w.n1, w.n2, w.cs)

    def test_object_appended_or_inserted_from_outside_is_defined(self, w, f):
        w.model._nodes.append(f.n1)
        w.model._nodes.insert(0, f.n2)
        assert w.model.create_beam(f.n1, f.n2, w.cs).begin_node is f.n1

    def test_registry_is_read_again_for_the_append(self):
        m = Model()
        replacement = []

        def node_replacing_the_registry(*args):
            m._nodes = replacement
            return "node"

        with mock.patch.object(tarsis, "Node", side_effect=node_replacing_the_registry):
            m.create_node("N", 0, 0, 0)
        assert m._nodes is replacement and replacement == ["node"]

    def test_failed_constructor_holds_no_registry(self):
        m = Model()
        before = sys.getrefcount(m._nodes)
        with mock.patch.object(tarsis, "Node", side_effect=ValueError):
            with pytest.raises(ValueError):
                m.create_node("N", 0, 0, 0)
        after = sys.getrefcount(m._nodes)
        assert after == before

    def test_replaced_registry_list_is_the_one_checked(self, w):
        w.model._nodes = [w.n3]
        w.model.create_beam(w.n3, w.n3, w.cs)
        with pytest.raises(ValueError, match="Begin node"):
            w.model.create_beam(w.n1, w.n3, w.cs)

    def test_equal_objects_count_when_the_class_defines_equality(self, w):
        class Same:
            def __eq__(self, other):
                return isinstance(other, Same)

            __hash__ = object.__hash__

        w.model._load_groups.append(Same())
        given = Same()
        case = w.model.create_permanent_load_case("L", "", given, "STANDARD")
        assert case in w.model._load_cases and given in vars(case).values()  # kept as given, not replaced

    def test_error_raised_by_equality_during_a_check_passes_through(self, w, f):
        class Touchy:
            def __eq__(self, other):
                raise LookupError("compared")

            __hash__ = object.__hash__

        w.model._nodes.insert(0, Touchy())
        before = sizes(w.model)
        with pytest.raises(LookupError, match="compared"):
            w.model.create_beam(f.n1, w.n2, w.cs)
        assert sizes(w.model) == before
        w.model._nodes.append(w.model._nodes.pop(0))  # behind every node, as `in` would reach it
        assert w.model.create_beam(w.n1, w.n2, w.cs).name == "B3"

    def test_layer_check_looks_at_the_layer_objects_not_their_names(self, w, f):
        with pytest.raises(ValueError, match="Layer not defined"):
            w.model.create_beam(w.n1, w.n2, w.cs, layer="L1")
        w.model._layers["other"] = f.layer
        w.model.create_beam(w.n1, w.n2, w.cs, layer=f.layer)
        del w.model._layers["L1"]
        with pytest.raises(ValueError, match="Layer not defined"):
            w.model.create_beam(w.n1, w.n2, w.cs, layer=w.layer)

    def test_many_models_alive_and_dying_keep_their_own_answers(self):
        models = [build_world() for _ in range(5)]
        for i, a in enumerate(models):
            for j, b in enumerate(models):
                if i != j:
                    with pytest.raises(ValueError):
                        a.model.create_beam(b.n1, b.n2, b.cs)
            a.model.create_beam(a.n1, a.n2, a.cs)
        del models[:3]
        gc.collect()
        fresh = build_world()
        fresh.model.create_beam(fresh.n1, fresh.n2, fresh.cs)


class TestSignatures:
    @pytest.mark.parametrize("call", [
        lambda m, w: m.create_subsoil("S", 1.0),
        lambda m, w: m.create_section_on_plane(P, Q),
        lambda m, w: m.create_averaging_strip(w.plane, strip_type="POINT", point_1=P),
        lambda m, w: m.create_load_combination("C", "ULS_SET_B", {}, "description"),
        lambda m, w: m.create_line_load_on_plane(w.edge, 1.0),
        lambda m, w: m.create_point_load("P", w.case, w.beam, "Z", "FORCE", 1, N, N, N, N, N, N, N, N),
        lambda m, w: m.create_point_support("S", w.n1, N, N, N, N, 0.2, (0, 0, 0)),
        lambda m, w: m.create_node("N", 0, 0, 0, bogus=1),
        lambda m, w: m.create_node("N", 0, 0, x=0),
    ])
    def test_wrong_calls_raise_type_error_and_store_nothing(self, w, call):
        before = sizes(w.model)
        with pytest.raises(TypeError):
            call(w.model, w)
        assert sizes(w.model) == before

    def test_messages_use_python_wording(self, w):
        with pytest.raises(TypeError, match=r"^Model.create_node\(\) missing 1 required positional argument: 'z'$"):
            w.model.create_node("N", 0, 0)
        with pytest.raises(TypeError, match=r"missing 1 required keyword-only argument: 'load_case'$"):
            w.model.create_line_moment_on_plane(w.edge, 1.0)
        with pytest.raises(TypeError, match=r"got an unexpected keyword argument 'nam'. Did you mean 'name'\?$"):
            w.model.create_beam(w.n1, w.n2, w.cs, nam="x")

    def test_keywords_built_at_run_time_are_matched_by_text(self, w):
        key = "".join(["na", "me"])
        assert w.model.create_beam(w.n1, w.n2, w.cs, **{key: "Built"}).name == "Built"
        with pytest.raises(TypeError, match="multiple values for argument 'name'"):
            w.model.create_node("A", 0, 0, 0, **{key: "B"})

    def test_signatures_and_defaults_evaluated_once(self):
        sig = inspect.signature(Model.create_hinge_on_beam)
        assert sig.parameters["freedom_fiy"].default is o.HingeOnBeam.Freedom.FREE
        assert sig.parameters["freedom_ux"].default is o.HingeOnBeam.Freedom.RIGID
        assert sig.parameters["stiffness_fiz"].default == 0 and type(sig.parameters["stiffness_fiz"].default) is int
        sig = inspect.signature(Model.create_point_moment_node)
        assert sig.parameters["c_sys"].default is o.PointMomentNode.CSys.GLOBAL
        sig = inspect.signature(Model)
        assert list(sig.parameters) == ["mesh_setup", "solver_setup", "project_data"]
        assert all(p.default is None and p.kind is p.KEYWORD_ONLY for p in sig.parameters.values())
        kinds = {p.name: p.kind for p in inspect.signature(Model.create_plane).parameters.values()}
        assert kinds["thickness"] is inspect.Parameter.POSITIONAL_OR_KEYWORD
        assert kinds["material"] is inspect.Parameter.KEYWORD_ONLY

    def test_defaults_do_not_follow_a_later_patch(self, w):
        with mock.patch.object(o.PointMomentNode, "CSys", mock.MagicMock()):
            moment = w.model.create_point_moment_node(w.n1, w.case, 1.0, "X")
        assert moment._c_sys is o.CoordinateSystem.GLOBAL


def test_patching_a_class_takes_effect_and_unpatching_restores_it(w):
    with mock.patch.object(tarsis, "Node", side_effect=lambda *a: ("node", a)):
        assert w.model.create_node("X", 1, 2, 3) == ("node", (5, "X", 1, 2, 3))
    assert type(w.model.create_node("Y", 1, 2, 3)) is o.Node


def test_classes_are_module_globals_of_the_kit():
    for name in ("Node", "Beam", "Plane", "PointLoadNode", "MeshSetup", "Vector"):
        assert getattr(tarsis, name) is (Vector if name == "Vector" else getattr(o, name))
    assert Model.__module__ == "norvale.external.tarsis.tarsis" and Model.__qualname__ == "Model"
    assert Model.__bases__ == (object,)


def test_failed_checks_do_not_leak_references(w, f):
    refs = sys.getrefcount(f.n1), sys.getrefcount(w.cs), sys.getrefcount(w.n1)
    for _ in range(200):
        with pytest.raises(ValueError):
            w.model.create_beam(f.n1, w.n1, w.cs)
        with pytest.raises(ValueError):
            w.model.create_beam(w.n1, w.n1, f.cs)
    assert (sys.getrefcount(f.n1), sys.getrefcount(w.cs), sys.getrefcount(w.n1)) == refs


def test_subclass_instances_and_setattr_follow_python_rules():
    class Sub(Model):
        pass

    m = Sub()
    n = m.create_node("A", 0, 0, 0)
    cs = m.create_rectangular_cross_section("R", MAT, 1, 1)
    assert m.create_beam(n, n, cs).name == "B1"
    m._beams = ["sentinel"]
    assert m.create_beam(n, n, cs).object_id == 2 and m.beams[0] == "sentinel"


def test_example_frame_builds():
    import importlib.util
    import pathlib

    path = pathlib.Path(__file__).parents[3] / "examples" / "tarsis_model.py"
    spec = importlib.util.spec_from_file_location("tarsis_model_example", path)
    example = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(example)
    m = example.build_example_model()
    assert (len(m.nodes), len(m.beams), len(m.point_supports), len(m.load_cases)) == (31, 36, 9, 4)
    uls = m.load_combinations[0]
    assert [case.name for case in uls.load_cases] == ["LC1", "LC2", "LC3", "LC4"]
    assert all(beam.begin_node in m.nodes for beam in m.beams)


def test_models_and_their_objects_are_freed():
    import weakref

    w, f = build_world(), build_world()
    with pytest.raises(ValueError):
        w.model.create_beam(w.n1, w.n2, f.cs)
    with pytest.raises(ValueError):
        w.model.create_circular_plane(w.n1, 1.0, -0.2, material=MAT)
    hub = w.model.create_node("Hub", 0, 0, 0)
    w.model.create_circular_plane(hub, 1.0, 0.2, material=MAT, axis=(1, 0, 0))
    refs = [weakref.ref(x) for x in (w.model, w.n1, w.beam, w.plane, w.case, w.layer, hub, w.model.nodes[-1], f.cs)]
    del w, f, hub
    gc.collect()
    assert [r() for r in refs] == [None] * len(refs)
