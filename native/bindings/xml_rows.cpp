#include "xml_rows.h"

#include "engine/json/buffer.h"
#include "engine/json/float_repr.h"

#include <nanobind/ndarray.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <mutex>
#include <sys/mman.h>
#include <string>
#include <thread>
#include <vector>

namespace nb = nanobind;

namespace norvale::bind {
namespace {

using Values = nb::ndarray<const double, nb::ndim<2>, nb::c_contig, nb::device::cpu>;

/// A number cell's text: the float repr, or the spellings the JSON writer uses for the others.
std::size_t number_text(double v, char *buf) {
    if (std::isfinite(v)) return engine::json::format_float_repr(v, buf);
    const char *s = std::isnan(v) ? "NaN" : (v > 0 ? "Infinity" : "-Infinity");
    const std::size_t n = std::strlen(s);
    std::memcpy(buf, s, n);
    return n;
}

/// Texts of the numbers written last, per column: a number met again (bit for bit) among the last few
/// of its column is copied instead of formatted again. Result tables repeat their numbers a lot: the
/// positions along beams of equal lengths, the forces that are constant along a beam.
class RecentTexts {
public:
    explicit RecentTexts(std::size_t columns) : slots_(columns * kSlots) {}

    /// Writes the text of v, the k-th column's number, at p; returns its length.
    std::size_t write(std::size_t k, double v, char *p) {
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        Slot &slot = slots_[k * kSlots + ((bits * 0x9E3779B97F4A7C15ull) >> (64 - kBits))];
        if (slot.size != 0 && slot.bits == bits) {
            std::memcpy(p, slot.text, sizeof slot.text);
            return slot.size;
        }
        const std::size_t n = number_text(v, slot.text);
        slot.bits = bits;
        slot.size = static_cast<uint8_t>(n);
        std::memcpy(p, slot.text, sizeof slot.text);
        return n;
    }

private:
    static constexpr unsigned kBits = 7;
    static constexpr std::size_t kSlots = std::size_t{1} << kBits;
    struct Slot {
        uint64_t bits = 0;
        uint8_t size = 0;  ///< 0: empty (a number's text has at least 3 characters)
        char text[engine::json::kFloatReprMax];
    };
    std::vector<Slot> slots_;
};

/// Asks the kernel to back [p, p + n) with huge pages where it holds whole ones: fresh memory is
/// mapped page by page as it is first written, and one fault per 4 KiB page costs about as much as
/// formatting the numbers that fill it. Only advice: without it the text is the same.
void want_huge_pages(char *p, std::size_t n) {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
    const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(p) + n) & ~(kHuge - 1);
    if (end > begin) (void)madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)p;
    (void)n;
#endif
}

/// The formatting buffers, kept from one call to the next: the pages of fresh memory are mapped
/// in one by one as they are first written, which costs about as much as formatting the numbers.
/// Kept up to kKeptMax bytes each; a call that finds them in use formats into buffers of its own.
struct KeptBuffers {
    static constexpr std::size_t kKeptMax = std::size_t{64} << 20;
    std::mutex lock;
    engine::json::TextBuffer buffers[2];
};

KeptBuffers &kept_buffers() {
    static KeptBuffers kept;
    return kept;
}

/// '<row><p0 v=LABEL/><p1 v="x"/>...<pk v="z"/></row>\n' for every row: labels are attribute values
/// with their quotes already (as quoteattr gives them), values one row of k numbers per label.
nb::str xml_rows(nb::list labels, Values values) {
    const std::size_t rows = values.shape(0);
    const std::size_t k = values.shape(1);
    if (nb::len(labels) != rows) throw nb::value_error("xml_rows: one label per row of values");
    // our own list of the labels: their texts are read with the GIL released, so no other thread
    // may drop one from the list meanwhile
    nb::list held = nb::steal<nb::list>(PyList_GetSlice(labels.ptr(), 0, PY_SSIZE_T_MAX));
    if (!held.is_valid()) throw nb::python_error();
    // the cells' opening tags, '<p1 v="' ..., written once
    // (kept in arrays of one size, so that each is copied by a few plain stores)
    struct Open {
        char text[32] = {};
        std::size_t size = 0;
    };
    std::vector<Open> opens(k);
    for (std::size_t i = 0; i < k; ++i) {
        const std::string open = "<p" + std::to_string(i + 1) + " v=\"";  // at most 26 characters
        std::memcpy(opens[i].text, open.data(), open.size());
        opens[i].size = open.size();
    }
    std::vector<const char *> text(rows);
    std::vector<Py_ssize_t> size(rows);
    bool ascii = true;
    for (std::size_t r = 0; r < rows; ++r) {
        PyObject *label = PyList_GET_ITEM(held.ptr(), static_cast<Py_ssize_t>(r));
        if (!PyUnicode_Check(label)) throw nb::type_error("xml_rows: the labels are str");
        text[r] = PyUnicode_AsUTF8AndSize(label, &size[r]);
        if (text[r] == nullptr) throw nb::python_error();
        ascii = ascii && PyUnicode_IS_ASCII(label);
    }
    // the rows in two halves, formatted on two threads (the text is most of the work)
    const unsigned parts = rows >= 4096 ? std::min(2u, std::max(1u, std::thread::hardware_concurrency())) : 1u;
    KeptBuffers &kept = kept_buffers();
    std::unique_lock<std::mutex> hold(kept.lock, std::try_to_lock);
    std::vector<engine::json::TextBuffer> own(hold.owns_lock() ? 0 : parts);
    engine::json::TextBuffer *pieces = hold.owns_lock() ? kept.buffers : own.data();
    for (unsigned part = 0; part < parts; ++part) pieces[part].clear();
    struct Trim {  // whatever way the call ends, the kept buffers do not hold more than kKeptMax
        engine::json::TextBuffer *buffers;
        unsigned count;
        ~Trim() {
            for (unsigned i = 0; i < count; ++i)
                if (buffers[i].capacity() > KeptBuffers::kKeptMax) buffers[i].release();
        }
    } trim{pieces, parts};
    const double *v = values.data();
    {
        nb::gil_scoped_release nogil;
        auto format = [&](unsigned part) {
            engine::json::TextBuffer &out = pieces[part];
            RecentTexts recent(k);
            const std::size_t first = rows * part / parts, last = rows * (part + 1) / parts;
            for (std::size_t r = first; r < last; ++r) {
                const std::size_t n = static_cast<std::size_t>(size[r]);
                // per cell: its opening tag, copied whole (32), then its number, copied whole (32)
                char *p = out.reserve(n + 20 + k * 64 + 32);
                char *start = p;
                std::memcpy(p, "<row><p0 v=", 11);
                p += 11;
                std::memcpy(p, text[r], n);
                p += n;
                *p++ = '/';
                *p++ = '>';
                for (std::size_t i = 0; i < k; ++i) {
                    std::memcpy(p, opens[i].text, sizeof opens[i].text);
                    p += opens[i].size;
                    p += recent.write(i, v[r * k + i], p);
                    std::memcpy(p, "\"/>", 3);
                    p += 3;
                }
                std::memcpy(p, "</row>\n", 7);
                p += 7;
                out.commit(static_cast<std::size_t>(p - start));
            }
        };
        std::vector<std::thread> helpers;
        for (unsigned part = 1; part < parts; ++part) helpers.emplace_back(format, part);
        format(0);
        for (auto &t : helpers) t.join();
    }
    std::size_t total = 0;
    for (unsigned part = 0; part < parts; ++part) total += pieces[part].size();
    if (!ascii) {
        std::string joined;
        joined.reserve(total);
        for (unsigned part = 0; part < parts; ++part) joined.append(pieces[part].data(), pieces[part].size());
        PyObject *s = PyUnicode_DecodeUTF8(joined.data(), static_cast<Py_ssize_t>(joined.size()), "strict");
        if (!s) throw nb::python_error();
        return nb::steal<nb::str>(s);
    }
    PyObject *s = PyUnicode_New(static_cast<Py_ssize_t>(total), 127);
    if (!s) throw nb::python_error();
    char *dst = static_cast<char *>(PyUnicode_DATA(s));
    want_huge_pages(dst, total);
    {
        // the pieces copied in on their threads again: the new text's pages are mapped as they
        // are first written
        nb::gil_scoped_release nogil;
        auto copy = [&](unsigned part) {
            std::size_t at = 0;
            for (unsigned i = 0; i < part; ++i) at += pieces[i].size();
            const engine::json::TextBuffer &piece = pieces[part];
            // an empty piece's data() may be null, which memcpy may not take
            if (piece.size() != 0) std::memcpy(dst + at, piece.data(), piece.size());
        };
        std::vector<std::thread> helpers;
        for (unsigned part = 1; part < parts; ++part) helpers.emplace_back(copy, part);
        copy(0);
        for (auto &t : helpers) t.join();
    }
    return nb::steal<nb::str>(s);
}

}  // namespace

void add_xml_rows(nb::module_ &m) {
    m.def("xml_rows", &xml_rows, nb::arg("labels"), nb::arg("values"),
          "The <row> elements of a result table: labels[r] (a quoted attribute value) in p0, then "
          "values[r] (float64, rows x k) in p1..pk as the float repr, one row per line.");
}

}  // namespace norvale::bind
