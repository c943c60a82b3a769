// Decoder stages against slow reference implementations and fixed facts.
// The 32-point DCT is checked inside the synthesis filter bank, which the
// direct filter bank of the standard checks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <random>

#include "mp3dec/conceal.h"
#include "mp3dec/hybrid.h"
#include "mp3dec/synthesis.h"
#include "mp3dec/tables.h"

namespace {

// The synthesis filter bank straight from ISO/IEC 11172-3 (Figure A.2):
// shift the 1024-value V by 64, matrix V[i] = sum_k N[i][k] S[k], build the
// 512-value U from V, window by D and sum 16 products per sample.
class DirectSynthesis {
 public:
  void Slot(const float s[32], double out[32]) {
    for (int i = 1023; i >= 64; --i) v_[i] = v_[i - 64];
    for (int i = 0; i < 64; ++i) {
      double sum = 0;
      for (int k = 0; k < 32; ++k) sum += std::cos((16 + i) * (2 * k + 1) * std::numbers::pi / 64.0) * s[k];
      v_[i] = sum;
    }
    for (int j = 0; j < 32; ++j) {
      double sum = 0;
      for (int i = 0; i < 8; ++i) {
        sum += v_[128 * i + j] * mp3dec::kSynthesisWindow[64 * i + j];
        sum += v_[128 * i + 96 + j] * mp3dec::kSynthesisWindow[64 * i + 32 + j];
      }
      out[j] = sum / 32768.0;
    }
  }

 private:
  double v_[1024] = {};
};

TEST(Mp3DecStages, SynthesisMatchesTheDirectFilterBank) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> dist(-8000.0f, 8000.0f);
  mp3dec::SynthesisFilter fast;
  DirectSynthesis direct;
  double signal = 0, noise = 0;
  // Stereo-interleaved output (stride 2) over enough granules to fill the
  // FIFO several times over.
  for (int granule = 0; granule < 6; ++granule) {
    mp3dec::SubbandBlock block = {};
    for (int sb = 0; sb < 32; ++sb) {
      for (int t = 0; t < mp3dec::kSlots; ++t) block[sb][t] = sb < 20 || granule == 3 ? dist(rng) : 0.0f;
    }
    float pcm[2 * 18 * 32];
    for (float& v : pcm) v = 12345.0f;
    fast.SynthesiseGranule(block, pcm, 2);
    for (int t = 0; t < mp3dec::kSlots; ++t) {
      float s[32];
      double ref[32];
      for (int sb = 0; sb < 32; ++sb) s[sb] = block[sb][t];
      direct.Slot(s, ref);
      for (int j = 0; j < 32; ++j) {
        const double got = pcm[2 * (32 * t + j)];
        signal += ref[j] * ref[j];
        noise += (ref[j] - got) * (ref[j] - got);
        ASSERT_EQ(pcm[2 * (32 * t + j) + 1], 12345.0f) << "the other channel's samples are left alone";
      }
    }
  }
  EXPECT_GT(10 * std::log10(signal / noise), 100.0);
}

// The AVX2 build of the hybrid filter bank and the synthesis must give the
// baseline build's output bit for bit, for every block type and a mixed
// block, across granules (overlap and FIFO carried over).
TEST(Mp3DecStages, WideAndBaselineBuildsAgreeBitForBit) {
  if (!mp3dec::WideVectorsAvailable()) GTEST_SKIP() << "this processor has no AVX2";
  std::mt19937 rng(9);
  std::uniform_real_distribution<float> dist(-20000.0f, 20000.0f);
  mp3dec::FrameHeader header = mp3dec::ParseHeader(0xFFFB9064u);  // MPEG-1 44.1 kHz 128 kbit/s
  const mp3dec::FrameContext frame = mp3dec::MakeFrameContext(header);
  mp3dec::HybridState hybridPlain, hybridWide;
  mp3dec::SynthesisFilter synthesisPlain(false), synthesisWide(true);
  for (int granule = 0; granule < 12; ++granule) {
    mp3dec::GranuleInfo g;
    g.windowSwitching = granule % 4 != 0;
    g.blockType = static_cast<uint32_t>(granule % 4);
    g.mixedBlock = granule == 6;
    float x[576];
    for (int i = 0; i < 576; ++i) x[i] = i < 400 && rng() % 3 != 0 ? dist(rng) : 0.0f;
    const int active = granule % 2 != 0 ? 32 : 24;
    mp3dec::SubbandBlock plain = {}, wide = {};
    mp3dec::HybridFilterBank(g, frame, x, active, hybridPlain, plain, false);
    mp3dec::HybridFilterBank(g, frame, x, active, hybridWide, wide, true);
    ASSERT_EQ(std::memcmp(plain, wide, sizeof plain), 0) << "hybrid, granule " << granule;
    float pcmPlain[576], pcmWide[576];
    synthesisPlain.SynthesiseGranule(plain, pcmPlain, 1);
    synthesisWide.SynthesiseGranule(wide, pcmWide, 1);
    ASSERT_EQ(std::memcmp(pcmPlain, pcmWide, sizeof pcmPlain), 0) << "synthesis, granule " << granule;
    mp3dec::SubbandBlock columnsPlain, columnsWide;
    mp3dec::Dct32Columns(plain, columnsPlain, false);
    mp3dec::Dct32Columns(plain, columnsWide, true);
    ASSERT_EQ(std::memcmp(columnsPlain, columnsWide, sizeof columnsPlain), 0) << "matrixing, granule " << granule;
  }
}

uint32_t SlowCrc(const uint8_t* bytes, size_t n, uint32_t poly, int width, uint32_t init) {
  uint32_t crc = init;
  const uint32_t top = 1u << (width - 1), mask = (1u << width) - 1;
  for (size_t i = 0; i < n; ++i) {
    for (int b = 7; b >= 0; --b) {
      const bool in = ((bytes[i] >> b) & 1) != 0;
      const bool out = (crc & top) != 0;
      crc = (crc << 1) & mask;
      if (in != out) crc ^= poly;
    }
  }
  return crc;
}

TEST(Mp3DecStages, NoiseGenerators) {
  // 1044180 = 0x000FEED4: twelve left shifts (negative signs) bring its top
  // bit to bit 31, then the register gives a positive sign.
  mp3dec::SignRegister signs;
  for (int i = 0; i < 12; ++i) EXPECT_EQ(signs.Next(), -1.0f) << i;
  EXPECT_EQ(signs.Next(), 1.0f);
  // The subtractive generator: uniform in [0, 1), reproducible from its
  // seed, mean near 1/2.
  mp3dec::SubtractiveRandom a(42), b(42);
  double sum = 0;
  for (int i = 0; i < 100000; ++i) {
    const double v = a.Next();
    ASSERT_GE(v, 0.0);
    ASSERT_LT(v, 1.0);
    ASSERT_EQ(v, b.Next());
    sum += v;
  }
  EXPECT_NEAR(sum / 100000, 0.5, 0.01);
}

}  // namespace

#include "mp3dec/analysis.h"

namespace {

TEST(Mp3DecStages, PeriodDetector) {
  mp3dec::PeriodDetector alternating, constant, none;
  for (int i = 0; i < 9; ++i) {
    alternating.Add(i % 2 ? 160000 : 128000);
    constant.Add(417);
  }
  for (uint32_t v : {1u, 2u, 3u, 4u, 5u}) none.Add(v);
  EXPECT_EQ(alternating.Period(), 2);
  EXPECT_EQ(alternating.PeriodSum(), 288000u);
  EXPECT_EQ(constant.Period(), 1);
  EXPECT_EQ(constant.PeriodSum(), 417u);
  EXPECT_EQ(none.Period(), 0);
}

// A 0xB4 delay/padding record: marker, delay (16 bits), total samples (32
// bits), two more bytes, then CRC-8 (polynomial 0x45, start 0xFF) of the
// nine bytes before it.
TEST(Mp3DecStages, TrimRecordSearch) {
  std::vector<uint8_t> anc = {0x00, 0x11, 0xB4, 0x02, 0x41, 0x00, 0x12, 0xD6, 0x87, 0x00, 0x00};
  anc.push_back(static_cast<uint8_t>(SlowCrc(anc.data() + 2, 9, 0x45, 8, 0xFF)));
  anc.push_back(0x55);
  uint32_t delay = 0;
  EXPECT_EQ(mp3dec::FindTrimRecord(anc.data(), anc.size(), &delay), 0x0012D687u);
  EXPECT_EQ(delay, 0x0241u);
  auto bad = anc;
  bad[11] ^= 1;
  EXPECT_EQ(mp3dec::FindTrimRecord(bad.data(), bad.size(), nullptr), 0u);
  std::vector<uint8_t> tagged = {'X', 'i', 'n', 'g'};
  tagged.insert(tagged.end(), anc.begin(), anc.end());
  EXPECT_EQ(mp3dec::FindTrimRecord(tagged.data(), tagged.size(), nullptr), 0u);
}

}  // namespace
