// C++ exceptions turned into Python errors at every native entry point.
//
// nanobind's own functions translate what their bodies throw; entry points that nanobind does not
// dispatch (native method objects, type slots, callbacks handed to the interpreter) call
// `set_error_from_exception()` in a `catch (...)` so that they translate the same way.
#pragma once

#include <nanobind/nanobind.h>

#include <utility>

namespace norvale::bind {

/// Sets the Python error for the C++ exception being handled (call it inside a `catch` block):
/// a `python_error` is restored, nanobind's builtin exceptions (`nb::type_error`, ...) become
/// their Python types, `std::bad_alloc` MemoryError, a failed `nb::cast` (`std::bad_cast`)
/// TypeError, the standard logic and range errors ValueError / IndexError / OverflowError, any
/// other `std::exception` RuntimeError with its text, and anything else SystemError.
void set_error_from_exception() noexcept;

/// Runs `body()` and returns its result (a new reference), or nullptr with the Python error set
/// when it throws.
template <typename Body>
PyObject *guarded(Body &&body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        set_error_from_exception();
        return nullptr;
    }
}

}  // namespace norvale::bind
