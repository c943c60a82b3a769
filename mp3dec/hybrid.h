// Reordering of short blocks, alias reduction and the hybrid filter bank
// (IMDCT with the four windows, overlap-add, frequency inversion):
// ISO/IEC 11172-3 2.4.3.4.10 and Annex A.
#pragma once

#include "mp3dec/side_info.h"
#include "mp3dec/synthesis.h"
#include "mp3dec/wide_vectors.h"

namespace mp3dec {

// Short bands (from band 0, or 3 in mixed blocks) from window-major to
// line-major order.
void ReorderShortBlocks(const GranuleInfo& g, const FrameContext& frame, float x[576]);

// Alias-reduction butterflies across subband boundaries; returns the number
// of subbands that may be nonzero afterwards. Before any reordering no line
// from nonzeroBound on was nonzero (576 when not known).
int ReduceAliasing(const GranuleInfo& g, const FrameContext& frame, float x[576], int nonzeroBound = 576);

// Per-channel state of the hybrid filter bank.
struct HybridState {
  float overlap[32][18] = {};
};

// Turns 576 spectral lines into 32 subbands x 18 time slots (out[sb][slot];
// the padding columns are left alone). Subbands from activeSubbands on only
// release their overlap. wide: use the AVX2 build (see wide_vectors.h); the
// output is the same either way.
void HybridFilterBank(const GranuleInfo& g, const FrameContext& frame, const float x[576],
                      int activeSubbands, HybridState& state, SubbandBlock& out,
                      bool wide = WideVectorsAvailable());

}  // namespace mp3dec
