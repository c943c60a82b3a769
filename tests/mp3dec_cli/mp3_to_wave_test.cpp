// The decode pipeline's own rules: float to 16-bit conversion, ID3 tags,
// junk, damaged files, and the cases where the run fails.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "codecs/mp3_to_wave.h"
#include "mp3dec_test_support.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace mp3dec_test;

TEST(Mp3ToWave, FloatToPcm16RoundsTiesToEvenAndClamps) {
  const float in[] = {0.0f,           1.0f,           -1.0f,          0.5f / 32768,  1.5f / 32768,
                      2.5f / 32768,   -0.5f / 32768,  -1.5f / 32768,  -2.5f / 32768, 32767.5f / 32768,
                      1.7f,           -3.0f,          0.49f / 32768};
  const int16_t expected[] = {0, 32767, -32768, 0, 2, 2, 0, -2, -2, 32767, 32767, -32768, 0};
  int16_t out[13];
  kestrune::FloatToPcm16(out, in, 13);
  for (int i = 0; i < 13; ++i) EXPECT_EQ(out[i], expected[i]) << i;
  // Runs are converted eight at a time and the rest one by one: every value
  // must convert the same at every position and in runs of every length.
  for (size_t length = 1; length <= 40; ++length) {
    std::vector<float> run(length);
    std::vector<int16_t> got(length);
    for (size_t i = 0; i < length; ++i) run[i] = in[(i + length) % 13];
    kestrune::FloatToPcm16(got.data(), run.data(), length);
    for (size_t i = 0; i < length; ++i) ASSERT_EQ(got[i], expected[(i + length) % 13]) << length << " " << i;
  }
}

std::vector<uint8_t> WaveSamples(const std::string& path, size_t* fileSize) {
  const auto bytes = ReadFileBytes(path);
  *fileSize = bytes.size();
  return bytes.size() > 44 ? std::vector<uint8_t>(bytes.begin() + 44, bytes.end()) : std::vector<uint8_t>{};
}

std::vector<uint8_t> Concat(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  std::vector<uint8_t> out(a.size() + b.size());
  std::copy(a.begin(), a.end(), out.begin());
  std::copy(b.begin(), b.end(), out.begin() + static_cast<std::ptrdiff_t>(a.size()));
  return out;
}

size_t ConvertBytes(const TempDir& dir, const std::vector<uint8_t>& mp3, std::vector<uint8_t>* samples) {
  WriteBytes(dir / "in.mp3", std::string(mp3.begin(), mp3.end()));
  std::filesystem::remove(dir / "out.wav");
  RunProgram(KESTRUNE_BINARY, {"in.mp3", "out.wav"}, dir.str());
  size_t size = 0;
  *samples = WaveSamples(dir / "out.wav", &size);
  return size;
}

// Tags around the stream do not change the samples; junk within the first
// chunk is searched through; damaged streams never crash the run.
TEST(Mp3ToWave, TagsJunkAndDamage) {
  TempDir dir;
  const auto stream = ReadFileBytes(VectorPath("l3-si") + ".bit");
  ASSERT_FALSE(stream.empty());
  std::vector<uint8_t> plain;
  ASSERT_GT(ConvertBytes(dir, stream, &plain), 44u);

  // ID3v2 of 300 bytes (size 0x12C as 7-bit bytes 0 0 2 44) and an ID3v1
  // tag: same samples.
  std::vector<uint8_t> tagged(310, 0xFF);  // tag contents that look like sync words
  const uint8_t id3Header[10] = {'I', 'D', '3', 4, 0, 0, 0, 0, 2, 44};
  std::copy(id3Header, id3Header + 10, tagged.begin());
  std::vector<uint8_t> v1(128, 0xFF);
  v1[0] = 'T', v1[1] = 'A', v1[2] = 'G';
  tagged = Concat(Concat(tagged, stream), v1);
  std::vector<uint8_t> samples;
  ConvertBytes(dir, tagged, &samples);
  EXPECT_EQ(samples, plain);

  // 1000 bytes of junk: found within the first chunk.
  const std::vector<uint8_t> junk = Concat(std::vector<uint8_t>(1000, 0x5A), stream);
  ConvertBytes(dir, junk, &samples);
  EXPECT_EQ(samples, plain);

  // 64 KiB of junk: the first chunk holds no frame, the run fails before the
  // header and leaves an empty file.
  const std::vector<uint8_t> longJunk = Concat(std::vector<uint8_t>(65536, 0x00), stream);
  EXPECT_EQ(ConvertBytes(dir, longJunk, &samples), 0u);

  // An ID3v2 size beyond the end of the file: nothing to decode.
  const std::vector<uint8_t> hugeTag = Concat({'I', 'D', '3', 4, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F}, stream);
  EXPECT_EQ(ConvertBytes(dir, hugeTag, &samples), 0u);

  // Truncated in the middle of a frame: the complete frames are decoded, the
  // header patched.
  const std::vector<uint8_t> truncated(stream.begin(), stream.begin() + stream.size() / 2 + 77);
  const size_t size = ConvertBytes(dir, truncated, &samples);
  EXPECT_EQ(size, samples.size() + 44);
  EXPECT_GT(samples.size(), plain.size() / 3);
  EXPECT_LT(samples.size(), plain.size());
  EXPECT_TRUE(std::equal(samples.begin(), samples.end() - 2304, plain.begin()));

  // Bit flips all over the stream: the run ends and writes a valid header.
  std::vector<uint8_t> flipped = stream;
  for (size_t i = 100; i < flipped.size(); i += 97) flipped[i] ^= static_cast<uint8_t>(1u << (i % 8));
  const size_t flippedSize = ConvertBytes(dir, flipped, &samples);
  EXPECT_EQ(flippedSize, samples.size() + 44);
}

}  // namespace
