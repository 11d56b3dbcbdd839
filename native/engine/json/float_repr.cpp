#include "engine/json/float_repr.h"

#include <charconv>
#include <cstring>
#include <system_error>

namespace norvale::engine::json {

std::size_t format_float_repr(double value, char *out) {
    // Shortest digits that round-trip, in scientific form: d[.ddd]e[+-]X
    char sci[40];
    auto res = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
    const char *end = res.ptr;

    char *w = out;
    const char *p = sci;
    if (*p == '-') {
        *w++ = '-';
        ++p;
    }
    // Collect the significant digits and the decimal exponent.
    char digits[24];
    int ndigits = 0;
    for (; p < end && *p != 'e'; ++p) {
        if (*p != '.') digits[ndigits++] = *p;
    }
    int exp10 = 0;
    if (p < end) {
        ++p;  // 'e'
        bool neg = *p == '-';
        ++p;
        for (; p < end; ++p) exp10 = exp10 * 10 + (*p - '0');
        if (neg) exp10 = -exp10;
    }
    // Position of the decimal point relative to the first digit: value = 0.DIGITS * 10^decpt.
    const int decpt = exp10 + 1;

    if (ndigits == 1 && digits[0] == '0') {
        std::memcpy(w, "0.0", 3);
        return static_cast<std::size_t>(w - out) + 3;
    }

    if (decpt <= -4 || decpt > 16) {
        // Exponent form: d[.ddd]e+XX with at least two exponent digits.
        *w++ = digits[0];
        if (ndigits > 1) {
            *w++ = '.';
            std::memcpy(w, digits + 1, ndigits - 1);
            w += ndigits - 1;
        }
        *w++ = 'e';
        int e = decpt - 1;
        if (e < 0) {
            *w++ = '-';
            e = -e;
        } else {
            *w++ = '+';
        }
        if (e < 10) *w++ = '0';
        auto r = std::to_chars(w, w + 8, e);
        w = r.ptr;
        return static_cast<std::size_t>(w - out);
    }

    if (decpt <= 0) {
        // 0.000ddd
        *w++ = '0';
        *w++ = '.';
        for (int i = 0; i < -decpt; ++i) *w++ = '0';
        std::memcpy(w, digits, ndigits);
        w += ndigits;
    } else if (decpt >= ndigits) {
        // ddd000.0
        std::memcpy(w, digits, ndigits);
        w += ndigits;
        for (int i = ndigits; i < decpt; ++i) *w++ = '0';
        *w++ = '.';
        *w++ = '0';
    } else {
        // dd.ddd
        std::memcpy(w, digits, decpt);
        w += decpt;
        *w++ = '.';
        std::memcpy(w, digits + decpt, ndigits - decpt);
        w += ndigits - decpt;
    }
    return static_cast<std::size_t>(w - out);
}

}  // namespace norvale::engine::json
