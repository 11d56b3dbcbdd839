#include "direct_init.h"

namespace norvale::tarsis::model {

namespace {

PyObject *interned(const char *text) { return PyUnicode_InternFromString(text); }

// The module namespace __init__ runs in: any change to it (a patched or shadowing global) makes
// the next call check the class again.
unsigned long long g_globals_changes = 0;

int on_globals_change(PyDict_WatchEvent, PyObject *, PyObject *, PyObject *) {
    ++g_globals_changes;
    return 0;
}

int globals_watcher() {
    static int id = [] {
        int w = PyDict_AddWatcher(on_globals_change);
        if (w < 0) PyErr_Clear();
        return w;
    }();
    return id;
}

}  // namespace

DirectInit::DirectInit(PyObject *cls, std::initializer_list<std::pair<const char *, Accept>> attributes) {
    for (const auto &[name, accept] : attributes) {
        names_.push_back(interned(name));
        accept_.push_back(accept);
    }
    if (cls == nullptr || !PyType_Check(cls)) return;  // never matches: every call is an ordinary one
    auto *type = reinterpret_cast<PyTypeObject *>(cls);
    PyObject *init = _PyType_Lookup(type, interned("__init__"));
    if (init == nullptr || !PyFunction_Check(init)) return;
    type_ = reinterpret_cast<PyTypeObject *>(Py_NewRef(cls));
    init_ = Py_NewRef(init);
    code_ = Py_NewRef(PyFunction_GET_CODE(init));
}

PyObject *DirectInit::make(PyObject *cls, PyObject *const *args, std::size_t nargs) {
    if (cls != reinterpret_cast<PyObject *>(type_) || type_ == nullptr || nargs != accept_.size()) return nullptr;
    for (std::size_t i = 0; i < nargs; ++i) {
        if (accept_[i] == text && !PyUnicode_CheckExact(args[i])) return nullptr;
        if (accept_[i] == number && !PyFloat_CheckExact(args[i]) && !PyLong_CheckExact(args[i])) return nullptr;
    }
    unsigned int tag = type_->tp_version_tag;
    if (tag == 0 || tag != verified_ || g_globals_changes != verified_changes_) {
        if (tag != 0 && tag == refused_ && g_globals_changes == refused_changes_) return nullptr;
        if (!verify()) return nullptr;
    }
    if (PyFunction_GET_CODE(init_) != code_) return nullptr;  // __code__ replaced; the class did not change

    PyObject *obj = type_->tp_alloc(type_, 0);  // what object.__new__ does for this class
    if (obj == nullptr) return nullptr;
    for (std::size_t i = 0; i < nargs; ++i) {
        if (PyObject_GenericSetAttr(obj, names_[i], args[i]) < 0) {
            Py_DECREF(obj);
            return nullptr;
        }
    }
    return obj;
}

bool DirectInit::verify() {
    verified_ = 0;
    PyTypeObject *type = type_;
    bool ok = Py_IS_TYPE(reinterpret_cast<PyObject *>(type), &PyType_Type) &&
              type->tp_new == PyBaseObject_Type.tp_new && type->tp_alloc == PyType_GenericAlloc &&
              type->tp_setattro == PyObject_GenericSetAttr && type->tp_dictoffset != 0 &&
              _PyType_Lookup(type, interned("__init__")) == init_ &&  // also gives the class a version tag
              PyFunction_GET_CODE(init_) == code_;
    // The builtins __init__ uses for its checks are not shadowed in its module, whose changes are
    // watched from now on.
    PyObject *globals = PyFunction_GET_GLOBALS(init_);
    for (const char *builtin : {"type", "float", "int"}) {
        if (!ok) break;
        PyObject *found = nullptr;
        ok = PyDict_GetItemStringRef(globals, builtin, &found) == 0;
        Py_XDECREF(found);
    }
    ok = ok && globals_watcher() >= 0 && PyDict_Watch(globals_watcher(), globals) == 0;
    const unsigned long long changes = g_globals_changes;
    // Each attribute goes to the instance dict: nothing on the class may take the assignment.
    for (std::size_t i = 0; ok && i < names_.size(); ++i) {
        PyObject *on_class = _PyType_Lookup(type, names_[i]);
        ok = on_class == nullptr || Py_TYPE(on_class)->tp_descr_set == nullptr;
    }
    unsigned int tag = type->tp_version_tag;
    ok = ok && tag != 0 && probe(false) && probe(true) && type->tp_version_tag == tag;
    if (PyErr_Occurred()) PyErr_Clear();
    ok = ok && g_globals_changes == changes;
    if (ok) {
        verified_ = tag;
        verified_changes_ = changes;
    } else {
        refused_ = type->tp_version_tag;
        refused_changes_ = g_globals_changes;
    }
    return ok;
}

bool DirectInit::probe(bool numbers_as_ints) {
    std::vector<PyObject *> args;
    bool ok = true;
    for (std::size_t i = 0; i < accept_.size(); ++i) {
        PyObject *value;
        if (accept_[i] == any)
            value = PyObject_CallNoArgs(reinterpret_cast<PyObject *>(&PyBaseObject_Type));
        else if (accept_[i] == text)
            value = PyUnicode_FromFormat("probe %zu", i);
        else if (numbers_as_ints)
            value = PyLong_FromLongLong((1LL << 40) + static_cast<long long>(i));  // a fresh int object
        else
            value = PyFloat_FromDouble(0.5 + static_cast<double>(i));
        ok = ok && value != nullptr;
        args.push_back(value);
    }
    PyObject *obj = ok ? PyObject_Vectorcall(reinterpret_cast<PyObject *>(type_), args.data(), args.size(), nullptr)
                       : nullptr;
    ok = obj != nullptr && Py_IS_TYPE(obj, type_);
    // Exactly the arguments, as the same objects, under their names, in this order.
    PyObject *dict = ok ? PyObject_GenericGetDict(obj, nullptr) : nullptr;
    ok = dict != nullptr && PyDict_GET_SIZE(dict) == static_cast<Py_ssize_t>(names_.size());
    Py_ssize_t pos = 0, i = 0;
    PyObject *key, *value;
    while (ok && PyDict_Next(dict, &pos, &key, &value)) {
        ok = key == names_[i] && value == args[i];
        ++i;
    }
    Py_XDECREF(dict);
    Py_XDECREF(obj);
    for (PyObject *arg : args) Py_XDECREF(arg);
    return ok;
}

}  // namespace norvale::tarsis::model
