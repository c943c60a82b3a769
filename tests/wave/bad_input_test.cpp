// Damaged and hostile input: never a crash, never a read beyond the file,
// results as documented.
#include <gtest/gtest.h>

#include <unistd.h>

#include "base/paths.h"
#include "wave/csv_to_wave.h"
#include "wave/wave_file.h"
#include "wave_test_util.h"

namespace kestrune {
namespace {

using test::Bytes;

std::string Put(const std::string& name, const Bytes& bytes) {
  const std::string path = test::ScratchPath(name);
  test::WriteFile(path, bytes.data);
  return path;
}

// Opens the file and reads every frame; returns the frames delivered.
int64_t ReadAll(const std::string& path, bool* opened = nullptr) {
  WaveFile wave;
  const bool ok = wave.Open(path);
  if (opened) *opened = ok;
  FloatFrames f;
  int64_t total = 0;
  auto data = wave.GetData();
  for (int guard = 0; guard < 100000 && data->ReadFloat(f, 1024); ++guard) {
    total += static_cast<int64_t>(f.Frames());
  }
  return total;
}

Bytes SampleFile() {
  Bytes samples;
  for (int i = 0; i < 40; ++i) samples.I16(static_cast<int16_t>(i * 100));
  Bytes chunks;
  chunks.Chunk("fmt ", test::FmtBody(1, 2, 8000, 16))
      .Chunk("LIST", Bytes().Text("INFO").Chunk("INAM", Bytes().Text("name")))
      .Chunk("data", samples)
      .Chunk("bext", Bytes().Text(std::string(40, 'b')));
  return test::RiffWave(chunks);
}

TEST(BadInput, EveryTruncationOfAFileIsHandled) {
  const Bytes whole = SampleFile();
  EXPECT_EQ(ReadAll(Put("whole.wav", whole)), 20);
  for (size_t n = 0; n < whole.size(); ++n) {
    Bytes cut;
    cut.data.assign(whole.data.begin(), whole.data.begin() + static_cast<long>(n));
    const int64_t frames = ReadAll(Put("cut.wav", cut));
    // Only whole frames that are really in the file come out.
    const int64_t dataStart = 12 + 24 + 24 + 8;
    const int64_t present = std::max<int64_t>(0, static_cast<int64_t>(n) - dataStart) / 4;
    EXPECT_EQ(frames, std::min<int64_t>(present, 20)) << n;
  }
}

TEST(BadInput, SizesBeyondTheFileAndNearTheLimits) {
  // A fmt chunk claiming almost 4 GiB: the format fields come from the few
  // bytes present and the form ends at the end of the file.
  Bytes b;
  b.Text("RIFF").U32(0xFFFFFFF0u).Text("WAVE").Text("fmt ").U32(0xFFFFFFF0u);
  b.Append(test::FmtBody(1, 1, 8000, 16));
  {
    WaveFile wave;
    wave.Open(Put("bigfmt.wav", b));
    auto format = wave.GetFormat();
    ASSERT_TRUE(format);
    EXPECT_EQ(format->format.sampleRate, 8000u);
    EXPECT_FALSE(wave.HasData());
  }
  // A data chunk claiming more than the file holds: the frames present.
  Bytes d;
  d.Chunk("fmt ", test::FmtBody(1, 1, 8000, 16));
  d.Text("data").U32(0xFFFFFFF0u).I16(1).I16(2).I16(3);
  EXPECT_EQ(ReadAll(Put("bigdata.wav", test::RiffWave(d))), 3);
  // RF64 with ds64 sizes near 2^64.
  Bytes r;
  r.Text("RF64").U32(0xFFFFFFFFu).Text("WAVE");
  r.Chunk("ds64", Bytes().U64(~0ull).U64(~0ull - 5).U64(~0ull).U32(0xFFFFFFFFu).U32(0));
  r.Chunk("fmt ", test::FmtBody(1, 1, 8000, 16));
  r.Text("data").U32(0xFFFFFFFFu).I16(1).I16(2);
  EXPECT_EQ(ReadAll(Put("hugeds64.wav", r)), 2);
  // A chunk whose size overruns the form: the next identifier is not there.
  Bytes o;
  o.Chunk("fmt ", test::FmtBody(1, 1, 8000, 16)).Text("junk").U32(0x7FFFFFFF);
  EXPECT_EQ(ReadAll(Put("junk.wav", test::RiffWave(o))), 0);
}

TEST(BadInput, ImpossibleFormats) {
  struct Case {
    uint16_t channels, blockAlign, bits;
  };
  for (const Case c : {Case{1, 0, 16}, Case{0, 2, 16}, Case{9, 18, 16}, Case{2, 1, 8},
                       Case{1, 25, 200}, Case{1, 8, 64}}) {
    Bytes fmt;
    fmt.U16(1).U16(c.channels).U32(8000).U32(16000).U16(c.blockAlign).U16(c.bits);
    Bytes chunks;
    chunks.Chunk("fmt ", fmt).Chunk("data", Bytes().Text(std::string(72, '\x10')));
    const std::string path = Put("impossible.wav", test::RiffWave(chunks));
    bool opened = false;
    EXPECT_EQ(ReadAll(path, &opened), 0) << c.channels << "/" << c.blockAlign;
    EXPECT_TRUE(opened);
    WaveFile wave;
    wave.Open(path);
    if (c.blockAlign == 0) {
      EXPECT_EQ(wave.GetData()->GetFrameCount(), -1);
    }
    // Copying refuses a data chunk without channels or frames.
    if (c.channels == 0 || c.blockAlign == 0) {
      EXPECT_FALSE(wave.SaveAs(test::ScratchPath("x.wav")));
    }
  }
}

TEST(BadInput, ListWithLyingInfoSizes) {
  Bytes info;
  info.Text("INFO").Text("INAM").U32(0x10000000u).Text("short");  // claims 256 MiB
  Bytes chunks;
  chunks.Chunk("fmt ", test::FmtBody(1, 1, 8000, 16))
      .Chunk("LIST", info)
      .Chunk("data", Bytes().I16(5).I16(6));
  WaveFile wave;
  ASSERT_TRUE(wave.Open(Put("lyinginfo.wav", test::RiffWave(chunks))));
  EXPECT_FALSE(wave.GetInfo());  // no text survived
  EXPECT_EQ(wave.GetData()->GetFrameCount(), 2);

  // A LIST claiming less than its INFO holds: the data after it is found.
  Bytes info2;
  info2.Text("INFO").Chunk("INAM", Bytes().Text("abcdefgh"));
  Bytes c2;
  c2.Chunk("fmt ", test::FmtBody(1, 1, 8000, 16));
  c2.Text("LIST").U32(12).Append(info2);  // too small
  c2.Chunk("data", Bytes().I16(5));
  EXPECT_EQ(ReadAll(Put("shortlist.wav", test::RiffWave(c2))), 0);  // misaligned: no data

  // Nested lists and forms never recurse.
  Bytes nest;
  for (int i = 0; i < 20000; ++i) nest.Text("LIST").U32(0xFFFFFF00u).Text("LIST");
  EXPECT_EQ(ReadAll(Put("nest.wav", test::RiffWave(nest))), 0);
  Bytes forms;
  for (int i = 0; i < 20000; ++i) forms.Text("RIFF").U32(0).Text("WAVE");
  EXPECT_EQ(ReadAll(Put("forms.wav", forms)), 0);
}

class CsvBadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    tempDir_ = test::ScratchPath("tmpbad");
    std::system(("mkdir -p " + tempDir_).c_str());
    ::setenv("TMPDIR", tempDir_.c_str(), 1);
  }
  // Converts and returns the samples of channel 0 (empty when no output).
  std::vector<float> Convert(const std::string& csv, int layout, size_t* channels = nullptr) {
    const std::string in = test::ScratchPath("bad.csv");
    const std::string out = test::ScratchPath("bad.wav");
    test::WriteText(in, csv);
    ::unlink(out.c_str());
    {
      CsvToWave job;
      job.SetInputPath(in);
      job.SetOutputPath(out);
      job.SetLayout(layout);
      EXPECT_TRUE(test::RunToEnd(job));
    }
    EXPECT_EQ(test::CountDatFiles(GetTempDirectory()), 0u);
    std::vector<float> samples;
    if (!test::FileExists(out)) return samples;
    WaveFile wave;
    EXPECT_TRUE(wave.Open(out));
    if (channels) *channels = static_cast<size_t>(wave.GetFormat()->GetChannels());
    FloatFrames f;
    while (wave.GetData()->ReadFloat(f, 1024)) {
      samples.insert(samples.end(), f.channels[0].begin(), f.channels[0].end());
    }
    return samples;
  }
  std::string tempDir_;
};

TEST_F(CsvBadInput, NulBytesLongValuesAndOnlyCommas) {
  const std::string withNul("0.5\0" "7,0.25\r\n", 12);
  EXPECT_EQ(Convert(withNul, 0), (std::vector<float>{0.5f}));
  // A value of three megabytes: read as far as it is kept (0.5555...),
  // scanning goes on after it.
  const std::string huge = "0." + std::string(3 << 20, '5') + ",-0.5\r\n0.25,0\r\n";
  EXPECT_EQ(Convert(huge, 1), (std::vector<float>{18204.0f / 32768.0f, -0.5f}));
  size_t channels = 0;
  EXPECT_EQ(Convert(",,,\r\n,,,\r\n", 0, &channels), (std::vector<float>{0.0f, 0.0f}));
  EXPECT_EQ(channels, 4u);
  EXPECT_EQ(Convert(",,,,", 1, &channels), (std::vector<float>{0.0f, 0.0f, 0.0f, 0.0f}));
  EXPECT_EQ(Convert(std::string(5000, '\r'), 1), std::vector<float>{});
  EXPECT_EQ(Convert(std::string(5000, '\n'), 1), std::vector<float>{});
}

}  // namespace
}  // namespace kestrune
