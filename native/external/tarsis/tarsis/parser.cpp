// OutputFileParser: named result tables of a Tarsis XML output, as dictionaries of columns.
//
// get_result goes through the class's own _get_table_element, _result_element_to_dict and
// _tag_without_ns, so subclasses can change each step. When none of them is redefined it reads
// the table straight from the engine's tree, without building ElementTree elements.
#include <optional>
#include <string>
#include <vector>

#include "tarsis.h"
#include "xml_stream.h"

namespace norvale::tarsis {

namespace {

using namespace nb::literals;
using norvale::bind::ClassBuilder;
namespace xml = norvale::engine::xml;

// The functions as created here, to tell whether a class still uses them.
nb::handle fn_get_table_element;
nb::handle fn_result_element_to_dict;
nb::handle fn_tag_without_ns;

constexpr const char *kParserDoc =
    "Reads result tables from a Tarsis XML output file.\n\n"
    "All operations are called on the class:\n\n"
    "    OutputFileParser.get_result(analysis.get_xml_output_file(), \"Reactions\")\n\n"
    "returns a dictionary from each result block's key to a dictionary of columns (column title\n"
    "to the list of values, one per row). With parent=..., the first table of that name after the\n"
    "table named parent is read.";

/// Raises TarsisParsingError(message); `message` is a new reference or nullptr (error set).
[[noreturn]] void raise_parsing(PyObject *message) {
    nb::object text = nb::steal(message);
    if (!text.is_valid()) throw nb::python_error();
    norvale::bind::raise_new(scope().global("TarsisParsingError"), text);
}

// The names go into the messages as their text form (str()), whatever characters they hold.
[[noreturn]] void raise_not_found(nb::handle table_name, nb::handle parent, bool parent_given) {
    if (parent_given)
        raise_parsing(PyUnicode_FromFormat("Cannot find table '%S' in output XML for parent '%S'", table_name.ptr(),
                                           parent.ptr()));
    raise_parsing(PyUnicode_FromFormat("Cannot find table '%S' in output XML", table_name.ptr()));
}

[[noreturn]] void raise_no_results(nb::handle table_name) {
    raise_parsing(PyUnicode_FromFormat("No results were found in XML table '%S'.", table_name.ptr()));
}

[[noreturn]] void raise_no_headers() {
    raise_parsing(PyUnicode_FromString("No result headers were found in the provided XML table."));
}

bool same_function(nb::handle attribute, nb::handle original) {
    if (attribute.is(original)) return true;
    if (nb::hasattr(attribute, "__func__")) return nb::getattr(attribute, "__func__").is(original);
    return false;
}

bool native_tag_without_ns(nb::handle cls) { return same_function(nb::getattr(cls, "_tag_without_ns"), fn_tag_without_ns); }

nb::object tag_without_ns(nb::handle elem) {
    nb::object tag = elem.attr("tag");
    if (PyUnicode_CheckExact(tag.ptr())) {
        Py_ssize_t n = PyUnicode_GET_LENGTH(tag.ptr());
        Py_ssize_t i = PyUnicode_FindChar(tag.ptr(), '}', 0, n, -1);
        if (i == -2) throw nb::python_error();
        if (i < 0) return tag;
        return nb::steal(PyUnicode_Substring(tag.ptr(), i + 1, n));
    }
    return tag.attr("rpartition")("}")[2];
}

/// Local name of an element through the class (a redefined _tag_without_ns is honoured).
nb::object local_name(nb::handle cls, bool native, nb::handle elem) {
    return native ? tag_without_ns(elem) : cls.attr("_tag_without_ns")(elem);
}

/// The table search done by the host parser: for documents the engine leaves to it, and for
/// classes whose _tag_without_ns is redefined.
nb::object table_by_host(nb::handle cls, nb::handle file, nb::handle table_name, nb::handle parent, bool parent_given) {
    bool native = native_tag_without_ns(cls);
    nb::object events = element_tree().attr("iterparse")(file, "events"_a = nb::make_tuple("end"));
    bool parent_found = false;
    bool first = true;
    nb::str table("table");
    for (nb::handle item : events) {
        nb::object elem = nb::borrow(item)[1];
        if (first) {  // the first element to end is never a table we look at
            first = false;
            continue;
        }
        if (!local_name(cls, native, elem).equal(table)) continue;
        nb::object name = elem.attr("get")("name");
        if (parent_given) {
            if (name.equal(parent)) {
                parent_found = true;
                elem.attr("clear")();
                continue;
            }
            if (parent_found && name.equal(table_name)) return elem;
        } else if (name.equal(table_name)) {
            return elem;
        }
        elem.attr("clear")();
    }
    raise_not_found(table_name, parent, parent_given);
}

struct Query {
    xml::TableQuery query;
    bool usable = false;
};

Query make_query(nb::handle table_name, nb::handle parent, bool parent_given) {
    Query q;
    std::optional<std::string> name = exact_utf8(table_name);
    if (!name) return q;
    q.query.name = std::move(*name);
    if (parent_given) {
        std::optional<std::string> p = exact_utf8(parent);
        if (!p) return q;
        q.query.parent = std::move(*p);
    }
    q.usable = true;
    return q;
}

/// Runs the engine; nullopt when the host parser must decide. Raises when no table is found.
std::optional<xml::TableResult> find_native(nb::handle file, nb::handle table_name, nb::handle parent,
                                            bool parent_given, uint64_t &start) {
    Query q = make_query(table_name, parent, parent_given);
    if (!q.usable) return std::nullopt;
    nb::object pos;
    try {
        pos = file.attr("tell")();
    } catch (nb::python_error &) {
        return std::nullopt;  // not a seekable stream: the host parser reads it as it is
    }
    if (!PyLong_CheckExact(pos.ptr()) || !nb::try_cast<uint64_t>(pos, start)) return std::nullopt;
    std::optional<xml::TableResult> r = search_table(file, start, q.query);
    if (!r || r->outcome == xml::Outcome::Fallback) {
        file.attr("seek")(start);
        return std::nullopt;
    }
    if (r->outcome == xml::Outcome::NotFound) raise_not_found(table_name, parent, parent_given);
    return r;
}

/// Whether get_result remembers and restores the stream's position: what its seekable() says,
/// or, for a stream without one, whether it has tell and seek. A pipe or a socket file cannot
/// seek; it is read from where it stands, as the host parser would read it.
bool can_seek(nb::handle file) {
    nb::object seekable = nb::getattr(file, "seekable", nb::none());
    if (!seekable.is_none()) return norvale::bind::truthy(seekable());
    return nb::hasattr(file, "tell") && nb::hasattr(file, "seek");
}

nb::object get_table_element(nb::handle cls, nb::handle file, nb::handle table_name, nb::handle parent) {
    bool parent_given = norvale::bind::truthy(parent);
    if (native_tag_without_ns(cls) && can_seek(file)) {
        uint64_t start = 0;
        std::optional<xml::TableResult> r = find_native(file, table_name, parent, parent_given, start);
        if (r) return to_element(r->tree, r->root);
    }
    return table_by_host(cls, file, table_name, parent, parent_given);
}

// ---- result blocks from ElementTree elements --------------------------------------------------

nb::object result_element_to_dict(nb::handle cls, nb::handle element) {
    bool native = native_tag_without_ns(cls);
    nb::object ns = cls.attr("_NS");
    nb::object header = element.attr("find")("tarsis:h", ns);
    if (header.is_none()) raise_no_headers();
    nb::dict columns;  // cell key ("p0") -> title
    nb::dict result;   // title -> values
    nb::str h("h"), p("p"), t("t"), v("v");
    std::vector<nb::object> cells;
    for (nb::handle cell : header) cells.push_back(nb::borrow(cell));
    for (nb::object &cell : cells) {
        nb::object key = local_name(cls, native, cell).attr("replace")(h, p);
        columns[key] = cell.attr("get")(t);
    }
    for (nb::object &cell : cells) result[cell.attr("get")(t)] = nb::list();
    nb::object rows = element.attr("findall")("tarsis:row", ns);
    for (nb::handle row : rows) {
        nb::dict record;
        for (nb::handle key : columns.keys()) record[key] = nb::none();
        for (nb::handle cell : row) record[local_name(cls, native, cell)] = cell.attr("get")(v);
        // Strong references throughout: the keys' __hash__/__eq__ (a redefined _tag_without_ns
        // may give any object) run during the lookups.
        nb::object items = nb::steal(PyDict_Items(record.ptr()));
        if (!items.is_valid()) throw nb::python_error();
        for (nb::handle item : items) {
            nb::object key = nb::borrow(PyTuple_GET_ITEM(item.ptr(), 0));
            nb::object value = nb::borrow(PyTuple_GET_ITEM(item.ptr(), 1));
            PyObject *found = nullptr;
            int r = PyDict_GetItemRef(columns.ptr(), key.ptr(), &found);
            if (r < 0) throw nb::python_error();
            if (r == 0) {
                PyErr_SetObject(PyExc_KeyError, key.ptr());
                throw nb::python_error();
            }
            nb::object title = nb::steal(found);
            nb::object column = result[title];
            column.attr("append")(value);
        }
    }
    return result;
}

// ---- result blocks straight from the engine's tree --------------------------------------------

nb::object decode(const xml::Tree &tree, size_t off, size_t len) {
    nb::object o = nb::steal(PyUnicode_DecodeUTF8(tree.pool.data() + off, static_cast<Py_ssize_t>(len), nullptr));
    if (!o.is_valid()) throw nb::python_error();
    return o;
}

/// Reads a table from the tree with the rules of get_result and _result_element_to_dict.
class TreeReader {
public:
    TreeReader(const xml::Tree &tree, const std::string &ns) : tree_(tree), locals_(tree.names.size()) {
        for (size_t i = 0; i < tree.names.size(); ++i) {
            const xml::Tree::Name &n = tree.names[i];
            bool in_ns = n.has_ns && n.uri == ns;
            if (in_ns && n.local == "obj") obj_ = static_cast<int64_t>(i);
            if (in_ns && n.local == "h") h_ = static_cast<int64_t>(i);
            if (in_ns && n.local == "row") row_ = static_cast<int64_t>(i);
            if (!n.has_ns && n.local == "h") attr_h_ = static_cast<int64_t>(i);
            if (!n.has_ns && n.local == "t") attr_t_ = static_cast<int64_t>(i);
            if (!n.has_ns && n.local == "v") attr_v_ = static_cast<int64_t>(i);
        }
    }

    nb::object read(int32_t table, nb::handle table_name) {
        int32_t obj = first_child(table, obj_);
        if (obj == xml::Tree::kNone) raise_no_results(table_name);
        nb::dict result;
        bool any = false;
        for (int32_t block = child(obj); block != xml::Tree::kNone; block = next(block)) {
            any = true;
            nb::object columns = block_to_dict(block);
            nb::object key = attribute(block, attr_h_);
            if (key.is_none()) key = local(tree_.nodes[static_cast<size_t>(block)].tag);
            result[key] = columns;
        }
        if (!any) raise_no_results(table_name);
        return result;
    }

private:
    int32_t child(int32_t n) const { return tree_.nodes[static_cast<size_t>(n)].first_child; }
    int32_t next(int32_t n) const { return tree_.nodes[static_cast<size_t>(n)].next_sibling; }
    int32_t first_child(int32_t n, int64_t tag) const {
        for (int32_t c = child(n); c != xml::Tree::kNone; c = next(c))
            if (static_cast<int64_t>(tree_.nodes[static_cast<size_t>(c)].tag) == tag) return c;
        return xml::Tree::kNone;
    }
    nb::object attribute(int32_t n, int64_t key) const {
        const xml::Tree::Node &node = tree_.nodes[static_cast<size_t>(n)];
        for (uint32_t i = 0; i < node.attr_count; ++i) {
            const xml::Tree::Attr &a = tree_.attrs[node.attr_begin + i];
            if (static_cast<int64_t>(a.key) == key) return decode(tree_, a.off, a.len);
        }
        return nb::none();
    }
    nb::object &local(uint32_t tag) {
        nb::object &o = locals_[tag];
        if (!o.is_valid()) {
            const std::string &s = tree_.names[tag].local;
            o = decode_str(s);
        }
        return o;
    }
    static nb::object decode_str(const std::string &s) {
        nb::object o = nb::steal(PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), nullptr));
        if (!o.is_valid()) throw nb::python_error();
        return o;
    }

    nb::object block_to_dict(int32_t block) {
        int32_t header = first_child(block, h_);
        if (header == xml::Tree::kNone) raise_no_headers();
        // Column keys in first-seen order; a later header cell with the same key replaces the title.
        std::vector<std::string> keys;
        std::vector<nb::object> titles;
        std::vector<int32_t> cells;
        for (int32_t c = child(header); c != xml::Tree::kNone; c = next(c)) cells.push_back(c);
        for (int32_t c : cells) {
            std::string key = tree_.names[tree_.nodes[static_cast<size_t>(c)].tag].local;
            for (char &ch : key)
                if (ch == 'h') ch = 'p';
            nb::object title = attribute(c, attr_t_);
            size_t i = 0;
            while (i < keys.size() && keys[i] != key) ++i;
            if (i == keys.size()) {
                keys.push_back(std::move(key));
                titles.push_back(title);
            } else {
                titles[i] = title;
            }
        }
        nb::dict result;
        for (int32_t c : cells) result[attribute(c, attr_t_)] = nb::list();
        std::vector<nb::object> lists;
        for (nb::object &title : titles) lists.push_back(result[title]);
        // Column of each element name (-1: none); cells are matched by local name.
        std::vector<int32_t> column(tree_.names.size(), -2);
        auto column_of = [&](uint32_t tag) {
            int32_t &c = column[tag];
            if (c == -2) {
                c = -1;
                for (size_t i = 0; i < keys.size(); ++i)
                    if (keys[i] == tree_.names[tag].local) c = static_cast<int32_t>(i);
            }
            return c;
        };
        std::vector<nb::object> values(keys.size());
        nb::object none = nb::none();
        for (int32_t row = child(block); row != xml::Tree::kNone; row = next(row)) {
            if (static_cast<int64_t>(tree_.nodes[static_cast<size_t>(row)].tag) != row_) continue;
            for (auto &value : values) value = none;
            int64_t unknown = -1;
            for (int32_t c = child(row); c != xml::Tree::kNone; c = next(c)) {
                uint32_t tag = tree_.nodes[static_cast<size_t>(c)].tag;
                int32_t col = column_of(tag);
                if (col < 0) {
                    if (unknown < 0) unknown = tag;
                    continue;
                }
                values[static_cast<size_t>(col)] = attribute(c, attr_v_);
            }
            if (unknown >= 0) {
                PyErr_SetObject(PyExc_KeyError, local(static_cast<uint32_t>(unknown)).ptr());
                throw nb::python_error();
            }
            for (size_t i = 0; i < values.size(); ++i)
                if (PyList_Append(lists[i].ptr(), values[i].ptr()) != 0) throw nb::python_error();
        }
        return result;
    }

    const xml::Tree &tree_;
    std::vector<nb::object> locals_;
    int64_t obj_ = -1, h_ = -1, row_ = -1, attr_h_ = -1, attr_t_ = -1, attr_v_ = -1;
};

// ---- get_result --------------------------------------------------------------------------------

/// The namespace URI behind the "tarsis" prefix of the class's _NS, when it is a plain str.
std::optional<std::string> class_namespace(nb::handle cls) {
    nb::object ns = nb::getattr(cls, "_NS");
    if (!PyDict_CheckExact(ns.ptr())) return std::nullopt;
    PyObject *found = nullptr;
    int r = PyDict_GetItemStringRef(ns.ptr(), "tarsis", &found);  // strong: the lookup may run key.__eq__
    if (r < 0) throw nb::python_error();
    if (r == 0) return std::nullopt;
    nb::object uri = nb::steal(found);
    return exact_utf8(uri);
}

/// The result dictionary of a table element, through the class's own methods.
nb::object blocks_of(nb::handle cls, nb::handle table, nb::handle table_name) {
    nb::object obj = table.attr("find")("tarsis:obj", cls.attr("_NS"));
    if (obj.is_none()) raise_no_results(table_name);
    nb::dict result;
    bool any = false;
    for (nb::handle block : obj) {
        any = true;
        nb::object columns = cls.attr("_result_element_to_dict")(block);
        nb::object key = block.attr("get")("h");
        if (key.is_none()) key = cls.attr("_tag_without_ns")(block);
        result[key] = columns;
    }
    if (!any) raise_no_results(table_name);
    return result;
}

nb::object result_from_stream(nb::handle cls, nb::handle file, nb::handle table_name, nb::handle parent) {
    const bool seek = can_seek(file);
    nb::object pos;
    if (seek) {
        pos = file.attr("tell")();
        file.attr("seek")(0);
    }
    nb::object result;
    bool native = same_function(nb::getattr(cls, "_get_table_element"), fn_get_table_element) &&
                  same_function(nb::getattr(cls, "_result_element_to_dict"), fn_result_element_to_dict) &&
                  native_tag_without_ns(cls);
    std::optional<std::string> ns;
    if (native) ns = class_namespace(cls);
    if (ns) {
        bool parent_given = norvale::bind::truthy(parent);
        uint64_t start = 0;
        std::optional<xml::TableResult> r;
        if (seek) r = find_native(file, table_name, parent, parent_given, start);
        if (r) {
            TreeReader reader(r->tree, *ns);
            result = reader.read(r->root, table_name);
        } else {
            result = blocks_of(cls, table_by_host(cls, file, table_name, parent, parent_given), table_name);
        }
    } else {
        result = blocks_of(cls, cls.attr("_get_table_element")(file, table_name, parent), table_name);
    }
    if (seek) file.attr("seek")(pos);
    return result;
}

nb::object get_result(nb::handle cls, nb::handle file, nb::handle table_name, nb::handle parent) {
    if (!nb::hasattr(file, "read")) {
        PyErr_Format(PyExc_TypeError, "get_result() argument 'file' must be a readable binary stream or a File, not %.200s",
                     Py_TYPE(file.ptr())->tp_name);
        throw nb::python_error();
    }
    return result_from_stream(cls, file, table_name, parent);
}

}  // namespace

void init_parser(nb::module_ &) {
    nb::dict ns;
    ns["tarsis"] = nb::str(tarsis_namespace().c_str(), tarsis_namespace().size());

    scope().annotation_names("xml.etree.ElementTree", {"Element"});
    nb::object built = ClassBuilder(scope(), "OutputFileParser").doc(kParserDoc).attr("_NS", ns).finish();
    // A kit File is read through a stream of its own, closed again: `with file.open_binary() as stream`.
    norvale::bind::def_python_classmethod(
        built, "get_result",
        "(cls, file: BinaryIO, table_name: str, *, parent: Optional[str] = None) -> Dict[str, Dict[Optional[str], "
        "List[Optional[str]]]]",
        R"(
        if isinstance(file, File):
            with file.open_binary() as stream:
                return _native(cls, stream, table_name, parent)
        return _native(cls, file, table_name, parent)
    )",
        [](nb::handle cls, nb::handle file, nb::handle table_name, nb::handle parent) {
            return get_result(cls, file, table_name, parent);
        },
        "The table named table_name (the first after the table named parent, when given) as a dictionary\n"
        "from result block key to columns (column title to the list of values, one per row).");
    norvale::bind::def_classmethod(
        built, "_get_table_element",
        "(cls, file: BinaryIO, table_name: str, parent: Optional[str] = None) -> Element",
        [](nb::handle cls, nb::handle file, nb::handle table_name, nb::handle parent) {
            return get_table_element(cls, file, table_name, parent);
        });
    norvale::bind::def_classmethod(
        built, "_result_element_to_dict",
        "(cls, element: Element) -> Dict[Optional[str], List[Optional[str]]]",
        [](nb::handle cls, nb::handle element) { return result_element_to_dict(cls, element); });
    norvale::bind::def_static(
        built, "_tag_without_ns", "(elem: Element) -> str", [](nb::handle elem) { return tag_without_ns(elem); });
    fn_get_table_element = nb::object(nb::getattr(built, "_get_table_element").attr("__func__")).release();
    fn_result_element_to_dict = nb::object(nb::getattr(built, "_result_element_to_dict").attr("__func__")).release();
    fn_tag_without_ns = nb::getattr(built, "_tag_without_ns").release();
}

}  // namespace norvale::tarsis
