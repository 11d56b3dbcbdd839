// norvale._native: the shared binding helpers exposed to Python for tests, benchmarks and
// kit code that wants them (JSON text and plain data, gzip).

#include "bindings/gzip_compress.h"
#include "bindings/json_writer.h"

#include <nanobind/nanobind.h>

namespace nb = nanobind;

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
    m.def("gzip_backend", &norvale::bind::gzip_backend, "The deflate gzip_compress uses: 'zlib-ng' or 'zlib'.");
}
