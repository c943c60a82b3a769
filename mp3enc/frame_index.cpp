#include "mp3enc/frame_index.h"

#include <array>
#include <cstdio>

namespace mp3enc {
namespace {

// Layer III bit rates in kbit/s by index (ISO/IEC 11172-3 Table 2.4.2.3;
// ISO/IEC 13818-3 Table 2.4.2.3 for the lower sampling frequencies, also
// used by the 2.5 extension). Index 0 is free format, 15 forbidden.
constexpr std::array<int32_t, 15> kMpeg1Kbps = {0,   32,  40,  48,  56,  64,  80, 96,
                                                112, 128, 160, 192, 224, 256, 320};
constexpr std::array<int32_t, 15> kMpeg2Kbps = {0,  8,  16, 24,  32,  40,  48, 56,
                                                64, 80, 96, 112, 128, 144, 160};
// Sampling frequencies by version (MPEG-1, MPEG-2, 2.5) and index.
constexpr int32_t kRates[3][3] = {
    {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

static_assert(kMpeg1Kbps[9] == 128 && kMpeg1Kbps[14] == 320);
static_assert(kMpeg2Kbps[8] == 64 && kMpeg2Kbps[14] == 160);

}  // namespace

bool ParseLayer3Header(uint32_t h, ParsedHeader* out) {
  if ((h >> 21) != 0x7FF) return false;  // 11-bit sync
  int32_t version = 0;
  switch ((h >> 19) & 3) {
    case 3: version = 0; break;
    case 2: version = 1; break;
    case 0: version = 2; break;
    default: return false;  // reserved
  }
  if (((h >> 17) & 3) != 1) return false;  // Layer III only
  const uint32_t bitRateIndex = (h >> 12) & 15;
  const uint32_t rateIndex = (h >> 10) & 3;
  if (bitRateIndex == 0 || bitRateIndex == 15 || rateIndex == 3) return false;
  if ((h & 3) == 2) return false;  // reserved emphasis
  const int32_t kbps = version == 0 ? kMpeg1Kbps[bitRateIndex] : kMpeg2Kbps[bitRateIndex];
  const int32_t rate = kRates[version][rateIndex];
  const int32_t padding = static_cast<int32_t>((h >> 9) & 1);
  ParsedHeader p;
  p.version = version;
  p.bitRate = kbps * 1000;
  p.sampleRate = rate;
  p.samples = version == 0 ? 1152 : 576;
  // Slots of one byte: samples / 8 x bit rate / sample rate.
  p.length = (version == 0 ? 144 : 72) * p.bitRate / rate + padding;
  p.channelMode = static_cast<int32_t>((h >> 6) & 3);
  if (out != nullptr) *out = p;
  return true;
}

void FrameIndex::Reset() { *this = FrameIndex(); }

int32_t FrameIndex::Add(uint32_t header) {
  ParsedHeader p;
  if (!ParseLayer3Header(header, &p)) {
    ++failures_;
    return 0;
  }
  if (frames_ == 0 || p.bitRate < lowestBitRate_) lowestBitRate_ = p.bitRate;
  if (frames_ == 0 || p.bitRate > highestBitRate_) highestBitRate_ = p.bitRate;
  ++frames_;
  bytes_ += static_cast<uint64_t>(p.length);
  samples_ += static_cast<uint64_t>(p.samples);
  lastLength_ = p.length;
  return p.length;
}

void IndexFrames(FrameIndex* index, const uint8_t* out, size_t size) {
  size_t pos = 0;
  while (pos + 4 <= size) {
    const uint32_t header = (uint32_t{out[pos]} << 24) | (uint32_t{out[pos + 1]} << 16) |
                            (uint32_t{out[pos + 2]} << 8) | uint32_t{out[pos + 3]};
    int32_t length = index->Add(header);
    if (length == 0) {
      std::fputs("Processing Header failed!\n", stdout);
      length = index->LastLength();
    }
    if (length <= 0) break;
    pos += static_cast<size_t>(length);
  }
}

}  // namespace mp3enc
