// Iterative radix-2 FFT (decimation in time) for the psychoacoustic model.
#include "mp3enc/fft.h"

#include <cmath>

namespace mp3enc {

PowerSpectrum::PowerSpectrum(int size)
    : size_(size), window_(size), cosTable_(size / 2), sinTable_(size / 2), bitReverse_(size),
      re_(size), im_(size) {
  for (int i = 0; i < size; ++i) {
    window_[i] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * M_PI * (i + 0.5) / size));
  }
  for (int i = 0; i < size / 2; ++i) {
    cosTable_[i] = static_cast<float>(std::cos(2.0 * M_PI * i / size));
    sinTable_[i] = static_cast<float>(-std::sin(2.0 * M_PI * i / size));
  }
  int bits = 0;
  while ((1 << bits) < size) ++bits;
  for (int i = 0; i < size; ++i) {
    int r = 0;
    for (int b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
    bitReverse_[i] = r;
  }
}

void PowerSpectrum::Transform(const float* in, float* power, float* phase) {
  const int n = size_;
  for (int i = 0; i < n; ++i) {
    re_[bitReverse_[i]] = in[i] * window_[i];
    im_[bitReverse_[i]] = 0.0f;
  }
  for (int len = 2; len <= n; len <<= 1) {
    const int half = len >> 1;
    const int stride = n / len;
    for (int start = 0; start < n; start += len) {
      for (int j = 0; j < half; ++j) {
        const float wr = cosTable_[j * stride];
        const float wi = sinTable_[j * stride];
        const int a = start + j;
        const int b = a + half;
        const float tr = re_[b] * wr - im_[b] * wi;
        const float ti = re_[b] * wi + im_[b] * wr;
        re_[b] = re_[a] - tr;
        im_[b] = im_[a] - ti;
        re_[a] += tr;
        im_[a] += ti;
      }
    }
  }
  for (int i = 0; i <= n / 2; ++i) {
    power[i] = re_[i] * re_[i] + im_[i] * im_[i];
    if (phase != nullptr) phase[i] = std::atan2(im_[i], re_[i]);
  }
}

}  // namespace mp3enc
