// Base64 with the standard alphabet and padding, no line breaks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace norvale::base64 {

/// Number of characters encode() writes for n input bytes.
constexpr std::size_t encoded_size(std::size_t n) { return (n + 2) / 3 * 4; }

/// Writes the Base64 text of data[0, n) into out (encoded_size(n) bytes); returns the end.
char *encode(const std::uint8_t *data, std::size_t n, char *out);

/// Base64 text of data[0, n).
std::string encode(const std::uint8_t *data, std::size_t n);

/// Decodes strict Base64 (standard alphabet, padded, nothing else); nullopt on any other character.
std::optional<std::string> decode(const char *text, std::size_t n);

}  // namespace norvale::base64
