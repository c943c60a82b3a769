// Frame formatting: frame sizes, index search, reservoir limits, stuffing,
// CBR padding and the CRC path.
#include <gtest/gtest.h>

#include <cstring>

#include "mp3enc/bitstream.h"
#include "mp3enc/reservoir.h"
#include "tests/mp3enc_core/core_test_util.h"

namespace mp3enc {
namespace {

FrameFormat Format(int rate, int mode, bool crc = false) {
  FrameFormat f;
  EXPECT_TRUE(MakeFrameFormat(rate, mode, crc, false, false, false, &f));
  return f;
}

TEST(Mp3EncCoreFormat, FrameLengthsIndexSearchAndReservoirLimits) {
  FrameFormatter cd(Format(44100, 1));
  EXPECT_EQ(cd.FrameBits(9), 417 * 8);  // 128 kbit/s
  EXPECT_EQ(cd.Format().overheadBits, 32 + 256);
  EXPECT_EQ(cd.SearchIndex(3336, true, false), 9);
  EXPECT_EQ(cd.SearchIndex(417 * 8 + 1, false, false), 10);
  EXPECT_EQ(cd.SearchIndex(417 * 8 + 8, true, false), 9);
  EXPECT_EQ(cd.SearchIndex(1441 * 8, false, false), -1);
  EXPECT_EQ(cd.SearchIndex(1044 * 8, false, true), -1);  // 320k excluded
  EXPECT_EQ(cd.ReservoirLimit(cd.FrameBits(9)), 511);

  FrameFormatter dat(Format(48000, 3));
  EXPECT_EQ(dat.FrameBits(14), 7680);  // 960 bytes
  EXPECT_EQ(dat.ReservoirLimit(7680), 0);
  EXPECT_EQ(dat.ReservoirLimit(dat.FrameBits(13)), (7680 - 768 * 8) / 8);
  EXPECT_EQ(dat.Format().overheadBits, 32 + 136);

  FrameFormatter lsf(Format(22050, 1));
  EXPECT_EQ(lsf.Format().granules, 1);
  EXPECT_EQ(lsf.Format().overheadBits, 32 + 136);
  EXPECT_EQ(lsf.ReservoirLimit(lsf.FrameBits(8)), 255);
  FrameFormatter low(Format(8000, 3, true));
  EXPECT_EQ(low.Format().overheadBits, 32 + 16 + 72);
  EXPECT_EQ(low.Format().highestIndex, 8);
  EXPECT_EQ(low.FrameBits(8), 576 * 8);  // 64 kbit/s at 8 kHz: 576 bytes
  EXPECT_EQ(low.FrameBits(9), 0);

  FrameFormat f;
  EXPECT_FALSE(MakeFrameFormat(44000, 1, false, false, false, false, &f));
  EXPECT_FALSE(MakeFrameFormat(44100, 4, false, false, false, false, &f));
}

TEST(Mp3EncCoreFormat, SurplusIsStuffedIntoGranulesWithinTheCaps) {
  // 32 kHz mono at 320 kbit/s: frames of 1440 bytes, so the reservoir limit
  // is 0 and an empty frame has 11520 - 168 surplus bits.
  FrameFormatter fmt(Format(32000, 3));
  ASSERT_EQ(fmt.FrameBits(14), 11520);
  ASSERT_EQ(fmt.ReservoirLimit(11520), 0);
  auto frame = std::make_unique<FrameGranules>();
  std::vector<uint8_t> out;
  fmt.Assemble(*frame, 14, 0, 0, nullptr, nullptr, 0, &out);
  EXPECT_EQ(frame->gr[0][0].part23Length, 4092);
  // 7680 - 168 (header and side information) - 4092 placed before.
  EXPECT_EQ(frame->gr[1][0].part23Length, 3420);
  ASSERT_EQ(out.size(), 1440u);
  EXPECT_EQ(out[0], 0xFF);
  EXPECT_EQ(out[1], 0xFB);
  EXPECT_EQ(fmt.Fill(), 0);
  // main_data_begin 0 (9 bits), private bits and scfsi 0 (9 bits), then
  // part2_3_length 4092.
  EXPECT_EQ(out[4], 0);
  EXPECT_EQ(((out[5] & 0x7F) << 2) | (out[6] >> 6), 0);
  EXPECT_EQ(((out[6] & 0x3F) << 6) | (out[7] >> 2), 4092);
}

TEST(Mp3EncCoreFormat, ReservoirHoldsFramesUntilTheirSlotsFill) {
  // 44.1 kHz stereo at 32 kbit/s: 104-byte frames with 68-byte main-data
  // slots. Frames of 50 bytes of main data leave 18 bytes each in the
  // reservoir; a frame leaves only once later main data has filled its slot.
  FrameFormatter fmt(Format(44100, 1));
  auto frame = std::make_unique<FrameGranules>();
  std::vector<uint8_t> out;
  std::vector<size_t> sizes;
  std::vector<int> fills;
  for (int n = 0; n < 6; ++n) {
    for (auto& gr : frame->gr) {
      for (auto& g : gr) {
        g = GranuleInfo{};
        for (int i = 0; i < 10; ++i) g.mainData.Put(0x2AA, 10);  // 100 bits
        g.part23Length = g.mainData.BitCount();
      }
    }
    fills.push_back(fmt.Fill());
    fmt.Assemble(*frame, 1, 0, 0, nullptr, nullptr, 0, &out);
    sizes.push_back(out.size());
  }
  // After k frames 50 k bytes of main data fill floor(50 k / 68) slots.
  const size_t released[6] = {0, 1, 2, 2, 3, 4};
  for (int n = 0; n < 6; ++n) EXPECT_EQ(sizes[n], released[n] * 104) << n;
  const int expectFill[6] = {0, 18, 36, 54, 72, 90};
  for (int n = 0; n < 6; ++n) EXPECT_EQ(fills[n], expectFill[n]) << n;
  // main_data_begin of the second frame (9 bits after the header).
  EXPECT_EQ((out[104 + 4] << 1) | (out[104 + 5] >> 7), 18);
  fmt.Flush(&out);
  EXPECT_EQ(out.size(), 6u * 104);
  const auto facts = kestrune::testing::ParseMp3Stream(out);
  EXPECT_TRUE(facts.valid);
  EXPECT_EQ(facts.frames, 6);
}

TEST(Mp3EncCoreFormat, ConstantBitRatePaddingFollowsTheNominalRate) {
  FrameFormatter fmt(Format(44100, 1));
  RateControl rc(fmt, 128000, 1);
  ASSERT_TRUE(rc.InitConstant());
  int64_t bits = 0;
  for (int n = 1; n <= 2000; ++n) {
    const FrameChoice c = rc.NextConstantFrame();
    EXPECT_EQ(c.index, 9);
    bits += c.frameBits;
    rc.Commit(c.frameBits);
    const double nominal = 128000.0 * 1152 * n / 44100;
    EXPECT_LE(std::fabs(bits - nominal), 4.0 + 1e-6) << n;
  }
  // A rate between table entries alternates the neighbouring indices.
  RateControl odd(fmt, 100000, 1);
  ASSERT_TRUE(odd.InitConstant());
  int64_t oddBits = 0;
  int seen[15] = {};
  for (int n = 1; n <= 1000; ++n) {
    const FrameChoice c = odd.NextConstantFrame();
    ++seen[c.index];
    oddBits += c.frameBits;
    odd.Commit(c.frameBits);
  }
  EXPECT_GT(seen[7], 0);
  EXPECT_GT(seen[8], 0);
  EXPECT_NEAR(oddBits, 100000.0 * 1152 * 1000 / 44100, 2000.0);
}

TEST(Mp3EncCoreFormat, GranuleTargetsSplitMidSideByDemand) {
  // 2000 mean bits, an empty reservoir of 4000: 400 go to the build-up, and
  // the reservoir has nothing to lend.
  int t[2];
  const float busyMid[2] = {900.0f, 100.0f};
  RateControl::GranuleTargets(2000, 0, 4000, busyMid, 2, false, t);
  EXPECT_EQ(t[0], 800);  // left/right: an even split
  EXPECT_EQ(t[1], 800);
  RateControl::GranuleTargets(2000, 0, 4000, busyMid, 2, true, t);
  EXPECT_EQ(t[0], 1280);  // a share of 0.9, held to 0.8
  EXPECT_EQ(t[1], 320);
  const float busySide[2] = {100.0f, 300.0f};
  RateControl::GranuleTargets(2000, 0, 4000, busySide, 2, true, t);
  EXPECT_EQ(t[0], 400);
  EXPECT_EQ(t[1], 1200);
  const float silent[2] = {0.0f, 0.0f};
  RateControl::GranuleTargets(2000, 0, 4000, silent, 2, true, t);
  EXPECT_EQ(t[0], 800);
  EXPECT_EQ(t[1], 800);
  // A channel's part2_3_length holds 12 bits: what it cannot take stays
  // with the other (a full reservoir adds 7200 - 3600 forced bits).
  RateControl::GranuleTargets(3600, 7200, 4000, busyMid, 2, true, t);
  EXPECT_EQ(t[0], 4095);
  EXPECT_EQ(t[1], 3600 + 3600 - 4095);
}

TEST(Mp3EncCoreFormat, GranuleTargetsLendWithinTheGivenLimits) {
  // One channel, 1000 mean bits, 1800 of 2040 in the reservoir: 36 go to the
  // build-up (it stops at nine tenths of the limit), and a demand of 4000
  // asks for all the reservoir may lend.
  int t[2];
  const float demand[2] = {4000.0f, 0.0f};
  RateControl::GranuleTargets(1000, 1800, 2040, demand, 1, false, t);
  EXPECT_EQ(t[0], 964 + 1000);  // at most the mean beyond the share
  RateControl::GranuleTargets(1000, 1800, 2040, demand, 1, false, t, Lending{8, 2});
  EXPECT_EQ(t[0], 964 + 1632);  // eight tenths of the limit
  RateControl::GranuleTargets(1000, 1800, 2040, demand, 1, false, t, Lending{10, 1});
  EXPECT_EQ(t[0], 964 + 1000);
  // The loan never exceeds what the reservoir holds.
  RateControl::GranuleTargets(1000, 1000, 2040, demand, 1, false, t, Lending{8, 2});
  EXPECT_EQ(t[0], 800 + 1000);
  // A modest demand takes what it asks for, whatever the limits.
  const float modest[2] = {1500.0f, 0.0f};
  RateControl::GranuleTargets(1000, 1800, 2040, modest, 1, false, t, Lending{8, 2});
  EXPECT_EQ(t[0], 1500);
}

TEST(Mp3EncCoreFormat, CrcProtectedStreamsCarryTheRightChecksums) {
  kestrune::testing::TempDir dir;
  for (int rate : {44100, 24000, 11025}) {
    for (int channels : {1, 2}) {
      Mp3sEncSettings s = coretest::Settings(rate, channels, channels * 32000);
      s.crcProtection = 1;
      s.privateBit = 1;
      s.copyrightBit = 1;
      s.originalBit = 1;
      coretest::Signal sig;
      sig.channels = channels;
      uint32_t seed = 7;
      for (int i = 0; i < rate * channels; ++i) {
        seed = seed * 1664525u + 1013904223u;
        sig.samples.push_back(static_cast<float>(static_cast<int32_t>(seed) >> 18));
      }
      std::vector<uint8_t> mp3;
      ASSERT_TRUE(coretest::Encode(s, sig, true, &mp3));
      const auto facts = kestrune::testing::ParseMp3Stream(mp3);
      ASSERT_TRUE(facts.valid);
      const bool mpeg1 = rate > 24000;
      const size_t side = mpeg1 ? (channels == 1 ? 17 : 32) : (channels == 1 ? 9 : 17);
      for (const size_t pos : facts.starts) {
        EXPECT_EQ(mp3[pos + 1] & 1, 0);  // protected
        EXPECT_EQ(mp3[pos + 2] & 1, 1);     // private bit
        EXPECT_EQ(mp3[pos + 3] & 0x0C, 0x0C);  // copyright, original
        uint16_t crc = Crc16(&mp3[pos + 2], 2, 0xFFFF);
        crc = Crc16(&mp3[pos + 6], side, crc);
        EXPECT_EQ(mp3[pos + 4], crc >> 8);
        EXPECT_EQ(mp3[pos + 5], crc & 0xFF);
      }
      const std::string path = dir / ("crc" + std::to_string(rate) + "_" + std::to_string(channels) + ".mp3");
      // ffmpeg checks every frame's CRC on its own.
      kestrune::testing::WriteBytes(path, mp3);
      EXPECT_EQ(kestrune::testing::DecoderComplaints(path, true), "") << rate << " " << channels;
    }
  }
}

}  // namespace
}  // namespace mp3enc
