#include "mp3dec/hybrid.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

#include "mp3dec/tables.h"

namespace mp3dec {
namespace {

constexpr double kPi = std::numbers::pi;

// The 36-point IMDCT of ISO/IEC 11172-3 2.4.3.4.10.2,
// x[i] = sum_k X[k] cos(pi/72 (2i + 19)(2k + 1)), has only 18 distinct
// outputs: x[17 - i] = -x[i] (i = 0..8) and x[53 - i] = x[i] (i = 18..26).
// basis[k][r] holds the cosines of the distinct outputs r = 0..8 (x[0..8])
// and r = 9..17 (x[18..26]); the windows are applied afterwards. The short
// table folds the window of the 12-point transform into its cosines.
struct ImdctTables {
  float basis[18][18];
  float window[4][36];
  float shortWindowed[12][6];
};

double LongWindow(int type, int i) {
  const double normal = std::sin(kPi / 36.0 * (i + 0.5));
  switch (type) {
    case 1:  // start block
      if (i < 18) return normal;
      if (i < 24) return 1.0;
      if (i < 30) return std::sin(kPi / 12.0 * (i - 18 + 0.5));
      return 0.0;
    case 3:  // stop block
      if (i < 6) return 0.0;
      if (i < 12) return std::sin(kPi / 12.0 * (i - 6 + 0.5));
      if (i < 18) return 1.0;
      return normal;
    default:
      return normal;
  }
}

ImdctTables MakeImdctTables() {
  ImdctTables t{};
  for (int k = 0; k < 18; ++k) {
    for (int r = 0; r < 18; ++r) {
      const int i = r < 9 ? r : r + 9;
      t.basis[k][r] = static_cast<float>(std::cos(kPi / 72.0 * (2 * i + 19) * (2 * k + 1)));
    }
  }
  for (int type = 0; type < 4; ++type) {
    for (int i = 0; i < 36; ++i) t.window[type][i] = static_cast<float>(LongWindow(type, i));
  }
  for (int i = 0; i < 12; ++i) {
    for (int k = 0; k < 6; ++k) {
      t.shortWindowed[i][k] = static_cast<float>(std::sin(kPi / 12.0 * (i + 0.5)) *
                                                 std::cos(kPi / 24.0 * (2 * i + 1 + 6) * (2 * k + 1)));
    }
  }
  return t;
}

const ImdctTables kImdct = MakeImdctTables();

void LongImdct(const float* in, int type, float* overlap, float* out) {
  float u[18] = {};
  for (int k = 0; k < 18; ++k) {
    const float xk = in[k];
    const float* row = kImdct.basis[k];
    for (int r = 0; r < 18; ++r) u[r] += row[r] * xk;
  }
  const float* w = kImdct.window[type];
  for (int i = 0; i < 9; ++i) {
    out[i] = overlap[i] + w[i] * u[i];
    out[17 - i] = overlap[17 - i] - w[17 - i] * u[i];
  }
  for (int i = 0; i < 9; ++i) {
    overlap[i] = w[18 + i] * u[9 + i];
    overlap[17 - i] = w[35 - i] * u[9 + i];
  }
}

// in holds the subband's 18 lines in line-major order: line 3k + w of window w.
void ShortImdct(const float* in, float* overlap, float* out) {
  float z[36] = {};
  for (int w = 0; w < 3; ++w) {
    for (int i = 0; i < 12; ++i) {
      float sum = 0.0f;
      for (int k = 0; k < 6; ++k) sum += kImdct.shortWindowed[i][k] * in[3 * k + w];
      z[6 + 6 * w + i] += sum;
    }
  }
  for (int i = 0; i < 18; ++i) {
    out[i] = z[i] + overlap[i];
    overlap[i] = z[i + 18];
  }
}

}  // namespace

void ReorderShortBlocks(const GranuleInfo& g, const FrameContext& frame, float x[576]) {
  if (!g.IsShort()) return;
  const auto& b = frame.bands->shortBounds;
  float tmp[576];
  for (int sfb = g.mixedBlock ? 3 : 0; sfb < 13; ++sfb) {
    const int start = 3 * b[sfb];
    const int width = b[sfb + 1] - b[sfb];
    for (int w = 0; w < 3; ++w) {
      for (int j = 0; j < width; ++j) tmp[start + 3 * j + w] = x[start + w * width + j];
    }
    std::memcpy(x + start, tmp + start, sizeof(float) * static_cast<size_t>(3 * width));
  }
}

int ReduceAliasing(const GranuleInfo& g, const FrameContext& frame, float x[576], int nonzeroBound) {
  // Reordering short blocks may have moved lines past the bound.
  int last = g.IsShort() ? 576 : std::clamp(nonzeroBound, 0, 576);
  while (last > 0 && x[last - 1] == 0.0f) --last;
  const int nonzeroSubbands = (last + 17) / 18;
  int boundaries;
  if (g.IsShort() && !g.mixedBlock) {
    boundaries = 0;
  } else if (g.IsShort()) {
    boundaries = frame.eightKiloHertz ? 3 : 1;
  } else {
    boundaries = std::min(nonzeroSubbands, 31);
  }
  for (int sb = 1; sb <= boundaries; ++sb) {
    // The eight lines below the boundary (nearest first) and the eight
    // above it, copied out so that the butterflies run as vector arithmetic.
    float* lo = x + 18 * sb - 1;
    float* hi = x + 18 * sb;
    float a[8], c[8];
    for (int i = 0; i < 8; ++i) {
      a[i] = lo[-i];
      c[i] = hi[i];
    }
    for (int i = 0; i < 8; ++i) {
      lo[-i] = a[i] * kAliasCs[i] - c[i] * kAliasCa[i];
      hi[i] = c[i] * kAliasCs[i] + a[i] * kAliasCa[i];
    }
  }
  return std::min(32, std::max(nonzeroSubbands, boundaries) + 1);
}

namespace {

// The body of both builds.
inline void FilterSubbands(const GranuleInfo& g, const FrameContext& frame, const float x[576],
                           int activeSubbands, HybridState& state, SubbandBlock& out) {
  // The lowest subbands of a mixed granule (any switched block type) use the
  // normal long window.
  const int normalSubbands = g.windowSwitching && g.mixedBlock ? (frame.eightKiloHertz ? 4 : 2) : 0;
  for (int sb = 0; sb < 32; ++sb) {
    float slot[18];
    float* overlap = state.overlap[sb];
    if (sb >= activeSubbands) {
      std::memcpy(slot, overlap, sizeof slot);
      std::memset(overlap, 0, sizeof(float) * 18);
    } else if (sb < normalSubbands) {
      LongImdct(x + 18 * sb, 0, overlap, slot);
    } else if (g.IsShort()) {
      ShortImdct(x + 18 * sb, overlap, slot);
    } else {
      LongImdct(x + 18 * sb, static_cast<int>(g.blockType), overlap, slot);
    }
    // Frequency inversion: odd samples of odd subbands change sign.
    for (int t = 0; t < 18; ++t) out[sb][t] = (sb & 1) && (t & 1) ? -slot[t] : slot[t];
  }
}

MP3DEC_FLATTEN void FilterSubbandsPlain(const GranuleInfo& g, const FrameContext& frame, const float x[576],
                                        int activeSubbands, HybridState& state, SubbandBlock& out) {
  FilterSubbands(g, frame, x, activeSubbands, state, out);
}

MP3DEC_FLATTEN MP3DEC_TARGET_WIDE void FilterSubbandsWide(const GranuleInfo& g, const FrameContext& frame,
                                                          const float x[576], int activeSubbands,
                                                          HybridState& state, SubbandBlock& out) {
  FilterSubbands(g, frame, x, activeSubbands, state, out);
}

}  // namespace

void HybridFilterBank(const GranuleInfo& g, const FrameContext& frame, const float x[576],
                      int activeSubbands, HybridState& state, SubbandBlock& out, bool wide) {
  if (wide) {
    FilterSubbandsWide(g, frame, x, activeSubbands, state, out);
  } else {
    FilterSubbandsPlain(g, frame, x, activeSubbands, state, out);
  }
}

}  // namespace mp3dec
