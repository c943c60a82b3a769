// Rate control: the bit-rate index and padding of constant-bit-rate frames
// by error tracking, the bits each granule may spend from the reservoir by
// its perceptual entropy, and the frame's lower bound that keeps the
// reservoir within its limit.
#pragma once

#include <cstdint>

#include "mp3enc/bitstream.h"

namespace mp3enc {

struct FrameChoice {
  int index = 0;
  int padding = 0;
  int frameBits = 0;
};

// How far the reservoir lends to one granule: at most reservoirTenths tenths
// of its limit in all, and to each channel at most meanMultiple times the
// granule's mean bits beyond its share.
struct Lending {
  int reservoirTenths = 6;
  int meanMultiple = 1;
  // Tenths of the reservoir's current fill the granule may take (see
  // kFineSteadyTenths in the core).
  int fillTenths = 10;
};

class RateControl {
 public:
  // bitRate: nominal bits/s (CBR); paddingBehaviour: 0 never pads, 1 pads by
  // error tracking, 2 always pads.
  RateControl(const FrameFormatter& formatter, int bitRate, int paddingBehaviour);
  // CBR set-up: false when no index can frame the bit rate.
  [[nodiscard]] bool InitConstant();
  // The next CBR frame: index and padding by the accumulated error.
  FrameChoice NextConstantFrame();
  // Records a frame as written (for the error tracking).
  void Commit(int frameBits);

  // Per-granule budgets. mainBits: the frame's main-data slot; resvBits: the
  // reservoir fill in bits; resvMax: its limit in bits. pe: demand per
  // channel. midSide: the granule is coded as mid and side, whose bits are
  // split by demand. targets: budget per channel.
  // lending: how far the reservoir lends to a granule (see Lending).
  static void GranuleTargets(int meanBits, int resvBits, int resvMax, const float* pe,
                             int channels, bool midSide, int* targets,
                             const Lending& lending = Lending{});

 private:
  const FrameFormatter& formatter_;
  int bitRate_;
  int padding_;
  int baseIndex_ = 0;
  int64_t bitsWritten_ = 0;
  int64_t frames_ = 0;
};

// The tuning of one variable level (see VbrRateControl).
struct VbrTuning {
  // Floor of an audible granule's budget, as a share of its nominal bits.
  double floorFactor = 1.0;
  // dB added to every band's allowed distortion (negative: less noise).
  double noiseOffsetDb = 0.0;
  // A granule that meets a target this many dB below the level's for fewer
  // bits than its budget is coded to that stricter target instead.
  double strictDb = 0.0;
  // The most noise any band may carry against its energy (noise-like bands
  // included, which the model would otherwise let fill with noise).
  double bandNoiseCeiling = 1.0;
  // Share of the floor a quiet channel leaves unused that passes on to the
  // busy one of its granule.
  double inheritedShare = 1.0;
  // Bits per bit of perceptual entropy, against the rule for all levels.
  double peFactor = 1.0;
};

// Variable-bit-rate budgeting for one quality level (0..100).
//
// Each granule is coded to the level's noise-to-mask target: the allowed
// distortion of every band is lowered by the level's noise offset. The bits a granule
// may spend follow its perceptual entropy measured against that target (the
// estimate of what coding at the target costs), between a floor of the
// granule's nominal share times a factor of the level (audible granules
// only) that keeps very tonal granules, whose masking the model
// overestimates, clear of audible noise, and the largest part2_3_length.
// Over the stream, a bank of bits caps the average at the level's ceiling:
// noise-like material, whose entropy stays high, is held there instead of
// running up to the highest bit-rate index, while short demanding passages
// may borrow from the bank.
class VbrRateControl {
 public:
  // channels: coded channels; overheadBits: header and side information of
  // a frame; granules: per frame.
  VbrRateControl(int quality, int sampleRate, int channels, int granules, int overheadBits);

  // Nominal average of the level in bits/s (stereo 192, 160, 140, 128 and
  // 96 kbit/s at qualities 100, 80, 60, 50 and 40; mono half of that, but
  // 56 kbit/s at 40), interpolated in between.
  static double NominalBitRate(int quality, int channels);
  // The level's tuning, interpolated between the measured levels.
  static VbrTuning TuningFor(int quality);
  const VbrTuning& Tuning() const { return tuning_; }

  // Main-data bits the whole frame may spend (the bank's allowance).
  int FrameAllowance() const;
  // Budget of one granule and channel from its perceptual entropy, at
  // least floorBits.
  int GranuleBudget(float pe, int floorBits) const;
  int FloorBits() const { return floorBits_; }
  // Records a frame as written.
  void Commit(int frameBits);

 private:
  VbrTuning tuning_;
  double ceilingFrameBits_ = 0;  // frame bits at the ceiling rate
  double bankMax_ = 0;
  double bank_ = 0;
  int overheadBits_ = 0;
  int floorBits_ = 0;
  float peScale_ = 1.0f;
};

}  // namespace mp3enc
