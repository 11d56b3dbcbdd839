// Helpers shared by the Model's create-methods: registry access with identity-indexed
// containment checks, module-global lookup at call time, numbering and default names.
#pragma once

#include <nanobind/nanobind.h>

#include "model.h"
#include "tarsis.h"

namespace norvale::tarsis::model {

namespace nb = nanobind;

/// Registries and setup objects, in the order of kModelAttributeNames.
enum Reg : int {
    layers, cross_sections, general_cross_section_elements, concrete_materials, subsoils,
    nonlinear_functions, orthotropy_objects, selections, nodes, beams, cross_links,
    arbitrary_profile_spans, arbitrary_profiles, hinges_on_beam, hinges_on_plane, sections_on_beam,
    planes, open_slabs, internal_edges, rigid_arms, point_supports, point_supports_line,
    line_supports_line, line_supports_surface, surface_supports, load_cases, load_groups,
    load_combinations, nonlinear_load_combinations, result_classes, point_loads, point_loads_node,
    point_moments_node, line_loads, line_moments_on_beam, line_moments_on_plane,
    line_force_surface_list, surface_loads, thermal_loads, thermal_surface_loads,
    free_surface_loads, free_line_loads, free_point_loads, integration_strips, averaging_strips,
    sections_on_plane, mesh_setup, solver_setup, project_data,
    registry_count = mesh_setup,
};

/// Interned attribute name of a registry ("_nodes", ...).
PyObject *attr_name(Reg r);

/// Interned text, created once per call site.
#define NV_STR(text) ([]() -> PyObject * { static PyObject *s_ = PyUnicode_InternFromString(text); return s_; }())

/// `self.<registry>` (ordinary attribute lookup, as a Python method would do).
nb::object registry(nb::handle self, Reg r);

/// `obj in self.<registry>` (values of the dict for `layers`), answered from the identity index
/// when it can be verified, with Python's own containment test on a miss.
bool contains(nb::handle self, Reg r, nb::handle obj);

/// Raises ValueError(message) unless `obj` is in the registry.
void check(nb::handle self, Reg r, nb::handle obj, const char *message);

/// As check(), but only when `obj` is true by Python's truth test.
void check_optional(nb::handle self, Reg r, nb::handle obj, const char *message);

/// Raises ValueError(message) at the first element of `items` that is not in the registry.
void check_each(nb::handle self, Reg r, nb::handle items, const char *message);

/// Plate-edge reference: a tuple (plane, edge number) or an internal edge.
void check_edge(nb::handle self, nb::handle edge);

[[noreturn]] void value_error(const char *message);

/// Python's truth test.
bool truthy(nb::handle obj);

/// len(self.<registry>) + 1, as a Python int.
nb::object next_id(nb::handle self, Reg r);

/// `name` if it is true, else prefix followed by the id ("B" and 3 give "B3").
nb::object default_name(nb::handle name, const char *prefix, nb::handle id);

/// Appends `obj` to self.<registry> and returns it.
nb::object store(nb::handle self, Reg r, nb::object obj);

/// The module global `name` of norvale.external.tarsis.tarsis, looked up now as a function body
/// would (module namespace, then builtins), so that patching the module attribute takes effect.
nb::object global(PyObject *name);
#define NV_GLOBAL(name) ::norvale::tarsis::model::global(NV_STR(#name))

/// `obj.<name>`.
nb::object attr(nb::handle obj, PyObject *name);

/// A parameter that accepts any object, None included.
inline auto opt(const char *name) { return nb::arg(name).none() = nb::none(); }
inline auto req(const char *name) { return nb::arg(name).none(); }

// The create-methods, by area; each adds its methods to the class namespace.
void add_material_methods(norvale::bind::ClassBuilder &cls);   // layers, materials, subsoils, selections
void add_section_methods(norvale::bind::ClassBuilder &cls);    // cross-sections and profiles
void add_geometry_methods(norvale::bind::ClassBuilder &cls);   // nodes, members and surfaces
void add_support_methods(norvale::bind::ClassBuilder &cls);    // supports and plane hinges
void add_load_case_methods(norvale::bind::ClassBuilder &cls);  // load groups, cases, combinations
void add_load_methods(norvale::bind::ClassBuilder &cls);       // loads

/// Prepares call-time global lookup in the module's namespace (called by init_model).
void set_module(nb::handle m);

} // namespace norvale::tarsis::model
