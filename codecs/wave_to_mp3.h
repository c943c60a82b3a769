// WAVE to MP3: a 16-bit PCM WAVE file through the Layer III encoder into a
// bare sequence of MPEG audio frames.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/conversion.h"

namespace kestrune {

class WaveToMp3 : public Conversion {
 public:
  static constexpr int32_t kFloatBufferSamples = 8192;
  static constexpr int32_t kOutputBufferBytes = 8192;

  WaveToMp3() = default;
  ~WaveToMp3() override;

  // Setters return true only when the value changed.
  bool SetBitRate(int32_t kbps);         // constant bit rate, used while the level is 0
  bool SetQualityLevel(int32_t level);   // 0 constant bit rate, 1..5 variable
  bool SetRatePolicy(int32_t policy);    // output sample-rate selection mode

  int32_t GetBitRate() const { return bitRateKbps_; }
  int32_t GetQualityLevel() const { return qualityLevel_; }
  int32_t GetRatePolicy() const { return ratePolicy_; }
  // Whether the last run failed (input refused, output not created, encoder
  // refused the request or failed).
  bool Failed() const { return failed_.load(); }

 protected:
  void Run(ConversionJob& job) override;

 private:
  int32_t ratePolicy_ = 0;
  int32_t qualityLevel_ = 0;
  int32_t bitRateKbps_ = 128;
  std::atomic<bool> failed_{false};
};

}  // namespace kestrune
