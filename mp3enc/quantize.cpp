// Quantisation loops of Layer III (ISO/IEC 11172-3, C.1.5.4).
#include "mp3enc/quantize.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "mp3enc/layer3_tables.h"

namespace mp3enc {
namespace {

constexpr int kStepOffset = 400;  // index of s = 0 in the step tables
constexpr int kMinStepExp = -127;  // minus the largest exponent index decoders tabulate

int BitsFor(int value) {
  int b = 0;
  while ((1 << b) <= value) ++b;
  return b;
}

}  // namespace

void MakeBandLayout(int rateIndex, bool shortBlock, BandLayout* layout) {
  const BandEdges& e = kBandEdges[rateIndex];
  BandLayout l;
  if (!shortBlock) {
    l.count = kLongBands;
    for (int b = 0; b < kLongBands; ++b) {
      l.start[b] = e.longEdge[b];
      l.end[b] = e.longEdge[b + 1];
      l.sfb[b] = b;
      l.window[b] = 0;
    }
  } else {
    l.count = kShortBands * 3;
    for (int sfb = 0; sfb < kShortBands; ++sfb) {
      const int width = e.shortEdge[sfb + 1] - e.shortEdge[sfb];
      for (int w = 0; w < 3; ++w) {
        const int b = sfb * 3 + w;
        l.start[b] = 3 * e.shortEdge[sfb] + w * width;
        l.end[b] = l.start[b] + width;
        l.sfb[b] = sfb;
        l.window[b] = w;
      }
    }
  }
  *layout = l;
}

void ReorderShort(int rateIndex, const float* in, float* out) {
  const BandEdges& e = kBandEdges[rateIndex];
  for (int sfb = 0; sfb < kShortBands; ++sfb) {
    const int lo = e.shortEdge[sfb];
    const int width = e.shortEdge[sfb + 1] - lo;
    for (int w = 0; w < 3; ++w) {
      std::memcpy(out + 3 * lo + w * width, in + 192 * w + lo, sizeof(float) * width);
    }
  }
}

QuantTables::QuantTables() {
  for (int i = 0; i < kMaxQuantValue + 2; ++i) {
    pow43[i] = static_cast<float>(std::pow(static_cast<double>(i), 4.0 / 3.0));
  }
  for (int i = 0; i < 512; ++i) {
    const double s = i - kStepOffset;
    stepPow[i] = static_cast<float>(std::pow(2.0, s / 4.0));
    istepPow[i] = static_cast<float>(std::pow(2.0, -3.0 * s / 16.0));
  }
}

Quantizer::Quantizer(const Kernels& kernels, const QuantTables& tables, MpegVersion version,
                     int rateIndex)
    : kernels_(kernels), version_(version), rateIndex_(rateIndex), coder_(kernels),
      pow43_(tables.pow43), stepPow_(tables.stepPow), istepPow_(tables.istepPow) {
  std::memset(xr_, 0, sizeof(xr_));
  ClearValues();
}

void Quantizer::Load(const float* xr, int blockType, const float* xmin) {
  blockType_ = blockType;
  short_ = blockType == kShortBlock;
  MakeBandLayout(rateIndex_, short_, &layout_);
  const BandEdges& e = kBandEdges[rateIndex_];
  regions_.longEdge = e.longEdge;
  regions_.switched = blockType != kNormalBlock;
  regions_.fixedRegion1Start = short_ ? 3 * e.shortEdge[3] : e.longEdge[8];
  std::memcpy(xr_, xr, sizeof(xr_));
  for (int b = 0; b < layout_.count; ++b) bandEdge_[b] = layout_.start[b];
  bandEdge_[layout_.count] = layout_.end[layout_.count - 1];
  maxima_.count = layout_.count;
  maxima_.edge = bandEdge_;
  maxima_.max = bandMax_;
  const float peak = kernels_.pow34(xr_, 576, x34_);
  silent_ = !(peak > 1e-12f);
  for (int b = 0; b < layout_.count; ++b) {
    float m = 0.0f;
    for (int i = layout_.start[b]; i < layout_.end[b]; ++i) m = std::max(m, x34_[i]);
    peak34_[b] = m;
    // Smallest step exponent that keeps the band's peak codable:
    // peak34 * 2^(-3 se / 16) + 0.4054 < 8207.
    minStep_[b] = m > 0.0f ? static_cast<int>(std::ceil(std::log2(m / 8206.0) * 16.0 / 3.0)) : 0;
    xmin_[b] = std::max(xmin[b], 1e-20f);
  }
  for (int b = 0; b < layout_.count; ++b) {
    std::fill(noiseStep_[b], noiseStep_[b] + kNoiseWays, kNoStep);
    noiseNext_[b] = 0;
  }
  state_ = State{};
  huffmanBits_ = 0;
  part2_ = 0;
  compress_ = 0;
  plan_ = HuffmanPlan{};
  ClearValues();
}

int Quantizer::StepExp(const State& s, int band) const {
  int v = s.globalGain - 210;
  if (short_) v -= 8 * s.subblockGain[layout_.window[band]];
  const int sfb = layout_.sfb[band];
  int amp = s.sf[band];
  if (!short_ && s.preflag) amp += kPretab[sfb];
  v -= 2 * (1 + s.scalefacScale) * amp;
  return v;
}

int Quantizer::SfLimit(int band) const {
  const int sfb = layout_.sfb[band];
  if (short_) {
    if (sfb >= 12) return 0;
    return sfb < 6 ? 15 : 7;
  }
  if (sfb >= 21) return 0;
  return sfb < 11 ? 15 : 7;
}

bool Quantizer::Quantize(const State& s) {
  PrepareSteps(s);
  return QuantizeAt(s.globalGain);
}

void Quantizer::PrepareSteps(const State& s) {
  for (int b = 0; b < layout_.count; ++b) stepOffset_[b] = StepExp(s, b) - s.globalGain;
}

bool Quantizer::QuantizeAt(int globalGain) {
  // Neighbouring bands with the same step are quantised in one run (the
  // kernel works line by line). On an overflow the bands before the
  // offending one are quantised, the rest left as they were.
  int runStart = 0;
  int runEnd = 0;
  float runStep = 0.0f;
  auto flush = [&] {
    if (runEnd > runStart) {
      kernels_.quantize(x34_ + runStart, runStep, runEnd - runStart, ix_ + runStart);
    }
  };
  for (int b = 0; b < layout_.count; ++b) {
    const int se = std::clamp(globalGain + stepOffset_[b], -kStepOffset, 511 - kStepOffset);
    const float istep = istepPow_[se + kStepOffset];
    // The kernel's value of the band's peak: the band's largest value.
    const float peak = peak34_[b] * istep + 0.4054f;
    const bool overflow = peak >= kMaxQuantValue + 1;
    bandMax_[b] = overflow ? 0 : static_cast<int>(peak);
    if (!overflow && ixStep_[b] == se) {
      // Already quantised at this step: ends the run.
      flush();
      runStart = runEnd = 0;
      continue;
    }
    if (overflow || istep != runStep || layout_.start[b] != runEnd) {
      flush();
      if (overflow) return false;
      runStart = layout_.start[b];
      runStep = istep;
    }
    ixStep_[b] = se;
    runEnd = layout_.end[b];
  }
  flush();
  return true;
}

int Quantizer::CountHuffman(bool fullSearch) {
  return coder_.Plan(ix_, regions_, fullSearch, &plan_);
}

int Quantizer::ScalefactorBits(const State& s, int* compress) const {
  if (version_ == MpegVersion::kMpeg1) {
    int m1 = 0;
    int m2 = 0;
    const int split = short_ ? 6 : 11;
    const int last = short_ ? 12 : 21;
    for (int b = 0; b < layout_.count; ++b) {
      const int sfb = layout_.sfb[b];
      if (sfb >= last) continue;
      if (sfb < split) {
        m1 = std::max(m1, s.sf[b]);
      } else {
        m2 = std::max(m2, s.sf[b]);
      }
    }
    const int n1 = short_ ? 18 : 11;
    const int n2 = short_ ? 18 : 10;
    int best = -1;
    int bestBits = 1 << 20;
    for (int c = 0; c < 16; ++c) {
      if ((1 << kSlen[c][0]) <= m1 || (1 << kSlen[c][1]) <= m2) continue;
      const int bits = n1 * kSlen[c][0] + n2 * kSlen[c][1];
      if (bits < bestBits) {
        bestBits = bits;
        best = c;
      }
    }
    if (best < 0) return -1;
    *compress = best;
    return bestBits;
  }
  // MPEG-2 partitions.
  const int table = s.preflag ? 2 : 0;
  const uint8_t* parts = kPartitionBands[table][short_ ? 1 : 0];
  int maxv[4] = {0, 0, 0, 0};
  int entry = 0;
  int part = 0;
  int left = parts[0];
  const int last = short_ ? 12 : 21;
  for (int b = 0; b < layout_.count && layout_.sfb[b] < last; ++b) {
    while (left == 0 && part < 3) left = parts[++part];
    maxv[part] = std::max(maxv[part], s.sf[b]);
    --left;
    ++entry;
  }
  int slen[4];
  for (int i = 0; i < 4; ++i) slen[i] = BitsFor(maxv[i]);
  int bits = 0;
  for (int i = 0; i < 4; ++i) bits += parts[i] * slen[i];
  if (table == 0) {
    if (slen[0] > 4 || slen[1] > 4 || slen[2] > 3 || slen[3] > 3) return -1;
    *compress = ((slen[0] * 5 + slen[1]) << 4) + (slen[2] << 2) + slen[3];
  } else {
    if (slen[0] > 3 || slen[1] > 2) return -1;
    *compress = 500 + slen[0] * 3 + slen[1];
  }
  return bits;
}

int Quantizer::MinGlobalGain(const State& s) const {
  // No band may overflow the largest Huffman value, and no coded band may
  // need a requantisation exponent index 210 - step above 127: decoders
  // that tabulate the 128 gains 2^(15 - i/4) silence such a band.
  int g = 0;
  for (int b = 0; b < layout_.count; ++b) {
    if (peak34_[b] <= 0.0f) continue;
    const int se0 = StepExp(s, b) - s.globalGain;
    g = std::max({g, minStep_[b] - se0, kMinStepExp - se0});
  }
  return std::clamp(g, 0, 255);
}

int Quantizer::MinPreparedGain() const {
  // MinGlobalGain of the state PrepareSteps was given: its offsets are the
  // step exponents less the global gain.
  int g = 0;
  for (int b = 0; b < layout_.count; ++b) {
    if (peak34_[b] <= 0.0f) continue;
    g = std::max(g, std::max(minStep_[b], kMinStepExp) - stepOffset_[b]);
  }
  return std::clamp(g, 0, 255);
}

int Quantizer::InnerLoop(State* s, int budget, bool fromCurrent, bool descend) {
  // Smallest global gain whose Huffman bits fit the budget. The values of
  // the best gain that fits so far are kept, so that the search never has to
  // quantise its answer twice.
  // A count above the budget only has to say so, and may stop early; the
  // two answers that can be over the budget are counted in full (exact).
  int keptGain = -1;
  int keptBits = 0;
  constexpr int kOverflow = 1 << 20;
  PrepareSteps(*s);  // only the global gain changes below
  auto bitsAt = [&](int g) {
    s->globalGain = g;
    if (!QuantizeAt(g)) return kOverflow;
    const int bits = coder_.Count(ix_, regions_, budget, &maxima_);
    if (bits <= budget) {
      keptGain = g;
      keptBits = bits;
      std::memcpy(keptIx_, ix_, sizeof(ix_));
      std::copy(ixStep_, ixStep_ + kMaxBands, keptStep_);
    }
    return bits;
  };
  auto exact = [&](int bits) {
    return bits > budget && bits != kOverflow ? CountHuffman(false) : bits;
  };
  auto answer = [&](int g, int bits) {
    if (keptGain == g && s->globalGain != g) {
      std::memcpy(ix_, keptIx_, sizeof(ix_));
      std::copy(keptStep_, keptStep_ + kMaxBands, ixStep_);
      s->globalGain = g;
      return keptBits;
    }
    if (s->globalGain != g) return bitsAt(g);
    return bits;
  };
  const int lo = MinPreparedGain();
  if (silent_) {
    s->globalGain = 0;
    ClearValues();
    return CountHuffman(false);
  }
  int g;
  if (fromCurrent) {
    g = std::max(lo, s->globalGain);
    int bits = bitsAt(g);
    if (bits > budget) {
      while (g < 255) {
        bits = bitsAt(++g);
        if (bits <= budget) break;
      }
      return exact(bits);
    }
    while (descend && g > lo) {
      const int b2 = bitsAt(g - 1);
      if (b2 > budget) break;
      --g;
      bits = b2;
    }
    return answer(g, bits);
  }
  // Bisection between a gain known to be over the budget (a; lo before it
  // is tried) and one known to fit (z; 255 is taken to). From the last
  // answer, the bracket is found by strides that double (most granules'
  // answers lie within a few steps of it); without one, from lo.
  int a = lo;
  int z = 255;
  int bitsZ = -1;
  const int hint = gainHint_;
  bool tryLo = true;
  if (hint > lo && hint < 255) {
    const int atHint = bitsAt(hint);
    int stride = 1;
    if (atHint <= budget) {
      z = hint;
      bitsZ = atHint;
      while (z - stride > lo) {
        const int b = bitsAt(z - stride);
        if (b > budget) {
          a = z - stride;
          tryLo = false;
          break;
        }
        z -= stride;
        bitsZ = b;
        stride *= 2;
      }
    } else {
      a = hint;
      tryLo = false;
      while (a + stride < 255) {
        const int b = bitsAt(a + stride);
        if (b <= budget) {
          z = a + stride;
          bitsZ = b;
          break;
        }
        a += stride;
        stride *= 2;
      }
    }
  }
  if (tryLo) {
    const int atLo = bitsAt(lo);
    if (atLo <= budget) {
      gainHint_ = lo;
      return atLo;
    }
  }
  while (z - a > 1) {
    const int mid = (a + z) / 2;
    const int b = bitsAt(mid);
    if (b <= budget) {
      z = mid;
      bitsZ = b;
    } else {
      a = mid;
    }
  }
  gainHint_ = z;
  if (bitsZ < 0) return exact(bitsAt(z));
  return answer(z, bitsZ);
}

double Quantizer::Distortion(const State& s, double* ratios, int* overCount, bool consistent) {
  // The sum of the over bands' ratios in dB is the log of their product:
  // one logarithm per call, the product kept in range by moving powers of
  // two into an exponent.
  float ratio[kMaxBands];
  for (int b = 0; b < layout_.count; ++b) {
    const int se = std::clamp(StepExp(s, b), -kStepOffset, 511 - kStepOffset);
    const int n = layout_.end[b] - layout_.start[b];
    // The ways that hold this step (at most one), found without a branch
    // per way.
    const int* steps = noiseStep_[b];
    static_assert(kNoiseWays == 4);
    const unsigned hit = static_cast<unsigned>(steps[0] == se) |
                         static_cast<unsigned>(steps[1] == se) << 1 |
                         static_cast<unsigned>(steps[2] == se) << 2 |
                         static_cast<unsigned>(steps[3] == se) << 3;
    if (hit != 0) {
      ratio[b] = noiseAt_[b][std::countr_zero(hit)];
    } else {
      const float noise = kernels_.noise(xr_ + layout_.start[b], ix_ + layout_.start[b], pow43_,
                                         stepPow_[se + kStepOffset], n);
      ratio[b] = noise;
      if (consistent) {
        const int w = noiseNext_[b];
        noiseStep_[b][w] = se;
        noiseAt_[b][w] = noise;
        noiseNext_[b] = (w + 1) % kNoiseWays;
      }
    }
  }
  // The divisions apart, where they run side by side.
  for (int b = 0; b < layout_.count; ++b) ratio[b] /= xmin_[b];
  double product = 1.0;
  int exponent = 0;
  int count = 0;
  for (int b = 0; b < layout_.count; ++b) {
    const double r = ratio[b];
    ratios[b] = r;
    // Without a branch on r: whether a band is over is as good as random.
    const bool over = r > 1.0;
    product *= over ? r : 1.0;
    count += over;
    if (product > 0x1p256) {
      int e = 0;
      product = std::frexp(product, &e);
      exponent += e;
    }
  }
  *overCount = count;
  if (count == 0) return 0.0;
  return 10.0 * (std::log10(product) + exponent * std::log10(2.0));
}

bool Quantizer::Amplify(State* s, const double* ratios) {
  // Amplify the worst band (and any tied with it) when it is over the limit:
  // one band per step lets the inner loop move the saved bits where they
  // are heard most, which measured better than amplifying every band within
  // a margin of the worst.
  double worst = 0.0;
  for (int b = 0; b < layout_.count; ++b) {
    if (SfLimit(b) > 0) worst = std::max(worst, ratios[b]);
  }
  const double trigger = worst > 1.0 ? worst * 0.999 : worst * 0.95;
  bool any = false;
  bool allAmplified = true;
  for (int b = 0; b < layout_.count; ++b) {
    if (SfLimit(b) == 0) continue;
    if (ratios[b] >= trigger && ratios[b] > 1.0) {
      ++s->sf[b];
      any = true;
    }
    if (s->sf[b] == 0) allAmplified = false;
  }
  if (!any || allAmplified) return false;
  bool overflow = false;
  for (int b = 0; b < layout_.count; ++b) {
    if (s->sf[b] > SfLimit(b)) overflow = true;
  }
  if (!overflow) return true;
  if (short_) {
    // Move a window's amplification into its subblock gain.
    for (int w = 0; w < 3; ++w) {
      bool wOver = false;
      for (int b = 0; b < layout_.count; ++b) {
        if (layout_.window[b] == w && s->sf[b] > SfLimit(b)) wOver = true;
      }
      if (!wOver) continue;
      if (s->subblockGain[w] >= 7) return false;
      ++s->subblockGain[w];
      const int delta = 4 / (1 + s->scalefacScale);
      for (int b = 0; b < layout_.count; ++b) {
        if (layout_.window[b] == w && SfLimit(b) > 0) s->sf[b] = std::max(0, s->sf[b] - delta);
      }
    }
  } else if (s->scalefacScale == 0) {
    s->scalefacScale = 1;
    for (int b = 0; b < layout_.count; ++b) s->sf[b] = (s->sf[b] + 1) / 2;
  } else {
    return false;
  }
  for (int b = 0; b < layout_.count; ++b) {
    if (s->sf[b] > SfLimit(b)) return false;
  }
  return true;
}

void Quantizer::ApplyPreflag(State* s) const {
  if (short_ || s->preflag) return;
  for (int sfb = 11; sfb < 21; ++sfb) {
    if (s->sf[sfb] < kPretab[sfb]) return;
  }
  State t = *s;
  t.preflag = 1;
  for (int sfb = 11; sfb < 21; ++sfb) t.sf[sfb] -= kPretab[sfb];
  int c1;
  int c2;
  const int before = ScalefactorBits(*s, &c1);
  const int after = ScalefactorBits(t, &c2);
  if (after >= 0 && (before < 0 || after < before)) *s = t;
}

void Quantizer::SearchForBits(int maxBits) {
  State s{};
  int compress = 0;
  part2_ = 0;
  huffmanBits_ = InnerLoop(&s, maxBits, false);
  if (silent_) {
    state_ = s;
    compress_ = 0;
    return;
  }
  double ratios[kMaxBands];
  int overCount = 0;
  double bestOver = Distortion(s, ratios, &overCount, huffmanBits_ <= maxBits);
  State best = s;
  int bestHuffman = huffmanBits_;
  int bestPart2 = 0;
  int bestCompress = 0;
  // A few amplification steps (see kAmplifySteps).
  // Each inner loop ends on a gain whose predecessor was over the budget
  // (or is the lowest allowed). Raising scale factors only adds to the
  // values, and part2 only takes from the budget: the predecessor stays
  // over, and the walk need not look below.
  int lastPart2 = 0;
  for (int iter = 0; iter < amplifySteps_ && overCount > 0; ++iter) {
    const int scaleBefore = s.scalefacScale;
    const int subblockBefore = s.subblockGain[0] + s.subblockGain[1] + s.subblockGain[2];
    if (!Amplify(&s, ratios)) break;
    const int part2 = ScalefactorBits(s, &compress);
    if (part2 < 0 || part2 >= maxBits) break;
    const bool onlyRaised = s.scalefacScale == scaleBefore &&
                            s.subblockGain[0] + s.subblockGain[1] + s.subblockGain[2] ==
                                subblockBefore;
    const int huff = InnerLoop(&s, maxBits - part2, true, !onlyRaised || part2 < lastPart2);
    lastPart2 = part2;
    if (huff + part2 > maxBits) break;
    const double over = Distortion(s, ratios, &overCount, true);
    if (over < bestOver) {
      bestOver = over;
      best = s;
      bestHuffman = huff;
      bestPart2 = part2;
      bestCompress = compress;
    }
  }
  const int preflagBefore = best.preflag;
  ApplyPreflag(&best);
  state_ = best;
  part2_ = ScalefactorBits(best, &compress_);
  if (part2_ < 0) {
    part2_ = bestPart2;
    compress_ = bestCompress;
  }
  if (best.preflag == preflagBefore && part2_ == bestPart2) {
    // The same scale factors and budget: an inner loop from the chosen gain
    // would find that gain again (the gain below it was over the budget, or
    // is the lowest allowed) and count the same bits.
    huffmanBits_ = bestHuffman;
  } else {
    // Final inner loop with the scale factors preflag has changed.
    huffmanBits_ = InnerLoop(&state_, maxBits - part2_, true);
  }
  if (part2_ + huffmanBits_ > maxBits) {
    // Scale factors that cannot fit: plain quantisation, or nothing at all.
    state_ = State{};
    part2_ = 0;
    compress_ = 0;
    huffmanBits_ = InnerLoop(&state_, maxBits, false);
    if (huffmanBits_ > maxBits) {
      silent_ = true;
      huffmanBits_ = 0;
    }
  }
}

void Quantizer::SearchForBitsShaped(int maxBits, float margin) {
  SearchForBits(maxBits);
  if (silent_) return;
  double ratios[kMaxBands];
  int over = 0;
  if (!Quantize(state_)) return;
  Distortion(state_, ratios, &over, true);
  const double worst = *std::max_element(ratios, ratios + layout_.count);
  if (over > 0 || worst <= 0.0) return;
  const State kept = state_;
  const int keptHuffman = huffmanBits_;
  const int keptPart2 = part2_;
  const int keptCompress = compress_;
  float saved[kMaxBands];
  std::memcpy(saved, xmin_, sizeof(saved));
  const float scale = static_cast<float>(worst) * margin;
  for (int b = 0; b < layout_.count; ++b) xmin_[b] = std::max(xmin_[b] * scale, 1e-20f);
  SearchForBits(maxBits);
  std::memcpy(xmin_, saved, sizeof(saved));
  bool better = !silent_ && Quantize(state_);
  if (better) {
    Distortion(state_, ratios, &over, true);
    better = *std::max_element(ratios, ratios + layout_.count) < worst;
  }
  if (!better) {
    silent_ = false;
    state_ = kept;
    huffmanBits_ = keptHuffman;
    part2_ = keptPart2;
    compress_ = keptCompress;
    Quantize(state_);
  }
}

void Quantizer::SearchForNoise(int maxBits, float strictness) {
  if (silent_) {
    SearchForBits(maxBits);
    return;
  }
  // Per band, the coarsest step whose noise stays within xmin.
  State s{};
  int bandStep[kMaxBands];
  int coarsest = -1000;
  int floorBits = 0;
  // Bands in the order of their rough demand (lines times the log of the
  // energy over the allowance), largest first: when the floor passes the
  // budget, which happens to most granules that cannot meet the target, it
  // passes it after fewer bands' walks. The outcome does not depend on the
  // order.
  double bandEnergy[kMaxBands];
  float demand[kMaxBands];
  int order[kMaxBands];
  for (int b = 0; b < layout_.count; ++b) {
    double energy = 0.0;
    for (int i = layout_.start[b]; i < layout_.end[b]; ++i) energy += xr_[i] * xr_[i];
    bandEnergy[b] = energy;
    const double allowed = xmin_[b] * strictness;
    demand[b] = energy > allowed && allowed > 0.0
                    ? static_cast<float>((layout_.end[b] - layout_.start[b]) *
                                         std::log2(energy / allowed))
                    : 0.0f;
    // Insertion in descending demand, ties in band order.
    int at = b;
    while (at > 0 && demand[order[at - 1]] < demand[b]) {
      order[at] = order[at - 1];
      --at;
    }
    order[at] = b;
  }
  for (int k = 0; k < layout_.count; ++k) {
    const int b = order[k];
    const int n = layout_.end[b] - layout_.start[b];
    const double energy = bandEnergy[b];
    const float allowed = xmin_[b] * strictness;
    if (peak34_[b] <= 0.0f || energy <= allowed) {
      bandStep[b] = 1000;  // the band may vanish at any step
      continue;
    }
    // Start from the step that puts the peak near 1 and walk down to the
    // first step whose noise is within the allowance. The walk strides four
    // steps (6 dB) at a time and goes back over the last stride once it
    // has passed the allowance; the largest value's limit ends it.
    int* q = ix_ + layout_.start[b];
    ixStep_[b] = kNoStep;  // the walk below quantises the band at several steps
    const auto overflows = [&](int step) {
      return peak34_[b] * istepPow_[step + kStepOffset] + 0.4054f >= kMaxQuantValue + 1;
    };
    const auto meets = [&](int step) {
      kernels_.quantize(x34_ + layout_.start[b], istepPow_[step + kStepOffset], n, q);
      return kernels_.noise(xr_ + layout_.start[b], q, pow43_, stepPow_[step + kStepOffset], n) <=
             allowed;
    };
    constexpr int kFinest = -kStepOffset + 1;
    constexpr int kStride = 4;
    int se = static_cast<int>(std::floor(std::log2(peak34_[b]) * 16.0 / 3.0)) + 4;
    se = std::clamp(se, kFinest, 511 - kStepOffset);
    int stop = kFinest;  // the single-step walk below ends here at the latest
    if (se > kFinest) {
      if (overflows(se)) {
        stop = ++se;
      } else if (meets(se)) {
        stop = se;
      } else {
        while (se - kStride > kFinest && !overflows(se - kStride)) {
          if (meets(se - kStride)) {
            stop = se - kStride;
            break;
          }
          se -= kStride;
        }
        --se;
      }
    }
    for (; se > stop; --se) {
      if (overflows(se)) {
        ++se;
        break;
      }
      if (meets(se)) break;
    }
    bandStep[b] = se;
    // Every band is coded at its step or a finer one: the pairs' least
    // bits at this step bound the granule's from below. Once the bound
    // passes the budget the target is out of reach, and the rest of the
    // walk would be wasted.
    kernels_.quantize(x34_ + layout_.start[b], istepPow_[se + kStepOffset], n, q);
    ixStep_[b] = se;
    floorBits += HuffmanLowerBound(q, n);
    if (floorBits > maxBits) {
      SearchForBits(maxBits);
      return;
    }
  }
  // Global gain from the coarsest band with a scale factor; bands finer than
  // it get amplified. Both scale-factor resolutions are tried, the cheaper
  // one is kept.
  for (int b = 0; b < layout_.count; ++b) {
    if (bandStep[b] < 1000) coarsest = std::max(coarsest, bandStep[b]);
  }
  if (coarsest == -1000) {
    // Every band may vanish: code nothing.
    state_ = State{};
    state_.globalGain = 255;
    if (Quantize(state_)) {
      part2_ = 0;
      compress_ = 0;
      huffmanBits_ = CountHuffman(false);
      if (huffmanBits_ <= maxBits) return;
    }
  }
  State bestState{};
  int bestBits = 1 << 30;
  int bestPart2 = 0;
  int bestCompress = 0;
  for (int sfs = 0; sfs < 2; ++sfs) {
    s = State{};
    s.scalefacScale = sfs;
    int g = coarsest;
    // Bands without scale factors must be at least as fine as the global step.
    for (int b = 0; b < layout_.count; ++b) {
      if (SfLimit(b) == 0 && bandStep[b] < 1000) g = std::min(g, bandStep[b]);
    }
    // The range of the scale factors limits how far below g a band may go.
    const int unit = 2 * (1 + sfs);
    for (int b = 0; b < layout_.count; ++b) {
      if (SfLimit(b) == 0 || bandStep[b] >= 1000) continue;
      g = std::min(g, bandStep[b] + unit * SfLimit(b));
    }
    for (int b = 0; b < layout_.count; ++b) {
      if (SfLimit(b) == 0 || bandStep[b] >= 1000) continue;
      const int diff = g - bandStep[b];
      s.sf[b] = std::min(diff > 0 ? (diff + unit - 1) / unit : 0, SfLimit(b));
    }
    s.globalGain = std::clamp(g + 210, 0, 255);
    s.globalGain = std::max(s.globalGain, MinGlobalGain(s));
    ApplyPreflag(&s);
    int compress = 0;
    const int part2 = ScalefactorBits(s, &compress);
    if (part2 < 0 || !Quantize(s)) continue;
    const int bits = part2 + CountHuffman(false);
    if (bits < bestBits) {
      bestBits = bits;
      bestState = s;
      bestPart2 = part2;
      bestCompress = compress;
    }
  }
  if (bestBits <= maxBits) {
    state_ = bestState;
    part2_ = bestPart2;
    compress_ = bestCompress;
    huffmanBits_ = bestBits - bestPart2;
    return;
  }
  SearchForBits(maxBits);
}

bool Quantizer::Shrink(int maxBits) {
  if (silent_) return false;
  // Raise the global gain a step at a time until the covering plan fits;
  // the scale factors stay.
  const State before = state_;
  for (int g = state_.globalGain + 1; g <= 255; ++g) {
    state_.globalGain = g;
    if (!Quantize(state_)) continue;
    HuffmanPlan plan;
    const int bits = coder_.PlanCovering(ix_, regions_, &plan);
    if (part2_ + bits <= maxBits) {
      huffmanBits_ = bits;
      return true;
    }
  }
  state_ = before;
  Quantize(state_);
  return false;
}

void Quantizer::Respend(int maxBits) {
  if (silent_) return;
  const int budget = maxBits - part2_;
  if (budget <= huffmanBits_) return;
  huffmanBits_ = InnerLoop(&state_, budget, false);
}

void Quantizer::Finish(GranuleInfo* info, bool covering) {
  // Requantise the chosen state and plan the Huffman coding in full.
  if (!silent_) {
    if (!Quantize(state_)) ClearValues();
  } else {
    ClearValues();
  }
  const int limitHuff = huffmanBits_;
  if (covering) {
    huffmanBits_ = coder_.PlanCovering(ix_, regions_, &plan_);
  } else {
    huffmanBits_ = coder_.Plan(ix_, regions_, !regions_.switched, &plan_);
  }
  (void)limitHuff;
  GranuleInfo& g = *info;
  g.blockType = blockType_;
  g.globalGain = state_.globalGain;
  g.scalefacScale = state_.scalefacScale;
  g.preflag = version_ == MpegVersion::kMpeg1 ? state_.preflag : 0;
  for (int w = 0; w < 3; ++w) g.subblockGain[w] = short_ ? state_.subblockGain[w] : 0;
  g.scalefacCompress = compress_;
  g.bigValues = plan_.bigValues;
  for (int r = 0; r < 3; ++r) g.tableSelect[r] = plan_.tableSelect[r];
  g.region0Count = plan_.region0Count;
  g.region1Count = plan_.region1Count;
  g.count1Table = plan_.count1Table;
  // Main data: scale factors, then Huffman codes.
  g.mainData.Reset();
  const int last = short_ ? 12 : 21;
  if (version_ == MpegVersion::kMpeg1) {
    const int split = short_ ? 6 : 11;
    for (int b = 0; b < layout_.count; ++b) {
      const int sfb = layout_.sfb[b];
      if (sfb >= last) continue;
      const int bits = kSlen[compress_][sfb < split ? 0 : 1];
      g.mainData.Put(static_cast<uint32_t>(state_.sf[b]), bits);
    }
  } else {
    const int table = state_.preflag ? 2 : 0;
    const uint8_t* parts = kPartitionBands[table][short_ ? 1 : 0];
    int slen[4];
    if (table == 0) {
      slen[0] = (compress_ >> 4) / 5;
      slen[1] = (compress_ >> 4) % 5;
      slen[2] = (compress_ & 15) >> 2;
      slen[3] = compress_ & 3;
    } else {
      slen[0] = (compress_ - 500) / 3;
      slen[1] = (compress_ - 500) % 3;
      slen[2] = 0;
      slen[3] = 0;
    }
    int part = 0;
    int left = parts[0];
    for (int b = 0; b < layout_.count && layout_.sfb[b] < last; ++b) {
      while (left == 0 && part < 3) left = parts[++part];
      g.mainData.Put(static_cast<uint32_t>(state_.sf[b]), slen[part]);
      --left;
    }
  }
  part2_ = g.mainData.BitCount();
  coder_.Write(ix_, xr_, plan_, &g.mainData);
  g.part2Length = part2_;
  g.part23Length = g.mainData.BitCount();
}

}  // namespace mp3enc
