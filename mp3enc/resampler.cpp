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
// Largest integer factor of the first of two interpolating stages.
constexpr int32_t kMaxFirstStageFactor = 8;

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

  const double attenuation =
      static_cast<double>(spec->stopbandAttenuation) + kAttenuationMarginDb;
  StagePlan single;
  single.inputRate = inputRate;
  single.outputRate = outputRate;
  single.passEdge = spec->passbandEdge;
  single.transition = spec->transitionWidth;
  single.attenuation = attenuation;
  single.inFrames = inFrames_;
  single.outFrames = outFrames_;
  int32_t support = 0;
  int32_t factor = 0;
  if (FitStage(single, &support, &factor)) {
    stages_.resize(1);
    const ResamplerStatus st = BuildStage(single, support, factor, &stages_[0]);
    if (st != ResamplerStatus::kOk) return st;
    delay_ = stages_[0].delay;
    tapsPerOutput_ = support;
    return ResamplerStatus::kOk;
  }
  if (support == 0 || inputRate >= outputRate) return ResamplerStatus::kFilterTooLong;
  // An interpolator whose filter would pass the limit at L: the sharp
  // low-pass runs first at a small integer factor K (its images and
  // everything between the stopband edge S and K x input - S are then
  // gone), and a second filter with a wide transition, from S to
  // min(K x input, output) - S, does the rest of the ratio. The smallest K
  // for which both fit is taken.
  const double stopEdge = single.passEdge + single.transition;
  for (int32_t k = 2; k <= kMaxFirstStageFactor; ++k) {
    StagePlan first = single;
    first.outputRate = static_cast<double>(inputRate) * k;
    first.outFrames = inFrames_ * k;
    StagePlan second = single;
    second.inputRate = first.outputRate;
    second.inFrames = first.outFrames;
    second.passEdge = stopEdge;
    second.transition = std::min(second.inputRate, static_cast<double>(outputRate)) -
                        2.0 * stopEdge;
    if (!(second.transition >= single.transition)) continue;
    int32_t support1 = 0, factor1 = 0, support2 = 0, factor2 = 0;
    if (!FitStage(first, &support1, &factor1) || !FitStage(second, &support2, &factor2)) {
      continue;
    }
    stages_.resize(2);
    ResamplerStatus st = BuildStage(first, support1, factor1, &stages_[0]);
    if (st != ResamplerStatus::kOk) return st;
    second.lead = stages_[0].delay;
    st = BuildStage(second, support2, factor2, &stages_[1]);
    if (st != ResamplerStatus::kOk) return st;
    between_.assign(static_cast<size_t>(first.outFrames) * channels_, 0.0f);
    delay_ = stages_[1].delay;
    tapsPerOutput_ = support1 + (support2 + k - 1) / k + 1;
    return ResamplerStatus::kOk;
  }
  return ResamplerStatus::kFilterTooLong;
}

bool Resampler::FitStage(const StagePlan& plan, int32_t* support, int32_t* designFactor) {
  // Length of the low-pass, first as a support in input samples, then at the
  // interpolated rate (a whole multiple of the interpolation factor).
  *designFactor = 0;
  *support = KaiserSupport(plan.attenuation, plan.transition, plan.inputRate, kMaxFilterTaps);
  if (*support == 0 || *support > kMaxFilterTaps) {
    *support = 0;
    return false;
  }
  const int64_t in = std::llround(plan.inputRate);
  const int64_t out = std::llround(plan.outputRate);
  const int64_t l = out / Gcd(in, out);
  int64_t factor = l;
  int64_t length = static_cast<int64_t>(*support) * factor;
  if (length > kMaxFilterTaps) {
    // Decimating: design once more at the largest interpolation factor that
    // fits. The phases are evaluated from the same continuous response, so
    // the coarser design grid costs no accuracy.
    if (in <= out) return false;
    factor = kMaxFilterTaps / *support;
    length = static_cast<int64_t>(*support) * factor;
    if (factor < 1 || length > kMaxFilterTaps) return false;
  }
  *designFactor = static_cast<int32_t>(factor);
  return true;
}

ResamplerStatus Resampler::BuildStage(const StagePlan& plan, int32_t support,
                                      int32_t designFactor, Stage* st) const {
  st->inFrames = plan.inFrames;
  st->outFrames = plan.outFrames;
  st->designFactor = designFactor;
  st->prototypeTaps = support * designFactor;
  st->support = support;

  // The stage runs at the ratio of its fixed blocks, inFrames : outFrames
  // input to output frames; it equals the ratio of the rates whenever the
  // block sizes divide exactly, and differs by less than half an input frame
  // per block otherwise. phaseCount output instants per step of stepIn input
  // frames.
  const int64_t gb = Gcd(st->inFrames, st->outFrames);
  const int64_t phaseCount = st->outFrames / gb;  // L'
  const int64_t stepIn = st->inFrames / gb;       // M'
  st->stride = (support + kLanes - 1) / kLanes * kLanes;
  if (phaseCount * st->stride > kMaxBankCoefficients) {
    return ResamplerStatus::kFilterTooLong;
  }

  LowPassDesign design;
  design.cutoff = (plan.passEdge + 0.5 * plan.transition) / plan.inputRate;
  design.beta = KaiserBeta(plan.attenuation);
  design.taps = support;
  st->phases.assign(static_cast<size_t>(phaseCount * st->stride), 0.0f);
  for (int64_t p = 0; p < phaseCount; ++p) {
    DesignPhase(design, static_cast<double>(p) / phaseCount,
                &st->phases[static_cast<size_t>(p * st->stride)]);
  }

  // Output n of a block is the band-limited input at (n - delay) * M'/L' +
  // lead input frames after the block's first input frame. Its first tap
  // lies support/2 - 1 frames before the integer part of that instant. The
  // delay is the smallest that keeps every tap on input already received.
  const int64_t half = support / 2;
  const int64_t lead = plan.lead * phaseCount;  // in 1/L' input frames
  auto instant = [&](int64_t n, int64_t d) { return (n - d) * stepIn + lead; };
  auto lastTapOk = [&](int64_t d) {
    return FloorDiv(instant(st->outFrames - 1, d), phaseCount) + half <= st->inFrames - 1;
  };
  int64_t delay = std::max<int64_t>(0, (half + 1 + plan.lead) * phaseCount / stepIn - 2);
  while (!lastTapOk(delay)) ++delay;
  while (delay > 0 && lastTapOk(delay - 1)) --delay;
  if (delay > INT32_MAX / 2) return ResamplerStatus::kFilterTooLong;
  st->delay = static_cast<int32_t>(delay);

  const int64_t firstInstant = FloorDiv(instant(0, delay), phaseCount);
  // History: everything from the first output's first tap to the newest
  // input frame, plus zero padding read by the padded dot products.
  const int64_t historyFrames = st->inFrames + half - 1 - firstInstant;
  st->historyFrames = static_cast<int32_t>(historyFrames);
  st->tapStart.resize(static_cast<size_t>(st->outFrames));
  st->tapPhase.resize(static_cast<size_t>(st->outFrames));
  for (int64_t n = 0; n < st->outFrames; ++n) {
    const int64_t q = instant(n, delay);
    const int64_t i = FloorDiv(q, phaseCount);
    const int64_t phase = q - i * phaseCount;
    st->tapStart[static_cast<size_t>(n)] =
        static_cast<int32_t>(i - half + 1 - st->inFrames + historyFrames);
    st->tapPhase[static_cast<size_t>(n)] = static_cast<int32_t>(phase * st->stride);
  }
  const size_t perChannel = static_cast<size_t>(st->historyFrames + st->stride);
  st->history.assign(perChannel * static_cast<size_t>(channels_), 0.0f);
  st->channelOut.assign(static_cast<size_t>(st->outFrames), 0.0f);
  return ResamplerStatus::kOk;
}

// The dot products dominate the converter's time. On x86-64 the loop is also
// compiled for AVX (8 lanes per instruction) and the loader picks the variant
// the processor supports. The lanes and the final sum keep the same order in
// every variant (no fused multiply-add: ISO C++ mode does not contract), so
// every machine computes the same samples. Windows executables have no
// loader-resolved functions (ifunc), so there the plain loop is used.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
#define KESTRUNE_DOT_CLONES __attribute__((target_clones("avx", "default")))
#else
#define KESTRUNE_DOT_CLONES
#endif

namespace {

KESTRUNE_DOT_CLONES
void FilterChannel(const float* bank, int32_t stride, const int32_t* tapStart,
                   const int32_t* tapPhase, int32_t outFrames, const float* history,
                   float* out) {
  for (int32_t n = 0; n < outFrames; ++n) {
    const float* x = history + tapStart[n];
    const float* h = bank + tapPhase[n];
    float acc[kLanes] = {};
    for (int32_t j = 0; j < stride; j += kLanes) {
      for (int32_t k = 0; k < kLanes; ++k) acc[k] += h[j + k] * x[j + k];
    }
    out[n] = ((acc[0] + acc[4]) + (acc[1] + acc[5])) +
             ((acc[2] + acc[6]) + (acc[3] + acc[7]));
  }
}

}  // namespace

void Resampler::ProcessStage(Stage* st, const float* in, float* out) const {
  const size_t perChannel = static_cast<size_t>(st->historyFrames + st->stride);
  const size_t keep = static_cast<size_t>(st->historyFrames - st->inFrames);
  for (int32_t c = 0; c < channels_; ++c) {
    float* h = st->history.data() + perChannel * static_cast<size_t>(c);
    std::memmove(h, h + st->inFrames, keep * sizeof(float));
    float* fresh = h + keep;
    for (int32_t i = 0; i < st->inFrames; ++i) {
      fresh[i] = in[static_cast<size_t>(i) * channels_ + c];
    }
    FilterChannel(st->phases.data(), st->stride, st->tapStart.data(), st->tapPhase.data(),
                  st->outFrames, h, st->channelOut.data());
    for (int32_t n = 0; n < st->outFrames; ++n) {
      out[static_cast<size_t>(n) * channels_ + c] = st->channelOut[static_cast<size_t>(n)];
    }
  }
}

void Resampler::Process(const float* in, float* out) {
  if (variant_ == ResamplerVariant::kPassThrough) {
    std::memmove(out, in, static_cast<size_t>(outputBlock_) * sizeof(float));
    return;
  }
  if (stages_.size() == 1) {
    ProcessStage(&stages_[0], in, out);
    return;
  }
  ProcessStage(&stages_[0], in, between_.data());
  ProcessStage(&stages_[1], between_.data(), out);
}

}  // namespace mp3enc
