// Model: nodes, beams and what hangs on them, plates and what lies in them.
#include "model_support.h"
#include "direct_init.h"

namespace norvale::tarsis::model {

namespace {

nb::object number_op(PyObject *result) {
    if (result == nullptr) throw nb::python_error();
    return nb::steal(result);
}

nb::object add(nb::handle a, nb::handle b) { return number_op(PyNumber_Add(a.ptr(), b.ptr())); }

/// (a.x + b.x, a.y + b.y, a.z + b.z)
nb::object offset(nb::handle a, nb::handle b) {
    nb::object x = add(attr(a, NV_STR("x")), attr(b, NV_STR("x")));
    nb::object y = add(attr(a, NV_STR("y")), attr(b, NV_STR("y")));
    nb::object z = add(attr(a, NV_STR("z")), attr(b, NV_STR("z")));
    return nb::make_tuple(x, y, z);
}

/// A missing or empty list of internal nodes becomes a new empty list.
nb::object internal_nodes_or_empty(nb::handle internal_nodes) {
    if (truthy(internal_nodes)) return nb::borrow(internal_nodes);
    return nb::steal(PyList_New(0));
}

/// Removes `node` from self._nodes again (the last occurrence of that very object), keeping
/// whatever error is being raised.
void drop_vertex_node(nb::handle self, nb::handle node) {
    PyObject *type, *value, *trace;
    PyErr_Fetch(&type, &value, &trace);
    PyObject *list = PyObject_GetAttr(self.ptr(), attr_name(nodes));
    if (list != nullptr) {
        Py_ssize_t n = PySequence_Size(list);
        for (Py_ssize_t i = n - 1; i >= 0; --i) {
            PyObject *item = PySequence_GetItem(list, i);
            bool same = item == node.ptr();
            Py_XDECREF(item);
            if (same) {
                PySequence_DelItem(list, i);
                break;
            }
        }
        Py_DECREF(list);
    }
    PyErr_Clear();
    PyErr_Restore(type, value, trace);
}

}  // namespace

// Nodes are the most numerous objects of a model; the kit's Node only stores its arguments.
// Made when the methods are added (at import), kept for the life of the process.
DirectInit *g_node_init = nullptr;

void add_geometry_methods(nb::handle cls) {
    g_node_init = new DirectInit(
        global(NV_STR("Node")).ptr(),
        {{"_object_id", DirectInit::any}, {"_name", DirectInit::text}, {"_x", DirectInit::number},
         {"_y", DirectInit::number}, {"_z", DirectInit::number}});
    bind::def_fast(
        cls, "create_node",
        [](nb::handle self, nb::handle name, nb::handle x, nb::handle y, nb::handle z) {
            nb::object id = next_id(self, nodes);
            nb::object node_class = NV_GLOBAL(Node);
            PyObject *args[] = {id.ptr(), name.ptr(), x.ptr(), y.ptr(), z.ptr()};
            if (PyObject *node = g_node_init->make(node_class.ptr(), args, 5)) return store(self, nodes, nb::steal(node));
            if (PyErr_Occurred()) throw nb::python_error();
            return store(self, nodes, make(node_class, id, name, x, y, z));
        },
        bind::required({"name", "x", "y", "z"}), "Creates a node at (x, y, z), in metres.");

    bind::def_fast(
        cls, "create_beam",
        [](nb::handle self, nb::handle begin_node, nb::handle end_node, nb::handle cross_section, nb::handle name,
           nb::handle ez, nb::handle lcs_rotation, nb::handle layer) {
            check(self, nodes, begin_node, "Begin node not defined in current model");
            check(self, nodes, end_node, "End node not defined in current model");
            check(self, cross_sections, cross_section, "Cross-section not defined in current model");
            check_optional(self, layers, layer, "Layer not defined in current model");
            nb::object id = next_id(self, beams);
            nb::object nm = default_name(name, "B", id);
            return store(self, beams,
                         make(NV_GLOBAL(Beam), id, nm, begin_node, end_node, cross_section, ez, lcs_rotation, layer));
        },
        bind::params({bind::required({"begin_node", "end_node", "cross_section"}), bind::kw_optional({"name", "ez",
            "lcs_rotation", "layer"})}),
        "Creates a beam between two nodes; a missing name becomes B<id>.");

    bind::def_fast(
        cls, "create_cross_link",
        [](nb::handle self, nb::handle beam_1, nb::handle beam_2, nb::handle name) {
            check(self, beams, beam_1, "Beam 1 not defined in current model");
            check(self, beams, beam_2, "Beam 2 not defined in current model");
            nb::object id = next_id(self, cross_links);
            nb::object nm = default_name(name, "CL", id);
            return store(self, cross_links, make(NV_GLOBAL(CrossLink), id, nm, beam_1, beam_2));
        },
        bind::params({bind::required({"beam_1", "beam_2"}), bind::kw_optional({"name"})}),
        "Links two beams; a missing name becomes CL<id>.");

    // Defaults evaluated once, here: a hinge releases only the rotation about local y.
    nb::object freedom = scope().global("HingeOnBeam").attr("Freedom");
    nb::object rigid = freedom.attr("RIGID"), free = freedom.attr("FREE");
    nb::object zero = nb::int_(0);
    bind::def_fast(
        cls, "create_hinge_on_beam",
        [](nb::handle self, nb::handle beam, nb::handle position, nb::handle name, nb::handle freedom_ux,
           nb::handle freedom_uy, nb::handle freedom_uz, nb::handle freedom_fix, nb::handle freedom_fiy,
           nb::handle freedom_fiz, nb::handle stiffness_ux, nb::handle stiffness_uy, nb::handle stiffness_uz,
           nb::handle stiffness_fix, nb::handle stiffness_fiy, nb::handle stiffness_fiz) {
            check(self, beams, beam, "Beam not defined in current model");
            nb::object id = next_id(self, hinges_on_beam);
            nb::object nm = default_name(name, "H", id);
            return store(self, hinges_on_beam,
                         make(NV_GLOBAL(HingeOnBeam), id, nm, beam, position, freedom_ux, freedom_uy, freedom_uz,
                              freedom_fix, freedom_fiy, freedom_fiz, stiffness_ux, stiffness_uy, stiffness_uz,
                              stiffness_fix, stiffness_fiy, stiffness_fiz));
        },
        bind::params({bind::required({"beam", "position"}), bind::kw_optional({"name"}),
                      {bind::kw("freedom_ux", rigid, "HingeOnBeam.Freedom.RIGID"),
                       bind::kw("freedom_uy", rigid, "HingeOnBeam.Freedom.RIGID"),
                       bind::kw("freedom_uz", rigid, "HingeOnBeam.Freedom.RIGID"),
                       bind::kw("freedom_fix", rigid, "HingeOnBeam.Freedom.RIGID"),
                       bind::kw("freedom_fiy", free, "HingeOnBeam.Freedom.FREE"),
                       bind::kw("freedom_fiz", rigid, "HingeOnBeam.Freedom.RIGID"), bind::kw("stiffness_ux", zero),
                       bind::kw("stiffness_uy", zero), bind::kw("stiffness_uz", zero), bind::kw("stiffness_fix", zero),
                       bind::kw("stiffness_fiy", zero), bind::kw("stiffness_fiz", zero)}}),
        "Creates a hinge on a beam; a missing name becomes H<id>.");

    bind::def_fast(
        cls, "create_section_on_beam",
        [](nb::handle self, nb::handle name, nb::handle beam, nb::handle c_def, nb::handle position_x,
           nb::handle origin, nb::handle repeat, nb::handle delta_x) {
            check(self, beams, beam, "Beam not defined in current model");
            nb::object id = next_id(self, sections_on_beam);
            return store(self, sections_on_beam,
                         make(NV_GLOBAL(SectionOnBeam), id, name, beam, c_def, position_x, origin, repeat, delta_x));
        },
        bind::required({"name", "beam", "c_def", "position_x", "origin", "repeat", "delta_x"}),
        "Creates result sections on a beam.");

    bind::def_fast(
        cls, "create_section_on_plane",
        [](nb::handle self, nb::handle point_1, nb::handle point_2, nb::handle name, nb::handle draw,
           nb::handle direction_of_cut) {
            nb::object id = next_id(self, sections_on_plane);
            nb::object nm = default_name(name, "SE", id);
            return store(self, sections_on_plane,
                         make(NV_GLOBAL(SectionOnPlane), id, nm, point_1, point_2, draw, direction_of_cut));
        },
        bind::params({bind::required({"point_1", "point_2"}), bind::kw_required({"name"}), bind::kw_optional({"draw",
            "direction_of_cut"})}),
        "Creates a result section across plates; a missing name becomes SE<id>.");

    bind::def_fast(
        cls, "create_rigid_arm",
        [](nb::handle self, nb::handle name, nb::handle master_node, nb::handle slave_node, nb::handle hinge_on_master,
           nb::handle hinge_on_slave) {
            check(self, nodes, master_node, "Master node not defined in current model");
            check(self, nodes, slave_node, "Slave node not defined in current model");
            nb::object id = next_id(self, rigid_arms);
            return store(self, rigid_arms,
                         make(NV_GLOBAL(RigidArm), id, name, master_node, slave_node, hinge_on_master, hinge_on_slave));
        },
        bind::required({"name", "master_node", "slave_node", "hinge_on_master", "hinge_on_slave"}),
        "Creates a rigid arm between two nodes.");

    bind::def_fast(
        cls, "create_plane",
        [](nb::handle self, nb::handle corner_nodes, nb::handle thickness, nb::handle material, nb::handle name,
           nb::handle plane_type, nb::handle layer, nb::handle internal_nodes_in, nb::handle swap_orientation,
           nb::handle lcs_rotation, nb::handle fem_model, nb::handle orthotropy) {
            nb::object internal_nodes = internal_nodes_or_empty(internal_nodes_in);
            check_each(self, nodes, corner_nodes, "One or more corner nodes not defined in current model");
            check_each(self, nodes, internal_nodes, "One or more internal nodes not defined in current model");
            check_optional(self, layers, layer, "Layer not defined in current model");
            check_optional(self, orthotropy_objects, orthotropy, "Orthotropy not defined in current model");
            nb::object id = next_id(self, planes);
            nb::object nm = default_name(name, "S", id);
            return store(self, planes,
                         make_kw(NV_GLOBAL(Plane),
                                 NV_KWNAMES("plane_type", "corner_nodes", "layer", "internal_nodes", "swap_orientation",
                                            "lcs_rotation", "fem_model", "orthotropy"),
                                 id, nm, thickness, material, plane_type, corner_nodes, layer, internal_nodes,
                                 swap_orientation, lcs_rotation, fem_model, orthotropy));
        },
        bind::params({bind::required({"corner_nodes", "thickness"}), bind::kw_required({"material"}),
            bind::kw_optional({"name", "plane_type", "layer", "internal_nodes", "swap_orientation", "lcs_rotation",
            "fem_model", "orthotropy"})}),
        "Creates a plate bounded by corner nodes; a missing name becomes S<id>.");

    bind::def_fast(
        cls, "create_circular_plane",
        [](nb::handle self, nb::handle center_node, nb::handle diameter, nb::handle thickness, nb::handle material,
           nb::handle axis, nb::handle name, nb::handle plane_type, nb::handle layer, nb::handle internal_nodes_in,
           nb::handle swap_orientation, nb::handle lcs_rotation, nb::handle fem_model, nb::handle orthotropy) {
            nb::object internal_nodes = internal_nodes_or_empty(internal_nodes_in);
            check(self, nodes, center_node, "Center node not defined in current model");
            check_each(self, nodes, internal_nodes, "One or more internal nodes not defined in current model");
            check_optional(self, layers, layer, "Layer not defined in current model");
            check_optional(self, orthotropy_objects, orthotropy, "Orthotropy not defined in current model");

            // The plate's normal, a rim direction square to it, and the radius vector.
            nb::object vector = NV_GLOBAL(Vector);
            nb::object a;
            if (axis.is_none()) {
                a = vector(0, 0, 1);
            } else if (PyTuple_Check(axis.ptr())) {
                nb::object items = number_op(PySequence_Tuple(axis.ptr()));  // Vector(*axis)
                a = number_op(PyObject_Call(vector.ptr(), items.ptr(), nullptr));
            } else {
                a = nb::borrow(axis);
            }
            nb::object d = a.attr("cross")(vector(1, 0, 0));
            // `d == Vector(0, 0, 0)` always asks __eq__ (no shortcut for the same object).
            if (truthy(number_op(PyObject_RichCompare(d.ptr(), vector(0, 0, 0).ptr(), Py_EQ)))) d = vector(0, 1, 0);
            nb::object unit = d.attr("normalize")();
            nb::object half = number_op(PyNumber_TrueDivide(diameter.ptr(), nb::int_(2).ptr()));
            nb::object r = number_op(PyNumber_Multiply(unit.ptr(), half.ptr()));
            nb::object axis_point = offset(center_node, a);
            nb::object v = offset(center_node, r);

            nb::object vertex_name =
                number_op(PyUnicode_FromFormat("%S_vertex", attr(center_node, NV_STR("name")).ptr()));
            nb::object vertex = nb::steal(PyObject_CallMethodObjArgs(
                self.ptr(), NV_STR("create_node"), vertex_name.ptr(), PyTuple_GET_ITEM(v.ptr(), 0),
                PyTuple_GET_ITEM(v.ptr(), 1), PyTuple_GET_ITEM(v.ptr(), 2), nullptr));
            if (!vertex.is_valid()) throw nb::python_error();
            // From here on a failure takes the vertex node out again: a failed call changes nothing.
            try {
                nb::object id = next_id(self, planes);
                nb::object nm = default_name(name, "S", id);
                return store(
                    self, planes,
                    make_kw(NV_GLOBAL(Plane),
                            NV_KWNAMES("plane_type", "layer", "center_node", "vertex_node", "axis", "internal_nodes",
                                       "swap_orientation", "lcs_rotation", "fem_model", "orthotropy"),
                            id, nm, thickness, material, plane_type, layer, center_node, vertex, axis_point,
                            internal_nodes, swap_orientation, lcs_rotation, fem_model, orthotropy));
            } catch (nb::python_error &e) {
                e.restore();
                drop_vertex_node(self, vertex);
                throw nb::python_error();
            }
        },
        bind::params({bind::required({"center_node", "diameter", "thickness"}), bind::kw_required({"material"}),
            bind::kw_optional({"axis", "name", "plane_type", "layer", "internal_nodes", "swap_orientation",
            "lcs_rotation", "fem_model", "orthotropy"})}),
        "Creates a circular plate around a centre node, adding its vertex node to the nodes; a missing name\n"
        "becomes S<id>.");

    bind::def_fast(
        cls, "create_open_slab",
        [](nb::handle self, nb::handle name, nb::handle plane, nb::handle corner_nodes) {
            check(self, planes, plane, "Plane not defined in current model");
            check_each(self, nodes, corner_nodes, "One or more corner nodes not defined in current model");
            nb::object id = next_id(self, open_slabs);
            return store(self, open_slabs, make(NV_GLOBAL(OpenSlab), id, name, plane, corner_nodes));
        },
        bind::required({"name", "plane", "corner_nodes"}), "Creates an opening in a plate.");

    bind::def_fast(
        cls, "create_internal_edge",
        [](nb::handle self, nb::handle plane, nb::handle node_1, nb::handle node_2, nb::handle name) {
            check(self, planes, plane, "Plane not defined in current model");
            check(self, nodes, node_1, "Node 1 not defined in current model");
            check(self, nodes, node_2, "Node 2 not defined in current model");
            nb::object id = next_id(self, internal_edges);
            nb::object nm = default_name(name, "ES", id);
            return store(self, internal_edges, make(NV_GLOBAL(InternalEdge), id, nm, plane, node_1, node_2));
        },
        bind::params({bind::required({"plane", "node_1", "node_2"}), bind::kw_optional({"name"})}),
        "Creates an edge inside a plate; a missing name becomes ES<id>.");

    bind::def_fast(
        cls, "create_integration_strip",
        [](nb::handle self, nb::handle plane, nb::handle point_1, nb::handle point_2, nb::handle width) {
            check(self, planes, plane, "Plane not defined in current model");
            nb::object id = next_id(self, integration_strips);
            nb::object nm = default_name(nb::none(), "CM", id);
            return store(self, integration_strips,
                         make(NV_GLOBAL(IntegrationStrip), id, nm, plane, point_1, point_2, width));
        },
        bind::required({"plane", "point_1", "point_2", "width"}),
        "Creates a strip along which results are integrated, named CM<id>.");

    bind::def_fast(
        cls, "create_averaging_strip",
        [](nb::handle self, nb::handle plane, nb::handle strip_type, nb::handle point_1, nb::handle width,
           nb::handle length, nb::handle angle, nb::handle direction, nb::handle name) {
            check(self, planes, plane, "Plane not defined in current model");
            nb::object id = next_id(self, averaging_strips);
            nb::object nm = default_name(name, "RS", id);
            return store(
                self, averaging_strips,
                make(NV_GLOBAL(AveragingStrip), id, nm, plane, strip_type, point_1, width, length, angle, direction));
        },
        bind::params({bind::required({"plane"}), bind::kw_required({"strip_type", "point_1", "width", "length",
            "angle", "direction"}), bind::kw_optional({"name"})}),
        "Creates a strip over which peak results are averaged; a missing name\n"
        "becomes RS<id>.");
}

}  // namespace norvale::tarsis::model
