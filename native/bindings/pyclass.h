// Helpers every extension module uses to look like a module written in Python.
//
// Classes are assembled at import time as ordinary Python classes (`type(...)`, `abc.ABCMeta(...)`)
// with `ClassBuilder`. Each method, property getter, static or class method is declared once: its
// name, its signature as Python writes it ("(self, name: str, *, x: float = 0.0) -> Node"), its doc
// and the C++ function that does the work. At import that becomes a Python `def` with that
// signature whose body forwards the arguments, in order, to the C++ function, a plain nanobind
// function (norvale/_functions.py). So signatures, argument errors, binding, subclassing, `super()`,
// `unittest.mock.patch` and pickling are the interpreter's own. Kit names a module imports are kept
// in the module's namespace and looked up there at call time.
#pragma once

#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <cstddef>
#include <initializer_list>
#include <string>
#include <type_traits>
#include <utility>

namespace norvale::bind {

namespace nb = nanobind;

/// The namespace of one extension module; functions read its globals at call time.
class ModuleScope {
public:
    /// Binds the scope to the module being initialised (call once, first thing in NB_MODULE).
    void attach(nb::module_ m);
    /// The module object.
    nb::handle module() const { return module_; }
    /// The module's `__name__`.
    const std::string &name() const { return name_; }
    /// Looks `name` up as a Python function body would: module globals, then builtins; NameError otherwise.
    nb::object global(const char *name) const;
    /// The same with a name object; hot paths keep an interned name (see `interned`) to skip the lookup of the text.
    nb::object global(nb::handle name) const;
    /// `from <module> import a, b, ...` into this module's namespace.
    void import_from(const char *module, std::initializer_list<const char *> names) const;
    /// Lets annotations of the module's functions use `names` of `module` without importing them
    /// into the namespace (names of `typing` they may always use).
    void annotation_names(const char *module, std::initializer_list<const char *> names) const;
    /// Sets `__all__` to the given names, in order.
    void set_all(std::initializer_list<const char *> names) const;

private:
    nb::handle module_;
    nb::handle dict_;
    std::string name_;
};

/// An interned `str` that lives for the rest of the process (for names used on hot paths).
nb::handle interned(const char *text);

namespace detail {

template <typename T>
struct arity : arity<decltype(&T::operator())> {};
template <typename C, typename R, typename... A>
struct arity<R (C::*)(A...) const> {
    static constexpr int value = sizeof...(A);
};
template <typename R, typename... A>
struct arity<R (*)(A...)> {
    static constexpr int value = sizeof...(A);
};
template <typename R, typename... A>
struct arity<R (&)(A...)> : arity<R (*)(A...)> {};

enum class Kind { Method, Static, Class };

/// The nanobind function over `work`, taking any object (None included) for each argument.
template <typename F, std::size_t... I>
nb::object native(F &&work, std::index_sequence<I...>) {
    return nb::cpp_function(std::forward<F>(work), ((void)I, nb::arg().none())...);
}
template <typename F>
nb::object native(F &&work) {
    return native(std::forward<F>(work), std::make_index_sequence<arity<std::decay_t<F>>::value>());
}

/// Puts `cls.<name>` in place: a Python function made from the declaration (norvale/_functions.py).
/// `native` does the work (or `body`, Python source, when it is null); `arity` is its argument count.
void define(nb::handle cls, const char *name, const char *signature, const char *doc, nb::handle native, int arity,
            Kind kind, const char *body = nullptr);

}  // namespace detail

/// Assembles one Python class: a namespace filled with C++ methods, then `metaclass(name, bases, ns)`.
class ClassBuilder {
public:
    /// `bases` is a tuple of base classes (empty for `object`); `metaclass` defaults to `type`.
    ClassBuilder(const ModuleScope &scope, const char *name, nb::tuple bases = nb::tuple(),
                 nb::handle metaclass = nb::handle());

    /// Sets the class docstring.
    ClassBuilder &doc(const char *text);
    /// Puts any value in the class namespace (class attributes, descriptors).
    ClassBuilder &attr(const char *name, nb::handle value);

    /// A read-only property `name` whose getter `(self) -> <returns>` is `getter(self)`.
    template <typename Func>
    ClassBuilder &def_property(const char *name, const char *returns, Func &&getter, const char *docstring = nullptr) {
        // self is never None: the getter takes the dispatcher's simplest path
        ns_[name] = getter_property(name, returns, nb::cpp_function(std::forward<Func>(getter)), docstring, false);
        return *this;
    }

    /// The same with the getter marked abstract (`@property` over `@abstractmethod`, for ABCs).
    template <typename Func>
    ClassBuilder &def_abstract_property(const char *name, const char *returns, Func &&getter,
                                        const char *docstring = nullptr) {
        ns_[name] = getter_property(name, returns, detail::native(std::forward<Func>(getter)), docstring, true);
        return *this;
    }

    /// A read-only property whose getter's body is Python source (see def_python).
    ClassBuilder &def_python_property(const char *name, const char *returns, const char *body,
                                      const char *docstring = nullptr);

    /// Creates the class, stores it in the module under its name and returns it.
    nb::object finish();

private:
    nb::object getter_property(const char *name, const char *returns, nb::handle getter, const char *docstring,
                               bool abstract, const char *body = nullptr);

    const ModuleScope &scope_;
    std::string name_;
    nb::tuple bases_;
    nb::object metaclass_;
    nb::dict ns_;
};

/// `cls.<name>`: a method with `signature` ("(self, a: int, *, b: str = 'x') -> None") whose body
/// forwards self and every argument, in the signature's order, to `work`, which takes one
/// `nb::handle` each (self included) and returns an object or nothing.
template <typename F>
void def_method(nb::handle cls, const char *name, const char *signature, F &&work, const char *doc = nullptr) {
    constexpr int n = detail::arity<std::decay_t<F>>::value;
    detail::define(cls, name, signature, doc, detail::native(std::forward<F>(work)), n, detail::Kind::Method);
}

/// The same as a static method (no self).
template <typename F>
void def_static(nb::handle cls, const char *name, const char *signature, F &&work, const char *doc = nullptr) {
    constexpr int n = detail::arity<std::decay_t<F>>::value;
    detail::define(cls, name, signature, doc, detail::native(std::forward<F>(work)), n, detail::Kind::Static);
}

/// The same as a class method (`cls` first).
template <typename F>
void def_classmethod(nb::handle cls, const char *name, const char *signature, F &&work, const char *doc = nullptr) {
    constexpr int n = detail::arity<std::decay_t<F>>::value;
    detail::define(cls, name, signature, doc, detail::native(std::forward<F>(work)), n, detail::Kind::Class);
}

/// A method whose work is the interpreter's own protocols (`with`, unpacking, `raise ... from
/// None` in an `except`): its body is Python source, run in the module's namespace.
void def_python(nb::handle cls, const char *name, const char *signature, const char *body, const char *doc = nullptr);

/// The same with C++ work the body calls as `_native(...)` (for a hot method whose body calls a
/// Python class: a call from Python code enters its `__init__` without a fresh interpreter entry).
template <typename F>
void def_python(nb::handle cls, const char *name, const char *signature, const char *body, F &&work,
                const char *doc = nullptr) {
    detail::define(cls, name, signature, doc, detail::native(std::forward<F>(work)), -1, detail::Kind::Method, body);
}

/// The same as a class method (`cls` first), its C++ work called as `_native(cls, ...)`.
template <typename F>
void def_python_classmethod(nb::handle cls, const char *name, const char *signature, const char *body, F &&work,
                            const char *doc = nullptr) {
    detail::define(cls, name, signature, doc, detail::native(std::forward<F>(work)), -1, detail::Kind::Class, body);
}

/// `super(cls, self)`: the proxy a Python method defined in `cls` gets from a bare `super()`.
nb::object super_of(nb::handle cls, nb::handle self);

/// Creates `enum.Enum` (or the given enum base, e.g. a `str`-mixin enum) from (name, value) pairs.
nb::object make_enum(const ModuleScope &scope, const char *name, nb::list members, const char *docstring,
                     nb::handle mixin = nb::handle());

/// Raises `exc_type(*args)` "from None": no cause, context suppressed.
/// `context`: the error being handled, which becomes `__context__` as it would in an `except` block.
[[noreturn]] void raise_from_none(nb::handle exc_type, nb::handle message, nb::handle context = nb::handle());
[[noreturn]] void raise_from_none(nb::handle exc_type, const char *message, nb::handle context = nb::handle());
/// Raises `exc_type(message)` with `__cause__` set to `cause`.
[[noreturn]] void raise_with_cause(nb::handle exc_type, nb::handle message, nb::handle cause);
/// Raises `exc_type(args...)` as a Python `raise exc_type(...)` would (no explicit cause).
[[noreturn]] void raise_new(nb::handle exc_type, nb::handle message);
/// Raises `exc_type()` without arguments.
[[noreturn]] void raise_bare(nb::handle exc_type);

/// True when the pending/caught error `e` is an instance of `exc_type` (e.g. KeyError).
bool error_matches(const nb::python_error &e, nb::handle exc_type);

/// Builtin type or exception by name (`"KeyError"`, `"ValueError"`, ...).
nb::object builtin(const char *name);

/// Bytes of a job input: `obj.getvalue()` when `isinstance(obj, bytes_io)`, else `obj.getvalue_binary()`
/// (a kit `File`). Pass the module's `BytesIO` global so patching it takes effect.
nb::object input_bytes(nb::handle obj, nb::handle bytes_io);

/// Truth value of `obj`, as Python's `if obj:` (may raise).
bool truthy(nb::handle obj);

/// The Base64 text (standard alphabet, padded) of a bytes-like object, as `str`.
nb::object b64encode_text(nb::handle bytes_like);

}  // namespace norvale::bind
