// Sample values as decimal text: an exact and fast replacement for
// printf("%f") and for strtod on the short texts of a CSV file.
#pragma once

#include <cstddef>

namespace kestrune {

// Room for any double printed with "%f" (309 integer digits, sign, point,
// six decimals) and the terminator.
inline constexpr size_t kFixedTextCapacity = 330;

// Writes value exactly as snprintf(out, n, "%f", value) does (round to
// nearest, exact halves to even, "-" for negative values including -0.0);
// returns the characters written, no terminator.
size_t FormatFixed6(double value, char* out);

// The value strtod would give for the text [begin, end) (parsed as if it
// were terminated at end): 0 when it does not start with a number.
double ParseDecimal(const char* begin, const char* end);

}  // namespace kestrune
