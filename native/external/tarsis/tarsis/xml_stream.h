// Reading Tarsis XML from Python streams with the engine's reader, and the host parser as the
// authority for everything the engine leaves to it.
#pragma once

#include <optional>
#include <string>

#include "engine/xml/search.h"
#include "tarsis.h"

namespace norvale::tarsis {

/// The Tarsis namespace URI (the kit's TARSIS_NAMESPACE, read at import).
const std::string &tarsis_namespace();
/// Reads the kit's namespace constant; called once at import.
void load_tarsis_namespace();

/// Bytes requested per read() of a file object; a multiple of the host parser's 16 KiB steps.
inline constexpr size_t kReadChunk = 1 << 20;

/// The table search run on `file` from `start`, its current position. nullopt when the stream
/// must go to the host parser as a whole (it has no usable read(), or read() gave no bytes).
/// After a found or missing table the stream is left where an end-event parse reading 16 KiB
/// at a time would have left it.
std::optional<engine::xml::TableResult> search_table(nb::handle file, uint64_t start,
                                                       const engine::xml::TableQuery &query);

/// The definition-file search on `file` from its current position; nullopt as above.
std::optional<engine::xml::DefResult> search_def(nb::handle file);

/// `xml.etree.ElementTree`.
nb::object element_tree();

/// Builds `xml.etree.ElementTree.Element` objects for the subtree of `node`.
nb::object to_element(const engine::xml::Tree &tree, int32_t node);

/// UTF-8 text of a str when it is exactly a str and encodable; nullopt otherwise.
std::optional<std::string> exact_utf8(nb::handle obj);

}  // namespace norvale::tarsis
