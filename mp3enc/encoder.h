// The object behind an encoder handle: configuration, the converter in
// front of the core, staging of arbitrary-sized sample blocks into whole
// frames, the end-of-stream flush and drain, and the frame index.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "mp3enc/core.h"
#include "mp3enc/encoder_config.h"
#include "mp3enc/frame_index.h"
#include "mp3enc/mp3s_enc.h"
#include "mp3enc/resampler.h"
#include "mp3enc/settings.h"

namespace mp3enc {

using CoreFactory = std::function<std::unique_ptr<Core>(const Mp3sEncSettings&)>;

class Encoder {
 public:
  // Open's steps after allocation; returns an Mp3sEncStatus.
  int32_t Configure(int32_t inputRate, int32_t bitRate, int32_t channels,
                    int32_t ratePolicy, int32_t qualityLevel);
  // Creates the core through the factory; returns an Mp3sEncStatus.
  int32_t Prepare(const CoreFactory& factory, int32_t* blockSize);
  void GetInfo(Mp3sEncInfo* info) const { *info = info_; }
  int32_t AncillaryBytes() const;
  int32_t SetOption(int32_t option);
  int32_t Encode(float* samples, int32_t* sampleCount, int32_t* nextBlock,
                 int32_t outCapacity, uint8_t* out, int32_t* outBytes);

  bool Prepared() const { return core_ != nullptr; }
  const Mp3sEncSettings& Settings() const { return plan_.settings; }
  const EncoderPlan& Plan() const { return plan_; }
  const Resampler* Converter() const { return converter_.get(); }
  const FrameIndex* Index() const { return frameIndex_.get(); }
  float ResamplingRatio() const { return ratio_; }
  int32_t FlushState() const { return flushState_; }
  uint32_t InputSampleCount() const { return inputSamples_; }
  bool InputCountOverflow() const { return countOverflow_; }
  // The flag the count option sets for the core's frame calls; the core
  // interface has no use for it yet.
  bool CoreFlag() const { return coreFlag_; }

 private:
  enum class Step { kWrote, kNothing, kFailed };
  Step EncodeBlock(uint8_t* out, size_t capacity, size_t* written);
  Step Drain(uint8_t* out, size_t capacity, size_t* written);
  void TakeSamples(float* samples, int32_t count);

  EncoderPlan plan_;
  int32_t channels_ = 0;
  int32_t inputRate_ = 0;
  float ratio_ = 1.0f;
  std::unique_ptr<Resampler> converter_;
  std::unique_ptr<FilterSpec> filterSpec_;
  std::unique_ptr<Core> core_;
  CoreInfo coreInfo_;
  Mp3sEncInfo info_{};

  std::vector<float> staging_;
  std::vector<float> converted_;
  int32_t blockSize_ = 0;
  int32_t fill_ = 0;
  // 0: normal; > 0: zero samples still to feed; < 0: drain the core.
  int32_t flushState_ = 0;
  bool finished_ = false;

  bool countEnabled_ = false;
  bool countOverflow_ = false;
  bool coreFlag_ = false;
  uint32_t inputSamples_ = 0;
  uint64_t takenSamples_ = 0;

  std::unique_ptr<FrameIndex> frameIndex_;
};

}  // namespace mp3enc

// Prepare with a given core factory (the public Mp3sEncPrepare passes the
// real core). Same contract as Mp3sEncPrepare.
int32_t Mp3sEncPrepareWithCore(Mp3sEncHandle handle, int32_t* blockSize,
                               const mp3enc::CoreFactory& factory);

// The encoder object behind a valid handle, or nullptr.
const mp3enc::Encoder* Mp3sEncObjectOf(Mp3sEncHandle handle);
