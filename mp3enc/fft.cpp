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
      splitSin_(size / 2 + 1), bitReverse_(size / 8), re_(size / 2), im_(size / 2) {
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
  for (int i = 0; i < half / 4; ++i) {
    int r = 0;
    for (int b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
    bitReverse_[i] = r;
  }
}

void PowerSpectrum::Transform(const float* in, float* power, float* re, float* im) {
  const int n = size_ / 2;  // complex points
  float* const zre = re_.data();
  float* const zim = im_.data();
  // Windowing, the bit-reversed order and the first two butterfly stages
  // (twiddles 1 and -i) in one pass: the points i, i + n/2, i + n/4 and
  // i + 3n/4 land on the four lines from r = bitreverse(i), a multiple of 4.
  const float* const w = window_.data();
  const int quarter = n / 4;
  for (int i = 0; i < quarter; ++i) {
    const int r = bitReverse_[i];
    const int k0 = 2 * i;
    const int k1 = 2 * (i + 2 * quarter);
    const int k2 = 2 * (i + quarter);
    const int k3 = 2 * (i + 3 * quarter);
    const float ar = in[k0] * w[k0], ai = in[k0 + 1] * w[k0 + 1];
    const float br = in[k1] * w[k1], bi = in[k1 + 1] * w[k1 + 1];
    const float cr = in[k2] * w[k2], ci = in[k2 + 1] * w[k2 + 1];
    const float dr = in[k3] * w[k3], di = in[k3 + 1] * w[k3 + 1];
    const float sr = ar + br, si = ai + bi;  // line r after the first stage
    const float tr = ar - br, ti = ai - bi;  // line r + 1
    const float ur = cr + dr, ui = ci + di;  // line r + 2
    const float vr = cr - dr, vi = ci - di;  // line r + 3, then times -i
    zre[r] = sr + ur;
    zim[r] = si + ui;
    zre[r + 2] = sr - ur;
    zim[r + 2] = si - ui;
    zre[r + 1] = tr + vi;
    zim[r + 1] = ti - vr;
    zre[r + 3] = tr - vi;
    zim[r + 3] = ti + vr;
  }
  // The remaining stages; within a group the upper and lower halves never
  // overlap, so each group's loop runs over contiguous lines and twiddles.
  const float* twr = stageCos_.data() + 3;  // past the first two stages' 1 + 2
  const float* twi = stageSin_.data() + 3;
  for (int len = 8; len <= n; len <<= 1) {
    const int half = len >> 1;
    for (int start = 0; start < n; start += len) {
      Butterflies(zre + start, zim + start, zre + start + half, zim + start + half, twr, twi, half);
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
