// The extension tests that choose a conversion.
#pragma once

#include <string>

namespace kestrune {

// The extension of the file-name part (after the last "\", "/" or drive
// colon), from its last "." to the end, lower-cased; "" when there is none.
std::string GetLowerExtension(const std::string& path);
// Whether the extension, not lower-cased, is exactly ".wav".
bool IsWavePath(const std::string& path);

}  // namespace kestrune
