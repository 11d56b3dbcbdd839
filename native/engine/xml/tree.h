// A compact element tree: built only for the parts of a document a search keeps.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace norvale::engine::xml {

/// Elements, attributes and character data of kept subtrees, in flat arrays.
struct Tree {
    static constexpr int32_t kNone = -1;

    /// An element or attribute name in both forms.
    struct Name {
        std::string key;    ///< "{uri}local", or "local" without namespace
        std::string uri;    ///< namespace URI (empty when none)
        std::string local;  ///< local name
        bool has_ns = false;
    };
    struct Span {
        size_t off = 0;
        size_t len = 0;
        bool present = false;  ///< false: None (no character data)
    };
    struct Node {
        uint32_t tag = 0;
        uint32_t attr_begin = 0;
        uint32_t attr_count = 0;
        int32_t first_child = kNone;
        int32_t last_child = kNone;
        int32_t next_sibling = kNone;
        Span text;
        Span tail;
    };
    struct Attr {
        uint32_t key;
        size_t off;
        size_t len;
    };

    std::vector<Node> nodes;
    std::vector<Attr> attrs;
    std::vector<Name> names;
    std::string pool;

    /// The id of a name, added on first use.
    uint32_t name_id(std::string_view uri, bool has_ns, std::string_view local);
    /// Stores bytes in the pool and returns where.
    Span store(std::string_view s);
    std::string_view get(const Span& s) const { return std::string_view(pool.data() + s.off, s.len); }
    std::string_view value(const Attr& a) const { return std::string_view(pool.data() + a.off, a.len); }
    /// Adds an element as last child of parent (kNone: a root).
    int32_t add(uint32_t tag, int32_t parent);
    /// Empties an element: no children, attributes or character data.
    void clear(int32_t node);
    /// Forgets everything.
    void reset();

private:
    std::unordered_map<std::string, uint32_t> ids_;
    std::string key_;
};

}  // namespace norvale::engine::xml
