// Plain implementation of the encoder's hot loops.
#include <cmath>

#include "mp3enc/kernels.h"

namespace mp3enc {
namespace {

void MatrixVectorPlain(const float* m, const float* v, int rows, int cols, float* out) {
  for (int r = 0; r < rows; ++r) out[r] = 0.0f;
  for (int k = 0; k < cols; ++k) {
    const float vk = v[k];
    const float* row = m + static_cast<long>(k) * rows;
    for (int r = 0; r < rows; ++r) out[r] += row[r] * vk;
  }
}

void WindowFoldPlain(const float* c, const float* x, float* y) {
  for (int i = 0; i < 64; ++i) {
    float s = c[i] * x[i];
    for (int j = 1; j < 8; ++j) s += c[i + 64 * j] * x[i + 64 * j];
    y[i] = s;
  }
}

float Pow34Plain(const float* x, int n, float* x34) {
  float peak = 0.0f;
  for (int i = 0; i < n; ++i) {
    const float a = std::fabs(x[i]);
    x34[i] = std::sqrt(a * std::sqrt(a));
    peak = a > peak ? a : peak;
  }
  return peak;
}

void QuantizePlain(const float* x34, float istep, int n, int* ix) {
  for (int i = 0; i < n; ++i) ix[i] = static_cast<int>(x34[i] * istep + 0.4054f);
}

float NoisePlain(const float* x, const int* ix, const float* pow43, float step, int n) {
  float lanes[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    for (int l = 0; l < 8; ++l) {
      const float d = std::fabs(x[i + l]) - pow43[ix[i + l]] * step;
      lanes[l] += d * d;
    }
  }
  for (int l = 0; i < n; ++i, ++l) {
    const float d = std::fabs(x[i]) - pow43[ix[i]] * step;
    lanes[l] += d * d;
  }
  return CombineLanes(lanes);
}

uint32_t QuadSumPlain(const int* ix, int quads, const uint32_t* table) {
  uint32_t sum = 0;
  for (int q = 0; q < quads; ++q, ix += 4) sum += table[ix[0] * 8 + ix[1] * 4 + ix[2] * 2 + ix[3]];
  return sum;
}

constexpr Kernels kPlain = {MatrixVectorPlain, WindowFoldPlain, Pow34Plain, QuantizePlain,
                            NoisePlain, QuadSumPlain};

}  // namespace

const Kernels& PlainKernels() { return kPlain; }

}  // namespace mp3enc
