// Searches over a Tarsis XML document: the result table lookup and the
// definition-file reference. Both run on a memory buffer or on chunks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "tree.h"

namespace norvale::engine::xml {

/// Supplies the bytes of a document piece by piece.
class ChunkSource {
public:
    virtual ~ChunkSource() = default;
    /// Copies up to cap bytes to dst; 0 means the end of the data.
    virtual size_t read(char* dst, size_t cap) = 0;
};

/// How a search ended.
enum class Outcome {
    Found,     ///< what was searched for was found
    NotFound,  ///< the whole document was read; it is well-formed
    Fallback,  ///< the document needs the full parser (fault or unsupported construct)
};

/// What to look for: a table named `name`, after a table named `parent`.
struct TableQuery {
    std::string name;
    std::optional<std::string> parent;  ///< nullopt: no parent given
};

/// Result of a table search.
struct TableResult {
    Outcome outcome = Outcome::Fallback;
    Tree tree;
    int32_t root = Tree::kNone;  ///< the table element in tree
    uint64_t end = 0;            ///< offset just after the table's end tag
    uint64_t read = 0;           ///< bytes taken from the source
};

/// Result of a definition-file lookup.
struct DefResult {
    Outcome outcome = Outcome::Fallback;  ///< Found (document read) or Fallback
    std::string name;                     ///< uri of the last def element, "" when none
    uint64_t read = 0;
};

/// Finds a table, delivering elements at their end like an end-event parse:
/// the first element to end is passed over unexamined; tables passed over are
/// emptied; the first table named `name` (after a completed table named
/// `parent`, when one is given) is returned with its subtree.
TableResult find_table(const char* data, size_t len, const TableQuery& query);
TableResult find_table(ChunkSource& source, const TableQuery& query, size_t chunk);

/// Finds the uri attribute of the last element {ns}def to end.
DefResult find_def(const char* data, size_t len, const std::string& ns);
DefResult find_def(ChunkSource& source, const std::string& ns, size_t chunk);

}  // namespace norvale::engine::xml
