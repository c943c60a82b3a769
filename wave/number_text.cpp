#include "wave/number_text.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace kestrune {

namespace {

using Uint128 = unsigned __int128;

constexpr uint64_t kScale = 1000000;  // six decimals

char* WriteUnsigned(uint64_t v, char* out) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0) *out++ = digits[--n];
  return out;
}

// Exact powers of ten up to 10^22 (all representable in a double).
constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

double ParseWithLibrary(const char* begin, const char* end) {
  char small[64];
  const size_t length = static_cast<size_t>(end - begin);
  if (length < sizeof small) {
    if (length > 0) std::memcpy(small, begin, length);
    small[length] = '\0';
    return std::strtod(small, nullptr);
  }
  const std::string copy(begin, end);
  return std::strtod(copy.c_str(), nullptr);
}

}  // namespace

size_t FormatFixed6(double value, char* out) {
  // Beyond 2^43 the scaled value no longer fits 64 bits; such values (and
  // infinities, NaN) are left to the library.
  if (!std::isfinite(value) || std::fabs(value) >= 8.0e12) {
    const int n = std::snprintf(out, kFixedTextCapacity, "%f", value);
    return n > 0 ? static_cast<size_t>(n) : 0;
  }
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const bool negative = (bits >> 63) != 0;
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
  int exponent;
  if (biased == 0) {
    exponent = -1074;  // subnormal
  } else {
    mantissa |= uint64_t{1} << 52;
    exponent = biased - 1075;
  }
  // value = mantissa * 2^exponent; scaled = round(value * 10^6) exactly.
  const Uint128 product = static_cast<Uint128>(mantissa) * kScale;
  uint64_t scaled;
  if (exponent >= 0) {
    scaled = static_cast<uint64_t>(product << exponent);
  } else if (-exponent >= 127) {
    scaled = 0;  // below 2^-73 * 2^73 / 2: rounds to zero
  } else {
    const int shift = -exponent;
    const Uint128 quotient = product >> shift;
    const Uint128 remainder = product - (quotient << shift);
    const Uint128 half = static_cast<Uint128>(1) << (shift - 1);
    scaled = static_cast<uint64_t>(quotient);
    if (remainder > half || (remainder == half && (scaled & 1) != 0)) ++scaled;
  }
  char* p = out;
  if (negative) *p++ = '-';
  p = WriteUnsigned(scaled / kScale, p);
  *p++ = '.';
  uint64_t fraction = scaled % kScale;
  for (int i = 5; i >= 0; --i) {
    p[i] = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  }
  p += 6;
  return static_cast<size_t>(p - out);
}

double ParseDecimal(const char* begin, const char* end) {
  // Fast path: [sign] digits [. digits] filling the whole text, at most 19
  // significant digits forming a mantissa below 2^53 and at most 22
  // decimals. Then mantissa / 10^decimals is one correctly rounded
  // division of two exact doubles, which is what strtod returns.
  const char* p = begin;
  bool negative = false;
  if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
  uint64_t mantissa = 0;
  int digits = 0;
  int decimals = 0;
  bool seenPoint = false;
  bool anyDigit = false;
  for (; p < end; ++p) {
    const char c = *p;
    if (c >= '0' && c <= '9') {
      anyDigit = true;
      if (mantissa != 0 || c != '0') ++digits;
      if (digits > 19) return ParseWithLibrary(begin, end);
      mantissa = mantissa * 10 + static_cast<uint64_t>(c - '0');
      if (seenPoint) ++decimals;
    } else if (c == '.' && !seenPoint) {
      seenPoint = true;
    } else {
      return ParseWithLibrary(begin, end);
    }
  }
  if (!anyDigit || mantissa > (uint64_t{1} << 53) || decimals > 22) {
    return ParseWithLibrary(begin, end);
  }
  const double magnitude = static_cast<double>(mantissa) / kPowersOfTen[decimals];
  return negative ? -magnitude : magnitude;
}

}  // namespace kestrune
