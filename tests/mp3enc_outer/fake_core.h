// A stand-in for the Layer III core, for testing the outer interface on its
// own: it records every granule it is given and answers with frames that
// carry real headers (for the settings' rate, bit rate and mode) after a
// fixed lag, like a core whose reservoir holds frames back.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "mp3enc/core.h"
#include "mp3enc/encoder.h"

namespace mp3enc::testing {

struct FakeCoreLog {
  std::vector<float> samples;  // every granule, interleaved, as received
  int granules = 0;
  int drainCalls = 0;
  int framesMade = 0;
  int framesReleased = 0;
};

struct FakeCoreOptions {
  int lagFrames = 2;            // frames held back until later granules
  int corruptFrame = -1;        // this frame's sync is broken
  int failAtGranule = -1;       // answer kFailed on this granule
  int granulesPerFrame = 0;     // 0: from the rate
  int32_t delay = 1201;
};

class FakeCore : public Core {
 public:
  FakeCore(const Mp3sEncSettings& s, FakeCoreOptions options, FakeCoreLog* log)
      : settings_(s), options_(options), log_(log) {
    // MPEG-1 only: the outer layer never hands this core another rate in
    // these tests. The bit-rate index is the setting's in CBR, 128 kbit/s
    // in VBR.
    granules_ = options.granulesPerFrame != 0 ? options.granulesPerFrame : 2;
    channels_ = s.inputChannels;
    static const int32_t kKbps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    int index = 9;
    for (int i = 1; i < 15; ++i) {
      if (kKbps[i] * 1000 == s.bitRate) index = i;
    }
    const uint32_t rateIndex = s.sampleRate == 48000 ? 1 : s.sampleRate == 32000 ? 2 : 0;
    const uint32_t mode = s.encodedChannels == 1 ? 3u : 1u;
    header_ = 0xFFFB0000u | (uint32_t(index) << 12) | (rateIndex << 10) | (mode << 6);
    frameBytes_ = 144 * kKbps[index] * 1000 / s.sampleRate;
  }

  CoreInfo Info() const override {
    CoreInfo info;
    info.bandwidth = settings_.bandwidth;
    info.delay = options_.delay;
    info.outputBufferNeed = 2 * frameBytes_;
    info.headerValue1 = static_cast<int32_t>(header_);
    info.headerValue2 = settings_.bitRate;
    info.granulesPerFrame = granules_;
    info.ancillaryBits = 64;
    return info;
  }

  CoreAnswer EncodeGranule(const float* samples, uint8_t* out, size_t capacity,
                           size_t* written) override {
    *written = 0;
    if (samples == nullptr) {
      ++log_->drainCalls;
      // Finish a partial frame, then release one queued frame per call.
      if (granuleInFrame_ != 0) {
        granuleInFrame_ = 0;
        ++log_->framesMade;
      }
      if (log_->framesReleased == log_->framesMade) return CoreAnswer::kFinished;
      return Release(out, capacity, written) ? CoreAnswer::kMore : CoreAnswer::kFailed;
    }
    if (log_->granules == options_.failAtGranule) return CoreAnswer::kFailed;
    log_->samples.insert(log_->samples.end(), samples, samples + 576 * channels_);
    ++log_->granules;
    if (++granuleInFrame_ == granules_) {
      granuleInFrame_ = 0;
      ++log_->framesMade;
      while (log_->framesMade - log_->framesReleased > options_.lagFrames) {
        if (!Release(out + *written, capacity - *written, written)) return CoreAnswer::kFailed;
      }
    }
    return CoreAnswer::kMore;
  }

 private:
  bool Release(uint8_t* out, size_t capacity, size_t* written) {
    if (capacity < static_cast<size_t>(frameBytes_)) return false;
    uint32_t h = header_;
    if (log_->framesReleased == options_.corruptFrame) h &= 0x00FFFFFFu;
    out[0] = uint8_t(h >> 24);
    out[1] = uint8_t(h >> 16);
    out[2] = uint8_t(h >> 8);
    out[3] = uint8_t(h);
    std::memset(out + 4, 0, static_cast<size_t>(frameBytes_ - 4));
    std::memcpy(out + 4, &log_->framesReleased, sizeof(int));
    ++log_->framesReleased;
    *written += static_cast<size_t>(frameBytes_);
    return true;
  }

  Mp3sEncSettings settings_;
  FakeCoreOptions options_;
  FakeCoreLog* log_;
  int granules_ = 2;
  int channels_ = 2;
  int granuleInFrame_ = 0;
  uint32_t header_ = 0;
  int frameBytes_ = 0;
};

inline CoreFactory FakeFactory(FakeCoreLog* log, FakeCoreOptions options = {}) {
  return [log, options](const Mp3sEncSettings& s) -> std::unique_ptr<Core> {
    return std::make_unique<FakeCore>(s, options, log);
  };
}

}  // namespace mp3enc::testing
