// "kestrune x.mp3 x.wav" on the compliance streams (against their reference
// decodings) and on streams made by lame during the run (against mpg123).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "mp3dec_test_support.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace mp3dec_test;

// Converts dir/mp3 with the program and checks its WAVE file against the
// reference decoding: channels and rate (when not 0), a canonical header,
// the reference's samples plus extra ones (frames the reference lacks),
// PSNR >= 96 dB and no sample off by more than 1 LSB.
void ExpectProgramMatches(const TempDir& dir, const std::string& mp3, const std::vector<int16_t>& reference,
                          size_t extra, int channels, uint32_t rate) {
  ASSERT_EQ(RunProgram(KESTRUNE_BINARY, {mp3, mp3 + ".wav"}, dir.str()).exitCode, 0);
  const PcmWave w = ReadPcmWave(ReadBytes(dir / (mp3 + ".wav")));
  ASSERT_TRUE(w.ok);
  if (channels) { EXPECT_EQ(w.channels, channels); }
  if (rate) { EXPECT_EQ(w.rate, rate); }
  EXPECT_EQ(w.dataSize, w.data.size());
  EXPECT_EQ(w.riffSize, w.dataSize + 36);
  const std::vector<int16_t> samples = w.Samples();
  ASSERT_FALSE(reference.empty());
  ASSERT_EQ(samples.size(), reference.size() + extra);
  const auto c = ComparePcm(samples, reference, reference.size());
  std::printf("%-22s %9.1f %8d %9zu\n", mp3.c_str(), c.psnr, c.maxDiff, samples.size());
  EXPECT_GE(c.psnr, 96.0);
  EXPECT_LE(c.maxDiff, 1);
}

// The compliance streams' samples are written frame by frame under the
// first frame's header.
TEST(Mp3DecCli, ComplianceStreamsThroughTheCommandLine) {
  TempDir dir;
  std::printf("%-22s %9s %8s %9s\n", "vector", "PSNR dB", "max diff", "samples");
  for (const ComplianceVector& v : kComplianceVectors) {
    SCOPED_TRACE(v.name);
    const std::string base = VectorPath(v.name);
    ASSERT_TRUE(std::filesystem::exists(base + ".bit")) << "missing vector " << base;
    std::filesystem::copy_file(base + ".bit", dir / (std::string(v.name) + ".mp3"));
    ExpectProgramMatches(dir, std::string(v.name) + ".mp3", ReadPcm16(base + ".pcm"),
                         static_cast<size_t>(v.framesBeyondReference * v.samplesPerFrame), v.channels, 0);
  }
}

// lame writes no Info frame with -t; VBR keeps its Xing frame (not output).
TEST(Mp3DecCli, LameStreamsMatchMpg123) {
  struct LameCase {
    const char* label;
    const char* options;
    int sampleRate;  // of the synthesised input
    int channels;
  };
  constexpr LameCase kLameCases[] = {
      {"cbr32-mono-22k", "-t -b 32 -m m", 22050, 1},
      {"cbr128-joint", "-t -b 128 -m j", 44100, 2},
      {"cbr320-stereo", "-t -b 320 -m s", 44100, 2},
      {"cbr192-48k", "-t -b 192", 48000, 2},
      {"cbr64-32k", "-t -b 64 -m j", 32000, 2},
      {"cbr24-16k", "-t -b 24", 16000, 2},
      {"cbr16-8k-mpeg25", "-t -b 16 -m m", 8000, 1},
      {"cbr32-11k-mpeg25", "-t -b 32", 11025, 2},
      {"cbr48-12k-mpeg25", "-t -b 48 -m s", 12000, 2},
      {"vbr-xing", "-V 2", 44100, 2},
      {"vbr-xing-mono", "-V 5 -m m", 44100, 1},
      {"vbr-xing-24k", "-V 4", 24000, 2},
      {"id3-tags", "-t -b 128 --add-id3v2 --tt Kestrune --ta Test --tl Album", 44100, 2},
      {"id3v1-only", "-t -b 96 --id3v1-only --tt Kestrune", 44100, 2},
  };
  TempDir dir;
  for (const LameCase& c : kLameCases) {
    SCOPED_TRACE(c.label);
    const std::string mp3 = std::string(c.label) + ".mp3";
    ASSERT_TRUE(MakeLameFile(dir / mp3, c.options, c.sampleRate, c.channels, 4.0));
    ExpectProgramMatches(dir, mp3, DecodeWithReferences(dir / mp3).mpg123, 0, 0,
                         static_cast<uint32_t>(c.sampleRate));
  }
}

}  // namespace
