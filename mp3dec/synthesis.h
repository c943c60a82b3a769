// The polyphase synthesis filter bank of ISO/IEC 11172-3 2.4.3.4.10.3 /
// Annex A (Figure A.2): matrixing of 32 subband samples, the 1024-value
// FIFO, and the 512-tap window D.
#pragma once

#include <cstddef>

namespace mp3dec {

class SynthesisFilter {
 public:
  void Reset();
  // Synthesises 18 time slots of one channel: subbands[slot][sb] ->
  // 18 * 32 samples written to pcm[n * stride], scaled by 2^-15 (the spectrum
  // carries 2^15), not clipped.
  void SynthesiseGranule(const float subbands[18][32], float* pcm, size_t stride);

 private:
  void SynthesiseSlot(const float* subbands, float* pcm, size_t stride);

  // The FIFO V of the standard, newest slot first from position_, stored
  // twice (at position_ and position_ + 1024) so that the window reads one
  // contiguous run of 1024 values.
  float fifo_[2048] = {};
  int position_ = 0;
};

// The 32-point matrixing of one slot, x[m] = sum_k s[k] cos(m (2k+1) pi / 64)
// for m = 0..31, computed with a fast factorisation.
void Dct32(const float s[32], float x[32]);

}  // namespace mp3dec
