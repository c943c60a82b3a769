// Joint-stereo helpers (ISO/IEC 11172-3, 2.4.3.4.9: mid/side stereo).
#include "mp3enc/stereo.h"

#include <cmath>

namespace mp3enc {

void BandEnergies(const BandLayout& layout, const float* xr, float* energy) {
  for (int b = 0; b < layout.count; ++b) {
    float e = 0.0f;
    for (int i = layout.start[b]; i < layout.end[b]; ++i) e += xr[i] * xr[i];
    energy[b] = e;
  }
}

float PerceptualEntropy(const BandLayout& layout, const float* energy, const float* xmin) {
  float pe = 0.0f;
  for (int b = 0; b < layout.count; ++b) {
    if (energy[b] > xmin[b] && xmin[b] > 0.0f) {
      pe += 0.5f * static_cast<float>(layout.end[b] - layout.start[b]) *
            std::log2(energy[b] / xmin[b]);
    }
  }
  return pe;
}

void ToMidSide(float* left, float* right, int n) {
  const float k = static_cast<float>(M_SQRT1_2);
  for (int i = 0; i < n; ++i) {
    const float l = left[i];
    const float r = right[i];
    left[i] = (l + r) * k;
    right[i] = (l - r) * k;
  }
}

}  // namespace mp3enc
