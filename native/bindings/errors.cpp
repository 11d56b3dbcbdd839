#include "bindings/errors.h"

#include <new>
#include <stdexcept>
#include <typeinfo>

namespace norvale::bind {

namespace nb = nanobind;

namespace {

PyObject *builtin_type(nb::exception_type type) {
    switch (type) {
        case nb::exception_type::stop_iteration: return PyExc_StopIteration;
        case nb::exception_type::index_error: return PyExc_IndexError;
        case nb::exception_type::key_error: return PyExc_KeyError;
        case nb::exception_type::value_error: return PyExc_ValueError;
        case nb::exception_type::type_error: return PyExc_TypeError;
        case nb::exception_type::buffer_error: return PyExc_BufferError;
        case nb::exception_type::import_error: return PyExc_ImportError;
        case nb::exception_type::attribute_error: return PyExc_AttributeError;
        default: return PyExc_RuntimeError;
    }
}

}  // namespace

void set_error_from_exception() noexcept {
    try {
        throw;
    } catch (nb::python_error &e) {
        e.restore();
    } catch (const nb::builtin_exception &e) {
        PyErr_SetString(builtin_type(e.type()), e.what());
    } catch (const std::bad_alloc &) {
        PyErr_NoMemory();
    } catch (const std::bad_cast &) {
        // Only a value of the wrong kind makes nb::cast fail; say so in Python's terms.
        PyErr_SetString(PyExc_TypeError, "a value of an unexpected type was given to native code");
    } catch (const std::domain_error &e) {
        PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const std::invalid_argument &e) {
        PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const std::length_error &e) {
        PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const std::out_of_range &e) {
        PyErr_SetString(PyExc_IndexError, e.what());
    } catch (const std::range_error &e) {
        PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const std::overflow_error &e) {
        PyErr_SetString(PyExc_OverflowError, e.what());
    } catch (const std::exception &e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "native code raised an exception of unknown type");
    }
}

}  // namespace norvale::bind
