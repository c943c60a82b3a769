// AVX2 implementation of the encoder's hot loops. Every lane performs the
// operations of the plain implementation in the same order (no fused
// multiply-add), so the results are identical.
#include <algorithm>
#include <cmath>

#include "mp3enc/kernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define MP3ENC_AVX2 __attribute__((target("avx2")))

namespace mp3enc {
namespace {

// Blocks of 8 rows, `blocks` of them at once: their sums are independent,
// so the additions of one block wait on the latency of another's no longer.
// Each output still adds its terms with k ascending.
template <int kBlocks>
MP3ENC_AVX2 inline void MatrixVectorBlocks(const float* m, const float* v, int rows, int cols,
                                           float* out) {
  __m256 acc[kBlocks];
  for (int b = 0; b < kBlocks; ++b) acc[b] = _mm256_setzero_ps();
  for (int k = 0; k < cols; ++k) {
    const __m256 vk = _mm256_set1_ps(v[k]);
    const float* row = m + static_cast<long>(k) * rows;
    for (int b = 0; b < kBlocks; ++b) {
      acc[b] = _mm256_add_ps(acc[b], _mm256_mul_ps(_mm256_loadu_ps(row + 8 * b), vk));
    }
  }
  for (int b = 0; b < kBlocks; ++b) _mm256_storeu_ps(out + 8 * b, acc[b]);
}

MP3ENC_AVX2 void MatrixVectorAvx2(const float* m, const float* v, int rows, int cols,
                                  float* out) {
  for (int r = 0; r < rows; r += 32) {
    switch (std::min(4, (rows - r) / 8)) {
      case 4:
        MatrixVectorBlocks<4>(m + r, v, rows, cols, out + r);
        break;
      case 3:
        MatrixVectorBlocks<3>(m + r, v, rows, cols, out + r);
        break;
      case 2:
        MatrixVectorBlocks<2>(m + r, v, rows, cols, out + r);
        break;
      default:
        MatrixVectorBlocks<1>(m + r, v, rows, cols, out + r);
        break;
    }
  }
}

MP3ENC_AVX2 void WindowFoldAvx2(const float* c, const float* x, float* y) {
  // All eight blocks of 8 outputs at once, each summing j ascending.
  __m256 s[8];
  for (int i = 0; i < 8; ++i) {
    s[i] = _mm256_mul_ps(_mm256_loadu_ps(c + 8 * i), _mm256_loadu_ps(x + 8 * i));
  }
  for (int j = 1; j < 8; ++j) {
    for (int i = 0; i < 8; ++i) {
      s[i] = _mm256_add_ps(s[i], _mm256_mul_ps(_mm256_loadu_ps(c + 8 * i + 64 * j),
                                               _mm256_loadu_ps(x + 8 * i + 64 * j)));
    }
  }
  for (int i = 0; i < 8; ++i) _mm256_storeu_ps(y + 8 * i, s[i]);
}

MP3ENC_AVX2 float Pow34Avx2(const float* x, int n, float* x34) {
  const __m256 absMask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
  __m256 peak = _mm256_setzero_ps();
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256 a = _mm256_and_ps(_mm256_loadu_ps(x + i), absMask);
    _mm256_storeu_ps(x34 + i, _mm256_sqrt_ps(_mm256_mul_ps(a, _mm256_sqrt_ps(a))));
    peak = _mm256_max_ps(peak, a);
  }
  float lanes[8];
  _mm256_storeu_ps(lanes, peak);
  float p = 0.0f;
  for (float l : lanes) p = l > p ? l : p;
  for (; i < n; ++i) {
    const float a = std::fabs(x[i]);
    x34[i] = std::sqrt(a * std::sqrt(a));
    p = a > p ? a : p;
  }
  return p;
}

// Lanes below `count` (0..8) set.
MP3ENC_AVX2 inline __m256i TailMask(int count) {
  return _mm256_cmpgt_epi32(_mm256_set1_epi32(count), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}

MP3ENC_AVX2 void QuantizeAvx2(const float* x34, float istep, int n, int* ix) {
  const __m256 s = _mm256_set1_ps(istep);
  const __m256 bias = _mm256_set1_ps(0.4054f);
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256 q = _mm256_add_ps(_mm256_mul_ps(_mm256_loadu_ps(x34 + i), s), bias);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(ix + i), _mm256_cvttps_epi32(q));
  }
  // Bands are often narrower than 8 lines: the rest in one masked step
  // (masked lanes are neither read nor written).
  if (i < n) {
    const __m256i mask = TailMask(n - i);
    const __m256 q = _mm256_add_ps(_mm256_mul_ps(_mm256_maskload_ps(x34 + i, mask), s), bias);
    _mm256_maskstore_epi32(ix + i, mask, _mm256_cvttps_epi32(q));
  }
}

MP3ENC_AVX2 float NoiseAvx2(const float* x, const int* ix, const float* pow43, float step,
                            int n) {
  const __m256 absMask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
  const __m256 st = _mm256_set1_ps(step);
  __m256 acc = _mm256_setzero_ps();
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i idx = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ix + i));
    const __m256 q = _mm256_i32gather_ps(pow43, idx, 4);
    const __m256 d =
        _mm256_sub_ps(_mm256_and_ps(_mm256_loadu_ps(x + i), absMask), _mm256_mul_ps(q, st));
    acc = _mm256_add_ps(acc, _mm256_mul_ps(d, d));
  }
  // The rest in one masked step: a masked lane reads value 0, whose
  // pow43 is 0, and adds 0 * 0 to its sum, which leaves it as it was.
  if (i < n) {
    const __m256i mask = TailMask(n - i);
    const __m256i idx = _mm256_maskload_epi32(ix + i, mask);
    const __m256 q = _mm256_i32gather_ps(pow43, idx, 4);
    const __m256 d = _mm256_sub_ps(_mm256_and_ps(_mm256_maskload_ps(x + i, mask), absMask),
                                   _mm256_mul_ps(q, st));
    acc = _mm256_add_ps(acc, _mm256_mul_ps(d, d));
  }
  float lanes[8];
  _mm256_storeu_ps(lanes, acc);
  return CombineLanes(lanes);
}

MP3ENC_AVX2 uint32_t QuadSumAvx2(const int* ix, int quads, const uint32_t* table) {
  // Eight quads per step. Packing to bytes keeps each quad's four values
  // together (the packs only interleave whole quads between the halves), so
  // a quad's index is the dot product of its bytes with 8, 4, 2, 1; the
  // table's two halves are looked up by a permute each.
  const __m256i lower = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(table));
  const __m256i upper = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(table + 8));
  const __m256i weights = _mm256_set1_epi32(0x01020408);
  const __m256i ones = _mm256_set1_epi16(1);
  const __m256i seven = _mm256_set1_epi32(7);
  __m256i acc = _mm256_setzero_si256();
  int q = 0;
  for (; q + 8 <= quads; q += 8, ix += 32) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ix));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ix + 8));
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ix + 16));
    const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ix + 24));
    const __m256i bytes = _mm256_packs_epi16(_mm256_packs_epi32(a, b), _mm256_packs_epi32(c, d));
    const __m256i idx = _mm256_madd_epi16(_mm256_maddubs_epi16(bytes, weights), ones);
    const __m256i lo = _mm256_permutevar8x32_epi32(lower, idx);
    const __m256i hi = _mm256_permutevar8x32_epi32(upper, idx);
    acc = _mm256_add_epi32(acc, _mm256_blendv_epi8(lo, hi, _mm256_cmpgt_epi32(idx, seven)));
  }
  uint32_t lanes[8];
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), acc);
  uint32_t sum = 0;
  for (uint32_t l : lanes) sum += l;
  for (; q < quads; ++q, ix += 4) sum += table[ix[0] * 8 + ix[1] * 4 + ix[2] * 2 + ix[3]];
  return sum;
}

constexpr Kernels kVector = {MatrixVectorAvx2, WindowFoldAvx2, Pow34Avx2, QuantizeAvx2,
                             NoiseAvx2, QuadSumAvx2};

}  // namespace

const Kernels& VectorKernels() { return kVector; }

}  // namespace mp3enc

#else

namespace mp3enc {
const Kernels& VectorKernels() { return PlainKernels(); }
}  // namespace mp3enc

#endif
