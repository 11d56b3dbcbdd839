// Streaming, namespace-aware XML reader over byte windows.
//
// The reader checks well-formedness as it goes and reports start tags, end
// tags and (when the sink asks for it) decoded character data to a sink. It
// handles a deliberately small, exactly understood subset of XML: UTF-8 or
// US-ASCII input, no document type declaration, the five predefined entities
// and character references. Whatever falls outside that subset, and every
// fault, ends the read with Status::Fallback: the caller then hands the same
// input to a full parser, which either accepts it or reports the fault in its
// own words. So the reader never has to produce error messages, and it never
// accepts what a conforming parser would reject.
//
// Input arrives in windows. A window is parsed up to the last complete token;
// feed() returns NeedMore with consumed() telling how many bytes were used, and
// the caller passes the rest again together with more data. Character data may
// be delivered in several pieces. Nothing is recursive: open elements live on
// a vector, so nesting depth is limited by memory only.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "chars.h"

namespace norvale::engine::xml {

/// Outcome of Reader::feed.
enum class Status {
    Done,      ///< the document ended well-formed
    NeedMore,  ///< the window ended inside a token; feed again with more data
    Stopped,   ///< the sink asked to stop
    Fallback,  ///< a fault, or a construct left to a full parser
};

/// Namespace id meaning "no namespace".
inline constexpr int32_t kNoNamespace = -1;

/// One attribute of a start tag, as written.
struct Attribute {
    std::string_view qname;   ///< name as written
    std::string_view prefix;  ///< part before ':' (empty when none)
    std::string_view local;   ///< part after ':'
    std::string_view raw;     ///< value between the quotes, not decoded
    bool plain = true;        ///< raw needs no decoding
    bool decl = false;        ///< a namespace declaration (xmlns, xmlns:p)
    int32_t ns = kNoNamespace;
};

/// A start tag with namespaces resolved.
struct StartTag {
    std::string_view qname;
    std::string_view local;
    int32_t ns = kNoNamespace;
    const Attribute* attrs = nullptr;  ///< includes declarations (decl == true)
    size_t n_attrs = 0;
};

/// Finds the first byte that needs attention inside character data.
inline const char* find_text_special(const char* p, const char* end) {
#if defined(__SSE2__)
    const __m128i lt = _mm_set1_epi8('<');
    const __m128i amp = _mm_set1_epi8('&');
    const __m128i rb = _mm_set1_epi8(']');
    const __m128i sp = _mm_set1_epi8(0x20);
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i nl = _mm_set1_epi8('\n');
    while (end - p >= 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i m = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, lt), _mm_cmpeq_epi8(v, amp)),
                                 _mm_cmpeq_epi8(v, rb));
        // Signed compare: catches control bytes and every byte >= 0x80.
        __m128i ctl = _mm_cmplt_epi8(v, sp);
        ctl = _mm_andnot_si128(_mm_or_si128(_mm_cmpeq_epi8(v, tab), _mm_cmpeq_epi8(v, nl)), ctl);
        int mask = _mm_movemask_epi8(_mm_or_si128(m, ctl));
        if (mask) return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
#endif
    for (; p < end; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == '<' || c == '&' || c == ']' || c >= 0x80 || (c < 0x20 && c != '\t' && c != '\n'))
            return p;
    }
    return end;
}

/// The XML namespace, bound to the prefix "xml" in every document.
inline constexpr std::string_view kXmlNamespace = "http://www.w3.org/XML/1998/namespace";
inline constexpr std::string_view kXmlnsNamespace = "http://www.w3.org/2000/xmlns/";

/// Streaming reader. Sink must provide:
///   bool on_start(const StartTag&)            false = stop
///   bool on_end(std::string_view local, int32_t ns)   false = stop
///   bool wants_text() const
///   void on_text(std::string_view decoded)
///   void on_marker()                          a comment in content
template <class Sink>
class Reader {
public:
    explicit Reader(Sink& sink) : sink_(sink) {
        intern(std::string(kXmlNamespace));
        bindings_.push_back({"xml", 0, 0});
        attrs_.resize(kFastAttrs);
    }

    /// Parses data[0, len). final: no data follows.
    Status feed(const char* data, size_t len, bool final) {
        base_ = data;
        end_ = data + len;
        final_ = final;
        const char* p = data;
        Status st = run(p);
        consumed_ = static_cast<size_t>(p - data);
        offset_ += consumed_;
        return st;
    }

    /// Bytes of the last window that were used.
    size_t consumed() const { return consumed_; }
    /// Absolute offset just after the token being reported (valid in callbacks).
    uint64_t token_end() const { return offset_ + static_cast<uint64_t>(token_end_ - base_); }
    /// Absolute offset of everything consumed so far.
    uint64_t offset() const { return offset_; }
    /// The namespace URI of a namespace id.
    std::string_view namespace_uri(int32_t id) const {
        return id < 0 ? std::string_view() : std::string_view(uris_[static_cast<size_t>(id)]);
    }
    /// Depth of the element being reported (in on_start), or of its parent (in on_end of
    /// an element with content; see in_empty()).
    size_t depth() const { return stack_.size() + pending_empty_; }
    /// 1 while an empty element (<name/>) is being reported, else 0.
    size_t in_empty() const { return pending_empty_; }

    /// The decoded value of an attribute (scratch is used when decoding is needed).
    static std::string_view value(const Attribute& a, std::string& scratch) {
        if (a.plain) return a.raw;
        scratch.clear();
        decode_attr(a.raw, scratch);
        return scratch;
    }

private:
    enum class Phase { Start, Prolog, Content, Epilog };
    enum class Tok { Ok, More, Bad, Stop };

    struct Binding {
        std::string prefix;
        int32_t ns;
        size_t depth;
    };
    struct Open {
        size_t name_off;
        size_t name_len;
        size_t local_off;
        int32_t ns;
        size_t bindings;  // bindings_.size() before this element's declarations
    };

    Status run(const char*& p) {
        for (;;) {
            switch (phase_) {
                case Phase::Start: {
                    Tok t = start(p);
                    if (t != Tok::Ok) return status(t);
                    phase_ = Phase::Prolog;
                    break;
                }
                case Phase::Prolog:
                case Phase::Epilog: {
                    Tok t = misc(p);
                    if (t == Tok::Ok) {
                        if (phase_ == Phase::Epilog) return Status::Done;
                        phase_ = Phase::Content;
                        continue;
                    }
                    return status(t);
                }
                case Phase::Content: {
                    Tok t = content(p);
                    if (t == Tok::Ok) {
                        phase_ = Phase::Epilog;
                        continue;
                    }
                    return status(t);
                }
            }
        }
    }

    Status status(Tok t) const {
        switch (t) {
            case Tok::More: return final_ ? Status::Fallback : Status::NeedMore;
            case Tok::Stop: return Status::Stopped;
            default: return Status::Fallback;
        }
    }

    // Byte order mark and XML declaration.
    Tok start(const char*& p) {
        static const char kBom[] = "\xEF\xBB\xBF";
        size_t avail = static_cast<size_t>(end_ - p);
        size_t m = avail < 3 ? avail : 3;
        if (std::memcmp(p, kBom, m) == 0) {
            if (avail < 3) return Tok::More;
            p += 3;
            avail -= 3;
        }
        static const char kDecl[] = "<?xml";
        m = avail < 5 ? avail : 5;
        if (std::memcmp(p, kDecl, m) != 0) return Tok::Ok;
        if (avail < 6) return Tok::More;
        if (!is_space(static_cast<unsigned char>(p[5]))) return Tok::Ok;  // a PI such as <?xml-x
        const char* close = find2(p + 5, '?', '>');
        if (!close) return Tok::More;
        if (!xml_decl(std::string_view(p + 5, static_cast<size_t>(close - p - 5)))) return Tok::Bad;
        p = close + 2;
        return Tok::Ok;
    }

    // version="1.0" [encoding="UTF-8"|"US-ASCII"] [standalone="yes"|"no"]
    bool xml_decl(std::string_view s) {
        size_t i = 0;
        auto spaces = [&]() {
            size_t j = i;
            while (i < s.size() && is_space(static_cast<unsigned char>(s[i]))) ++i;
            return i > j;
        };
        auto pseudo = [&](std::string_view name, std::string& value) {
            if (s.substr(i, name.size()) != name) return false;
            i += name.size();
            spaces();
            if (i >= s.size() || s[i] != '=') return false;
            ++i;
            spaces();
            if (i >= s.size() || (s[i] != '"' && s[i] != '\'')) return false;
            char q = s[i++];
            size_t j = s.find(q, i);
            if (j == std::string_view::npos) return false;
            value.assign(s.substr(i, j - i));
            i = j + 1;
            return true;
        };
        std::string v;
        if (!spaces() || !pseudo("version", v) || v != "1.0") return false;
        bool sp = spaces();
        if (sp && s.substr(i, 8) == "encoding") {
            if (!pseudo("encoding", v)) return false;
            std::string low;
            for (char c : v) low.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
            if (low == "us-ascii") ascii_only_ = true;
            else if (low != "utf-8") return false;
            sp = spaces();
        }
        if (sp && s.substr(i, 10) == "standalone") {
            if (!pseudo("standalone", v) || (v != "yes" && v != "no")) return false;
            spaces();
        }
        return i == s.size();
    }

    static const char* find2(const char* p, char a, char b, const char* end) {
        while (p + 1 < end) {
            const char* q = static_cast<const char*>(std::memchr(p, a, static_cast<size_t>(end - p - 1)));
            if (!q) return nullptr;
            if (q[1] == b) return q;
            p = q + 1;
        }
        return nullptr;
    }
    const char* find2(const char* p, char a, char b) const { return find2(p, a, b, end_); }

    // White space, comments and processing instructions around the root element.
    // Returns Ok at the root's start tag (prolog) or at the end of data (epilog).
    Tok misc(const char*& p) {
        for (;;) {
            while (p < end_ && is_space(static_cast<unsigned char>(*p))) ++p;
            if (p == end_) {
                if (phase_ == Phase::Epilog && final_) return Tok::Ok;
                return Tok::More;
            }
            if (*p != '<') return Tok::Bad;
            if (p + 1 == end_) return Tok::More;
            char c = p[1];
            Tok t;
            if (c == '?') {
                t = pi(p);
            } else if (c == '!') {
                t = bang(p, false);
            } else {
                if (phase_ == Phase::Epilog || c == '/') return Tok::Bad;
                return Tok::Ok;
            }
            if (t != Tok::Ok) return t;
        }
    }

    // <?target body?>
    Tok pi(const char*& p) {
        const char* q = p + 2;
        const char* name = q;
        while (q < end_ && is_name_char(static_cast<unsigned char>(*q))) ++q;
        if (q == end_) return Tok::More;
        std::string_view target(name, static_cast<size_t>(q - name));
        if (target.empty() || !is_name_start(static_cast<unsigned char>(target[0])) ||
            target.find(':') != std::string_view::npos)
            return Tok::Bad;
        if (target.size() == 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' &&
            (target[2] | 0x20) == 'l')
            return Tok::Bad;
        const char* close;
        if (*q == '?') {
            if (q + 1 == end_) return Tok::More;
            if (q[1] != '>') return Tok::Bad;
            close = q;
        } else {
            if (!is_space(static_cast<unsigned char>(*q))) return Tok::Bad;
            close = find2(q, '?', '>');
            if (!close) return Tok::More;
            if (!valid_chars(q, close, ascii_only_)) return Tok::Bad;
        }
        p = close + 2;
        return Tok::Ok;
    }

    // <!-- comment --> or, inside content, <![CDATA[ ... ]]>
    Tok bang(const char*& p, bool in_content) {
        size_t avail = static_cast<size_t>(end_ - p);
        static const char kComment[] = "<!--";
        static const char kCdata[] = "<![CDATA[";
        if (std::memcmp(p, kComment, avail < 4 ? avail : 4) == 0) {
            if (avail < 4) return Tok::More;
            const char* q = p + 4;
            for (;;) {
                const char* d = find2(q, '-', '-');
                if (!d) return Tok::More;
                if (d + 2 == end_) return Tok::More;
                if (d[2] != '>') return Tok::Bad;
                if (!valid_chars(p + 4, d, ascii_only_)) return Tok::Bad;
                p = d + 3;
                return Tok::Ok;
            }
        }
        if (in_content && std::memcmp(p, kCdata, avail < 9 ? avail : 9) == 0) {
            if (avail < 9) return Tok::More;
            const char* body = p + 9;
            const char* q = body;
            const char* close = nullptr;
            while (!close) {
                const char* r = find2(q, ']', ']');
                if (!r) return Tok::More;
                if (r + 2 == end_) return Tok::More;
                if (r[2] == '>') close = r;
                else q = r + 1;
            }
            if (!valid_chars(body, close, ascii_only_)) return Tok::Bad;
            if (sink_.wants_text() && close > body) {
                std::string_view raw(body, static_cast<size_t>(close - body));
                if (raw.find('\r') == std::string_view::npos) {
                    sink_.on_text(raw);
                } else {
                    scratch_.clear();
                    for (size_t i = 0; i < raw.size(); ++i) {
                        if (raw[i] == '\r') {
                            scratch_.push_back('\n');
                            if (i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
                        } else {
                            scratch_.push_back(raw[i]);
                        }
                    }
                    sink_.on_text(scratch_);
                }
            }
            p = close + 3;
            return Tok::Ok;
        }
        // <!DOCTYPE and everything else: left to the full parser.
        if (avail < 9 && !final_) return Tok::More;
        return Tok::Bad;
    }

    // Character data up to the next '<'. Delivers what it has read.
    Tok text(const char*& p) {
        const char* start = p;
        const char* q = p;
        bool plain = true;
        Tok result = Tok::Ok;
        for (;;) {
            q = find_text_special(q, end_);
            if (q == end_) {
                result = Tok::More;
                break;
            }
            unsigned char c = static_cast<unsigned char>(*q);
            if (c == '<') break;
            if (c == '&') {
                Ref r = read_ref(q, end_);
                if (r.length == 0) return Tok::Bad;
                if (r.length < 0) {
                    result = Tok::More;
                    break;
                }
                plain = false;
                q += r.length;
            } else if (c == ']') {
                if (end_ - q < 3) {
                    if (final_) {
                        ++q;
                        continue;
                    }
                    result = Tok::More;
                    break;
                }
                if (q[1] == ']' && q[2] == '>') return Tok::Bad;
                ++q;
            } else if (c == '\r') {
                if (q + 1 == end_ && !final_) {
                    result = Tok::More;
                    break;
                }
                plain = false;
                ++q;
            } else if (c < 0x20) {
                return Tok::Bad;
            } else {
                if (ascii_only_) return Tok::Bad;
                int n = utf8_xml_char(reinterpret_cast<const unsigned char*>(q),
                                      reinterpret_cast<const unsigned char*>(end_));
                if (n == 0) return Tok::Bad;
                if (n < 0) {
                    result = Tok::More;
                    break;
                }
                q += n;
            }
        }
        if (q > start && sink_.wants_text()) {
            std::string_view raw(start, static_cast<size_t>(q - start));
            if (plain) {
                sink_.on_text(raw);
            } else {
                scratch_.clear();
                decode_text(raw, scratch_);
                sink_.on_text(scratch_);
            }
        }
        p = q;
        return result;
    }

    // Splits a qualified name; false when it is not a usable namespace name.
    static bool split(std::string_view qname, std::string_view& prefix, std::string_view& local) {
        size_t colon = qname.find(':');
        if (colon == std::string_view::npos) {
            prefix = {};
            local = qname;
            return true;
        }
        if (colon == 0 || colon + 1 == qname.size() ||
            qname.find(':', colon + 1) != std::string_view::npos ||
            !is_name_start(static_cast<unsigned char>(qname[colon + 1])))
            return false;
        prefix = qname.substr(0, colon);
        local = qname.substr(colon + 1);
        return true;
    }

    // Reads a name at q, noting its first colon (nullptr: none). Non-ASCII names are left to
    // the full parser.
    Tok name(const char*& q, std::string_view& out, const char*& colon) {
        const char* s = q;
        colon = nullptr;
        if (q == end_) return Tok::More;
        if (!is_name_start(static_cast<unsigned char>(*q))) return Tok::Bad;
        if (*q == ':') colon = q;
        for (;;) {
            ++q;
            while (q < end_ && (kCharClass[static_cast<unsigned char>(*q)] & kNameNoColon)) ++q;
            if (q == end_) return Tok::More;
            if (*q != ':') break;
            if (!colon) colon = q;
        }
        if (static_cast<unsigned char>(*q) >= 0x80) return Tok::Bad;
        out = std::string_view(s, static_cast<size_t>(q - s));
        return Tok::Ok;
    }
    Tok name(const char*& q, std::string_view& out) {
        const char* colon;
        return name(q, out, colon);
    }

    // Splits a name whose first colon is known.
    static bool split_at(std::string_view qname, const char* colon, std::string_view& prefix,
                         std::string_view& local) {
        if (!colon) {
            prefix = {};
            local = qname;
            return true;
        }
        return split(qname, prefix, local);
    }

    // First byte of an attribute value that needs a closer look.
    static const char* find_attr_stop(const char* q, const char* end, char quote) {
#if defined(__SSE2__)
        const __m128i qv = _mm_set1_epi8(quote);
        const __m128i lt = _mm_set1_epi8('<');
        const __m128i amp = _mm_set1_epi8('&');
        const __m128i sp = _mm_set1_epi8(0x20);
        while (end - q >= 16) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
            __m128i m = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, qv), _mm_cmpeq_epi8(v, lt)),
                                     _mm_or_si128(_mm_cmpeq_epi8(v, amp), _mm_cmplt_epi8(v, sp)));
            int mask = _mm_movemask_epi8(m);
            if (mask) return q + __builtin_ctz(static_cast<unsigned>(mask));
            q += 16;
        }
#endif
        while (q < end && !(kCharClass[static_cast<unsigned char>(*q)] & kAttrStop)) ++q;
        return q;
    }

    int32_t intern(const std::string& uri) {
        auto it = uri_ids_.find(uri);
        if (it != uri_ids_.end()) return it->second;
        int32_t id = static_cast<int32_t>(uris_.size());
        uris_.push_back(uri);
        uri_ids_.emplace(uri, id);
        return id;
    }

    // Drops the bindings above `keep` and brings the default namespace up to date.
    void unbind(size_t keep) {
        bindings_.resize(keep);
        default_ns_ = kNoNamespace;
        for (size_t i = bindings_.size(); i-- > 0;) {
            if (bindings_[i].prefix.empty()) {
                default_ns_ = bindings_[i].ns;
                break;
            }
        }
    }

    bool lookup(std::string_view prefix, int32_t& ns) const {
        if (prefix.empty()) {
            ns = default_ns_;
            return true;
        }
        for (size_t i = bindings_.size(); i-- > 0;) {
            if (bindings_[i].prefix == prefix) {
                ns = bindings_[i].ns;
                return true;
            }
        }
        if (prefix.empty()) {
            ns = kNoNamespace;
            return true;
        }
        return false;
    }

    static constexpr size_t kFastAttrs = 8;

    // The common start tag, read without the general machinery: names without ':', at most
    // kFastAttrs attributes written name="value" with plain ASCII values, no declarations.
    // Returns false, having changed nothing, for anything else.
    [[gnu::always_inline]] bool fast_start_tag(const char*& p, Tok& result) {
        const char* q = p + 1;
        const char* end = end_;
        auto cls = [](char c) { return kCharClass[static_cast<unsigned char>(c)]; };
        if (!(cls(*q) & kNameNoColon) || !(cls(*q) & kNameStart)) return false;
        const char* name_begin = q;
        ++q;
        while (q < end && (cls(*q) & kNameNoColon)) ++q;
        if (q == end) return false;
        std::string_view qname(name_begin, static_cast<size_t>(q - name_begin));
        size_t n = 0;
        bool empty;
        for (;;) {
            char c = *q;
            if (c == '>') {
                ++q;
                empty = false;
                break;
            }
            if (c == '/') {
                if (q + 1 == end || q[1] != '>') return false;
                q += 2;
                empty = true;
                break;
            }
            if (!(cls(c) & kSpace)) return false;
            do ++q;
            while (q < end && (cls(*q) & kSpace));
            if (q == end) return false;
            c = *q;
            if (c == '>' || c == '/') continue;
            if (!(cls(c) & kNameNoColon) || !(cls(c) & kNameStart) || n == kFastAttrs) return false;
            const char* an = q;
            ++q;
            while (q < end && (cls(*q) & kNameNoColon)) ++q;
            if (q == end || *q != '=') return false;
            std::string_view aname(an, static_cast<size_t>(q - an));
            if (aname == "xmlns") return false;
            ++q;
            if (q == end) return false;
            char quote = *q;
            if (quote != '"' && quote != '\'') return false;
            const char* v = ++q;
            q = find_attr_stop(q, end, quote);
            if (q == end || *q != quote) return false;
            for (size_t i = 0; i < n; ++i)
                if (attrs_[i].qname == aname) return false;
            Attribute& a = attrs_[n];  // slots 0 .. kFastAttrs-1 always exist
            // Assigned one by one: a chained assignment copies a.local back through memory
            // right after storing it, which stalls on store forwarding.
            a.qname = aname;
            a.local = aname;
            a.prefix = {};
            a.raw = std::string_view(v, static_cast<size_t>(q - v));
            a.plain = true;
            a.decl = false;
            a.ns = kNoNamespace;
            ++n;
            ++q;
            if (q == end) return false;
        }
        n_attrs_ = n;
        token_end_ = q;
        StartTag tag;
        tag.qname = qname;
        tag.local = qname;
        tag.ns = default_ns_;
        tag.attrs = attrs_.data();
        tag.n_attrs = n;
        p = q;
        result = report_start(tag, empty, bindings_.size());
        return true;
    }

    // Reports a parsed start tag and opens the element (unless it is empty).
    [[gnu::always_inline]] Tok report_start(const StartTag& tag, bool empty, size_t bindings_before) {
        if (empty) {
            // <name/>: reported as a start and an end without touching the stack.
            pending_empty_ = 1;
            bool go_on = sink_.on_start(tag) && sink_.on_end(tag.local, tag.ns);
            pending_empty_ = 0;
            if (bindings_.size() != bindings_before) unbind(bindings_before);
            return go_on ? Tok::Ok : Tok::Stop;
        }
        Open o;
        o.name_off = names_.size();
        o.name_len = tag.qname.size();
        o.local_off = o.name_off + static_cast<size_t>(tag.local.data() - tag.qname.data());
        o.ns = tag.ns;
        o.bindings = bindings_before;
        names_.append(tag.qname.data(), tag.qname.size());
        stack_.push_back(o);
        return sink_.on_start(tag) ? Tok::Ok : Tok::Stop;
    }

    Tok start_tag(const char*& p) {
        Tok fast;
        if (fast_start_tag(p, fast)) return fast;
        return general_start_tag(p);
    }

    [[gnu::noinline]] Tok general_start_tag(const char*& p) {
        const char* q = p + 1;
        std::string_view qname;
        const char* qcolon;
        Tok t = name(q, qname, qcolon);
        if (t != Tok::Ok) return t;
        n_attrs_ = 0;
        bool empty = false;
        bool any_decl = false;
        bool any_prefixed = false;
        for (;;) {
            const char* ws = q;
            while (q < end_ && is_space(static_cast<unsigned char>(*q))) ++q;
            if (q == end_) return Tok::More;
            char c = *q;
            if (c == '>') {
                ++q;
                break;
            }
            if (c == '/') {
                if (q + 1 == end_) return Tok::More;
                if (q[1] != '>') return Tok::Bad;
                q += 2;
                empty = true;
                break;
            }
            if (q == ws) return Tok::Bad;
            if (n_attrs_ == attrs_.size()) attrs_.emplace_back();
            Attribute& a = attrs_[n_attrs_++];
            a.plain = true;
            a.decl = false;
            a.ns = kNoNamespace;
            const char* colon;
            t = name(q, a.qname, colon);
            if (t != Tok::Ok) return t;
            while (q < end_ && is_space(static_cast<unsigned char>(*q))) ++q;
            if (q == end_) return Tok::More;
            if (*q != '=') return Tok::Bad;
            ++q;
            while (q < end_ && is_space(static_cast<unsigned char>(*q))) ++q;
            if (q == end_) return Tok::More;
            char quote = *q;
            if (quote != '"' && quote != '\'') return Tok::Bad;
            const char* v = ++q;
            for (;;) {
                q = find_attr_stop(q, end_, quote);
                if (q == end_) return Tok::More;
                unsigned char ch = static_cast<unsigned char>(*q);
                if (ch == static_cast<unsigned char>(quote)) break;
                if (ch == '"' || ch == '\'') {
                    ++q;
                } else if (ch == '<') {
                    return Tok::Bad;
                } else if (ch == '&') {
                    Ref r = read_ref(q, end_);
                    if (r.length == 0) return Tok::Bad;
                    if (r.length < 0) return Tok::More;
                    a.plain = false;
                    q += r.length;
                } else if (ch < 0x20) {
                    if (ch != '\t' && ch != '\n' && ch != '\r') return Tok::Bad;
                    a.plain = false;
                    ++q;
                } else {
                    if (ascii_only_) return Tok::Bad;
                    int n = utf8_xml_char(reinterpret_cast<const unsigned char*>(q),
                                          reinterpret_cast<const unsigned char*>(end_));
                    if (n == 0) return Tok::Bad;
                    if (n < 0) return Tok::More;
                    q += n;
                }
            }
            a.raw = std::string_view(v, static_cast<size_t>(q - v));
            ++q;
            if (!split_at(a.qname, colon, a.prefix, a.local)) return Tok::Bad;
            if (colon) {
                if (a.prefix == "xmlns") {
                    a.decl = true;
                    any_decl = true;
                } else {
                    any_prefixed = true;
                }
            } else if (a.qname == "xmlns") {
                a.decl = true;
                any_decl = true;
            }
        }
        token_end_ = q;

        // Duplicate attributes (as written, and after namespace expansion).
        size_t n = n_attrs_;
        if (n > 1) {
            if (n > 16 && any_prefixed) return Tok::Bad;
            if (n <= 16) {
                for (size_t i = 0; i < n; ++i)
                    for (size_t j = i + 1; j < n; ++j) {
                        if (attrs_[i].qname == attrs_[j].qname) return Tok::Bad;
                        if (!attrs_[i].decl && !attrs_[j].decl && attrs_[i].local == attrs_[j].local &&
                            (!attrs_[i].prefix.empty() || !attrs_[j].prefix.empty()))
                            return Tok::Bad;
                    }
            } else {
                names_sorted_.clear();
                for (size_t i = 0; i < n; ++i) names_sorted_.push_back(attrs_[i].qname);
                std::sort(names_sorted_.begin(), names_sorted_.end());
                for (size_t i = 1; i < n; ++i)
                    if (names_sorted_[i] == names_sorted_[i - 1]) return Tok::Bad;
            }
        }

        size_t depth = stack_.size() + 1;
        size_t bindings_before = bindings_.size();
        if (any_decl) {
            for (size_t i = 0; i < n; ++i) {
                Attribute& a = attrs_[i];
                if (!a.decl) continue;
                std::string uri;
                decode_attr(a.raw, uri);
                // The host parser joins namespace and local name with '}' and refuses a
                // namespace that holds it.
                if (uri == kXmlNamespace || uri == kXmlnsNamespace || uri.find('}') != std::string::npos)
                    return Tok::Bad;
                if (a.prefix.empty()) {
                    bindings_.push_back({std::string(), uri.empty() ? kNoNamespace : intern(uri), depth});
                    default_ns_ = bindings_.back().ns;
                } else {
                    if (uri.empty() || a.local == "xml" || a.local == "xmlns") return Tok::Bad;
                    bindings_.push_back({std::string(a.local), intern(uri), depth});
                }
            }
        }
        StartTag tag;
        tag.qname = qname;
        std::string_view prefix;
        if (!split_at(qname, qcolon, prefix, tag.local)) return Tok::Bad;
        if (prefix == "xmlns" || !lookup(prefix, tag.ns)) return Tok::Bad;
        if (any_prefixed) {
            for (size_t i = 0; i < n; ++i) {
                Attribute& a = attrs_[i];
                if (!a.decl && !a.prefix.empty() && !lookup(a.prefix, a.ns)) return Tok::Bad;
            }
        }
        tag.attrs = attrs_.data();
        tag.n_attrs = n;

        p = q;
        return report_start(tag, empty, bindings_before);
    }

    Tok close_top() {
        Open o = stack_.back();
        stack_.pop_back();
        if (bindings_.size() != o.bindings) unbind(o.bindings);
        std::string_view local(names_.data() + o.local_off, o.name_len - (o.local_off - o.name_off));
        bool go_on = sink_.on_end(local, o.ns);
        names_.resize(o.name_off);
        return go_on ? Tok::Ok : Tok::Stop;
    }

    Tok end_tag(const char*& p) {
        if (!stack_.empty()) {
            // The usual case: exactly the open element's name, then '>'.
            const Open& top = stack_.back();
            size_t len = top.name_len;
            if (static_cast<size_t>(end_ - p) >= len + 3 && p[2 + len] == '>' &&
                std::memcmp(p + 2, names_.data() + top.name_off, len) == 0) {
                p += len + 3;
                token_end_ = p;
                return close_top();
            }
        }
        const char* q = p + 2;
        std::string_view qname;
        Tok t = name(q, qname);
        if (t != Tok::Ok) return t;
        while (q < end_ && is_space(static_cast<unsigned char>(*q))) ++q;
        if (q == end_) return Tok::More;
        if (*q != '>') return Tok::Bad;
        ++q;
        if (stack_.empty()) return Tok::Bad;
        const Open& o = stack_.back();
        if (qname.size() != o.name_len || std::memcmp(qname.data(), names_.data() + o.name_off, o.name_len) != 0)
            return Tok::Bad;
        token_end_ = q;
        p = q;
        return close_top();
    }

    // Inside the root element. Returns Ok when the root has ended.
    Tok content(const char*& p) {
        for (;;) {
            if (p < end_ && *p != '<') {
                Tok t = text(p);
                if (t != Tok::Ok) return t;
            }
            if (p == end_) return Tok::More;
            if (p + 1 == end_) return Tok::More;
            char c = p[1];
            Tok t;
            if (c == '/') {
                t = end_tag(p);
            } else if (c == '!') {
                bool cdata = end_ - p >= 3 && p[2] == '[';
                t = bang(p, true);
                if (t == Tok::Ok && !cdata) sink_.on_marker();
            } else if (c == '?') {
                t = pi(p);
            } else {
                t = start_tag(p);
            }
            if (t != Tok::Ok) return t;
            if (stack_.empty()) return Tok::Ok;
        }
    }

    Sink& sink_;
    Phase phase_ = Phase::Start;
    const char* base_ = nullptr;
    const char* end_ = nullptr;
    const char* token_end_ = nullptr;
    bool final_ = false;
    bool ascii_only_ = false;
    size_t consumed_ = 0;
    size_t pending_empty_ = 0;  // 1 while an empty element is being reported
    int32_t default_ns_ = kNoNamespace;  // namespace of unprefixed element names here
    uint64_t offset_ = 0;
    std::vector<Attribute> attrs_;  // slots reused from tag to tag
    size_t n_attrs_ = 0;
    std::vector<std::string_view> names_sorted_;
    std::vector<Binding> bindings_;
    std::vector<std::string> uris_;
    std::unordered_map<std::string, int32_t> uri_ids_;
    std::vector<Open> stack_;
    std::string names_;
    std::string scratch_;
};

}  // namespace norvale::engine::xml
