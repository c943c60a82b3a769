// Damaged and unusual streams: the library's result for each, and never a
// crash, hang or out-of-bounds access (the sanitizer run covers the latter).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mp3dec/mp3dec.h"
#include "mp3dec_test_support.h"

namespace {

using namespace mp3dec_test;

struct Outcome {
  const char* name;
  int initResult;
  int frames;
  int concealedNoMainData;
  int concealedSideInfo;
};

// Free format (bit-rate index 0) and the other layers never synchronise.
// Streams of a single frame (tags around one frame, a lone record frame)
// never synchronise either: the search needs the next frame's header.
// he_44_48khz changes its sampling rate: the sync is lost and found again,
// so every frame of both parts is decoded.
constexpr Outcome kNonStandard[] = {
    {"l3-he_free", 4, 0, 0, 0},
    {"l1-fl1", 4, 0, 0, 0},
    {"l2-fl10", 4, 0, 0, 0},
    {"l3-nonstandard-apetag", 4, 0, 0, 0},
    {"l3-nonstandard-big-iscf", 4, 0, 0, 0},
    {"l3-nonstandard-compl-sideinfo-bigvalues", 0, 215, 0, 1},
    {"l3-nonstandard-compl-sideinfo-blocktype", 0, 216, 0, 0},
    {"l3-nonstandard-compl-sideinfo-size", 0, 215, 0, 1},
    {"l3-nonstandard-he_44_48khz", 0, 560, 0, 0},
    {"l3-nonstandard-id3v1-apetag", 4, 0, 0, 0},
    {"l3-nonstandard-id3v1", 4, 0, 0, 0},
    {"l3-nonstandard-id3v2-only", 4, 0, 0, 0},
    {"l3-nonstandard-id3v2", 4, 0, 0, 0},
    {"l3-nonstandard-sideinfo-size", 4, 0, 0, 0},
    {"l3-nonstandard-sin1k0db_lame_vbrtag", 0, 317, 0, 0},
    {"l3-nonstandard-small", 4, 0, 0, 0},
    {"l3-nonstandard-vbrtag-corrupted", 4, 0, 0, 0},
    {"l3-nonstandard-vbrtag-empty", 4, 0, 0, 0},
    {"l3-nonstandard-vbrtag-noframes", 4, 0, 0, 0},
    {"l3-nonstandard-vbrtag-only", 4, 0, 0, 0},
    {"l3-nonstandard-vbrtag-oob-read", 4, 0, 0, 0},
};

TEST(Mp3DecRobustness, RefusedAndNonStandardStreams) {
  for (const Outcome& o : kNonStandard) {
    SCOPED_TRACE(o.name);
    const auto stream = ReadFileBytes(VectorPath(o.name) + ".bit");
    ASSERT_FALSE(stream.empty()) << "missing vector";
    for (size_t chunk : {size_t{8192}, size_t{3}}) {
      const auto run = DecodeStream(stream, chunk);
      EXPECT_EQ(run.initResult, o.initResult);
      EXPECT_EQ(run.frames, o.frames);
      EXPECT_EQ(run.concealedNoMainData, o.concealedNoMainData);
      EXPECT_EQ(run.concealedSideInfo, o.concealedSideInfo);
      if (o.initResult == 0) {
        EXPECT_TRUE(run.finished);
      }
    }
  }
}

// Writes n bits of value at bit offset bit of the frame at start.
void SetBits(std::vector<uint8_t>& s, size_t start, size_t bit, int n, uint32_t value) {
  for (int i = 0; i < n; ++i) {
    const size_t b = start * 8 + bit + static_cast<size_t>(i);
    const uint8_t mask = static_cast<uint8_t>(0x80 >> (b & 7));
    if ((value >> (n - 1 - i)) & 1) s[b / 8] |= mask; else s[b / 8] &= static_cast<uint8_t>(~mask);
  }
}

// l3-si: MPEG-1 single channel. Its side information starts after the
// 4-byte header: main_data_begin (9 bits), private bits (5), scfsi (4), then
// granule 0: part2_3_length (12), big_values (9), ...
TEST(Mp3DecRobustness, DamagedSideInformation) {
  const auto stream = ReadFileBytes(VectorPath("l3-si") + ".bit");
  ASSERT_FALSE(stream.empty());
  const auto starts = ParseMp3Stream(stream).starts;
  ASSERT_GT(starts.size(), 40u);
  const auto plain = DecodeStream(stream);
  ASSERT_EQ(plain.initResult, 0);

  // One field damaged in one frame: that frame is concealed and not
  // written, the frames before it are untouched.
  struct Damage {
    const char* field;
    size_t frame, bit;
    int bits;
    uint32_t value;
    int concealedSideInfo, concealedNoMainData;
  };
  const Damage damages[] = {
      {"big_values above 288", 20, 32 + 18 + 12, 9, 400, 1, 0},
      // The Huffman data runs past the reservoir.
      {"part2_3_length far past the frame", 20, 32 + 18, 12, 4095, 1, 0},
      // Concealed from an empty history.
      {"main_data_begin before the stream", 0, 32, 9, 300, 0, 1},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.field);
    auto damaged = stream;
    SetBits(damaged, starts[d.frame], d.bit, d.bits, d.value);
    const auto run = DecodeStream(damaged);
    EXPECT_EQ(run.concealedSideInfo, d.concealedSideInfo);
    EXPECT_EQ(run.concealedNoMainData, d.concealedNoMainData);
    EXPECT_EQ(run.frames, plain.frames - 1);
    EXPECT_TRUE(std::equal(run.pcm.begin(), run.pcm.begin() + 1152 * d.frame, plain.pcm.begin()));
  }

  // A broken header in the middle: sync is lost and found again at the
  // next frame; the frames around it decode.
  auto header = stream;
  header[starts[30] + 1] = 0x00;
  const auto run = DecodeStream(header);
  EXPECT_TRUE(run.finished);
  EXPECT_GE(run.frames, plain.frames - 3);

  // Every byte damaged in turn in a short window: decoding always ends.
  for (size_t i = starts[10]; i < starts[10] + 200; i += 7) {
    auto flipped = stream;
    flipped[i] ^= 0xA5;
    EXPECT_TRUE(DecodeStream(flipped).finished) << i;
  }
}

}  // namespace
