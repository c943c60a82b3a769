// "kestrune x.mp3 x.wav" on the compliance streams (against their reference
// decodings) and on streams made by lame during the run (against mpg123).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "mp3dec_test_support.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace mp3dec_test;
using kestrune::testing::RunProgram;
using kestrune::testing::TempDir;

struct WaveResult {
  int exitCode = -1;
  bool exists = false;
  size_t fileSize = 0;
  int channels = 0;
  uint32_t sampleRate = 0;
  uint32_t riffSize = 0;
  uint32_t dataSize = 0;
  std::vector<int16_t> samples;
};

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

WaveResult Convert(const TempDir& dir, const std::string& mp3Name) {
  WaveResult r;
  const std::string wav = dir / (mp3Name + ".wav");
  r.exitCode = RunProgram(KESTRUNE_BINARY, {mp3Name, mp3Name + ".wav"}, dir.str()).exitCode;
  r.exists = std::filesystem::exists(wav);
  if (!r.exists) return r;
  const auto bytes = ReadFileBytes(wav);
  r.fileSize = bytes.size();
  if (bytes.size() < 44) return r;
  r.riffSize = Le32(bytes, 4);
  r.channels = bytes[22] | bytes[23] << 8;
  r.sampleRate = Le32(bytes, 24);
  r.dataSize = Le32(bytes, 40);
  for (size_t i = 44; i + 1 < bytes.size(); i += 2) r.samples.push_back(static_cast<int16_t>(bytes[i] | bytes[i + 1] << 8));
  return r;
}

// The compliance streams' samples are written frame by frame under the
// first frame's header.
TEST(Mp3DecCli, ComplianceStreamsThroughTheCommandLine) {
  TempDir dir;
  std::printf("%-22s %9s %8s %7s\n", "vector", "PSNR dB", "max diff", "frames");
  for (const ComplianceVector& v : kComplianceVectors) {
    SCOPED_TRACE(v.name);
    const std::string base = VectorPath(v.name);
    ASSERT_TRUE(std::filesystem::exists(base + ".bit")) << "missing vector " << base;
    std::filesystem::copy_file(base + ".bit", dir / (std::string(v.name) + ".mp3"));
    const WaveResult w = Convert(dir, std::string(v.name) + ".mp3");
    const auto ref = ReadPcm16(base + ".pcm");
    ASSERT_EQ(w.exitCode, 0);
    EXPECT_EQ(w.channels, v.channels);
    EXPECT_EQ(w.dataSize, 2 * w.samples.size());
    EXPECT_EQ(w.riffSize, w.dataSize + 36);
    ASSERT_EQ(w.samples.size(), ref.size() + static_cast<size_t>(v.framesBeyondReference * v.samplesPerFrame));
    const auto c = ComparePcm(w.samples, ref, ref.size());
    std::printf("%-22s %9.1f %8d %7zu\n", v.name, c.psnr, c.maxDiff, w.samples.size() / v.samplesPerFrame);
    EXPECT_GE(c.psnr, 96.0);
    EXPECT_LE(c.maxDiff, 1);
  }
}

struct LameCase {
  const char* label;
  const char* options;
  int sampleRate;  // of the synthesised input
  int channels;
};

// lame writes no Info frame with -t; VBR keeps its Xing frame (not output).
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

TEST(Mp3DecCli, LameStreamsMatchMpg123) {
  TempDir dir;
  std::printf("%-18s %9s %8s %9s\n", "stream", "PSNR dB", "max diff", "samples");
  for (const LameCase& c : kLameCases) {
    SCOPED_TRACE(c.label);
    const std::string wav = dir / (std::string(c.label) + "-in.wav");
    const std::string mp3 = std::string(c.label) + ".mp3";
    WriteTestWave(wav, c.sampleRate, c.channels, 4.0);
    // lame keeps the input's rate only when told to.
    char resample[32];
    std::snprintf(resample, sizeof resample, " --resample %g", c.sampleRate / 1000.0);
    ASSERT_EQ(RunLame(std::string(c.options) + resample, wav, dir / mp3), 0);
    const WaveResult w = Convert(dir, mp3);
    const auto reference = DecodeWithMpg123(dir / mp3);
    ASSERT_EQ(w.exitCode, 0);
    ASSERT_FALSE(reference.empty());
    EXPECT_EQ(w.sampleRate, static_cast<uint32_t>(c.sampleRate));
    ASSERT_EQ(w.samples.size(), reference.size());
    const auto cmp = ComparePcm(w.samples, reference, reference.size());
    std::printf("%-18s %9.1f %8d %9zu\n", c.label, cmp.psnr, cmp.maxDiff, w.samples.size());
    EXPECT_GE(cmp.psnr, 96.0);
    EXPECT_LE(cmp.maxDiff, 1);
  }
}

}  // namespace
