#include "base64/base64.h"

#include <array>

namespace norvale::base64 {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two alphabet characters per 12-bit value: one table lookup emits two output bytes.
struct PairTable {
    std::array<std::uint16_t, 4096> v{};
    constexpr PairTable() {
        for (int i = 0; i < 4096; ++i) {
            v[i] = static_cast<std::uint16_t>(static_cast<unsigned char>(kAlphabet[i >> 6]) |
                                              (static_cast<unsigned char>(kAlphabet[i & 63]) << 8));
        }
    }
};
constexpr PairTable kPairs;

struct DecodeTable {
    std::array<std::int8_t, 256> v{};
    constexpr DecodeTable() {
        for (auto &x : v) x = -1;
        for (int i = 0; i < 64; ++i) v[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
    }
};
constexpr DecodeTable kDecode;

inline void put_pair(char *w, std::uint32_t twelve) {
    std::uint16_t p = kPairs.v[twelve];
    w[0] = static_cast<char>(p & 0xff);
    w[1] = static_cast<char>(p >> 8);
}

}  // namespace

char *encode(const std::uint8_t *d, std::size_t n, char *w) {
    std::size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        std::uint32_t t = (std::uint32_t{d[i]} << 16) | (std::uint32_t{d[i + 1]} << 8) | d[i + 2];
        put_pair(w, t >> 12);
        put_pair(w + 2, t & 0xfff);
        w += 4;
    }
    std::size_t rest = n - i;
    if (rest == 1) {
        std::uint32_t t = std::uint32_t{d[i]} << 16;
        put_pair(w, t >> 12);
        w[2] = '=';
        w[3] = '=';
        w += 4;
    } else if (rest == 2) {
        std::uint32_t t = (std::uint32_t{d[i]} << 16) | (std::uint32_t{d[i + 1]} << 8);
        put_pair(w, t >> 12);
        w[2] = kAlphabet[(t >> 6) & 63];
        w[3] = '=';
        w += 4;
    }
    return w;
}

std::string encode(const std::uint8_t *data, std::size_t n) {
    std::string out(encoded_size(n), '\0');
    encode(data, n, out.data());
    return out;
}

std::optional<std::string> decode(const char *text, std::size_t n) {
    if (n % 4 != 0) return std::nullopt;
    std::size_t pad = 0;
    if (n >= 1 && text[n - 1] == '=') ++pad;
    if (n >= 2 && text[n - 2] == '=') ++pad;
    std::string out;
    out.resize(n / 4 * 3);
    char *w = out.data();
    for (std::size_t i = 0; i < n; i += 4) {
        const bool last = i + 4 == n;
        std::int32_t a = kDecode.v[static_cast<unsigned char>(text[i])];
        std::int32_t b = kDecode.v[static_cast<unsigned char>(text[i + 1])];
        std::int32_t c = (last && pad >= 2) ? 0 : kDecode.v[static_cast<unsigned char>(text[i + 2])];
        std::int32_t d = (last && pad >= 1) ? 0 : kDecode.v[static_cast<unsigned char>(text[i + 3])];
        if ((a | b | c | d) < 0) return std::nullopt;
        std::uint32_t t = (std::uint32_t(a) << 18) | (std::uint32_t(b) << 12) | (std::uint32_t(c) << 6) | std::uint32_t(d);
        w[0] = static_cast<char>(t >> 16);
        w[1] = static_cast<char>(t >> 8);
        w[2] = static_cast<char>(t);
        w += 3;
    }
    out.resize(out.size() - pad);
    return out;
}

}  // namespace norvale::base64
