// The main thread's side of a conversion: start it, show the banner and a
// progress line every tenth of a second, and tell whether an output file
// stands at the end.
#pragma once

#include <functional>
#include <string>

#include "base/conversion.h"

namespace kestrune {

// "Kestrune VERSION" and a line break, printed once a job has started.
std::string Banner();

// The progress line for a progress value (0.0 to 1.0): the percent as
// "% 5.1f", then " [" with 20 cells ("|" filled, blank empty) and "]", then a
// carriage return. The bar text is rebuilt only when the number of filled
// cells differs from lastCells (both updated here).
std::string ProgressLine(double progress, int* lastCells, std::string* bar);

using ConsoleWriter = std::function<void(const std::string& text)>;

// Starts the conversion and polls it until it ends. False when the start is
// refused (after printing why) or when no file (a folder does not count)
// stands at the output path at the end.
bool RunConversion(Conversion& conversion);
bool RunConversion(Conversion& conversion, const ConsoleWriter& write);

// 0 when a file (not a folder) stands at path, else 1.
int ExitCodeForOutput(const std::string& path);

}  // namespace kestrune
