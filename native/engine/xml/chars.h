// Character classes, UTF-8 checks and reference decoding for the XML reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace norvale::engine::xml {

/// Bits of the per-byte class table.
enum : uint8_t {
    kNameStart = 1,   ///< ASCII letter, '_' or ':'
    kName = 2,        ///< ASCII name character (start chars, digits, '.', '-')
    kSpace = 4,       ///< XML white space: ' ', '\t', '\n', '\r'
    kAttrStop = 8,    ///< stops the scan of an attribute value
    kNameNoColon = 16,  ///< ASCII name character other than ':'
};

/// Per-byte class table.
extern const uint8_t kCharClass[256];

inline bool is_space(unsigned char c) { return kCharClass[c] & kSpace; }
inline bool is_name_start(unsigned char c) { return kCharClass[c] & kNameStart; }
inline bool is_name_char(unsigned char c) { return kCharClass[c] & kName; }

/// Length of the UTF-8 sequence at p that encodes an XML character (2 to 4),
/// 0 when the bytes are not such a sequence, -1 when the data ends inside it.
int utf8_xml_char(const unsigned char* p, const unsigned char* end);

/// True when the code point may appear in an XML 1.0 document.
inline bool is_xml_char(uint32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

/// Outcome of reading one reference ("&...;").
struct Ref {
    int length;          ///< bytes of the reference, 0 = malformed, -1 = incomplete
    uint32_t code;       ///< the character it stands for
};

/// Reads the reference starting at p (which points at '&'). Only the five
/// predefined entities and character references are understood.
Ref read_ref(const char* p, const char* end);

/// Appends the UTF-8 encoding of code point c to out.
void append_utf8(std::string& out, uint32_t c);

/// Decodes character data: references expanded, line ends normalised.
/// The input holds complete references only.
void decode_text(std::string_view raw, std::string& out);

/// Decodes an attribute value: as decode_text, and white space becomes ' '.
void decode_attr(std::string_view raw, std::string& out);

/// Checks the characters of a comment, processing instruction or CDATA body.
bool valid_chars(const char* p, const char* end, bool ascii_only);

}  // namespace norvale::engine::xml
