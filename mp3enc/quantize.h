// Quantisation of one granule and channel: the inner loop (global gain for a
// bit budget), the outer loop (scale-factor amplification of the bands whose
// noise exceeds the allowed distortion, scalefac_scale, preflag, subblock
// gain), the noise-target search of variable-bit-rate coding, scale-factor
// compression (MPEG-1 and the MPEG-2 partitions) and the main data.
#pragma once

#include <algorithm>

#include "mp3enc/bitstream.h"
#include "mp3enc/granule_info.h"
#include "mp3enc/huffman_select.h"
#include "mp3enc/kernels.h"

namespace mp3enc {

inline constexpr int kMaxBands = 39;  // 13 short bands x 3 windows
// Amplification steps of the outer loop in constant-rate coding: longer
// searches measured worse at the usual rates, as they starve the bands that
// were within their limit.
inline constexpr int kAmplifySteps = 15;

// Scale-factor bands of a block in coding order: long blocks 22 bands,
// short blocks 13 bands x 3 windows (band major, window minor), matching the
// line order of the reordered spectrum.
struct BandLayout {
  int count = 0;
  int start[kMaxBands];
  int end[kMaxBands];
  int sfb[kMaxBands];
  int window[kMaxBands];
};

void MakeBandLayout(int rateIndex, bool shortBlock, BandLayout* layout);
// Window-major short spectrum xr[192 w + f] to scale-factor-band order.
void ReorderShort(int rateIndex, const float* in, float* out);

// Power tables shared by the quantisers of one encoder.
struct QuantTables {
  QuantTables();
  float pow43[kMaxQuantValue + 2];  // i^(4/3)
  float stepPow[512];               // 2^(s / 4) for s = index - 400
  float istepPow[512];              // 2^(-3 s / 16)
};

class Quantizer {
 public:
  Quantizer(const Kernels& kernels, const QuantTables& tables, MpegVersion version,
            int rateIndex);

  // Prepares a granule: xr in coding order, allowed distortion per band.
  void Load(const float* xr, int blockType, const float* xmin);
  // Outer loop within maxBits (part2_3 bits).
  void SearchForBits(int maxBits);
  // The outer loop within maxBits; when that leaves every band within its
  // allowed distortion, once more against the allowed distortions times
  // margin times the worst band's noise ratio, kept when its worst band
  // (against the allowed distortion) lies lower.
  void SearchForBitsShaped(int maxBits, float margin);
  // Amplification steps the outer loop of SearchForBits may take (default
  // kAmplifySteps).
  void SetAmplifySteps(int steps) { amplifySteps_ = steps; }
  // Variable-bit-rate search: the coarsest steps that keep every band's
  // noise within its allowed distortion times strictness; when that takes
  // more than maxBits, the outer loop within maxBits instead.
  void SearchForNoise(int maxBits, float strictness = 1.0f);
  // Re-runs the inner loop with the current scale factors for a new budget
  // (used to spend bits the reservoir cannot keep).
  void Respend(int maxBits);
  // Coarsens the current result, scale factors kept, until its covering
  // plan (big_values over all lines) takes at most maxBits: room for
  // covering a granule that must take stuffing. False when no global gain
  // gets there; the result is then as it was.
  bool Shrink(int maxBits);
  int Bits() const { return part2_ + huffmanBits_; }
  // Writes side information and main data of the current result; covering:
  // big_values over the whole granule (for a granule that takes stuffing).
  void Finish(GranuleInfo* info, bool covering = false);

 private:
  struct State {
    int globalGain;
    int scalefacScale;
    int preflag;
    int subblockGain[3];
    int sf[kMaxBands];
  };
  int StepExp(const State& s, int band) const;
  bool Quantize(const State& s);  // false when a value overflows
  // Quantize in two steps: each band's step exponent less the global gain,
  // then the values at a global gain.
  void PrepareSteps(const State& s);
  bool QuantizeAt(int globalGain);
  int CountHuffman(bool fullSearch);
  int ScalefactorBits(const State& s, int* compress) const;
  int SfLimit(int band) const;
  int MinGlobalGain(const State& s) const;
  int MinPreparedGain() const;
  // fromCurrent: walk from s's gain instead of bisecting. descend: also try
  // the gains below it; a caller that knows the gain below to be over the
  // budget (fewer or equal values were over a larger budget there) passes
  // false and saves the probe.
  int InnerLoop(State* s, int budget, bool fromCurrent, bool descend = true);
  // Noise over allowed distortion per band; returns the over-noise score.
  // A band's noise depends only on its step (its values follow from it):
  // the noise of the last few steps of each band is kept, and a band met
  // again at one of them is not measured again. consistent: ix_ holds the
  // values of s in every band (not so after an overflow), so the bands'
  // noise may be kept.
  double Distortion(const State& s, double* ratios, int* overCount, bool consistent);
  bool Amplify(State* s, const double* ratios);
  void ApplyPreflag(State* s) const;

  const Kernels& kernels_;
  MpegVersion version_;
  int rateIndex_;
  HuffmanCoder coder_;
  BandLayout layout_;
  RegionLayout regions_;
  int blockType_ = 0;
  bool short_ = false;
  bool silent_ = true;
  float xr_[576];
  float x34_[576];
  float xmin_[kMaxBands];
  float peak34_[kMaxBands];
  int minStep_[kMaxBands];  // per band, from peak34_ (see MinGlobalGain)
  int stepOffset_[kMaxBands] = {};  // see PrepareSteps
  int ix_[576];
  // Largest value of each band of ix_ after Quantize, and the bands' edges.
  int bandMax_[kMaxBands] = {};
  int bandEdge_[kMaxBands + 1] = {};
  BandMaxima maxima_;
  int keptIx_[576];  // the inner loop's best answer so far
  static constexpr int kNoiseWays = 4;
  static constexpr int kNoStep = -100000;
  // The step exponent each band of ix_ (and of keptIx_) was quantised at,
  // kNoStep when unknown: QuantizeAt leaves a band alone whose step has not
  // changed.
  int ixStep_[kMaxBands];
  int keptStep_[kMaxBands];
  // All values zero, at no known step.
  void ClearValues() {
    std::fill(ix_, ix_ + 576, 0);
    std::fill(ixStep_, ixStep_ + kMaxBands, kNoStep);
  }
  int noiseStep_[kMaxBands][kNoiseWays];  // step exponents, kNoStep when unused
  float noiseAt_[kMaxBands][kNoiseWays];
  int noiseNext_[kMaxBands];              // the way the next miss replaces
  // The answer of the last bisecting inner loop, where the next one starts
  // its search (the gains of neighbouring granules are close); -1 before
  // the first.
  int gainHint_ = -1;
  State state_{};
  HuffmanPlan plan_;
  int huffmanBits_ = 0;
  int amplifySteps_ = kAmplifySteps;
  int part2_ = 0;
  int compress_ = 0;
  const float* pow43_;
  const float* stepPow_;
  const float* istepPow_;
};

}  // namespace mp3enc
