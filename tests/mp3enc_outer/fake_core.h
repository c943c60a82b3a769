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
    const bool mpeg1 = s.sampleRate >= 32000;
    granules_ = options.granulesPerFrame != 0 ? options.granulesPerFrame : (mpeg1 ? 2 : 1);
    channels_ = s.inputChannels;
    // Bit-rate index: CBR from the setting, VBR a fixed middle index.
    static const int32_t kMpeg1[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int32_t kMpeg2[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    const int32_t* table = mpeg1 ? kMpeg1 : kMpeg2;
    int index = mpeg1 ? 9 : 8;
    for (int i = 1; i < 15 && s.bitRate != 0; ++i) {
      if (table[i] * 1000 == s.bitRate) index = i;
    }
    int version = 3, rateIndex = 0;  // header version bits: 3 MPEG-1, 2 MPEG-2, 0 ext.
    switch (s.sampleRate) {
      case 44100: version = 3; rateIndex = 0; break;
      case 48000: version = 3; rateIndex = 1; break;
      case 32000: version = 3; rateIndex = 2; break;
      case 22050: version = 2; rateIndex = 0; break;
      case 24000: version = 2; rateIndex = 1; break;
      case 16000: version = 2; rateIndex = 2; break;
      case 11025: version = 0; rateIndex = 0; break;
      case 12000: version = 0; rateIndex = 1; break;
      default: version = 0; rateIndex = 2; break;
    }
    const uint32_t mode = s.encodedChannels == 1 ? 3u : 1u;
    header_ = 0xFFE00000u | (uint32_t(version) << 19) | (1u << 17) | (1u << 16) |
              (uint32_t(index) << 12) | (uint32_t(rateIndex) << 10) | (mode << 6);
    frameBytes_ = (mpeg1 ? 144 : 72) * table[index] * 1000 / s.sampleRate;
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

  int FrameBytes() const { return frameBytes_; }

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
