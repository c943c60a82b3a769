#include "mp3dec/requantize.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "mp3dec/tables.h"

namespace mp3dec {
namespace {

float Power43Of(int32_t magnitude) {
  return static_cast<float>(std::pow(static_cast<double>(magnitude), 4.0 / 3.0));
}

// |x|^(4/3) for every magnitude the Huffman decoder can give (15 plus up to
// 13 linbits: at most 8206) and 2^(15 - i/4) for exponent index i = 0..127.
// The powers are computed in double precision and stored as floats, the
// same values whether below 128 or not; the large table is built on first
// use.
constexpr int kMaxMagnitude = 15 + (1 << 13) - 1;

struct PowerTable {
  std::array<float, kMaxMagnitude + 1> power43;
};

const PowerTable& Powers() {
  static const PowerTable table = [] {
    PowerTable t{};
    for (int i = 0; i <= kMaxMagnitude; ++i) t.power43[i] = Power43Of(i);
    return t;
  }();
  return table;
}

struct GainTable {
  std::array<float, 128> gain;
};

const GainTable kGains = [] {
  GainTable t{};
  for (int i = 0; i < 128; ++i) t.gain[i] = static_cast<float>(std::pow(2.0, 15.0 - i / 4.0));
  return t;
}();

// Lines [begin, end) become sign(x) |x|^(4/3) gain. The product of the two
// floats is rounded once, exactly as if it were formed in double precision
// and then stored as float. Magnitudes never exceed kMaxMagnitude; the
// clamp only keeps any input inside the table.
inline void ScaleLines(const float* powers, const int32_t* values, float* out, int begin, int end, float gain) {
  for (int k = begin; k < end; ++k) {
    // The sign goes from the value's top bit to the power's, without a
    // branch: signs are random, a branch on them mispredicts half the time.
    const uint32_t v = static_cast<uint32_t>(values[k]);
    const uint32_t negative = v >> 31;
    const uint32_t a = std::min((v ^ (0u - negative)) + negative, static_cast<uint32_t>(kMaxMagnitude));
    const float m = std::bit_cast<float>(std::bit_cast<uint32_t>(powers[a]) | (negative << 31));
    out[k] = m * gain;
  }
}

// One band's lines [begin, end) scaled by exponent index i; out of range
// indices silence the band.
inline void ScaleBand(const float* powers, const int32_t* values, float* out, int begin, int end, int index) {
  if (index < 0 || index > 127) {
    for (int k = begin; k < end; ++k) out[k] = 0.0f;
  } else {
    ScaleLines(powers, values, out, begin, end, kGains.gain[index]);
  }
}

}  // namespace

void Requantize(const int32_t values[576], int nonzeroLines, const GranuleInfo& g,
                const ScaleFactors& sf, const FrameContext& frame, float out[576]) {
  std::memset(out, 0, sizeof(float) * 576);
  const float* powers = Powers().power43.data();
  const int gg = static_cast<int>(g.globalGain);
  const int scaleMul = 2 * static_cast<int>(g.scalefacScale) + 2;
  const auto& longB = frame.bands->longBounds;
  const auto& shortB = frame.bands->shortBounds;
  int shortFirst = 0;
  if (!g.IsShort() || g.mixedBlock) {
    const int longBands = g.IsShort() ? frame.MixedLongBands() : 22;
    for (int sfb = 0; sfb < longBands && longB[sfb] < nonzeroLines; ++sfb) {
      const int pre = g.preflag ? kPretab[sfb] : 0;
      const int index = (sf.longBands[sfb] + pre) * scaleMul - gg + 210;
      ScaleBand(powers, values, out, longB[sfb], std::min<int>(longB[sfb + 1], nonzeroLines), index);
    }
    if (!g.IsShort()) return;
    shortFirst = 3;
  }
  // Short bands in the decoded order: band by band, three windows each.
  for (int sfb = shortFirst; sfb < 13; ++sfb) {
    const int width = shortB[sfb + 1] - shortB[sfb];
    for (int w = 0; w < 3; ++w) {
      const int begin = 3 * shortB[sfb] + w * width;
      if (begin >= nonzeroLines) return;
      const int index = 8 * static_cast<int>(g.subblockGain[w]) - gg + 210 + scaleMul * sf.shortBands[sfb][w];
      ScaleBand(powers, values, out, begin, std::min(begin + width, nonzeroLines), index);
    }
  }
}

}  // namespace mp3dec
