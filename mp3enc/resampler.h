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
  // Filter stages: 1, or 2 for an interpolator whose single filter would
  // pass the length limit at L (a sharp one at a small integer factor, then
  // a wide one for the rest of the ratio).
  int32_t StageCount() const { return static_cast<int32_t>(stages_.size()); }
  // Interpolation factor a stage's prototype was designed at (its reduced
  // L, or a smaller factor when L would make a decimator's too long) and
  // its length at that rate.
  int32_t DesignFactor(int32_t stage = 0) const {
    return stage >= 0 && stage < StageCount() ? stages_[static_cast<size_t>(stage)].designFactor : 1;
  }
  int32_t PrototypeTaps(int32_t stage = 0) const {
    return stage >= 0 && stage < StageCount() ? stages_[static_cast<size_t>(stage)].prototypeTaps : 0;
  }
  // Span of input samples per channel that each output sample depends on.
  int32_t TapsPerOutput() const { return tapsPerOutput_; }

  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;
  ~Resampler();

 private:
  // One polyphase filter: inFrames input frames to outFrames output frames
  // per block, at the block ratio.
  struct Stage {
    int32_t inFrames = 0;
    int32_t outFrames = 0;
    int32_t delay = 0;  // output frames
    int32_t designFactor = 1;
    int32_t prototypeTaps = 0;
    int32_t support = 0;  // taps per output, input frames
    // Polyphase bank: phases of stride coefficients each (the taps padded
    // with zeros to a multiple of 8).
    int32_t stride = 0;
    std::vector<float> phases;
    // For each output frame of a block: where its taps start in the channel
    // history, and which phase it uses. The pattern repeats every block.
    std::vector<int32_t> tapStart;
    std::vector<int32_t> tapPhase;
    // Per channel: the last historyFrames input samples, oldest first.
    int32_t historyFrames = 0;
    std::vector<float> history;
    std::vector<float> channelOut;
  };
  // What a stage is to do: rates in Hz, band edges in Hz, and how many of
  // its input frames the stage's time origin lies behind the converter's
  // input (the delay of the stage before it).
  struct StagePlan {
    double inputRate = 0;
    double outputRate = 0;
    double passEdge = 0;
    double transition = 0;
    double attenuation = 0;
    int32_t inFrames = 0;
    int32_t outFrames = 0;
    int64_t lead = 0;
  };

  Resampler() = default;
  ResamplerStatus Build(const FilterSpec* spec, int32_t inputRate,
                        int32_t outputRate, int32_t channels,
                        int32_t outputBlock);
  // Support (input frames) and design factor of a plan's filter; false when
  // its prototype passes the length limit.
  static bool FitStage(const StagePlan& plan, int32_t* support, int32_t* designFactor);
  ResamplerStatus BuildStage(const StagePlan& plan, int32_t support, int32_t designFactor,
                             Stage* stage) const;
  void ProcessStage(Stage* stage, const float* in, float* out) const;

  int32_t channels_ = 0;
  int32_t inputBlock_ = 0;
  int32_t outputBlock_ = 0;
  int32_t inFrames_ = 0;
  int32_t outFrames_ = 0;
  int32_t delay_ = 0;
  int32_t l_ = 1;
  int32_t m_ = 1;
  int32_t tapsPerOutput_ = 0;
  ResamplerVariant variant_ = ResamplerVariant::kPassThrough;
  std::vector<Stage> stages_;
  std::vector<float> between_;  // interleaved output of the first of two stages
};

}  // namespace mp3enc
