#include "mp3dec/synthesis.h"

#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

#include "mp3dec/tables.h"

namespace mp3dec {
namespace {

// Factors of the DCT-II recursion below: 1 / (2 cos(pi (2k+1) / (2N))) for
// N = 32, 16, 8, 4, 2 stored one after the other (16 + 8 + 4 + 2 + 1).
struct DctFactors {
  std::array<float, 31> f;
  static constexpr int Offset(int n) { return n == 32 ? 0 : n == 16 ? 16 : n == 8 ? 24 : n == 4 ? 28 : 30; }
};

DctFactors MakeDctFactors() {
  DctFactors t{};
  for (int n = 32; n >= 2; n /= 2) {
    for (int k = 0; k < n / 2; ++k) {
      t.f[DctFactors::Offset(n) + k] =
          static_cast<float>(0.5 / std::cos(std::numbers::pi * (2 * k + 1) / (2.0 * n)));
    }
  }
  return t;
}

const DctFactors kDct = MakeDctFactors();

// Unnormalised DCT-II of N points, X[m] = sum_k s[k] cos(pi m (2k+1) / 2N),
// by B. G. Lee's recursion: with a[k] = s[k] + s[N-1-k] and
// b[k] = (s[k] - s[N-1-k]) / (2 cos(pi (2k+1) / 2N)), the even outputs are
// the N/2-point transform of a and the odd ones X[2m+1] = B[m] + B[m+1] of
// the transform B of b. Point k of column l is s[k * C + l]: the C columns
// are transformed side by side, each with the same operations in the same
// order.

template <int N, int C>
void Dct(const float* s, float* x) {
  if constexpr (N == 1) {
    for (int l = 0; l < C; ++l) x[l] = s[l];
  } else {
    constexpr int H = N / 2;
    float a[H * C], b[H * C], ta[H * C], tb[H * C];
    const float* factor = kDct.f.data() + DctFactors::Offset(N);
    for (int k = 0; k < H; ++k) {
      const float* lo = s + k * C;
      const float* hi = s + (N - 1 - k) * C;
      for (int l = 0; l < C; ++l) {
        a[k * C + l] = lo[l] + hi[l];
        b[k * C + l] = (lo[l] - hi[l]) * factor[k];
      }
    }
    Dct<H, C>(a, ta);
    Dct<H, C>(b, tb);
    for (int m = 0; m < H - 1; ++m) {
      for (int l = 0; l < C; ++l) {
        x[2 * m * C + l] = ta[m * C + l];
        x[(2 * m + 1) * C + l] = tb[m * C + l] + tb[(m + 1) * C + l];
      }
    }
    for (int l = 0; l < C; ++l) {
      x[(N - 2) * C + l] = ta[(H - 1) * C + l];
      x[(N - 1) * C + l] = tb[(H - 1) * C + l];
    }
  }
}

// Flattened: the recursion's levels are inlined into one function.
MP3DEC_FLATTEN void Dct32ColumnsPlain(const SubbandBlock& s, SubbandBlock& x) {
  Dct<32, kSlotColumns>(&s[0][0], &x[0][0]);
}

MP3DEC_FLATTEN MP3DEC_TARGET_WIDE void Dct32ColumnsWide(const SubbandBlock& s, SubbandBlock& x) {
  Dct<32, kSlotColumns>(&s[0][0], &x[0][0]);
}

}  // namespace

void Dct32Columns(const SubbandBlock& s, SubbandBlock& x, bool wide) {
  if (wide) {
    Dct32ColumnsWide(s, x);
  } else {
    Dct32ColumnsPlain(s, x);
  }
}

void SynthesisFilter::Reset() {
  std::memset(fifo_, 0, sizeof fifo_);
  position_ = 0;
}

void SynthesisFilter::SynthesiseGranule(const SubbandBlock& subbands, float* pcm, size_t stride) {
  if (wide_) {
    SynthesiseGranuleWide(subbands, pcm, stride);
  } else {
    SynthesiseGranulePlain(subbands, pcm, stride);
  }
}

MP3DEC_FLATTEN void SynthesisFilter::SynthesiseGranulePlain(const SubbandBlock& subbands, float* pcm,
                                                            size_t stride) {
  Synthesise(subbands, pcm, stride);
}

MP3DEC_FLATTEN MP3DEC_TARGET_WIDE void SynthesisFilter::SynthesiseGranuleWide(const SubbandBlock& subbands,
                                                                              float* pcm, size_t stride) {
  Synthesise(subbands, pcm, stride);
}

void SynthesisFilter::Synthesise(const SubbandBlock& subbands, float* pcm, size_t stride) {
  SubbandBlock matrixed;
  Dct<32, kSlotColumns>(&subbands[0][0], &matrixed[0][0]);
  // Slot-major copies of the transform, so that each slot's FIFO entry is
  // built from contiguous values; entry 32 is -0 (see SynthesiseSlot).
  float slots[kSlots][33];
  for (int t = 0; t < kSlots; ++t) {
    for (int m = 0; m < 32; ++m) slots[t][m] = matrixed[m][t];
    slots[t][32] = -0.0f;
  }
  for (int t = 0; t < kSlots; ++t) SynthesiseSlot(slots[t], pcm + static_cast<size_t>(t) * 32 * stride, stride);
}

void SynthesisFilter::SynthesiseSlot(const float x[33], float* pcm, size_t stride) {
  // V[i] = sum_k S[k] cos((16 + i)(2k + 1) pi / 64), i = 0..63, from the
  // DCT x of S: V[i] = x[i + 16] (i < 16), 0 (i = 16), -x[48 - i] (17..47),
  // -x[i - 48] (48..63). Four runs of 16, with x[32] = -0 giving V[16] = +0;
  // each value is stored in both copies of the FIFO.
  position_ = (position_ - 64) & 1023;
  float* v = fifo_ + position_;
  float* mirror = v + 1024;
  for (int k = 0; k < 16; ++k) v[k] = mirror[k] = x[16 + k];
  for (int k = 0; k < 16; ++k) v[16 + k] = mirror[16 + k] = -x[32 - k];
  for (int k = 0; k < 16; ++k) v[32 + k] = mirror[32 + k] = -x[16 - k];
  for (int k = 0; k < 16; ++k) v[48 + k] = mirror[48 + k] = -x[k];

  // out[j] = sum over i = 0..7 of V[128i + j] D[64i + j] + V[128i + 96 + j] D[64i + 32 + j].
  const float* fifo = v;
  const float* d = kSynthesisWindow.data();
  float sum[32] = {};
  for (int i = 0; i < 8; ++i) {
    const float* lo = fifo + 128 * i;
    const float* hi = lo + 96;
    const float* dlo = d + 64 * i;
    const float* dhi = dlo + 32;
    for (int j = 0; j < 32; ++j) sum[j] += lo[j] * dlo[j] + hi[j] * dhi[j];
  }
  if (stride == 1) {  // a separate loop, so that it is stored as whole vectors
    for (int j = 0; j < 32; ++j) pcm[j] = sum[j] * (1.0f / 32768.0f);
  } else {
    for (int j = 0; j < 32; ++j) pcm[static_cast<size_t>(j) * stride] = sum[j] * (1.0f / 32768.0f);
  }
}

}  // namespace mp3dec
