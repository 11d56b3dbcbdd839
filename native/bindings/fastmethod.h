// Methods written in C++ that behave like methods written in Python, with vectorcall argument parsing.
//
// For methods on hot paths (called hundreds of thousands of times while a model is built) the
// general nanobind function object costs more than the work itself. A method added here is a
// small native function object (fastmethod.cpp) that binds like a Python function: `obj.meth` is
// a bound method, `Cls.meth(anything, ...)` passes `anything` as self, and `inspect.signature`
// reads `__signature__`, with the real default objects. The interpreter calls it the way it calls
// a method of a built-in type, at about the cost of a Python function call. Arguments are parsed
// as Python parses them (positional or keyword, keyword-only, defaults evaluated once) with
// Python's error wording. Static and class methods are builtin functions wrapped in staticmethod
// and classmethod.
#pragma once

#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

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

    /// The leading parameter the caller does not list: "self" (methods, the default), "cls" (class
    /// methods, counted in messages as Python counts it) or none (static methods).
    enum class Leading { Self, Cls, None };
    void set_leading(Leading leading) { leading_ = leading; }

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
    /// "($self, a, b=None, *, c)" for `__text_signature__`.
    std::string text() const;
    /// The same as an `inspect.Signature`, holding the real default objects; `self` first if asked.
    nb::object to_inspect(bool with_self = false) const;
    /// What a Python function with this signature (and `self` first) holds: a code object named
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
        } catch (nb::python_error &e) {
            e.restore();
        } catch (const std::exception &e) {
            PyErr_SetString(PyExc_RuntimeError, e.what());
        }
        return nullptr;
    }
};

/// Storage of one static or class method: a builtin function (wrapped in staticmethod or
/// classmethod by def_fast_static / def_fast_classmethod).
template <typename F, bool WithClass>
struct FastFunction {
    static inline F *fn = nullptr;
    static inline Signature *sig = nullptr;
    static inline PyMethodDef def{};
    static inline std::string doc;

    template <std::size_t... I>
    static PyObject *invoke(PyObject *cls, PyObject **a, std::index_sequence<I...>) {
        if constexpr (WithClass)
            return nb::object((*fn)(nb::handle(cls), nb::handle(a[I])...)).release().ptr();
        else
            return nb::object((*fn)(nb::handle(a[I])...)).release().ptr();
    }

    static PyObject *call(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
        constexpr std::size_t n = arity<F>::value - (WithClass ? 1 : 0);
        PyObject *values[n > 0 ? n : 1];
        PyObject *cls = nullptr;
        nargs = PyVectorcall_NARGS(nargs);
        if constexpr (WithClass) {  // classmethod passes the class first
            if (nargs < 1) {
                sig->raise_missing(args, kwnames, true);
                return nullptr;
            }
            cls = args[0];
            ++args;
            --nargs;
        }
        if (!sig->parse(args, nargs, kwnames, values)) return nullptr;
        try {
            return invoke(cls, values, std::make_index_sequence<n>());
        } catch (nb::python_error &e) {
            e.restore();
        } catch (const std::exception &e) {
            PyErr_SetString(PyExc_RuntimeError, e.what());
        }
        return nullptr;
    }

    static nb::object make(nb::handle owner, const char *name, F f, std::vector<Param> params, const char *text_doc) {
        std::string qualname = nb::cast<std::string>(nb::getattr(owner, "__qualname__")) + "." + name;
        if (params.size() != arity<F>::value - (WithClass ? 1 : 0))
            throw std::logic_error(qualname + ": parameter list does not match the function");
        fn = new F(std::move(f));
        sig = new Signature(qualname, std::move(params));
        sig->set_leading(WithClass ? Signature::Leading::Cls : Signature::Leading::None);
        doc = std::string(name) + sig->text() + "\n--\n\n" + (text_doc ? text_doc : "");
        def.ml_name = name;
        def.ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&call));
        def.ml_flags = METH_FASTCALL | METH_KEYWORDS;
        def.ml_doc = doc.c_str();
        nb::object module = nb::getattr(owner, "__module__", nb::none());
        nb::object func = nb::steal(PyCFunction_NewEx(&def, nullptr, module.ptr()));
        if (!func.is_valid()) throw nb::python_error();
        return func;
    }
};

/// The C entry of a method: `self`, then the vectorcall arguments that follow it.
using FastCall = PyObject *(*)(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);

/// A new method object of `cls` (see fastmethod.cpp: binds like a Python function).
nb::object new_native_function(nb::handle cls, const char *name, const std::string &qualname, const Signature *sig,
                               FastCall call, const std::string &doc);

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
void def_fast(nb::handle cls, const char *name, F f, std::vector<Param> params, const char *doc = nullptr) {
    using M = detail::FastMethod<F>;
    static_assert(detail::arity<F>::value >= 1, "the method takes self first");
    std::string qualname = nb::cast<std::string>(nb::getattr(cls, "__qualname__")) + "." + name;
    if (params.size() != detail::arity<F>::value - 1)
        throw std::logic_error(qualname + ": parameter list does not match the function");
    M::fn = new F(std::move(f));
    M::sig = new Signature(qualname, std::move(params));
    nb::setattr(cls, name, detail::new_native_function(cls, name, qualname, M::sig, &M::call, doc ? doc : ""));
}

/// Adds `f` to the built class `cls` as the static method `name`; `f` takes one `nb::handle` per
/// parameter. Each lambda type may be added once.
template <typename F>
void def_fast_static(nb::handle cls, const char *name, F f, std::vector<Param> params, const char *doc = nullptr) {
    nb::object func = detail::FastFunction<F, false>::make(cls, name, std::move(f), std::move(params), doc);
    nb::setattr(cls, name, nb::steal(PyStaticMethod_New(func.ptr())));
}

/// Adds `f` to the built class `cls` as the class method `name`; `f` takes `nb::handle cls` first,
/// then one `nb::handle` per parameter. Each lambda type may be added once.
template <typename F>
void def_fast_classmethod(nb::handle cls, const char *name, F f, std::vector<Param> params, const char *doc = nullptr) {
    nb::object func = detail::FastFunction<F, true>::make(cls, name, std::move(f), std::move(params), doc);
    nb::setattr(cls, name, nb::steal(PyClassMethod_New(func.ptr())));
}

}  // namespace norvale::bind
