#include "base/contract.h"

#include "base/exception.h"

namespace kestrune {

int32_t CheckedAddSize(int32_t a, int32_t b) {
  if (a < 0 || b < 0) RaiseFault(kHresultInvalidArgument);
  const int64_t sum = static_cast<int64_t>(a) + b;
  if (sum > INT32_MAX) RaiseFault(kHresultArithmeticOverflow);
  return static_cast<int32_t>(sum);
}

void RequireLength(int64_t length) {
  if (length < 0) RaiseFault(kHresultInvalidArgument);
}

std::string MakeText(const char* data, int32_t length) {
  RequireLength(length);
  if (length > 0 && !data) {
    RaiseFault(kHresultInvalidArgument);
  }
  return length == 0 ? std::string() : std::string(data, static_cast<size_t>(length));
}

}  // namespace kestrune
