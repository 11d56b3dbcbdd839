#include "engine/json/escape.h"

#include <cstring>

namespace norvale::engine::json {
namespace {

constexpr char kHex[] = "0123456789abcdef";

// 0: copy as is; 1: two-character escape; 2: \u00XX
struct EscapeTable {
    std::uint8_t kind[128];
    char short_form[128];
    constexpr EscapeTable() : kind{}, short_form{} {
        for (int c = 0; c < 0x20; ++c) kind[c] = 2;
        kind[0x7f] = 2;
        const char pairs[][2] = {{'"', '"'},  {'\\', '\\'}, {'\b', 'b'}, {'\f', 'f'},
                                 {'\n', 'n'}, {'\r', 'r'},   {'\t', 't'}};
        for (auto &p : pairs) {
            kind[static_cast<unsigned char>(p[0])] = 1;
            short_form[static_cast<unsigned char>(p[0])] = p[1];
        }
    }
};
constexpr EscapeTable kTable;

inline void put_u(char *&w, std::uint32_t u) {
    w[0] = '\\';
    w[1] = 'u';
    w[2] = kHex[(u >> 12) & 0xf];
    w[3] = kHex[(u >> 8) & 0xf];
    w[4] = kHex[(u >> 4) & 0xf];
    w[5] = kHex[u & 0xf];
    w += 6;
}

// Output length of one unit that is not copied as it is.
inline std::size_t escaped_size(std::uint32_t c) {
    if (c < 0x7f) return kTable.kind[c] == 0 ? 1 : (kTable.kind[c] == 1 ? 2 : 6);
    return c >= 0x10000 ? 12 : 6;
}

template <typename Unit>
void append_impl(TextBuffer &out, const Unit *s, std::size_t n) {
    // Most strings need no escape at all: find the first unit that does.
    std::size_t i = 0;
    while (i < n && s[i] < 0x7f && kTable.kind[s[i]] == 0) ++i;

    std::size_t need = 2 + i;
    for (std::size_t k = i; k < n; ++k) need += escaped_size(s[k]);
    char *const start = out.reserve(need);
    char *w = start;
    *w++ = '"';
    if constexpr (sizeof(Unit) == 1) {
        std::memcpy(w, s, i);
    } else {
        for (std::size_t k = 0; k < i; ++k) w[k] = static_cast<char>(s[k]);
    }
    w += i;
    for (; i < n; ++i) {
        std::uint32_t c = s[i];
        if (c < 0x7f) {
            switch (kTable.kind[c]) {
                case 0: *w++ = static_cast<char>(c); break;
                case 1: w[0] = '\\'; w[1] = kTable.short_form[c]; w += 2; break;
                default: put_u(w, c); break;
            }
        } else if (c >= 0x10000) {
            c -= 0x10000;
            put_u(w, 0xd800 | ((c >> 10) & 0x3ff));
            put_u(w, 0xdc00 | (c & 0x3ff));
        } else {
            put_u(w, c);
        }
    }
    *w++ = '"';
    out.commit(static_cast<std::size_t>(w - start));
}

}  // namespace

void append_quoted_ascii(TextBuffer &out, const std::uint8_t *s, std::size_t n) { append_impl(out, s, n); }
void append_quoted_ascii(TextBuffer &out, const std::uint16_t *s, std::size_t n) { append_impl(out, s, n); }
void append_quoted_ascii(TextBuffer &out, const std::uint32_t *s, std::size_t n) { append_impl(out, s, n); }

}  // namespace norvale::engine::json
