// Whole streams against mpg123, ffmpeg and our own decoder. The core alone
// over every output rate, mode, constant bit rate and quality it accepts;
// the whole encoder (interface, converter, core) over every request the
// interface accepts. Every stream parses frame by frame, keeps its constant
// bit rate, decodes without a single warning and decodes alike in our
// decoder. And the variable-bit-rate levels: on music-like material every
// level averages near its nominal rate, on noise it stays under its
// ceiling, and the levels are strictly ordered (average rates from the
// streams' frame headers).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "mp3enc/encoder.h"
#include "mp3enc/fft.h"
#include "mp3enc/mp3s_enc.h"
#include "tests/mp3enc_core/core_test_util.h"
#include "tools/qualityset/music_mixture.h"

namespace mp3enc {
namespace {

using namespace kestrune::testing;

// A test signal: two tones, a sweep and some noise, at 0.4 of full scale,
// with a short silence at the start.
std::vector<float> TestSignal(int32_t rate, int32_t channels, double seconds) {
  const size_t frames = static_cast<size_t>(rate * seconds);
  std::vector<float> x(frames * static_cast<size_t>(channels));
  std::mt19937 rng(11);
  std::normal_distribution<double> noise(0.0, 0.02);
  const double top = 0.45 * rate;
  for (size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double sweep = std::sin(2 * std::numbers::pi * (100 * t + 0.5 * (top - 100) * t * t / seconds));
    for (int32_t c = 0; c < channels; ++c) {
      const double tone = std::sin(2 * std::numbers::pi * (330.0 + 110.0 * c) * t);
      const double v = i < frames / 20 ? 0.0 : 0.2 * tone + 0.15 * sweep + noise(rng);
      x[i * static_cast<size_t>(channels) + static_cast<size_t>(c)] = static_cast<float>(v);
    }
  }
  return x;
}

struct Encoded {
  int32_t openStatus = -1;
  int32_t prepareStatus = -1;
  int32_t encodeStatus = 0;
  int32_t ancillaryBytes = -1;
  Mp3sEncInfo info{};
  std::vector<uint8_t> bytes;
};

// Feeds the samples in uneven chunks, then flushes until a call writes
// nothing, as the encode pipeline does.
Encoded Encode(std::vector<float> x, int32_t rate, int32_t bitRate, int32_t channels,
               int32_t policy, int32_t level) {
  Encoded e;
  Mp3sEncHandle h = nullptr;
  e.openStatus = Mp3sEncOpen(&h, rate, bitRate, channels, policy, level);
  if (e.openStatus != 0) return e;
  int32_t block = 0;
  e.prepareStatus = Mp3sEncPrepare(h, &block);
  if (e.prepareStatus != 0) return e;
  Mp3sEncGetInfo(&e.info, h);
  e.ancillaryBytes = Mp3sEncGetAncillaryBytes(h);
  std::vector<uint8_t> out(8192);
  size_t offset = 0;
  int32_t chunk = 777;
  for (int calls = 0; calls < 100000; ++calls) {
    int32_t count = static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(chunk), x.size() - offset));
    const int32_t asked = count;
    int32_t next = 0, bytes = 0;
    e.encodeStatus = Mp3sEncEncode(h, count > 0 ? x.data() + offset : nullptr, &count, &next,
                                   8192, out.data(), &bytes);
    if (e.encodeStatus != 0) break;
    offset += static_cast<size_t>(asked - count);
    e.bytes.insert(e.bytes.end(), out.begin(), out.begin() + bytes);
    if (asked == 0 && bytes == 0) break;
    chunk = chunk == 777 ? next : 777;
  }
  Mp3sEncClose(h);
  return e;
}

constexpr int32_t kInputRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr int32_t kBitRates[] = {8000,   16000,  24000,  32000,  40000,  48000,
                                 56000,  64000,  80000,  96000,  112000, 128000,
                                 144000, 160000, 192000, 224000, 256000, 320000};
// The standard's bit rates of each version, bits/s (free format excluded).
bool IsStandardRate(int version, int32_t bitRate) {
  constexpr int32_t mpeg1[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
  constexpr int32_t mpeg2[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
  const auto is = [&](int32_t k) { return k * 1000 == bitRate; };
  return version == 0 ? std::ranges::any_of(mpeg1, is) : std::ranges::any_of(mpeg2, is);
}

// What every stream must be: whole frames without CRC, mono as mono and
// stereo as joint stereo (mono without a mode extension), no complaint from
// mpg123 or ffmpeg, and our decoder through cleanly, as long as ffmpeg's
// decoding and agreeing with one reference (the two differ from each other
// on corner cases: the 24 kHz band table, long granules whose big_values
// reach line 576). Agreement rules out, for one, a coded band that needs a
// gain outside the decoder's table.
StreamFacts CheckStream(const std::vector<uint8_t>& mp3, int channels, const std::string& file) {
  const StreamFacts f = ParseMp3Stream(mp3);
  EXPECT_TRUE(f.valid);
  if (!f.valid) return f;
  for (const size_t at : f.starts) {
    EXPECT_EQ(mp3[at + 1] & 1, 1) << at;
    EXPECT_EQ(mp3[at + 3] >> 6, channels == 1 ? 3 : 1) << at;
    if (channels == 1) { EXPECT_EQ((mp3[at + 3] >> 4) & 3, 0) << at; }
  }
  WriteBytes(file, mp3);
  const ReferenceDecodings references = DecodeWithReferences(file);
  EXPECT_EQ(references.complaints, "");
  const DecodeRun own = DecodeStream(mp3);
  EXPECT_TRUE(own.Clean());
  EXPECT_GE(own.pcm.size() + 2304 * 2, references.ffmpeg.size());
  EXPECT_LT(std::min(DisagreeingShare(own.pcm, references.ffmpeg),
                     DisagreeingShare(own.pcm, references.mpg123)),
            0.001);
  return f;
}

// The core over every sampling rate, channel count, bit rate and quality:
// a request is refused exactly when its frames cannot be formed (above
// 64 kbit/s at MPEG-2.5 rates) or give a channel less than 8 kbit/s.
TEST(EncoderStreams, CoreOverEveryRateModeAndBitRateDecodesCleanly) {
  TempDir dir;
  for (int32_t rate : kInputRates) {
    for (int channels : {1, 2}) {
      // The sweep reaches the top band, where a core coding a band edge
      // inside sfb21 at 320 kbit/s must still cover every granule that
      // takes stuffing (stuffing read as count1 values splits decoders).
      coretest::Signal sig;
      sig.channels = channels;
      for (float v : TestSignal(rate, channels, 1.5)) sig.samples.push_back(v * 32768.0f);
      const int version = rate > 24000 ? 0 : rate > 12000 ? 1 : 2;
      for (int32_t bitRate : kBitRates) {
        if (!IsStandardRate(version == 0 ? 0 : 1, bitRate)) continue;
        SCOPED_TRACE(::testing::Message() << "core, " << rate << " Hz, " << channels << " ch, "
                                          << bitRate << " bit/s");
        std::vector<uint8_t> mp3;
        const bool ok = coretest::Encode(coretest::Settings(rate, channels, bitRate), sig, true, &mp3);
        ASSERT_EQ(ok, (rate > 12000 || bitRate <= 64000) && bitRate / channels >= 8000);
        if (!ok) continue;
        const StreamFacts f = CheckStream(mp3, channels, dir / "core.mp3");
        ASSERT_GT(f.frames, 10);
        EXPECT_EQ(f.version, version);
        const double seconds = f.frames * (version == 0 ? 1152.0 : 576.0) / rate;
        EXPECT_NEAR(f.averageBitRate, bitRate, bitRate * 0.002 + 8.0 / seconds);
      }
      for (int q : {100, 80, 60, 50, 40}) {
        SCOPED_TRACE(::testing::Message() << "core, " << rate << " Hz, " << channels << " ch, V" << q);
        std::vector<uint8_t> mp3;
        ASSERT_TRUE(coretest::Encode(coretest::Settings(rate, channels, 0, q), sig, true, &mp3));
        EXPECT_EQ(CheckStream(mp3, channels, dir / "core.mp3").version, version);
      }
    }
  }
}

// Every request over the nine input rates, both channel counts, both
// policies, the CBR rates and the five levels: each stream parses frame by
// frame, keeps its constant bit rate and decodes cleanly in ffmpeg and
// mpg123.
TEST(EncoderStreams, EveryAcceptedRequestGivesValidFramesThatDecodeCleanly) {
  TempDir dir;
  const std::string file = dir / "stream.mp3";
  int accepted = 0, refused = 0;
  std::vector<bool> outputRateSeen(9, false);
  for (int32_t rate : kInputRates) {
    for (int32_t channels = 1; channels <= 2; ++channels) {
      const std::vector<float> signal = TestSignal(rate, channels, 0.6);
      for (int32_t policy = 0; policy <= 1; ++policy) {
        for (int32_t level = 0; level <= 5; ++level) {
          for (int32_t bitRate : kBitRates) {
            if (level != 0 && bitRate != kBitRates[0]) continue;  // one pass per level
            const int32_t requested = level != 0 ? 0 : bitRate;
            SCOPED_TRACE(::testing::Message() << rate << " Hz, " << channels << " ch, policy "
                                              << policy << ", level " << level << ", "
                                              << requested << " bit/s");
            const Encoded e = Encode(signal, rate, requested, channels, policy, level);
            if (e.openStatus == 2) {
              // No bit-rate class for the request.
              EXPECT_EQ(FindRateClass(level != 0 ? NominalBitRate(level, channels) : requested,
                                      channels), nullptr);
              ++refused;
              continue;
            }
            ASSERT_EQ(e.openStatus, 0);
            ASSERT_EQ(e.prepareStatus, 0);
            ASSERT_EQ(e.encodeStatus, 0);
            EXPECT_EQ(e.ancillaryBytes, 8);
            EXPECT_EQ(e.info.inputChannels, channels);
            EXPECT_EQ(e.info.encodedChannels, channels);
            ++accepted;
            const StreamFacts f = CheckStream(e.bytes, channels, file);
            if (!f.valid) continue;
            EXPECT_EQ(f.sampleRate, e.info.sampleRate);
            for (size_t k = 0; k < 9; ++k) {
              if (kOutputRateCandidates[k] == f.sampleRate) outputRateSeen[k] = true;
            }
            // At least the signal's length comes out.
            EXPECT_GE(f.frames * (f.version == 0 ? 1152.0 : 576.0), 0.6 * f.sampleRate);
            if (level == 0 && IsStandardRate(f.version, requested)) {
              EXPECT_EQ(f.lowestBitRate, requested);
              EXPECT_EQ(f.highestBitRate, requested);
              EXPECT_NEAR(f.averageBitRate, requested, requested * 0.003);
            }
          }
        }
      }
    }
  }
  // Every output rate the choice can make has a converter within the
  // filter limit (status 3 never comes).
  std::printf("%d requests encoded, %d without a bit-rate class\n", accepted, refused);
  for (size_t k = 0; k < 9; ++k) EXPECT_TRUE(outputRateSeen[k]) << kOutputRateCandidates[k];
}

constexpr int32_t kRate = 44100;
constexpr double kSeconds = 6.0;

// The music-like mixture of the quality tools, stereo or down-mixed.
std::vector<float> Music(int channels) {
  const auto frames = static_cast<size_t>(kRate * kSeconds);
  std::vector<float> x = kestrune::quality::MusicMixture(kRate, frames);
  if (channels == 1) {
    for (size_t i = 0; i < frames; ++i) x[i] = 0.5f * (x[2 * i] + x[2 * i + 1]);
    x.resize(frames);
  }
  return x;
}

// Independent white noise per channel at -16 dB of full scale: every band
// is busy and nothing masks it.
std::vector<float> Noise(int channels) {
  const size_t n = static_cast<size_t>(kRate * kSeconds) * static_cast<size_t>(channels);
  std::vector<float> x(n);
  std::mt19937 rng(5);
  std::normal_distribution<double> noise(0.0, 0.15);
  for (float& v : x) v = static_cast<float>(noise(rng));
  return x;
}

// Average bit rate (kbit/s) of a whole encode at a quality level, from the
// stream's frame headers; -1 when the stream does not parse.
double AverageKbps(const std::vector<float>& x, int channels, int level) {
  const StreamFacts f = ParseMp3Stream(Encode(x, kRate, 0, channels, 0, level).bytes);
  return f.valid ? f.averageBitRate / 1000.0 : -1;
}

TEST(EncoderVbr, LevelsAverageNearNominalOnMusicAndStayUnderTheCeilingOnNoise) {
  // Nominal averages of levels 1 to 5 (kbit/s). Mono level 5 aims below
  // level 4 so that the levels stay ordered.
  const double nominal[2][5] = {{96, 80, 70, 64, 56}, {192, 160, 140, 128, 96}};
  // The ceiling holds the long-run average at 1.25 x nominal; a bank of one
  // second of that excess may be spent on top, spread here over 6 s.
  const double ceiling = 1.25 + 0.25 / kSeconds;
  for (int channels = 1; channels <= 2; ++channels) {
    const std::vector<float> music = Music(channels);
    const std::vector<float> noise = Noise(channels);
    double lastMusic = 1e9;
    double lastNoise = 1e9;
    for (int level = 1; level <= 5; ++level) {
      const double want = nominal[channels - 1][level - 1];
      const double m = AverageKbps(music, channels, level);
      const double n = AverageKbps(noise, channels, level);
      SCOPED_TRACE(::testing::Message() << channels << " channel(s), level " << level
                                      << ": music " << m << ", noise " << n << " kbit/s");
      EXPECT_GE(m, 0.75 * want);
      EXPECT_LE(m, 1.25 * want);
      EXPECT_LE(n, ceiling * want);
      // Noise has no masking to hide behind: it takes at least the floor.
      EXPECT_GE(n, 0.5 * want);
      EXPECT_LT(m, lastMusic);
      EXPECT_LT(n, lastNoise);
      lastMusic = m;
      lastNoise = n;
    }
  }
}

// Mean power per FFT bin between lo and hi Hz of interleaved samples (all
// channels), from Hann-windowed blocks of 2048.
template <typename T>
double BandPower(const std::vector<T>& x, int channels, double rate, double lo, double hi) {
  constexpr int kSize = 2048;
  PowerSpectrum fft(kSize);
  std::vector<float> block(kSize);
  std::vector<float> power(kSize / 2 + 1);
  double sum = 0.0;
  int count = 0;
  const size_t frames = x.size() / static_cast<size_t>(channels);
  for (int c = 0; c < channels; ++c) {
    for (size_t start = 0; start + kSize <= frames; start += kSize) {
      for (int i = 0; i < kSize; ++i) {
        block[i] = static_cast<float>(x[(start + static_cast<size_t>(i)) * static_cast<size_t>(channels) +
                                        static_cast<size_t>(c)]);
      }
      fft.Transform(block.data(), power.data());
      for (int k = 0; k <= kSize / 2; ++k) {
        const double hz = k * rate / kSize;
        if (hz < lo || hz > hi) continue;
        sum += power[k];
        ++count;
      }
    }
  }
  return count > 0 ? sum / count : 0.0;
}

// The bandwidth is a passband edge: the stream carries the transition band a
// tenth above it (the band the converter's filter lets through) at full
// level, and nothing beyond. An upsampled input has nothing of its own above
// its half rate: the converter's images there stay out of the stream.
TEST(EncoderBandwidth, TransitionBandIsCodedAndUpsamplingImagesAreNot) {
  TempDir dir;
  std::mt19937 rng(5);
  std::normal_distribution<double> noise(0.0, 0.1);
  auto whiteNoise = [&](int32_t rate, int32_t channels) {
    std::vector<float> x(static_cast<size_t>(rate) * 3 * static_cast<size_t>(channels));
    for (float& v : x) v = static_cast<float>(noise(rng));
    return x;
  };
  // Encodes stereo at 128 kbit/s and returns mpg123's decoding.
  auto encodeAndDecode = [&](const std::vector<float>& x, int32_t rate, float bandwidth,
                             int32_t outputRate) {
    const Encoded e = Encode(x, rate, 128000, 2, 0, 0);
    EXPECT_EQ(e.encodeStatus, 0);
    EXPECT_EQ(e.info.bandwidth, bandwidth);
    EXPECT_EQ(e.info.sampleRate, outputRate);
    WriteBytes(dir / "band.mp3", e.bytes);
    const ReferenceDecodings d = DecodeWithReferences(dir / "band.mp3");
    EXPECT_EQ(d.complaints, "");
    return d.mpg123;
  };
  // 48 kHz: no conversion, bandwidth 15804 Hz, coded to 17384 Hz.
  const std::vector<float> wide = whiteNoise(48000, 2);
  const std::vector<int16_t> w = encodeAndDecode(wide, 48000, 15804.0f, 48000);
  ASSERT_FALSE(w.empty());
  const double in = BandPower(wide, 2, 48000, 1000, 15000) * 32768.0 * 32768.0;
  EXPECT_GT(BandPower(w, 2, 48000, 1000, 15000), 0.5 * in);  // the passband
  EXPECT_GT(BandPower(w, 2, 48000, 16100, 17200), 0.5 * in);  // the transition band
  EXPECT_LT(BandPower(w, 2, 48000, 18000, 23000), 1e-4 * in);  // above it

  // 22050 Hz: upsampled to 44100 Hz, bandwidth 11025 Hz.
  const std::vector<float> narrow = whiteNoise(22050, 2);
  const std::vector<int16_t> n = encodeAndDecode(narrow, 22050, 11025.0f, 44100);
  ASSERT_FALSE(n.empty());
  // The same power over half the bins of the doubled rate: twice per bin.
  const double pass = BandPower(n, 2, 44100, 1000, 10000);
  EXPECT_GT(pass, 2.0 * 0.5 * BandPower(narrow, 2, 22050, 1000, 10000) * 32768.0 * 32768.0);
  // Coded, the images just above 11025 Hz would keep a third of that.
  EXPECT_LT(BandPower(n, 2, 44100, 11200, 12100), 1e-3 * pass);
}

// One channel at 64 kbit/s at 44.1 or 48 kHz carries the bits per channel of
// stereo at 128 kbit/s: the stream carries the band up to 17 kHz, while the
// reported bandwidth stays the rate table's 13458 Hz. At 32 kHz the coded band
// ends a tenth above the bandwidth (14.8 kHz), as for every other rate.
TEST(EncoderBandwidth, MonoAt64kCodesTo17kHzAtTheFullRates) {
  TempDir dir;
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0.0, 0.1);
  auto measure = [&](int32_t rate, double lo, double hi) {
    std::vector<float> x(static_cast<size_t>(rate) * 3);
    for (float& v : x) v = static_cast<float>(noise(rng));
    const Encoded e = Encode(x, rate, 64000, 1, 0, 0);
    EXPECT_EQ(e.encodeStatus, 0);
    EXPECT_EQ(e.info.bandwidth, 13458.0f);
    EXPECT_EQ(e.info.sampleRate, rate);
    WriteBytes(dir / "mono.mp3", e.bytes);
    const ReferenceDecodings d = DecodeWithReferences(dir / "mono.mp3");
    EXPECT_EQ(d.complaints, "");
    EXPECT_FALSE(d.mpg123.empty());
    const double in = BandPower(x, 1, rate, lo, hi) * 32768.0 * 32768.0;
    return BandPower(d.mpg123, 1, rate, lo, hi) / in;
  };
  for (const int32_t rate : {48000, 44100}) {
    SCOPED_TRACE(rate);
    EXPECT_GT(measure(rate, 1000, 13000), 0.5);     // the passband
    EXPECT_GT(measure(rate, 15400, 16900), 0.5);    // the wider band
    EXPECT_LT(measure(rate, 17300, 21000), 1e-4);   // above it
  }
  EXPECT_LT(measure(32000, 15200, 15900), 1e-4);    // 32 kHz: up to 14.8 kHz only
}

}  // namespace
}  // namespace mp3enc
