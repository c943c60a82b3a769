// The fast "%f" formatter and decimal parser against the C library.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

#include "wave/number_text.h"

namespace kestrune {
namespace {

std::string Fast(double v) {
  char out[kFixedTextCapacity];
  return std::string(out, FormatFixed6(v, out));
}

std::string Library(double v) {
  char out[512];
  std::snprintf(out, sizeof out, "%f", v);
  return out;
}

TEST(NumberText, FormatsExactlyLikePrintf) {
  const double special[] = {0.0, -0.0, 1.0, -1.0, 0.5, -0.25, 0.0078125 /* tie: 7812.5 */,
                            0.0234375 /* tie: 23437.5 */, 2.5e-7, -4e-7, 5e-7, 127.5,
                            255.0, 1e-300, 4.9e-324, 7.99e12, 8.0e12, 1e300, -1e300,
                            std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity(),
                            std::numeric_limits<double>::quiet_NaN(),
                            -std::numeric_limits<double>::quiet_NaN()};
  for (double v : special) EXPECT_EQ(Fast(v), Library(v)) << v;
  EXPECT_EQ(Fast(0.0078125), "0.007812");  // exact halves go to even
  EXPECT_EQ(Fast(-1e-9), "-0.000000");

  // Every 16-bit and 8-bit sample value, scaled as the CSV writer does.
  for (int v = -32768; v <= 32767; ++v) {
    const double x = static_cast<float>(v) / 32768.0f;
    ASSERT_EQ(Fast(x), Library(x)) << v;
    ASSERT_EQ(Fast(x * 127.5 + 127.5), Library(x * 127.5 + 127.5)) << v;
  }
  std::mt19937_64 random(7);
  for (int i = 0; i < 300000; ++i) {
    uint64_t bits = random();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    if (i % 2) v = static_cast<double>(static_cast<int32_t>(bits) >> 8) / 8388608.0 * (bits >> 50);
    ASSERT_EQ(Fast(v), Library(v)) << bits;
  }
}

void ExpectParsesLikeStrtod(const std::string& text) {
  const double ours = ParseDecimal(text.data(), text.data() + text.size());
  const double theirs = std::strtod(text.c_str(), nullptr);
  if (std::isnan(theirs)) {
    EXPECT_TRUE(std::isnan(ours)) << text;
  } else {
    EXPECT_EQ(std::memcmp(&ours, &theirs, sizeof ours), 0) << "'" << text << "' " << ours;
  }
}

TEST(NumberText, ParsesExactlyLikeStrtod) {
  for (const char* t : {"", "-", "+", ".", "-.5", "5.", "1e3", "12abc", " 7", "\r5", "\t-2",
                        "0x10", "inf", "-nan", "-0", "-0.000000", "1.5.2", "abc", "1,5",
                        "00000000000000000000000001.25", "123456789012345678901234",
                        "9007199254740993", "0.1234567890123456789012345", "255.000000",
                        "127.500000", "1e-400", "1e400"}) {
    ExpectParsesLikeStrtod(t);
  }
  // A value that is not a number reads as 0; parsing stops at an embedded NUL.
  const std::string nul("3.5\0" "9", 5);
  EXPECT_EQ(ParseDecimal(nul.data(), nul.data() + nul.size()), 3.5);
  std::mt19937_64 random(11);
  for (int i = 0; i < 300000; ++i) {
    double v;
    uint64_t bits = random();
    std::memcpy(&v, &bits, sizeof v);
    if (i % 3 == 0) v = static_cast<double>(static_cast<int16_t>(bits)) / 32768.0;
    if (!std::isfinite(v) || std::fabs(v) > 1e15) continue;
    ExpectParsesLikeStrtod(Library(v));
  }
}

}  // namespace
}  // namespace kestrune
