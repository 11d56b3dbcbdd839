// Shortest round-trip text of a double, laid out as the interpreter's float repr.
#pragma once

#include <cstddef>

namespace norvale::engine::json {

/// Longest text format_float_repr() can write (sign, 17 digits, point, exponent).
inline constexpr std::size_t kFloatReprMax = 32;

/// Writes the repr of a finite double into out (at least kFloatReprMax bytes); returns the length.
/// Non-finite values are the caller's business (JSON spells them Infinity, -Infinity, NaN).
std::size_t format_float_repr(double value, char *out);

}  // namespace norvale::engine::json
