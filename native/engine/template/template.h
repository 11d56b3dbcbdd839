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

/// Lists and objects nested deeper than this are refused.
constexpr int kMaxDepth = 500;

/// The two replies, each gzip + Base64 text; or, when `refusal` is not empty, the reason the
/// document cannot be written (text XML cannot carry), worded for the caller's error.
struct Files {
    std::string input_file;
    std::string def_file;
    std::string refusal;
};

/// Answers one request whose `input` member is `base64_text`. Returns nothing when the text is
/// not one this reader takes: not Base64 / one gzip member / UTF-8 / JSON, a document that does
/// not hold exactly `members` in their order with the right kinds, a name given twice in one
/// object, a number beyond a double or an integer of over 4300 digits, nesting deeper than
/// kMaxDepth. The caller reads those with the host's decoders (which word their errors) and, for
/// a usable document, hands its plain JSON text to render(). Throws only std::bad_alloc.
std::optional<Files> fill(std::string_view base64_text, const std::vector<Member> &members, const Layout &layout);

/// The same from the uncompressed JSON text; the files come back gzip + Base64 text when `pack`,
/// else uncompressed.
std::optional<Files> render(std::string_view json, const std::vector<Member> &members, const Layout &layout,
                            bool pack = false);

}  // namespace norvale::engine::tarsis_template
