// Rate control and bit-reservoir budgeting.
#include "mp3enc/reservoir.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace mp3enc {

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
                                 int channels, int* targets) {
  // Spend the reservoir when it is nearly full; otherwise lend a share of it
  // to the channels whose perceptual entropy asks for more than the mean.
  int tbits = meanBits;
  int forced = 0;
  if (resvBits > resvMax * 9 / 10) {
    forced = resvBits - resvMax * 9 / 10;
    tbits += forced;
  }
  int extra = std::max(0, std::min(resvBits, resvMax * 6 / 10) - forced);
  int add[2] = {0, 0};
  int total = 0;
  for (int ch = 0; ch < channels; ++ch) {
    targets[ch] = std::min(4095, tbits / channels);
    int a = static_cast<int>(pe[ch]) - targets[ch];
    a = std::clamp(a, 0, meanBits * 3 / 4);
    a = std::min(a, std::max(0, 4095 - targets[ch]));
    add[ch] = a;
    total += a;
  }
  if (total > extra && total > 0) {
    for (int ch = 0; ch < channels; ++ch) add[ch] = static_cast<int>(int64_t{extra} * add[ch] / total);
  }
  for (int ch = 0; ch < channels; ++ch) targets[ch] += add[ch];
}

float VbrNoiseOffset(int quality) {
  return -0.2f * static_cast<float>(std::clamp(quality, 0, 100));
}

}  // namespace mp3enc
