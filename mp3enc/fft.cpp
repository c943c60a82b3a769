// Power spectrum of a real block for the psychoacoustic model: the even and
// odd samples form one complex sequence of half the length, transformed by an
// iterative radix-2 FFT (decimation in time), and the real spectrum is split
// out of it afterwards.
#include "mp3enc/fft.h"

#include <cmath>

namespace mp3enc {

namespace {

// Bin k of the real spectrum from bins a and b of the half-length complex
// one: X[k] = E[k] + W^k O[k] with E = (Z[a] + conj Z[b]) / 2 and
// O = (Z[a] - conj Z[b]) / 2i, W = exp(-2 pi i / size).
inline void SplitBin(const float* zre, const float* zim, int a, int b, float wr, float wi,
                     float* xrOut, float* xiOut) {
  const float zr = zre[a];
  const float zi = zim[a];
  const float cr = zre[b];
  const float ci = -zim[b];
  const float er = 0.5f * (zr + cr);
  const float ei = 0.5f * (zi + ci);
  // (Z - conj Z') / 2i = (di, -dr) / 2 for d = Z - conj Z'.
  const float orr = 0.5f * (zi - ci);
  const float oi = -0.5f * (zr - cr);
  *xrOut = er + wr * orr - wi * oi;
  *xiOut = ei + wr * oi + wi * orr;
}

inline void Butterfly(float* ar, float* ai, float* br, float* bi, float wr, float wi) {
  const float tr = *br * wr - *bi * wi;
  const float ti = *br * wi + *bi * wr;
  *br = *ar - tr;
  *bi = *ai - ti;
  *ar += tr;
  *ai += ti;
}

// One group of a butterfly stage: lines a[j] and b[j] = a[j + half] with
// twiddle j, for j < half.
void Butterflies(float* __restrict ar, float* __restrict ai, float* __restrict br,
                 float* __restrict bi, const float* __restrict twr, const float* __restrict twi,
                 int half) {
  for (int j = 0; j < half; ++j) {
    const float wr = twr[j];
    const float wi = twi[j];
    const float tr = br[j] * wr - bi[j] * wi;
    const float ti = br[j] * wi + bi[j] * wr;
    br[j] = ar[j] - tr;
    bi[j] = ai[j] - ti;
    ar[j] += tr;
    ai[j] += ti;
  }
}

}  // namespace

PowerSpectrum::PowerSpectrum(int size)
    : size_(size), window_(size), stageCos_(size / 2), stageSin_(size / 2), splitCos_(size / 2 + 1),
      splitSin_(size / 2 + 1), bitReverse_(size / 2), re_(size / 2), im_(size / 2) {
  for (int i = 0; i < size; ++i) {
    window_[i] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * M_PI * (i + 0.5) / size));
  }
  const int half = size / 2;
  int at = 0;
  for (int len = 2; len <= half; len <<= 1) {
    const int stride = half / len;
    for (int j = 0; j < len / 2; ++j) {
      const int i = j * stride;
      stageCos_[at] = static_cast<float>(std::cos(2.0 * M_PI * i / half));
      stageSin_[at] = static_cast<float>(-std::sin(2.0 * M_PI * i / half));
      ++at;
    }
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
  float* const zre = re_.data();
  float* const zim = im_.data();
  for (int i = 0; i < n; ++i) {
    const int r = bitReverse_[i];
    zre[r] = in[2 * i] * window_[2 * i];
    zim[r] = in[2 * i + 1] * window_[2 * i + 1];
  }
  // Butterflies; within a group the upper and lower halves never overlap,
  // so each group's loop runs over contiguous lines and twiddles.
  const float* twr = stageCos_.data();
  const float* twi = stageSin_.data();
  for (int len = 2; len <= n; len <<= 1) {
    const int half = len >> 1;
    if (half <= 2) {
      // The first two stages: groups too short for a loop of their own.
      for (int start = 0; start < n; start += len) {
        for (int j = 0; j < half; ++j) {
          Butterfly(zre + start + j, zim + start + j, zre + start + j + half,
                    zim + start + j + half, twr[j], twi[j]);
        }
      }
    } else {
      for (int start = 0; start < n; start += len) {
        Butterflies(zre + start, zim + start, zre + start + half, zim + start + half, twr, twi,
                    half);
      }
    }
    twr += half;
    twi += half;
  }
  // Bins 0 and n pair line 0 with itself; bin k with 0 < k < n pairs k
  // with n - k.
  float xr;
  float xi;
  const bool keep = re != nullptr && im != nullptr;
  SplitBin(zre, zim, 0, 0, splitCos_[0], splitSin_[0], &xr, &xi);
  power[0] = xr * xr + xi * xi;
  if (keep) {
    re[0] = xr;
    im[0] = xi;
  }
  for (int k = 1; k < n; ++k) {
    SplitBin(zre, zim, k, n - k, splitCos_[k], splitSin_[k], &xr, &xi);
    power[k] = xr * xr + xi * xi;
    if (keep) {
      re[k] = xr;
      im[k] = xi;
    }
  }
  SplitBin(zre, zim, 0, 0, splitCos_[n], splitSin_[n], &xr, &xi);
  power[n] = xr * xr + xi * xi;
  if (keep) {
    re[n] = xr;
    im[n] = xi;
  }
}

}  // namespace mp3enc
