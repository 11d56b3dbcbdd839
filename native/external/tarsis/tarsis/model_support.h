// Helpers shared by the Model's create-methods: registry access with identity-indexed
// containment checks, module-global lookup at call time, numbering and default names.
#pragma once

#include <nanobind/nanobind.h>

#include <cstdint>
#include <initializer_list>

#include "bindings/pyclass.h"
#include "model.h"
#include "registries.h"
#include "tarsis.h"

namespace norvale::tarsis::model {

namespace nb = nanobind;

/// Registries and setup objects (registries.h), in the order the constructor creates them.
using Reg = registry::Id;
using enum registry::Id;
/// The registries proper (the setup objects follow them).
inline constexpr int registry_count = registry::mesh_setup;

/// Interned attribute name of a registry ("_nodes", ...).
PyObject *attr_name(Reg r);

// The call-site caches below are constant-initialised statics filled on first use under the
// GIL: no C++ static guard, which a thread could wait on with the GIL held (bindings/lazy.h).

/// Interned text, created once per call site.
#define NV_STR(text)                                            \
    ([]() -> PyObject * {                                       \
        static PyObject *s_ = nullptr;                          \
        if (s_ == nullptr) s_ = PyUnicode_InternFromString(text); \
        return s_;                                              \
    }())

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

/// One call site's memory of a module global: valid until the module namespace next changes
/// (a dict watcher on the module dict tells), so patching still takes effect at once.
struct GlobalSlot {
    PyObject *name = nullptr;
    PyObject *value = nullptr;  // strong
    std::uint64_t epoch = 0;
};
nb::object global(GlobalSlot &slot);
#define NV_GLOBAL(ident)                                                                    \
    ::norvale::tarsis::model::global([]() -> ::norvale::tarsis::model::GlobalSlot & {      \
        static ::norvale::tarsis::model::GlobalSlot s_;                                    \
        if (s_.name == nullptr) s_.name = PyUnicode_InternFromString(#ident);               \
        return s_;                                                                         \
    }())

/// `cls(*args, **kwargs)`: `nargs` positional arguments, then one per name of `kwnames`; `args` has
/// one free slot before it (PY_VECTORCALL_ARGUMENTS_OFFSET).
nb::object construct(nb::handle cls, PyObject *const *args, std::size_t nargs, PyObject *kwnames);

inline PyObject *ptr_of(nb::handle h) { return h.ptr(); }

/// `cls(args...)`, positional arguments only.
template <typename... Args>
nb::object make(nb::handle cls, const Args &...args) {
    PyObject *argv[sizeof...(Args) + 1] = {nullptr, ptr_of(args)...};
    return construct(cls, argv + 1, sizeof...(Args), nullptr);
}

/// `cls(args...)` where the last len(kwnames) arguments go by the keywords in `kwnames`.
template <typename... Args>
nb::object make_kw(nb::handle cls, PyObject *kwnames, const Args &...args) {
    PyObject *argv[sizeof...(Args) + 1] = {nullptr, ptr_of(args)...};
    return construct(cls, argv + 1, sizeof...(Args) - static_cast<std::size_t>(PyTuple_GET_SIZE(kwnames)), kwnames);
}

/// A tuple of interned keyword names, built once per call site.
PyObject *kwnames(std::initializer_list<const char *> names);
#define NV_KWNAMES(...)                                                         \
    ([]() -> PyObject * {                                                       \
        static PyObject *t_ = nullptr;                                          \
        if (t_ == nullptr) t_ = ::norvale::tarsis::model::kwnames({__VA_ARGS__}); \
        return t_;                                                              \
    }())

/// `obj.<name>`.
nb::object attr(nb::handle obj, PyObject *name);

namespace bind = norvale::bind;

// The create-methods by area; each adds its methods to the built Model class.
void add_material_methods(nb::handle cls);   // layers, materials, subsoils, selections
void add_section_methods(nb::handle cls);    // cross-sections and profiles
void add_geometry_methods(nb::handle cls);   // nodes, members and surfaces
void add_support_methods(nb::handle cls);    // supports and plane hinges
void add_load_case_methods(nb::handle cls);  // load groups, cases, combinations
void add_load_methods(nb::handle cls);       // loads

/// Prepares call-time global lookup in the module's namespace (called by init_model).
void set_module(nb::handle m);

}  // namespace norvale::tarsis::model
