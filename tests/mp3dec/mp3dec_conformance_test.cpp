// The ISO/IEC 11172-4 and 13818-4 Layer III compliance streams, decoded
// through the library the way the decode pipeline drives it, against their
// reference decodings: PSNR >= 96 dB and no sample off by more than 1 LSB.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "mp3dec/mp3dec.h"
#include "mp3dec_test_support.h"

namespace {

using mp3dec_test::ComparePcm;
using mp3dec_test::DecodeStream;
using mp3dec_test::ReadFileBytes;
using mp3dec_test::ReadPcm16;

struct Vector {
  const char* name;
  // Sample frames per frame times channels: the samples one frame adds.
  int samplesPerFrame;
  // Frames we deliver beyond the reference: its last frame is missing.
  int framesBeyondReference;
  // Leading frames without main data, concealed and not written (the
  // reference lacks them too).
  int concealedAtStart;
};

// he_mode switches between mono and stereo frame by frame; it is compared
// as one flat sample sequence (its first frame is mono).
constexpr Vector kVectors[] = {
    {"l3-compl", 1152, 0, 0},          {"l3-he_32khz", 1152, 1, 0},
    {"l3-he_44khz", 1152, 1, 0},       {"l3-he_48khz", 1152, 1, 0},
    {"l3-he_mode", 1152, 0, 0},        {"l3-hecommon", 2304, 1, 0},
    {"l3-si", 1152, 1, 0},             {"l3-si_block", 1152, 1, 0},
    {"l3-si_huff", 1152, 1, 0},        {"l3-sin1k0db", 2304, 0, 2},
    {"l3-test45", 1152, 0, 0},         {"l3-test46", 1152, 0, 0},
    {"M2L3_bitrate_16_all", 576, 0, 0}, {"M2L3_bitrate_22_all", 576, 0, 0},
    {"M2L3_bitrate_24_all", 576, 0, 0}, {"M2L3_compl24", 576, 0, 0},
    {"M2L3_noise", 1152, 0, 0},
};

std::string VectorPath(const std::string& name) { return mp3dec_test::SharedDir() + "/vectors/mpeg/" + name; }

TEST(Mp3DecConformance, EveryComplianceStreamWithinOneLsb) {
  std::printf("%-22s %9s %8s %7s %8s\n", "vector", "PSNR dB", "max diff", "frames", "samples");
  for (const Vector& v : kVectors) {
    SCOPED_TRACE(v.name);
    const std::string base = VectorPath(v.name);
    ASSERT_TRUE(std::filesystem::exists(base + ".bit")) << "missing vector " << base;
    ASSERT_TRUE(std::filesystem::exists(base + ".pcm")) << "missing reference " << base;
    const auto run = DecodeStream(ReadFileBytes(base + ".bit"));
    const auto ref = ReadPcm16(base + ".pcm");
    ASSERT_EQ(run.initResult, 0);
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.concealedNoMainData, v.concealedAtStart);
    EXPECT_EQ(run.concealedSideInfo, 0);
    ASSERT_EQ(run.pcm.size(), ref.size() + static_cast<size_t>(v.framesBeyondReference * v.samplesPerFrame));
    const auto c = ComparePcm(run.pcm, ref, ref.size());
    std::printf("%-22s %9.1f %8d %7d %8zu\n", v.name, c.psnr, c.maxDiff, run.frames, c.compared);
    EXPECT_GE(c.psnr, 96.0);
    EXPECT_LE(c.maxDiff, 1);
  }
}

// Streams the decoder refuses: free format (bit-rate index 0) and the other
// layers never synchronise, so initialisation finds no frame.
TEST(Mp3DecConformance, RefusedStreamsFindNoFrame) {
  for (const char* name : {"l3-he_free", "l1-fl1", "l2-fl10"}) {
    SCOPED_TRACE(name);
    const std::string path = VectorPath(name) + ".bit";
    ASSERT_TRUE(std::filesystem::exists(path)) << "missing vector " << path;
    const auto run = DecodeStream(ReadFileBytes(path));
    EXPECT_EQ(run.initResult, kMp3sDecNoFrame);
    EXPECT_TRUE(run.pcm.empty());
  }
}

}  // namespace
