#include "search.h"

#include <cstring>
#include <vector>

#include "reader.h"

namespace norvale::engine::xml {

namespace {

constexpr std::string_view kTable = "table";
constexpr std::string_view kDef = "def";

/// Unprefixed attribute `local` of a start tag, decoded; false when absent.
bool attribute(const StartTag& tag, std::string_view local, std::string& out) {
    for (size_t i = 0; i < tag.n_attrs; ++i) {
        const Attribute& a = tag.attrs[i];
        if (!a.decl && a.prefix.empty() && a.local == local) {
            out.clear();
            if (a.plain) out.assign(a.raw);
            else decode_attr(a.raw, out);
            return true;
        }
    }
    return false;
}

class TableSink {
public:
    explicit TableSink(const TableQuery& q, TableResult& r) : q_(q), r_(r) {}
    void attach(Reader<TableSink>* reader) { reader_ = reader; }

    bool wants_text() const { return !open_.empty() || tail_mode_; }
    void on_text(std::string_view s) { pending_.append(s); }
    // The host's tree builder hands collected text over at comments (not at processing
    // instructions); for the returned table that decides whether a tail is seen.
    void on_marker() {
        if (tail_mode_) flush();
    }

    // Most elements lie outside every candidate table and are not tables: nothing to do but count.
    [[gnu::always_inline]] bool on_start(const StartTag& tag) {
        if (open_.empty() && !tail_mode_ && tag.local != kTable && pending_.empty()) {
            target_ = Tree::kNone;
            return true;
        }
        return start_slow(tag);
    }

    [[gnu::always_inline]] bool on_end(std::string_view local, int32_t ns) {
        if (open_.empty() && !tail_mode_ && local != kTable && pending_.empty() && ended_ > 0) {
            ++ended_;
            return true;
        }
        return end_slow(local, ns);
    }

    [[gnu::noinline]] bool start_slow(const StartTag& tag) {
        if (tail_mode_) return finish_tail();
        flush();
        bool eq_name = false;
        if (tag.local == kTable) {
            size_t depth = reader_->depth();
            bool eq_parent = false;
            if (attribute(tag, "name", value_)) {
                eq_name = value_ == q_.name;
                eq_parent = q_.parent && value_ == *q_.parent;
            }
            tables_.push_back({depth, eq_name, eq_parent});
        }
        if (!open_.empty() || eq_name) {
            Tree& t = r_.tree;
            uint32_t tag_id = t.name_id(reader_->namespace_uri(tag.ns), tag.ns != kNoNamespace, tag.local);
            int32_t node = t.add(tag_id, open_.empty() ? Tree::kNone : open_.back());
            uint32_t count = 0;
            for (size_t i = 0; i < tag.n_attrs; ++i) {
                const Attribute& a = tag.attrs[i];
                if (a.decl) continue;
                uint32_t key = a.prefix.empty()
                                   ? t.name_id({}, false, a.local)
                                   : t.name_id(reader_->namespace_uri(a.ns), true, a.local);
                std::string_view v = Reader<TableSink>::value(a, value_);
                Tree::Span s = t.store(v);
                t.attrs.push_back({key, s.off, s.len});
                ++count;
            }
            t.nodes[static_cast<size_t>(node)].attr_count = count;
            open_.push_back(node);
            target_ = node;
            target_tail_ = false;
        } else {
            target_ = Tree::kNone;
        }
        return true;
    }

    [[gnu::noinline]] bool end_slow(std::string_view local, int32_t) {
        if (tail_mode_) return finish_tail();
        flush();
        int32_t node = Tree::kNone;
        if (!open_.empty()) {
            node = open_.back();
            open_.pop_back();
            target_ = node;
            target_tail_ = true;
        }
        TableInfo info{0, false, false};
        bool is_table = local == kTable && !tables_.empty() &&
                        tables_.back().depth == reader_->depth() + 1 - reader_->in_empty();
        if (is_table) {
            info = tables_.back();
            tables_.pop_back();
        }
        bool found = false;
        if (++ended_ > 1 && is_table) {
            if (q_.parent) {
                if (info.eq_parent) {
                    parent_seen_ = true;
                    clear(node);
                } else if (parent_seen_ && info.eq_name) {
                    found = true;
                } else {
                    clear(node);
                }
            } else if (info.eq_name) {
                found = true;
            } else {
                clear(node);
            }
        }
        if (found) {
            r_.root = node;
            r_.end = reader_->token_end();
            r_.outcome = Outcome::Found;
            tail_mode_ = true;
            target_ = node;
            target_tail_ = true;
            return true;
        }
        if (node != Tree::kNone && open_.empty()) {
            // A candidate that was not returned: forget it.
            r_.tree.reset();
            target_ = Tree::kNone;
        }
        return true;
    }

    bool done() const { return tail_mode_; }

private:
    struct TableInfo {
        size_t depth;
        bool eq_name;
        bool eq_parent;
    };

    void clear(int32_t node) {
        if (node == Tree::kNone) return;
        r_.tree.clear(node);
        target_ = Tree::kNone;
    }

    void flush() {
        if (pending_.empty()) return;
        if (target_ != Tree::kNone) {
            Tree::Node& n = r_.tree.nodes[static_cast<size_t>(target_)];
            Tree::Span& span = target_tail_ ? n.tail : n.text;
            if (span.present && span.off + span.len == r_.tree.pool.size()) {
                r_.tree.pool.append(pending_);  // more of the same text
                span.len += pending_.size();
            } else if (span.present) {
                std::string joined(r_.tree.get(span));
                joined += pending_;
                span = r_.tree.store(joined);
            } else {
                span = r_.tree.store(pending_);
            }
        }
        pending_.clear();
    }

    bool finish_tail() {
        flush();
        return false;
    }

    const TableQuery& q_;
    TableResult& r_;
    Reader<TableSink>* reader_ = nullptr;
    std::vector<int32_t> open_;
    std::vector<TableInfo> tables_;
    std::string pending_;
    std::string value_;
    int32_t target_ = Tree::kNone;
    bool target_tail_ = false;
    bool parent_seen_ = false;
    bool tail_mode_ = false;
    uint64_t ended_ = 0;
};

class DefSink {
public:
    DefSink(const std::string& ns, DefResult& r) : ns_(ns), r_(r) {}
    void attach(Reader<DefSink>* reader) { reader_ = reader; }
    bool wants_text() const { return false; }
    void on_text(std::string_view) {}
    void on_marker() {}

    bool on_start(const StartTag& tag) {
        if (tag.local == kDef && tag.ns != kNoNamespace && reader_->namespace_uri(tag.ns) == ns_) {
            Pending p{reader_->depth(), std::string()};
            attribute(tag, "uri", p.uri);
            open_.push_back(std::move(p));
        }
        return true;
    }

    bool on_end(std::string_view local, int32_t) {
        if (!open_.empty() && local == kDef && open_.back().depth == reader_->depth() + 1 - reader_->in_empty()) {
            r_.name = std::move(open_.back().uri);
            open_.pop_back();
        }
        return true;
    }

    bool done() const { return false; }

private:
    struct Pending {
        size_t depth;
        std::string uri;
    };
    const std::string& ns_;
    DefResult& r_;
    Reader<DefSink>* reader_ = nullptr;
    std::vector<Pending> open_;
};

/// Runs a reader over a memory buffer. Returns the reader's final status.
template <class Sink>
Status run_memory(Sink& sink, const char* data, size_t len) {
    Reader<Sink> reader(sink);
    sink.attach(&reader);
    return reader.feed(data, len, true);
}

/// Runs a reader over chunks, keeping only the unfinished token between reads.
template <class Sink>
Status run_chunks(Sink& sink, ChunkSource& source, size_t chunk, uint64_t& read) {
    Reader<Sink> reader(sink);
    sink.attach(&reader);
    std::vector<char> buf;
    size_t have = 0;
    size_t want = chunk;
    bool eof = false;
    for (;;) {
        if (!eof) {
            if (buf.size() < have + want) buf.resize(have + want);
            size_t n = source.read(buf.data() + have, want);
            if (n == 0) eof = true;
            have += n;
            read += n;
        }
        Status st = reader.feed(buf.data(), have, eof);
        size_t used = reader.consumed();
        if (st != Status::NeedMore) return st;
        if (used > 0) {
            std::memmove(buf.data(), buf.data() + used, have - used);
            have -= used;
            want = chunk;
        } else if (have >= want) {
            // One token spans the whole buffer: read more at a time so the
            // token is not rescanned once per chunk.
            want = have;
        }
    }
}

TableResult table_outcome(TableResult r, Status st, const TableSink& sink) {
    if (sink.done() && st != Status::Fallback) {
        // Found. What follows the table decided its tail; when that was something left to the
        // full parser (which may accept it and hand the tail over), the full parser answers.
        r.outcome = Outcome::Found;
        return r;
    }
    r.tree.reset();
    r.root = Tree::kNone;
    r.outcome = st == Status::Done ? Outcome::NotFound : Outcome::Fallback;
    return r;
}

}  // namespace

TableResult find_table(const char* data, size_t len, const TableQuery& query) {
    TableResult r;
    TableSink sink(query, r);
    Status st = run_memory(sink, data, len);
    r.read = len;
    return table_outcome(std::move(r), st, sink);
}

TableResult find_table(ChunkSource& source, const TableQuery& query, size_t chunk) {
    TableResult r;
    TableSink sink(query, r);
    uint64_t read = 0;
    Status st = run_chunks(sink, source, chunk, read);
    r.read = read;
    return table_outcome(std::move(r), st, sink);
}

DefResult find_def(const char* data, size_t len, const std::string& ns) {
    DefResult r;
    DefSink sink(ns, r);
    Status st = run_memory(sink, data, len);
    r.read = len;
    r.outcome = st == Status::Done ? Outcome::Found : Outcome::Fallback;
    return r;
}

DefResult find_def(ChunkSource& source, const std::string& ns, size_t chunk) {
    DefResult r;
    DefSink sink(ns, r);
    uint64_t read = 0;
    Status st = run_chunks(sink, source, chunk, read);
    r.read = read;
    r.outcome = st == Status::Done ? Outcome::Found : Outcome::Fallback;
    return r;
}

}  // namespace norvale::engine::xml
