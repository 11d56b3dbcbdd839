#include "bindings/fastmethod.h"

#include <cstring>

namespace norvale::bind {

namespace {

std::vector<Param> group(std::initializer_list<const char *> names, bool keyword_only, bool none_default) {
    std::vector<Param> out;
    for (const char *n : names)
        out.push_back(none_default ? Param{n, keyword_only, true, nb::none()} : Param{n, keyword_only});
    return out;
}

}  // namespace

std::vector<Param> required(std::initializer_list<const char *> names) { return group(names, false, false); }
std::vector<Param> optional(std::initializer_list<const char *> names) { return group(names, false, true); }
std::vector<Param> kw_required(std::initializer_list<const char *> names) { return group(names, true, false); }
std::vector<Param> kw_optional(std::initializer_list<const char *> names) { return group(names, true, true); }

std::vector<Param> params(std::initializer_list<std::vector<Param>> groups) {
    std::vector<Param> out;
    for (const auto &g : groups) out.insert(out.end(), g.begin(), g.end());
    return out;
}

Signature::Signature(std::string qualname, std::vector<Param> params)
    : qualname_(std::move(qualname)), params_(std::move(params)) {
    for (const Param &p : params_) {
        names_.push_back(nb::steal(PyUnicode_InternFromString(p.name)));
        if (!p.keyword_only) ++positional_;
    }
}

nb::object Signature::to_inspect() const {
    nb::module_ inspect = nb::module_::import_("inspect");
    nb::object parameter = inspect.attr("Parameter");
    nb::object empty = parameter.attr("empty");
    nb::list parameters;
    if (leading_ != Leading::None)
        parameters.append(parameter(leading_ == Leading::Cls ? "cls" : "self", parameter.attr("POSITIONAL_OR_KEYWORD")));
    for (const Param &p : params_) {
        nb::object kind = parameter.attr(p.keyword_only ? "KEYWORD_ONLY" : "POSITIONAL_OR_KEYWORD");
        parameters.append(parameter(p.name, kind, nb::arg("default") = p.has_default ? p.default_value : empty));
    }
    return inspect.attr("Signature")(parameters);
}

nb::object Signature::stub_code(const char *name) const {
    std::string source = std::string("def ") + name + "(";
    source += leading_ == Leading::Cls ? "cls" : leading_ == Leading::Self ? "self" : "";
    bool star = false, first = leading_ == Leading::None;
    for (const Param &p : params_) {
        if (!first) source += ", ";
        first = false;
        if (p.keyword_only && !star) {
            source += "*, ";
            star = true;
        }
        source += p.name;
        if (p.has_default) source += "=None";
    }
    source += "):\n    pass\n";
    nb::dict ns;
    nb::object done = nb::steal(PyRun_String(source.c_str(), Py_file_input, ns.ptr(), ns.ptr()));
    if (!done.is_valid()) throw nb::python_error();
    nb::object code = ns[name].attr("__code__");
    return code.attr("replace")(nb::arg("co_qualname") = nb::str(qualname_.c_str()),
                                nb::arg("co_filename") = nb::str("<native>"));
}

nb::object Signature::defaults() const {
    nb::list values;
    for (const Param &p : params_)
        if (!p.keyword_only && p.has_default) values.append(p.default_value);
    if (values.size() == 0) return nb::none();
    return nb::tuple(values);
}

nb::object Signature::kwdefaults() const {
    nb::dict values;
    for (const Param &p : params_)
        if (p.keyword_only && p.has_default) values[p.name] = p.default_value;
    if (values.size() == 0) return nb::none();
    return values;
}

namespace {

/// "'a'", "'a' and 'b'", "'a', 'b', and 'c'": how Python lists missing arguments.
std::string name_list(const std::vector<const char *> &names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
        out += "'";
        out += names[i];
        out += "'";
    }
    return out;
}

}  // namespace

void Signature::unexpected_keyword(PyObject *key) const {
    // With the interpreter's "Did you mean" among the parameter names (self or cls included).
    nb::object suggestion;
    if (PyUnicode_Check(key)) {
        PyObject *module = PyImport_ImportModule("_suggestions");
        if (module != nullptr) {
            nb::object held = nb::steal(module);
            nb::list candidates;
            if (leading_ != Leading::None) candidates.append(nb::str(leading_ == Leading::Cls ? "cls" : "self"));
            for (const nb::object &name : names_) candidates.append(name);
            PyObject *found = PyObject_CallMethod(module, "_generate_suggestions", "OO", candidates.ptr(), key);
            if (found != nullptr && PyUnicode_Check(found)) suggestion = nb::steal(found);
            else Py_XDECREF(found);
        }
        PyErr_Clear();
    }
    if (suggestion.is_valid())
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'. Did you mean '%S'?",
                     qualname_.c_str(), key, suggestion.ptr());
    else
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", qualname_.c_str(), key);
}

bool Signature::parse(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames, PyObject **out,
                      bool self_missing) const {
    nargs = PyVectorcall_NARGS(nargs);
    const std::size_t n = params_.size();
    const std::size_t given = static_cast<std::size_t>(nargs);
    // In the interpreter's order: positional arguments, then keywords (an unknown or repeated one
    // is reported first), then too many positional arguments, then missing ones.
    for (std::size_t i = 0; i < n; ++i) out[i] = i < given && i < positional_ ? args[i] : nullptr;
    if (kwnames != nullptr) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            PyObject *key = PyTuple_GET_ITEM(kwnames, k);
            std::size_t i = 0;
            for (; i < n; ++i)
                if (names_[i].ptr() == key) break;
            if (i == n) {  // not interned: compare the text
                for (i = 0; i < n; ++i)
                    if (PyUnicode_Check(key) && PyUnicode_Compare(names_[i].ptr(), key) == 0) break;
            }
            if (i == n) {
                const char *lead = leading_ == Leading::Self ? "self" : leading_ == Leading::Cls ? "cls" : nullptr;
                if (lead != nullptr && !self_missing && PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, lead) == 0) {
                    PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", qualname_.c_str(), lead);
                    return false;
                }
                unexpected_keyword(key);
                return false;
            }
            if (out[i] != nullptr) {
                PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", qualname_.c_str(),
                             params_[i].name);
                return false;
            }
            out[i] = args[nargs + k];
        }
    }
    if (given > positional_) {
        // Python counts self and cls among the positional arguments, but not for static methods.
        const std::size_t lead = leading_ == Leading::None ? 0 : 1;
        std::size_t required = 0, kwonly_given = 0;
        for (std::size_t i = 0; i < positional_; ++i) required += params_[i].has_default ? 0 : 1;
        for (std::size_t i = positional_; i < n; ++i) kwonly_given += out[i] != nullptr ? 1 : 0;
        const std::size_t total = given + lead;
        std::string takes = required == positional_ ? std::to_string(positional_ + lead)
                                                    : "from " + std::to_string(required + lead) + " to " +
                                                          std::to_string(positional_ + lead);
        const bool plural = required != positional_ || positional_ + lead != 1;
        std::string kwonly;
        if (kwonly_given > 0)
            kwonly = std::string(" positional argument") + (total != 1 ? "s" : "") + " (and " +
                     std::to_string(kwonly_given) + " keyword-only argument" + (kwonly_given != 1 ? "s" : "") + ")";
        PyErr_Format(PyExc_TypeError, "%s() takes %s positional argument%s but %zu%s %s given", qualname_.c_str(),
                     takes.c_str(), plural ? "s" : "", total, kwonly.c_str(),
                     total == 1 && kwonly_given == 0 ? "was" : "were");
        return false;
    }
    std::vector<const char *> missing_positional, missing_keyword;
    if (self_missing) missing_positional.push_back(leading_ == Leading::Cls ? "cls" : "self");
    for (std::size_t i = 0; i < n; ++i) {
        if (out[i] != nullptr) continue;
        if (params_[i].has_default)
            out[i] = params_[i].default_value.ptr();
        else
            (params_[i].keyword_only ? missing_keyword : missing_positional).push_back(params_[i].name);
    }
    const auto &missing = missing_positional.empty() ? missing_keyword : missing_positional;
    if (!missing.empty()) {
        PyErr_Format(PyExc_TypeError, "%s() missing %zu required %s argument%s: %s", qualname_.c_str(), missing.size(),
                     missing_positional.empty() ? "keyword-only" : "positional", missing.size() == 1 ? "" : "s",
                     name_list(missing).c_str());
        return false;
    }
    return true;
}

void Signature::raise_missing(PyObject *const *args, PyObject *kwnames, bool self_missing) const {
    std::vector<PyObject *> out(params_.size() + 1);
    if (parse(args, 0, kwnames, out.data(), self_missing)) PyErr_Format(PyExc_TypeError, "%s() missing arguments", qualname_.c_str());
}

namespace detail {

namespace {

/// A method written in C++ that binds like a Python function: `obj.meth` is a bound method,
/// `Cls.meth` is the function itself and takes any object as `self`, and `inspect.signature`
/// reads `__signature__` (holding the real default objects). The interpreter calls it as it calls a
/// method descriptor, without making the bound method (Py_TPFLAGS_METHOD_DESCRIPTOR).
struct NativeFunction {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    FastCall call;
    const Signature *sig;
    PyObject *name;
    PyObject *qualname;
    PyObject *doc;
    PyObject *module;
    PyObject *objclass;
    PyObject *signature;  // built on first use
    PyObject *code;       // built on first use
    PyObject *dict;       // attributes set on the function, as on a Python function
    PyObject *weakrefs;
    PyObject *annotations;  // from the module's stub, read on first use
    Getter *getter;         // a property getter's body (owned); methods use `call`
    bool owns_sig;
    bool is_static;         // called without self
};

NativeFunction *as_native(PyObject *f) { return reinterpret_cast<NativeFunction *>(f); }

/// A property getter's call: no parameters after self.
PyObject *call_getter(NativeFunction *f, PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *none[1];
    if (!f->sig->parse(args, nargs, kwnames, none)) return nullptr;
    try {
        return (*f->getter)(nb::handle(self)).release().ptr();
    } catch (...) {
        set_error_from_exception();
    }
    return nullptr;
}

/// The function's body with `self` and the arguments after it.
PyObject *invoke(NativeFunction *f, PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    if (f->getter != nullptr) return call_getter(f, self, args, nargs, kwnames);
    return f->call(self, args, nargs, kwnames);
}

/// A call without a positional `self`: taken from the keywords, as Python would, or the
/// missing-arguments error naming it.
PyObject *call_with_keyword_self(NativeFunction *f, PyObject *const *args, PyObject *kwnames) {
    static PyObject *self_name = PyUnicode_InternFromString("self");
    static PyObject *cls_name = PyUnicode_InternFromString("cls");
    PyObject *lead = f->sig->leading() == Signature::Leading::Cls ? cls_name : self_name;
    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    Py_ssize_t at = -1;
    for (Py_ssize_t k = 0; k < nkw && at < 0; ++k) {
        PyObject *key = PyTuple_GET_ITEM(kwnames, k);
        if (key == lead || PyUnicode_Compare(key, lead) == 0) at = k;
    }
    if (at < 0) {
        f->sig->raise_missing(args, kwnames, true);
        return nullptr;
    }
    std::vector<PyObject *> rest;
    nb::object names = nb::steal(PyTuple_New(nkw - 1));
    for (Py_ssize_t k = 0, j = 0; k < nkw; ++k) {
        if (k == at) continue;
        rest.push_back(args[k]);
        PyTuple_SET_ITEM(names.ptr(), j++, Py_NewRef(PyTuple_GET_ITEM(kwnames, k)));
    }
    return invoke(f, args[at], rest.data(), 0, nkw > 1 ? names.ptr() : nullptr);
}

PyObject *native_vectorcall(PyObject *callable, PyObject *const *args, std::size_t nargsf, PyObject *kwnames) {
    NativeFunction *f = as_native(callable);
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (f->is_static) return f->call(nullptr, args, nargs, kwnames);
    if (nargs >= 1) return invoke(f, args[0], args + 1, nargs - 1, kwnames);
    return call_with_keyword_self(f, args, kwnames);
}

PyObject *native_get(PyObject *self, PyObject *obj, PyObject *) {
    if (obj == nullptr || obj == Py_None) return Py_NewRef(self);
    return PyMethod_New(self, obj);
}

/// `__annotations__`: what the module's stub states for this function, read once; assignable.
PyObject *native_annotations(PyObject *self, void *) {
    NativeFunction *f = as_native(self);
    if (f->annotations == nullptr) {
        PyObject *found = nullptr;
        if (f->module != nullptr && PyUnicode_Check(f->module)) {
            PyObject *stubs = PyImport_ImportModule("norvale._stubs");
            if (stubs != nullptr) {
                found = PyObject_CallMethod(stubs, "annotations", "OO", f->module, f->qualname);
                Py_DECREF(stubs);
            }
        }
        if (found == nullptr || !PyDict_Check(found)) {  // no stub to read: nothing to keep
            Py_XDECREF(found);
            PyErr_Clear();
            return PyDict_New();
        }
        f->annotations = found;
    }
    return Py_NewRef(f->annotations);
}

int set_native_annotations(PyObject *self, PyObject *value, void *) {
    if (value == Py_None) value = nullptr;  // as for a Python function: None clears them
    if (value != nullptr && !PyDict_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__annotations__ must be set to a dict object");
        return -1;
    }
    NativeFunction *f = as_native(self);
    Py_XSETREF(f->annotations, value != nullptr ? Py_NewRef(value) : PyDict_New());
    return f->annotations != nullptr ? 0 : -1;
}

/// `__signature__`: the parameters (built once) with the annotations as they are now.
PyObject *native_signature(PyObject *self, void *) {
    NativeFunction *f = as_native(self);
    try {
        if (f->signature == nullptr) f->signature = f->sig->to_inspect().release().ptr();
        nb::object annotations = nb::steal(native_annotations(self, nullptr));
        if (!annotations.is_valid()) throw nb::python_error();
        nb::object stubs = nb::module_::import_("norvale._stubs");
        return stubs.attr("annotated")(nb::borrow(f->signature), annotations).release().ptr();
    } catch (...) {
        set_error_from_exception();
        return nullptr;
    }
}

/// Answers of a Python function that tools read after `isinstance(obj, types.FunctionType)`
/// (which holds through `__class__`): mock's autospec then binds `self` as for a Python method.
template <nb::object (*make)(NativeFunction *)>
PyObject *native_answer(PyObject *self, void *) {
    try {
        return make(as_native(self)).release().ptr();
    } catch (...) {
        set_error_from_exception();
        return nullptr;
    }
}

nb::object function_class(NativeFunction *) { return nb::module_::import_("types").attr("FunctionType"); }
nb::object stub_code(NativeFunction *f) {
    if (f->code == nullptr) f->code = f->sig->stub_code(PyUnicode_AsUTF8(f->name)).release().ptr();
    return nb::borrow(f->code);
}
nb::object defaults(NativeFunction *f) { return f->sig->defaults(); }
nb::object kwdefaults(NativeFunction *f) { return f->sig->kwdefaults(); }
nb::object module_globals(NativeFunction *f) {
    PyObject *module = f->module == nullptr || f->module == Py_None ? nullptr : PyImport_GetModule(f->module);
    if (module == nullptr) {
        PyErr_Clear();
        return nb::dict();
    }
    nb::object held = nb::steal(module);
    return nb::borrow(PyModule_GetDict(module));
}
nb::object no_closure(NativeFunction *) { return nb::none(); }
nb::object builtins_dict(NativeFunction *) { return nb::borrow(PyEval_GetBuiltins()); }
nb::object no_type_params(NativeFunction *) { return nb::tuple(); }

/// Pickled, like a Python function, by the name it is found under in its module.
PyObject *native_reduce(PyObject *self, PyObject *) { return Py_NewRef(as_native(self)->qualname); }

PyMethodDef native_methods[] = {
    {"__reduce__", native_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyObject *native_repr(PyObject *self) { return PyUnicode_FromFormat("<native function %U>", as_native(self)->qualname); }

int native_traverse(PyObject *self, visitproc visit, void *arg) {
    NativeFunction *f = as_native(self);
    Py_VISIT(f->doc);
    Py_VISIT(f->module);
    Py_VISIT(f->objclass);
    Py_VISIT(f->signature);
    Py_VISIT(f->code);
    Py_VISIT(f->dict);
    Py_VISIT(f->annotations);
    return 0;
}

int native_clear(PyObject *self) {
    NativeFunction *f = as_native(self);
    Py_CLEAR(f->doc);
    Py_CLEAR(f->module);
    Py_CLEAR(f->objclass);
    Py_CLEAR(f->signature);
    Py_CLEAR(f->code);
    Py_CLEAR(f->dict);
    Py_CLEAR(f->annotations);
    return 0;
}

void native_dealloc(PyObject *self) {
    PyObject_GC_UnTrack(self);
    NativeFunction *f = as_native(self);
    if (f->weakrefs != nullptr) PyObject_ClearWeakRefs(self);
    native_clear(self);
    Py_CLEAR(f->name);
    Py_CLEAR(f->qualname);
    delete f->getter;
    if (f->owns_sig) delete f->sig;
    PyObject_GC_Del(self);
}

PyMemberDef native_members[] = {
    {"__name__", Py_T_OBJECT_EX, offsetof(NativeFunction, name), Py_READONLY, nullptr},
    {"__qualname__", Py_T_OBJECT_EX, offsetof(NativeFunction, qualname), Py_READONLY, nullptr},
    {"__doc__", Py_T_OBJECT_EX, offsetof(NativeFunction, doc), 0, nullptr},
    {"__module__", Py_T_OBJECT_EX, offsetof(NativeFunction, module), 0, nullptr},
    {"__objclass__", Py_T_OBJECT_EX, offsetof(NativeFunction, objclass), Py_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef native_getset[] = {
    {"__signature__", native_signature, nullptr, nullptr, nullptr},
    {"__class__", native_answer<function_class>, nullptr, nullptr, nullptr},
    {"__code__", native_answer<stub_code>, nullptr, nullptr, nullptr},
    {"__defaults__", native_answer<defaults>, nullptr, nullptr, nullptr},
    {"__kwdefaults__", native_answer<kwdefaults>, nullptr, nullptr, nullptr},
    {"__globals__", native_answer<module_globals>, nullptr, nullptr, nullptr},
    {"__closure__", native_answer<no_closure>, nullptr, nullptr, nullptr},
    {"__annotations__", native_annotations, set_native_annotations, nullptr, nullptr},
    {"__builtins__", native_answer<builtins_dict>, nullptr, nullptr, nullptr},
    {"__type_params__", native_answer<no_type_params>, nullptr, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject native_function_type_object{};

/// The type, filled and made ready on first use (while a module's methods are added, at
/// import). No guarded static: PyType_Ready may run Python code.
PyTypeObject *native_function_type() {
    PyTypeObject &t = native_function_type_object;
    if (PyType_HasFeature(&t, Py_TPFLAGS_READY)) return &t;
    Py_SET_REFCNT(reinterpret_cast<PyObject *>(&t), 1);  // what PyVarObject_HEAD_INIT(nullptr, 0) sets
    t.tp_name = "norvale.native_function";
    t.tp_basicsize = sizeof(NativeFunction);
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL | Py_TPFLAGS_METHOD_DESCRIPTOR;
    t.tp_doc = "A method written in C++; binds to instances like a Python function.";
    t.tp_vectorcall_offset = offsetof(NativeFunction, vectorcall);
    t.tp_dictoffset = offsetof(NativeFunction, dict);
    t.tp_weaklistoffset = offsetof(NativeFunction, weakrefs);
    t.tp_call = PyVectorcall_Call;
    t.tp_descr_get = native_get;
    t.tp_repr = native_repr;
    t.tp_traverse = native_traverse;
    t.tp_clear = native_clear;
    t.tp_dealloc = native_dealloc;
    t.tp_members = native_members;
    t.tp_getset = native_getset;
    t.tp_methods = native_methods;
    if (PyType_Ready(&t) < 0) throw nb::python_error();
    return &t;
}

}  // namespace

namespace {

NativeFunction *new_function(nb::handle module, nb::handle objclass, const char *name, const std::string &qualname,
                             const Signature *sig, const char *doc) {
    PyTypeObject *type = native_function_type();
    NativeFunction *f = PyObject_GC_New(NativeFunction, type);
    if (f == nullptr) throw nb::python_error();
    f->vectorcall = native_vectorcall;
    f->call = nullptr;
    f->sig = sig;
    f->name = PyUnicode_InternFromString(name);
    f->qualname = PyUnicode_FromStringAndSize(qualname.data(), static_cast<Py_ssize_t>(qualname.size()));
    f->doc = doc == nullptr || *doc == '\0' ? Py_NewRef(Py_None) : PyUnicode_FromString(doc);
    f->module = Py_NewRef(module.is_valid() ? module.ptr() : Py_None);
    f->objclass = objclass.is_valid() ? Py_NewRef(objclass.ptr()) : nullptr;
    f->signature = nullptr;
    f->code = nullptr;
    f->dict = nullptr;
    f->weakrefs = nullptr;
    f->annotations = nullptr;
    f->getter = nullptr;
    f->owns_sig = false;
    f->is_static = false;
    return f;
}

nb::object finish_function(NativeFunction *f) {
    nb::object result = nb::steal(reinterpret_cast<PyObject *>(f));
    if (f->name == nullptr || f->qualname == nullptr || f->doc == nullptr) throw nb::python_error();
    PyObject_GC_Track(reinterpret_cast<PyObject *>(f));
    return result;
}

}  // namespace

nb::object new_native_function(nb::handle cls, const char *name, const std::string &qualname, const Signature *sig,
                               FastCall call, const std::string &doc, bool is_static) {
    nb::object module = nb::steal(PyObject_GetAttrString(cls.ptr(), "__module__"));
    if (!module.is_valid()) PyErr_Clear();
    NativeFunction *f = new_function(module, cls, name, qualname, sig, doc.c_str());
    f->call = call;
    f->is_static = is_static;
    return finish_function(f);
}

std::string method_qualname(nb::handle cls, const char *name, const std::vector<Param> &params, std::size_t expected) {
    std::string qualname = nb::cast<std::string>(nb::getattr(cls, "__qualname__")) + "." + name;
    if (params.size() != expected) throw std::logic_error(qualname + ": parameter list does not match the function");
    return qualname;
}

nb::object new_native_getter(const std::string &module, const std::string &qualname, const char *name, Getter getter,
                             const char *doc) {
    auto *sig = new Signature(qualname, {});
    NativeFunction *f = new_function(nb::str(module.c_str()), nb::handle(), name, qualname, sig, doc);
    f->owns_sig = true;
    f->getter = new Getter(std::move(getter));
    return finish_function(f);
}

}  // namespace detail

}  // namespace norvale::bind
