// Analysis polyphase filter bank (ISO/IEC 11172-3, C.1.3 and Table C.1).
#include "mp3enc/polyphase.h"

#include <cmath>
#include <cstring>

#include "mp3enc/layer3_tables.h"

namespace mp3enc {

PolyphaseAnalysis::PolyphaseAnalysis(const Kernels& kernels) : kernels_(kernels) {
  for (int i = 0; i < 512; ++i) window_[i] = static_cast<float>(kAnalysisWindow[i] / 2097152.0);
  for (int n = 0; n < 32; ++n) {
    for (int i = 0; i < 32; ++i) {
      matrix_[n * 32 + i] = static_cast<float>(std::cos((2 * i + 1) * n * M_PI / 64.0));
    }
  }
}

void PolyphaseAnalysis::Process(const float* in, int stride, float out[18][32]) {
  std::memmove(hist_, hist_ + 576, 480 * sizeof(float));
  for (int i = 0; i < 576; ++i) hist_[480 + i] = in[i * stride];
  // X[i] (i = 0 newest) of the standard is hist_[newest - i]; keep a reversed
  // copy so that the window runs forward in memory.
  float rev[kSpan];
  for (int i = 0; i < kSpan; ++i) rev[i] = hist_[kSpan - 1 - i];
  float y[64];
  float z[32];
  for (int t = 0; t < 18; ++t) {
    const int newest = 480 + 32 * t + 31;
    const float* x = rev + (kSpan - 1 - newest);
    kernels_.windowFold(window_, x, y);
    // The matrixing's rows for k - 16 = -n and n are equal, and those for
    // 32 + j and 32 - j are opposite (the row of k = 48 is all zero), so
    // the 64 partial sums fold into 32 before a 32 x 32 cosine matrix.
    z[0] = y[16];
    for (int n = 1; n <= 16; ++n) z[n] = y[16 + n] + y[16 - n];
    for (int n = 17; n < 32; ++n) z[n] = y[16 + n] - y[80 - n];
    kernels_.matrixVector(matrix_, z, 32, 32, out[t]);
  }
}

}  // namespace mp3enc
