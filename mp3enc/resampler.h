// Band-limiting rational sample-rate converter in front of the Layer III
// core. It takes a fixed number of interleaved input samples per call and
// returns a fixed number of output samples (whole granules), so that each
// call yields exactly what the core encodes next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace mp3enc {

// The low-pass specification, in the order the encoder hands it over.
struct FilterSpec {
  float passbandEdge;         // Hz: the coded bandwidth
  float transitionWidth;      // Hz: 0.1 x bandwidth
  float stopbandAttenuation;  // dB: 75
};

enum class ResamplerStatus : int32_t {
  kOk = 0,
  kInvalidRates = 1,
  kOutOfMemory = 2,
  kInputBlockInconsistent = 3,
  kOutputBlockInconsistent = 4,
  kRatioTooLarge = 5,
  kFilterTooLong = 6,
  kUnknownMode = 7,
};

// The text that goes to the error handler for each failing status.
const char* ResamplerMessage(ResamplerStatus status);

// Receives every creation failure's message; context is passed through.
struct ResamplerErrorHandler {
  void (*report)(void* context, const char* message) = nullptr;
  void* context = nullptr;
};

enum class ResamplerVariant : int32_t {
  kPassThrough = 0,  // equal rates, no filter
  kHalving = 1,      // input rate exactly twice the output rate (variant A)
  kRational = 2,     // every other pair, equal rates included (variant B)
};

// Longest prototype filter, in taps at the interpolated rate.
inline constexpr int32_t kMaxFilterTaps = 32768;
// Largest interpolation factor relative to the decimation factor.
inline constexpr int32_t kMaxInterpolationRatio = 256;

class Resampler {
 public:
  // Creates a converter for the given rates and output block (samples of
  // all channels, interleaved). spec == nullptr asks for pass-through, which
  // needs equal rates. On failure *out stays empty, the handler receives the
  // message and the status says why.
  static ResamplerStatus Create(const FilterSpec* spec, int32_t inputRate,
                                int32_t outputRate, int32_t channels,
                                int32_t outputBlock,
                                std::unique_ptr<Resampler>* out,
                                ResamplerErrorHandler handler = {});

  // Consumes InputBlock() samples from in and writes OutputBlock() samples to
  // out (both interleaved). The history carries over between calls.
  void Process(const float* in, float* out);

  int32_t InputBlock() const { return inputBlock_; }
  int32_t OutputBlock() const { return outputBlock_; }
  // Delay of the output against the input, in output samples per channel.
  int32_t Delay() const { return delay_; }
  ResamplerVariant Variant() const { return variant_; }
  // Reduced factors of the two rates (L = output / g, M = input / g).
  int32_t InterpolationFactor() const { return l_; }
  int32_t DecimationFactor() const { return m_; }
  // Interpolation factor the prototype was designed at (L, or the reduced
  // factor when L would make it too long) and its length at that rate.
  int32_t DesignFactor() const { return designFactor_; }
  int32_t PrototypeTaps() const { return prototypeTaps_; }
  // Input samples per channel that each output sample is computed from.
  int32_t TapsPerOutput() const { return tapsPerOutput_; }

  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;
  ~Resampler();

 private:
  Resampler() = default;
  ResamplerStatus Build(const FilterSpec* spec, int32_t inputRate,
                        int32_t outputRate, int32_t channels,
                        int32_t outputBlock);
  void FilterChannel(const float* history, float* out) const;

  int32_t channels_ = 0;
  int32_t inputBlock_ = 0;
  int32_t outputBlock_ = 0;
  int32_t inFrames_ = 0;
  int32_t outFrames_ = 0;
  int32_t delay_ = 0;
  int32_t l_ = 1;
  int32_t m_ = 1;
  int32_t designFactor_ = 1;
  int32_t prototypeTaps_ = 0;
  int32_t tapsPerOutput_ = 0;
  ResamplerVariant variant_ = ResamplerVariant::kPassThrough;

  // Polyphase bank: phaseCount_ phases of stride_ coefficients each (the
  // taps padded with zeros to a multiple of 8).
  int32_t stride_ = 0;
  std::vector<float> phases_;
  // For each output frame of a block: where its taps start in the channel
  // history, and which phase it uses. The pattern repeats every block.
  std::vector<int32_t> tapStart_;
  std::vector<int32_t> tapPhase_;
  // Per channel: the last historyFrames_ input samples, oldest first.
  int32_t historyFrames_ = 0;
  std::vector<float> history_;
  std::vector<float> channelOut_;
};

}  // namespace mp3enc
