// Methods written in C++ that behave like methods written in Python, with vectorcall argument parsing.
//
// For methods on hot paths (called hundreds of thousands of times while a model is built) the
// general nanobind function object costs more than the work itself. A method added here is a
// small native function object (fastmethod.cpp) that binds like a Python function: `obj.meth` is
// a bound method, `Cls.meth(anything, ...)` passes `anything` as self, and `inspect.signature`
// reads `__signature__`, with the real default objects. The interpreter calls it the way it calls
// a method of a built-in type, at about the cost of a Python function call. Arguments are parsed
// as Python parses them (positional or keyword, keyword-only, defaults evaluated once) with
// Python's error wording. Static and class methods are the same functions wrapped in staticmethod
// and classmethod.
#pragma once

#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include "bindings/errors.h"

#include <cstddef>
#include <functional>
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
    nb::object default_value{};          // used when has_default
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

    /// The leading parameter the caller does not list: "self" (methods, the default), "cls" (class
    /// methods, counted in messages as Python counts it) or none (static methods).
    enum class Leading { Self, Cls, None };
    void set_leading(Leading leading) { leading_ = leading; }
    Leading leading() const { return leading_; }

    /// Fills out[0 .. size()) with borrowed references (defaults included) from vectorcall
    /// arguments that follow `self`; raises TypeError as Python does and returns false.
    /// `self_missing`: the call gave no `self` at all, which the error then names first.
    bool parse(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames, PyObject **out,
               bool self_missing = false) const;
    /// The TypeError of a call with keyword arguments only (`self` among the missing ones).
    void raise_missing(PyObject *const *args, PyObject *kwnames, bool self_missing) const;
    /// The TypeError for an unknown keyword argument, with Python's "Did you mean" suggestion.
    void unexpected_keyword(PyObject *key) const;

    std::size_t size() const { return params_.size(); }
    /// The same as an `inspect.Signature`, holding the real default objects, with `self` (or `cls`)
    /// first unless the function has no leading parameter.
    nb::object to_inspect() const;
    /// What a Python function with this signature (and its leading parameter) holds: a code object named
    /// `qualname` whose body does nothing, `__defaults__` and `__kwdefaults__`.
    nb::object stub_code(const char *name) const;
    nb::object defaults() const;
    nb::object kwdefaults() const;

private:
    std::string qualname_;
    std::vector<Param> params_;
    std::vector<nb::object> names_;  // interned
    std::size_t positional_ = 0;     // how many may be given by position
    Leading leading_ = Leading::Self;
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
        } catch (...) {
            set_error_from_exception();
        }
        return nullptr;
    }
};

/// Storage of one static method: the function takes no self.
template <typename F>
struct FastStatic {
    static inline F *fn = nullptr;
    static inline Signature *sig = nullptr;

    template <std::size_t... I>
    static PyObject *invoke(PyObject **a, std::index_sequence<I...>) {
        return nb::object((*fn)(nb::handle(a[I])...)).release().ptr();
    }

    static PyObject *call(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
        constexpr std::size_t n = arity<F>::value;
        PyObject *values[n > 0 ? n : 1];
        if (!sig->parse(args, nargs, kwnames, values)) return nullptr;
        try {
            return invoke(values, std::make_index_sequence<n>());
        } catch (...) {
            set_error_from_exception();
        }
        return nullptr;
    }
};

/// The C entry of a method: `self`, then the vectorcall arguments that follow it.
using FastCall = PyObject *(*)(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);

/// A new method object of `cls` (see fastmethod.cpp: binds like a Python function). A static one
/// is called without self.
nb::object new_native_function(nb::handle cls, const char *name, const std::string &qualname, const Signature *sig,
                               FastCall call, const std::string &doc, bool is_static = false);

/// The qualified name `cls.name`, checking that `params` has `expected` entries.
std::string method_qualname(nb::handle cls, const char *name, const std::vector<Param> &params, std::size_t expected);

/// The body of a property getter.
using Getter = std::function<nb::object(nb::handle)>;

/// A property getter `qualname(self)` of the module `module`, of the same native function type.
nb::object new_native_getter(const std::string &module, const std::string &qualname, const char *name, Getter getter,
                             const char *doc);

}  // namespace detail

/// Adds `f` to the built class `cls` as the method `name`. `f` takes `nb::handle self` and then
/// one `nb::handle` per parameter, and returns an `nb::object` (or nothing, for None). Each
/// lambda type may be added once.
template <typename F>
nb::object def_fast(nb::handle cls, const char *name, F f, std::vector<Param> params, const char *doc = nullptr,
                    Signature::Leading leading = Signature::Leading::Self) {
    using M = detail::FastMethod<F>;
    static_assert(detail::arity<F>::value >= 1, "the method takes self first");
    std::string qualname = detail::method_qualname(cls, name, params, detail::arity<F>::value - 1);
    M::fn = new F(std::move(f));
    M::sig = new Signature(qualname, std::move(params));
    M::sig->set_leading(leading);
    nb::object func = detail::new_native_function(cls, name, qualname, M::sig, &M::call, doc ? doc : "");
    nb::setattr(cls, name, func);
    return func;
}

/// Adds `f` to the built class `cls` as the static method `name`; `f` takes one `nb::handle` per
/// parameter. Each lambda type may be added once.
template <typename F>
void def_fast_static(nb::handle cls, const char *name, F f, std::vector<Param> params, const char *doc = nullptr) {
    using M = detail::FastStatic<F>;
    std::string qualname = detail::method_qualname(cls, name, params, detail::arity<F>::value);
    M::fn = new F(std::move(f));
    M::sig = new Signature(qualname, std::move(params));
    M::sig->set_leading(Signature::Leading::None);
    nb::object func = detail::new_native_function(cls, name, qualname, M::sig, &M::call, doc ? doc : "", true);
    nb::setattr(cls, name, nb::steal(PyStaticMethod_New(func.ptr())));
}

/// Adds `f` to the built class `cls` as the class method `name`; `f` takes `nb::handle cls` first,
/// then one `nb::handle` per parameter. Each lambda type may be added once.
template <typename F>
void def_fast_classmethod(nb::handle cls, const char *name, F f, std::vector<Param> params, const char *doc = nullptr) {
    nb::object func = def_fast(cls, name, std::move(f), std::move(params), doc, Signature::Leading::Cls);
    nb::setattr(cls, name, nb::steal(PyClassMethod_New(func.ptr())));
}

}  // namespace norvale::bind
