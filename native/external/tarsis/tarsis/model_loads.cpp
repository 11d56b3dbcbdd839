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
    bind::def_fast(
        cls, "create_point_load_node",
        [](nb::handle self, nb::handle node, nb::handle load_case, nb::handle load, nb::handle name,
           nb::handle direction, nb::handle c_sys, nb::handle angle) {
            check(self, load_cases, load_case, kLoadCase);
            check(self, nodes, node, kNode);
            nb::object id = next_id(self, point_loads_node);
            nb::object nm = default_name(name, "F", id);
            return store(self, point_loads_node,
                         make(NV_GLOBAL(PointLoadNode), id, nm, node, load_case, load, direction, c_sys, angle));
        },
        bind::params({bind::required({"node", "load_case", "load"}), bind::kw_optional({"name", "direction", "c_sys",
            "angle"})}),
        "Creates a force in a node; a missing name becomes F<id>.");

    bind::def_fast(
        cls, "create_point_load",
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
        bind::params({bind::required({"name", "load_case", "beam", "direction", "load_type", "load_value"}),
            bind::optional({"c_sys", "c_def", "position_x", "origin", "repeat", "ey", "ez"}),
            bind::kw_optional({"angle"})}),
        "Creates a point load on a beam.");

    nb::object global_csys = scope().global("PointMomentNode").attr("CSys").attr("GLOBAL");  // evaluated once
    bind::def_fast(
        cls, "create_point_moment_node",
        [](nb::handle self, nb::handle node, nb::handle load_case, nb::handle load, nb::handle direction,
           nb::handle name, nb::handle c_sys) {
            check(self, nodes, node, kNode);
            check(self, load_cases, load_case, kLoadCase);
            nb::object id = next_id(self, point_moments_node);
            nb::object nm = default_name(name, "M", id);
            return store(self, point_moments_node,
                         make(NV_GLOBAL(PointMomentNode), id, nm, node, load_case, load, direction, c_sys));
        },
        bind::params({bind::required({"node", "load_case", "load", "direction"}), bind::optional({"name"}),
            {bind::pos("c_sys", global_csys, "PointMomentNode.CSys.GLOBAL")}}),
        "Creates a moment in a node; a missing name becomes M<id>.");

    bind::def_fast(
        cls, "create_line_load",
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
        bind::required({"name", "load_case", "beam", "load_type", "distribution", "load_start", "load_end", "direction",
                        "position_start", "position_end", "c_def", "c_sys", "origin", "ey", "ez"}),
        "Creates a line load on a beam.");

    bind::def_fast(
        cls, "create_line_moment_on_beam",
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
        bind::params({bind::required({"beam", "load_case", "m1"}), bind::optional({"m2"}), bind::kw_optional({"name",
            "direction", "c_def", "position_x1", "position_x2", "origin"})}),
        "Creates a line moment on a beam; a missing name becomes LM<id>.");

    bind::def_fast(
        cls, "create_line_moment_on_plane",
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
        bind::params({bind::required({"edge", "m1"}), bind::optional({"m2"}), bind::kw_required({"load_case"}),
            bind::kw_optional({"name", "direction", "c_def", "position_x1", "position_x2", "origin"})}),
        "Creates a line moment on a plate edge; a missing name becomes LMS<id>.");

    bind::def_fast(
        cls, "create_line_load_on_plane",
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
        bind::params({bind::required({"edge", "p1"}), bind::optional({"p2"}), bind::kw_required({"load_case"}),
            bind::kw_optional({"direction", "name", "location", "c_sys", "c_def", "position_x1", "position_x2",
            "origin"})}),
        "Creates a line load on a plate edge; a missing name becomes LFS<id>.");

    bind::def_fast(
        cls, "create_surface_load",
        [](nb::handle self, nb::handle name, nb::handle load_case, nb::handle plane, nb::handle direction,
           nb::handle load_type, nb::handle load_value, nb::handle c_sys, nb::handle location) {
            check(self, load_cases, load_case, kLoadCase);
            check(self, planes, plane, kPlane);
            nb::object id = next_id(self, surface_loads);
            return store(self, surface_loads,
                         make(NV_GLOBAL(SurfaceLoad), id, name, load_case, plane, direction, load_type, load_value,
                              c_sys, location));
        },
        bind::required({"name", "load_case", "plane", "direction", "load_type", "load_value", "c_sys", "location"}),
        "Creates a load on a plate.");

    bind::def_fast(
        cls, "create_thermal_load",
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
        bind::required({"name", "load_case", "beam", "distribution", "delta", "left_delta", "right_delta", "top_delta",
                        "bottom_delta", "position_start", "position_end", "c_def", "origin"}),
        "Creates a temperature load on a beam.");

    bind::def_fast(
        cls, "create_thermal_surface_load",
        [](nb::handle self, nb::handle name, nb::handle load_case, nb::handle plane, nb::handle delta,
           nb::handle top_delta, nb::handle bottom_delta) {
            check(self, load_cases, load_case, kLoadCase);
            check(self, planes, plane, kPlane);
            nb::object id = next_id(self, thermal_surface_loads);
            return store(
                self, thermal_surface_loads,
                make(NV_GLOBAL(ThermalSurfaceLoad), id, name, load_case, plane, delta, top_delta, bottom_delta));
        },
        bind::params({bind::required({"name", "load_case", "plane"}), bind::optional({"delta", "top_delta",
            "bottom_delta"})}),
        "Creates a temperature load on a plate.");

    bind::def_fast(
        cls, "create_free_surface_load",
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
        bind::params({bind::required({"name", "load_case", "direction", "q1"}), bind::optional({"q2", "q3", "points"}),
            bind::kw_optional({"distribution", "selection"})}),
        "Creates a load on a polygon of the XY plane.");

    bind::def_fast(
        cls, "create_free_line_load",
        [](nb::handle self, nb::handle name, nb::handle load_case, nb::handle point_1, nb::handle point_2,
           nb::handle direction, nb::handle magnitude_1, nb::handle magnitude_2) {
            check(self, load_cases, load_case, kLoadCase);
            nb::object id = next_id(self, free_line_loads);
            return store(self, free_line_loads,
                         make(NV_GLOBAL(FreeLineLoad), id, name, load_case, point_1, point_2, direction, magnitude_1,
                              magnitude_2));
        },
        bind::required({"name", "load_case", "point_1", "point_2", "direction", "magnitude_1", "magnitude_2"}),
        "Creates a line load between two points of the XY plane.");

    bind::def_fast(
        cls, "create_free_point_load",
        [](nb::handle self, nb::handle name, nb::handle load_case, nb::handle direction, nb::handle magnitude,
           nb::handle position) {
            check(self, load_cases, load_case, kLoadCase);
            nb::object id = next_id(self, free_point_loads);
            return store(self, free_point_loads,
                         make(NV_GLOBAL(FreePointLoad), id, name, load_case, direction, magnitude, position));
        },
        bind::required({"name", "load_case", "direction", "magnitude", "position"}),
        "Creates a force at a point of the XY plane.");
}

}  // namespace norvale::tarsis::model
