// Python objects made on first use, without a C++ guard.
//
// A function-local `static` with a dynamic initializer is guarded by a lock the GIL cannot see:
// when the initializer runs Python code (an import, a call, even a finalizer that a collection
// runs while an object is allocated) the interpreter may switch threads, and a second thread
// that reaches the same static waits in the guard while holding the GIL, so the first can never
// finish. `LazyObject` has a constant initializer (no guard); it relies on the GIL instead. When
// making the value lets another thread in, that thread makes one too; the first stored is kept
// and every caller gets that one.
#pragma once

#include <nanobind/nanobind.h>

namespace norvale::bind {

/// A Python object made by `make()` the first time `get` is called (call with the GIL held).
/// The reference is kept for the life of the process.
class LazyObject {
public:
    constexpr LazyObject() = default;

    template <typename Make>
    nanobind::handle get(Make &&make) {
        if (value_ != nullptr) return value_;
        nanobind::object made = make();  // may run Python code and let other threads in
        if (value_ == nullptr) value_ = made.release().ptr();
        return value_;
    }

private:
    PyObject *value_ = nullptr;
};

}  // namespace norvale::bind
