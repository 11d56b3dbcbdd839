// Tests of the XML engine without Python: event streams, chunked input, faults and limits.
// Built and run (with sanitizers) by tests/engine/test_engine_cpp.py.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "engine/xml/reader.h"
#include "engine/xml/search.h"

using namespace norvale::engine::xml;

namespace {

int failures = 0;

#define CHECK(cond)                                                        \
    do {                                                                   \
        if (!(cond)) {                                                     \
            std::fprintf(stderr, "%s:%d: CHECK(%s)\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                    \
        }                                                                  \
    } while (0)

/// Records every event as text: "<{ns}local a=v ...>", "</local>", "'text'".
struct Recorder {
    Reader<Recorder>* reader = nullptr;
    std::string log;
    std::string text;
    bool wants_text() const { return true; }
    void on_text(std::string_view s) { text.append(s); }
    void on_marker() {}
    void flush() {
        if (!text.empty()) log += "'" + text + "'";
        text.clear();
    }
    bool on_start(const StartTag& t) {
        flush();
        log += "<{" + std::string(reader->namespace_uri(t.ns)) + "}" + std::string(t.local);
        std::string scratch;
        for (size_t i = 0; i < t.n_attrs; ++i) {
            const Attribute& a = t.attrs[i];
            if (a.decl) continue;
            log += " {" + std::string(reader->namespace_uri(a.ns)) + "}" + std::string(a.local) + "=" +
                   std::string(Reader<Recorder>::value(a, scratch));
        }
        log += ">";
        return true;
    }
    bool on_end(std::string_view local, int32_t) {
        flush();
        log += "</" + std::string(local) + ">";
        return true;
    }
};

struct Run {
    Status status;
    std::string log;
};

Run run_whole(const std::string& doc) {
    Recorder r;
    Reader<Recorder> reader(r);
    r.reader = &reader;
    Status st = reader.feed(doc.data(), doc.size(), true);
    r.flush();
    return {st, r.log};
}

/// Feeds the document in pieces of `step` bytes, as a caller reading a stream would.
Run run_pieces(const std::string& doc, size_t step) {
    Recorder r;
    Reader<Recorder> reader(r);
    r.reader = &reader;
    std::string buf;
    size_t pos = 0;
    for (;;) {
        size_t n = std::min(step, doc.size() - pos);
        buf.append(doc, pos, n);
        pos += n;
        bool final = pos == doc.size();
        Status st = reader.feed(buf.data(), buf.size(), final);
        buf.erase(0, reader.consumed());
        if (st != Status::NeedMore) {
            r.flush();
            return {st, r.log};
        }
        if (final) return {Status::Fallback, r.log};
    }
}

void expect(const std::string& doc, Status status, const std::string& log = "") {
    Run whole = run_whole(doc);
    if (whole.status != status || (status == Status::Done && whole.log != log)) {
        std::fprintf(stderr, "document: %s\n  status %d (want %d)\n  log  %s\n  want %s\n", doc.c_str(),
                     static_cast<int>(whole.status), static_cast<int>(status), whole.log.c_str(), log.c_str());
        ++failures;
    }
    for (size_t step = 1; step <= 7; ++step) {
        Run piece = run_pieces(doc, step);
        if (piece.status != whole.status || (status == Status::Done && piece.log != whole.log)) {
            std::fprintf(stderr, "document: %s\n  in steps of %zu: %s\n  whole: %s\n", doc.c_str(), step,
                         piece.log.c_str(), whole.log.c_str());
            ++failures;
        }
    }
}

void test_events() {
    expect("<a/>", Status::Done, "<{}a></a>");
    expect("\xEF\xBB\xBF<?xml version='1.0' encoding='UTF-8' standalone='no' ?><a>x</a>\n", Status::Done,
           "<{}a>'x'</a>");
    expect("<a xmlns='urn:n' xmlns:p='urn:p'><p:b p:c='1' d='2'>t&amp;&#65;&#x42;</p:b></a>", Status::Done,
           "<{urn:n}a><{urn:p}b {urn:p}c=1 {}d=2>'t&AB'</b></a>");
    expect("<a xmlns='urn:n'><b xmlns=''/><c/></a>", Status::Done, "<{urn:n}a><{}b></b><{urn:n}c></c></a>");
    expect("<p:a xmlns:p='urn:1'><p:b xmlns:p='urn:2'/><p:c/></p:a>", Status::Done,
           "<{urn:1}a><{urn:2}b></b><{urn:1}c></c></a>");
    expect("<a x:lang='en' xmlns:x='urn:x'/>", Status::Done, "<{}a {urn:x}lang=en></a>");
    expect("<a xml:lang='en'/>", Status::Done, "<{}a {http://www.w3.org/XML/1998/namespace}lang=en></a>");
    expect("<a v='a\tb\nc\r\nd\re&#10;&#13;'/>", Status::Done, "<{}a {}v=a b c d e\n\r></a>");
    expect("<a>1\r\n2\r3<![CDATA[<&\r\n]]]>]</a>", Status::Done, "<{}a>'1\n2\n3<&\n]]'</a>");
    expect("<!-- c --><?pi x?><a><!--x--><?p?>b</a><!-- end -->  ", Status::Done, "<{}a>'b'</a>");
    expect("<a>caf\xC3\xA9 \xF0\x9F\x98\x80 \xC2\x85</a>", Status::Done, "<{}a>'caf\xC3\xA9 \xF0\x9F\x98\x80 \xC2\x85'</a>");
    expect("<a b = \"1\"\n/>", Status::Done, "<{}a {}b=1></a>");
}

void test_faults_and_unsupported() {
    const char* bad[] = {
        "", "  ", "<a>", "<a></b>", "<a/><b/>", "x<a/>", "<a/>x", "<a>&bogus;</a>", "<a>&#0;</a>", "<a>&#xD800;</a>",
        "<a>&#x110000;</a>", "<a>&amp</a>", "<a>]]></a>", "<a>\x01</a>", "<a>\xFF</a>", "<a>\xC3</a>", "<a>\xED\xA0\x80</a>",
        "<a>\xEF\xBF\xBF</a>", "<a>\xC0\x80</a>", "<a b='1' b='2'/>", "<a p:b='1'/>", "<p:a/>", "<a xmlns:p=''/>",
        "<a xmlns:p='urn:1' xmlns:q='urn:1' p:b='1' q:b='2'/>", "<a b='<'/>", "<a b=1/>", "<a b='1'c='2'/>",
        "<1a/>", "<a:/>", "<:a/>", "<a:b:c xmlns:a='u'/>", "<a\xC3\xA9/>", "<!DOCTYPE a><a/>", "<a><!DOCTYPE a></a>",
        "<?xml version='1.1'?><a/>", "<?xml version='1.0' encoding='latin-1'?><a/>", "<a/><?xml version='1.0'?>",
        "<?XML x?><a/>", "<a><!-- a -- b --></a>", "<a><![CDATA[x]]</a>", "</a>", "<?pi x?></a>", "<a></a ",
        "<a xmlns:xml='urn:x'/>", "<a xmlns:x='http://www.w3.org/XML/1998/namespace'/>", "<xmlns:a/>",
        "<?xml version='1.0' encoding='us-ascii'?><a>\xC3\xA9</a>", "\xFE\xFF<a/>", "<a>\x00</a>",
    };
    for (const char* doc : bad) expect(doc, Status::Fallback);
}

void test_deep_nesting() {
    std::string doc;
    const int depth = 1000000;
    for (int i = 0; i < depth; ++i) doc += "<d>";
    for (int i = 0; i < depth; ++i) doc += "</d>";
    Recorder r;
    Reader<Recorder> reader(r);
    r.reader = &reader;
    CHECK(reader.feed(doc.data(), doc.size(), true) == Status::Done);
}

void test_table_search() {
    std::string doc =
        "<p xmlns='urn:t'><first/><table name='A'><obj/></table>"
        "<table name='P'><table name='T'><x/></table></table>"
        "<table name='T' k='v'><obj>a<b/>c</obj>tail</table>\n <z/></p>";
    TableResult r = find_table(doc.data(), doc.size(), TableQuery{"T", std::string("P")});
    CHECK(r.outcome == Outcome::Found);
    CHECK(r.tree.nodes[static_cast<size_t>(r.root)].attr_count == 2);
    CHECK(r.tree.get(r.tree.nodes[static_cast<size_t>(r.root)].tail) == "\n ");
    // Without a parent the first table named T to end is the one inside P.
    TableResult inner = find_table(doc.data(), doc.size(), TableQuery{"T", std::nullopt});
    CHECK(inner.outcome == Outcome::Found && inner.end < r.end);
    TableResult none = find_table(doc.data(), doc.size(), TableQuery{"Q", std::nullopt});
    CHECK(none.outcome == Outcome::NotFound && none.root == Tree::kNone);
    std::string bad = doc.substr(0, doc.size() - 3);
    CHECK(find_table(bad.data(), bad.size(), TableQuery{"Q", std::nullopt}).outcome == Outcome::Fallback);
    CHECK(find_table(bad.data(), bad.size(), TableQuery{"T", std::nullopt}).outcome == Outcome::Found);
    DefResult d = find_def(doc.data(), doc.size(), "urn:t");
    CHECK(d.outcome == Outcome::Found && d.name.empty());
}

/// Byte mutations of valid documents: whole and piecewise reads must agree and never crash.
void test_mutations() {
    const std::string seeds[] = {
        "<?xml version='1.0'?><p xmlns='urn:t' xmlns:o='urn:o'><table name='R'><obj><b h='K'><h><h0 t='A'/></h>"
        "<row><p0 v='1&amp;2'/></row></b></obj></table><o:x o:a=\"&#x20AC;\">t<![CDATA[c]]><!--m--></o:x></p>",
        "<a>\xC3\xA9\r\n<b c='d'/>]]<?p q?></a>",
    };
    std::mt19937 rng(12345);
    for (int round = 0; round < 20000; ++round) {
        std::string doc = seeds[round % 2];
        int edits = 1 + static_cast<int>(rng() % 3);
        for (int e = 0; e < edits; ++e) {
            size_t at = rng() % (doc.size() + 1);
            switch (rng() % 3) {
                case 0: doc.insert(at, 1, static_cast<char>(rng() % 256)); break;
                case 1: if (at < doc.size()) doc.erase(at, 1 + rng() % 4); break;
                default: if (at < doc.size()) doc[at] = "<>&;'\"/=:!?[]-x \r\n\xC3\xFF"[rng() % 20];
            }
        }
        Run whole = run_whole(doc);
        Run piece = run_pieces(doc, 1 + rng() % 9);
        if (whole.status != piece.status || (whole.status == Status::Done && whole.log != piece.log)) {
            std::fprintf(stderr, "mutation %d differs between whole and pieces\n", round);
            ++failures;
        }
        TableQuery q{"R", std::nullopt};
        (void)find_table(doc.data(), doc.size(), q);
        (void)find_def(doc.data(), doc.size(), "urn:t");
    }
}

}  // namespace

int main() {
    test_events();
    test_faults_and_unsupported();
    test_deep_nesting();
    test_table_search();
    test_mutations();
    if (failures) {
        std::printf("%d failed\n", failures);
        return 1;
    }
    std::printf("xml engine: all checks passed\n");
    return 0;
}
