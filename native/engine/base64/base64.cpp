#include "engine/base64/base64.h"

#include <array>

namespace norvale::engine::base64 {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> make_reverse() {
    std::array<std::int8_t, 256> table{};
    for (auto &v : table) v = -1;
    for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
    return table;
}
constexpr auto kReverse = make_reverse();

// Pairs of output characters for every 12-bit group: halves the table lookups of the hot loop.
struct PairTable {
    std::array<char, 4096 * 2> chars{};
    constexpr PairTable() {
        for (int i = 0; i < 4096; ++i) {
            chars[2 * i] = kAlphabet[i >> 6];
            chars[2 * i + 1] = kAlphabet[i & 63];
        }
    }
};
constexpr PairTable kPairs{};

}  // namespace

void encode(const unsigned char *in, std::size_t n, char *out) {
    std::size_t i = 0;
    for (; i + 3 <= n; i += 3, out += 4) {
        const std::uint32_t v = (std::uint32_t(in[i]) << 16) | (std::uint32_t(in[i + 1]) << 8) | in[i + 2];
        const char *hi = &kPairs.chars[2 * (v >> 12)];
        const char *lo = &kPairs.chars[2 * (v & 0xFFF)];
        out[0] = hi[0];
        out[1] = hi[1];
        out[2] = lo[0];
        out[3] = lo[1];
    }
    const std::size_t rest = n - i;
    if (rest == 1) {
        const std::uint32_t v = std::uint32_t(in[i]) << 16;
        out[0] = kAlphabet[(v >> 18) & 63];
        out[1] = kAlphabet[(v >> 12) & 63];
        out[2] = '=';
        out[3] = '=';
    } else if (rest == 2) {
        const std::uint32_t v = (std::uint32_t(in[i]) << 16) | (std::uint32_t(in[i + 1]) << 8);
        out[0] = kAlphabet[(v >> 18) & 63];
        out[1] = kAlphabet[(v >> 12) & 63];
        out[2] = kAlphabet[(v >> 6) & 63];
        out[3] = '=';
    }
}

std::string encode(std::string_view bytes) {
    std::string out(encoded_size(bytes.size()), '\0');
    encode(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), out.data());
    return out;
}

bool decode(std::string_view text, std::string &out) {
    if (text.size() % 4 != 0) return false;
    out.clear();
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int pad = 0;
        if (last) {
            if (text[i + 3] == '=') ++pad;
            if (pad && text[i + 2] == '=') ++pad;
        }
        std::uint32_t v = 0;
        for (int k = 0; k < 4 - pad; ++k) {
            const std::int8_t d = kReverse[static_cast<unsigned char>(text[i + k])];
            if (d < 0) return false;
            v |= std::uint32_t(d) << (18 - 6 * k);
        }
        out.push_back(static_cast<char>(v >> 16));
        if (pad < 2) out.push_back(static_cast<char>((v >> 8) & 0xFF));
        if (pad < 1) out.push_back(static_cast<char>(v & 0xFF));
    }
    return true;
}

}  // namespace norvale::engine::base64
