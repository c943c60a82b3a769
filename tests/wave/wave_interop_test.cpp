// Interoperability with files no one here wrote (made by sox and ffmpeg
// during the run) and acceptance of our files by sox and ffprobe.
#include <gtest/gtest.h>

#include <cstring>

#include "wave/csv_to_wave.h"
#include "wave/wave_file.h"
#include "wave_test_util.h"

namespace kestrune {
namespace {

using namespace testing;

// Runs a tool; fails the test when it is missing or fails.
std::string Tool(const std::string& command) {
  int status = 0;
  std::string out = Shell(command + " 2>/dev/null", &status);
  EXPECT_EQ(status, 0) << command;
  return out;
}

std::vector<float> AsFloats(const std::string& bytes) {
  std::vector<float> v(bytes.size() / 4);
  if (!v.empty()) std::memcpy(v.data(), bytes.data(), v.size() * 4);
  return v;
}

// Our reader and the reference tool's raw float output agree on every
// sample of the file.
void ExpectSameAsReference(const std::string& path, const std::string& referenceCommand,
                           int channels, int64_t frames) {
  const ReadBack ours = ReadWave(path);
  EXPECT_TRUE(ours.opened) << path;
  EXPECT_EQ(ours.channels, channels) << path;
  EXPECT_EQ(ours.frameCount, frames) << path;
  const std::vector<float> theirs = AsFloats(Tool(referenceCommand));
  ASSERT_EQ(theirs.size(), static_cast<size_t>(channels * frames)) << path;
  ASSERT_EQ(ours.samples.size(), static_cast<size_t>(channels)) << path;
  for (size_t i = 0; i < theirs.size(); ++i) {
    ASSERT_EQ(ours.samples[i % channels].at(i / channels), theirs[i]) << path << " @" << i;
  }
}

TEST(WaveInterop, ReadsSoxFiles) {
  struct Case {
    const char* encoding;
    int bits;
    int channels;
  };
  for (const Case c : {Case{"unsigned-integer", 8, 1}, Case{"signed-integer", 16, 2},
                       Case{"signed-integer", 24, 3}, Case{"floating-point", 32, 6},
                       Case{"signed-integer", 16, 8}, Case{"signed-integer", 24, 1}}) {
    const std::string path = ScratchPath("sox.wav");
    Tool("sox -R -n -r 11025 -c " + std::to_string(c.channels) + " -e " + c.encoding + " -b " +
         std::to_string(c.bits) + " " + path + " synth 0.8 sine 300-900 vol 0.9");
    const int64_t frames = std::stoll(Tool("sox --i -s " + path));
    EXPECT_EQ(frames, 8820);  // 0.8 s at 11025 Hz
    ExpectSameAsReference(path, "sox " + path + " -t f32 -", c.channels, frames);
  }
}

TEST(WaveInterop, ReadsFfmpegFilesWithListChunksAndRf64) {
  struct Case {
    const char* codec;
    int channels;
    bool rf64;
  };
  for (const Case c : {Case{"pcm_u8", 2, false}, Case{"pcm_s16le", 1, false},
                       Case{"pcm_s24le", 4, false}, Case{"pcm_f32le", 2, false},
                       Case{"pcm_s16le", 7, false}, Case{"pcm_s24le", 2, true},
                       Case{"pcm_s16le", 5, true}}) {
    const std::string path = ScratchPath("ff.wav");
    Tool(std::string("ffmpeg -v error -y -f lavfi -i sine=f=500:d=0.5:r=16000 -ac ") +
         std::to_string(c.channels) + " -c:a " + c.codec + " -metadata title=Tone" +
         (c.rf64 ? " -rf64 always " : " ") + path);
    const std::string head = ReadBytes(path).substr(0, 4);
    EXPECT_EQ(head, c.rf64 ? "RF64" : "RIFF");
    ExpectSameAsReference(path, "ffmpeg -v error -i " + path + " -f f32le -", c.channels, 8000);
    WaveFile wave;
    ASSERT_TRUE(wave.Open(path));
    EXPECT_EQ(wave.GetInfo()->GetText("INAM"), "Tone");  // the LIST before the data
  }

  // A LIST after the data: appended to an ffmpeg file, the RIFF size fixed.
  const std::string path = ScratchPath("ff-after.wav");
  Tool("ffmpeg -v error -y -f lavfi -i sine=f=500:d=0.25:r=8000 -c:a pcm_s16le " + path);
  std::string bytes = ReadBytes(path);
  bytes += Bytes().Chunk("LIST", Bytes().Text("INFO").Chunk("ICMT", Bytes().Text("after"))).data;
  bytes.replace(4, 4, Bytes().U32(static_cast<uint32_t>(bytes.size() - 8)).data);
  WriteBytes(path, bytes);
  EXPECT_EQ(Tool("ffprobe -v error -show_entries stream=duration_ts -of csv=p=0 " + path), "2000\n");
  ExpectSameAsReference(path, "ffmpeg -v error -i " + path + " -f f32le -", 1, 2000);
  WaveFile wave;
  ASSERT_TRUE(wave.Open(path));
  EXPECT_EQ(wave.GetInfo()->GetText("ICMT"), "after");
}

TEST(WaveInterop, OurFilesAreAcceptedBySoxAndFfprobe) {
  UseScratchTempDirectory();
  struct Case {
    int bits, channels, rate;
    const char* codec;
  };
  for (const Case c : {Case{8, 1, 8000, "pcm_u8"}, Case{16, 2, 44100, "pcm_s16le"},
                       Case{24, 3, 96000, "pcm_s24le"}, Case{16, 8, 22050, "pcm_s16le"}}) {
    std::string csv;
    for (int ch = 0; ch < c.channels; ++ch) {
      for (int i = 0; i < 3001; ++i) csv += (i ? "," : "") + std::to_string((i % 200) / 100.0 - 1.0);
      csv += "\r\n";
    }
    const std::string in = ScratchPath("ours.csv");
    const std::string out = ScratchPath("ours.wav");
    WriteBytes(in, csv);
    CsvToWave job;
    job.SetInputPath(in);
    job.SetOutputPath(out);
    job.SetLayout(1);
    job.SetBitsPerSample(c.bits);
    job.SetSampleRate(c.rate);
    ASSERT_TRUE(RunToEnd(job));
    ASSERT_TRUE(FileExists(out));
    EXPECT_EQ(Tool("ffprobe -v error -show_entries stream=codec_name,channels,sample_rate,"
                   "duration_ts -of csv=p=0 " + out),
              std::string(c.codec) + "," + std::to_string(c.rate) + "," +
                  std::to_string(c.channels) + ",3001\n");
    // The samples as sox reads them: -1.0, -0.99, ... as the width allows.
    const std::vector<float> theirs = AsFloats(Tool("sox " + out + " -t f32 -"));
    ASSERT_EQ(theirs.size(), 3001u * c.channels);
    EXPECT_EQ(theirs[0], -1.0f);
    EXPECT_EQ(theirs[static_cast<size_t>(100 * c.channels)], 0.0f);
  }
}

TEST(WaveInterop, CopyOfAnFfmpegRf64FileIsAcceptedAndIdenticalInSamples) {
  const std::string src = ScratchPath("rf-src.wav");
  const std::string dst = ScratchPath("rf-copy.wav");
  Tool("ffmpeg -v error -y -f lavfi -i sine=f=700:d=0.3:r=48000 -ac 2 -c:a pcm_s24le -rf64 always " + src);
  WaveFile wave;
  ASSERT_TRUE(wave.Open(src));
  ASSERT_TRUE(wave.SaveAs(dst));
  EXPECT_EQ(Tool("ffprobe -v error -show_entries stream=codec_name,channels,duration_ts -of csv=p=0 " + dst),
            "pcm_s24le,2,14400\n");
  EXPECT_EQ(Tool("ffmpeg -v error -i " + src + " -f s32le - | md5sum"),
            Tool("ffmpeg -v error -i " + dst + " -f s32le - | md5sum"));
}

}  // namespace
}  // namespace kestrune
