#include "mp3dec/synthesis.h"

#include <cmath>
#include <cstring>
#include <numbers>

#include "mp3dec/tables.h"

namespace mp3dec {
namespace {

struct CosTable {
  float c[32][32];
};

CosTable MakeCosTable() {
  CosTable t{};
  for (int m = 0; m < 32; ++m) {
    for (int k = 0; k < 32; ++k) {
      t.c[m][k] = static_cast<float>(std::cos(m * (2 * k + 1) * std::numbers::pi / 64.0));
    }
  }
  return t;
}

const CosTable kCos = MakeCosTable();

}  // namespace

void Dct32(const float s[32], float x[32]) {
  for (int m = 0; m < 32; ++m) {
    float sum = 0.0f;
    for (int k = 0; k < 32; ++k) sum += kCos.c[m][k] * s[k];
    x[m] = sum;
  }
}

void SynthesisFilter::Reset() {
  std::memset(fifo_, 0, sizeof fifo_);
  position_ = 0;
}

void SynthesisFilter::SynthesiseGranule(const float subbands[18][32], float* pcm, size_t stride) {
  for (int t = 0; t < 18; ++t) SynthesiseSlot(subbands[t], pcm + static_cast<size_t>(t) * 32 * stride, stride);
}

void SynthesisFilter::SynthesiseSlot(const float* subbands, float* pcm, size_t stride) {
  // V[i] = sum_k S[k] cos((16 + i)(2k + 1) pi / 64), i = 0..63, expressed
  // through x[m] = DCT of S: V[i] = x[i + 16] (i <= 15), 0 (i = 16),
  // -x[48 - i] (17..47), -x[i - 48] (48..63).
  position_ = (position_ - 64) & 1023;
  float x[32];
  Dct32(subbands, x);
  float* v = fifo_;
  const int p = position_;
  for (int i = 0; i < 16; ++i) v[(p + i) & 1023] = x[i + 16];
  v[(p + 16) & 1023] = 0.0f;
  for (int i = 17; i < 48; ++i) v[(p + i) & 1023] = -x[48 - i];
  for (int i = 48; i < 64; ++i) v[(p + i) & 1023] = -x[i - 48];
  const float* d = kSynthesisWindow.data();
  for (int j = 0; j < 32; ++j) {
    float sum = 0.0f;
    for (int i = 0; i < 8; ++i) {
      sum += v[(p + 128 * i + j) & 1023] * d[64 * i + j];
      sum += v[(p + 128 * i + 96 + j) & 1023] * d[64 * i + 32 + j];
    }
    pcm[static_cast<size_t>(j) * stride] = sum * (1.0f / 32768.0f);
  }
}

}  // namespace mp3dec
