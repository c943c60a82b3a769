// Unpredictability of the psychoacoustic model's long analysis. Every lane
// computes both branches of a choice (the divisor made safe), so that the
// loop runs on vectors; this file is compiled without errno and trap
// semantics for the square root and the division (see CMakeLists.txt), which
// lets the compiler do so. The values are those of the scalar loop: the
// operations and their order are the same in every lane.
#include "mp3enc/unpredictability.h"

#include <algorithm>
#include <cmath>

namespace mp3enc {

// Unpredictability of each bin: its distance from the value predicted by
// the two previous analyses, over the magnitudes; then the history moves on.
void Unpredictability(int bins, const float* __restrict power, const float* __restrict re,
                      const float* __restrict im, float* __restrict mag1,
                      float* __restrict mag2, float* __restrict c1v, float* __restrict s1v,
                      float* __restrict c2v, float* __restrict s2v,
                      float* __restrict unpredict) {
  for (int j = 0; j < bins; ++j) {
    const float mag = std::sqrt(power[j]);
    const float predMag = 2.0f * mag1[j] - mag2[j];
    const float c1 = c1v[j];
    const float s1 = s1v[j];
    const float dc = c1 * c1 - s1 * s1;
    const float ds = 2.0f * c1 * s1;
    const float predC = dc * c2v[j] + ds * s2v[j];
    const float predS = ds * c2v[j] - dc * s2v[j];
    const float dx = re[j] - predMag * predC;
    const float dy = im[j] - predMag * predS;
    const float den = mag + std::fabs(predMag);
    const float safeDen = den > 0.0f ? den : 1.0f;
    const float u = std::min(1.0f, std::sqrt(dx * dx + dy * dy) / safeDen);
    unpredict[j] = den > 0.0f ? u : 1.0f;
    mag2[j] = mag1[j];
    c2v[j] = c1;
    s2v[j] = s1;
    mag1[j] = mag;
    const bool some = mag > 0.0f;
    const float safeMag = some ? mag : 1.0f;
    const float c = re[j] / safeMag;
    const float si = im[j] / safeMag;
    c1v[j] = some ? c : 1.0f;
    s1v[j] = some ? si : 0.0f;
  }
}

}  // namespace mp3enc
