// Configuration of the encoder: bit-rate classes, output-rate choice,
// bandwidth, converter set-up, and the refusals of Mp3sEncOpen.
#include <gtest/gtest.h>

#include <utility>

#include "mp3enc/encoder.h"
#include "mp3enc/encoder_config.h"
#include "mp3enc/mp3s_enc.h"
#include "mp3enc/rate_tables.h"

namespace mp3enc {
namespace {

// The rows' values are the table's own; what can go wrong is the lookup:
// bounds are inclusive, the first matching row wins, and no rate falls
// between the mono rows.
TEST(RateTables, LookupBoundsAndGaps) {
  EXPECT_EQ(FindRateClass(128000, 2)->bandwidth, 15804);
  EXPECT_EQ(FindRateClass(127999, 2)->bandwidth, 13642);
  EXPECT_EQ(FindRateClass(320000, 2)->narrowHighest, 48000);
  EXPECT_EQ(FindRateClass(319999, 2)->narrowHighest, 44100);
  EXPECT_EQ(FindRateClass(15999, 1)->bandwidth, 3266);
  EXPECT_EQ(FindRateClass(16000, 1)->bandwidth, 4722);
  for (auto [rate, channels] : {std::pair{15999, 2}, {320001, 1}, {127999, 6}, {128000, 3},
                                {0, 1}, {-64000, 2}}) {
    EXPECT_EQ(FindRateClass(rate, channels), nullptr) << rate << " bit/s, " << channels << " ch";
  }
  for (int32_t rate = 8000; rate <= 320000; rate += 1000) {
    int matches = 0;
    for (const RateClass& r : kRateClasses) {
      matches += r.channels == 1 && rate >= r.lowestBitRate && rate <= r.highestBitRate;
    }
    EXPECT_EQ(matches, 1) << rate;
  }
}

// The candidate sharing the greatest common divisor with the input wins.
TEST(OutputRate, GreatestCommonDivisorAndTies) {
  // 22050: 32000 -> 50, 44100 -> 22050, 48000 -> 150.
  EXPECT_EQ(ChooseOutputRate(22050, 32000, 48000), 44100);
  // 96000: 48000 (divisor 48000) beats 32000 (32000).
  EXPECT_EQ(ChooseOutputRate(96000, 32000, 48000), 48000);
  // A candidate equal to the input rate selects itself.
  for (int32_t rate : kOutputRateCandidates) EXPECT_EQ(ChooseOutputRate(rate, 8000, 48000), rate);
  // 1000 Hz divides 8000, 12000 and 16000 alike: the lowest wins.
  EXPECT_EQ(ChooseOutputRate(1000, 8000, 16000), 8000);
  // 8000 mono at 128 kbit/s: 32000 (8000) beats 48000 (8000) by order.
  EXPECT_EQ(ChooseOutputRate(8000, 32000, 48000), 32000);
  // Equal bounds are taken without search.
  EXPECT_EQ(ChooseOutputRate(48000, 44100, 44100), 44100);
  // No candidate inside the range.
  EXPECT_EQ(ChooseOutputRate(44100, 44101, 47999), 0);
}

struct OpenCase {
  int32_t inputRate, bitRate, channels, policy, quality;
  int32_t status;
  int32_t outputRate;
  float bandwidth;
  ResamplerVariant variant;
  int32_t blockSize;  // converter input block (the first staging block)
};

TEST(EncoderOpen, RequestsAndTheirConfiguration) {
  using V = ResamplerVariant;
  const OpenCase cases[] = {
      // 44100 stereo 128 kbit/s: no conversion, bandwidth from the table.
      {44100, 128000, 2, 0, 0, 0, 44100, 15804, V::kPassThrough, 2304},
      // 22050 stereo: output 44100, bandwidth half the input rate.
      {22050, 128000, 2, 0, 0, 0, 44100, 11025, V::kRational, 1152},
      // 96000 stereo: 2:1.
      {96000, 128000, 2, 0, 0, 0, 48000, 15804, V::kHalving, 4608},
      // 8000 mono at 128 kbit/s: output 32000, bandwidth 4000.
      {8000, 128000, 1, 0, 0, 0, 32000, 4000, V::kRational, 288},
      // 48000 mono at 8 kbit/s: 8000 shares 8000 with 48000, 11025 only 75.
      {48000, 8000, 1, 0, 0, 0, 8000, 3266, V::kRational, 3456},
      // Policy 1: the narrow range.
      {48000, 128000, 2, 1, 0, 0, 44100, 15804, V::kRational, 2508},
      // Policy 1 at equal rates below half the rate: a low-pass (variant B).
      {44100, 128000, 2, 1, 0, 0, 44100, 15804, V::kRational, 2304},
      // Policy 1 at equal rates and a full band: no filter.
      {48000, 320000, 2, 1, 0, 0, 48000, 24000, V::kPassThrough, 2304},
      // Policy 0 at equal rates never filters, even below half the rate.
      {32000, 64000, 1, 0, 0, 0, 32000, 13458, V::kPassThrough, 1152},
      // Quality level 3 stereo stands for 140 kbit/s.
      {44100, 0, 2, 0, 3, 0, 44100, 15804, V::kPassThrough, 2304},
      // Quality level 5 mono: 64 kbit/s.
      {44100, 0, 1, 0, 5, 0, 44100, 13458, V::kPassThrough, 1152},
      // Refusals.
      {44100, 8000, 2, 0, 0, 2, 0, 0, V::kPassThrough, 0},
      {44100, 320001, 2, 0, 0, 2, 0, 0, V::kPassThrough, 0},
      {44100, 0, 2, 0, 0, 2, 0, 0, V::kPassThrough, 0},
      {44100, 128000, 2, 0, 2, 2, 0, 0, V::kPassThrough, 0},
      {44100, 128000, 3, 0, 0, 2, 0, 0, V::kPassThrough, 0},
      {44100, 128000, 0, 0, 0, 2, 0, 0, V::kPassThrough, 0},
      {44100, 0, 2, 0, 6, 2, 0, 0, V::kPassThrough, 0},
      {44100, 128000, 2, 2, 0, 2, 0, 0, V::kPassThrough, 0},
      {44100, 128000, 6, 0, 0, 5, 0, 0, V::kPassThrough, 0},
      {44100, 0, 6, 0, 5, 2, 0, 0, V::kPassThrough, 0},
      {44100, 96000, 6, 0, 0, 2, 0, 0, V::kPassThrough, 0},
      // The converter refuses: a rate of 0, or 7 Hz up to 44100 (L > 256 M).
      {0, 128000, 2, 0, 0, 3, 0, 0, V::kPassThrough, 0},
      {7, 128000, 2, 0, 0, 3, 0, 0, V::kPassThrough, 0},
  };
  for (const OpenCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.inputRate << " Hz, " << c.bitRate << " bit/s, "
                                      << c.channels << " ch, policy " << c.policy
                                      << ", level " << c.quality);
    Mp3sEncHandle h = reinterpret_cast<Mp3sEncHandle>(&h);  // must be cleared
    const int32_t status = Mp3sEncOpen(&h, c.inputRate, c.bitRate, c.channels, c.policy, c.quality);
    EXPECT_EQ(status, c.status);
    if (status != 0) {
      EXPECT_EQ(h, nullptr);
      continue;
    }
    const Encoder* e = Mp3sEncObjectOf(h);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->Plan().outputRate, c.outputRate);
    EXPECT_EQ(e->Settings().sampleRate, c.outputRate);
    EXPECT_EQ(e->Settings().bandwidth, c.bandwidth);
    ASSERT_NE(e->Converter(), nullptr);
    EXPECT_EQ(e->Converter()->Variant(), c.variant);
    EXPECT_EQ(e->Converter()->InputBlock(), c.blockSize);
    EXPECT_FLOAT_EQ(e->ResamplingRatio(),
                    static_cast<float>(c.inputRate) / static_cast<float>(c.outputRate));
    EXPECT_EQ(e->Index() != nullptr, c.quality != 0);
    EXPECT_EQ(Mp3sEncGetAncillaryBytes(h), 8);
    EXPECT_EQ(Mp3sEncClose(h), 0);
  }
}

TEST(EncoderHandle, InvalidHandlesAndOptions) {
  int32_t block = 0;
  int32_t count = 0, next = 0, bytes = 0;
  uint8_t out[16];
  EXPECT_EQ(Mp3sEncOpen(nullptr, 44100, 128000, 2, 0, 0), 2);
  EXPECT_EQ(Mp3sEncClose(nullptr), 0);
  EXPECT_EQ(Mp3sEncSetOption(nullptr, 0), 4);
  EXPECT_EQ(Mp3sEncGetAncillaryBytes(nullptr), 0);
  EXPECT_EQ(Mp3sEncEncode(nullptr, nullptr, &count, &next, 16, out, &bytes), 4);
  EXPECT_EQ(Mp3sEncPrepareWithCore(nullptr, &block, nullptr), 4);
  // A record whose self pointer does not point at itself is not a handle.
  struct Fake {
    void* self;
  } fake{nullptr};
  Mp3sEncHandle forged = reinterpret_cast<Mp3sEncHandle>(&fake);
  EXPECT_EQ(Mp3sEncSetOption(forged, 0), 4);
  EXPECT_EQ(Mp3sEncClose(forged), 0);

  Mp3sEncHandle h = nullptr;
  ASSERT_EQ(Mp3sEncOpen(&h, 44100, 128000, 2, 0, 0), 0);
  EXPECT_EQ(Mp3sEncSetOption(h, 0), 0);
  EXPECT_EQ(Mp3sEncSetOption(h, 2), 4);
  EXPECT_EQ(Mp3sEncSetOption(h, -1), 4);
  EXPECT_FALSE(Mp3sEncObjectOf(h)->CoreFlag());
  EXPECT_EQ(Mp3sEncSetOption(h, 1), 0);
  EXPECT_TRUE(Mp3sEncObjectOf(h)->CoreFlag());
  // Encoding before prepare is refused.
  float x[4] = {};
  count = 4;
  EXPECT_EQ(Mp3sEncEncode(h, x, &count, &next, 16, out, &bytes), 4);
  EXPECT_EQ(Mp3sEncClose(h), 0);

  const Mp3sEncLibInfo* info = Mp3sEncGetLibInfo();
  EXPECT_STREQ(info->name, "RoR-IZA MP3sEnc Libinfo");
  EXPECT_STREQ(info->version, "04.01.02");
  EXPECT_STREQ(info->date, "2010-02-10");
  EXPECT_STREQ(info->buildDate, "Feb 10 2010");
  EXPECT_EQ(sizeof(Mp3sEncLibInfo), 128u);
}

}  // namespace
}  // namespace mp3enc
