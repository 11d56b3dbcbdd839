#include "xml_tables.h"

#include "engine/xml/reader.h"

#include <nanobind/stl/string.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace nb = nanobind;

namespace norvale::bind {
namespace {

namespace xml = engine::xml;

/// A text kept in the pool, or none (an absent attribute: None).
struct Text {
    std::size_t off = 0;
    std::size_t len = 0;
    bool present = false;
};

/// One {ns}table element: its name, the cells of its first {ns}h child (key with 'h' turned to
/// 'p', title) and the cells of its {ns}row children (name id, value), row by row.
struct Table {
    Text name;
    bool has_header = false;
    std::vector<std::pair<std::string, Text>> header;
    std::vector<uint32_t> cell_names;
    std::vector<Text> cell_values;
    std::vector<std::size_t> row_begin;
};

struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

/// Collects the tables and counts the elements by local name, for the whole document.
class TablesSink {
public:
    explicit TablesSink(std::string_view ns) : ns_(ns) {}
    void attach(xml::Reader<TablesSink> *reader) { reader_ = reader; }
    bool wants_text() const { return false; }
    void on_text(std::string_view) {}
    void on_marker() {}

    bool on_start(const xml::StartTag &tag) {
        const uint32_t id = name_id(tag.local);
        ++counts_[id];
        const Open parent = open_.empty() ? Open{} : open_.back();
        if (parent.role == Role::Header) {
            std::string key(tag.local);
            for (char &c : key)
                if (c == 'h') c = 'p';
            Text title = attribute(tag, "t");
            tables_[parent.table].header.emplace_back(std::move(key), title);
        } else if (parent.role == Role::Row) {
            Text value = attribute(tag, "v");
            Table &t = tables_[parent.table];
            t.cell_names.push_back(id);
            t.cell_values.push_back(value);
        }
        Open self;
        if (in_namespace(tag.ns)) {
            if (tag.local == "table") {
                self = {Role::Table, tables_.size()};
                Text name = attribute(tag, "name");
                tables_.emplace_back();
                tables_.back().name = name;
            } else if (parent.role == Role::Table && tag.local == "h" && !tables_[parent.table].has_header) {
                tables_[parent.table].has_header = true;
                self = {Role::Header, parent.table};
            } else if (parent.role == Role::Table && tag.local == "row") {
                Table &t = tables_[parent.table];
                t.row_begin.push_back(t.cell_names.size());
                self = {Role::Row, parent.table};
            }
        }
        open_.push_back(self);
        return true;
    }

    bool on_end(std::string_view, int32_t) {
        open_.pop_back();
        return true;
    }

    const std::vector<Table> &tables() const { return tables_; }
    const std::vector<std::string> &names() const { return names_; }
    const std::vector<int64_t> &counts() const { return counts_; }
    std::string_view text(const Text &t) const { return std::string_view(pool_).substr(t.off, t.len); }

private:
    enum class Role { Other, Table, Header, Row };
    struct Open {
        Role role = Role::Other;
        std::size_t table = 0;
    };

    bool in_namespace(int32_t ns) {
        if (ns == xml::kNoNamespace) return false;
        if (ns == ns_id_) return true;
        if (reader_->namespace_uri(ns) != ns_) return false;
        ns_id_ = ns;  // namespace ids are interned: one per URI
        return true;
    }

    uint32_t name_id(std::string_view local) {
        auto it = ids_.find(local);
        if (it != ids_.end()) return it->second;
        const uint32_t id = static_cast<uint32_t>(names_.size());
        names_.emplace_back(local);
        counts_.push_back(0);
        ids_.emplace(std::string(local), id);
        return id;
    }

    /// The decoded value of the unprefixed attribute `local`, stored in the pool.
    Text attribute(const xml::StartTag &tag, std::string_view local) {
        for (std::size_t i = 0; i < tag.n_attrs; ++i) {
            const xml::Attribute &a = tag.attrs[i];
            if (a.decl || !a.prefix.empty() || a.local != local) continue;
            std::string_view v = xml::Reader<TablesSink>::value(a, scratch_);
            Text t{pool_.size(), v.size(), true};
            pool_.append(v);
            return t;
        }
        return Text{};
    }

    std::string_view ns_;
    int32_t ns_id_ = -2;
    xml::Reader<TablesSink> *reader_ = nullptr;
    std::vector<Open> open_;
    std::vector<Table> tables_;
    std::vector<std::string> names_;
    std::vector<int64_t> counts_;
    std::unordered_map<std::string, uint32_t, NameHash, std::equal_to<>> ids_;
    std::string pool_;
    std::string scratch_;
};

nb::object decode(std::string_view s) {
    PyObject *o = PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "strict");
    if (!o) throw nb::python_error();
    return nb::steal(o);
}

/// Python objects of the sink's texts; a text equal to the one made last for the same slot is
/// shared (the columns of a table repeat their values a lot).
class Objects {
public:
    explicit Objects(const TablesSink &sink) : sink_(sink) {}

    nb::object of(const Text &t) {
        if (!t.present) return nb::none();
        return decode(sink_.text(t));
    }

    nb::object of(const Text &t, std::pair<std::string_view, nb::object> &last) {
        if (!t.present) return nb::none();
        std::string_view s = sink_.text(t);
        if (!last.second.is_valid() || last.first != s) last = {s, decode(s)};
        return last.second;
    }

private:
    const TablesSink &sink_;
};

/// Whether every row of t has the cells of the first row, by name, and they map to distinct titles.
bool uniform(const Table &t, const std::vector<int64_t> &title_of, std::size_t rows) {
    const std::size_t cells = t.cell_names.size();
    const std::size_t width = rows > 1 ? t.row_begin[1] : cells;
    if (width * rows != cells) return false;
    for (std::size_t r = 0; r < rows; ++r) {
        if (t.row_begin[r] != r * width) return false;
        for (std::size_t i = 0; i < width; ++i)
            if (t.cell_names[r * width + i] != t.cell_names[i]) return false;
    }
    for (std::size_t i = 0; i < width; ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (title_of[t.cell_names[i]] == title_of[t.cell_names[j]]) return false;
    return true;
}

nb::object xml_tables(nb::bytes data, const std::string &ns) {
    TablesSink sink(ns);
    xml::Status status;
    {
        nb::gil_scoped_release nogil;  // the bytes are immutable and held by the caller
        xml::Reader<TablesSink> reader(sink);
        sink.attach(&reader);
        status = reader.feed(data.c_str(), data.size(), true);
    }
    if (status != xml::Status::Done) return nb::none();  // left to the full parser

    nb::dict counts;
    for (std::size_t i = 0; i < sink.names().size(); ++i)
        counts[decode(sink.names()[i])] = nb::int_(sink.counts()[i]);

    Objects objects(sink);
    nb::list tables;
    for (const Table &t : sink.tables()) {
        if (!t.has_header) continue;  // not a table of rows
        // the title of each element name: the last header cell with that key; -1: no title (None)
        std::vector<nb::object> titles;
        std::unordered_map<std::string_view, std::size_t> by_key;
        for (const auto &[key, title] : t.header) {
            auto it = by_key.find(key);
            if (it == by_key.end()) {
                by_key.emplace(key, titles.size());
                titles.push_back(objects.of(title));
            } else {
                titles[it->second] = objects.of(title);
            }
        }
        // a title's identity for the uniformity test: equal titles share one index, None is -1
        std::vector<int64_t> title_of(sink.names().size(), -1);
        std::vector<nb::object> key_of(sink.names().size());
        for (std::size_t id = 0; id < sink.names().size(); ++id) {
            auto it = by_key.find(sink.names()[id]);
            if (it == by_key.end()) {
                key_of[id] = nb::none();
                continue;
            }
            key_of[id] = titles[it->second];
            if (titles[it->second].is_none()) continue;
            title_of[id] = static_cast<int64_t>(it->second);
            for (std::size_t j = 0; j < it->second; ++j)
                if (titles[j].equal(titles[it->second])) {
                    title_of[id] = static_cast<int64_t>(j);
                    break;
                }
        }
        const std::size_t rows = t.row_begin.size();
        nb::object name = objects.of(t.name);
        if (uniform(t, title_of, rows)) {
            const std::size_t width = rows ? t.cell_names.size() / rows : 0;
            nb::dict columns;
            for (std::size_t i = 0; i < width; ++i) {
                PyObject *column = PyList_New(static_cast<Py_ssize_t>(rows));
                if (!column) throw nb::python_error();
                nb::object held = nb::steal(column);
                std::pair<std::string_view, nb::object> last;
                for (std::size_t r = 0; r < rows; ++r) {
                    nb::object v = objects.of(t.cell_values[r * width + i], last);
                    PyList_SET_ITEM(column, static_cast<Py_ssize_t>(r), v.release().ptr());
                }
                columns[key_of[t.cell_names[i]]] = held;
            }
            tables.append(nb::make_tuple(name, rows, columns, nb::none()));
        } else {
            nb::list records;
            for (std::size_t r = 0; r < rows; ++r) {
                const std::size_t end = r + 1 < rows ? t.row_begin[r + 1] : t.cell_names.size();
                nb::dict record;
                for (std::size_t c = t.row_begin[r]; c < end; ++c)
                    record[key_of[t.cell_names[c]]] = objects.of(t.cell_values[c]);
                records.append(record);
            }
            tables.append(nb::make_tuple(name, rows, nb::none(), records));
        }
    }
    return nb::make_tuple(counts, tables);
}

}  // namespace

void add_xml_tables(nb::module_ &m) {
    m.def("xml_tables", &xml_tables, nb::arg("data"), nb::arg("namespace"),
          "The tables of rows of an XML document and how many elements of each local name it holds,\n"
          "or None when the document is one the engine leaves to a full parser (a fault, a document\n"
          "type declaration, an encoding other than UTF-8). Returns (counts, tables): counts maps a\n"
          "local name to its number of elements; tables lists, in document order, every {namespace}table\n"
          "element that has a {namespace}h child, as (name, rows, columns, records). The titles of the\n"
          "cells of the first h child (attribute t) name the columns; a row's cell takes the title of\n"
          "the header cell whose name is the cell's with p for h (None without one) and its attribute v\n"
          "(None without one). columns maps title to the list of values, one per row, when every row\n"
          "has the same cells with distinct titles (records is None then); otherwise records lists one\n"
          "dict of title to value per row (and columns is None).");
}

}  // namespace norvale::bind
