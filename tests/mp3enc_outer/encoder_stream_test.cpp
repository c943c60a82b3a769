// The whole encoder (interface, converter, core) over every request the
// interface accepts: the streams parse frame by frame, keep their constant
// bit rate, and decode without a single warning in mpg123 and ffmpeg. The
// converter's delay is checked in decoded audio by cross-correlation.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "mp3enc/encoder.h"
#include "mp3enc/frame_index.h"
#include "mp3enc/mp3s_enc.h"

namespace mp3enc {
namespace {

namespace fs = std::filesystem;

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

struct StreamFacts {
  bool valid = false;
  int frames = 0;
  int version = -1;
  int32_t sampleRate = 0;
  int channelMode = -1;
  int32_t lowestBitRate = 0;
  int32_t highestBitRate = 0;
  double averageBitRate = 0;
};

StreamFacts Parse(const std::vector<uint8_t>& b) {
  StreamFacts f;
  size_t pos = 0;
  double bits = 0, samples = 0;
  while (pos + 4 <= b.size()) {
    ParsedHeader p;
    const uint32_t h = (uint32_t{b[pos]} << 24) | (uint32_t{b[pos + 1]} << 16) |
                       (uint32_t{b[pos + 2]} << 8) | b[pos + 3];
    if (!ParseLayer3Header(h, &p)) return f;
    if (f.frames == 0) {
      f.version = p.version;
      f.sampleRate = p.sampleRate;
      f.channelMode = p.channelMode;
      f.lowestBitRate = f.highestBitRate = p.bitRate;
    } else if (p.version != f.version || p.sampleRate != f.sampleRate ||
               (p.channelMode == 3) != (f.channelMode == 3)) {
      return f;
    }
    f.lowestBitRate = std::min(f.lowestBitRate, p.bitRate);
    f.highestBitRate = std::max(f.highestBitRate, p.bitRate);
    bits += 8.0 * p.length;
    samples += p.samples;
    pos += static_cast<size_t>(p.length);
    ++f.frames;
  }
  f.valid = pos == b.size() && f.frames > 0;
  f.averageBitRate = bits * f.sampleRate / samples;
  return f;
}

std::string RunCapture(const std::string& command) {
  std::string text;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return "cannot run " + command;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) text.append(buffer, n);
  const int rc = pclose(p);
  if (rc != 0) text += "\nexit status " + std::to_string(rc);
  return text;
}

enum class Decoders { kFfmpeg, kMpg123 };

// The decoder's complaints about a stream; empty when clean.
std::string DecoderComplaints(const std::string& path, Decoders which) {
  std::string complaints;
  if (which == Decoders::kFfmpeg) {
    const std::string ff = RunCapture("ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1");
    if (!ff.empty()) complaints += "ffmpeg: " + ff;
    return complaints;
  }
  const std::string mpg = RunCapture("mpg123 -t '" + path + "' 2>&1");
  std::string line;
  for (size_t i = 0; i <= mpg.size(); ++i) {
    if (i == mpg.size() || mpg[i] == '\n') {
      for (const char* word : {"Note", "arning", "rror", "llegal", "kipped", "exit status"}) {
        if (line.find(word) != std::string::npos) {
          complaints += "mpg123: " + line + "\n";
          break;
        }
      }
      line.clear();
    } else {
      line += mpg[i];
    }
  }
  return complaints;
}

std::vector<int16_t> DecodeWithFfmpeg(const std::string& path, int channels) {
  const std::string raw = RunCapture("ffmpeg -nostdin -v error -i '" + path + "' -f s16le -ac " +
                                     std::to_string(channels) + " - 2>/dev/null");
  std::vector<int16_t> pcm(raw.size() / 2);
  std::memcpy(pcm.data(), raw.data(), pcm.size() * 2);
  return pcm;
}

fs::path TempDir() {
  const fs::path dir = fs::temp_directory_path() /
                       ("kestrune_mp3enc_stream_" +
                        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  fs::create_directories(dir);
  return dir;
}

bool WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(f);
}

constexpr int32_t kInputRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr int32_t kBitRates[] = {8000,   16000,  24000,  32000,  40000,  48000,
                                 56000,  64000,  80000,  96000,  112000, 128000,
                                 144000, 160000, 192000, 224000, 256000, 320000};
// The standard's bit rates of each version, bits/s (free format excluded).
bool IsStandardRate(int version, int32_t bitRate) {
  static const int32_t mpeg1[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
  static const int32_t mpeg2[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
  for (int32_t k : version == 0 ? std::vector<int32_t>(std::begin(mpeg1), std::end(mpeg1))
                                : std::vector<int32_t>(std::begin(mpeg2), std::end(mpeg2))) {
    if (k * 1000 == bitRate) return true;
  }
  return false;
}

// Encodes every request over the nine input rates, both channel counts,
// both policies, the CBR rates and the five levels, and checks each stream.
void CheckEveryRequest(Decoders decoder) {
  const fs::path dir = TempDir();
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
            EXPECT_GT(e.info.outputBufferNeed, 0);
            ++accepted;
            const StreamFacts f = Parse(e.bytes);
            ASSERT_TRUE(f.valid);
            EXPECT_EQ(f.sampleRate, e.info.sampleRate);
            EXPECT_EQ(f.channelMode == 3, channels == 1);
            // Stereo is always coded as joint stereo.
            if (channels == 2) {
              EXPECT_EQ(f.channelMode, 1);
            }
            for (size_t k = 0; k < 9; ++k) {
              if (kOutputRateCandidates[k] == f.sampleRate) outputRateSeen[k] = true;
            }
            // At least the signal's length comes out.
            const double frameSamples = f.version == 0 ? 1152.0 : 576.0;
            EXPECT_GE(f.frames * frameSamples, 0.6 * f.sampleRate);
            if (level == 0 && IsStandardRate(f.version, requested)) {
              EXPECT_EQ(f.lowestBitRate, requested);
              EXPECT_EQ(f.highestBitRate, requested);
              EXPECT_NEAR(f.averageBitRate, requested, requested * 0.003);
            }
            const fs::path file = dir / "stream.mp3";
            ASSERT_TRUE(WriteFile(file, e.bytes));
            EXPECT_EQ(DecoderComplaints(file.string(), decoder), "");
          }
        }
      }
    }
  }
  // Every output rate the choice can make has a converter within the
  // filter limit (status 3 never comes).
  std::printf("%d requests encoded, %d without a bit-rate class\n", accepted, refused);
  for (size_t k = 0; k < 9; ++k) EXPECT_TRUE(outputRateSeen[k]) << kOutputRateCandidates[k];
  fs::remove_all(dir);
}

TEST(EncoderStreams, EveryAcceptedRequestGivesValidFramesFfmpegAccepts) {
  CheckEveryRequest(Decoders::kFfmpeg);
}

// mpg123 checks what ffmpeg lets pass, e.g. a granule whose Huffman data
// runs past its 12-bit part2_3_length ("dequantization failed!").
TEST(EncoderStreams, EveryAcceptedRequestDecodesCleanlyInMpg123) {
  CheckEveryRequest(Decoders::kMpg123);
}

// Lag (in samples) at which b best matches a, searched in [0, maxLag].
int BestLag(const std::vector<double>& a, const std::vector<double>& b, int maxLag) {
  int best = 0;
  double bestScore = -1e300;
  for (int lag = 0; lag <= maxLag; ++lag) {
    double s = 0;
    for (size_t i = 0; i + static_cast<size_t>(lag) < b.size() && i < a.size(); ++i) {
      s += a[i] * b[i + static_cast<size_t>(lag)];
    }
    if (s > bestScore) {
      bestScore = s;
      best = lag;
    }
  }
  return best;
}

TEST(EncoderStreams, ConverterDelayIsWhereTheInformationSaysItIs) {
  // The same band-limited noise burst (below 8 kHz) at 44100 Hz and, by
  // taking every second sample, at 22050 Hz. Both become 44100 Hz streams;
  // the second passes the converter, so it arrives later by the converter's
  // delay, which the stream information adds to the core's.
  const int32_t frames = 44100;
  std::mt19937 rng(5);
  std::normal_distribution<double> noise(0.0, 1.0);
  std::vector<double> raw(frames, 0.0), burst(frames, 0.0);
  for (int i = 10000; i < 14000; ++i) raw[i] = noise(rng);
  // Low-pass by a windowed sinc at 8 kHz.
  const int half = 64;
  for (int i = 0; i < frames; ++i) {
    double s = 0;
    for (int k = -half; k <= half; ++k) {
      if (i + k < 0 || i + k >= frames) continue;
      const double x = 2.0 * 8000.0 / 44100.0 * k;
      const double sinc = k == 0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
      const double w = 0.5 + 0.5 * std::cos(std::numbers::pi * k / (half + 1));
      s += raw[i + k] * 2.0 * 8000.0 / 44100.0 * sinc * w;
    }
    burst[i] = 0.3 * s;
  }
  std::vector<float> full(frames), halfRate(frames / 2);
  for (int i = 0; i < frames; ++i) full[i] = static_cast<float>(burst[i]);
  for (int i = 0; i < frames / 2; ++i) halfRate[i] = static_cast<float>(burst[2 * i]);

  const Encoded direct = Encode(full, 44100, 128000, 1, 0, 0);
  const Encoded converted = Encode(halfRate, 22050, 128000, 1, 0, 0);
  ASSERT_EQ(direct.prepareStatus, 0);
  ASSERT_EQ(converted.prepareStatus, 0);
  ASSERT_EQ(converted.info.sampleRate, 44100);
  const int converterDelay = converted.info.delay - direct.info.delay;
  EXPECT_GT(converterDelay, 0);

  const fs::path dir = TempDir();
  ASSERT_TRUE(WriteFile(dir / "direct.mp3", direct.bytes));
  ASSERT_TRUE(WriteFile(dir / "converted.mp3", converted.bytes));
  const std::vector<int16_t> a = DecodeWithFfmpeg((dir / "direct.mp3").string(), 1);
  const std::vector<int16_t> b = DecodeWithFfmpeg((dir / "converted.mp3").string(), 1);
  fs::remove_all(dir);
  std::vector<double> ref(burst.begin(), burst.end()), da(a.begin(), a.end()), db(b.begin(), b.end());
  const int lagDirect = BestLag(ref, da, 4000);
  const int lagConverted = BestLag(ref, db, 4000);
  std::printf("decoded lag: direct %d, converted %d; reported delays %d and %d\n", lagDirect,
              lagConverted, direct.info.delay, converted.info.delay);
  EXPECT_EQ(lagConverted - lagDirect, converterDelay);
  // ffmpeg starts its output at the first frame's first sample, so the
  // decoded lag is the total delay the information reports.
  EXPECT_EQ(lagDirect, direct.info.delay);
  EXPECT_EQ(lagConverted, converted.info.delay);
}

}  // namespace
}  // namespace mp3enc
