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

struct WaveResult {
  int exitCode = -1;
  PcmWave wave;  // ok when the program wrote a WAVE file
  std::vector<int16_t> samples;
};

WaveResult Convert(const TempDir& dir, const std::string& mp3Name) {
  WaveResult r;
  r.exitCode = RunProgram(KESTRUNE_BINARY, {mp3Name, mp3Name + ".wav"}, dir.str()).exitCode;
  r.wave = ReadPcmWave(ReadBytes(dir / (mp3Name + ".wav")));
  r.samples = r.wave.Samples();
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
    ASSERT_TRUE(w.wave.ok);
    EXPECT_EQ(w.wave.channels, v.channels);
    EXPECT_EQ(w.wave.dataSize, 2 * w.samples.size());
    EXPECT_EQ(w.wave.riffSize, w.wave.dataSize + 36);
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
    const std::string mp3 = std::string(c.label) + ".mp3";
    ASSERT_TRUE(MakeLameFile(dir / mp3, c.options, c.sampleRate, c.channels, 4.0));
    const WaveResult w = Convert(dir, mp3);
    const auto reference = DecodeWithReferences(dir / mp3).mpg123;
    ASSERT_EQ(w.exitCode, 0);
    ASSERT_FALSE(reference.empty());
    EXPECT_EQ(w.wave.rate, static_cast<uint32_t>(c.sampleRate));
    ASSERT_EQ(w.samples.size(), reference.size());
    const auto cmp = ComparePcm(w.samples, reference, reference.size());
    std::printf("%-18s %9.1f %8d %9zu\n", c.label, cmp.psnr, cmp.maxDiff, w.samples.size());
    EXPECT_GE(cmp.psnr, 96.0);
    EXPECT_LE(cmp.maxDiff, 1);
  }
}

}  // namespace
