// Unpredictability of each bin of the psychoacoustic model's long analysis
// (in the manner of ISO/IEC 11172-3, Annex D, psychoacoustic model 2).
#pragma once

namespace mp3enc {

// Distance of each bin (re, im, power) from the value predicted by the two
// previous analyses (magnitudes mag1, mag2 and unit phase vectors c1 + i s1,
// c2 + i s2), over the magnitudes, at most 1; then the history moves on by
// one analysis.
void Unpredictability(int bins, const float* __restrict power, const float* __restrict re,
                      const float* __restrict im, float* __restrict mag1,
                      float* __restrict mag2, float* __restrict c1v, float* __restrict s1v,
                      float* __restrict c2v, float* __restrict s2v,
                      float* __restrict unpredict);

}  // namespace mp3enc
