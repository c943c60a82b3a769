// The decode pipeline's own rules: float to 16-bit conversion, ID3 tags,
// junk, damaged files, and the cases where the run fails.
#include <gtest/gtest.h>

#include <filesystem>
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
  // Runs are converted eight at a time and the rest one by one: every value
  // must convert the same at every position and in runs of every length
  // (length 13 is the table itself).
  for (size_t length = 1; length <= 40; ++length) {
    std::vector<float> run(length);
    std::vector<int16_t> got(length);
    for (size_t i = 0; i < length; ++i) run[i] = in[(i + length) % 13];
    kestrune::FloatToPcm16(got.data(), run.data(), length);
    for (size_t i = 0; i < length; ++i) ASSERT_EQ(got[i], expected[(i + length) % 13]) << length << " " << i;
  }
}

// Converts the bytes with the program: the WAVE file's size, and its
// samples after the 44-byte header.
size_t Convert(const TempDir& dir, const std::string& mp3, std::string* samples) {
  WriteBytes(dir / "in.mp3", mp3);
  std::filesystem::remove(dir / "out.wav");
  RunProgram(KESTRUNE_BINARY, {"in.mp3", "out.wav"}, dir.str());
  const std::string wave = ReadBytes(dir / "out.wav");
  *samples = wave.size() > 44 ? wave.substr(44) : "";
  return wave.size();
}

// Tags around the stream do not change the samples; junk within the first
// chunk is searched through; damaged streams never crash the run.
TEST(Mp3ToWave, TagsJunkAndDamage) {
  TempDir dir;
  const std::string stream = ReadBytes(VectorPath("l3-si") + ".bit");
  ASSERT_FALSE(stream.empty());
  std::string plain, samples;
  ASSERT_GT(Convert(dir, stream, &plain), 44u);

  // ID3v2 of 300 bytes (size 0x12C as 7-bit bytes 0 0 2 44; contents that
  // look like sync words) and an ID3v1 tag: same samples.
  const std::string id3v2 = std::string("ID3\x04\0\0\0\0\x02\x2C", 10) + std::string(300, '\xFF');
  Convert(dir, id3v2 + stream + "TAG" + std::string(125, '\xFF'), &samples);
  EXPECT_EQ(samples, plain);

  // 1000 bytes of junk: found within the first chunk.
  Convert(dir, std::string(1000, '\x5A') + stream, &samples);
  EXPECT_EQ(samples, plain);

  // 64 KiB of junk: the first chunk holds no frame, the run fails before the
  // header and leaves an empty file.
  EXPECT_EQ(Convert(dir, std::string(65536, '\0') + stream, &samples), 0u);

  // An ID3v2 size beyond the end of the file: nothing to decode.
  EXPECT_EQ(Convert(dir, std::string("ID3\x04\0\0\x7F\x7F\x7F\x7F", 10) + stream, &samples), 0u);

  // Truncated in the middle of a frame: the complete frames are decoded, the
  // header patched.
  size_t size = Convert(dir, stream.substr(0, stream.size() / 2 + 77), &samples);
  EXPECT_EQ(size, samples.size() + 44);
  EXPECT_GT(samples.size(), plain.size() / 3);
  EXPECT_LT(samples.size(), plain.size());
  EXPECT_EQ(samples.substr(0, samples.size() - 2304), plain.substr(0, samples.size() - 2304));

  // Bit flips all over the stream: the run ends and writes a valid header.
  std::string flipped = stream;
  for (size_t i = 100; i < flipped.size(); i += 97) flipped[i] ^= static_cast<char>(1u << (i % 8));
  size = Convert(dir, flipped, &samples);
  EXPECT_EQ(size, samples.size() + 44);
}

}  // namespace
