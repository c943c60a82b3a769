// WAVE to MP3: the program's output checked frame by frame and by mpg123 and
// ffmpeg, the options "b", "m" and "q", the files the header scan refuses,
// the data-size rules, and progress and stop on the conversion object.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "codecs/wave_to_mp3.h"
#include "mp3enc/frame_index.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace {

using kestrune::testing::RunProgram;
using kestrune::testing::TempDir;
namespace fs = std::filesystem;

void PutLe(std::vector<uint8_t>* b, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutId(std::vector<uint8_t>* b, const char* id) { b->insert(b->end(), id, id + 4); }

// A WAVE file: RIFF header, a 16-byte fmt chunk, the data chunk with the
// given size field, the sample bytes, then any trailing bytes.
std::vector<uint8_t> Wave(int rate, int channels, int bits, const std::vector<uint8_t>& data,
                          uint32_t dataSizeField, const std::vector<uint8_t>& trailing = {}) {
  std::vector<uint8_t> b;
  PutId(&b, "RIFF");
  PutLe(&b, static_cast<uint32_t>(36 + data.size() + trailing.size()), 4);
  PutId(&b, "WAVE");
  PutId(&b, "fmt ");
  PutLe(&b, 16, 4);
  PutLe(&b, 1, 2);
  PutLe(&b, static_cast<uint32_t>(channels), 2);
  PutLe(&b, static_cast<uint32_t>(rate), 4);
  PutLe(&b, static_cast<uint32_t>(rate * channels * bits / 8), 4);
  PutLe(&b, static_cast<uint32_t>(channels * bits / 8), 2);
  PutLe(&b, static_cast<uint32_t>(bits), 2);
  PutId(&b, "data");
  PutLe(&b, dataSizeField, 4);
  b.insert(b.end(), data.begin(), data.end());
  b.insert(b.end(), trailing.begin(), trailing.end());
  return b;
}

// 16-bit samples of a two-tone signal (different per channel).
std::vector<uint8_t> Pcm16(int rate, int channels, double seconds, double amplitude = 0.5) {
  std::vector<uint8_t> b;
  const int frames = static_cast<int>(rate * seconds);
  for (int i = 0; i < frames; ++i) {
    for (int c = 0; c < channels; ++c) {
      const double t = static_cast<double>(i) / rate;
      const double v = amplitude * (0.7 * std::sin(2 * std::numbers::pi * (440.0 + 220.0 * c) * t) +
                                    0.3 * std::sin(2 * std::numbers::pi * 3000.0 * t));
      PutLe(&b, static_cast<uint16_t>(static_cast<int16_t>(std::lround(v * 32767))), 2);
    }
  }
  return b;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

struct Stream {
  bool valid = false;
  int frames = 0;
  int32_t sampleRate = 0;
  int version = -1;
  int channelMode = -1;
  int32_t lowestBitRate = 0;
  int32_t highestBitRate = 0;
};

Stream ParseStream(const std::vector<uint8_t>& b) {
  Stream s;
  size_t pos = 0;
  while (pos + 4 <= b.size()) {
    mp3enc::ParsedHeader p;
    const uint32_t h = (uint32_t{b[pos]} << 24) | (uint32_t{b[pos + 1]} << 16) |
                       (uint32_t{b[pos + 2]} << 8) | b[pos + 3];
    if (!mp3enc::ParseLayer3Header(h, &p)) return s;
    if (s.frames == 0) {
      s.sampleRate = p.sampleRate;
      s.version = p.version;
      s.channelMode = p.channelMode;
      s.lowestBitRate = s.highestBitRate = p.bitRate;
    }
    s.lowestBitRate = std::min(s.lowestBitRate, p.bitRate);
    s.highestBitRate = std::max(s.highestBitRate, p.bitRate);
    pos += static_cast<size_t>(p.length);
    ++s.frames;
  }
  s.valid = s.frames > 0 && pos == b.size();
  return s;
}

std::string Capture(const std::string& command) {
  std::string text;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return "cannot run";
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) text.append(buffer, n);
  if (pclose(p) != 0) text += "\n(exit status)";
  return text;
}

// Decoded by ffmpeg to 16-bit samples; its complaints, if any, in *errors.
std::vector<int16_t> Decode(const std::string& path, int channels, std::string* errors) {
  *errors = Capture("ffmpeg -nostdin -v error -i '" + path + "' -f s16le -ac " +
                    std::to_string(channels) + " - 2>&1 >/dev/null");
  const std::string raw = Capture("ffmpeg -nostdin -v quiet -i '" + path + "' -f s16le -ac " +
                                  std::to_string(channels) + " -");
  std::vector<int16_t> pcm(raw.size() / 2);
  std::memcpy(pcm.data(), raw.data(), pcm.size() * 2);
  const std::string mpg = Capture("mpg123 -t '" + path + "' 2>&1");
  for (const char* word : {"Note", "arning", "rror", "llegal", "kipped", "(exit status)"}) {
    if (mpg.find(word) != std::string::npos) *errors += "mpg123: " + mpg;
  }
  return pcm;
}

TEST(WaveToMp3Program, EncodesAndDecodersAgree) {
  TempDir dir;
  const std::vector<uint8_t> pcm = Pcm16(44100, 2, 1.5);
  WriteFile(dir / "in.wav", Wave(44100, 2, 16, pcm, static_cast<uint32_t>(pcm.size())));
  const auto r = RunProgram(KESTRUNE_BINARY, {"in.wav", "out.mp3"}, dir.str());
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  const std::vector<uint8_t> mp3 = ReadFile(dir / "out.mp3");
  const Stream s = ParseStream(mp3);
  ASSERT_TRUE(s.valid);
  EXPECT_EQ(s.version, 0);
  EXPECT_EQ(s.sampleRate, 44100);
  EXPECT_EQ(s.channelMode, 1);  // joint stereo
  EXPECT_EQ(s.lowestBitRate, 128000);  // -b defaults to 128
  EXPECT_EQ(s.highestBitRate, 128000);
  std::string errors;
  const std::vector<int16_t> decoded = Decode(dir / "out.mp3", 2, &errors);
  EXPECT_EQ(errors, "");
  // The decoded signal is the input delayed by the encoder's 1201 samples.
  const size_t delay = 1201;
  const size_t frames = pcm.size() / 4;
  ASSERT_GE(decoded.size() / 2, frames + delay);
  double signal = 0, noise = 0;
  for (size_t i = 2000; i < frames - 2000; ++i) {
    for (size_t c = 0; c < 2; ++c) {
      const double x = static_cast<int16_t>(pcm[4 * i + 2 * c] | (pcm[4 * i + 2 * c + 1] << 8));
      const double y = decoded[2 * (i + delay) + c];
      signal += x * x;
      noise += (y - x) * (y - x);
    }
  }
  const double snr = 10 * std::log10(signal / noise);
  std::printf("round trip SNR at 128 kbit/s: %.1f dB\n", snr);
  EXPECT_GT(snr, 20.0);
}

TEST(WaveToMp3Program, OptionsBitRateLevelAndPolicy) {
  TempDir dir;
  const std::vector<uint8_t> pcm = Pcm16(48000, 2, 1.0);
  WriteFile(dir / "in.wav", Wave(48000, 2, 16, pcm, static_cast<uint32_t>(pcm.size())));
  struct Case {
    std::vector<std::string> options;
    int32_t sampleRate;
    int32_t lowest, highest;  // 0: variable, not checked
  };
  const Case cases[] = {
      {{"-b192"}, 48000, 192000, 192000},
      {{"-b64"}, 24000, 64000, 64000},  // stereo 64 kbit/s: 22050-24000 Hz
      {{"-b128", "-q1"}, 44100, 128000, 128000},  // the narrow range
      {{"-m2", "-b999"}, 48000, 0, 0},            // "b" is ignored with "m"
      {{"-m5"}, 32000, 0, 0},  // level 5 stands for 96 kbit/s: 32000-44100 Hz
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options[0] + (c.options.size() > 1 ? " " + c.options[1] : ""));
    std::vector<std::string> args = {"in.wav", "out.mp3"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    fs::remove(dir / "out.mp3");
    const auto r = RunProgram(KESTRUNE_BINARY, args, dir.str());
    EXPECT_EQ(r.exitCode, 0);
    const Stream s = ParseStream(ReadFile(dir / "out.mp3"));
    ASSERT_TRUE(s.valid);
    EXPECT_EQ(s.sampleRate, c.sampleRate);
    if (c.lowest != 0) {
      EXPECT_EQ(s.lowestBitRate, c.lowest);
      EXPECT_EQ(s.highestBitRate, c.highest);
    }
    std::string errors;
    Decode(dir / "out.mp3", 2, &errors);
    EXPECT_EQ(errors, "");
  }
  // Requests the encoder refuses leave an empty output file, which counts
  // as done: a bit rate below the stereo classes, a level out of range, a
  // rate policy other than 0 and 1.
  for (const std::string option : {"-b8", "-m6", "-q2"}) {
    SCOPED_TRACE(option);
    fs::remove(dir / "out.mp3");
    const auto r = RunProgram(KESTRUNE_BINARY, {"in.wav", "out.mp3", option}, dir.str());
    EXPECT_EQ(r.exitCode, 0);
    ASSERT_TRUE(fs::exists(dir / "out.mp3"));
    EXPECT_EQ(fs::file_size(dir / "out.mp3"), 0u);
  }
}

TEST(WaveToMp3Program, HeaderScanRefusalsMakeNoOutput) {
  TempDir dir;
  const std::vector<uint8_t> pcm = Pcm16(44100, 1, 0.2);
  std::vector<uint8_t> noData = Wave(44100, 1, 16, {}, 0);
  noData.resize(noData.size() - 8);  // drop the data chunk's header
  std::vector<uint8_t> pcm24(pcm.size() / 2 * 3, 0);
  std::vector<uint8_t> truncated = Wave(44100, 1, 16, pcm, 0);
  truncated.resize(30);
  const std::vector<std::vector<uint8_t>> refused = {
      Wave(44100, 1, 8, std::vector<uint8_t>(pcm.begin(), pcm.begin() + pcm.size() / 2),
           static_cast<uint32_t>(pcm.size() / 2)),
      Wave(44100, 1, 24, pcm24, static_cast<uint32_t>(pcm24.size())),
      noData,
      truncated,
  };
  for (size_t i = 0; i < refused.size(); ++i) {
    SCOPED_TRACE(i);
    WriteFile(dir / "in.wav", refused[i]);
    fs::remove(dir / "out.mp3");
    const auto r = RunProgram(KESTRUNE_BINARY, {"in.wav", "out.mp3"}, dir.str());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(fs::exists(dir / "out.mp3"));
  }
}

TEST(WaveToMp3Program, DataSizeRules) {
  TempDir dir;
  const std::vector<uint8_t> pcm = Pcm16(32000, 1, 0.5);
  auto encode = [&](const std::vector<uint8_t>& wave) {
    WriteFile(dir / "in.wav", wave);
    fs::remove(dir / "out.mp3");
    RunProgram(KESTRUNE_BINARY, {"in.wav", "out.mp3", "-b64"}, dir.str());
    return ReadFile(dir / "out.mp3");
  };
  const std::vector<uint8_t> reference = encode(Wave(32000, 1, 16, pcm, static_cast<uint32_t>(pcm.size())));
  ASSERT_TRUE(ParseStream(reference).valid);
  // An odd data size: the last byte is never read.
  std::vector<uint8_t> odd = pcm;
  odd.push_back(0x7F);
  EXPECT_EQ(encode(Wave(32000, 1, 16, odd, static_cast<uint32_t>(odd.size()))), reference);
  // A chunk after the data is not encoded.
  std::vector<uint8_t> list;
  PutId(&list, "LIST");
  PutLe(&list, 4000, 4);
  for (int i = 0; i < 4000; ++i) list.push_back(static_cast<uint8_t>(i * 37));
  EXPECT_EQ(encode(Wave(32000, 1, 16, pcm, static_cast<uint32_t>(pcm.size()), list)), reference);
  // A size field larger than the file: reading stops at the end.
  EXPECT_EQ(encode(Wave(32000, 1, 16, pcm, 0x7FFFFFF0u)), reference);
  // No samples at all (a chunk follows, so that the scan finds 'data'):
  // the flush alone gives a short, valid stream.
  const Stream empty = ParseStream(encode(Wave(32000, 1, 16, {}, 0, list)));
  EXPECT_TRUE(empty.valid);
  EXPECT_LE(empty.frames, 4);
}

// A subclass that lets the test wait for the run and stop it.
class TestableWaveToMp3 : public kestrune::WaveToMp3 {
 public:
  void Stop() { StopJob(); }
};

TEST(WaveToMp3Object, ProgressEndsAtOneAndStopKeepsWholeFrames) {
  TempDir dir;
  const std::vector<uint8_t> pcm = Pcm16(44100, 2, 2.0);
  WriteFile(dir / "in.wav", Wave(44100, 2, 16, pcm, static_cast<uint32_t>(pcm.size())));
  {
    TestableWaveToMp3 c;
    EXPECT_EQ(c.GetBitRate(), 128);
    EXPECT_TRUE(c.SetBitRate(160));
    EXPECT_FALSE(c.SetBitRate(160));
    EXPECT_FALSE(c.SetQualityLevel(0));
    EXPECT_FALSE(c.SetRatePolicy(0));
    c.SetInputPath(dir / "in.wav");
    c.SetOutputPath(dir / "out.mp3");
    ASSERT_TRUE(c.Start());
    while (c.IsRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(c.GetProgress(), 1.0);
    EXPECT_FALSE(c.Failed());
    const Stream s = ParseStream(ReadFile(dir / "out.mp3"));
    ASSERT_TRUE(s.valid);
    EXPECT_EQ(s.lowestBitRate, 160000);
    // 2 s of audio plus the delay, in frames of 1152 samples.
    EXPECT_GE(s.frames, 2 * 44100 / 1152);
  }
  {
    // A long input stopped early: whatever was written is whole frames.
    const std::vector<uint8_t> longPcm = Pcm16(44100, 2, 30.0);
    WriteFile(dir / "long.wav", Wave(44100, 2, 16, longPcm, static_cast<uint32_t>(longPcm.size())));
    TestableWaveToMp3 c;
    c.SetInputPath(dir / "long.wav");
    c.SetOutputPath(dir / "long.mp3");
    ASSERT_TRUE(c.Start());
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    c.Stop();
    EXPECT_FALSE(c.IsRunning());
    EXPECT_LT(c.GetProgress(), 1.0);
    const std::vector<uint8_t> partial = ReadFile(dir / "long.mp3");
    EXPECT_TRUE(partial.empty() || ParseStream(partial).valid);
  }
  {
    TestableWaveToMp3 c;
    c.SetInputPath(dir / "missing.wav");
    c.SetOutputPath(dir / "never.mp3");
    ASSERT_TRUE(c.Start());
    while (c.IsRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(c.Failed());
    EXPECT_FALSE(fs::exists(dir / "never.mp3"));
  }
}

}  // namespace
