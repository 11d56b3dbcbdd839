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

std::string Signature::text() const {
    std::string out = leading_ == Leading::Self ? "($self" : leading_ == Leading::Cls ? "($cls" : "(";
    bool star = false;
    bool first = leading_ == Leading::None;
    for (const Param &p : params_) {
        if (!first) out += ", ";
        first = false;
        if (p.keyword_only && !star) {
            out += "*, ";
            star = true;
        }
        out += p.name;
        if (p.has_default) {
            out += "=";
            out += p.default_text ? std::string(p.default_text) : nb::cast<std::string>(nb::repr(p.default_value));
        }
    }
    return out + ")";
}

nb::object Signature::to_inspect() const {
    nb::module_ inspect = nb::module_::import_("inspect");
    nb::object parameter = inspect.attr("Parameter");
    nb::object empty = parameter.attr("empty");
    nb::list parameters;
    for (const Param &p : params_) {
        nb::object kind = parameter.attr(p.keyword_only ? "KEYWORD_ONLY" : "POSITIONAL_OR_KEYWORD");
        parameters.append(parameter(p.name, kind, nb::arg("default") = p.has_default ? p.default_value : empty));
    }
    return inspect.attr("Signature")(parameters);
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

bool Signature::parse(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames, PyObject **out) const {
    nargs = PyVectorcall_NARGS(nargs);
    const std::size_t n = params_.size();
    if (static_cast<std::size_t>(nargs) > positional_) {
        // Python counts self and cls among the positional arguments, but not for static methods.
        const std::size_t lead = leading_ == Leading::None ? 0 : 1;
        std::size_t required = 0;
        for (std::size_t i = 0; i < positional_; ++i) required += params_[i].has_default ? 0 : 1;
        if (required == positional_)
            PyErr_Format(PyExc_TypeError, "%s() takes %zu positional argument%s but %zd %s given", qualname_.c_str(),
                         positional_ + lead, positional_ + lead == 1 ? "" : "s", nargs + Py_ssize_t(lead),
                         nargs + Py_ssize_t(lead) == 1 ? "was" : "were");
        else
            PyErr_Format(PyExc_TypeError, "%s() takes from %zu to %zu positional arguments but %zd were given",
                         qualname_.c_str(), required + lead, positional_ + lead, nargs + Py_ssize_t(lead));
        return false;
    }
    for (std::size_t i = 0; i < n; ++i) out[i] = i < static_cast<std::size_t>(nargs) ? args[i] : nullptr;
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
                PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", qualname_.c_str(), key);
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
    std::vector<const char *> missing_positional, missing_keyword;
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

namespace detail {

namespace {

// A descriptor type whose instances answer `cls.__signature__` for one class: the signature of its
// `__init__` without `self`, for as long as `__init__` is still the recorded one (None, inspect's
// own way of saying "look elsewhere", for subclasses that define their own).
nb::handle init_signature_type() {
    static nb::handle type = [] {
        nb::dict ns;
        ns["__module__"] = nb::str("norvale");
        ns["__qualname__"] = nb::str("_InitSignature");
        ns["__doc__"] = nb::str("The call signature of a class whose __init__ is a native method.");
        ns["__slots__"] = nb::make_tuple("init", "signature");
        ns["__get__"] = nb::cpp_function(
            [](nb::handle self, nb::handle obj, nb::handle owner) -> nb::object {
                if (!obj.is_none() || owner.is_none()) return nb::none();
                nb::object init = nb::steal(PyObject_GetAttrString(owner.ptr(), "__init__"));
                if (!init.is_valid()) throw nb::python_error();
                if (!init.is(self.attr("init"))) return nb::none();
                return self.attr("signature");
            },
            nb::is_method(), nb::name("__get__"), nb::arg("obj").none(), nb::arg("owner").none() = nb::none());
        return nb::borrow(reinterpret_cast<PyObject *>(&PyType_Type))("_InitSignature", nb::make_tuple(), ns)
            .release();
    }();
    return type;
}

}  // namespace

void install_init_signature(nb::handle cls, const Signature &sig) {
    nb::object descriptor = init_signature_type()();
    descriptor.attr("init") =
        nb::borrow(PyDict_GetItemString(reinterpret_cast<PyTypeObject *>(cls.ptr())->tp_dict, "__init__"));
    descriptor.attr("signature") = sig.to_inspect();
    nb::setattr(cls, "__signature__", descriptor);
}

}  // namespace detail

}  // namespace norvale::bind
