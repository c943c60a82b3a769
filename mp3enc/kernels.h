// The hot loops of the encoder behind one interface, in a plain and a vector
// implementation. Both compute every output with the same operations in the
// same order (reductions run in eight interleaved partial sums that are
// combined in a fixed order), so they give bit-identical results.
#pragma once

#include <cstdint>

namespace mp3enc {

struct Kernels {
  // out[r] = sum over k < cols of m[k * rows + r] * v[k], k ascending
  // (rows a multiple of 8).
  void (*matrixVector)(const float* m, const float* v, int rows, int cols, float* out);
  // y[i] = sum over j < 8 of c[i + 64 j] * x[i + 64 j] for i < 64 (j ascending).
  void (*windowFold)(const float* c, const float* x, float* y);
  // x34[i] = |x[i]|^(3/4) as sqrt(|x| * sqrt(|x|)); returns max |x|.
  float (*pow34)(const float* x, int n, float* x34);
  // ix[i] = (int)(x34[i] * istep + 0.4054), n a multiple of 2.
  void (*quantize)(const float* x34, float istep, int n, int* ix);
  // sum of (|x[i]| - pow43[ix[i]] * step)^2 in eight partial sums; ix values
  // must lie within the pow43 table.
  float (*noise)(const float* x, const int* ix, const float* pow43, float step, int n);
  // Sum of table[8 ix[4q] + 4 ix[4q + 1] + 2 ix[4q + 2] + ix[4q + 3]] over
  // the quads q < quads; every value must be 0 or 1 (a count1 region).
  uint32_t (*quadSum)(const int* ix, int quads, const uint32_t* table);
};

const Kernels& PlainKernels();
const Kernels& VectorKernels();  // AVX2; only valid when CpuHasVectorPath()

// Combines eight partial sums in the fixed order both paths use.
inline float CombineLanes(const float* a) {
  return ((a[0] + a[4]) + (a[1] + a[5])) + ((a[2] + a[6]) + (a[3] + a[7]));
}

}  // namespace mp3enc
