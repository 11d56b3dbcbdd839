#include "xml_stream.h"

#include "bindings/lazy.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace norvale::tarsis {

namespace xml = norvale::engine::xml;

namespace {

std::string g_namespace;

/// Thrown by PyReadSource when read() gives something other than bytes.
struct NotBytes {};

/// A type of the io module, looked up on first use.
nb::handle io_type(norvale::bind::LazyObject &slot, const char *name) {
    return slot.get([&] { return nb::object(nb::module_::import_("io").attr(name)); });
}

/// True when `read` was set on the stream object itself (patched): then the stream is read
/// through it, whatever its type.
bool read_patched(nb::handle stream) {
    nb::object dict = nb::steal(PyObject_GetAttrString(stream.ptr(), "__dict__"));
    if (!dict.is_valid()) {
        PyErr_Clear();
        return false;
    }
    return PyDict_Check(dict.ptr()) && PyDict_GetItemString(dict.ptr(), "read") != nullptr;
}

/// A binary file from open(): exactly a BufferedReader or a FileIO, its read() not patched.
bool is_open_file(nb::handle stream) {
    static norvale::bind::LazyObject buffered, raw;
    PyTypeObject *type = Py_TYPE(stream.ptr());
    return (type == reinterpret_cast<PyTypeObject *>(io_type(buffered, "BufferedReader").ptr()) ||
            type == reinterpret_cast<PyTypeObject *>(io_type(raw, "FileIO").ptr())) &&
           !read_patched(stream);
}

/// Reads a stream with its read(), copying each piece into the engine's buffer. (Python code is
/// never handed a view of that buffer: a readinto() could keep one after the buffer is gone.)
class PyReadSource : public xml::ChunkSource {
public:
    explicit PyReadSource(nb::handle stream) : read_(stream.attr("read")) {}
    size_t read(char *dst, size_t cap) override {
        nb::object data = read_(cap);
        if (!PyBytes_CheckExact(data.ptr())) throw NotBytes{};
        size_t n = static_cast<size_t>(PyBytes_GET_SIZE(data.ptr()));
        if (n > cap) throw NotBytes{};
        std::memcpy(dst, PyBytes_AS_STRING(data.ptr()), n);
        return n;
    }

private:
    nb::object read_;
};

/// Reads a file descriptor from an offset with pread straight into the engine's buffer. Touches no
/// Python object, so the whole search runs without the GIL. (Reading one piece ahead on a second
/// thread was measured here and gained nothing: the copy out of the page cache is not hidden.)
class FdSource : public xml::ChunkSource {
public:
    FdSource(int fd, uint64_t offset) : fd_(fd), offset_(offset) {}
    size_t read(char *dst, size_t cap) override {
        for (;;) {
            ssize_t r = ::pread(fd_, dst, cap, static_cast<off_t>(offset_));
            if (r >= 0) {
                offset_ += static_cast<uint64_t>(r);
                return static_cast<size_t>(r);
            }
            if (errno != EINTR) {
                error_ = errno;
                return 0;
            }
        }
    }
    /// errno of a failed read, 0 when every read succeeded.
    int error() const { return error_; }

private:
    int fd_;
    uint64_t offset_;
    int error_ = 0;
};

/// The descriptor of a file opened with open() (FileIO or BufferedReader) that can be read with
/// pread; -1 for any other stream.
int plain_file_descriptor(nb::handle stream) {
    if (!is_open_file(stream)) return -1;
    try {
        if (!norvale::bind::truthy(stream.attr("seekable")())) return -1;
        nb::object fd = stream.attr("fileno")();
        int value = -1;
        if (!nb::try_cast<int>(fd, value)) return -1;
        return value;
    } catch (nb::python_error &) {
        return -1;
    }
}

/// Runs `search(source)` over the file descriptor from `start`, without the GIL; a failed read
/// raises OSError.
template <class Search>
auto search_fd(int fd, uint64_t start, Search &&search) {
    decltype(search(std::declval<FdSource &>())) r;
    int error = 0;
    {
        nb::gil_scoped_release unlocked;
        FdSource source(fd, start);
        r = search(source);
        error = source.error();
    }
    if (error != 0) {
        errno = error;
        PyErr_SetFromErrno(PyExc_OSError);
        throw nb::python_error();
    }
    return r;
}

/// A BytesIO's content from its current position, without copying: getvalue() of a plain
/// BytesIO hands out the bytes object it holds.
struct BytesIOView {
    nb::object bytes;
    size_t pos = 0;
    const char *data() const { return PyBytes_AS_STRING(bytes.ptr()) + pos; }
    size_t size() const { return static_cast<size_t>(PyBytes_GET_SIZE(bytes.ptr())) - pos; }
};

bool is_exact_bytesio(nb::handle obj) {
    static norvale::bind::LazyObject bytes_io;
    return Py_TYPE(obj.ptr()) == reinterpret_cast<PyTypeObject *>(io_type(bytes_io, "BytesIO").ptr()) &&
           !read_patched(obj);
}

/// The content of a BytesIO from `pos` (its position, as its tell() gave it); false when its
/// getvalue() gives no bytes object (patched on the instance), and the stream must be read.
bool export_bytesio(nb::handle stream, uint64_t pos, BytesIOView &v) {
    v.bytes = stream.attr("getvalue")();
    if (!PyBytes_CheckExact(v.bytes.ptr())) return false;
    size_t len = static_cast<size_t>(PyBytes_GET_SIZE(v.bytes.ptr()));
    v.pos = pos > len ? len : static_cast<size_t>(pos);
    return true;
}

/// Where a parse reading 16 KiB at a time stands once it has seen the byte before `end`.
uint64_t after_chunks(uint64_t end, uint64_t available) {
    constexpr uint64_t kStep = 16 * 1024;
    uint64_t pos = (end + kStep - 1) / kStep * kStep;
    return pos < available ? pos : available;
}

}  // namespace

const std::string &tarsis_namespace() { return g_namespace; }

void load_tarsis_namespace() {
    g_namespace = nb::cast<std::string>(nb::module_::import_("norvale.external.tarsis").attr("TARSIS_NAMESPACE"));
}

nb::object element_tree() {
    static norvale::bind::LazyObject et;
    return nb::borrow(et.get([] { return nb::object(nb::module_::import_("xml.etree.ElementTree")); }));
}

std::optional<std::string> exact_utf8(nb::handle obj) {
    if (!PyUnicode_CheckExact(obj.ptr())) return std::nullopt;
    Py_ssize_t n = 0;
    const char *s = PyUnicode_AsUTF8AndSize(obj.ptr(), &n);
    if (!s) {
        PyErr_Clear();  // lone surrogates: no document can hold them, the host parser decides
        return std::nullopt;
    }
    return std::string(s, static_cast<size_t>(n));
}

std::optional<xml::TableResult> search_table(nb::handle file, uint64_t start, const xml::TableQuery &query) {
    if (is_exact_bytesio(file)) {
        xml::TableResult r;
        size_t size;
        {
            BytesIOView v;
            if (!export_bytesio(file, start, v)) return std::nullopt;
            size = v.size();
            nb::gil_scoped_release unlocked;
            r = xml::find_table(v.data(), v.size(), query);
        }
        if (r.outcome == xml::Outcome::Found) file.attr("seek")(start + after_chunks(r.end, size));
        else if (r.outcome == xml::Outcome::NotFound) file.attr("seek")(start + size);
        return r;
    }
    if (int fd = plain_file_descriptor(file); fd >= 0) {
        xml::TableResult r = search_fd(fd, start, [&](FdSource &source) {
            return xml::find_table(source, query, kReadChunk);
        });
        if (r.outcome == xml::Outcome::Found) file.attr("seek")(start + after_chunks(r.end, r.read));
        else if (r.outcome == xml::Outcome::NotFound) file.attr("seek")(start + r.read);
        return r;
    }
    if (!nb::hasattr(file, "read")) return std::nullopt;
    try {
        PyReadSource source(file);
        xml::TableResult r = xml::find_table(source, query, kReadChunk);
        if (r.outcome == xml::Outcome::Found) file.attr("seek")(start + after_chunks(r.end, r.read));
        return r;
    } catch (const NotBytes &) {
        return std::nullopt;
    }
}

/// The stream's position as a plain int; false when tell() gives anything else.
bool position(nb::handle file, uint64_t &pos) {
    nb::object value = file.attr("tell")();
    return PyLong_CheckExact(value.ptr()) && nb::try_cast<uint64_t>(value, pos);
}

std::optional<xml::DefResult> search_def(nb::handle file) {
    uint64_t start = 0;
    if (is_exact_bytesio(file)) {
        BytesIOView v;
        if (!position(file, start) || !export_bytesio(file, start, v)) return std::nullopt;
        nb::gil_scoped_release unlocked;
        return xml::find_def(v.data(), v.size(), g_namespace);
    }
    if (int fd = plain_file_descriptor(file); fd >= 0) {
        if (!position(file, start)) return std::nullopt;
        xml::DefResult r = search_fd(fd, start, [&](FdSource &source) {
            return xml::find_def(source, g_namespace, kReadChunk);
        });
        file.attr("seek")(start + r.read);  // where reading the document through would leave it
        return r;
    }
    if (!nb::hasattr(file, "read")) return std::nullopt;
    try {
        PyReadSource source(file);
        return xml::find_def(source, g_namespace, kReadChunk);
    } catch (const NotBytes &) {
        return std::nullopt;
    }
}

nb::object to_element(const xml::Tree &tree, int32_t node) {
    nb::object element_cls = element_tree().attr("Element");
    std::vector<nb::object> names(tree.names.size());
    auto name = [&](uint32_t id) -> nb::object & {
        nb::object &o = names[id];
        if (!o.is_valid()) {
            const std::string &k = tree.names[id].key;
            o = nb::steal(PyUnicode_DecodeUTF8(k.data(), static_cast<Py_ssize_t>(k.size()), nullptr));
            if (!o.is_valid()) throw nb::python_error();
        }
        return o;
    };
    auto text = [&](const xml::Tree::Span &s) -> nb::object {
        if (!s.present) return nb::none();
        nb::object o = nb::steal(PyUnicode_DecodeUTF8(tree.pool.data() + s.off, static_cast<Py_ssize_t>(s.len), nullptr));
        if (!o.is_valid()) throw nb::python_error();
        return o;
    };
    auto make = [&](int32_t id) {
        const xml::Tree::Node &n = tree.nodes[static_cast<size_t>(id)];
        nb::dict attrib;
        for (uint32_t i = 0; i < n.attr_count; ++i) {
            const xml::Tree::Attr &a = tree.attrs[n.attr_begin + i];
            xml::Tree::Span s{a.off, a.len, true};
            attrib[name(a.key)] = text(s);
        }
        nb::object e = element_cls(name(n.tag), attrib);
        if (n.text.present) e.attr("text") = text(n.text);
        return e;
    };
    // Iterative depth-first construction: (tree node, its element).
    nb::object root = make(node);
    std::vector<std::pair<int32_t, nb::object>> stack;
    stack.emplace_back(node, root);
    while (!stack.empty()) {
        auto [id, elem] = std::move(stack.back());
        stack.pop_back();
        for (int32_t c = tree.nodes[static_cast<size_t>(id)].first_child; c != xml::Tree::kNone;
             c = tree.nodes[static_cast<size_t>(c)].next_sibling) {
            nb::object child = make(c);
            const xml::Tree::Node &cn = tree.nodes[static_cast<size_t>(c)];
            if (cn.tail.present) child.attr("tail") = text(cn.tail);
            elem.attr("append")(child);
            if (cn.first_child != xml::Tree::kNone) stack.emplace_back(c, child);
        }
    }
    const xml::Tree::Node &rn = tree.nodes[static_cast<size_t>(node)];
    if (rn.tail.present) root.attr("tail") = text(rn.tail);
    return root;
}

}  // namespace norvale::tarsis
