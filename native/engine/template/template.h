// Fills the Tarsis input template: the model document (gzip + Base64 JSON) in, the input XML
// and the definition file (each gzip + Base64) out. Plain C++, no Python.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvale::engine::tarsis_template {

/// One member of the model document, in document order: an array of objects, or (single)
/// one object.
struct Member {
    std::string name;
    bool single = false;
};

/// What the fill writes around the tables.
struct Layout {
    std::string_view ns;        ///< namespace of both files, written as it is
    std::string_view def_name;  ///< the `uri` of the input XML's `def` element
    int level = 6;              ///< deflate level of both replies
    std::size_t window = std::size_t(1) << 20;  ///< inflated text held at once (grows for a longer row)
};

/// The two replies, each gzip + Base64 text.
struct Files {
    std::string input_file;
    std::string def_file;
};

/// Answers one request whose `input` member is `base64_text`. Returns nothing when the request
/// is not one this reader takes: text that is not Base64 / gzip / UTF-8 / JSON, a document that
/// does not hold exactly `members` in their order with the right kinds, duplicate names in an
/// object, a character XML cannot carry, numbers beyond a double or of over 4000 digits. The
/// caller answers those the slow way, which also words the error. Throws only std::bad_alloc.
std::optional<Files> fill(std::string_view base64_text, const std::vector<Member> &members, const Layout &layout);

/// The same, from the uncompressed JSON text; the files come back uncompressed (for tests).
std::optional<Files> render(std::string_view json, const std::vector<Member> &members, const Layout &layout);

}  // namespace norvale::engine::tarsis_template
