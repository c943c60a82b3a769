#include "app/dispatch.h"

#include <cstring>

#include "codecs/mp3_to_wave.h"
#include "codecs/ogg_decode.h"
#include "codecs/ogg_encode.h"
#include "codecs/wave_to_mp3.h"
#include "wave/csv_to_wave.h"
#include "wave/wave_to_csv.h"

namespace kestrune {

namespace {

std::unique_ptr<Conversion> MakeOggToWave(const ConvertOptions& o) {
  return std::make_unique<OggToWave>(o.GetOption("f"));
}

std::unique_ptr<Conversion> MakeWaveToOgg(const ConvertOptions& o) {
  auto c = std::make_unique<WaveToOgg>(o.GetOption("f"));
  c->SetQuality(o.GetReal("q", kDefaultVorbisQuality));
  return c;
}

// CSV layout: "v" (one line per frame) wins over "h" (one line per channel).
int CsvLayout(const ConvertOptions& o) { return o.HasOption("v") ? 0 : o.HasOption("h") ? 1 : 0; }

std::unique_ptr<Conversion> MakeCsvToWave(const ConvertOptions& o) {
  auto c = std::make_unique<CsvToWave>();
  c->SetLayout(CsvLayout(o));
  c->SetMaximum(o.GetReal("a", 1.0));
  c->SetMinimum(o.GetReal("i", -1.0));
  c->SetSampleRate(o.GetInteger("s", 44100));  // out of range: 44100 stays
  c->SetBitsPerSample(o.GetInteger("b", 16));   // only 8, 16, 24 are taken
  return c;
}

std::unique_ptr<Conversion> MakeMp3ToWave(const ConvertOptions&) { return std::make_unique<Mp3ToWave>(); }

std::unique_ptr<Conversion> MakeWaveToMp3(const ConvertOptions& o) {
  auto c = std::make_unique<WaveToMp3>();
  c->SetBitRate(o.GetInteger("b", 128));   // kbit/s, used while "m" is 0
  c->SetQualityLevel(o.GetInteger("m", 0));
  c->SetRatePolicy(o.GetInteger("q", 0));
  return c;
}

std::unique_ptr<Conversion> MakeWaveToCsv(const ConvertOptions& o) {
  auto c = std::make_unique<WaveToCsv>();
  c->SetLayout(CsvLayout(o));
  c->SetMaximum(o.GetReal("a", 1.0));
  c->SetMinimum(o.GetReal("i", -1.0));
  return c;
}

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
    {".ogg", Direction::kDecode, &MakeOggToWave},
    {".ogg", Direction::kEncode, &MakeWaveToOgg},
    {".csv", Direction::kDecode, &MakeCsvToWave},
    {".mp3", Direction::kDecode, &MakeMp3ToWave},
    {".mp1", Direction::kDecode, &MakeMp3ToWave},
    {".mp2", Direction::kDecode, &MakeMp3ToWave},
    {".rmp", Direction::kDecode, &MakeMp3ToWave},
    {".csv", Direction::kEncode, &MakeWaveToCsv},
    {".mp3", Direction::kEncode, &MakeWaveToMp3},
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
