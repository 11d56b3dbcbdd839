// Model: loads on nodes, beams, plate edges and plates, and free loads.
#include "model_support.h"

namespace norvale::tarsis::model {

namespace {

constexpr const char *kLoadCase = "Load case not defined in current model";
constexpr const char *kNode = "Node not defined in current model";
constexpr const char *kBeam = "Beam not defined in current model";
constexpr const char *kPlane = "Plane not defined in current model";

}  // namespace

void add_load_methods(norvale::bind::ClassBuilder &cls) {
    cls.def(
        "create_point_load_node",
        [](nb::handle self, nb::handle node, nb::handle load_case, nb::handle load, nb::handle name,
           nb::handle direction, nb::handle c_sys, nb::handle angle) {
            check(self, load_cases, load_case, kLoadCase);
            check(self, nodes, node, kNode);
            nb::object id = next_id(self, point_loads_node);
            nb::object nm = default_name(name, "F", id);
            return store(self, point_loads_node,
                         NV_GLOBAL(PointLoadNode)(id, nm, node, load_case, load, direction, c_sys, angle));
        },
        req("node"), req("load_case"), req("load"), nb::kw_only(), opt("name"), opt("direction"), opt("c_sys"),
        opt("angle"), "Creates a force in a node; a missing name becomes F<id>.");

    cls.def(
        "create_point_load",
        [](nb::handle self, nb::handle name, nb::handle load_case, nb::handle beam, nb::handle direction,
           nb::handle load_type, nb::handle load_value, nb::handle c_sys, nb::handle c_def, nb::handle position_x,
           nb::handle origin, nb::handle repeat, nb::handle ey, nb::handle ez, nb::handle angle) {
            check(self, load_cases, load_case, kLoadCase);
            check(self, beams, beam, kBeam);
            nb::object id = next_id(self, point_loads);
            return store(self, point_loads,
                         NV_GLOBAL(PointLoad)(id, name, load_case, beam, direction, load_type, load_value, c_sys,
                                              c_def, position_x, origin, repeat, ey, ez, nb::arg("angle") = angle));
        },
        req("name"), req("load_case"), req("beam"), req("direction"), req("load_type"), req("load_value"),
        opt("c_sys"), opt("c_def"), opt("position_x"), opt("origin"), opt("repeat"), opt("ey"), opt("ez"),
        nb::kw_only(), opt("angle"), "Creates a point load on a beam.");

    nb::object global_csys = scope().global("PointMomentNode").attr("CSys").attr("GLOBAL");  // evaluated once
    cls.def(
        "create_point_moment_node",
        [](nb::handle self, nb::handle node, nb::handle load_case, nb::handle load, nb::handle direction,
           nb::handle name, nb::handle c_sys) {
            check(self, nodes, node, kNode);
            check(self, load_cases, load_case, kLoadCase);
            nb::object id = next_id(self, point_moments_node);
            nb::object nm = default_name(name, "M", id);
            return store(self, point_moments_node,
                         NV_GLOBAL(PointMomentNode)(id, nm, node, load_case, load, direction, c_sys));
        },
        req("node"), req("load_case"), req("load"), req("direction"), opt("name"),
        nb::arg("c_sys").none() = global_csys, "Creates a moment in a node; a missing name becomes M<id>.");

    cls.def(
        "create_line_load",
        [](nb::handle self, nb::handle name, nb::handle load_case, nb::handle beam, nb::handle load_type,
           nb::handle distribution, nb::handle load_start, nb::handle load_end, nb::handle direction,
           nb::handle position_start, nb::handle position_end, nb::handle c_def, nb::handle c_sys, nb::handle origin,
           nb::handle ey, nb::handle ez) {
            check(self, load_cases, load_case, kLoadCase);
            check(self, beams, beam, kBeam);
            nb::object id = next_id(self, line_loads);
            // The class takes the coordinate system before the positions.
            return store(self, line_loads,
                         NV_GLOBAL(LineLoad)(id, name, load_case, beam, load_type, distribution, load_start, load_end,
                                             direction, c_sys, position_start, position_end, c_def, origin, ey, ez));
        },
        req("name"), req("load_case"), req("beam"), req("load_type"), req("distribution"), req("load_start"),
        req("load_end"), req("direction"), req("position_start"), req("position_end"), req("c_def"), req("c_sys"),
        req("origin"), req("ey"), req("ez"), "Creates a line load on a beam.");

    cls.def(
        "create_line_moment_on_beam",
        [](nb::handle self, nb::handle beam, nb::handle load_case, nb::handle m1, nb::handle m2, nb::handle name,
           nb::handle direction, nb::handle c_def, nb::handle position_x1, nb::handle position_x2, nb::handle origin) {
            check(self, load_cases, load_case, kLoadCase);
            check(self, beams, beam, kBeam);
            nb::object id = next_id(self, line_moments_on_beam);
            nb::object nm = default_name(name, "LM", id);
            return store(self, line_moments_on_beam,
                         NV_GLOBAL(LineMomentOnBeam)(id, nm, beam, load_case, m1, m2, direction, c_def, position_x1,
                                                     position_x2, origin));
        },
        req("beam"), req("load_case"), req("m1"), opt("m2"), nb::kw_only(), opt("name"), opt("direction"),
        opt("c_def"), opt("position_x1"), opt("position_x2"), opt("origin"),
        "Creates a line moment on a beam; a missing name becomes LM<id>.");

    cls.def(
        "create_line_moment_on_plane",
        [](nb::handle self, nb::handle edge, nb::handle m1, nb::handle m2, nb::handle load_case, nb::handle name,
           nb::handle direction, nb::handle c_def, nb::handle position_x1, nb::handle position_x2, nb::handle origin) {
            check(self, load_cases, load_case, kLoadCase);
            check_edge(self, edge);
            nb::object id = next_id(self, line_moments_on_plane);
            nb::object nm = default_name(name, "LMS", id);
            return store(self, line_moments_on_plane,
                         NV_GLOBAL(LineMomentOnPlane)(id, nm, edge, load_case, m1, m2, direction, c_def, position_x1,
                                                      position_x2, origin));
        },
        req("edge"), req("m1"), opt("m2"), nb::kw_only(), req("load_case"), opt("name"), opt("direction"),
        opt("c_def"), opt("position_x1"), opt("position_x2"), opt("origin"),
        "Creates a line moment on a plate edge; a missing name becomes LMS<id>.");

    cls.def(
        "create_line_load_on_plane",
        [](nb::handle self, nb::handle edge, nb::handle p1, nb::handle p2, nb::handle load_case, nb::handle direction,
           nb::handle name, nb::handle location, nb::handle c_sys, nb::handle c_def, nb::handle position_x1,
           nb::handle position_x2, nb::handle origin) {
            check(self, load_cases, load_case, kLoadCase);
            check_edge(self, edge);
            nb::object id = next_id(self, line_force_surface_list);
            nb::object nm = default_name(name, "LFS", id);
            return store(self, line_force_surface_list,
                         NV_GLOBAL(LineForceSurface)(id, nm, edge, load_case, p1, p2, direction, location, c_sys,
                                                     c_def, position_x1, position_x2, origin));
        },
        req("edge"), req("p1"), opt("p2"), nb::kw_only(), req("load_case"), opt("direction"), opt("name"),
        opt("location"), opt("c_sys"), opt("c_def"), opt("position_x1"), opt("position_x2"), opt("origin"),
        "Creates a line load on a plate edge; a missing name becomes LFS<id>.");

    cls.def(
        "create_surface_load",
        [](nb::handle self, nb::handle name, nb::handle load_case, nb::handle plane, nb::handle direction,
           nb::handle load_type, nb::handle load_value, nb::handle c_sys, nb::handle location) {
            check(self, load_cases, load_case, kLoadCase);
            check(self, planes, plane, kPlane);
            nb::object id = next_id(self, surface_loads);
            return store(self, surface_loads,
                         NV_GLOBAL(SurfaceLoad)(id, name, load_case, plane, direction, load_type, load_value, c_sys,
                                                location));
        },
        req("name"), req("load_case"), req("plane"), req("direction"), req("load_type"), req("load_value"),
        req("c_sys"), req("location"), "Creates a load on a plate.");

    cls.def(
        "create_thermal_load",
        [](nb::handle self, nb::handle name, nb::handle load_case, nb::handle beam, nb::handle distribution,
           nb::handle delta, nb::handle left_delta, nb::handle right_delta, nb::handle top_delta,
           nb::handle bottom_delta, nb::handle position_start, nb::handle position_end, nb::handle c_def,
           nb::handle origin) {
            check(self, load_cases, load_case, kLoadCase);
            check(self, beams, beam, kBeam);
            nb::object id = next_id(self, thermal_loads);
            return store(self, thermal_loads,
                         NV_GLOBAL(ThermalLoad)(id, name, load_case, beam, distribution, delta, left_delta,
                                                right_delta, top_delta, bottom_delta, position_start, position_end,
                                                c_def, origin));
        },
        req("name"), req("load_case"), req("beam"), req("distribution"), req("delta"), req("left_delta"),
        req("right_delta"), req("top_delta"), req("bottom_delta"), req("position_start"), req("position_end"),
        req("c_def"), req("origin"), "Creates a temperature load on a beam.");

    cls.def(
        "create_thermal_surface_load",
        [](nb::handle self, nb::handle name, nb::handle load_case, nb::handle plane, nb::handle delta,
           nb::handle top_delta, nb::handle bottom_delta) {
            check(self, load_cases, load_case, kLoadCase);
            check(self, planes, plane, kPlane);
            nb::object id = next_id(self, thermal_surface_loads);
            return store(self, thermal_surface_loads,
                         NV_GLOBAL(ThermalSurfaceLoad)(id, name, load_case, plane, delta, top_delta, bottom_delta));
        },
        req("name"), req("load_case"), req("plane"), opt("delta"), opt("top_delta"), opt("bottom_delta"),
        "Creates a temperature load on a plate.");

    cls.def(
        "create_free_surface_load",
        [](nb::handle self, nb::handle name, nb::handle load_case, nb::handle direction, nb::handle q1, nb::handle q2,
           nb::handle q3, nb::handle points, nb::handle distribution, nb::handle selection) {
            check(self, load_cases, load_case, kLoadCase);
            nb::object planes_to_check = truthy(selection) ? nb::borrow(selection) : nb::steal(PyList_New(0));
            check_each(self, planes, planes_to_check, "One or more planes are not defined in current model");
            nb::object id = next_id(self, free_surface_loads);
            return store(self, free_surface_loads,
                         NV_GLOBAL(FreeSurfaceLoad)(id, name, load_case, direction, q1, q2, q3, points,
                                                    nb::arg("distribution") = distribution,
                                                    nb::arg("selection") = selection));
        },
        req("name"), req("load_case"), req("direction"), req("q1"), opt("q2"), opt("q3"), opt("points"),
        nb::kw_only(), opt("distribution"), opt("selection"), "Creates a load on a polygon of the XY plane.");

    cls.def(
        "create_free_line_load",
        [](nb::handle self, nb::handle name, nb::handle load_case, nb::handle point_1, nb::handle point_2,
           nb::handle direction, nb::handle magnitude_1, nb::handle magnitude_2) {
            check(self, load_cases, load_case, kLoadCase);
            nb::object id = next_id(self, free_line_loads);
            return store(self, free_line_loads,
                         NV_GLOBAL(FreeLineLoad)(id, name, load_case, point_1, point_2, direction, magnitude_1,
                                                 magnitude_2));
        },
        req("name"), req("load_case"), req("point_1"), req("point_2"), req("direction"), req("magnitude_1"),
        req("magnitude_2"), "Creates a line load between two points of the XY plane.");

    cls.def(
        "create_free_point_load",
        [](nb::handle self, nb::handle name, nb::handle load_case, nb::handle direction, nb::handle magnitude,
           nb::handle position) {
            check(self, load_cases, load_case, kLoadCase);
            nb::object id = next_id(self, free_point_loads);
            return store(self, free_point_loads,
                         NV_GLOBAL(FreePointLoad)(id, name, load_case, direction, magnitude, position));
        },
        req("name"), req("load_case"), req("direction"), req("magnitude"), req("position"),
        "Creates a force at a point of the XY plane.");
}

}  // namespace norvale::tarsis::model
