// The frame header parser and the index walk over an encoder's output.
#include <gtest/gtest.h>

#include <vector>

#include "mp3enc/frame_index.h"

namespace mp3enc {
namespace {

TEST(FrameHeader, LengthsOfTheThreeVersionsAndRefusals) {
  struct Case {
    uint32_t header;
    ParsedHeader expected;  // version, bit rate, rate, samples, length, mode
  };
  const Case cases[] = {
      {0xFFFB9064u, {0, 128000, 44100, 1152, 417, 1}},  // MPEG-1 joint stereo
      {0xFFFB9264u, {0, 128000, 44100, 1152, 418, 1}},  // the same, padded
      {0xFFFBE444u, {0, 320000, 48000, 1152, 960, 1}},
      {0xFFF380C0u, {1, 64000, 22050, 576, 208, 3}},    // MPEG-2 mono: 72 x 64000 / 22050
      {0xFFE31840u, {2, 8000, 8000, 576, 72, 1}},       // the 2.5 extension
  };
  for (const Case& c : cases) {
    ParsedHeader p;
    ASSERT_TRUE(ParseLayer3Header(c.header, &p)) << std::hex << c.header;
    EXPECT_EQ(p.version, c.expected.version);
    EXPECT_EQ(p.bitRate, c.expected.bitRate);
    EXPECT_EQ(p.sampleRate, c.expected.sampleRate);
    EXPECT_EQ(p.samples, c.expected.samples);
    EXPECT_EQ(p.length, c.expected.length) << std::hex << c.header;
    EXPECT_EQ(p.channelMode, c.expected.channelMode);
  }
  // Free format, bit-rate index 15, sampling index 3, reserved version,
  // Layer II, reserved emphasis, no sync.
  for (uint32_t bad : {0xFFFB0064u, 0xFFFBF064u, 0xFFFB9C64u, 0xFFEB9064u, 0xFFFD9064u,
                       0xFFFB9066u, 0x7FFB9064u}) {
    ParsedHeader p;
    EXPECT_FALSE(ParseLayer3Header(bad, &p)) << std::hex << bad;
  }
}

std::vector<uint8_t> Frames(const std::vector<uint32_t>& headers, const std::vector<int>& lengths) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < headers.size(); ++i) {
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(lengths[i]), 0);
    for (int b = 0; b < 4; ++b) out[at + b] = uint8_t(headers[i] >> (24 - 8 * b));
  }
  return out;
}

TEST(FrameIndexWalk, CountsFramesAndReportsBadHeaders) {
  FrameIndex index;
  index.Reset();
  // 128 and 320 kbit/s frames at 44100 Hz, then a broken one of the same
  // length as its predecessor, then a good one again.
  const auto out = Frames({0xFFFB9064u, 0xFFFBE064u, 0x00000000u, 0xFFFB9264u},
                          {417, 1044, 1044, 418});
  ::testing::internal::CaptureStdout();
  IndexFrames(&index, out.data(), out.size());
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Processing Header failed!\n");
  EXPECT_EQ(index.Frames(), 3u);
  EXPECT_EQ(index.Failures(), 1u);
  EXPECT_EQ(index.Bytes(), 417u + 1044u + 418u);
  EXPECT_EQ(index.SamplesPerChannel(), 3u * 1152u);
  EXPECT_EQ(index.LowestBitRate(), 128000);
  EXPECT_EQ(index.HighestBitRate(), 320000);

  // A bad first header has no previous length to step by: the walk stops.
  FrameIndex fresh;
  const auto bad = Frames({0x12345678u, 0xFFFB9064u}, {417, 417});
  ::testing::internal::CaptureStdout();
  IndexFrames(&fresh, bad.data(), bad.size());
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Processing Header failed!\n");
  EXPECT_EQ(fresh.Frames(), 0u);

  // Fewer than four bytes left: nothing to parse, nothing printed.
  ::testing::internal::CaptureStdout();
  IndexFrames(&fresh, bad.data(), 3);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

}  // namespace
}  // namespace mp3enc
