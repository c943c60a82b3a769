// Power spectrum of a real block for the psychoacoustic model: the even and
// odd samples form one complex sequence of half the length, transformed by an
// iterative radix-2 FFT (decimation in time), and the real spectrum is split
// out of it afterwards.
#include "mp3enc/fft.h"

#include <cmath>

namespace mp3enc {

PowerSpectrum::PowerSpectrum(int size)
    : size_(size), window_(size), cosTable_(size / 4), sinTable_(size / 4), splitCos_(size / 2 + 1),
      splitSin_(size / 2 + 1), bitReverse_(size / 2), re_(size / 2), im_(size / 2) {
  for (int i = 0; i < size; ++i) {
    window_[i] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * M_PI * (i + 0.5) / size));
  }
  const int half = size / 2;
  for (int i = 0; i < half / 2; ++i) {
    cosTable_[i] = static_cast<float>(std::cos(2.0 * M_PI * i / half));
    sinTable_[i] = static_cast<float>(-std::sin(2.0 * M_PI * i / half));
  }
  for (int k = 0; k <= half; ++k) {
    splitCos_[k] = static_cast<float>(std::cos(2.0 * M_PI * k / size));
    splitSin_[k] = static_cast<float>(-std::sin(2.0 * M_PI * k / size));
  }
  int bits = 0;
  while ((1 << bits) < half) ++bits;
  for (int i = 0; i < half; ++i) {
    int r = 0;
    for (int b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
    bitReverse_[i] = r;
  }
}

void PowerSpectrum::Transform(const float* in, float* power, float* re, float* im) {
  const int n = size_ / 2;  // complex points
  for (int i = 0; i < n; ++i) {
    const int r = bitReverse_[i];
    re_[r] = in[2 * i] * window_[2 * i];
    im_[r] = in[2 * i + 1] * window_[2 * i + 1];
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
  // X[k] = E[k] + W^k O[k] with E = (Z[k] + conj Z[n-k]) / 2 and
  // O = (Z[k] - conj Z[n-k]) / 2i, W = exp(-2 pi i / size).
  for (int k = 0; k <= n; ++k) {
    const int a = k == n ? 0 : k;
    const int b = k == 0 ? 0 : n - k;
    const float zr = re_[a];
    const float zi = im_[a];
    const float cr = re_[b];
    const float ci = -im_[b];
    const float er = 0.5f * (zr + cr);
    const float ei = 0.5f * (zi + ci);
    // (Z - conj Z') / 2i = (di, -dr) / 2 for d = Z - conj Z'.
    const float orr = 0.5f * (zi - ci);
    const float oi = -0.5f * (zr - cr);
    const float wr = splitCos_[k];
    const float wi = splitSin_[k];
    const float xr = er + wr * orr - wi * oi;
    const float xi = ei + wr * oi + wi * orr;
    power[k] = xr * xr + xi * xi;
    if (re != nullptr && im != nullptr) {
      re[k] = xr;
      im[k] = xi;
    }
  }
}

}  // namespace mp3enc
