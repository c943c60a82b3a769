// Constant tables of Layer III shared by the encoder stages.
#pragma once

#include <cstdint>

namespace mp3enc {

inline constexpr int kGranuleSize = 576;
inline constexpr int kSubbands = 32;
inline constexpr int kLongBands = 22;   // scale-factor bands of a long block
inline constexpr int kShortBands = 13;  // per window of a short block

// Scale-factor band edges for one sampling frequency.
struct BandEdges {
  int16_t longEdge[kLongBands + 1];
  int16_t shortEdge[kShortBands + 1];  // per window (192 lines)
};

// Index 0..8: 44100, 48000, 32000, 22050, 24000, 16000, 11025, 12000, 8000.
extern const BandEdges kBandEdges[9];
extern const int32_t kSampleRates[9];

// Analysis window C[i] of the polyphase filter bank, in units of 2^-21.
extern const int32_t kAnalysisWindow[512];

// Bit rates (bits/s) by index 0..14; [0] MPEG-1, [1] MPEG-2 and 2.5.
extern const int32_t kBitRates[2][15];

// Long-block preemphasis added to the scale factors when preflag is set.
extern const uint8_t kPretab[kLongBands];

// MPEG-1 scalefac_compress -> (slen1, slen2).
extern const uint8_t kSlen[16][2];

// MPEG-2 scale-factor partitions: [table][block kind 0 long, 1 short][part].
// Short counts include the three windows.
extern const uint8_t kPartitionBands[3][2][4];

}  // namespace mp3enc
