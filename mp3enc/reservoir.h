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
  // channel. targets: budget per channel; returns the granule's hard cap.
  static void GranuleTargets(int meanBits, int resvBits, int resvMax, const float* pe,
                             int channels, int* targets);

 private:
  const FrameFormatter& formatter_;
  int bitRate_;
  int padding_;
  int baseIndex_ = 0;
  int64_t bitsWritten_ = 0;
  int64_t frames_ = 0;
};

// Noise-target offset (dB added to the allowed distortion) for a VBR quality
// 0..100.
float VbrNoiseOffset(int quality);

}  // namespace mp3enc
