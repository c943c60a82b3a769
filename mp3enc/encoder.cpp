#include "mp3enc/encoder.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

namespace mp3enc {
namespace {

// The core works on the scale of 16-bit PCM.
constexpr float kPcmScale = 32768.0f;
// Staged samples are kept within 6 dB above full scale; NaN becomes 0. The
// core then never sees values its arithmetic cannot carry.
constexpr float kSampleLimit = 2.0f * kPcmScale;
// The converter's specification: transition width relative to the
// bandwidth, and the stopband attenuation in dB.
constexpr float kTransitionFraction = 0.1f;
constexpr float kStopbandDb = 75.0f;
// The core's version this interface is written for.
constexpr uint32_t kExpectedCoreVersion = 0x630011;
// Calls without output after which a drain that never finishes is a fault.
constexpr int kMaxIdleDrainCalls = 1 << 16;

}  // namespace

int32_t Encoder::Configure(int32_t inputRate, int32_t bitRate, int32_t channels,
                           int32_t ratePolicy, int32_t qualityLevel) {
  const int32_t status =
      PlanEncoder(inputRate, bitRate, channels, ratePolicy, qualityLevel, &plan_);
  if (status != MP3SENC_OK) return status;
  channels_ = channels;
  inputRate_ = inputRate;

  const int32_t outputBlock = channels * 576 * plan_.granules;
  if (plan_.filtered) {
    filterSpec_.reset(new (std::nothrow) FilterSpec{
        plan_.bandwidth, plan_.bandwidth * kTransitionFraction, kStopbandDb});
    if (filterSpec_ == nullptr) return MP3SENC_OUT_OF_MEMORY;
  }
  if (Resampler::Create(filterSpec_.get(), inputRate, plan_.outputRate, channels,
                        outputBlock, &converter_) != ResamplerStatus::kOk) {
    return MP3SENC_INIT_FAILED;
  }
  if (inputRate != plan_.outputRate) {
    ratio_ = static_cast<float>(inputRate) / static_cast<float>(plan_.outputRate);
  }
  if (channels == 6) return MP3SENC_NO_MULTICHANNEL;
  if (kCoreVersion != kExpectedCoreVersion) return MP3SENC_INIT_FAILED;
  if (plan_.settings.vbr != 0) {
    frameIndex_.reset(new (std::nothrow) FrameIndex());
    if (frameIndex_ == nullptr) return MP3SENC_OUT_OF_MEMORY;
    frameIndex_->Reset();
  }
  return MP3SENC_OK;
}

int32_t Encoder::Prepare(const CoreFactory& factory, int32_t* blockSize) {
  core_ = factory(plan_.settings);
  if (core_ == nullptr) return MP3SENC_INVALID_PARAMETER;
  coreInfo_ = core_->Info();
  // An upsampled input has no content above its own half rate.
  core_->LimitCodedBand(0.5f * static_cast<float>(inputRate_));
  // The converter's output block holds whole frames of the core.
  if (coreInfo_.granulesPerFrame != plan_.granules) {
    core_.reset();
    return MP3SENC_INVALID_PARAMETER;
  }
  blockSize_ = converter_->InputBlock();
  staging_.assign(static_cast<size_t>(blockSize_), 0.0f);
  converted_.assign(static_cast<size_t>(converter_->OutputBlock()), 0.0f);
  info_.bandwidth = coreInfo_.bandwidth;
  info_.sampleRate = plan_.outputRate;
  info_.delay = converter_->Delay() + coreInfo_.delay;
  info_.inputChannels = plan_.settings.inputChannels;
  info_.encodedChannels = plan_.settings.encodedChannels;
  info_.outputBufferNeed = coreInfo_.outputBufferNeed;
  fill_ = 0;
  flushState_ = 0;
  finished_ = false;
  inputSamples_ = 0;
  takenSamples_ = 0;
  countOverflow_ = false;
  *blockSize = blockSize_;
  return MP3SENC_OK;
}

int32_t Encoder::AncillaryBytes() const {
  if (core_ != nullptr) return coreInfo_.ancillaryBits / 8;
  // Before the core exists: the room the core will compute.
  const Mp3sEncSettings& s = plan_.settings;
  int64_t bits = 64;
  if (s.ancillaryBitRate != 0 && s.sampleRate > 0) {
    bits = int64_t{s.ancillaryBitRate} * 576 * plan_.granules / s.sampleRate;
  }
  int64_t bytes = bits / 8;
  if (s.ancillaryMode == 1) bytes += 3;
  return static_cast<int32_t>(bytes);
}

int32_t Encoder::SetOption(int32_t option) {
  switch (option) {
    case 0:
      return MP3SENC_OK;
    case 1:
      countEnabled_ = true;
      coreFlag_ = true;
      return MP3SENC_OK;
    default:
      return MP3SENC_INVALID_HANDLE;
  }
}

void Encoder::TakeSamples(float* samples, int32_t count) {
  float* staged = staging_.data() + fill_;
  for (int32_t i = 0; i < count; ++i) {
    float v = samples[i] * kPcmScale;
    if (std::isnan(v)) v = 0.0f;
    v = std::clamp(v, -kSampleLimit, kSampleLimit);
    samples[i] = v;
    staged[i] = v;
  }
  fill_ += count;
  if (countEnabled_ && !countOverflow_) {
    // Counted in interleaved samples so that chunks splitting a frame do
    // not lose it; the count itself is in samples per channel.
    takenSamples_ += static_cast<uint64_t>(count);
    const uint64_t perChannel = takenSamples_ / static_cast<uint64_t>(channels_);
    if (perChannel > std::numeric_limits<uint32_t>::max()) {
      countOverflow_ = true;
    } else {
      inputSamples_ = static_cast<uint32_t>(perChannel);
    }
  }
}

Encoder::Step Encoder::EncodeBlock(uint8_t* out, size_t capacity, size_t* written) {
  converter_->Process(staging_.data(), converted_.data());
  const size_t granuleSamples = static_cast<size_t>(576 * channels_);
  for (int32_t g = 0; g < plan_.granules; ++g) {
    const size_t room = capacity - *written;
    size_t n = 0;
    const CoreAnswer answer = core_->EncodeGranule(
        converted_.data() + granuleSamples * static_cast<size_t>(g), out + *written, room, &n);
    if (answer != CoreAnswer::kMore || n > room) return Step::kFailed;
    *written += n;
  }
  return *written > 0 ? Step::kWrote : Step::kNothing;
}

Encoder::Step Encoder::Drain(uint8_t* out, size_t capacity, size_t* written) {
  if (finished_) return Step::kNothing;
  const size_t need = static_cast<size_t>(std::max(coreInfo_.outputBufferNeed, 0));
  for (int idle = 0; idle < kMaxIdleDrainCalls;) {
    const size_t room = capacity - *written;
    // What does not fit now is drained by the next call.
    if (*written > 0 && room < need) return Step::kWrote;
    size_t n = 0;
    const CoreAnswer answer = core_->EncodeGranule(nullptr, out + *written, room, &n);
    if (n > room) return Step::kFailed;
    *written += n;
    if (answer == CoreAnswer::kFinished) {
      finished_ = true;
      return *written > 0 ? Step::kWrote : Step::kNothing;
    }
    if (answer != CoreAnswer::kMore) return Step::kFailed;
    idle = n == 0 ? idle + 1 : 0;
  }
  return Step::kFailed;
}

int32_t Encoder::Encode(float* samples, int32_t* sampleCount, int32_t* nextBlock,
                        int32_t outCapacity, uint8_t* out, int32_t* outBytes) {
  if (sampleCount == nullptr || nextBlock == nullptr || outBytes == nullptr ||
      *sampleCount < 0 || outCapacity < 0 || (out == nullptr && outCapacity > 0) ||
      (samples == nullptr && *sampleCount > 0)) {
    return MP3SENC_INVALID_HANDLE;
  }
  *outBytes = 0;
  const size_t capacity = static_cast<size_t>(outCapacity);
  size_t written = 0;
  for (;;) {
    if (flushState_ < 0) {
      const Step step = Drain(out, capacity, &written);
      *outBytes = static_cast<int32_t>(written);
      if (step == Step::kFailed) return MP3SENC_INVALID_HANDLE;
      break;
    }
    if (*sampleCount == 0 && flushState_ == 0) {
      // Start of the flush: enough zero blocks to push the last input
      // through the converter and the core, counted from the start of the
      // current block, which is completed with zeros now.
      const double blocks = std::ceil(static_cast<double>(info_.delay) * ratio_ *
                                      channels_ / blockSize_);
      const int64_t state =
          static_cast<int64_t>(blocks) * blockSize_ - (blockSize_ - fill_);
      std::fill(staging_.begin() + fill_, staging_.end(), 0.0f);
      fill_ = 0;
      flushState_ = static_cast<int32_t>(
          std::clamp<int64_t>(state, 1, std::numeric_limits<int32_t>::max()));
      if (state <= 0) flushState_ = -1;
    } else if (flushState_ == 0) {
      const int32_t take = std::min(*sampleCount, blockSize_ - fill_);
      TakeSamples(samples, take);
      if (fill_ < blockSize_) {
        *sampleCount = 0;
        *nextBlock = blockSize_ - fill_;
        return MP3SENC_OK;
      }
      fill_ = 0;
      *sampleCount -= take;
    } else {
      std::fill(staging_.begin(), staging_.end(), 0.0f);
      flushState_ -= blockSize_;
      if (flushState_ == 0) flushState_ = -1;
    }
    const Step step = EncodeBlock(out, capacity, &written);
    *outBytes = static_cast<int32_t>(written);
    if (step == Step::kFailed) return MP3SENC_INVALID_HANDLE;
    if (written > 0 || flushState_ == 0) break;
  }
  if (frameIndex_ != nullptr) IndexFrames(frameIndex_.get(), out, written);
  *nextBlock = blockSize_;
  return MP3SENC_OK;
}

}  // namespace mp3enc
