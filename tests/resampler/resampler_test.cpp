// Measures the converter's real filter: passband error, image and alias
// rejection on stepped sine sweeps, the reported delay and linear phase (the
// reference sines are placed with the delay; an error of one sample or a
// phase distortion breaks the -75 dB bound) and every creation message. The variants and block
// sizes of the converters the encoder builds are checked with its requests.
#include "mp3enc/resampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

namespace mp3enc {
namespace {

struct Capture {
  std::vector<std::string> messages;
  static void Report(void* context, const char* message) {
    static_cast<Capture*>(context)->messages.emplace_back(message);
  }
  ResamplerErrorHandler Handler() { return {&Capture::Report, this}; }
};

int32_t OutputBlockFor(int32_t outputRate, int32_t channels) {
  return channels * 576 * (outputRate >= 32000 ? 2 : 1);
}

FilterSpec SpecFor(float bandwidth) { return {bandwidth, bandwidth * 0.1f, 75.0f}; }

struct CreateCase {
  const FilterSpec* spec;
  int32_t in, out, channels, outputBlock;
  ResamplerStatus status;
  const char* message;
};

TEST(ResamplerCreation, EveryFailureReportsItsMessage) {
  const FilterSpec spec = SpecFor(4000.0f);
  const FilterSpec narrow = SpecFor(5000.0f);
  const FilterSpec needle{5000.0f, 2.0f, 75.0f};
  const FilterSpec zeroTransition{4000.0f, 0.0f, 75.0f};
  const CreateCase cases[] = {
      {&spec, 0, 44100, 2, 2304, ResamplerStatus::kInvalidRates, "Invalid input frequencies !"},
      {&spec, 44100, -1, 2, 2304, ResamplerStatus::kInvalidRates, "Invalid input frequencies !"},
      {nullptr, 0, 0, 2, 2304, ResamplerStatus::kInvalidRates, "Invalid input frequencies !"},
      {&spec, 44100, 48000, 0, 2304, ResamplerStatus::kInputBlockInconsistent,
       "input block size inconsistent"},
      {&spec, 44100, 48000, 2, 2305, ResamplerStatus::kOutputBlockInconsistent,
       "output block size inconsistent"},
      // 100 -> 30000 Hz: g = 100, L = 300 > 256 x M = 256.
      {&spec, 100, 30000, 1, 1152, ResamplerStatus::kRatioTooLarge,
       "sampling rate conversion ratio too large !"},
      // 11025 -> 48000 Hz: L = 640 would make one filter too long; the
      // sharp filter runs at twice the input rate instead.
      {&narrow, 11025, 48000, 2, 2304, ResamplerStatus::kOk, nullptr},
      // A 2 Hz transition: 28000 taps at the input rate, so even at twice
      // the input rate an interpolator's sharp filter passes the limit.
      {&needle, 11025, 48000, 2, 2304, ResamplerStatus::kFilterTooLong,
       "Filter length too large !"},
      // Equal rates without a specification: pass-through.
      {nullptr, 44100, 44100, 1, 1152, ResamplerStatus::kOk, nullptr},
      {nullptr, 44100, 48000, 1, 1152, ResamplerStatus::kUnknownMode, "Unknown mode !"},
      // No transition band: no finite filter.
      {&zeroTransition, 48000, 32000, 1, 1152, ResamplerStatus::kFilterTooLong,
       "Filter length too large !"},
  };
  for (const CreateCase& c : cases) {
    Capture capture;
    std::unique_ptr<Resampler> r;
    const ResamplerStatus status = Resampler::Create(
        c.spec, c.in, c.out, c.channels, c.outputBlock, &r, capture.Handler());
    SCOPED_TRACE(std::to_string(c.in) + " -> " + std::to_string(c.out));
    EXPECT_EQ(status, c.status);
    if (c.message == nullptr) {
      EXPECT_NE(r, nullptr);
      EXPECT_TRUE(capture.messages.empty());
    } else {
      EXPECT_EQ(r, nullptr);
      ASSERT_EQ(capture.messages.size(), 1u);
      EXPECT_EQ(capture.messages[0], c.message);
    }
  }
}

// One conversion case of the measurement below.
struct FilterCase {
  int32_t in;
  int32_t out;
  float bandwidth;
  int32_t channels;
};

struct Measurement {
  double worstPassbandErrorDb = -400;  // residual against the ideal, in band
  double worstRippleDb = 0;            // |gain| deviation, in band
  double worstStopbandDb = -400;       // output power for stopband inputs
  int passbandTones = 0;
  int stopbandTones = 0;
};

// Runs the converter on sines (channel c gets frequency f + c x step) and
// compares each output with the ideal sine placed by the reported delay.
void MeasureTones(const FilterCase& fc, const std::vector<double>& freqs,
                  bool stopband, Measurement* m) {
  const FilterSpec spec = SpecFor(fc.bandwidth);
  std::unique_ptr<Resampler> r;
  ASSERT_EQ(Resampler::Create(&spec, fc.in, fc.out, fc.channels,
                              OutputBlockFor(fc.out, fc.channels), &r),
            ResamplerStatus::kOk);
  const int32_t ch = fc.channels;
  const int32_t inFrames = r->InputBlock() / ch;
  const int32_t outFrames = r->OutputBlock() / ch;
  // Output frame n is the input at (n - delay) x inFrames / outFrames.
  const double ratio = static_cast<double>(inFrames) / outFrames;
  EXPECT_NEAR(ratio, static_cast<double>(fc.in) / fc.out,
              0.0005 * fc.in / fc.out);
  const int settle = 2 + (r->Delay() + r->TapsPerOutput()) / outFrames;
  const int blocks = settle + 8;
  std::vector<float> x(static_cast<size_t>(r->InputBlock()));
  std::vector<float> y(static_cast<size_t>(r->OutputBlock()));
  std::vector<double> err(ch), ref(ch), cross(ch), refPow(ch), outPow(ch);
  const double w = 2.0 * std::numbers::pi / fc.in;
  for (int b = 0; b < blocks; ++b) {
    for (int32_t i = 0; i < inFrames; ++i) {
      const double k = static_cast<double>(b) * inFrames + i;
      for (int32_t c = 0; c < ch; ++c) {
        x[static_cast<size_t>(i * ch + c)] =
            static_cast<float>(0.5 * std::sin(w * freqs[static_cast<size_t>(c)] * k));
      }
    }
    r->Process(x.data(), y.data());
    if (b < settle) continue;
    for (int32_t n = 0; n < outFrames; ++n) {
      const double t = (static_cast<double>(b) * outFrames + n - r->Delay()) * ratio;
      for (int32_t c = 0; c < ch; ++c) {
        const double out = y[static_cast<size_t>(n * ch + c)];
        const double ideal = 0.5 * std::sin(w * freqs[static_cast<size_t>(c)] * t);
        err[c] += (out - ideal) * (out - ideal);
        refPow[c] += ideal * ideal;
        cross[c] += out * ideal;
        outPow[c] += out * out;
      }
    }
  }
  for (int32_t c = 0; c < ch; ++c) {
    if (stopband) {
      // A full-scale-relative figure: output power against the input's.
      const double db = 10.0 * std::log10(outPow[c] / refPow[c] + 1e-40);
      m->worstStopbandDb = std::max(m->worstStopbandDb, db);
      ++m->stopbandTones;
    } else {
      const double db = 10.0 * std::log10(err[c] / refPow[c] + 1e-40);
      m->worstPassbandErrorDb = std::max(m->worstPassbandErrorDb, db);
      const double gainDb = 20.0 * std::log10(cross[c] / refPow[c]);
      m->worstRippleDb = std::max(m->worstRippleDb, std::fabs(gainDb));
      ++m->passbandTones;
    }
  }
}

class ResamplerFilter : public ::testing::TestWithParam<FilterCase> {};

TEST_P(ResamplerFilter, PassbandAndStopbandMeetTheSpecification) {
  const FilterCase fc = GetParam();
  const double bw = fc.bandwidth;
  const double stopEdge = 1.1 * bw;
  // In band: every tone up to the bandwidth whose image (upsampling) lies in
  // the stopband; a tone's image sits at in - f.
  const double passTop = std::min(bw, fc.in - stopEdge);
  Measurement m;
  // steps + 1 tones from lo to hi, as many at a time as there are channels.
  auto sweep = [&](double lo, double hi, bool stopband) {
    const int steps = 24;
    for (int i = 0; i <= steps; i += fc.channels) {
      std::vector<double> f;
      for (int32_t c = 0; c < fc.channels; ++c) f.push_back(lo + (hi - lo) * std::min(steps, i + c) / steps);
      MeasureTones(fc, f, stopband, &m);
    }
  };
  sweep(30.0, passTop, false);
  // Stopband: input tones between the stopband edge and the input's Nyquist
  // frequency (only a decimating converter has such inputs to remove).
  const double nyquist = 0.5 * fc.in;
  if (stopEdge < nyquist * 0.999) sweep(stopEdge, nyquist * 0.999, true);
  RecordProperty("passband_error_db", std::to_string(m.worstPassbandErrorDb));
  RecordProperty("ripple_db", std::to_string(m.worstRippleDb));
  RecordProperty("stopband_db", std::to_string(m.worstStopbandDb));
  // For an interpolator the images of the in-band tones are part of the
  // passband error; only a decimator has stopband inputs of its own.
  std::printf("%d -> %d Hz, bandwidth %.0f: passband error %.1f dB, ripple %.5f dB, "
              "stopband %.1f dB (%d/%d tones)\n",
              fc.in, fc.out, bw, m.worstPassbandErrorDb, m.worstRippleDb,
              m.worstStopbandDb, m.passbandTones, m.stopbandTones);
  EXPECT_GT(m.passbandTones, 10);
  EXPECT_LE(m.worstPassbandErrorDb, -75.0);
  EXPECT_LE(m.worstRippleDb, 0.002);
  EXPECT_LE(m.worstStopbandDb, -75.0);
  if (fc.in > fc.out) {
    EXPECT_GT(m.stopbandTones, 10);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Conversions, ResamplerFilter,
    ::testing::Values(FilterCase{44100, 48000, 15804.0f, 2},
                      FilterCase{48000, 44100, 15804.0f, 2},
                      FilterCase{22050, 44100, 11025.0f, 2},
                      FilterCase{96000, 48000, 20192.0f, 2},
                      FilterCase{8000, 32000, 4000.0f, 1},
                      // Interpolators that run in two stages (policy 1's
                      // choices: L = 441, 441, 80 and 441).
                      FilterCase{32000, 44100, 15804.0f, 2},
                      FilterCase{8000, 11025, 3850.0f, 2},
                      FilterCase{22050, 24000, 10348.0f, 2},
                      FilterCase{16000, 44100, 8000.0f, 1},
                      FilterCase{44100, 8000, 3266.0f, 1},
                      FilterCase{44100, 44100, 13458.0f, 1}),
    [](const ::testing::TestParamInfo<FilterCase>& info) {
      return std::to_string(info.param.in) + "_to_" + std::to_string(info.param.out);
    });

}  // namespace
}  // namespace mp3enc
