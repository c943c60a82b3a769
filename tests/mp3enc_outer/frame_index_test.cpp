// The frame header parser and the index walk over an encoder's output.
#include <gtest/gtest.h>

#include <vector>

#include "mp3enc/frame_index.h"

namespace mp3enc {
namespace {

TEST(FrameHeader, LengthsOfTheThreeVersions) {
  ParsedHeader p;
  // MPEG-1, 128 kbit/s, 44100 Hz, joint stereo: 417 bytes, 418 padded.
  ASSERT_TRUE(ParseLayer3Header(0xFFFB9064u, &p));
  EXPECT_EQ(p.version, 0);
  EXPECT_EQ(p.bitRate, 128000);
  EXPECT_EQ(p.sampleRate, 44100);
  EXPECT_EQ(p.length, 417);
  EXPECT_EQ(p.samples, 1152);
  EXPECT_EQ(p.channelMode, 1);
  ASSERT_TRUE(ParseLayer3Header(0xFFFB9264u, &p));
  EXPECT_EQ(p.length, 418);
  // MPEG-1, 320 kbit/s, 48000 Hz: 960 bytes.
  ASSERT_TRUE(ParseLayer3Header(0xFFFBE444u, &p));
  EXPECT_EQ(p.length, 960);
  // MPEG-2, 64 kbit/s, 22050 Hz, mono: 72 x 64000 / 22050 = 208 bytes.
  ASSERT_TRUE(ParseLayer3Header(0xFFF380C0u, &p));
  EXPECT_EQ(p.version, 1);
  EXPECT_EQ(p.length, 208);
  EXPECT_EQ(p.samples, 576);
  EXPECT_EQ(p.channelMode, 3);
  // 2.5 extension, 8 kbit/s, 8000 Hz: 72 bytes.
  ASSERT_TRUE(ParseLayer3Header(0xFFE31840u, &p));
  EXPECT_EQ(p.version, 2);
  EXPECT_EQ(p.sampleRate, 8000);
  EXPECT_EQ(p.length, 72);

  EXPECT_FALSE(ParseLayer3Header(0xFFFB0064u, &p));  // free format
  EXPECT_FALSE(ParseLayer3Header(0xFFFBF064u, &p));  // bit-rate index 15
  EXPECT_FALSE(ParseLayer3Header(0xFFFB9C64u, &p));  // sampling index 3
  EXPECT_FALSE(ParseLayer3Header(0xFFEB9064u, &p));  // reserved version
  EXPECT_FALSE(ParseLayer3Header(0xFFFD9064u, &p));  // Layer II
  EXPECT_FALSE(ParseLayer3Header(0xFFFB9066u, &p));  // reserved emphasis
  EXPECT_FALSE(ParseLayer3Header(0x7FFB9064u, &p));  // sync
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
