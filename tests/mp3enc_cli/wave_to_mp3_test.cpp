// WAVE to MP3: the program's output checked frame by frame and by mpg123 and
// ffmpeg, the options "b", "m" and "q", the files the header scan refuses,
// the data-size rules, and progress and stop on the conversion object.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "codecs/wave_to_mp3.h"
#include "tests/support/mp3_stream_check.h"
#include "tests/support/riff_bytes.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wave_files.h"

namespace {

using namespace kestrune::testing;
namespace fs = std::filesystem;

// A WAVE file: a 16-byte fmt chunk, the data chunk with the given size
// field and samples, then any trailing bytes.
std::string Wave(int rate, int channels, int bits, const std::string& data, uint32_t dataSizeField,
                 const std::string& trailing = {}) {
  const auto fmt = FmtBody(1, static_cast<uint16_t>(channels), static_cast<uint32_t>(rate),
                           static_cast<uint16_t>(bits));
  return RiffWave(Bytes().Chunk("fmt ", fmt).Text("data").U32(dataSizeField).Text(data).Text(trailing))
      .data;
}

uint32_t Size(const std::string& bytes) { return static_cast<uint32_t>(bytes.size()); }

// 16-bit samples of the two-tone test signal, seconds long.
std::string Samples16(int rate, int channels, double seconds) {
  WaveSpec w;
  w.rate = rate;
  w.channels = channels;
  w.frames = static_cast<int64_t>(rate * seconds);
  return ReadPcmWave(MakeWave(w)).data;
}

struct Encoded {
  int exitCode;
  bool written;     // an output file exists
  std::string mp3;  // its bytes
};

// Runs the program on the WAVE bytes (in.wav to out.mp3) with the options.
Encoded EncodeWave(const TempDir& dir, const std::string& wave, std::vector<std::string> options = {}) {
  WriteBytes(dir / "in.wav", wave);
  fs::remove(dir / "out.mp3");
  options.insert(options.begin(), {"in.wav", "out.mp3"});
  const int exitCode = RunProgram(KESTRUNE_BINARY, options, dir.str()).exitCode;
  return {exitCode, fs::exists(dir / "out.mp3"), ReadBytes(dir / "out.mp3")};
}

// Signal-to-noise ratio (dB) of a decoding against the 16-bit stereo input,
// the decoding delayed by the encoder's 1201 samples; the ends left out.
double RoundTripSnr(const std::string& pcm, const std::vector<int16_t>& decoded) {
  const size_t delay = 1201, frames = pcm.size() / 4;
  if (decoded.size() / 2 < frames + delay) return -100;
  double signal = 0, noise = 0;
  for (size_t i = 2000; i < frames - 2000; ++i) {
    for (size_t c = 0; c < 2; ++c) {
      const double x = static_cast<int16_t>(GetLe(pcm, 4 * i + 2 * c, 2));
      const double y = decoded[2 * (i + delay) + c];
      signal += x * x;
      noise += (y - x) * (y - x);
    }
  }
  return 10 * std::log10(signal / noise);
}

// The program's MPEG-1 streams decode in mpg123 and ffmpeg without a
// complaint and, at the input's rate, to the input; the options choose
// the bit rate (128 kbit/s by default), the level and the rate policy.
TEST(WaveToMp3Program, EncodesWithTheOptionsAndDecodersAgree) {
  TempDir dir;
  const std::string pcm = Samples16(48000, 2, 1.5);
  const std::string wave = Wave(48000, 2, 16, pcm, Size(pcm));
  struct Case {
    std::vector<std::string> options;
    int32_t sampleRate;
    int32_t lowest, highest;  // 0: variable, not checked
  };
  const Case cases[] = {
      {{}, 48000, 128000, 128000},
      {{"-b192"}, 48000, 192000, 192000},
      {{"-b64"}, 24000, 64000, 64000},  // stereo 64 kbit/s: 22050-24000 Hz
      {{"-b128", "-q1"}, 44100, 128000, 128000},  // the narrow range
      {{"-m2", "-b999"}, 48000, 0, 0},            // "b" is ignored with "m"
      {{"-m5"}, 32000, 0, 0},  // level 5 stands for 96 kbit/s: 32000-44100 Hz
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options.empty() ? "default" : c.options[0] + (c.options.size() > 1 ? " " + c.options[1] : ""));
    const Encoded e = EncodeWave(dir, wave, c.options);
    EXPECT_EQ(e.exitCode, 0);
    const StreamFacts s = ParseMp3Stream(e.mp3);
    ASSERT_TRUE(s.valid);
    EXPECT_EQ(s.sampleRate, c.sampleRate);
    EXPECT_EQ(s.channelMode, 1);  // joint stereo
    if (c.lowest != 0) {
      EXPECT_EQ(s.lowestBitRate, c.lowest);
      EXPECT_EQ(s.highestBitRate, c.highest);
    }
    const ReferenceDecodings references = DecodeWithReferences(dir / "out.mp3");
    EXPECT_EQ(references.complaints, "");
    if (c.sampleRate == 48000 && c.lowest != 0) {
      const double snr = RoundTripSnr(pcm, references.ffmpeg);
      std::printf("round trip SNR at %d kbit/s: %.1f dB\n", c.lowest / 1000, snr);
      EXPECT_GT(snr, 20.0);
    }
  }
  // Requests the encoder refuses leave an empty output file, which counts
  // as done: a bit rate below the stereo classes, a level out of range, a
  // rate policy other than 0 and 1.
  for (const std::string option : {"-b8", "-m6", "-q2"}) {
    const Encoded e = EncodeWave(dir, wave, {option});
    EXPECT_EQ(e.exitCode, 0) << option;
    EXPECT_TRUE(e.written) << option;
    EXPECT_EQ(e.mp3, "") << option;
  }
}

// The header scan refuses an 8-bit file, a file without a data chunk and a
// truncated header: exit code 1 and no output. Behind the header the data
// chunk's size decides: the last byte of an odd size is never read, a
// chunk after the data is not encoded, a size beyond the file stops at its
// end, and no samples at all give the flush's short, valid stream (a chunk
// follows, so that the scan finds 'data').
TEST(WaveToMp3Program, HeaderScanAndDataSizeRules) {
  TempDir dir;
  const std::string pcm = Samples16(32000, 1, 0.5);
  std::string noData = Wave(32000, 1, 16, {}, 0);
  noData.resize(noData.size() - 8);  // drop the data chunk's header
  for (const std::string& refused : {Wave(32000, 1, 8, pcm.substr(0, pcm.size() / 2), Size(pcm) / 2), noData,
                                     Wave(32000, 1, 16, pcm, 0).substr(0, 30)}) {
    const Encoded e = EncodeWave(dir, refused);
    EXPECT_EQ(e.exitCode, 1) << refused.size();
    EXPECT_FALSE(e.written) << refused.size();
  }
  const std::string reference = EncodeWave(dir, Wave(32000, 1, 16, pcm, Size(pcm)), {"-b64"}).mp3;
  ASSERT_TRUE(ParseMp3Stream(reference).valid);
  const std::string odd = pcm + "\x7F";
  Bytes body;
  for (int i = 0; i < 4000; ++i) body.U8(static_cast<uint8_t>(i * 37));
  const std::string list = Bytes().Chunk("LIST", body).data;
  for (const std::string& same : {Wave(32000, 1, 16, odd, Size(odd)), Wave(32000, 1, 16, pcm, Size(pcm), list),
                                  Wave(32000, 1, 16, pcm, 0x7FFFFFF0u)}) {
    EXPECT_EQ(EncodeWave(dir, same, {"-b64"}).mp3, reference) << same.size();
  }
  const StreamFacts empty = ParseMp3Stream(EncodeWave(dir, Wave(32000, 1, 16, {}, 0, list), {"-b64"}).mp3);
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
  const std::string pcm = Samples16(44100, 2, 2.0);
  WriteBytes(dir / "in.wav", Wave(44100, 2, 16, pcm, Size(pcm)));
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
    const StreamFacts s = ParseMp3Stream(ReadBytes(dir / "out.mp3"));
    ASSERT_TRUE(s.valid);
    EXPECT_EQ(s.lowestBitRate, 160000);
    // 2 s of audio plus the delay, in frames of 1152 samples.
    EXPECT_GE(s.frames, 2 * 44100 / 1152);
  }
  {
    // A long input stopped early: whatever was written is whole frames.
    const std::string longPcm = Samples16(44100, 2, 30.0);
    WriteBytes(dir / "long.wav", Wave(44100, 2, 16, longPcm, Size(longPcm)));
    TestableWaveToMp3 c;
    c.SetInputPath(dir / "long.wav");
    c.SetOutputPath(dir / "long.mp3");
    ASSERT_TRUE(c.Start());
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    c.Stop();
    EXPECT_FALSE(c.IsRunning());
    EXPECT_LT(c.GetProgress(), 1.0);
    const std::string partial = ReadBytes(dir / "long.mp3");
    EXPECT_TRUE(partial.empty() || ParseMp3Stream(partial).valid);
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
