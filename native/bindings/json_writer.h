// JSON text and JSON plain data from Python objects, exactly as the json module makes them.
//
// dump() writes what json.dumps(obj, default=hook) returns at its default settings (ASCII only,
// ", " and ": " separators, NaN/Infinity allowed, circular references refused); to_plain()
// returns what json.loads() makes of that text, without producing the text.
#pragma once

#include "engine/json/buffer.h"

#include <nanobind/nanobind.h>

namespace norvale::bind::json {

namespace nb = nanobind;

/// Turns an object the encoder does not know into one it may know: a new reference, or
/// nullptr with a Python error set.
using HookFn = PyObject *(*)(PyObject *obj, void *ctx);

/// The `default` of json.dumps. An empty hook raises TypeError as json.dumps does without one.
struct Hook {
    HookFn fn = nullptr;
    void *ctx = nullptr;
};

/// Hook that calls obj._serialize() with no arguments.
Hook serialize_method_hook();

/// Hook that calls a Python callable with the object (the callable must outlive the hook's use).
Hook callable_hook(nb::handle callable);

/// Appends the JSON text of obj (ASCII) to out. Throws nb::python_error on failure.
void dump(nb::handle obj, engine::json::TextBuffer &out, Hook hook = {});

/// The JSON text of obj as a str.
nb::str dumps(nb::handle obj, Hook hook = {});

/// json.loads(json.dumps(obj, default=hook)), computed directly. Immutable leaves of exact
/// builtin types are shared with obj rather than copied.
nb::object to_plain(nb::handle obj, Hook hook = {});

/// Same as to_plain() for an object the caller owns exclusively (its only reference): containers
/// that no one else can see are converted in place instead of copied.
nb::object to_plain_owned(nb::object obj, Hook hook = {});

/// Registers json_dumps(obj, default=None) and json_to_plain(obj, default=None) on m, for tests
/// and for modules that want the writer from Python.
void add_json_functions(nb::module_ &m);

}  // namespace norvale::bind::json
