#include "app/dispatch.h"

#include <cstring>

namespace kestrune {

namespace {

// One row per extension that a conversion body takes. Adding a body means
// adding its rows here, with a small Make function beside them that
// constructs the object and applies its options, for example
//
//   std::unique_ptr<Conversion> MakeWaveToMp3(const ConvertOptions& o) {
//     auto c = std::make_unique<WaveToMp3>();
//     c->SetBitRate(o.GetInteger("b", 128));
//     ...
//     return c;
//   }
//   {".mp3", Direction::kEncode, &MakeWaveToMp3},
//
// Extensions without a row end in the unsupported-extension box.
constexpr ConversionKind kConversions[] = {
    {nullptr, Direction::kDecode, nullptr},  // end of the table
};

}  // namespace

const ConversionKind* FindConversion(Direction direction, const std::string& extension) {
  for (const ConversionKind& kind : kConversions) {
    if (kind.extension && kind.direction == direction && extension == kind.extension) {
      return &kind;
    }
  }
  return nullptr;
}

}  // namespace kestrune
