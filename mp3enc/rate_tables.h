// Tables of the encoder's configuration: bit-rate classes with their output
// rate ranges and bandwidths, the output rate candidates, and the quality
// levels.
#pragma once

#include <array>
#include <cstdint>

namespace mp3enc {

struct RateClass {
  int32_t channels;
  int32_t lowestBitRate;   // bits/s, inclusive
  int32_t highestBitRate;  // bits/s, inclusive
  int32_t wideLowest;      // output rate range searched under policy 0
  int32_t wideHighest;
  int32_t narrowLowest;    // output rate range searched under policy 1
  int32_t narrowHighest;
  int32_t bandwidth;       // Hz
};

inline constexpr int kRateClassCount = 43;
extern const std::array<RateClass, kRateClassCount> kRateClasses;

// The nine MPEG audio Layer III sampling rates, in search order.
inline constexpr std::array<int32_t, 9> kOutputRateCandidates = {
    8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

// The first row matching the channel count and bit rate, or nullptr.
const RateClass* FindRateClass(int32_t bitRate, int32_t channels);

// Bit rate a quality level (1..5) stands for in the class lookup.
int32_t NominalBitRate(int32_t qualityLevel, int32_t channels);

// The core's VBR quality (0..100) for a quality level (1..5).
int32_t VbrQuality(int32_t qualityLevel);

}  // namespace mp3enc
