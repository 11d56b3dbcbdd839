#include "bindings/pyclass.h"

#include <map>
#include <stdexcept>

#include "engine/base64/base64.h"

namespace norvale::bind {

namespace {

/// Namespaces of the modules attached in this library, by name (modules live as long as the interpreter).
std::map<std::string, PyObject *> &module_dicts() {
    static std::map<std::string, PyObject *> dicts;
    return dicts;
}

}  // namespace

void ModuleScope::attach(nb::module_ m) {
    module_ = m.release();  // modules live as long as the interpreter; keep one reference
    dict_ = PyModule_GetDict(module_.ptr());
    name_ = nb::cast<std::string>(nb::getattr(module_, "__name__"));
    module_dicts()[name_] = dict_.ptr();
}

nb::object ModuleScope::global(const char *name) const {
    PyObject *value = PyDict_GetItemString(dict_.ptr(), name);  // borrowed
    if (value) return nb::borrow(value);
    nb::object builtins = nb::module_::import_("builtins");
    if (nb::hasattr(builtins, name)) return nb::getattr(builtins, name);
    PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
    throw nb::python_error();
}

nb::object ModuleScope::global(nb::handle name) const {
    PyObject *value = PyDict_GetItemWithError(dict_.ptr(), name.ptr());  // borrowed
    if (value) return nb::borrow(value);
    if (PyErr_Occurred()) throw nb::python_error();
    return global(nb::cast<std::string>(nb::str(name)).c_str());
}

nb::handle interned(const char *text) {
    PyObject *s = PyUnicode_InternFromString(text);
    if (!s) throw nb::python_error();
    return s;  // deliberately kept: callers store it in a static
}

void ModuleScope::import_from(const char *module, std::initializer_list<const char *> names) const {
    nb::module_ source = nb::module_::import_(module);
    for (const char *n : names) nb::setattr(module_, n, nb::getattr(source, n));
}

void ModuleScope::annotation_names(const char *module, std::initializer_list<const char *> names) const {
    nb::list list;
    for (const char *n : names) list.append(nb::str(n));
    nb::module_::import_("norvale._functions").attr("annotation_names")(name_, module, list);
}

void ModuleScope::set_all(std::initializer_list<const char *> names) const {
    nb::list all;
    for (const char *n : names) all.append(nb::str(n));
    nb::setattr(module_, "__all__", all);
}

ClassBuilder::ClassBuilder(const ModuleScope &scope, const char *name, nb::tuple bases, nb::handle metaclass)
    : scope_(scope), name_(name), bases_(std::move(bases)) {
    metaclass_ = metaclass ? nb::borrow(metaclass) : nb::borrow(reinterpret_cast<PyObject *>(&PyType_Type));
    ns_["__module__"] = nb::str(scope.name().c_str());
    ns_["__qualname__"] = nb::str(name);
}

ClassBuilder &ClassBuilder::doc(const char *text) {
    ns_["__doc__"] = nb::str(text);
    return *this;
}

ClassBuilder &ClassBuilder::attr(const char *name, nb::handle value) {
    ns_[name] = value;
    return *this;
}

nb::object ClassBuilder::finish() {
    nb::object cls = metaclass_(nb::str(name_.c_str()), bases_, ns_);
    nb::setattr(scope_.module(), name_.c_str(), cls);
    return cls;
}

namespace detail {

namespace {

nb::object make_function(const std::string &module, const std::string &qualname, const char *signature,
                         const char *doc, nb::handle native, int arity, const char *kind, const char *body) {
    auto found = module_dicts().find(module);
    if (found == module_dicts().end()) throw std::logic_error(qualname + ": not in an attached module");
    return nb::module_::import_("norvale._functions")
        .attr("define")(nb::handle(found->second), qualname, signature, doc ? nb::object(nb::str(doc)) : nb::none(),
                        native.is_valid() ? nb::borrow(native) : nb::none(), kind, arity,
                        body ? nb::object(nb::str(body)) : nb::none());
}

std::string qualname_of(nb::handle cls, const char *name) {
    return nb::cast<std::string>(nb::getattr(cls, "__qualname__")) + "." + name;
}

}  // namespace

void define(nb::handle cls, const char *name, const char *signature, const char *doc, nb::handle native, int arity,
            Kind kind, const char *body) {
    const char *kinds[] = {"method", "static", "class"};
    nb::object f = make_function(nb::cast<std::string>(nb::getattr(cls, "__module__")), qualname_of(cls, name),
                                 signature, doc, native, arity, kinds[static_cast<int>(kind)], body);
    nb::setattr(cls, name, f);
}

}  // namespace detail

void def_python(nb::handle cls, const char *name, const char *signature, const char *body, const char *doc) {
    detail::define(cls, name, signature, doc, nb::handle(), -1, detail::Kind::Method, body);
}

nb::object ClassBuilder::getter_property(const char *name, const char *returns, nb::handle getter,
                                         const char *docstring, bool abstract, const char *body) {
    std::string signature = std::string("(self) -> ") + returns;
    return detail::make_function(scope_.name(), name_ + "." + name, signature.c_str(), docstring, getter, 1,
                                 abstract ? "abstract" : "property", body);
}

ClassBuilder &ClassBuilder::def_python_property(const char *name, const char *returns, const char *body,
                                                const char *docstring) {
    ns_[name] = getter_property(name, returns, nb::handle(), docstring, false, body);
    return *this;
}

nb::object super_of(nb::handle cls, nb::handle self) {
    return nb::borrow(reinterpret_cast<PyObject *>(&PySuper_Type))(cls, self);
}

nb::object make_enum(const ModuleScope &scope, const char *name, nb::list members, const char *docstring,
                     nb::handle mixin) {
    nb::module_ enum_mod = nb::module_::import_("enum");
    nb::dict kwargs;
    kwargs["module"] = nb::str(scope.name().c_str());
    kwargs["qualname"] = nb::str(name);
    if (mixin) kwargs["type"] = mixin;
    nb::object cls = enum_mod.attr("Enum")(nb::str(name), members, **kwargs);
    if (docstring) nb::setattr(cls, "__doc__", nb::str(docstring));
    nb::setattr(scope.module(), name, cls);
    return cls;
}

namespace {

/// What `raise value` makes of the value an error class returned: an exception instance as it
/// is, a class called without arguments, anything else the interpreter's own TypeError (a patched
/// error class may return anything).
nb::object exception_from(nb::object value) {
    if (PyExceptionInstance_Check(value.ptr())) return value;
    if (PyExceptionClass_Check(value.ptr())) {
        nb::object exc = nb::steal(PyObject_CallNoArgs(value.ptr()));
        if (!exc.is_valid()) throw nb::python_error();
        if (!PyExceptionInstance_Check(exc.ptr())) {
            PyErr_Format(PyExc_TypeError, "calling %R should have returned an instance of BaseException, not %R",
                         value.ptr(), reinterpret_cast<PyObject *>(Py_TYPE(exc.ptr())));
            throw nb::python_error();
        }
        return exc;
    }
    PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
    throw nb::python_error();
}

/// Implicit chaining, as raising inside `except` does: `exc.__context__ = context` (unless that
/// would make the error its own context).
void chain(nb::handle exc, nb::handle context) {
    if (!context.is_valid() || context.is_none() || exc.ptr() == context.ptr()) return;
    PyException_SetContext(exc.ptr(), Py_NewRef(context.ptr()));
}

/// `exc_type(args...)` made into the exception to raise; an error on the way is chained to `context`.
nb::object build(nb::handle exc_type, nb::handle message, nb::handle context) {
    try {
        return exception_from(message.is_valid() ? nb::borrow(exc_type)(message) : nb::borrow(exc_type)());
    } catch (nb::python_error &e) {
        chain(e.value(), context);
        throw;
    }
}

[[noreturn]] void raise_instance(nb::object exc, nb::handle context) {
    PyErr_SetObject(reinterpret_cast<PyObject *>(Py_TYPE(exc.ptr())), exc.ptr());
    chain(exc, context);  // the error handled here, not one an outer Python `except` is handling
    throw nb::python_error();
}

}  // namespace

void raise_from_none(nb::handle exc_type, nb::handle message, nb::handle context) {
    PyErr_Clear();
    nb::object exc = build(exc_type, message, context);
    PyException_SetCause(exc.ptr(), nullptr);  // sets __suppress_context__ = True
    raise_instance(exc, context);
}

void raise_from_none(nb::handle exc_type, const char *message, nb::handle context) {
    raise_from_none(exc_type, nb::str(message), context);
}

void raise_with_cause(nb::handle exc_type, nb::handle message, nb::handle cause) {
    PyErr_Clear();
    nb::object exc = build(exc_type, message, cause);
    PyException_SetCause(exc.ptr(), nb::borrow(cause).release().ptr());  // steals the reference
    raise_instance(exc, cause);
}

void raise_new(nb::handle exc_type, nb::handle message) { raise_instance(build(exc_type, message, {}), {}); }

void raise_bare(nb::handle exc_type) { raise_instance(build(exc_type, nb::handle(), {}), {}); }

bool error_matches(const nb::python_error &e, nb::handle exc_type) { return e.matches(exc_type); }

nb::object builtin(const char *name) { return nb::module_::import_("builtins").attr(name); }

nb::object input_bytes(nb::handle obj, nb::handle bytes_io) {
    const int is_bytes_io = PyObject_IsInstance(obj.ptr(), bytes_io.ptr());
    if (is_bytes_io < 0) throw nb::python_error();
    if (is_bytes_io) return obj.attr("getvalue")();
    return obj.attr("getvalue_binary")();
}

bool truthy(nb::handle obj) {
    const int r = PyObject_IsTrue(obj.ptr());
    if (r < 0) throw nb::python_error();
    return r != 0;
}

nb::object b64encode_text(nb::handle bytes_like) {
    Py_buffer view;
    if (PyObject_GetBuffer(bytes_like.ptr(), &view, PyBUF_SIMPLE) != 0) throw nb::python_error();
    const std::size_t n = static_cast<std::size_t>(view.len);
    PyObject *text = PyUnicode_New(static_cast<Py_ssize_t>(engine::base64::encoded_size(n)), 127);
    if (!text) {
        PyBuffer_Release(&view);
        throw nb::python_error();
    }
    {
        nb::gil_scoped_release nogil;
        engine::base64::encode(static_cast<const unsigned char *>(view.buf), n,
                               static_cast<char *>(PyUnicode_DATA(text)));
    }
    PyBuffer_Release(&view);
    return nb::steal(text);
}

}  // namespace norvale::bind
