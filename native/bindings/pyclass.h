// Helpers every extension module uses to look like a module written in Python.
//
// Classes are assembled at import time as ordinary Python classes (`type(...)`, `abc.ABCMeta(...)`)
// with `ClassBuilder`; their methods and property getters are C++ functions that bind like Python
// functions (`fastmethod.h`). So subclassing, `super()`, instance `__dict__`, ABCs, properties and
// `unittest.mock.patch` behave as users expect. Kit names a module imports are kept in the module's
// namespace and looked up there at call time.
#pragma once

#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include "bindings/fastmethod.h"

#include <functional>
#include <initializer_list>
#include <string>
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
    /// Sets `__all__` to the given names, in order.
    void set_all(std::initializer_list<const char *> names) const;
    /// Lets the module's functions find their annotations in the module's stub later (call last
    /// in the module's initialisation, once every name is in place).
    void remember_stub() const;

private:
    nb::handle module_;
    nb::handle dict_;
    std::string name_;
};

/// An interned `str` that lives for the rest of the process (for names used on hot paths).
nb::handle interned(const char *text);

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

    /// A read-only property whose getter takes the instance (a native function, like the methods).
    template <typename Func>
    ClassBuilder &def_property_readonly(const char *name, Func &&getter, const char *docstring = nullptr) {
        ns_[name] = property(getter_function(name, std::forward<Func>(getter), docstring), docstring);
        return *this;
    }

    /// A read-only property whose getter is marked abstract (for ABCs).
    template <typename Func>
    ClassBuilder &def_abstract_property(const char *name, Func &&getter, const char *docstring = nullptr) {
        ns_[name] = abstract_property(getter_function(name, std::forward<Func>(getter), docstring), docstring);
        return *this;
    }

    /// Creates the class, stores it in the module under its name and returns it.
    nb::object finish();

    /// Wrapping helpers, usable on their own.
    static nb::object property(nb::handle fget, const char *docstring = nullptr);
    /// A property that ABCs count as abstract: its getter is marked `__isabstractmethod__`.
    static nb::object abstract_property(nb::handle fget, const char *docstring = nullptr);

private:
    template <typename Func>
    nb::object getter_function(const char *name, Func &&getter, const char *docstring) {
        return detail::new_native_getter(
            scope_.name(), name_ + "." + name, name,
            [g = std::forward<Func>(getter)](nb::handle self) -> nb::object { return nb::object(g(self)); },
            docstring);
    }

    const ModuleScope &scope_;
    std::string name_;
    nb::tuple bases_;
    nb::object metaclass_;
    nb::dict ns_;
};

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

/// `a, b = obj`: unpacks exactly two items, raising the interpreter's own TypeError/ValueError texts.
std::pair<nb::object, nb::object> unpack_pair(nb::handle obj);

/// `with manager as value: result = body(value)`, as the interpreter runs it: `__enter__` and
/// `__exit__` looked up on the type, `__exit__` called with the error (or three Nones) on every
/// path, an error it answers with a true value suppressed. Returns the body's result, or an
/// invalid object when an error was suppressed.
nb::object with_context(nb::handle manager, const std::function<nb::object(nb::handle)> &body);

/// Truth value of `obj`, as Python's `if obj:` (may raise).
bool truthy(nb::handle obj);

/// The Base64 text (standard alphabet, padded) of a bytes-like object, as `str`.
nb::object b64encode_text(nb::handle bytes_like);

/// Records the standard-library function `module.name` as it is now; call it when the extension
/// module is imported, before anyone could have patched it.
void remember_stdlib(const char *module, const char *name);
/// True while `module_global` (an extension module's global holding the standard-library `module`)
/// is that module and its `name` is the function remembered at import. Then a native equivalent
/// may stand in for the call; a patched global or function is called instead.
bool stdlib_unpatched(nb::handle module_global, const char *module, const char *name);

/// `base64.b64encode(data).decode("utf-8")` through the module's `base64` global: native unless
/// the global or its function is patched.
nb::object b64encode_text(nb::handle base64_global, nb::handle data);

}  // namespace norvale::bind
