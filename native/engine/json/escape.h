// JSON string text with every non-ASCII character written as a \u escape.
#pragma once

#include "engine/json/buffer.h"

#include <cstddef>
#include <cstdint>

namespace norvale::engine::json {

/// Appends the quoted, ASCII-only JSON text of a string of code units (1, 2 or 4 bytes each).
/// Code points above U+FFFF become surrogate pairs; lone surrogates are escaped as they are.
void append_quoted_ascii(TextBuffer &out, const std::uint8_t *s, std::size_t n);
void append_quoted_ascii(TextBuffer &out, const std::uint16_t *s, std::size_t n);
void append_quoted_ascii(TextBuffer &out, const std::uint32_t *s, std::size_t n);

}  // namespace norvale::engine::json
