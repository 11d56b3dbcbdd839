// norvale._native: the shared binding helpers exposed to Python for tests, benchmarks and
// kit code that wants them (JSON text and plain data, gzip).

#include "bindings/errors.h"
#include "bindings/gzip_compress.h"
#include "bindings/json_writer.h"
#include "bindings/xml_rows.h"
#include "bindings/xml_tables.h"

#include "engine/base64/base64.h"

#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <sys/stat.h>

namespace nb = nanobind;

namespace {

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};

[[noreturn]] void raise_os_error(int error, const std::string &path) {
    errno = error;
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
    throw nb::python_error();
}

/// The Base64 text (standard alphabet, padded, no line breaks) of the file at `path`, read in
/// pieces straight into the new text: memory is the text and one piece, never the file's bytes too.
nb::object b64encode_file(const std::string &path) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) raise_os_error(errno, path);
    struct stat st {};
    if (fstat(fileno(file.get()), &st) != 0) raise_os_error(errno, path);
    const std::size_t size = static_cast<std::size_t>(st.st_size);
    PyObject *text = PyUnicode_New(static_cast<Py_ssize_t>(norvale::engine::base64::encoded_size(size)), 127);
    if (!text) throw nb::python_error();
    nb::object result = nb::steal(text);
    char *out = static_cast<char *>(PyUnicode_DATA(text));
    constexpr std::size_t kPiece = 3u << 20;  // a multiple of 3, so the pieces' encodings join
    std::unique_ptr<unsigned char[]> piece(new unsigned char[kPiece]);
    std::size_t done = 0;
    int read_error = 0;
    bool changed = false;
    {
        nb::gil_scoped_release nogil;
        while (done < size) {
            const std::size_t want = size - done < kPiece ? size - done : kPiece;
            const std::size_t got = std::fread(piece.get(), 1, want, file.get());
            if (got != want) {
                if (std::ferror(file.get())) read_error = errno ? errno : EIO;
                else changed = true;
                break;
            }
            norvale::engine::base64::encode(piece.get(), got, out);
            out += norvale::engine::base64::encoded_size(got);
            done += got;
        }
        if (!read_error && !changed && std::fgetc(file.get()) != EOF) changed = true;
    }
    if (read_error) raise_os_error(read_error, path);
    if (changed) {
        PyErr_Format(PyExc_OSError, "the file '%s' changed size while it was read", path.c_str());
        throw nb::python_error();
    }
    return result;
}

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
    norvale::bind::add_xml_rows(m);
    norvale::bind::add_xml_tables(m);
    m.def(
        "gzip_compress",
        [](nb::bytes data, int level, bool zlib_ng) {
            std::string out = norvale::bind::gzip_compress(reinterpret_cast<const std::uint8_t *>(data.c_str()),
                                                           data.size(), level, zlib_ng);
            return nb::bytes(out.data(), out.size());
        },
        nb::arg("data"), nb::arg("level") = 9, nb::kw_only(), nb::arg("zlib_ng") = true,
        "One gzip member of data, deflated in blocks on both cores (with zlib-ng if installed and allowed).");
    m.def("b64encode_file", &b64encode_file, nb::arg("path"),
          "The Base64 text of the file at path, read in pieces (memory: the text and one 3 MiB piece).");
    nb::setattr(m, "_raise_cpp", nb::steal(PyCFunction_New(&raise_cpp_def, nullptr)));
    m.def("gzip_backend", &norvale::bind::gzip_backend, "The deflate gzip_compress uses: 'zlib-ng' or 'zlib'.");
}
