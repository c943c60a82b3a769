// Analysis polyphase filter bank of ISO/IEC 11172-3 (C.1.3): 32 subbands
// from the window C of Table C.1 and the cosine matrixing.
#pragma once

#include "mp3enc/kernels.h"

namespace mp3enc {

class PolyphaseAnalysis {
 public:
  explicit PolyphaseAnalysis(const Kernels& kernels);
  // Filters 576 new samples (every stride-th value of in) into 18 times 32
  // subband samples, out[t][sb].
  void Process(const float* in, int stride, float out[18][32]);

 private:
  const Kernels& kernels_;
  static constexpr int kSpan = 480 + 576;
  float hist_[kSpan] = {};  // chronological: 480 previous samples then new
  float window_[512];       // C[i]
  float matrix_[32 * 32];   // cos((2i + 1) n pi / 64) of the folded sums, [n][i]
};

}  // namespace mp3enc
