// Model: loads on nodes, beams, plate edges and plates, and free loads.
#include "model_support.h"

namespace norvale::tarsis::model {

namespace {

constexpr const char *kLoadCase = "Load case not defined in current model";
constexpr const char *kNode = "Node not defined in current model";
constexpr const char *kBeam = "Beam not defined in current model";
constexpr const char *kPlane = "Plane not defined in current model";

}  // namespace

void add_load_methods(nb::handle cls) {
    // Called from the Python body, the kit class enters its __init__ without a fresh interpreter entry.
    bind::def_python(
        cls, "create_point_load_node",
        "(self, node: Node, load_case: LoadCase, load: float, *, name: Optional[str] = None, "
        "direction: Optional[Union[PointLoadNode.Direction, str]] = None, "
        "c_sys: Optional[Union[PointLoadNode.CSys, str]] = None, angle: Optional[Tuple[float, float, "
        "float]] = None) -> PointLoadNode",
        R"(
        object_id, name = _native(self, node, load_case, name)
        load = PointLoadNode(object_id, name, node, load_case, load, direction, c_sys, angle)
        self._point_loads_node.append(load)
        return load
    )",
        [](nb::handle self, nb::handle node, nb::handle load_case, nb::handle name) {
            check(self, load_cases, load_case, kLoadCase);
            check(self, nodes, node, kNode);
            nb::object id = next_id(self, point_loads_node);
            return nb::make_tuple(id, default_name(name, "F", id));
        },
        "Creates a force in a node; a missing name becomes F<id>.");

    bind::def_method(
        cls, "create_point_load",
        "(self, name: str, load_case: LoadCase, beam: Beam, direction: Union[PointLoad.Direction, str], "
        "load_type: Union[PointLoad.Type, str], load_value: float, c_sys: Optional[Union[PointLoad.CSys, "
        "str]] = None, c_def: Optional[Union[PointLoad.CDef, str]] = None, position_x: Optional[float] = None, "
        "origin: Optional[Union[PointLoad.Origin, str]] = None, repeat: Optional[int] = None, "
        "ey: Optional[float] = None, ez: Optional[float] = None, *, angle: Optional[Tuple[float, float, "
        "float]] = None) -> PointLoad",
        [](nb::handle self, nb::handle name, nb::handle load_case, nb::handle beam, nb::handle direction,
           nb::handle load_type, nb::handle load_value, nb::handle c_sys, nb::handle c_def, nb::handle position_x,
           nb::handle origin, nb::handle repeat, nb::handle ey, nb::handle ez, nb::handle angle) {
            check(self, load_cases, load_case, kLoadCase);
            check(self, beams, beam, kBeam);
            nb::object id = next_id(self, point_loads);
            return store(self, point_loads,
                         make_kw(NV_GLOBAL(PointLoad), NV_KWNAMES("angle"), id, name, load_case, beam, direction,
                                 load_type, load_value, c_sys, c_def, position_x, origin, repeat, ey, ez, angle));
        },
        "Creates a point load on a beam.");

    bind::def_method(
        cls, "create_point_moment_node",
        "(self, node: Node, load_case: LoadCase, load: float, direction: Union[PointMomentNode.Direction, str], "
        "name: Optional[str] = None, c_sys: Union[PointMomentNode.CSys, "
        "str] = PointMomentNode.CSys.GLOBAL) -> PointMomentNode",
        [](nb::handle self, nb::handle node, nb::handle load_case, nb::handle load, nb::handle direction,
           nb::handle name, nb::handle c_sys) {
            check(self, nodes, node, kNode);
            check(self, load_cases, load_case, kLoadCase);
            nb::object id = next_id(self, point_moments_node);
            nb::object nm = default_name(name, "M", id);
            return store(self, point_moments_node,
                         make(NV_GLOBAL(PointMomentNode), id, nm, node, load_case, load, direction, c_sys));
        },
        "Creates a moment in a node; a missing name becomes M<id>.");

    bind::def_method(
        cls, "create_line_load",
        "(self, name: str, load_case: LoadCase, beam: Beam, load_type: Union[LineLoad.Type, str], "
        "distribution: Union[LineLoad.Distribution, str], load_start: float, load_end: float, "
        "direction: Union[LineLoad.Direction, str], position_start: float, position_end: float, "
        "c_def: Union[LineLoad.CDef, str], c_sys: Union[LineLoad.CSys, str], origin: Union[LineLoad.Origin, str], "
        "ey: float, ez: float) -> LineLoad",
        [](nb::handle self, nb::handle name, nb::handle load_case, nb::handle beam, nb::handle load_type,
           nb::handle distribution, nb::handle load_start, nb::handle load_end, nb::handle direction,
           nb::handle position_start, nb::handle position_end, nb::handle c_def, nb::handle c_sys, nb::handle origin,
           nb::handle ey, nb::handle ez) {
            check(self, load_cases, load_case, kLoadCase);
            check(self, beams, beam, kBeam);
            nb::object id = next_id(self, line_loads);
            // The class takes the coordinate system before the positions.
            return store(self, line_loads,
                         make(NV_GLOBAL(LineLoad), id, name, load_case, beam, load_type, distribution, load_start,
                              load_end, direction, c_sys, position_start, position_end, c_def, origin, ey, ez));
        },
        "Creates a line load on a beam.");

    bind::def_method(
        cls, "create_line_moment_on_beam",
        "(self, beam: Beam, load_case: LoadCase, m1: float, m2: Optional[float] = None, *, "
        "name: Optional[str] = None, direction: Optional[Union[LineMomentOnBeam.Direction, str]] = None, "
        "c_def: Optional[Union[LineMomentOnBeam.CDef, str]] = None, position_x1: Optional[float] = None, "
        "position_x2: Optional[float] = None, origin: Optional[Union[LineMomentOnBeam.Origin, "
        "str]] = None) -> LineMomentOnBeam",
        [](nb::handle self, nb::handle beam, nb::handle load_case, nb::handle m1, nb::handle m2, nb::handle name,
           nb::handle direction, nb::handle c_def, nb::handle position_x1, nb::handle position_x2, nb::handle origin) {
            check(self, load_cases, load_case, kLoadCase);
            check(self, beams, beam, kBeam);
            nb::object id = next_id(self, line_moments_on_beam);
            nb::object nm = default_name(name, "LM", id);
            return store(self, line_moments_on_beam,
                         make(NV_GLOBAL(LineMomentOnBeam), id, nm, beam, load_case, m1, m2, direction, c_def,
                              position_x1, position_x2, origin));
        },
        "Creates a line moment on a beam; a missing name becomes LM<id>.");

    bind::def_method(
        cls, "create_line_moment_on_plane",
        "(self, edge: Union[Tuple[Plane, int], InternalEdge], m1: float, m2: Optional[float] = None, *, "
        "load_case: LoadCase, name: Optional[str] = None, direction: Optional[Union[LineMomentOnPlane.Direction, "
        "str]] = None, c_def: Optional[Union[LineMomentOnPlane.CDef, str]] = None, "
        "position_x1: Optional[float] = None, position_x2: Optional[float] = None, "
        "origin: Optional[Union[LineMomentOnPlane.Origin, str]] = None) -> LineMomentOnPlane",
        [](nb::handle self, nb::handle edge, nb::handle m1, nb::handle m2, nb::handle load_case, nb::handle name,
           nb::handle direction, nb::handle c_def, nb::handle position_x1, nb::handle position_x2, nb::handle origin) {
            check(self, load_cases, load_case, kLoadCase);
            check_edge(self, edge);
            nb::object id = next_id(self, line_moments_on_plane);
            nb::object nm = default_name(name, "LMS", id);
            return store(self, line_moments_on_plane,
                         make(NV_GLOBAL(LineMomentOnPlane), id, nm, edge, load_case, m1, m2, direction, c_def,
                              position_x1, position_x2, origin));
        },
        "Creates a line moment on a plate edge; a missing name becomes LMS<id>.");

    bind::def_method(
        cls, "create_line_load_on_plane",
        "(self, edge: Union[Tuple[Plane, int], InternalEdge], p1: float, p2: Optional[float] = None, *, "
        "load_case: LoadCase, direction: Optional[Union[LineForceSurface.Direction, str]] = None, "
        "name: Optional[str] = None, location: Optional[Union[LineForceSurface.Location, str]] = None, "
        "c_sys: Optional[Union[LineForceSurface.CSys, str]] = None, c_def: Optional[Union[LineForceSurface.CDef, "
        "str]] = None, position_x1: Optional[float] = None, position_x2: Optional[float] = None, "
        "origin: Optional[Union[LineForceSurface.Origin, str]] = None) -> LineForceSurface",
        [](nb::handle self, nb::handle edge, nb::handle p1, nb::handle p2, nb::handle load_case, nb::handle direction,
           nb::handle name, nb::handle location, nb::handle c_sys, nb::handle c_def, nb::handle position_x1,
           nb::handle position_x2, nb::handle origin) {
            check(self, load_cases, load_case, kLoadCase);
            check_edge(self, edge);
            nb::object id = next_id(self, line_force_surface_list);
            nb::object nm = default_name(name, "LFS", id);
            return store(self, line_force_surface_list,
                         make(NV_GLOBAL(LineForceSurface), id, nm, edge, load_case, p1, p2, direction, location, c_sys,
                              c_def, position_x1, position_x2, origin));
        },
        "Creates a line load on a plate edge; a missing name becomes LFS<id>.");

    bind::def_method(
        cls, "create_surface_load",
        "(self, name: str, load_case: LoadCase, plane: Plane, direction: Union[SurfaceLoad.Direction, str], "
        "load_type: Union[SurfaceLoad.Type, str], load_value: float, c_sys: Union[SurfaceLoad.CSys, str], "
        "location: Union[SurfaceLoad.Location, str]) -> SurfaceLoad",
        [](nb::handle self, nb::handle name, nb::handle load_case, nb::handle plane, nb::handle direction,
           nb::handle load_type, nb::handle load_value, nb::handle c_sys, nb::handle location) {
            check(self, load_cases, load_case, kLoadCase);
            check(self, planes, plane, kPlane);
            nb::object id = next_id(self, surface_loads);
            return store(self, surface_loads,
                         make(NV_GLOBAL(SurfaceLoad), id, name, load_case, plane, direction, load_type, load_value,
                              c_sys, location));
        },
        "Creates a load on a plate.");

    bind::def_method(
        cls, "create_thermal_load",
        "(self, name: str, load_case: LoadCase, beam: Beam, distribution: Union[ThermalLoad.Distribution, str], "
        "delta: float, left_delta: float, right_delta: float, top_delta: float, bottom_delta: float, "
        "position_start: float, position_end: float, c_def: Union[ThermalLoad.CDef, str], "
        "origin: Union[ThermalLoad.Origin, str]) -> ThermalLoad",
        [](nb::handle self, nb::handle name, nb::handle load_case, nb::handle beam, nb::handle distribution,
           nb::handle delta, nb::handle left_delta, nb::handle right_delta, nb::handle top_delta,
           nb::handle bottom_delta, nb::handle position_start, nb::handle position_end, nb::handle c_def,
           nb::handle origin) {
            check(self, load_cases, load_case, kLoadCase);
            check(self, beams, beam, kBeam);
            nb::object id = next_id(self, thermal_loads);
            return store(self, thermal_loads,
                         make(NV_GLOBAL(ThermalLoad), id, name, load_case, beam, distribution, delta, left_delta,
                              right_delta, top_delta, bottom_delta, position_start, position_end, c_def, origin));
        },
        "Creates a temperature load on a beam.");

    bind::def_method(
        cls, "create_thermal_surface_load",
        "(self, name: str, load_case: LoadCase, plane: Plane, delta: Optional[float] = None, "
        "top_delta: Optional[float] = None, bottom_delta: Optional[float] = None) -> ThermalSurfaceLoad",
        [](nb::handle self, nb::handle name, nb::handle load_case, nb::handle plane, nb::handle delta,
           nb::handle top_delta, nb::handle bottom_delta) {
            check(self, load_cases, load_case, kLoadCase);
            check(self, planes, plane, kPlane);
            nb::object id = next_id(self, thermal_surface_loads);
            return store(
                self, thermal_surface_loads,
                make(NV_GLOBAL(ThermalSurfaceLoad), id, name, load_case, plane, delta, top_delta, bottom_delta));
        },
        "Creates a temperature load on a plate.");

    bind::def_method(
        cls, "create_free_surface_load",
        "(self, name: str, load_case: LoadCase, direction: Union[FreeSurfaceLoad.Direction, str], q1: float, "
        "q2: Optional[float] = None, q3: Optional[float] = None, points: Optional[Sequence[Tuple[float, "
        "float]]] = None, *, distribution: Optional[Union[FreeSurfaceLoad.Distribution, str]] = None, "
        "selection: Optional[Sequence[Plane]] = None) -> FreeSurfaceLoad",
        [](nb::handle self, nb::handle name, nb::handle load_case, nb::handle direction, nb::handle q1, nb::handle q2,
           nb::handle q3, nb::handle points, nb::handle distribution, nb::handle selection) {
            check(self, load_cases, load_case, kLoadCase);
            nb::object planes_to_check = truthy(selection) ? nb::borrow(selection) : nb::steal(PyList_New(0));
            check_each(self, planes, planes_to_check, "One or more planes are not defined in current model");
            nb::object id = next_id(self, free_surface_loads);
            return store(self, free_surface_loads,
                         make_kw(NV_GLOBAL(FreeSurfaceLoad), NV_KWNAMES("distribution", "selection"), id, name,
                                 load_case, direction, q1, q2, q3, points, distribution, selection));
        },
        "Creates a load on a polygon of the XY plane.");

    bind::def_method(
        cls, "create_free_line_load",
        "(self, name: str, load_case: LoadCase, point_1: Tuple[float, float], point_2: Tuple[float, float], "
        "direction: Union[FreeLineLoad.Direction, str], magnitude_1: float, magnitude_2: float) -> FreeLineLoad",
        [](nb::handle self, nb::handle name, nb::handle load_case, nb::handle point_1, nb::handle point_2,
           nb::handle direction, nb::handle magnitude_1, nb::handle magnitude_2) {
            check(self, load_cases, load_case, kLoadCase);
            nb::object id = next_id(self, free_line_loads);
            return store(self, free_line_loads,
                         make(NV_GLOBAL(FreeLineLoad), id, name, load_case, point_1, point_2, direction, magnitude_1,
                              magnitude_2));
        },
        "Creates a line load between two points of the XY plane.");

    bind::def_method(
        cls, "create_free_point_load",
        "(self, name: str, load_case: LoadCase, direction: Union[FreePointLoad.Direction, str], magnitude: float, "
        "position: Tuple[float, float]) -> FreePointLoad",
        [](nb::handle self, nb::handle name, nb::handle load_case, nb::handle direction, nb::handle magnitude,
           nb::handle position) {
            check(self, load_cases, load_case, kLoadCase);
            nb::object id = next_id(self, free_point_loads);
            return store(self, free_point_loads,
                         make(NV_GLOBAL(FreePointLoad), id, name, load_case, direction, magnitude, position));
        },
        "Creates a force at a point of the XY plane.");
}

}  // namespace norvale::tarsis::model
