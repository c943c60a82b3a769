// Which conversion body serves which extension.
#pragma once

#include <memory>
#include <string>

#include "app/convert_options.h"
#include "base/conversion.h"

namespace kestrune {

enum class Direction {
  kDecode,  // the output is a WAVE file; chosen by the input's extension
  kEncode,  // chosen by the output's extension
};

struct ConversionKind {
  const char* extension;  // lower case, with its dot
  Direction direction;
  // Constructs the object (loading its libraries, if any) and applies the
  // options it takes; the entry point sets the paths afterwards.
  std::unique_ptr<Conversion> (*make)(const ConvertOptions& options);
};

// The conversion for a lower-cased extension, or null when no body in this
// build takes it (the entry point then shows the unsupported-extension box).
const ConversionKind* FindConversion(Direction direction, const std::string& extension);

}  // namespace kestrune
