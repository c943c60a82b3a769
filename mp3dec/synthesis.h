// The polyphase synthesis filter bank of ISO/IEC 11172-3 2.4.3.4.10.3 /
// Annex A (Figure A.2): matrixing of 32 subband samples, the 1024-value
// FIFO, and the 512-tap window D.
#pragma once

#include <cstddef>

#include "mp3dec/wide_vectors.h"

namespace mp3dec {

// One granule of one channel in subband-major order, block[sb][slot], the
// order in which the hybrid filter bank produces it. The 18 time slots are
// padded to 20 columns so that loops over the slots run in whole vectors of
// four; the padding columns are never read into the output.
inline constexpr int kSlots = 18;
inline constexpr int kSlotColumns = 20;
using SubbandBlock = float[32][kSlotColumns];

class SynthesisFilter {
 public:
  // wide: use the AVX2 build of the loops (see wide_vectors.h); the output
  // is the same either way.
  explicit SynthesisFilter(bool wide = WideVectorsAvailable()) : wide_(wide) {}

  void Reset();
  // Synthesises 18 time slots of one channel: 18 * 32 samples written to
  // pcm[n * stride], scaled by 2^-15 (the spectrum carries 2^15), not
  // clipped.
  void SynthesiseGranule(const SubbandBlock& subbands, float* pcm, size_t stride);

 private:
  void SynthesiseGranulePlain(const SubbandBlock& subbands, float* pcm, size_t stride);
  MP3DEC_TARGET_WIDE void SynthesiseGranuleWide(const SubbandBlock& subbands, float* pcm, size_t stride);
  // The body of both builds.
  void Synthesise(const SubbandBlock& subbands, float* pcm, size_t stride);
  // Stores one matrixed slot (x[0..31], x[32] = -0) in the FIFO and windows
  // the FIFO into 32 samples.
  void SynthesiseSlot(const float x[33], float* pcm, size_t stride);

  // The FIFO V of the standard, newest slot first from position_, stored
  // twice (at position_ and position_ + 1024) so that the window reads one
  // contiguous run of 1024 values.
  alignas(64) float fifo_[2048] = {};
  int position_ = 0;
  bool wide_;
};

// The 32-point matrixing of every slot (column) of a block at once,
// x[m][l] = sum_k s[k][l] cos(m (2k+1) pi / 64) for m = 0..31, with a fast
// factorisation whose operations run on whole rows, which the compiler turns
// into vector arithmetic. Each column gets the same operations in the same
// order, so either build gives the same result.
void Dct32Columns(const SubbandBlock& s, SubbandBlock& x, bool wide = WideVectorsAvailable());

}  // namespace mp3dec
