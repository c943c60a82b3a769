// Forward MDCT with the block windows of ISO/IEC 11172-3 (C.1.5.3.2).
#include "mp3enc/mdct.h"

#include <cmath>
#include <cstring>

#include "mp3enc/granule_info.h"

namespace mp3enc {
namespace {

double LongWindow(int type, int i) {
  const double longSine = std::sin(M_PI / 36.0 * (i + 0.5));
  switch (type) {
    case kStartBlock:
      if (i < 18) return longSine;
      if (i < 24) return 1.0;
      if (i < 30) return std::sin(M_PI / 12.0 * (i - 18 + 0.5));
      return 0.0;
    case kStopBlock:
      if (i < 6) return 0.0;
      if (i < 12) return std::sin(M_PI / 12.0 * (i - 6 + 0.5));
      if (i < 18) return 1.0;
      return longSine;
    default:
      return longSine;
  }
}

// Alias-reduction coefficients c_i of ISO/IEC 11172-3 Table B.9.
constexpr double kAliasC[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};

}  // namespace

Mdct::Mdct(const Kernels& kernels) : kernels_(kernels) {
  // The decoder's IMDCT carries no normalisation; 1/9 (long) and 1/3 (short)
  // make the overlap-added result equal the subband signal.
  for (int type = 0; type < 4; ++type) {
    for (int i = 0; i < 36; ++i) longWindow_[type][i] = static_cast<float>(LongWindow(type, i));
  }
  std::memset(dct4Matrix_, 0, sizeof(dct4Matrix_));
  for (int n = 0; n < 18; ++n) {
    for (int k = 0; k < 18; ++k) {
      dct4Matrix_[n * 24 + k] =
          static_cast<float>(std::cos(M_PI / 72.0 * (2 * n + 1) * (2 * k + 1)) / 9.0);
    }
  }
  std::memset(shortMatrix_, 0, sizeof(shortMatrix_));
  for (int i = 0; i < 12; ++i) {
    for (int k = 0; k < 6; ++k) {
      shortMatrix_[i * 8 + k] = static_cast<float>(std::sin(M_PI / 12.0 * (i + 0.5)) *
                                                   std::cos(M_PI / 24.0 * (2 * i + 7) * (2 * k + 1)) /
                                                   3.0);
    }
  }
  for (int i = 0; i < 8; ++i) {
    const double d = std::sqrt(1.0 + kAliasC[i] * kAliasC[i]);
    cs_[i] = static_cast<float>(1.0 / d);
    ca_[i] = static_cast<float>(kAliasC[i] / d);
  }
}

void Mdct::Transform(const float prev[18][32], const float cur[18][32], int blockType,
                     float xr[576]) const {
  float z[36];
  float u[18];
  float out[24];
  for (int sb = 0; sb < 32; ++sb) {
    // Frequency inversion: odd subbands have every odd time sample negated.
    const bool invert = (sb & 1) != 0;
    for (int t = 0; t < 18; ++t) {
      const float sign = (invert && (t & 1)) ? -1.0f : 1.0f;
      z[t] = prev[t][sb] * sign;
      z[t + 18] = cur[t][sb] * sign;
    }
    if (blockType == kShortBlock) {
      for (int w = 0; w < 3; ++w) {
        kernels_.matrixVector(shortMatrix_, z + 6 + 6 * w, 8, 12, out);
        for (int k = 0; k < 6; ++k) xr[192 * w + 6 * sb + k] = out[k];
      }
    } else {
      // The 36 windowed inputs fold into 18 for a DCT-IV: the MDCT's cosine
      // cos(pi/72 (2i + 19)(2k + 1)) equals the DCT-IV's at n = i + 9 for
      // i < 9 and minus it at n = 26 - i (9 <= i < 27) and n = i - 27.
      const float* w = longWindow_[blockType];
      for (int n = 0; n < 9; ++n) u[n] = -(w[27 + n] * z[27 + n]) - w[26 - n] * z[26 - n];
      for (int n = 9; n < 18; ++n) u[n] = w[n - 9] * z[n - 9] - w[26 - n] * z[26 - n];
      kernels_.matrixVector(dct4Matrix_, u, 24, 18, out);
      for (int k = 0; k < 18; ++k) xr[18 * sb + k] = out[k];
    }
  }
  if (blockType == kShortBlock) return;
  // Encoder butterflies: the inverse of the decoder's alias reduction.
  for (int sb = 1; sb < 32; ++sb) {
    float* lo = xr + 18 * sb - 1;  // descending from the top of subband sb - 1
    float* hi = xr + 18 * sb;      // ascending from the bottom of subband sb
    for (int i = 0; i < 8; ++i) {
      const float a = lo[-i];
      const float b = hi[i];
      lo[-i] = a * cs_[i] + b * ca_[i];
      hi[i] = b * cs_[i] - a * ca_[i];
    }
  }
}

}  // namespace mp3enc
