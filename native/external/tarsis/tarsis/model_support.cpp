// Registry access and reference checks of the Tarsis Model.
//
// A reference check means `obj in self._nodes` (Python containment: identity, then equality).
// Done literally it scans the whole list, which makes building a large model quadratic. Each Model
// therefore gets a side table of identity indexes, one per registry, kept outside the instance so
// that the instance's attributes stay exactly the documented ones. An index answers "where was
// this object last seen"; the answer is used only after checking `registry[pos] is obj`, and the
// index catches up with elements appended since it was last used. Anything else (a foreign object,
// a registry changed from outside, equality-only matches) goes to Python's own containment test.
#include "model_support.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "bindings/errors.h"
#include "model_index.h"

namespace norvale::tarsis::model {

namespace {

PyObject *g_module_dict = nullptr;
std::uint64_t g_globals_epoch = 1;  // bumped whenever the module namespace changes
bool g_watching = false;

int on_module_change(PyDict_WatchEvent, PyObject *, PyObject *, PyObject *) {
    ++g_globals_epoch;
    return 0;
}

/// Side state of one Model instance.
struct ModelState {
    IdentityIndex index[registry_count];
    std::vector<nb::object> layer_keys;  // key under which each indexed layer was found
    nb::object weakref;                  // removes this state when the model goes away
};

// Deliberately never destroyed: they may hold Python references when the interpreter exits.
auto &g_states = *new std::unordered_map<PyObject *, std::unique_ptr<ModelState>>();
auto &g_ref_owner = *new std::unordered_map<PyObject *, PyObject *>();  // weakref -> model
auto &g_dead_refs = *new std::vector<nb::object>();                     // released outside their own callback
PyObject *g_on_death = nullptr;
PyObject *g_last_model = nullptr;
ModelState *g_last_state = nullptr;

/// Weakref callback: the model is going away, so is its side state.
PyObject *forget_model(PyObject *, PyObject *ref) {
    return bind::guarded([&]() -> PyObject * {
        auto owner = g_ref_owner.find(ref);
        if (owner == g_ref_owner.end()) Py_RETURN_NONE;
        PyObject *key = owner->second;
        g_ref_owner.erase(owner);
        if (g_last_model == key) {
            g_last_model = nullptr;
            g_last_state = nullptr;
        }
        auto it = g_states.find(key);
        if (it != g_states.end()) {
            std::unique_ptr<ModelState> dying = std::move(it->second);
            g_states.erase(it);
            // The weakref is the argument of the running callback: keep it until the next check.
            g_dead_refs.push_back(std::move(dying->weakref));
            dying.reset();  // releasing the layer keys may run Python code: the tables are consistent now
        }
        Py_RETURN_NONE;
    });
}

PyMethodDef g_forget_def = {"_forget_model", forget_model, METH_O, nullptr};

/// State of `self`, or nullptr when the instance cannot be weakly referenced (then every check
/// falls back to Python's containment test).
ModelState *state_for(nb::handle self) {
    if (self.ptr() == g_last_model) return g_last_state;
    if (!g_dead_refs.empty()) g_dead_refs.clear();
    auto it = g_states.find(self.ptr());
    if (it == g_states.end()) {
        // Making the weakref may start a collection, whose finalizers may call back into this
        // model and create its state first: look again afterwards.
        nb::object ref = nb::steal(PyWeakref_NewRef(self.ptr(), g_on_death));
        if (!ref.is_valid()) {
            PyErr_Clear();
            return nullptr;
        }
        it = g_states.find(self.ptr());
        if (it == g_states.end()) {
            auto state = std::make_unique<ModelState>();
            g_ref_owner[ref.ptr()] = self.ptr();
            state->weakref = std::move(ref);
            it = g_states.emplace(self.ptr(), std::move(state)).first;
        }
    }
    g_last_model = self.ptr();
    g_last_state = it->second.get();
    return g_last_state;
}

bool sequence_contains(PyObject *container, PyObject *obj) {
    int r = PySequence_Contains(container, obj);
    if (r < 0) throw nb::python_error();
    return r == 1;
}

/// Containment in an exact list registry through its index.
bool list_contains(IdentityIndex &index, PyObject *list, PyObject *obj) {
    Py_ssize_t n = PyList_GET_SIZE(list);
    if (index.container() != list || index.indexed() > static_cast<std::size_t>(n)) index.reset(list);
    std::int64_t pos = index.find(obj);
    if (pos >= 0 && pos < n && PyList_GET_ITEM(list, pos) == obj) return true;
    if (index.indexed() < static_cast<std::size_t>(n)) {
        for (Py_ssize_t i = static_cast<Py_ssize_t>(index.indexed()); i < n; ++i)
            index.insert(PyList_GET_ITEM(list, i), i);
        index.set_indexed(static_cast<std::size_t>(n));
        pos = index.find(obj);
        if (pos >= 0 && pos < n && PyList_GET_ITEM(list, pos) == obj) return true;
    }
    // Not found by identity at a recorded place: let Python decide (equality, or a list that was
    // reordered from outside). A hit means the index no longer describes the list: start over.
    bool found = sequence_contains(list, obj);
    if (found) index.reset(list);
    return found;
}

/// Containment among the values of the layer dict.
bool layer_contains(ModelState &state, PyObject *dict, PyObject *obj) {
    IdentityIndex &index = state.index[layers];
    auto verified = [&](std::int64_t pos) -> bool {
        if (pos < 0 || pos >= static_cast<std::int64_t>(state.layer_keys.size())) return false;
        // A strong reference: the lookup runs the key's __hash__/__eq__, which may call back into
        // the model and rebuild layer_keys.
        nb::object key = state.layer_keys[static_cast<std::size_t>(pos)];
        PyObject *value = nullptr;
        int r = PyDict_GetItemRef(dict, key.ptr(), &value);
        if (r < 0) throw nb::python_error();
        Py_XDECREF(value);
        return r == 1 && value == obj;
    };
    if (verified(index.find(obj))) return true;
    Py_ssize_t n = PyDict_GET_SIZE(dict);
    if (index.container() != dict || index.indexed() != static_cast<std::size_t>(n)) {
        index.reset(dict);
        state.layer_keys.clear();
        Py_ssize_t it = 0;
        PyObject *key, *value;
        while (PyDict_Next(dict, &it, &key, &value)) {
            index.insert(value, static_cast<std::int64_t>(state.layer_keys.size()));
            state.layer_keys.push_back(nb::borrow(key));
        }
        index.set_indexed(static_cast<std::size_t>(n));
        if (verified(index.find(obj))) return true;
    }
    nb::object values = nb::steal(PyObject_CallMethodNoArgs(dict, NV_STR("values")));
    if (!values.is_valid()) throw nb::python_error();
    return sequence_contains(values.ptr(), obj);
}

}  // namespace

void set_module(nb::handle m) {
    g_module_dict = PyModule_GetDict(m.ptr());
    int watcher = PyDict_AddWatcher(on_module_change);
    if (watcher < 0 || PyDict_Watch(watcher, g_module_dict) < 0)
        PyErr_Clear();  // without a watcher every lookup goes to the dict
    else
        g_watching = true;
    if (g_on_death == nullptr) g_on_death = PyCFunction_New(&g_forget_def, nullptr);
}

PyObject *attr_name(Reg r) {
    static PyObject *names[registry::id_count] = {};
    if (names[r] == nullptr) names[r] = PyUnicode_InternFromString(registry::kRows[r].attribute);
    return names[r];
}

nb::object attr(nb::handle obj, PyObject *name) {
    PyObject *v = PyObject_GetAttr(obj.ptr(), name);
    if (v == nullptr) throw nb::python_error();
    return nb::steal(v);
}

nb::object registry(nb::handle self, Reg r) {
    // A Model's registries are plain instance attributes; for the class itself (no subclass that
    // could put a descriptor in the way) read them from the instance dict directly.
    if (Py_TYPE(self.ptr()) == reinterpret_cast<PyTypeObject *>(model_class().ptr())) {
        PyObject *dict = PyObject_GenericGetDict(self.ptr(), nullptr);
        if (dict == nullptr) throw nb::python_error();
        PyObject *value = nullptr;
        int found = PyDict_GetItemRef(dict, attr_name(r), &value);
        Py_DECREF(dict);
        if (found < 0) throw nb::python_error();
        if (found > 0) return nb::steal(value);
    }
    return attr(self, attr_name(r));
}

bool contains(nb::handle self, Reg r, nb::handle obj) {
    nb::object reg = registry(self, r);
    ModelState *state = state_for(self);
    if (r == layers) {
        if (state != nullptr && PyDict_CheckExact(reg.ptr())) return layer_contains(*state, reg.ptr(), obj.ptr());
        nb::object values = nb::steal(PyObject_CallMethodNoArgs(reg.ptr(), NV_STR("values")));
        if (!values.is_valid()) throw nb::python_error();
        return sequence_contains(values.ptr(), obj.ptr());
    }
    if (state != nullptr && PyList_CheckExact(reg.ptr())) return list_contains(state->index[r], reg.ptr(), obj.ptr());
    return sequence_contains(reg.ptr(), obj.ptr());
}

void value_error(const char *message) {
    PyErr_SetString(PyExc_ValueError, message);
    throw nb::python_error();
}

bool truthy(nb::handle obj) {
    if (obj.is_none()) return false;
    int r = PyObject_IsTrue(obj.ptr());
    if (r < 0) throw nb::python_error();
    return r == 1;
}

void check(nb::handle self, Reg r, nb::handle obj, const char *message) {
    if (!contains(self, r, obj)) value_error(message);
}

void check_optional(nb::handle self, Reg r, nb::handle obj, const char *message) {
    if (truthy(obj) && !contains(self, r, obj)) value_error(message);
}

void check_each(nb::handle self, Reg r, nb::handle items, const char *message) {
    nb::object it = nb::steal(PyObject_GetIter(items.ptr()));
    if (!it.is_valid()) throw nb::python_error();
    while (PyObject *item = PyIter_Next(it.ptr())) {
        nb::object held = nb::steal(item);
        if (!contains(self, r, held)) value_error(message);
    }
    if (PyErr_Occurred()) throw nb::python_error();
}

void check_edge(nb::handle self, nb::handle edge) {
    if (PyTuple_Check(edge.ptr())) {
        nb::object plane = nb::steal(PySequence_GetItem(edge.ptr(), 0));
        if (!plane.is_valid()) throw nb::python_error();
        check(self, planes, plane, "Plane not defined in current model");
    } else {
        check(self, internal_edges, edge, "InternalEdge not defined in current model");
    }
}

nb::object next_id(nb::handle self, Reg r) {
    nb::object reg = registry(self, r);
    Py_ssize_t n = PyList_CheckExact(reg.ptr()) ? PyList_GET_SIZE(reg.ptr()) : PyObject_Size(reg.ptr());
    if (n < 0) throw nb::python_error();
    return nb::steal(PyLong_FromSsize_t(n + 1));
}

nb::object default_name(nb::handle name, const char *prefix, nb::handle id) {
    if (truthy(name)) return nb::borrow(name);
    // prefix + str(id); the id is a count, so its text is plain ASCII digits.
    const Py_ssize_t value = PyLong_AsSsize_t(id.ptr());
    if (value < 0 || PyErr_Occurred()) {
        PyErr_Clear();
        PyObject *text = PyUnicode_FromFormat("%s%S", prefix, id.ptr());
        if (text == nullptr) throw nb::python_error();
        return nb::steal(text);
    }
    char buffer[48];
    const std::size_t prefix_size = std::strlen(prefix);
    if (prefix_size > 24) throw std::logic_error("default-name prefix too long");
    std::memcpy(buffer, prefix, prefix_size);
    auto [end, failed] = std::to_chars(buffer + prefix_size, buffer + sizeof(buffer), value);
    if (failed != std::errc()) throw std::logic_error("default-name id too long");
    PyObject *text = PyUnicode_FromKindAndData(PyUnicode_1BYTE_KIND, buffer, end - buffer);  // ASCII
    if (text == nullptr) throw nb::python_error();
    return nb::steal(text);
}

nb::object store(nb::handle self, Reg r, nb::object obj) {
    // Read again, as `self._nodes.append(node)` would after the constructor ran.
    nb::object reg = registry(self, r);
    if (PyList_CheckExact(reg.ptr())) {
        if (PyList_Append(reg.ptr(), obj.ptr()) < 0) throw nb::python_error();
    } else {
        nb::object res = nb::steal(PyObject_CallMethodOneArg(reg.ptr(), NV_STR("append"), obj.ptr()));
        if (!res.is_valid()) throw nb::python_error();
    }
    return obj;
}

PyObject *kwnames(std::initializer_list<const char *> names) {
    PyObject *t = PyTuple_New(static_cast<Py_ssize_t>(names.size()));
    Py_ssize_t i = 0;
    for (const char *n : names) PyTuple_SET_ITEM(t, i++, PyUnicode_InternFromString(n));
    return t;
}

nb::object construct(nb::handle cls, PyObject *const *args, std::size_t nargs, PyObject *kwnames) {
    PyObject *res = PyObject_Vectorcall(cls.ptr(), args, nargs | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames);
    if (res == nullptr) throw nb::python_error();
    return nb::steal(res);
}

nb::object global(GlobalSlot &slot) {
    if (slot.epoch == g_globals_epoch && slot.value != nullptr) return nb::borrow(slot.value);
    nb::object value = global(slot.name);
    if (g_watching) {
        PyObject *in_module = nullptr;
        if (PyDict_GetItemRef(g_module_dict, slot.name, &in_module) > 0) {  // not for builtins
            Py_XSETREF(slot.value, in_module);
            slot.epoch = g_globals_epoch;
        } else {
            PyErr_Clear();
        }
    }
    return value;
}

nb::object global(PyObject *name) {
    PyObject *value = nullptr;
    int r = g_module_dict ? PyDict_GetItemRef(g_module_dict, name, &value) : 0;
    if (r < 0) throw nb::python_error();
    if (r == 1) return nb::steal(value);
    r = PyDict_GetItemRef(PyEval_GetBuiltins(), name, &value);
    if (r < 0) throw nb::python_error();
    if (r == 0) {
        PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
        throw nb::python_error();
    }
    return nb::steal(value);
}

}  // namespace norvale::tarsis::model
