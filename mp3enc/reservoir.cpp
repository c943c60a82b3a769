// Rate control and bit-reservoir budgeting.
#include "mp3enc/reservoir.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace mp3enc {
namespace {

// Share of a granule's mean bits set aside for the reservoir while it is
// not nearly full (0.1 to 0.3 measured alike at 128 kbps; 0.2 best at the
// low rates).
constexpr double kBuildUpShare = 0.2;
// The least share of a mid/side granule's bits either channel gets (see
// GranuleTargets).
constexpr double kMinChannelShare = 0.2;

}  // namespace

RateControl::RateControl(const FrameFormatter& formatter, int bitRate, int paddingBehaviour)
    : formatter_(formatter), bitRate_(bitRate), padding_(paddingBehaviour) {}

bool RateControl::InitConstant() {
  const FrameFormat& f = formatter_.Format();
  const int64_t target =
      (static_cast<int64_t>(bitRate_) * 576 * f.granules / f.sampleRate) / 8 * 8;
  int index = formatter_.SearchIndex(static_cast<int>(target), padding_ != 0, false);
  if (index < 0) return false;
  if (formatter_.FrameBits(index) > target) --index;
  if (index < 1) return false;
  baseIndex_ = index;
  return true;
}

FrameChoice RateControl::NextConstantFrame() {
  const FrameFormat& f = formatter_.Format();
  const int64_t samples = 576LL * f.granules;
  // Error in units of 1/sampleRate bits: written*rate - frames*bitRate*samples.
  const int64_t allowed = (frames_ + 1) * static_cast<int64_t>(bitRate_) * samples;
  FrameChoice best;
  int64_t bestErr = INT64_MAX;
  auto weigh = [&](int index, int pad) {
    if (index < 1 || index > f.highestIndex) return;
    const int bits = formatter_.FrameBits(index) + 8 * pad;
    const int64_t err = std::llabs((bitsWritten_ + bits) * f.sampleRate - allowed);
    if (err < bestErr) {
      bestErr = err;
      best.index = index;
      best.padding = pad;
      best.frameBits = bits;
    }
  };
  if (padding_ != 2) weigh(baseIndex_, 0);
  if (padding_ != 0) weigh(baseIndex_, 1);
  if (padding_ != 2) weigh(baseIndex_ + 1, 0);
  return best;
}

void RateControl::Commit(int frameBits) {
  bitsWritten_ += frameBits;
  ++frames_;
}

void RateControl::GranuleTargets(int meanBits, int resvBits, int resvMax, const float* pe,
                                 int channels, bool midSide, int* targets,
                                 const Lending& lending) {
  // Spend the reservoir when it is nearly full; otherwise set a share of the
  // mean aside for it, and lend from it to the channels whose perceptual
  // entropy asks for more than the mean. Steady granules code nearly as well
  // on a little less than the mean, while attacks and dense spectra need
  // much more: without the build-up the reservoir stays nearly empty at the
  // moments it is wanted (measured on the quality set: +0.1 ODG at 128 kbps
  // stereo, +0.27 at 48 kbps mono). The build-up shrinks with a reservoir
  // that is small against the granule (the top rates, where the frame leaves
  // little room) and stops short of the spending threshold.
  int tbits = meanBits;
  int forced = 0;
  if (resvBits > resvMax * 9 / 10) {
    forced = resvBits - resvMax * 9 / 10;
    tbits += forced;
  } else {
    const double scale = std::min(1.0, resvMax / (2.0 * std::max(1, meanBits)));
    const int build = static_cast<int>(kBuildUpShare * meanBits * scale);
    tbits -= std::min(build, resvMax * 9 / 10 - resvBits);
  }
  const int lendable = resvMax * lending.reservoirTenths / 10;
  int extra =
      std::max(0, std::min(resvBits * lending.fillTenths / 10, lendable) - forced);
  int add[2] = {0, 0};
  int total = 0;
  for (int ch = 0; ch < channels; ++ch) {
    targets[ch] = std::min(4095, tbits / channels);
    int a = static_cast<int>(pe[ch]) - targets[ch];
    a = std::clamp(a, 0, meanBits * lending.meanMultiple);
    a = std::min(a, std::max(0, 4095 - targets[ch]));
    add[ch] = a;
    total += a;
  }
  if (total > extra && total > 0) {
    for (int ch = 0; ch < channels; ++ch) add[ch] = static_cast<int>(int64_t{extra} * add[ch] / total);
  }
  for (int ch = 0; ch < channels; ++ch) targets[ch] += add[ch];
  // The side channel of a mid/side granule mostly carries far less than the
  // mid, and the outer loop spends every bit it is given: with half the
  // granule's bits it refines noise already far below its allowed
  // distortion while the mid runs short. The granule's bits go to the two
  // channels by their demand instead, each keeping at least
  // kMinChannelShare. Measured on the quality set (PEAQ against LAME), every
  // constant stereo rate rose (48 kbps +0.11 ODG, 64 +0.18, 128 +0.04, 320
  // +0.02); a least share of 0.3 did a little better at 192 kbps and above
  // but worse below, and splitting left/right granules too measured alike.
  if (midSide && channels == 2 && pe[0] + pe[1] > 0.0f) {
    const int total = targets[0] + targets[1];
    const double share = std::clamp(static_cast<double>(pe[0]) / (pe[0] + pe[1]),
                                    kMinChannelShare, 1.0 - kMinChannelShare);
    targets[0] = std::min(4095, static_cast<int>(total * share));
    targets[1] = std::min(4095, total - targets[0]);
    targets[0] = std::min(4095, total - targets[1]);
  }
}

namespace {

// Ceiling of the stream's average, as a multiple of the nominal rate, and
// the seconds of excess at that rate the bank may lend.
constexpr double kVbrCeiling = 1.25;
constexpr double kVbrBankSeconds = 1.0;
// The tuning of each level, at qualities 40, 50, 60, 80 and 100 (levels 5
// to 1), interpolated in between. Each was chosen on the quality set, against
// LAME's -V setting of the nearest average rate (PEAQ), for the best grade
// at no higher rate:
// - floor: the masking model is optimistic on tonal and speech granules
//   (glockenspiel, sustained tones), whose entropy then asks for too little.
//   Granules with nothing above their allowed distortion, or that meet the
//   stricter target for fewer bits, are not held to it. The floors stay
//   at or below the ceiling, which would otherwise starve sustained dense
//   passages; level 1's sits at it (1.25 against 1.2: +0.012 on the set for
//   2 kbit/s; a lower noise target instead ran past the ceiling on noise);
// - noise offset: the level's noise-to-mask target (the higher levels
//   lower it further);
// - strict target: at level 2, 13 dB instead of 16 gives up little
//   (0.09 on pure tones, nothing on the rest) for 6 kbit/s less; the lower
//   levels need the 16 dB on pure tones;
// - band noise ceiling: noise-like bands filled with noise up to their own
//   energy are heard on noise and dense mixtures (0.25-0.3: +0.02 to +0.03
//   ODG for 2-4 kbit/s, the most bits buy anywhere); level 1 would run
//   past its ceiling on dense music with it;
// - inherited share: the full floor passed on in mono-in-stereo granules
//   buys little at levels 3 and 4 (45 kbit/s above LAME's rate on such an
//   item), a half to two thirds of it keeps most of the gain;
// - entropy factor: level 4 spends less per bit of entropy (its noise
//   ceiling and the coded transition band buy more than the bits it saves).
constexpr int kTunedAt[5] = {40, 50, 60, 80, 100};
constexpr VbrTuning kTuned[5] = {
    // floor, offset dB, strict dB, band ceiling, inherited, entropy factor
    {1.2, -2.4, 16.0, 0.25, 1.0, 1.0},
    {1.15, -3.0, 16.0, 0.25, 0.5, 0.85},
    {1.15, -3.0, 16.0, 0.25, 0.7, 1.0},
    {1.1, -3.7, 13.0, 0.3, 1.0, 1.0},
    {1.25, -6.0, 16.0, 1.0, 1.0, 1.0},
};
constexpr bool TuningIsSane() {
  for (const VbrTuning& t : kTuned) {
    if (t.floorFactor <= 0.0 || t.floorFactor > kVbrCeiling || t.noiseOffsetDb > 0.0 ||
        t.strictDb < 0.0 || t.bandNoiseCeiling <= 0.0 || t.bandNoiseCeiling > 1.0 ||
        t.inheritedShare < 0.0 || t.inheritedShare > 1.0 || t.peFactor <= 0.0) {
      return false;
    }
  }
  return true;
}
static_assert(TuningIsSane());

// Bits per bit of perceptual entropy at 80 kbit/s per channel: the entropy
// counts only the lines above the allowed distortion; scale factors and
// Huffman codes longer than the entropy bound cost the rest. Levels with a
// higher nominal rate spend more per bit of entropy, by the nominal rate to
// the power kVbrPeExponent (the rest of the spread between levels comes from
// their noise targets), times the level's entropy factor.
constexpr double kVbrPeScale = 1.6;
constexpr double kVbrPeExponent = 0.55;

}  // namespace

double VbrRateControl::NominalBitRate(int quality, int channels) {
  const double q = std::clamp(quality, 0, 100);
  const double stereo = q >= 80 ? 160.0 + (q - 80.0) * 1.6
                        : q >= 60 ? 140.0 + (q - 60.0)
                        : q >= 50 ? 128.0 + (q - 50.0) * 1.2
                        : q >= 40 ? 96.0 + (q - 40.0) * 3.2
                                  : 96.0 * (0.5 + q / 80.0);
  if (channels >= 2) return stereo * 1000.0;
  const double mono = q >= 50 ? stereo * 0.5
                      : q >= 40 ? 56.0 + (q - 40.0) * 0.8
                                : 56.0 * (0.5 + q / 80.0);
  return mono * 1000.0;
}

VbrTuning VbrRateControl::TuningFor(int quality) {
  const int q = std::clamp(quality, 0, 100);
  if (q <= kTunedAt[0]) return kTuned[0];
  int i = 0;
  while (kTunedAt[i + 1] < q) ++i;
  const double t = static_cast<double>(q - kTunedAt[i]) / (kTunedAt[i + 1] - kTunedAt[i]);
  const VbrTuning& a = kTuned[i];
  const VbrTuning& b = kTuned[i + 1];
  const auto mix = [t](double x, double y) { return x + t * (y - x); };
  VbrTuning r;
  r.floorFactor = mix(a.floorFactor, b.floorFactor);
  r.noiseOffsetDb = mix(a.noiseOffsetDb, b.noiseOffsetDb);
  r.strictDb = mix(a.strictDb, b.strictDb);
  r.bandNoiseCeiling = mix(a.bandNoiseCeiling, b.bandNoiseCeiling);
  r.inheritedShare = mix(a.inheritedShare, b.inheritedShare);
  r.peFactor = mix(a.peFactor, b.peFactor);
  return r;
}

VbrRateControl::VbrRateControl(int quality, int sampleRate, int channels, int granules,
                               int overheadBits)
    : tuning_(TuningFor(quality)), overheadBits_(overheadBits) {
  const double nominal = NominalBitRate(quality, channels);
  const double frameSamples = 576.0 * granules;
  const double nominalFrame = nominal * frameSamples / sampleRate;
  ceilingFrameBits_ = kVbrCeiling * nominalFrame;
  bankMax_ = kVbrBankSeconds * (kVbrCeiling - 1.0) * nominal;
  bank_ = bankMax_;
  const double granuleBits =
      (nominalFrame - overheadBits) / (static_cast<double>(granules) * channels);
  floorBits_ = static_cast<int>(std::max(0.0, tuning_.floorFactor * granuleBits));
  peScale_ = static_cast<float>(
      tuning_.peFactor * kVbrPeScale *
      std::pow(nominal / std::max(1, channels) / 80000.0, kVbrPeExponent));
}

int VbrRateControl::FrameAllowance() const {
  return std::max(0, static_cast<int>(ceilingFrameBits_ + bank_) - overheadBits_);
}

int VbrRateControl::GranuleBudget(float pe, int floorBits) const {
  const int demand = static_cast<int>(std::min(4095.0f, std::max(0.0f, pe) * peScale_));
  return std::clamp(demand, std::min(floorBits, 4095), 4095);
}

void VbrRateControl::Commit(int frameBits) {
  bank_ = std::clamp(bank_ + ceilingFrameBits_ - frameBits, 0.0, bankMax_);
}

}  // namespace mp3enc
