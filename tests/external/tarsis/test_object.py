"""The kit's Tarsis model objects: defaults, refused values and serialized form."""

import enum
import json

import pytest

from norvale.external.tarsis import object as o
from norvale.external.tarsis.tarsis import Model

MAT = o.Material("C30/37")


def plain(value):
    """The JSON text the model document is made of: objects inside are serialized the same way."""
    return json.loads(json.dumps(value, default=lambda x: x._serialize()))


def full_model():
    """A model with at least one object of every kind, built with the real classes."""
    m = Model()
    n = [m.create_node(f"N{i}", float(x), float(y), float(z))
         for i, (x, y, z) in enumerate([(0, 0, 0), (5, 0, 0), (5, 5, 0), (0, 5, 0), (0, 0, 3)], 1)]
    layer = m.create_layer(comment="main")
    m.update_concrete_material(3, "C30/37", o.Concrete.ECPart.BRIDGES, e_modulus=33e9, fck=30e6)
    fn = m.create_nonlinear_function("NF", "TRANSLATION", "RIGID", "FREE", [(0, 0), (0.01, 1e4)])
    soil = m.create_subsoil("Soil", stiffness=2e7, c1z="NONLINEAR_FUNCTION", nonlinear_function=fn)
    ortho = m.create_orthotropy("Ort", MAT, 0.25, D11=1e6)
    cs = m.create_rectangular_cross_section("R", MAT, 0.3, 0.5)
    m.create_numerical_cross_section("Num", MAT, A=0.01, Iy=1e-4)
    lib = m.create_library_cross_section("I", "IPE200", MAT)
    el = m.create_general_cross_section_element("P", "POLYGON", [(0, 0), (0.3, 0), (0.3, 0.3)], material=MAT)
    hole = m.create_general_cross_section_element("H", "OPENING", [(0.1, 0.1), (0.2, 0.1), (0.2, 0.2)])
    m.create_general_cross_section([el, hole])
    beam = m.create_beam(n[0], n[1], cs, layer=layer)
    beam2 = m.create_beam(n[1], n[4], lib, ez=0.1)
    span = m.create_arbitrary_profile_span(5.0, "PARAM_HAUNCH", cs, lib, "TOP_SURFACE")
    m.create_arbitrary_profile("AP", beam, "ABSOLUTE", cs, [span])
    m.create_cross_link(beam, beam2)
    m.create_hinge_on_beam(beam, "END", freedom_fiz="FLEXIBLE", stiffness_fiz=1e3)
    m.create_section_on_beam("SB", beam, "RELATIVE", 0.5, "FROM_START", 3, 0.1)
    m.create_section_on_plane((0, 0, 0), (5, 5, 0), name=None, draw="Y_DIRECTION")
    m.create_rigid_arm("RA", n[0], n[4], True, False)
    plane = m.create_plane(n[:4], 0.2, material=MAT, fem_model="ORTHOTROPIC", orthotropy=ortho, layer=layer)
    circle = m.create_circular_plane(n[4], 2.0, 0.2, material=MAT, axis=(0, 0, 1))
    m.create_open_slab("Hole", plane, n[:3])
    edge = m.create_internal_edge(plane, n[0], n[2])
    m.create_integration_strip(plane, (0, 0, 0), (5, 0, 0), 1.0)
    m.create_averaging_strip(plane, strip_type="POINT", point_1=(1, 1, 0), width=1, length=1, angle=0,
                             direction="LONGITUDINAL")
    m.create_point_support("PS", n[0], "STANDARD", ("RIGID",) * 3 + ("FREE",) * 3, (0,) * 6, "GLOBAL")
    m.create_point_support_on_beam(beam, z="FLEXIBLE", stiffness_z=1e6)
    m.create_line_support_on_beam(beam2, x="NONLINEAR", function_x=fn)
    m.create_line_support_on_plane((plane, 2), z="RIGID")
    m.create_surface_support(circle, soil)
    m.create_hinge_on_plane(edge)
    group = m.create_load_group("G", "VARIABLE", load_type="SNOW")
    dead = m.create_permanent_load_case("LC1", "dead", group, "SELF_WEIGHT")
    live = m.create_variable_load_case("LC2", "live", group, "PRIMARY_EFFECT", primary_effect=dead)
    combo = m.create_load_combination("C1", "ULS_SET_B", {dead: 1.35, live: 1.5}, description="ULS")
    nl = m.create_nonlinear_load_combination("ULTIMATE", {dead: 1.0})
    m.create_result_class("RC", [combo], [nl])
    m.create_point_load_node(n[4], live, -10e3, angle=(0, 0, 45))
    m.create_point_load("PL", live, beam, "Z", "FORCE", -5e3, repeat=2)
    m.create_point_moment_node(n[4], live, 2e3, "Y")
    m.create_line_load("LL", live, beam, "FORCE", "TRAPEZOIDAL", -1e3, -2e3, "Z", 0, 1, "RELATIVE", "GLOBAL",
                       "FROM_START", 0, 0)
    m.create_line_moment_on_beam(beam, live, 1e3)
    m.create_line_moment_on_plane(edge, 1e3, load_case=live)
    m.create_line_load_on_plane((plane, 1), -2e3, load_case=live)
    m.create_surface_load("SL", live, plane, "Z", "FORCE", -3e3, "GLOBAL", "LENGTH")
    m.create_thermal_load("TL", live, beam, "LINEAR", 0, 5, -5, 10, -10, 0, 1, "RELATIVE", "FROM_START")
    m.create_thermal_surface_load("TS", live, plane, top_delta=10, bottom_delta=-5)
    m.create_free_surface_load("FS", live, "Z", -1e3, points=[(0, 0), (1, 0), (1, 1)], selection=[plane])
    m.create_free_line_load("FL", live, (0, 0), (5, 0), "Z", -1e3, -1e3)
    m.create_free_point_load("FP", live, "Z", -1e3, (2, 2))
    m.create_selection("Sel", [beam, plane, n[0]])
    return m


def test_every_object_of_a_full_model_serializes_to_plain_data():
    m = full_model()
    for name, registry in vars(m).items():
        items = registry.values() if isinstance(registry, dict) else registry
        if not isinstance(items, list) and not isinstance(registry, dict):
            items = [registry]
        for item in items:
            data = plain(item._serialize())
            assert isinstance(data, dict), name
            assert data == plain(item._serialize())


@pytest.mark.parametrize("obj, expected", [
    (o.Node(1, "N1", 0, 1.5, 2), {"id": 1, "name": "N1", "x": 0, "y": 1.5, "z": 2}),
    (o.Layer(2, "L", None, None, None),
     {"id": 2, "name": "L", "comment": "", "structural_model_only": False, "current_used_activity": True}),
    (o.RectangularCrossSection(1, "R", MAT, 0.3, 0.5),
     {"id": 1, "name": "R", "material": {"name": "C30/37"}, "width": 0.3, "height": 0.5}),
    (o.MeshSetup(), {"average_1d": 1.0, "average_2d": 1.0, "division_2d_1d": 50}),
])
def test_serialized_form(obj, expected):
    assert plain(obj._serialize()) == expected


def test_references_serialize_as_id_and_name_and_parts_inline():
    a, b = o.Node(1, "A", 0, 0, 0), o.Node(2, "B", 1, 0, 0)
    cs = o.RectangularCrossSection(4, "R", MAT, 1, 1)
    beam = plain(o.Beam(3, "B3", a, b, cs)._serialize())
    assert beam["begin_node"] == {"id": 1, "name": "A"} and beam["cross_section"] == {"id": 4, "name": "R"}
    assert beam["ez"] == 0.0 and beam["layer"] is None
    plane = o.Plane(1, "S1", 0.2, MAT, corner_nodes=[a, b])
    support = plain(o.LineSupportSurface(1, "Sle1", (plane, 2))._serialize())
    assert support["edge"] == {"plane": {"id": 1, "name": "S1"}, "edge": 2}
    lc = o.PermanentLoadCase(1, "LC1", "", o.LoadGroup(1, "G", "PERMANENT"), "STANDARD")
    combo = plain(o.LoadCombination(1, "C", "ULS_SET_B", {lc: 1.35})._serialize())
    assert combo["load_cases"] == [{"load_case": {"id": 1, "name": "LC1"}, "coefficient": 1.35}]
    elem = o.GeneralCrossSectionElement("P", "POLYGON", [(0, 0), (1, 0), (1, 1)], material=MAT)
    gcs = plain(o.GeneralCrossSection(5, "G", MAT, [elem])._serialize())
    assert gcs["elements"][0]["points"] == [[0, 0], [1, 0], [1, 1]] and gcs["elements"][0]["element_type"] == "POLYGON"


@pytest.mark.parametrize("make, attr, value", [
    (lambda: o.HingeOnBeam(1, "H", None, None), "_freedom_fiy", o.HingeOnBeam.Freedom.FREE),
    (lambda: o.HingeOnBeam(1, "H", None, None), "_freedom_fiz", o.HingeOnBeam.Freedom.RIGID),
    (lambda: o.LineSupportLine(1, "S", None), "_c_sys", o.LineSupportLine.CSys.LOCAL),
    (lambda: o.LineSupportLine(1, "S", None), "_position_x2", 1.0),
    (lambda: o.LineSupportSurface(1, "S", o.InternalEdge(1, "E", None, 1, 2)), "_x", o.Constraint.FREE),
    (lambda: o.HingeOnPlane(1, "L", o.InternalEdge(1, "E", None, 1, 2)), "_fix", o.Constraint.FREE),
    (lambda: o.PointSupportLine(1, "S", None), "_default_size", 0.2),
    (lambda: o.PointSupport(1, "S", o.Node(1, "N", 0, 0, 0)), "_angle", (0.0, 0.0, 0.0)),
    (lambda: o.SectionOnPlane(1, "S", (0, 0, 0), (1, 0, 0)), "_direction_of_cut", (0.0, 0.0, 1.0)),
    (lambda: o.SectionOnPlane(1, "S", (0, 0, 0), (1, 0, 0)), "_draw", o.SectionOnPlane.Draw.Z_DIRECTION),
    (lambda: o.Subsoil(1, "S", 1e6), "_c1x", 50000000.0),
    (lambda: o.Subsoil(1, "S", 1e6), "_c1z", o.Subsoil.C1z.FLEXIBLE),
    (lambda: o.PermanentLoadCase(1, "L", "", None, "SELF_WEIGHT"), "_direction", o.LoadCase.Direction.NEG_Z),
    (lambda: o.PointLoadNode(1, "F", None, o.PermanentLoadCase(1, "L", "", None, "STANDARD"), 1.0), "_direction",
     o.PointLoadNode.Direction.Z),
    (lambda: o.LineMomentOnBeam(1, "M", None, o.PermanentLoadCase(1, "L", "", None, "STANDARD"), 2.0), "_m2", 2.0),
    (lambda: o.FreeSurfaceLoad(1, "F", o.PermanentLoadCase(1, "L", "", None, "STANDARD"), None, 1.0,
                               points=[(0, 0), (1, 0), (0, 1)]), "_distribution",
     o.FreeSurfaceLoad.Distribution.POINTS),
    (lambda: o.Plane(1, "S", 0.2, MAT), "_plane_type", o.Plane.Type.PLATE),
])
def test_none_takes_the_documented_default(make, attr, value):
    assert getattr(make(), attr) == value


@pytest.mark.parametrize("make, message", [
    (lambda: o.Node(1, "N", "0", 0, 0), "node coordinates must be numbers, not '0'"),
    (lambda: o.RectangularCrossSection(1, "R", MAT, 0, 1), "width must be a positive number, not 0"),
    (lambda: o.RectangularCrossSection(1, "R", "C30", 1, 1), "material must be a Material, not 'C30'"),
    (lambda: o.CircularHollowCrossSection(1, "H", MAT, 0.1, 0.06), "thickness 0.06 does not fit in diameter 0.1"),
    (lambda: o.Concrete(1, "C", "PARTIAL"), "part must be one of Concrete.ECPart (GENERAL, BRIDGES), not 'PARTIAL'"),
    (lambda: o.Concrete(0, "C", "GENERAL"), "material id must be a positive integer, not 0"),
    (lambda: o.HingeOnBeam(1, "H", None, "MIDDLE"), "position must be one of HingeOnBeam.Position"),
    (lambda: o.PointSupport(1, "S", o.Node(1, "N", 0, 0, 0), freedom=("RIGID",) * 5), "freedom must hold six"),
    (lambda: o.AveragingStrip(1, "A", None, "STRIP", (0, 0, 0), 1, 1, 0, None), "strip_type must be one of"),
    (lambda: o.LineSupportLine(1, "S", None, x="NONLINEAR"), "x NONLINEAR needs function_x"),
    (lambda: o.Subsoil(1, "S", 1, c1z="NONLINEAR_FUNCTION"), "c1z NONLINEAR_FUNCTION needs a nonlinear_function"),
    (lambda: o.Plane(1, "S", 0.2, MAT, fem_model="ORTHOTROPIC"), "an ORTHOTROPIC plane needs an orthotropy"),
    (lambda: o.GeneralCrossSectionElement("E", "POLYGON", [(0, 0), (1, 0), (1, 1)]), "a POLYGON element needs"),
    (lambda: o.NonLinearFunction(1, "F", None, None, None, [(0, 0)]), "impulse must hold at least two (x, y) points"),
    (lambda: o.FreeSurfaceLoad(1, "F", o.PermanentLoadCase(1, "L", "", None, "STANDARD"), "Z", 1.0),
     "a free surface load needs at least three points"),
    (lambda: o.ThermalSurfaceLoad(1, "T", o.PermanentLoadCase(1, "L", "", None, "STANDARD"), None, top_delta=1.0),
     "a linear thermal surface load needs both top_delta and bottom_delta"),
    (lambda: o.PermanentLoadCase(1, "L", "", None, "PRIMARY_EFFECT"), "a PRIMARY_EFFECT load case needs a primary_effect load case"),
    (lambda: o.LoadCombination(1, "C", None, {"LC1": 1.0}), "load_cases keys must be LoadCase objects"),
    (lambda: o.LineSupportSurface(1, "S", ("plane", 1)), "edge must be a (Plane, edge number) pair"),
    (lambda: o.SectionOnBeam(1, "S", None, None, None, None, 0, None), "repeat must be a positive integer"),
    (lambda: o.PointLoadNode(1, "F", None, None, 1.0), "load_case must be a LoadCase"),
    (lambda: o.MeshSetup(average_1d=-1), "average_1d must be a positive number"),
])
def test_values_that_cannot_describe_a_model_are_refused(make, message):
    with pytest.raises(ValueError) as info:
        make()
    assert str(info.value).startswith(message)


def test_enumerations_are_text_members_named_after_their_values():
    assert issubclass(o.HingeOnBeam.Freedom, enum.Enum) and o.HingeOnBeam.Freedom.RIGID == "RIGID"
    assert o.Concrete.ECPart("BRIDGES") is o.Concrete.ECPart.BRIDGES
    assert o.PointMomentNode.CSys.GLOBAL is o.CoordinateSystem.GLOBAL
    for cls in (o.LibraryCrossSection.Section, o.LoadCase.Duration, o.PointSupport.Freedom, o.Plane.FEMModel):
        assert all(member.value == member.name for member in cls)
    assert json.dumps(o.Axis.X) == '"X"'


def test_objects_compare_by_identity_and_are_hashable():
    a, b = o.Node(1, "N", 0, 0, 0), o.Node(1, "N", 0, 0, 0)
    assert a != b and a == a and len({a, b}) == 2


def test_text_values_are_converted_to_members():
    hinge = o.HingeOnBeam(1, "H", None, "BOTH", freedom_ux="FLEXIBLE")
    assert hinge._position is o.HingeOnBeam.Position.BOTH and hinge._freedom_ux is o.Constraint.FLEXIBLE


def test_selection_keeps_its_records():
    records = [{"id": 1, "name": "B1", "type": "Beam"}]
    sel = o.Selection(1, "S", records)
    records.clear()
    assert sel.objects == [{"id": 1, "name": "B1", "type": "Beam"}]
    with pytest.raises(ValueError):
        o.Selection(1, "S", [{"name": "B1", "id": 1, "type": "Beam"}])
