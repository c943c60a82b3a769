// The core on synthesised signals: real delay, identical plain and vector
// streams, round-trip quality floors through mpg123, robustness and the
// drain protocol.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "tests/mp3enc_core/core_test_util.h"

namespace {

using coretest::Signal;
using namespace kestrune::testing;

Signal Make(int rate, int channels, double seconds, float (*f)(double t, int c, size_t i)) {
  Signal s;
  s.channels = channels;
  const size_t n = static_cast<size_t>(rate * seconds);
  for (size_t i = 0; i < n; ++i) {
    for (int c = 0; c < channels; ++c) s.samples.push_back(f(static_cast<double>(i) / rate, c, i));
  }
  return s;
}

float Noise(size_t i, int c) {
  uint32_t x = static_cast<uint32_t>(i * 2654435761u + c * 97u + 12345u);
  x ^= x >> 13;
  x *= 0x5bd1e995u;
  x ^= x >> 15;
  return static_cast<float>(static_cast<int32_t>(x)) / 2147483648.0f;
}

TEST(Mp3EncCoreSignal, DelayIsWhereThePipelinePutsIt) {
  kestrune::testing::TempDir dir;
  struct Case {
    int rate, channels, bitRate;
  } cases[] = {{44100, 2, 128000}, {22050, 1, 64000}, {8000, 1, 32000}, {48000, 2, 320000}};
  for (const Case& c : cases) {
    Signal s;
    s.channels = c.channels;
    s.samples.assign(static_cast<size_t>(c.rate) * c.channels, 0.0f);
    const size_t at = 3000;
    for (int ch = 0; ch < c.channels; ++ch) s.samples[at * c.channels + ch] = 24000.0f;
    std::vector<uint8_t> mp3;
    auto settings = coretest::Settings(c.rate, c.channels, c.bitRate);
    settings.bandwidth = c.rate / 2.0f;
    ASSERT_TRUE(coretest::Encode(settings, s, true, &mp3));
    EXPECT_EQ(mp3enc::CreateCore(settings, true)->Info().delay, 1201);
    const std::string path = dir / "impulse.mp3";
    WriteBytes(path, mp3);
    const auto dec = DecodeWithReferences(path).mpg123;
    size_t peak = 0;
    for (size_t i = 0; i < dec.size(); i += c.channels) {
      if (std::abs(dec[i]) > std::abs(dec[peak])) peak = i;
    }
    EXPECT_EQ(peak / c.channels, at + 1201) << c.rate;
    EXPECT_GT(std::abs(dec[peak]), 8000) << c.rate;
  }
}

TEST(Mp3EncCoreSignal, PlainAndVectorPathsGiveIdenticalStreams) {
  const Signal mix = Make(44100, 2, 3.0, [](double t, int c, size_t i) {
    const double burst = std::fmod(t, 0.37) < 0.01 ? 20000.0 * Noise(i, c) : 0.0;
    return static_cast<float>(9000.0 * std::sin(2 * M_PI * (300 + 200 * c) * t) +
                              2000.0 * Noise(i, c) + burst);
  });
  const Signal mono = Make(22050, 1, 2.0, [](double t, int, size_t i) {
    return static_cast<float>(12000.0 * std::sin(2 * M_PI * 1000 * t * t) + 500.0 * Noise(i, 0));
  });
  struct Case {
    Mp3sEncSettings s;
    const Signal* sig;
  } cases[] = {{coretest::Settings(44100, 2, 128000), &mix},
               {coretest::Settings(44100, 2, 0, 80), &mix},
               {coretest::Settings(22050, 1, 40000), &mono},
               {coretest::Settings(22050, 1, 0, 40), &mono}};
  for (const Case& c : cases) {
    std::vector<uint8_t> plain;
    std::vector<uint8_t> vector;
    ASSERT_TRUE(coretest::Encode(c.s, *c.sig, false, &plain));
    ASSERT_TRUE(coretest::Encode(c.s, *c.sig, true, &vector));
    ASSERT_GT(plain.size(), 1000u);
    EXPECT_TRUE(plain == vector) << c.s.sampleRate << " vbr " << c.s.vbr;
  }
}

struct QualityCase {
  const char* name;
  Signal sig;
  double minSnr;  // of every channel in both decodings; below 0: silence, every sample 0
  int rate = 44100, bitRate = 128000;
};

// Signals through mpg123 and our decoder: SNR floors of the decodings (the
// decoder's 1201 samples of delay taken off), silence that stays silent,
// and a full-scale square wave whose stream stays valid (the band limit's
// overshoot clips in 16-bit output).
TEST(Mp3EncCoreSignal, RoundTripQualityFloors) {
  kestrune::testing::TempDir dir;
  std::vector<QualityCase> cases;
  cases.push_back({"tone", Make(44100, 2, 2.0, [](double t, int c, size_t) {
                     return static_cast<float>(16000.0 * std::sin(2 * M_PI * (1000 + 500 * c) * t));
                   }), 40.0});
  cases.push_back({"sweep", Make(44100, 2, 3.0, [](double t, int, size_t) {
                      return static_cast<float>(12000.0 * std::sin(2 * M_PI * (20 * t + 1000 * t * t)));
                    }), 20.0});
  // White noise loses the 20 % of its power above the coded band (the 16 kHz
  // bandwidth and the tenth above it).
  cases.push_back({"noise", Make(44100, 2, 2.0, [](double, int c, size_t i) {
                     return 6000.0f * Noise(i, c);
                   }), 3.5});
  cases.push_back({"transients", Make(44100, 2, 3.0, [](double t, int c, size_t i) {
                     const double ph = std::fmod(t, 0.25);
                     return static_cast<float>(ph < 0.02 ? 20000.0 * std::exp(-ph / 0.002) * Noise(i, c) : 0.0) +
                            static_cast<float>(300.0 * std::sin(2 * M_PI * 220 * t));
                   }), 4.0});
  cases.push_back({"square", Make(44100, 2, 2.0, [](double t, int, size_t) {
                     return std::sin(2 * M_PI * 441 * t) >= 0 ? 22000.0f : -22000.0f;
                   }), 15.0});
  cases.push_back({"dc", Make(44100, 2, 2.0, [](double t, int, size_t) {
                     return static_cast<float>(8000.0 + 4000.0 * std::sin(2 * M_PI * 440 * t));
                   }), 30.0});
  cases.push_back({"silence", Make(48000, 2, 2.0, [](double, int, size_t) { return 0.0f; }), -1.0, 48000,
                   192000});
  cases.push_back({"full-scale square", Make(44100, 1, 2.0, [](double t, int, size_t) {
                     return std::sin(2 * M_PI * 100 * t) >= 0 ? 32767.0f : -32768.0f;
                   }), 10.0, 44100, 64000});
  for (const QualityCase& q : cases) {
    SCOPED_TRACE(q.name);
    const int channels = q.sig.channels;
    std::vector<uint8_t> mp3;
    auto settings = coretest::Settings(q.rate, channels, q.bitRate);
    settings.bandwidth = 16000.0f;
    ASSERT_TRUE(coretest::Encode(settings, q.sig, true, &mp3));
    const std::string path = dir / (std::string(q.name) + ".mp3");
    WriteBytes(path, mp3);
    const ReferenceDecodings references = DecodeWithReferences(path);
    EXPECT_EQ(references.complaints, "");
    const DecodeRun own = DecodeStream(mp3);
    EXPECT_TRUE(own.Clean());
    for (const std::vector<int16_t>* dec : {&references.mpg123, &own.pcm}) {
      ASSERT_FALSE(dec->empty());
      if (q.minSnr < 0) {
        EXPECT_EQ(*std::max_element(dec->begin(), dec->end()), 0);
        EXPECT_EQ(*std::min_element(dec->begin(), dec->end()), 0);
      }
      for (int c = 0; c < channels && q.minSnr >= 0; ++c) {
        EXPECT_GT(coretest::Snr(q.sig, *dec, channels, c, 1201), q.minSnr)
            << (dec == &own.pcm ? "own, " : "mpg123, ") << "channel " << c;
      }
    }
  }
}

TEST(Mp3EncCoreSignal, HostileSamplesStillGiveValidStreams) {
  kestrune::testing::TempDir dir;
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float values[] = {nan, inf, -inf, 1e30f, -1e30f, 1e-40f, 32767.0f, -32768.0f, 0.0f};
  Signal s;
  s.channels = 2;
  for (int i = 0; i < 44100 * 2; ++i) {
    s.samples.push_back(values[(i * 7) % 9]);
    s.samples.push_back(30000.0f * Noise(static_cast<size_t>(i), 1));
  }
  for (int q : {-1, 100}) {
    std::vector<uint8_t> mp3;
    ASSERT_TRUE(coretest::Encode(coretest::Settings(44100, 2, 128000, q), s, true, &mp3));
    WriteBytes(dir / "hostile.mp3", mp3);
    EXPECT_EQ(DecoderComplaints(dir / "hostile.mp3"), "");
  }
}

TEST(Mp3EncCoreSignal, RefusedSettings) {
  auto refused = [](Mp3sEncSettings s) { return mp3enc::CreateCore(s, true) == nullptr; };
  EXPECT_FALSE(refused(coretest::Settings(44100, 2, 128000)));
  EXPECT_TRUE(refused(coretest::Settings(44000, 2, 128000)));
  EXPECT_TRUE(refused(coretest::Settings(8000, 1, 80000)));   // above 64k at 8 kHz
  EXPECT_TRUE(refused(coretest::Settings(44100, 2, 330000)));
  EXPECT_TRUE(refused(coretest::Settings(44100, 2, 24000)));
  EXPECT_TRUE(refused(coretest::Settings(22050, 2, 8000)));   // 4000 per channel
  EXPECT_TRUE(refused(coretest::Settings(22050, 1, 192000)));
  auto s = coretest::Settings(44100, 2, 128000);
  s.encodedChannels = 3;
  EXPECT_TRUE(refused(s));
  s = coretest::Settings(44100, 1, 128000);
  s.encodedChannels = 2;
  EXPECT_TRUE(refused(s));
  s = coretest::Settings(44100, 2, 128000);
  s.dualChannel = 1;  // with joint stereo forced
  EXPECT_TRUE(refused(s));
  s = coretest::Settings(44100, 2, 128000);
  s.secondBitRate = 128000;  // without its flag
  EXPECT_TRUE(refused(s));
  s = coretest::Settings(44100, 2, 0, 101);
  EXPECT_TRUE(refused(s));
  s = coretest::Settings(44100, 2, 0, 80);
  EXPECT_FALSE(refused(s));
  EXPECT_EQ(mp3enc::CreateCore(s, false)->Info().headerValue2, 0);
  // Modes: stereo, dual channel, downmix to mono.
  s = coretest::Settings(44100, 2, 128000);
  s.jointStereoForced = 0;
  s.plainStereo = 1;
  EXPECT_EQ((mp3enc::CreateCore(s, true)->Info().headerValue1 >> 6) & 3, 0);
  s.dualChannel = 1;
  EXPECT_EQ((mp3enc::CreateCore(s, true)->Info().headerValue1 >> 6) & 3, 2);
  s = coretest::Settings(44100, 2, 128000);
  s.encodedChannels = 1;
  const auto info = mp3enc::CreateCore(s, true)->Info();
  EXPECT_EQ((info.headerValue1 >> 6) & 3, 3);
  EXPECT_EQ(static_cast<uint32_t>(info.headerValue1) >> 16, 0xFFFBu);
  EXPECT_EQ((info.headerValue1 >> 12) & 15, 9);
  EXPECT_EQ(info.granulesPerFrame, 2);
  EXPECT_EQ(info.ancillaryBits, 64);
}

TEST(Mp3EncCoreSignal, DrainReleasesWholeFramesThroughSmallBuffers) {
  auto core = mp3enc::CreateCore(coretest::Settings(44100, 2, 320000), true);
  ASSERT_NE(core, nullptr);
  std::vector<float> g(1152);
  std::vector<uint8_t> stream;
  std::vector<uint8_t> buf(1100);  // less than two 320k frames
  for (int n = 0; n < 200; ++n) {
    for (size_t i = 0; i < g.size(); ++i) g[i] = 20000.0f * Noise(n * 1152 + i, 0);
    size_t w = 0;
    ASSERT_EQ(core->EncodeGranule(g.data(), buf.data(), buf.size(), &w), mp3enc::CoreAnswer::kMore);
    stream.insert(stream.end(), buf.begin(), buf.begin() + static_cast<long>(w));
  }
  int calls = 0;
  for (;; ++calls) {
    ASSERT_LT(calls, 1000);
    size_t w = 0;
    const auto a = core->EncodeGranule(nullptr, buf.data(), buf.size(), &w);
    stream.insert(stream.end(), buf.begin(), buf.begin() + static_cast<long>(w));
    if (a == mp3enc::CoreAnswer::kFinished) {
      EXPECT_EQ(w, 0u);
      break;
    }
    ASSERT_EQ(a, mp3enc::CoreAnswer::kMore);
  }
  const StreamFacts facts = ParseMp3Stream(stream);
  ASSERT_TRUE(facts.valid);
  // The drain pushes the look-ahead through: all 200 granules are coded.
  EXPECT_EQ(facts.frames, 100);
  size_t w = 7;
  EXPECT_EQ(core->EncodeGranule(nullptr, buf.data(), buf.size(), &w), mp3enc::CoreAnswer::kFinished);
  EXPECT_EQ(w, 0u);
  EXPECT_EQ(core->EncodeGranule(g.data(), buf.data(), buf.size(), &w), mp3enc::CoreAnswer::kFailed);
}

}  // namespace
