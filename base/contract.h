// Argument contracts of the low-level size and text helpers. A broken
// contract is a fault (RaiseFault), never a silent clamp.
#pragma once

#include <cstdint>
#include <string>

namespace kestrune {

// a + b for non-negative 32-bit sizes; a sum above 0x7FFFFFFF raises the
// arithmetic-overflow fault, a negative operand the invalid-argument fault.
int32_t CheckedAddSize(int32_t a, int32_t b);
// Raises the invalid-argument fault for a negative length.
void RequireLength(int64_t length);
// The first length bytes of data. A negative length, or a positive one
// without data, raises the invalid-argument fault.
std::string MakeText(const char* data, int32_t length);

}  // namespace kestrune
