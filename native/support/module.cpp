// norvale._native: the shared binding helpers exposed to Python for tests, benchmarks and
// kit code that wants them (JSON text and plain data, gzip).

#include "bindings/errors.h"
#include "bindings/gzip_compress.h"
#include "bindings/json_writer.h"

#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace {

/// `_raise_cpp(kind)`: throws the C++ exception named by `kind` through the translation every
/// native entry point uses (for tests). A plain C function, so nanobind's dispatcher is not involved.
PyObject *raise_cpp(PyObject *, PyObject *kind) {
    return norvale::bind::guarded([&]() -> PyObject * {
        const char *k = PyUnicode_AsUTF8(kind);
        if (k == nullptr) throw nb::python_error();
        std::string name(k);
        if (name == "bad_alloc") throw std::bad_alloc();
        if (name == "bad_cast") nb::cast<int>(nb::handle(kind));
        if (name == "type_error") throw nb::type_error("type_error text");
        if (name == "key_error") throw nb::key_error("key_error text");
        if (name == "invalid_argument") throw std::invalid_argument("invalid_argument text");
        if (name == "out_of_range") throw std::out_of_range("out_of_range text");
        if (name == "overflow_error") throw std::overflow_error("overflow_error text");
        if (name == "runtime_error") throw std::runtime_error("runtime_error text");
        if (name == "python_error") {
            PyErr_SetString(PyExc_LookupError, "python_error text");
            throw nb::python_error();
        }
        if (name == "unknown") throw 42;
        Py_RETURN_NONE;
    });
}

PyMethodDef raise_cpp_def = {"_raise_cpp", raise_cpp, METH_O, "Throws a C++ exception by name (for tests)."};

}  // namespace

NB_MODULE(_native, m) {
    m.doc() = "Native helpers shared by the kit's modules.";
    norvale::bind::json::add_json_functions(m);
    m.def(
        "gzip_compress",
        [](nb::bytes data, int level, bool zlib_ng) {
            std::string out = norvale::bind::gzip_compress(reinterpret_cast<const std::uint8_t *>(data.c_str()),
                                                           data.size(), level, zlib_ng);
            return nb::bytes(out.data(), out.size());
        },
        nb::arg("data"), nb::arg("level") = 9, nb::kw_only(), nb::arg("zlib_ng") = true,
        "One gzip member of data, deflated in blocks on both cores (with zlib-ng if installed and allowed).");
    nb::setattr(m, "_raise_cpp", nb::steal(PyCFunction_New(&raise_cpp_def, nullptr)));
    m.def("gzip_backend", &norvale::bind::gzip_backend, "The deflate gzip_compress uses: 'zlib-ng' or 'zlib'.");
}
