// Instantiating a plain value class of the kit without running its Python constructor.
//
// Calling a Python class from C costs a fresh entry into the interpreter for its __init__, which
// for a small object such as a node is a large part of a create-call. A class whose __init__ does
// nothing but store its positional arguments, as given, in instance attributes can be built
// directly instead: allocate it the way object.__new__ does and set the attributes.
//
// The direct way is taken only for the very class (and __init__ code) seen when the module was
// loaded, while the class is unchanged (same version tag: patching the class or a base changes it)
// and its module namespace too (watched; the builtins __init__ checks with may not be shadowed there),
// and for arguments of the kinds the __init__ is known to store unchecked. Before the first use
// per class version the class is checked by building two probe objects through the class itself:
// each argument must land, as the same object, in its attribute, and nothing else may be set. Anything
// else (a patched module global, a Mock, another kind of argument, a probe that does not match)
// goes through the ordinary call.
#pragma once

#include <Python.h>

#include <cstddef>
#include <initializer_list>
#include <utility>
#include <vector>

namespace norvale::tarsis::model {

class DirectInit {
public:
    /// What __init__ stores without looking at it: anything, an exact str, an exact int or float.
    enum Accept : unsigned char { any, text, number };

    /// `cls` is the class as loaded; `attributes` names, in argument order, the attribute each
    /// positional argument goes to and which arguments the direct way accepts.
    DirectInit(PyObject *cls, std::initializer_list<std::pair<const char *, Accept>> attributes);

    /// A new instance of `cls` made the direct way, or nullptr (no error set) when `cls` or the
    /// arguments need the ordinary call. Raises (returns nullptr with an error set) only when the
    /// allocation fails.
    PyObject *make(PyObject *cls, PyObject *const *args, std::size_t nargs);

private:
    bool verify();
    bool probe(bool numbers_as_ints);

    PyTypeObject *type_ = nullptr;  // strong
    PyObject *init_ = nullptr;      // __init__ as loaded, strong
    PyObject *code_ = nullptr;      // its code object, strong
    std::vector<PyObject *> names_;
    std::vector<Accept> accept_;
    unsigned int verified_ = 0;  // version tag the checks passed for (0: none)
    unsigned int refused_ = 0;   // version tag the checks failed for (0: none)
    unsigned long long verified_changes_ = ~0ULL;  // changes of __init__'s module namespace seen then
    unsigned long long refused_changes_ = ~0ULL;
};

}  // namespace norvale::tarsis::model
