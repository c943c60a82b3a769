// The ISO/IEC 11172-4 and 13818-4 Layer III compliance streams, decoded
// through the library the way the decode pipeline drives it, against their
// reference decodings: PSNR >= 96 dB and no sample off by more than 1 LSB.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "mp3dec_test_support.h"

namespace {

using namespace mp3dec_test;

TEST(Mp3DecConformance, EveryComplianceStreamWithinOneLsb) {
  std::printf("%-22s %9s %8s %7s\n", "vector", "PSNR dB", "max diff", "frames");
  for (const ComplianceVector& v : kComplianceVectors) {
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
    std::printf("%-22s %9.1f %8d %7d\n", v.name, c.psnr, c.maxDiff, run.frames);
    EXPECT_GE(c.psnr, 96.0);
    EXPECT_LE(c.maxDiff, 1);
  }
}

}  // namespace
