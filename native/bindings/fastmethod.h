// Methods as CPython method descriptors with vectorcall argument parsing.
//
// For methods on hot paths (called hundreds of thousands of times while a model is built) the
// general nanobind function object costs more than the work itself. A method added here is an
// ordinary `method_descriptor` of the class, like a method of a built-in type: calling it costs
// about as much as calling a Python function, `inspect.signature` reads its `__text_signature__`,
// and `self` is checked to be an instance of the class. Arguments are parsed as Python parses
// them (positional or keyword, keyword-only, defaults evaluated once) with Python's error wording.
#pragma once

#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

namespace norvale::bind {

namespace nb = nanobind;

/// One parameter after `self`.
struct Param {
    const char *name;
    bool keyword_only = false;
    bool has_default = false;
    nb::object default_value;            // used when has_default
    const char *default_text = nullptr;  // how the default reads in the signature (else repr())
};

/// A required parameter that may be given by position or keyword.
inline Param pos(const char *name) { return Param{name}; }
/// A parameter with a default that may be given by position or keyword.
inline Param pos(const char *name, nb::object value, const char *text = nullptr) {
    return Param{name, false, true, std::move(value), text};
}
/// A required keyword-only parameter.
inline Param kw(const char *name) { return Param{name, true}; }
/// A keyword-only parameter with a default.
inline Param kw(const char *name, nb::object value, const char *text = nullptr) {
    return Param{name, true, true, std::move(value), text};
}

/// Parameters that may be given by position or keyword, all required.
std::vector<Param> required(std::initializer_list<const char *> names);
/// Parameters that may be given by position or keyword, each defaulting to None.
std::vector<Param> optional(std::initializer_list<const char *> names);
/// Keyword-only parameters, all required.
std::vector<Param> kw_required(std::initializer_list<const char *> names);
/// Keyword-only parameters, each defaulting to None.
std::vector<Param> kw_optional(std::initializer_list<const char *> names);
/// The groups of parameters one after another.
std::vector<Param> params(std::initializer_list<std::vector<Param>> groups);

/// The parsed form of a signature; built once per method.
class Signature {
public:
    Signature(std::string qualname, std::vector<Param> params);

    /// Fills out[0 .. size()) with borrowed references (defaults included) from vectorcall
    /// arguments that follow `self`; raises TypeError as Python does and returns false.
    bool parse(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames, PyObject **out) const;

    std::size_t size() const { return params_.size(); }
    /// "($self, a, b=None, *, c)" for `__text_signature__`.
    std::string text() const;
    /// The same as an `inspect.Signature` without `self`, holding the real default objects.
    nb::object to_inspect() const;

private:
    std::string qualname_;
    std::vector<Param> params_;
    std::vector<nb::object> names_;  // interned
    std::size_t positional_ = 0;     // how many may be given by position
};

namespace detail {

template <typename T>
struct arity : arity<decltype(&T::operator())> {};
template <typename C, typename R, typename... A>
struct arity<R (C::*)(A...) const> {
    static constexpr std::size_t value = sizeof...(A);
};

/// Storage of one method: its function object, signature and method definition.
template <typename F>
struct FastMethod {
    static inline F *fn = nullptr;
    static inline Signature *sig = nullptr;
    static inline PyMethodDef def{};
    static inline std::string doc;

    template <std::size_t... I>
    static PyObject *invoke(PyObject *self, PyObject **a, std::index_sequence<I...>) {
        if constexpr (std::is_void_v<decltype((*fn)(nb::handle(self), nb::handle(a[I])...))>) {
            (*fn)(nb::handle(self), nb::handle(a[I])...);
            Py_RETURN_NONE;
        } else {
            return nb::object((*fn)(nb::handle(self), nb::handle(a[I])...)).release().ptr();
        }
    }

    static PyObject *call(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
        constexpr std::size_t n = arity<F>::value - 1;
        PyObject *values[n > 0 ? n : 1];
        if (!sig->parse(args, nargs, kwnames, values)) return nullptr;
        try {
            return invoke(self, values, std::make_index_sequence<n>());
        } catch (nb::python_error &e) {
            e.restore();
        } catch (const std::exception &e) {
            PyErr_SetString(PyExc_RuntimeError, e.what());
        }
        return nullptr;
    }
};

/// After `__init__` is added: gives `cls` a `__signature__` that `inspect.signature(cls)` reads, since
/// inspect cannot bind a method descriptor to the class to find the signature itself.
void install_init_signature(nb::handle cls, const Signature &sig);

}  // namespace detail

/// Adds `f` to the built class `cls` as the method `name`. `f` takes `nb::handle self` and then
/// one `nb::handle` per parameter, and returns an `nb::object` (or nothing, for None). Each
/// lambda type may be added once.
template <typename F>
void def_fast(nb::handle cls, const char *name, F f, std::vector<Param> params, const char *doc = nullptr) {
    using M = detail::FastMethod<F>;
    static_assert(detail::arity<F>::value >= 1, "the method takes self first");
    std::string qualname = nb::cast<std::string>(nb::getattr(cls, "__qualname__")) + "." + name;
    if (params.size() != detail::arity<F>::value - 1)
        throw std::logic_error(qualname + ": parameter list does not match the function");
    M::fn = new F(std::move(f));
    M::sig = new Signature(qualname, std::move(params));
    M::doc = std::string(name) + M::sig->text() + "\n--\n\n" + (doc ? doc : "");
    M::def.ml_name = name;
    M::def.ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&M::call));
    M::def.ml_flags = METH_FASTCALL | METH_KEYWORDS;
    M::def.ml_doc = M::doc.c_str();
    nb::object descr = nb::steal(PyDescr_NewMethod(reinterpret_cast<PyTypeObject *>(cls.ptr()), &M::def));
    if (!descr.is_valid()) throw nb::python_error();
    nb::setattr(cls, name, descr);
    if (std::string_view(name) == "__init__") detail::install_init_signature(cls, *M::sig);
}

}  // namespace norvale::bind
