#include "mp3enc/resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <numeric>

#include "mp3enc/resampler_design.h"

namespace mp3enc {
namespace {

// Safety margin added to the requested stopband attenuation: the Kaiser
// length formula is an estimate, and the passband ripple of a Kaiser design
// equals its stopband ripple.
constexpr double kAttenuationMarginDb = 6.0;
// Upper bound on the coefficients of the polyphase bank (phases x taps).
constexpr int64_t kMaxBankCoefficients = int64_t{1} << 23;
// Coefficients per phase are padded to this multiple for the dot product.
constexpr int32_t kLanes = 8;

int64_t Gcd(int64_t a, int64_t b) {
  // Euclid, larger by smaller.
  if (a < b) std::swap(a, b);
  while (b != 0) {
    const int64_t r = a % b;
    a = b;
    b = r;
  }
  return a;
}

int64_t FloorDiv(int64_t a, int64_t b) {  // b > 0
  int64_t q = a / b;
  if ((a % b) != 0 && a < 0) --q;
  return q;
}

}  // namespace

const char* ResamplerMessage(ResamplerStatus status) {
  switch (status) {
    case ResamplerStatus::kOk: return "";
    case ResamplerStatus::kInvalidRates: return "Invalid input frequencies !";
    case ResamplerStatus::kOutOfMemory: return "out of memory !";
    case ResamplerStatus::kInputBlockInconsistent: return "input block size inconsistent";
    case ResamplerStatus::kOutputBlockInconsistent: return "output block size inconsistent";
    case ResamplerStatus::kRatioTooLarge: return "sampling rate conversion ratio too large !";
    case ResamplerStatus::kFilterTooLong: return "Filter length too large !";
    case ResamplerStatus::kUnknownMode: return "Unknown mode !";
  }
  return "Unknown mode !";
}

Resampler::~Resampler() = default;

ResamplerStatus Resampler::Create(const FilterSpec* spec, int32_t inputRate,
                                  int32_t outputRate, int32_t channels,
                                  int32_t outputBlock,
                                  std::unique_ptr<Resampler>* out,
                                  ResamplerErrorHandler handler) {
  ResamplerStatus status = ResamplerStatus::kOutOfMemory;
  if (out != nullptr) out->reset();
  std::unique_ptr<Resampler> r(new (std::nothrow) Resampler());
  if (r != nullptr) {
    try {
      status = r->Build(spec, inputRate, outputRate, channels, outputBlock);
    } catch (const std::bad_alloc&) {
      status = ResamplerStatus::kOutOfMemory;
    }
  }
  if (status != ResamplerStatus::kOk) {
    if (handler.report != nullptr) {
      handler.report(handler.context, ResamplerMessage(status));
    }
    return status;
  }
  if (out == nullptr) return ResamplerStatus::kUnknownMode;
  *out = std::move(r);
  return ResamplerStatus::kOk;
}

ResamplerStatus Resampler::Build(const FilterSpec* spec, int32_t inputRate,
                                 int32_t outputRate, int32_t channels,
                                 int32_t outputBlock) {
  if (inputRate < 1 || outputRate < 1) return ResamplerStatus::kInvalidRates;
  if (channels < 1) return ResamplerStatus::kInputBlockInconsistent;
  if (outputBlock < channels || outputBlock % channels != 0) {
    return ResamplerStatus::kOutputBlockInconsistent;
  }
  channels_ = channels;
  outputBlock_ = outputBlock;
  outFrames_ = outputBlock / channels;
  const double inFrames =
      std::floor(static_cast<double>(outFrames_) *
                     (static_cast<double>(inputRate) / outputRate) + 0.5);
  if (!(inFrames >= 1.0) || inFrames * channels > INT32_MAX) {
    return ResamplerStatus::kInputBlockInconsistent;
  }
  inFrames_ = static_cast<int32_t>(inFrames);
  inputBlock_ = inFrames_ * channels;

  const int64_t g = Gcd(inputRate, outputRate);
  l_ = static_cast<int32_t>(outputRate / g);
  m_ = static_cast<int32_t>(inputRate / g);

  if (spec == nullptr) {
    if (inputRate != outputRate) return ResamplerStatus::kUnknownMode;
    variant_ = ResamplerVariant::kPassThrough;
    inputBlock_ = outputBlock_;
    inFrames_ = outFrames_;
    return ResamplerStatus::kOk;
  }
  variant_ = static_cast<int64_t>(inputRate) == 2 * static_cast<int64_t>(outputRate)
                 ? ResamplerVariant::kHalving
                 : ResamplerVariant::kRational;

  if (static_cast<int64_t>(l_) > int64_t{kMaxInterpolationRatio} * m_) {
    return ResamplerStatus::kRatioTooLarge;
  }
  if (!std::isfinite(spec->passbandEdge) || spec->passbandEdge <= 0) {
    return ResamplerStatus::kUnknownMode;
  }

  // Length of the low-pass, first as a support in input samples, then at the
  // interpolated rate (a whole multiple of the interpolation factor).
  const double attenuation =
      static_cast<double>(spec->stopbandAttenuation) + kAttenuationMarginDb;
  const int32_t support = KaiserSupport(attenuation, spec->transitionWidth,
                                        inputRate, kMaxFilterTaps);
  if (support == 0 || support > kMaxFilterTaps) {
    return ResamplerStatus::kFilterTooLong;
  }
  designFactor_ = l_;
  int64_t length = static_cast<int64_t>(support) * designFactor_;
  if (length > kMaxFilterTaps) {
    // Decimating: design once more at the largest interpolation factor that
    // fits. The phases below are evaluated from the same continuous
    // response, so the coarser design grid costs no accuracy.
    if (inputRate <= outputRate) return ResamplerStatus::kFilterTooLong;
    designFactor_ = kMaxFilterTaps / support;
    length = static_cast<int64_t>(support) * designFactor_;
    if (designFactor_ < 1 || length > kMaxFilterTaps) {
      return ResamplerStatus::kFilterTooLong;
    }
  }
  prototypeTaps_ = static_cast<int32_t>(length);
  tapsPerOutput_ = support;

  // The converter runs at the ratio of its fixed blocks, inFrames : outFrames
  // input to output frames; it equals the ratio of the rates whenever the
  // block sizes divide exactly, and differs by less than half an input frame
  // per block otherwise. phaseCount output instants per step of stepIn input
  // frames.
  const int64_t gb = Gcd(inFrames_, outFrames_);
  const int64_t phaseCount = outFrames_ / gb;  // L'
  const int64_t stepIn = inFrames_ / gb;       // M'
  stride_ = (support + kLanes - 1) / kLanes * kLanes;
  if (phaseCount * stride_ > kMaxBankCoefficients) {
    return ResamplerStatus::kFilterTooLong;
  }

  LowPassDesign design;
  design.cutoff =
      (static_cast<double>(spec->passbandEdge) + 0.5 * spec->transitionWidth) /
      inputRate;
  design.beta = KaiserBeta(attenuation);
  design.taps = support;
  phases_.assign(static_cast<size_t>(phaseCount * stride_), 0.0f);
  for (int64_t p = 0; p < phaseCount; ++p) {
    DesignPhase(design, static_cast<double>(p) / phaseCount,
                &phases_[static_cast<size_t>(p * stride_)]);
  }

  // Output n of a block is the band-limited input at (n - delay) * M'/L'
  // input frames after the block's first input frame. Its first tap lies
  // support/2 - 1 frames before the integer part of that instant. The delay
  // is the smallest that keeps every tap on input already received.
  const int64_t half = support / 2;
  auto lastTapOk = [&](int64_t d) {
    const int64_t q = (outFrames_ - 1 - d) * stepIn;
    return FloorDiv(q, phaseCount) + half <= inFrames_ - 1;
  };
  int64_t delay = std::max<int64_t>(0, (half + 1) * phaseCount / stepIn - 2);
  while (!lastTapOk(delay)) ++delay;
  while (delay > 0 && lastTapOk(delay - 1)) --delay;
  delay_ = static_cast<int32_t>(delay);

  const int64_t firstInstant = FloorDiv(-delay * stepIn, phaseCount);
  // History: everything from the first output's first tap to the newest
  // input frame, plus zero padding read by the padded dot products.
  const int64_t historyFrames = inFrames_ + half - 1 - firstInstant;
  historyFrames_ = static_cast<int32_t>(historyFrames);
  tapStart_.resize(static_cast<size_t>(outFrames_));
  tapPhase_.resize(static_cast<size_t>(outFrames_));
  for (int64_t n = 0; n < outFrames_; ++n) {
    const int64_t q = (n - delay) * stepIn;
    const int64_t i = FloorDiv(q, phaseCount);
    const int64_t phase = q - i * phaseCount;
    tapStart_[static_cast<size_t>(n)] =
        static_cast<int32_t>(i - half + 1 - inFrames_ + historyFrames);
    tapPhase_[static_cast<size_t>(n)] = static_cast<int32_t>(phase * stride_);
  }
  const size_t perChannel = static_cast<size_t>(historyFrames_ + stride_);
  history_.assign(perChannel * static_cast<size_t>(channels_), 0.0f);
  channelOut_.assign(static_cast<size_t>(outFrames_), 0.0f);
  return ResamplerStatus::kOk;
}

// The dot products dominate the converter's time. On x86-64 the loop is also
// compiled for AVX (8 lanes per instruction) and the loader picks the variant
// the processor supports. The lanes and the final sum keep the same order in
// every variant (no fused multiply-add: ISO C++ mode does not contract), so
// every machine computes the same samples.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KESTRUNE_DOT_CLONES __attribute__((target_clones("avx", "default")))
#else
#define KESTRUNE_DOT_CLONES
#endif

KESTRUNE_DOT_CLONES
void Resampler::FilterChannel(const float* history, float* out) const {
  const float* bank = phases_.data();
  const int32_t stride = stride_;
  for (int32_t n = 0; n < outFrames_; ++n) {
    const float* x = history + tapStart_[static_cast<size_t>(n)];
    const float* h = bank + tapPhase_[static_cast<size_t>(n)];
    float acc[kLanes] = {};
    for (int32_t j = 0; j < stride; j += kLanes) {
      for (int32_t k = 0; k < kLanes; ++k) acc[k] += h[j + k] * x[j + k];
    }
    out[n] = ((acc[0] + acc[4]) + (acc[1] + acc[5])) +
             ((acc[2] + acc[6]) + (acc[3] + acc[7]));
  }
}

void Resampler::Process(const float* in, float* out) {
  if (variant_ == ResamplerVariant::kPassThrough) {
    std::memmove(out, in, static_cast<size_t>(outputBlock_) * sizeof(float));
    return;
  }
  const size_t perChannel = static_cast<size_t>(historyFrames_ + stride_);
  const size_t keep = static_cast<size_t>(historyFrames_ - inFrames_);
  for (int32_t c = 0; c < channels_; ++c) {
    float* h = history_.data() + perChannel * static_cast<size_t>(c);
    std::memmove(h, h + inFrames_, keep * sizeof(float));
    float* fresh = h + keep;
    for (int32_t i = 0; i < inFrames_; ++i) {
      fresh[i] = in[static_cast<size_t>(i) * channels_ + c];
    }
    FilterChannel(h, channelOut_.data());
    for (int32_t n = 0; n < outFrames_; ++n) {
      out[static_cast<size_t>(n) * channels_ + c] = channelOut_[static_cast<size_t>(n)];
    }
  }
}

}  // namespace mp3enc
