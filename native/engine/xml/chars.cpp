#include "chars.h"

namespace norvale::engine::xml {

namespace {

constexpr uint8_t classify(int c) {
    uint8_t bits = 0;
    bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (alpha || c == '_' || c == ':') bits |= kNameStart | kName;
    if ((c >= '0' && c <= '9') || c == '.' || c == '-') bits |= kName;
    if ((bits & kName) && c != ':') bits |= kNameNoColon;
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') bits |= kSpace;
    if (c == '"' || c == '\'' || c == '<' || c == '&' || c < 0x20 || c >= 0x80) bits |= kAttrStop;
    return bits;
}

struct Table {
    uint8_t v[256];
    constexpr Table() : v() {
        for (int i = 0; i < 256; ++i) v[i] = classify(i);
    }
};

constexpr Table kTable;

}  // namespace

const uint8_t kCharClass[256] = {
#define R(i) kTable.v[i], kTable.v[i + 1], kTable.v[i + 2], kTable.v[i + 3], \
             kTable.v[i + 4], kTable.v[i + 5], kTable.v[i + 6], kTable.v[i + 7]
    R(0),   R(8),   R(16),  R(24),  R(32),  R(40),  R(48),  R(56),
    R(64),  R(72),  R(80),  R(88),  R(96),  R(104), R(112), R(120),
    R(128), R(136), R(144), R(152), R(160), R(168), R(176), R(184),
    R(192), R(200), R(208), R(216), R(224), R(232), R(240), R(248),
#undef R
};

int utf8_xml_char(const unsigned char* p, const unsigned char* end) {
    unsigned char c = p[0];
    size_t avail = static_cast<size_t>(end - p);
    auto cont = [](unsigned char b) { return (b & 0xC0) == 0x80; };
    if (c >= 0xC2 && c <= 0xDF) {
        if (avail < 2) return -1;
        return cont(p[1]) ? 2 : 0;
    }
    if (c >= 0xE0 && c <= 0xEF) {
        if (avail >= 2) {
            unsigned char b = p[1];
            if (c == 0xE0 && (b < 0xA0 || b > 0xBF)) return 0;
            if (c == 0xED && (b < 0x80 || b > 0x9F)) return 0;  // surrogates
            if (!cont(b)) return 0;
        }
        if (avail < 3) return -1;
        if (!cont(p[2])) return 0;
        if (c == 0xEF && p[1] == 0xBF && (p[2] == 0xBE || p[2] == 0xBF)) return 0;  // U+FFFE/F
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (avail >= 2) {
            unsigned char b = p[1];
            if (c == 0xF0 && (b < 0x90 || b > 0xBF)) return 0;
            if (c == 0xF4 && (b < 0x80 || b > 0x8F)) return 0;
            if (!cont(b)) return 0;
        }
        if (avail >= 3 && !cont(p[2])) return 0;
        if (avail < 4) return -1;
        return cont(p[3]) ? 4 : 0;
    }
    return 0;
}

Ref read_ref(const char* p, const char* end) {
    const char* q = p + 1;
    if (q == end) return {-1, 0};
    if (*q == '#') {
        ++q;
        if (q == end) return {-1, 0};
        bool hex = false;
        if (*q == 'x') {
            hex = true;
            ++q;
        }
        uint32_t value = 0;
        const char* digits = q;
        for (;; ++q) {
            if (q == end) return {-1, 0};
            char c = *q;
            uint32_t d;
            if (c >= '0' && c <= '9') d = static_cast<uint32_t>(c - '0');
            else if (hex && c >= 'a' && c <= 'f') d = static_cast<uint32_t>(c - 'a' + 10);
            else if (hex && c >= 'A' && c <= 'F') d = static_cast<uint32_t>(c - 'A' + 10);
            else break;
            value = value * (hex ? 16 : 10) + d;
            if (value > 0x10FFFF) return {0, 0};
        }
        if (q == digits || *q != ';' || !is_xml_char(value)) return {0, 0};
        return {static_cast<int>(q + 1 - p), value};
    }
    // Predefined entities; anything else is left to the host's parser.
    static const struct { const char* name; int len; uint32_t code; } kNames[] = {
        {"lt;", 3, '<'}, {"gt;", 3, '>'}, {"amp;", 4, '&'}, {"quot;", 5, '"'}, {"apos;", 5, '\''}};
    size_t avail = static_cast<size_t>(end - q);
    for (const auto& n : kNames) {
        size_t k = static_cast<size_t>(n.len);
        size_t m = avail < k ? avail : k;
        if (std::string_view(q, m) == std::string_view(n.name, m)) {
            if (avail < k) return {-1, 0};
            return {n.len + 1, n.code};
        }
    }
    return {0, 0};
}

void append_utf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

namespace {

template <bool Attr>
void decode(std::string_view raw, std::string& out) {
    const char* p = raw.data();
    const char* end = p + raw.size();
    while (p < end) {
        const char* run = p;
        while (p < end && *p != '&' && *p != '\r' && (!Attr || (*p != '\n' && *p != '\t'))) ++p;
        out.append(run, static_cast<size_t>(p - run));
        if (p == end) break;
        char c = *p;
        if (c == '&') {
            Ref r = read_ref(p, end);
            if (r.length <= 0) {  // cannot happen for checked input; keep the byte
                out.push_back(c);
                ++p;
                continue;
            }
            append_utf8(out, r.code);
            p += r.length;
        } else if (c == '\r') {
            out.push_back(Attr ? ' ' : '\n');
            ++p;
            if (p < end && *p == '\n') ++p;
        } else {
            out.push_back(' ');
            ++p;
        }
    }
}

}  // namespace

void decode_text(std::string_view raw, std::string& out) { decode<false>(raw, out); }
void decode_attr(std::string_view raw, std::string& out) { decode<true>(raw, out); }

bool valid_chars(const char* p, const char* end, bool ascii_only) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    const auto* e = reinterpret_cast<const unsigned char*>(end);
    while (u < e) {
        unsigned char c = *u;
        if (c >= 0x20 && c < 0x80) {
            ++u;
        } else if (c < 0x20) {
            if (c != '\t' && c != '\n' && c != '\r') return false;
            ++u;
        } else {
            if (ascii_only) return false;
            int n = utf8_xml_char(u, e);
            if (n <= 0) return false;
            u += n;
        }
    }
    return true;
}

}  // namespace norvale::engine::xml
