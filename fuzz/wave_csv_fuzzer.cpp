// The CSV scanner on arbitrary text split into arbitrary pieces; each value
// parsed is also checked against strtod, and its "%f" text against printf.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "wave/csv_scanner.h"
#include "wave/number_text.h"

namespace {

class CountingSink : public kestrune::CsvScanner::Sink {
 public:
  bool Value(double value) override {
    char ours[kestrune::kFixedTextCapacity];
    char theirs[512];
    const size_t n = kestrune::FormatFixed6(value, ours);
    std::snprintf(theirs, sizeof theirs, "%f", value);
    if (std::string(ours, n) != theirs) __builtin_trap();
    ++values;
    return true;
  }
  bool LineEnd(bool) override {
    ++lines;
    return true;
  }
  size_t values = 0;
  size_t lines = 0;
};

void CheckParse(const char* begin, const char* end) {
  const std::string copy(begin, end);
  const double ours = kestrune::ParseDecimal(begin, end);
  const double theirs = std::strtod(copy.c_str(), nullptr);
  if (std::isnan(ours) != std::isnan(theirs)) __builtin_trap();
  if (!std::isnan(ours) && std::memcmp(&ours, &theirs, sizeof ours) != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the piece size, so that values straddle pieces.
  const size_t piece = 1 + data[0] % 64;
  const char* text = reinterpret_cast<const char*>(data + 1);
  const size_t length = size - 1;
  kestrune::CsvScanner scanner;
  CountingSink sink;
  for (size_t at = 0; at < length; at += piece) {
    scanner.Feed(text + at, std::min(piece, length - at), sink);
  }
  scanner.Finish(sink);
  // Every comma-separated field parsed directly too.
  const char* start = text;
  for (const char* p = text; p <= text + length; ++p) {
    if (p == text + length || *p == ',' || *p == '\n') {
      CheckParse(start, p);
      start = p + 1;
    }
  }
  return 0;
}
