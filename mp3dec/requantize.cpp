#include "mp3dec/requantize.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "mp3dec/tables.h"

namespace mp3dec {
namespace {

// |x|^(4/3) for |x| = 0..127 and 2^(15 - i/4) for exponent index i = 0..127.
struct RequantizeTables {
  std::array<float, 128> power43;
  std::array<float, 128> gain;
};

RequantizeTables MakeTables() {
  RequantizeTables t{};
  for (int i = 0; i < 128; ++i) {
    t.power43[i] = static_cast<float>(std::pow(static_cast<double>(i), 4.0 / 3.0));
    t.gain[i] = static_cast<float>(std::pow(2.0, 15.0 - i / 4.0));
  }
  return t;
}

const RequantizeTables kTables = MakeTables();

inline float Power43(int32_t x) {
  const int32_t a = std::abs(x);
  const float m = a < 128 ? kTables.power43[a] : static_cast<float>(std::pow(static_cast<double>(a), 4.0 / 3.0));
  return x < 0 ? -m : m;
}

// One band's lines [begin, end) scaled by exponent index i; out of range
// indices silence the band.
inline void ScaleBand(const int32_t* values, float* out, int begin, int end, int index) {
  if (index < 0 || index > 127) {
    for (int k = begin; k < end; ++k) out[k] = 0.0f;
    return;
  }
  const double gain = kTables.gain[index];
  for (int k = begin; k < end; ++k) out[k] = static_cast<float>(Power43(values[k]) * gain);
}

}  // namespace

void Requantize(const int32_t values[576], int nonzeroLines, const GranuleInfo& g,
                const ScaleFactors& sf, const FrameContext& frame, float out[576]) {
  std::memset(out, 0, sizeof(float) * 576);
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
      ScaleBand(values, out, longB[sfb], std::min<int>(longB[sfb + 1], nonzeroLines), index);
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
      ScaleBand(values, out, begin, std::min(begin + width, nonzeroLines), index);
    }
  }
}

}  // namespace mp3dec
