#include "tree.h"

namespace norvale::engine::xml {

uint32_t Tree::name_id(std::string_view uri, bool has_ns, std::string_view local) {
    key_.clear();
    if (has_ns) {
        key_.push_back('{');
        key_.append(uri);
        key_.push_back('}');
    }
    key_.append(local);
    auto it = ids_.find(key_);
    if (it != ids_.end()) return it->second;
    uint32_t id = static_cast<uint32_t>(names.size());
    names.push_back(Name{key_, std::string(uri), std::string(local), has_ns});
    ids_.emplace(key_, id);
    return id;
}

Tree::Span Tree::store(std::string_view s) {
    Span span{pool.size(), s.size(), true};
    pool.append(s);
    return span;
}

int32_t Tree::add(uint32_t tag, int32_t parent) {
    int32_t id = static_cast<int32_t>(nodes.size());
    Node n;
    n.tag = tag;
    n.attr_begin = static_cast<uint32_t>(attrs.size());
    nodes.push_back(n);
    if (parent != kNone) {
        Node& p = nodes[static_cast<size_t>(parent)];
        if (p.last_child == kNone) p.first_child = id;
        else nodes[static_cast<size_t>(p.last_child)].next_sibling = id;
        p.last_child = id;
    }
    return id;
}

void Tree::clear(int32_t node) {
    Node& n = nodes[static_cast<size_t>(node)];
    n.attr_count = 0;
    n.first_child = n.last_child = kNone;
    n.text = Span{};
    n.tail = Span{};
}

void Tree::reset() {
    nodes.clear();
    attrs.clear();
    pool.clear();
    names.clear();
    ids_.clear();
}

}  // namespace norvale::engine::xml
