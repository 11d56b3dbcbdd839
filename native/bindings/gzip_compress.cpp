#include "gzip_compress.h"

#include "engine/gzip/gzip.h"

namespace norvale::bind {
namespace nb = nanobind;
namespace {

/// Deflates blocks with zlib_ng.compressobj; its compress() runs without the GIL, so two
/// blocks still deflate at the same time.
class ZlibNgDeflater final : public engine::gzip::BlockDeflater {
public:
    explicit ZlibNgDeflater(PyObject *compressobj) : compressobj_(compressobj) {}

    void deflate(const std::uint8_t *dict, std::size_t dict_size, const std::uint8_t *data, std::size_t size,
                 bool last, int level, std::string &out) override {
        PyGILState_STATE st = PyGILState_Ensure();
        bool ok = run(dict, dict_size, data, size, last, level, out);
        if (!ok) PyErr_Clear();
        PyGILState_Release(st);
        if (!ok) throw engine::gzip::Error("zlib-ng deflate failed");
    }

private:
    bool run(const std::uint8_t *dict, std::size_t dict_size, const std::uint8_t *data, std::size_t size, bool last,
             int level, std::string &out) {
        // compressobj(level, DEFLATED, -15 (raw), memLevel 8, Z_DEFAULT_STRATEGY[, zdict])
        PyObject *args = dict_size
            ? Py_BuildValue("(iiiiiy#)", level, 8, -15, 8, 0, reinterpret_cast<const char *>(dict), static_cast<Py_ssize_t>(dict_size))
            : Py_BuildValue("(iiiii)", level, 8, -15, 8, 0);
        if (!args) return false;
        PyObject *z = PyObject_Call(compressobj_, args, nullptr);
        Py_DECREF(args);
        if (!z) return false;
        // A copy, not a view: Python code must never hold a view of memory it does not own.
        PyObject *block = PyBytes_FromStringAndSize(reinterpret_cast<const char *>(data), static_cast<Py_ssize_t>(size));
        PyObject *head = block ? PyObject_CallMethod(z, "compress", "O", block) : nullptr;
        Py_XDECREF(block);
        PyObject *tail = head ? PyObject_CallMethod(z, "flush", "i", last ? 4 /* Z_FINISH */ : 2 /* Z_SYNC_FLUSH */) : nullptr;
        Py_DECREF(z);
        bool ok = head && tail && PyBytes_Check(head) && PyBytes_Check(tail);
        if (ok) {
            out.assign(PyBytes_AS_STRING(head), static_cast<std::size_t>(PyBytes_GET_SIZE(head)));
            out.append(PyBytes_AS_STRING(tail), static_cast<std::size_t>(PyBytes_GET_SIZE(tail)));
        }
        Py_XDECREF(head);
        Py_XDECREF(tail);
        return ok;
    }

    PyObject *compressobj_;
};

/// The zlib-ng deflater, or nullptr when zlib_ng cannot be imported. Looked up on first use
/// and kept for the life of the process. No C++ static guard: the import lets other threads
/// run, and one of them waiting in a guard with the GIL held would never let it finish. A
/// thread that comes here during the import looks it up too; the first answer stored is kept.
engine::gzip::BlockDeflater *zlib_ng_deflater() {
    enum class State { Unknown, Absent, Present };
    static State state = State::Unknown;
    static engine::gzip::BlockDeflater *instance = nullptr;
    if (state != State::Unknown) return instance;
    PyObject *mod = PyImport_ImportModule("zlib_ng.zlib_ng");
    PyObject *fn = mod ? PyObject_GetAttrString(mod, "compressobj") : nullptr;
    Py_XDECREF(mod);
    if (!fn) PyErr_Clear();
    if (state != State::Unknown) {  // another thread answered while this one imported
        Py_XDECREF(fn);
        return instance;
    }
    if (fn) instance = new ZlibNgDeflater(fn);  // owns fn for the life of the process
    state = fn ? State::Present : State::Absent;
    return instance;
}

}  // namespace

const char *gzip_backend() { return zlib_ng_deflater() ? "zlib-ng" : "zlib"; }

std::string gzip_compress(const std::uint8_t *data, std::size_t n, int level, bool zlib_ng) {
    engine::gzip::Options opt;
    opt.level = level;
    opt.deflater = zlib_ng ? zlib_ng_deflater() : nullptr;
    std::string out;
    std::string error;
    {
        nb::gil_scoped_release unlocked;
        try {
            out = engine::gzip::compress(data, n, opt);
        } catch (const engine::gzip::Error &e) {
            error = e.what();
        }
    }
    if (!error.empty()) throw std::runtime_error("gzip compression failed: " + error);
    return out;
}

}  // namespace norvale::bind
