// Model: point, line and surface supports, and hinges along plate edges.
#include "model_support.h"

namespace norvale::tarsis::model {

void add_support_methods(nb::handle cls) {
    bind::def_method(
        cls, "create_point_support",
        "(self, name: str, node: Node, spring_type: Union[PointSupport.Type, str], "
        "freedom: Tuple[PointSupport.Freedom, PointSupport.Freedom, PointSupport.Freedom, PointSupport.Freedom, "
        "PointSupport.Freedom, PointSupport.Freedom], stiffness: Tuple[float, float, float, float, float, float], "
        "c_sys: Union[PointSupport.CSys, str], default_size: float = 0.2, *, angle: Optional[Tuple[float, float, "
        "float]] = None) -> PointSupport",
        [](nb::handle self, nb::handle name, nb::handle node, nb::handle spring_type, nb::handle freedom,
           nb::handle stiffness, nb::handle c_sys, nb::handle default_size, nb::handle angle) {
            check(self, nodes, node, "Node not defined in current model");
            nb::object id = next_id(self, point_supports);
            return store(self, point_supports,
                         make(NV_GLOBAL(PointSupport), id, name, node, spring_type, freedom, stiffness, c_sys,
                              default_size, angle));
        },
        "Creates a support in a node: six constraints and six stiffnesses (X, Y, Z, Rx, Ry, Rz).");

    bind::def_method(
        cls, "create_point_support_on_beam",
        "(self, beam: Beam, *, name: Optional[str] = None, x: Optional[Union[PointSupportLine.Freedom, "
        "str]] = None, stiffness_x: Optional[float] = None, y: Optional[Union[PointSupportLine.Freedom, "
        "str]] = None, stiffness_y: Optional[float] = None, z: Optional[Union[PointSupportLine.Freedom, "
        "str]] = None, stiffness_z: Optional[float] = None, rx: Optional[Union[PointSupportLine.Freedom, "
        "str]] = None, stiffness_rx: Optional[float] = None, ry: Optional[Union[PointSupportLine.Freedom, "
        "str]] = None, stiffness_ry: Optional[float] = None, rz: Optional[Union[PointSupportLine.Freedom, "
        "str]] = None, stiffness_rz: Optional[float] = None, default_size: Optional[float] = None, "
        "c_sys: Optional[Union[PointSupportLine.CSys, str]] = None, c_def: Optional[Union[PointSupportLine.CDef, "
        "str]] = None, position_x: Optional[float] = None, origin: Optional[Union[PointSupportLine.Origin, "
        "str]] = None, repeat: Optional[int] = None, delta_x: Optional[float] = None) -> PointSupportLine",
        [](nb::handle self, nb::handle beam, nb::handle name, nb::handle x, nb::handle stiffness_x, nb::handle y,
           nb::handle stiffness_y, nb::handle z, nb::handle stiffness_z, nb::handle rx, nb::handle stiffness_rx,
           nb::handle ry, nb::handle stiffness_ry, nb::handle rz, nb::handle stiffness_rz, nb::handle default_size,
           nb::handle c_sys, nb::handle c_def, nb::handle position_x, nb::handle origin, nb::handle repeat,
           nb::handle delta_x) {
            check(self, beams, beam, "Beam not defined in current model");
            nb::object id = next_id(self, point_supports_line);
            nb::object nm = default_name(name, "Sb", id);
            return store(self, point_supports_line,
                         make(NV_GLOBAL(PointSupportLine), id, nm, beam, x, stiffness_x, y, stiffness_y, z, stiffness_z,
                              rx, stiffness_rx, ry, stiffness_ry, rz, stiffness_rz, default_size, c_sys, c_def,
                              position_x, origin, repeat, delta_x));
        },
        "Creates point supports on a beam; a missing name becomes Sb<id>.");

    bind::def_method(
        cls, "create_line_support_on_beam",
        "(self, beam: Beam, *, name: Optional[str] = None, x: Optional[Union[LineSupportLine.Freedom, "
        "str]] = None, stiffness_x: Optional[float] = None, function_x: Optional[NonLinearFunction] = None, "
        "y: Optional[Union[LineSupportLine.Freedom, str]] = None, stiffness_y: Optional[float] = None, "
        "function_y: Optional[NonLinearFunction] = None, z: Optional[Union[LineSupportLine.Freedom, str]] = None, "
        "stiffness_z: Optional[float] = None, function_z: Optional[NonLinearFunction] = None, "
        "rx: Optional[Union[LineSupportLine.Freedom, str]] = None, stiffness_rx: Optional[float] = None, "
        "function_rx: Optional[NonLinearFunction] = None, ry: Optional[Union[LineSupportLine.Freedom, "
        "str]] = None, stiffness_ry: Optional[float] = None, function_ry: Optional[NonLinearFunction] = None, "
        "rz: Optional[Union[LineSupportLine.Freedom, str]] = None, stiffness_rz: Optional[float] = None, "
        "function_rz: Optional[NonLinearFunction] = None, c_sys: Optional[Union[LineSupportLine.CSys, "
        "str]] = None, extent: Optional[Union[LineSupportLine.Extent, str]] = None, "
        "c_def: Optional[Union[LineSupportLine.CDef, str]] = None, position_x1: Optional[float] = None, "
        "position_x2: Optional[float] = None, origin: Optional[Union[LineSupportLine.Origin, "
        "str]] = None) -> LineSupportLine",
        [](nb::handle self, nb::handle beam, nb::handle name, nb::handle x, nb::handle stiffness_x,
           nb::handle function_x, nb::handle y, nb::handle stiffness_y, nb::handle function_y, nb::handle z,
           nb::handle stiffness_z, nb::handle function_z, nb::handle rx, nb::handle stiffness_rx,
           nb::handle function_rx, nb::handle ry, nb::handle stiffness_ry, nb::handle function_ry, nb::handle rz,
           nb::handle stiffness_rz, nb::handle function_rz, nb::handle c_sys, nb::handle extent, nb::handle c_def,
           nb::handle position_x1, nb::handle position_x2, nb::handle origin) {
            check(self, beams, beam, "Beam not defined in current model");
            check_optional(self, nonlinear_functions, function_x, "function_x is not defined in current model");
            check_optional(self, nonlinear_functions, function_y, "function_y is not defined in current model");
            check_optional(self, nonlinear_functions, function_z, "function_z is not defined in current model");
            check_optional(self, nonlinear_functions, function_rx, "function_rx is not defined in current model");
            check_optional(self, nonlinear_functions, function_ry, "function_ry is not defined in current model");
            check_optional(self, nonlinear_functions, function_rz, "function_rz is not defined in current model");
            nb::object id = next_id(self, line_supports_line);
            nb::object nm = default_name(name, "Slb", id);
            return store(
                self, line_supports_line,
                make(NV_GLOBAL(LineSupportLine), id, nm, beam, x, stiffness_x, function_x, y, stiffness_y, function_y,
                     z, stiffness_z, function_z, rx, stiffness_rx, function_rx, ry, stiffness_ry, function_ry, rz,
                     stiffness_rz, function_rz, c_sys, extent, c_def, position_x1, position_x2, origin));
        },
        "Creates a line support along a beam; a missing name becomes Slb<id>.");

    bind::def_method(
        cls, "create_line_support_on_plane",
        "(self, edge: Union[Tuple[Plane, int], InternalEdge], *, name: Optional[str] = None, "
        "x: Optional[Union[LineSupportSurface.Freedom, str]] = None, stiffness_x: Optional[float] = None, "
        "y: Optional[Union[LineSupportSurface.Freedom, str]] = None, stiffness_y: Optional[float] = None, "
        "z: Optional[Union[LineSupportSurface.Freedom, str]] = None, stiffness_z: Optional[float] = None, "
        "rx: Optional[Union[LineSupportSurface.Freedom, str]] = None, stiffness_rx: Optional[float] = None, "
        "ry: Optional[Union[LineSupportSurface.Freedom, str]] = None, stiffness_ry: Optional[float] = None, "
        "rz: Optional[Union[LineSupportSurface.Freedom, str]] = None, stiffness_rz: Optional[float] = None, "
        "c_sys: Optional[Union[LineSupportSurface.CSys, str]] = None, "
        "c_def: Optional[Union[LineSupportSurface.CDef, str]] = None, position_x1: Optional[float] = None, "
        "position_x2: Optional[float] = None, origin: Optional[Union[LineSupportSurface.Origin, "
        "str]] = None) -> LineSupportSurface",
        [](nb::handle self, nb::handle edge, nb::handle name, nb::handle x, nb::handle stiffness_x, nb::handle y,
           nb::handle stiffness_y, nb::handle z, nb::handle stiffness_z, nb::handle rx, nb::handle stiffness_rx,
           nb::handle ry, nb::handle stiffness_ry, nb::handle rz, nb::handle stiffness_rz, nb::handle c_sys,
           nb::handle c_def, nb::handle position_x1, nb::handle position_x2, nb::handle origin) {
            check_edge(self, edge);
            nb::object id = next_id(self, line_supports_surface);
            nb::object nm = default_name(name, "Sle", id);
            return store(
                self, line_supports_surface,
                make(NV_GLOBAL(LineSupportSurface), id, nm, edge, x, stiffness_x, y, stiffness_y, z, stiffness_z, rx,
                     stiffness_rx, ry, stiffness_ry, rz, stiffness_rz, c_sys, c_def, position_x1, position_x2, origin));
        },
        "Creates a line support on a plate edge; a missing name becomes Sle<id>.");

    bind::def_method(
        cls, "create_surface_support",
        "(self, plane: Plane, subsoil: Subsoil, *, name: Optional[str] = None) -> SurfaceSupportSurface",
        [](nb::handle self, nb::handle plane, nb::handle subsoil, nb::handle name) {
            check(self, planes, plane, "Plane not defined in current model");
            check(self, subsoils, subsoil, "Subsoil not defined in current model");
            nb::object id = next_id(self, surface_supports);
            nb::object nm = default_name(name, "SS", id);
            return store(self, surface_supports, make(NV_GLOBAL(SurfaceSupportSurface), id, nm, plane, subsoil));
        },
        "Beds a plate on a subsoil; a missing name becomes SS<id>.");

    bind::def_method(
        cls, "create_hinge_on_plane",
        "(self, edge: Union[Tuple[Plane, int], InternalEdge], *, name: Optional[str] = None, "
        "ux: Optional[Union[HingeOnPlane.Freedom, str]] = None, stiffness_ux: Optional[float] = None, "
        "uy: Optional[Union[HingeOnPlane.Freedom, str]] = None, stiffness_uy: Optional[float] = None, "
        "uz: Optional[Union[HingeOnPlane.Freedom, str]] = None, stiffness_uz: Optional[float] = None, "
        "fix: Optional[Union[HingeOnPlane.Freedom, str]] = None, stiffness_fix: Optional[float] = None, "
        "c_def: Optional[Union[HingeOnPlane.CDef, str]] = None, position_x1: Optional[float] = None, "
        "position_x2: Optional[float] = None, origin: Optional[Union[HingeOnPlane.Origin, "
        "str]] = None) -> HingeOnPlane",
        [](nb::handle self, nb::handle edge, nb::handle name, nb::handle ux, nb::handle stiffness_ux, nb::handle uy,
           nb::handle stiffness_uy, nb::handle uz, nb::handle stiffness_uz, nb::handle fix, nb::handle stiffness_fix,
           nb::handle c_def, nb::handle position_x1, nb::handle position_x2, nb::handle origin) {
            check_edge(self, edge);
            nb::object id = next_id(self, hinges_on_plane);
            nb::object nm = default_name(name, "L", id);
            return store(self, hinges_on_plane,
                         make(NV_GLOBAL(HingeOnPlane), id, nm, edge, ux, stiffness_ux, uy, stiffness_uy, uz,
                              stiffness_uz, fix, stiffness_fix, c_def, position_x1, position_x2, origin));
        },
        "Creates a hinge along a plate edge; a missing name becomes L<id>.");
}

}  // namespace norvale::tarsis::model
