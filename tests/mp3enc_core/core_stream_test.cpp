// Every sample rate, mode, constant bit rate and quality level the core
// accepts gives a stream that mpg123 and ffmpeg decode without complaint,
// with the right headers and frame sizes and, in CBR, the nominal rate.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "tests/mp3enc_core/core_test_util.h"

namespace {

coretest::Signal Music(int rate, int channels, double seconds) {
  coretest::Signal s;
  s.channels = channels;
  uint32_t seed = 1;
  const size_t n = static_cast<size_t>(rate * seconds);
  for (size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double env = std::exp(-std::fmod(t, 0.5) * 6.0);
    for (int c = 0; c < channels; ++c) {
      seed = seed * 1664525u + 1013904223u;
      const double noise = static_cast<int32_t>(seed) / 2147483648.0;
      s.samples.push_back(static_cast<float>(
          env * (9000.0 * std::sin(2 * M_PI * (220.0 + 110.0 * c) * t) +
                 3000.0 * std::sin(2 * M_PI * 1760.0 * t)) +
          1500.0 * noise));
    }
  }
  return s;
}

void CheckStream(const std::vector<uint8_t>& mp3, int rate, int channels, int bitRate,
                 const std::string& label, const kestrune::testing::TempDir& dir) {
  using namespace kestrune::testing;
  const StreamFacts f = ParseMp3Stream(mp3);
  ASSERT_TRUE(f.valid) << label;
  ASSERT_GT(f.frames, 10) << label;
  EXPECT_EQ(f.version, rate > 24000 ? 0 : rate > 12000 ? 1 : 2) << label;
  for (const size_t at : f.starts) {
    // No CRC; mono, or joint stereo; mono has no mode extension.
    EXPECT_EQ(mp3[at + 1] & 1, 1) << label;
    EXPECT_EQ(mp3[at + 3] >> 6, channels == 1 ? 3 : 1) << label;
    if (channels == 1) {
      EXPECT_EQ((mp3[at + 3] >> 4) & 3, 0) << label;
    }
  }
  if (bitRate > 0) {
    const double seconds = f.frames * (f.version == 0 ? 1152.0 : 576.0) / rate;
    EXPECT_NEAR(f.averageBitRate, bitRate, bitRate * 0.002 + 8.0 / seconds) << label;
  }
  const std::string path = dir / "stream.mp3";
  WriteBytes(path, mp3);
  const ReferenceDecodings references = DecodeWithReferences(path);
  EXPECT_EQ(references.complaints, "") << label;
  // Our own decoder gets through cleanly and agrees with a reference
  // decoder. The two references differ from each other on corner cases (the
  // 24 kHz band table, long granules whose big_values reach line 576), so
  // agreement with either counts.
  const DecodeRun own = DecodeStream(mp3);
  EXPECT_TRUE(own.Clean()) << label;
  EXPECT_GE(own.pcm.size() + 2304 * 2, references.ffmpeg.size()) << label;
  EXPECT_LT(std::min(DisagreeingShare(own.pcm, references.ffmpeg), DisagreeingShare(own.pcm, references.mpg123)),
            0.001)
      << label;
}

TEST(Mp3EncCoreStream, EveryRateModeAndBitRateDecodesCleanly) {
  kestrune::testing::TempDir dir;
  const int rates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
  for (int rate : rates) {
    for (int channels : {1, 2}) {
      const coretest::Signal sig = Music(rate, channels, 1.5);
      const int table = rate >= 32000 ? 0 : 1;
      static const int kRates[2][14] = {
          {32000, 40000, 48000, 56000, 64000, 80000, 96000, 112000, 128000, 160000, 192000,
           224000, 256000, 320000},
          {8000, 16000, 24000, 32000, 40000, 48000, 56000, 64000, 80000, 96000, 112000, 128000,
           144000, 160000}};
      for (int bitRate : kRates[table]) {
        const bool framable = rate > 12000 || bitRate <= 64000;
        const bool enough = bitRate / channels >= 8000;
        std::vector<uint8_t> mp3;
        const bool ok = coretest::Encode(coretest::Settings(rate, channels, bitRate), sig, true, &mp3);
        const std::string label =
            std::to_string(rate) + "/" + std::to_string(channels) + "/" + std::to_string(bitRate);
        ASSERT_EQ(ok, framable && enough) << label;
        if (ok) CheckStream(mp3, rate, channels, bitRate, label, dir);
      }
      for (int q : {100, 80, 60, 50, 40}) {
        std::vector<uint8_t> mp3;
        const std::string label = std::to_string(rate) + "/" + std::to_string(channels) + "/V" +
                                  std::to_string(q);
        ASSERT_TRUE(coretest::Encode(coretest::Settings(rate, channels, 0, q), sig, true, &mp3))
            << label;
        CheckStream(mp3, rate, channels, 0, label, dir);
      }
    }
  }
}

}  // namespace
