// Base64 (standard alphabet, padded, no line breaks) over byte spans.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace norvale::engine::base64 {

/// Number of characters `encode` writes for `n` input bytes.
constexpr std::size_t encoded_size(std::size_t n) { return (n + 2) / 3 * 4; }

/// Encodes `n` bytes at `in` into `out`, which must hold `encoded_size(n)` characters.
void encode(const unsigned char *in, std::size_t n, char *out);

/// Encodes a byte span into a new string.
std::string encode(std::string_view bytes);

/// Decodes padded standard Base64; returns false on a character outside the alphabet or bad padding.
bool decode(std::string_view text, std::string &out);

}  // namespace norvale::engine::base64
