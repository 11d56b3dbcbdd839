#include "engine/template/template.h"

#include "engine/base64/base64.h"
#include "engine/json/float_repr.h"

#include <zlib.h>

#include <charconv>
#include <cstdint>
#include <cstring>
#include <new>
#include <unordered_map>

namespace norvale::engine::tarsis_template {
namespace {

/// Thrown inside the reader when the request is not one it takes; caught in fill()/render().
struct Decline {};
[[noreturn]] void decline() { throw Decline{}; }

/// Thrown when the text read so far ends inside the step being read: the step is read again once
/// more text is inflated.
struct NeedMore {};

enum Kind : unsigned char { kNull, kBoolean, kInteger, kNumber, kText, kList, kObject, kMixed };

const char *kind_name(Kind k) {
    static const char *const names[] = {"null", "boolean", "integer", "number", "text", "list", "object", "mixed"};
    return names[k];
}

Kind merge(Kind old, Kind now) {
    if (old == now || old == kNull) return now;
    if ((old == kInteger && now == kNumber) || (old == kNumber && now == kInteger)) return kNumber;
    return kMixed;
}

// ---------------------------------------------------------------------------------------------
// Output: text appended to a buffer, deflated in steps when compressing.

class Sink {
public:
    Sink(bool compress, int level) : compress_(compress) {
        if (!compress_) return;
        std::memset(&z_, 0, sizeof z_);
        // 31: a gzip wrapper around one deflate stream.
        if (deflateInit2(&z_, level, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::bad_alloc();
        buf_.reserve(kStep + 4096);
    }
    ~Sink() {
        if (compress_) deflateEnd(&z_);
    }
    Sink(const Sink &) = delete;
    Sink &operator=(const Sink &) = delete;

    void put(const char *s, std::size_t n) { buf_.append(s, n); }
    void put(std::string_view s) { put(s.data(), s.size()); }
    void put(char c) { buf_.push_back(c); }
    void put_uint(std::size_t v) {
        char tmp[24];
        auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
        buf_.append(tmp, static_cast<std::size_t>(r.ptr - tmp));
    }
    /// Attribute value text: & < > " and tab, line feed, carriage return as references.
    void attr(std::string_view s) {
        const char *p = s.data(), *end = p + s.size(), *run = p;
        for (; p < end; ++p) {
            const char *esc;
            switch (*p) {
                case '&': esc = "&amp;"; break;
                case '<': esc = "&lt;"; break;
                case '>': esc = "&gt;"; break;
                case '"': esc = "&quot;"; break;
                case '\t': esc = "&#9;"; break;
                case '\n': esc = "&#10;"; break;
                case '\r': esc = "&#13;"; break;
                default: continue;
            }
            buf_.append(run, static_cast<std::size_t>(p - run));
            buf_.append(esc);
            run = p + 1;
        }
        buf_.append(run, static_cast<std::size_t>(end - run));
    }

    /// Where the text ends now, to go back to when a row is read again.
    std::size_t mark() const { return buf_.size(); }
    void rollback(std::size_t mark) { buf_.resize(mark); }
    /// Deflates the text written so far once there is enough of it (between rows only).
    void step() {
        if (compress_ && buf_.size() >= kStep) drain(Z_NO_FLUSH);
    }

    /// The whole output: the text, or its gzip member.
    std::string finish() {
        if (!compress_) return std::move(buf_);
        drain(Z_FINISH);
        // The header's OS byte as the interpreter's gzip writes it ("unknown").
        if (packed_.size() > 9) packed_[9] = static_cast<char>(0xff);
        return std::move(packed_);
    }

private:
    static constexpr std::size_t kStep = 256 * 1024;

    void drain(int flush) {
        z_.next_in = reinterpret_cast<Bytef *>(buf_.data());
        z_.avail_in = static_cast<uInt>(buf_.size());
        for (;;) {
            if (packed_.size() - used_ < 64 * 1024) packed_.resize(packed_.size() + 64 * 1024 + packed_.size() / 4);
            z_.next_out = reinterpret_cast<Bytef *>(packed_.data() + used_);
            z_.avail_out = static_cast<uInt>(packed_.size() - used_);
            const int rc = deflate(&z_, flush);
            used_ = packed_.size() - z_.avail_out;
            if (rc == Z_STREAM_END) break;
            if (rc != Z_OK && rc != Z_BUF_ERROR) throw std::bad_alloc();
            if (flush == Z_NO_FLUSH && z_.avail_in == 0) break;
        }
        buf_.clear();
        if (flush == Z_FINISH) packed_.resize(used_);
    }

    bool compress_;
    z_stream z_;
    std::string buf_;
    std::string packed_;
    std::size_t used_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Tables found in the first pass: columns in first-seen order, their kinds, the row count.

struct Table {
    std::vector<std::string> names;
    std::vector<Kind> kinds;
    std::unordered_map<std::string, int> index;
    std::vector<int> predicted;  // column met at each position of the row before
    std::size_t rows = 0;
    bool bad_name = false;                  // a column name holds a character XML cannot carry
    std::size_t bad_row = std::size_t(-1);  // the first row whose cell text holds one
};

// ---------------------------------------------------------------------------------------------
// The reader: a strict JSON reader over the whole text, run twice (find the tables, then write).

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

void append_utf8(std::string &out, std::uint32_t u) {
    if (u < 0x80) {
        out.push_back(static_cast<char>(u));
    } else if (u < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (u >> 6)));
        out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    } else if (u < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (u >> 12)));
        out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (u >> 18)));
        out.push_back(static_cast<char>(0x80 | ((u >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    }
}

class Reader {
public:
    /// Reads `text`: the JSON text itself, or (`packed`) one gzip member holding it, inflated
    /// in a window of `window` bytes that grows only when one row does not fit.
    Reader(std::string_view text, bool packed, std::size_t window, const std::vector<Member> &members)
        : text_in_(text), packed_(packed), window_size_(window < 16 ? 16 : window), members_(members),
          tables_(members.size()) {
        std::memset(&z_, 0, sizeof z_);
    }
    ~Reader() {
        if (z_open_) inflateEnd(&z_);
    }
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    /// First pass: checks the document and finds every table's columns.
    void scan() { document(nullptr); }

    /// After the first pass: the refusal of a document holding text XML cannot carry, in the order
    /// the files are written (table by table, its column names before its rows); empty if none.
    std::string unfit() const {
        for (std::size_t m = 0; m < members_.size(); ++m) {
            const Table &t = tables_[m];
            if (t.bad_name)
                return "Tarsis model document table '" + members_[m].name + "' has a field name XML cannot carry";
            if (t.bad_row != std::size_t(-1))
                return "Tarsis model document value at " + members_[m].name + "[" + std::to_string(t.bad_row) +
                       "] holds a character XML cannot carry";
        }
        return {};
    }

    /// Second pass: writes the input XML.
    void write(Sink &out, const Layout &layout) {
        out.put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<project xmlns=\"");
        out.put(layout.ns);
        out.put("\">\n  <def uri=\"");
        out.attr(layout.def_name);
        out.put("\"/>\n");
        document(&out);
        out.put("</project>\n");
    }

    void write_definition(Sink &out, const Layout &layout) const {
        out.put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<definition xmlns=\"");
        out.put(layout.ns);
        out.put("\" version=\"10\">\n");
        for (std::size_t m = 0; m < members_.size(); ++m) {
            const Table &t = tables_[m];
            if (!t.rows) continue;
            out.put("  <table name=\"");
            out.attr(members_[m].name);
            out.put("\" rows=\"");
            out.put_uint(t.rows);
            out.put("\">\n");
            for (std::size_t i = 0; i < t.names.size(); ++i) {
                out.put("    <column id=\"p");
                out.put_uint(i);
                out.put("\" name=\"");
                out.attr(t.names[i]);
                out.put("\" type=\"");
                out.put(kind_name(t.kinds[i]));
                out.put("\"/>\n");
            }
            out.put("  </table>\n");
        }
        out.put("</definition>\n");
    }

private:
    /// Nesting deeper than this is refused (see kMaxDepth in template.h).
    static constexpr int kMaxDepth = static_cast<int>(norvale::engine::tarsis_template::kMaxDepth);
    struct Depth {
        explicit Depth(Reader &r) : r_(r) {
            if (++r_.depth_ > kMaxDepth) decline();
        }
        ~Depth() { --r_.depth_; }
        Reader &r_;
    };

    /// Inside a list or object cell, whose text is its JSON (control characters escaped there).
    struct Nested {
        explicit Nested(Reader &r) : r_(r) { ++r_.nested_; }
        ~Nested() { --r_.nested_; }
        Reader &r_;
    };

    /// Notes text XML cannot carry in the row being scanned (`control`: a control character
    /// given as an escape, which the JSON text of a list or object cell escapes again).
    void unfit_char(bool control) {
        if (control && nested_ > 0 && !naming_) return;
        if (!table_) return;
        if (naming_) table_->bad_name = true;
        else if (table_->bad_row == std::size_t(-1)) table_->bad_row = table_->rows;
    }

    void ws() {
        while (p_ < end_ && is_space(*p_)) ++p_;
    }
    char peek() {
        ws();
        if (p_ >= end_) short_();
        return *p_;
    }
    void expect(char c) {
        if (peek() != c) decline();
        ++p_;
    }
    void literal(const char *word, std::size_t n) {
        if (static_cast<std::size_t>(end_ - p_) < n) short_();
        if (std::memcmp(p_, word, n) != 0) decline();
        p_ += n;
    }

    // -- the text: whole, or inflated window by window ------------------------------------------

    void start() {
        if (!packed_) {
            begin_ = p_ = text_in_.data();
            end_ = begin_ + text_in_.size();
            eof_ = true;
            return;
        }
        if (z_open_) {
            if (inflateReset(&z_) != Z_OK) decline();
        } else {
            if (inflateInit2(&z_, 16 + 15) != Z_OK) throw std::bad_alloc();  // gzip only
            z_open_ = true;
        }
        z_.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text_in_.data()));
        z_.avail_in = static_cast<uInt>(text_in_.size());
        window_.resize(window_size_);
        begin_ = p_ = end_ = window_.data();
        eof_ = false;
        more(p_);
    }

    /// Keeps the text from `keep` on (p_ at or after it) and inflates more after it.
    void more(const char *keep) {
        if (eof_) decline();
        const std::size_t kept = static_cast<std::size_t>(end_ - keep), at = static_cast<std::size_t>(p_ - keep);
        std::memmove(window_.data(), keep, kept);
        if (window_.size() - kept < window_.size() / 2) window_.resize(window_.size() * 2);
        char *base = window_.data();
        z_.next_out = reinterpret_cast<Bytef *>(base + kept);
        z_.avail_out = static_cast<uInt>(window_.size() - kept);
        while (z_.avail_out) {
            const int rc = inflate(&z_, Z_NO_FLUSH);
            if (rc == Z_STREAM_END) {
                if (z_.avail_in) decline();  // more after the member: the slow reader
                eof_ = true;
                break;
            }
            if (rc != Z_OK) decline();  // not gzip, damaged or cut short
        }
        begin_ = base;
        end_ = reinterpret_cast<const char *>(z_.next_out);
        p_ = base + at;
    }

    [[noreturn]] void short_() {
        if (eof_) decline();
        throw NeedMore{};
    }

    /// Runs one step of the document's frame again, with more text, until it has all it needs.
    template <class F>
    void step(F &&f) {
        const char *start = p_;
        for (;;) {
            try {
                f();
                return;
            } catch (const NeedMore &) {
                p_ = start;
                more(start);
                start = p_;
            }
        }
    }

    void document(Sink *out) {
        start();
        step([&] { expect('{'); });
        for (std::size_t m = 0; m < members_.size(); ++m) {
            const bool single = members_[m].single;
            bool empty = false;
            step([&] {
                if (m) expect(',');
                if (peek() != '"') decline();
                key_.clear();
                string(key_);
                if (key_ != members_[m].name) decline();
                expect(':');
                if (!single) {
                    expect('[');
                    empty = peek() == ']';
                    if (empty) ++p_;
                }
                if (!empty && peek() != '{') decline();
            });
            if (empty) continue;
            Table &t = tables_[m];
            if (out) open_table(*out, m);
            for (;;) {
                whole_row(t, out);
                if (single) break;
                bool last = false;
                step([&] {
                    const char c = peek();
                    ++p_;
                    last = c == ']';
                    if (!last && (c != ',' || peek() != '{')) decline();
                });
                if (last) break;
            }
            if (out) close_table(*out);
        }
        step([&] {
            expect('}');
            ws();
            if (p_ != end_) decline();
            if (!eof_) short_();
        });
    }

    /// One row, read again from its start with more text when the window ends inside it.
    void whole_row(Table &t, Sink *out) {
        const char *start = p_;
        const std::size_t mark = out ? out->mark() : 0;
        for (;;) {
            try {
                row(t, out);
                break;
            } catch (const NeedMore &) {
                if (out) out->rollback(mark);
                p_ = start;
                more(start);
                start = p_;
            }
        }
        if (out) out->step();
    }

    void open_table(Sink &out, std::size_t m) {
        const Table &t = tables_[m];
        out.put("  <container t=\"");
        out.attr(members_[m].name);
        out.put("\">\n    <table name=\"");
        out.attr(members_[m].name);
        out.put("\">\n      <h>");
        for (std::size_t i = 0; i < t.names.size(); ++i) {
            out.put("<h");
            out.put_uint(i);
            out.put(" t=\"");
            out.attr(t.names[i]);
            out.put("\"/>");
        }
        out.put("</h>\n");
    }
    static void close_table(Sink &out) { out.put("    </table>\n  </container>\n"); }

    void row(Table &t, Sink *out) {
        table_ = &t;
        name_.clear();
        keys_.clear();
        arena_.clear();
        std::size_t position = 0;
        if (out) out->put("      <row>");
        object(t, out, position);
        if (out) {
            out->put("</row>\n");
        } else {
            ++t.rows;
        }
    }

    /// One object of a row at *p_ == '{': nested non-empty objects spread into dotted columns.
    void object(Table &t, Sink *out, std::size_t &position) {
        Depth depth(*this);
        ++p_;
        const std::size_t prefix = name_.size();
        const std::size_t mark = keys_.size();
        if (peek() == '}') {
            ++p_;
            return;
        }
        for (;;) {
            if (peek() != '"') decline();
            name_.resize(prefix);
            naming_ = true;
            string(name_);
            naming_ = false;
            if (!out) unique_key(std::string_view(name_).substr(prefix), mark);
            expect(':');
            if (peek() == '{') {
                const char *open = p_++;
                ws();
                if (p_ < end_ && *p_ == '}') {
                    ++p_;
                    text_.assign("{}");
                    cell(t, out, position, kObject);
                } else {
                    p_ = open;
                    name_.push_back('.');
                    object(t, out, position);
                }
            } else {
                text_.clear();
                cell(t, out, position, value(text_, !out));
            }
            const char c = peek();
            ++p_;
            if (c == '}') break;
            if (c != ',') decline();
        }
        keys_.resize(mark);
        if (mark == 0) arena_.clear();
    }

    /// Refuses a name met twice in one object (the interpreter keeps the last value at the place
    /// of the first; that is left to the slow reader).
    void unique_key(std::string_view key, std::size_t mark) {
        for (std::size_t i = mark; i < keys_.size(); ++i) {
            if (std::string_view(arena_).substr(keys_[i].first, keys_[i].second) == key) decline();
        }
        keys_.emplace_back(arena_.size(), key.size());
        arena_.append(key);
    }

    /// The column of name_ at this position of the row (added in the first pass), and its cell.
    void cell(Table &t, Sink *out, std::size_t &position, Kind kind) {
        int column;
        if (position < t.predicted.size() && t.names[t.predicted[position]] == name_) {
            column = t.predicted[position];
        } else {
            auto it = t.index.find(name_);
            if (it != t.index.end()) {
                column = it->second;
            } else {
                if (out) decline();  // cannot happen: the first pass met every name
                column = static_cast<int>(t.names.size());
                t.index.emplace(name_, column);
                t.names.push_back(name_);
                t.kinds.push_back(kNull);
            }
            if (position < t.predicted.size()) {
                t.predicted[position] = column;
            } else {
                t.predicted.push_back(column);
            }
        }
        ++position;
        if (!out) {
            if (kind != kNull) t.kinds[column] = merge(t.kinds[column], kind);
            return;
        }
        out->put("<p");
        out->put_uint(static_cast<std::size_t>(column));
        if (kind == kNull) {
            out->put("/>");
            return;
        }
        out->put(" v=\"");
        out->attr(text_);
        out->put("\"/>");
    }

    /// A value other than a non-empty object at *p_: its kind, and its cell text appended to
    /// `text` (numbers only in the second pass, when `scan` is false).
    Kind value(std::string &text, bool scan) {
        switch (*p_) {
            case '"':
                string(text);
                return kText;
            case 't':
                literal("true", 4);
                text.append("true");
                return kBoolean;
            case 'f':
                literal("false", 5);
                text.append("false");
                return kBoolean;
            case 'n':
                literal("null", 4);
                return kNull;
            case 'N':
                literal("NaN", 3);
                text.append("NaN");
                return kNumber;
            case 'I':
                literal("Infinity", 8);
                text.append("Infinity");
                return kNumber;
            case '[':
                list(text, scan);
                return kList;
            case '{':
                dict(text, scan);
                return kObject;
            default:
                return number(text, scan);
        }
    }

    /// A number: integers keep their digits, others are written as the float repr.
    Kind number(std::string &text, bool scan) {
        const char *start = p_;
        if (*p_ == '-') {
            ++p_;
            if (p_ < end_ && *p_ == 'I') {
                literal("Infinity", 8);
                text.append("-Infinity");
                return kNumber;
            }
        }
        if (p_ >= end_) short_();
        if (*p_ == '0') {
            ++p_;
        } else if (*p_ >= '1' && *p_ <= '9') {
            while (p_ < end_ && is_digit(*p_)) ++p_;
        } else {
            decline();
        }
        bool real = false;
        if (p_ < end_ && *p_ == '.') {
            ++p_;
            if (p_ >= end_) short_();
            if (!is_digit(*p_)) decline();
            while (p_ < end_ && is_digit(*p_)) ++p_;
            real = true;
        }
        if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
            ++p_;
            if (p_ < end_ && (*p_ == '+' || *p_ == '-')) ++p_;
            if (p_ >= end_) short_();
            if (!is_digit(*p_)) decline();
            while (p_ < end_ && is_digit(*p_)) ++p_;
            real = true;
        }
        if (!real) {
            const std::size_t n = static_cast<std::size_t>(p_ - start);
            if (n - (start[0] == '-') > 4300) decline();  // the interpreter's limit of integer text
            if (n == 2 && start[0] == '-' && start[1] == '0') {
                text.push_back('0');
            } else {
                text.append(start, n);
            }
            return kInteger;
        }
        if (!scan) {
            double v = 0;
            auto r = std::from_chars(start, p_, v);
            if (r.ec != std::errc() || r.ptr != p_) decline();  // beyond a double: the slow reader
            char tmp[json::kFloatReprMax];
            text.append(tmp, json::format_float_repr(v, tmp));
        }
        return kNumber;
    }

    /// An array inside a cell, as JSON text the way the interpreter's json.dumps writes it.
    void list(std::string &text, bool scan) {
        Depth depth(*this);
        Nested nested_in(*this);
        ++p_;
        text.push_back('[');
        if (peek() == ']') {
            ++p_;
            text.push_back(']');
            return;
        }
        for (bool first = true;; first = false) {
            if (!first) text.append(", ");
            peek();
            nested(text, scan);
            const char c = peek();
            ++p_;
            if (c == ']') break;
            if (c != ',') decline();
        }
        text.push_back(']');
    }

    void dict(std::string &text, bool scan) {
        Depth depth(*this);
        Nested nested_in(*this);
        ++p_;
        text.push_back('{');
        if (peek() == '}') {
            ++p_;
            text.push_back('}');
            return;
        }
        const std::size_t mark = keys_.size();
        for (bool first = true;; first = false) {
            if (!first) text.append(", ");
            if (peek() != '"') decline();
            scratch_.clear();
            string(scratch_);
            if (scan) unique_key(scratch_, mark);
            quoted(text, scratch_);
            text.append(": ");
            expect(':');
            peek();
            nested(text, scan);
            const char c = peek();
            ++p_;
            if (c == '}') break;
            if (c != ',') decline();
        }
        keys_.resize(mark);
        text.push_back('}');
    }

    void nested(std::string &text, bool scan) {
        if (*p_ == '"') {
            scratch_.clear();
            string(scratch_);
            quoted(text, scratch_);
        } else if (*p_ == 'n') {
            literal("null", 4);
            text.append("null");
        } else {
            value(text, scan);
        }
    }

    /// JSON string text as json.dumps(ensure_ascii=False) writes it.
    static void quoted(std::string &text, std::string_view s) {
        text.push_back('"');
        for (char c : s) {
            switch (c) {
                case '"': text.append("\\\""); break;
                case '\\': text.append("\\\\"); break;
                case '\n': text.append("\\n"); break;
                case '\r': text.append("\\r"); break;
                case '\t': text.append("\\t"); break;
                case '\b': text.append("\\b"); break;
                case '\f': text.append("\\f"); break;
                default:
                    if (static_cast<unsigned char>(c) < 0x20) {
                        static const char hex[] = "0123456789abcdef";
                        text.append("\\u00");
                        text.push_back(hex[(c >> 4) & 0xF]);
                        text.push_back(hex[c & 0xF]);
                    } else {
                        text.push_back(c);
                    }
            }
        }
        text.push_back('"');
    }

    unsigned hex4() {
        if (end_ - p_ < 4) short_();
        unsigned u = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = *p_++;
            u <<= 4;
            if (c >= '0' && c <= '9') u |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f') u |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') u |= unsigned(c - 'A' + 10);
            else decline();
        }
        return u;
    }

    /// A string at *p_ == '"', decoded and appended to `out` as UTF-8; declines bytes that are not
    /// UTF-8. Notes (unfit_char) what XML cannot carry: control characters other than tab, line
    /// feed and carriage return, lone surrogates, U+FFFE and U+FFFF.
    void string(std::string &out) {
        ++p_;
        for (;;) {
            const char *run = p_;
            while (p_ < end_) {
                const unsigned char c = static_cast<unsigned char>(*p_);
                if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) break;
                ++p_;
            }
            out.append(run, static_cast<std::size_t>(p_ - run));
            if (p_ >= end_) short_();
            const unsigned char c = static_cast<unsigned char>(*p_);
            if (c == '"') {
                ++p_;
                return;
            }
            if (c < 0x20) decline();
            if (c == '\\') {
                ++p_;
                if (p_ >= end_) short_();
                const char e = *p_++;
                switch (e) {
                    case '"': out.push_back('"'); break;
                    case '\\': out.push_back('\\'); break;
                    case '/': out.push_back('/'); break;
                    case 'n': out.push_back('\n'); break;
                    case 'r': out.push_back('\r'); break;
                    case 't': out.push_back('\t'); break;
                    case 'b': out.push_back('\b'); unfit_char(true); break;
                    case 'f': out.push_back('\f'); unfit_char(true); break;
                    case 'u': {
                        std::uint32_t u = hex4();
                        if (u >= 0xD800 && u <= 0xDBFF) {
                            // a pair, or a lone high surrogate (read as the interpreter reads it)
                            if (end_ - p_ < 6 && !eof_) short_();
                            if (end_ - p_ >= 6 && p_[0] == '\\' && p_[1] == 'u') {
                                const char *back = p_;
                                p_ += 2;
                                const std::uint32_t low = hex4();
                                if (low >= 0xDC00 && low <= 0xDFFF) {
                                    append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                                    break;
                                }
                                p_ = back;
                            }
                            unfit_char(false);
                            append_utf8(out, 0xFFFD);  // stands in for it: the request is refused
                            break;
                        }
                        if (u >= 0xDC00 && u <= 0xDFFF) {
                            unfit_char(false);
                            append_utf8(out, 0xFFFD);
                            break;
                        }
                        if (u < 0x20 && u != '\t' && u != '\n' && u != '\r') unfit_char(true);
                        else if (u == 0xFFFE || u == 0xFFFF) unfit_char(false);
                        append_utf8(out, u);
                        break;
                    }
                    default: decline();  // not a JSON escape
                }
                continue;
            }
            const char *sequence = p_;
            const std::size_t n = utf8_sequence();
            out.append(sequence, n);
        }
    }

    /// Length of the valid UTF-8 sequence at p_ (advancing past it); refuses others.
    std::size_t utf8_sequence() {
        const auto *s = reinterpret_cast<const unsigned char *>(p_);
        const std::size_t left = static_cast<std::size_t>(end_ - p_);
        const unsigned c = s[0];
        if (left < (c >= 0xF0 ? 4u : c >= 0xE0 ? 3u : 2u) && c >= 0xC2 && c <= 0xF4) short_();
        auto cont = [&](std::size_t i, unsigned lo = 0x80, unsigned hi = 0xBF) { return s[i] >= lo && s[i] <= hi; };
        std::size_t n;
        if (c >= 0xC2 && c <= 0xDF) {
            if (!cont(1)) decline();
            n = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            const unsigned lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
            if (!cont(1, lo, hi) || !cont(2)) decline();
            if (c == 0xEF && s[1] == 0xBF && (s[2] == 0xBE || s[2] == 0xBF)) unfit_char(false);  // U+FFFE, U+FFFF
            n = 3;
        } else if (c >= 0xF0 && c <= 0xF4) {
            const unsigned lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
            if (!cont(1, lo, hi) || !cont(2) || !cont(3)) decline();
            n = 4;
        } else {
            decline();
        }
        p_ += n;
        return n;
    }

    std::string_view text_in_;
    bool packed_;
    std::size_t window_size_;
    z_stream z_;
    bool z_open_ = false;
    std::string window_;
    bool eof_ = true;
    const char *begin_ = nullptr, *end_ = nullptr, *p_ = nullptr;
    int depth_ = 0;
    int nested_ = 0;        // lists and objects of a cell being read
    bool naming_ = false;   // reading a column name
    Table *table_ = nullptr;  // the table of the row being read
    const std::vector<Member> &members_;
    std::vector<Table> tables_;
    std::string key_, name_, text_, scratch_;
    std::string arena_;                                      // names of the objects being read
    std::vector<std::pair<std::size_t, std::size_t>> keys_;  // their spans in arena_
};

std::optional<Files> run(std::string_view text, bool packed, const std::vector<Member> &members,
                         const Layout &layout, bool compress) {
    try {
        Reader reader(text, packed, layout.window, members);
        reader.scan();
        Files files;
        files.refusal = reader.unfit();
        if (!files.refusal.empty()) return files;
        {
            Sink out(compress, layout.level);
            reader.write(out, layout);
            files.input_file = out.finish();
        }
        Sink def(compress, layout.level);
        reader.write_definition(def, layout);
        files.def_file = def.finish();
        return files;
    } catch (const Decline &) {
        return std::nullopt;
    }
}

}  // namespace

std::optional<Files> fill(std::string_view base64_text, const std::vector<Member> &members, const Layout &layout) {
    std::string packed;
    if (!base64::decode(base64_text, packed)) return std::nullopt;
    auto files = run(packed, true, members, layout, true);
    if (!files || !files->refusal.empty()) return files;
    packed = std::string();
    files->input_file = base64::encode(files->input_file);
    files->def_file = base64::encode(files->def_file);
    return files;
}

std::optional<Files> render(std::string_view json, const std::vector<Member> &members, const Layout &layout,
                            bool pack) {
    auto files = run(json, false, members, layout, pack);
    if (pack && files && files->refusal.empty()) {
        files->input_file = base64::encode(files->input_file);
        files->def_file = base64::encode(files->def_file);
    }
    return files;
}

}  // namespace norvale::engine::tarsis_template
