// The two CSV conversions run as jobs: exact text, both layouts, range
// scaling, bit depths, unequal rows, failures and temporary files.
#include <gtest/gtest.h>

#include "base/paths.h"
#include "wave/csv_to_wave.h"
#include "wave/wave_file.h"
#include "wave/wave_to_csv.h"
#include "wave_test_util.h"

namespace kestrune {
namespace {

using namespace testing;
using namespace std::string_literals;

class CsvConversion : public ::testing::Test {
 protected:
  // The jobs' temporary files go to a folder of this test, where leftovers
  // show.
  void SetUp() override { UseScratchTempDirectory(); }
  void TearDown() override {
    EXPECT_EQ(CountDatFiles(GetTempDirectory()), 0u) << "temporary files left";
  }

  std::string Path(const std::string& name) { return ScratchPath(name); }

  std::string WaveToText(const std::string& wav, int layout, double min = -1.0,
                         double max = 1.0) {
    WaveToCsv job;
    job.SetInputPath(wav);
    job.SetOutputPath(Path("out.csv"));
    job.SetLayout(layout);
    job.SetMinimum(min);
    job.SetMaximum(max);
    std::filesystem::remove(Path("out.csv"));
    EXPECT_TRUE(RunToEnd(job));
    EXPECT_TRUE(!FileExists(Path("out.csv")) || job.GetProgress() == 1.0);
    return FileExists(Path("out.csv")) ? ReadBytes(Path("out.csv")) : "<none>";
  }

  // Converts CSV text to out.wav; false when no file was written.
  bool TextToWave(const std::string& csv, int layout, int bits = 16, double min = -1.0,
                  double max = 1.0, int rate = 44100) {
    WriteBytes(Path("in.csv"), csv);
    std::filesystem::remove(Path("out.wav"));
    CsvToWave job;
    job.SetInputPath(Path("in.csv"));
    job.SetOutputPath(Path("out.wav"));
    job.SetLayout(layout);
    job.SetMinimum(min);
    job.SetMaximum(max);
    job.SetBitsPerSample(bits);
    job.SetSampleRate(rate);
    EXPECT_TRUE(RunToEnd(job));
    return FileExists(Path("out.wav"));
  }

  // The samples of out.wav per channel.
  std::vector<std::vector<float>> Samples() { return ReadWave(Path("out.wav")).samples; }
};

std::string StereoWave(const std::string& path) {
  Bytes data;
  data.I16(16384).I16(-8192).I16(-32768).I16(0).I16(1).I16(32767);
  WriteBytes(path, PcmFile(1, 2, 44100, 16, data).data);
  return path;
}

TEST_F(CsvConversion, WaveToCsvExactTextInBothLayoutsAndRanges) {
  const std::string wav = StereoWave(Path("stereo.wav"));
  EXPECT_EQ(WaveToText(wav, 0),
            "0.500000,-0.250000\r\n-1.000000,0.000000\r\n0.000031,0.999969");
  EXPECT_EQ(WaveToText(wav, 1),
            "0.500000,-1.000000,0.000031\r\n-0.250000,0.000000,0.999969\r\n");
  EXPECT_EQ(WaveToText(wav, 0, 0.0, 255.0),
            "191.250000,95.625000\r\n0.000000,127.500000\r\n127.503891,254.996109");
  EXPECT_EQ(WaveToText(wav, 2), "<none>");  // unknown layout: no output
  EXPECT_EQ(WaveToText(Path("missing.wav"), 0), "<none>");
  // A WAVE file without data gives no output.
  Bytes noData;
  noData.Chunk("fmt ", FmtBody(1, 1, 8000, 16));
  WriteBytes(Path("nodata.wav"), RiffWave(noData).data);
  EXPECT_EQ(WaveToText(Path("nodata.wav"), 0), "<none>");
}

TEST_F(CsvConversion, RoundTripKeeps16BitSamplesInBothLayouts) {
  Bytes data;
  std::vector<int16_t> values;
  for (int i = 0; i < 5000; ++i) {
    const auto v = static_cast<int16_t>((i * 7919) % 65536 - 32768);
    values.push_back(v);
    data.I16(v);
  }
  WriteBytes(Path("rt.wav"), PcmFile(1, 2, 22050, 16, data).data);
  for (int layout : {0, 1}) {
    const std::string text = WaveToText(Path("rt.wav"), layout);
    ASSERT_TRUE(TextToWave(text, layout, 16, -1.0, 1.0, 22050));
    const auto w = ReadBytes(Path("out.wav"));
    ASSERT_EQ(w.size(), 46u + 10000);
    EXPECT_EQ(w.substr(46), data.data) << layout;
  }
  // Through the range 0 ... 255 and back.
  const std::string text = WaveToText(Path("rt.wav"), 0, 0.0, 255.0);
  ASSERT_TRUE(TextToWave(text, 0, 16, 0.0, 255.0, 22050));
  const auto w = ReadBytes(Path("out.wav"));
  EXPECT_EQ(w.substr(46), data.data);
}

TEST_F(CsvConversion, CsvToWaveLayoutsDepthsAndHeader) {
  // Three values in the first line: three channels.
  ASSERT_TRUE(TextToWave("0.5,-0.5,1\r\n0,0.25,-1\r\n", 0, 24, -1.0, 1.0, 96000));
  const auto w = ReadBytes(Path("out.wav"));
  Bytes data;
  data.I24(4194304).I24(-4194304).I24(8388607).I24(0).I24(2097152).I24(-8388608);
  EXPECT_EQ(w, PcmFile(1, 3, 96000, 24, data, true).data);

  // 8-bit, range 0 ... 255, layout 1 with and without a final CR LF.
  for (const std::string text : {"0,255,127.5\r\n255,0,127.5\r\n", "0,255,127.5\r\n255,0,127.5"}) {
    ASSERT_TRUE(TextToWave(text, 1, 8, 0.0, 255.0));
    const auto b = ReadBytes(Path("out.wav"));
    ASSERT_EQ(b.size(), 46u + 6);
    EXPECT_EQ(b.substr(46), "\x00\xFF\xFF\x00\x80\x80"s);
  }
  // Text that is not a number reads as 0: silence in the default range.
  ASSERT_TRUE(TextToWave("abc,0.5\r\n-0.5,x1\r\n", 0));
  EXPECT_EQ(Samples(), (std::vector<std::vector<float>>{{0.0f, -0.5f}, {0.5f, 0.0f}}));
}

TEST_F(CsvConversion, UnequalRowsAndLinesAreCompletedWithSilence) {
  // Layout 0: two channels from the first line; a short row is completed,
  // extra values are dropped, blank lines give no frame.
  ASSERT_TRUE(TextToWave("0.5,0.25\r\n-0.5\r\n\r\n0.125,0.75,0.9,0.9\r\n1,", 0));
  EXPECT_EQ(Samples(), (std::vector<std::vector<float>>{{0.5f, -0.5f, 0.125f, 32767.0f / 32768.0f},
                                                         {0.25f, 0.0f, 0.75f, 0.0f}}));
  // Layout 1: the shorter channel ends in silence.
  ASSERT_TRUE(TextToWave("0.5,0.5,0.5\r\n0.25\r\n", 1));
  EXPECT_EQ(Samples(), (std::vector<std::vector<float>>{{0.5f, 0.5f, 0.5f}, {0.25f, 0.0f, 0.0f}}));
  // A CR without LF converts the value so far again ("1\r2" reads as 1).
  ASSERT_TRUE(TextToWave("0.5\r0.25\r-1", 1));
  EXPECT_EQ(Samples(), (std::vector<std::vector<float>>{{0.5f, 0.5f, 0.5f}}));
  // Lines ended by LF alone lose no value; a byte order mark is skipped.
  ASSERT_TRUE(TextToWave("\xEF\xBB\xBF" "0.5,0.25\n-0.5,1\n", 1));
  EXPECT_EQ(Samples(), (std::vector<std::vector<float>>{{0.5f, 0.25f}, {-0.5f, 32767.0f / 32768.0f}}));
}

TEST_F(CsvConversion, RefusedInputsLeaveNoOutputAndNoTemporaries) {
  std::string nine;
  for (int c = 0; c < 9; ++c) nine += "0.1,0.2\r\n";
  EXPECT_FALSE(TextToWave(nine, 1));
  nine.resize(nine.size() - 2);  // without the last CR LF: still nine channels
  EXPECT_FALSE(TextToWave(nine, 1));
  std::string eight;
  for (int c = 0; c < 8; ++c) eight += "0.1,0.2\r\n";
  EXPECT_TRUE(TextToWave(eight, 1));
  EXPECT_FALSE(TextToWave("1,2,3,4,5,6,7,8,9\r\n", 0));     // nine columns
  EXPECT_FALSE(TextToWave("0.5,0.5\n0.5,0.5\n", 0));        // no CR LF in the first piece
  EXPECT_FALSE(TextToWave(std::string(3000, '1') + "\r\n", 0));  // first line too long
  EXPECT_FALSE(TextToWave("", 1));
  EXPECT_FALSE(TextToWave("\r\n\r\n", 1));
  // A missing input creates nothing either.
  CsvToWave job;
  job.SetInputPath(Path("missing.csv"));
  job.SetOutputPath(Path("never.wav"));
  ASSERT_TRUE(RunToEnd(job));
  EXPECT_FALSE(FileExists(Path("never.wav")));
}

TEST_F(CsvConversion, NulBytesLongValuesAndOnlyCommas) {
  ASSERT_TRUE(TextToWave(std::string("0.5\0" "7,0.25\r\n", 12), 0));
  EXPECT_EQ(Samples(), (std::vector<std::vector<float>>{{0.5f}, {0.25f}}));
  // A value of three megabytes: read as far as it is kept (0.5555...),
  // scanning goes on after it.
  ASSERT_TRUE(TextToWave("0." + std::string(3 << 20, '5') + ",-0.5\r\n0.25,0\r\n", 1));
  EXPECT_EQ(Samples()[0], (std::vector<float>{18204.0f / 32768.0f, -0.5f}));
  ASSERT_TRUE(TextToWave(",,,\r\n,,,\r\n", 0));
  EXPECT_EQ(Samples(), (std::vector<std::vector<float>>(4, {0.0f, 0.0f})));
  ASSERT_TRUE(TextToWave(",,,,", 1));
  EXPECT_EQ(Samples()[0], (std::vector<float>{0.0f, 0.0f, 0.0f, 0.0f}));
  EXPECT_FALSE(TextToWave(std::string(5000, '\r'), 1));
  EXPECT_FALSE(TextToWave(std::string(5000, '\n'), 1));
}

TEST_F(CsvConversion, StoppedJobsLeaveNoOutputAndNoTemporaries) {
  std::string big;
  for (int i = 0; i < 400000; ++i) big += "0.123456,-0.654321\r\n";
  WriteBytes(Path("big.csv"), big);
  std::filesystem::remove(Path("big.wav"));
  {
    CsvToWave job;
    job.SetInputPath(Path("big.csv"));
    job.SetOutputPath(Path("big.wav"));
    ASSERT_TRUE(job.Start());
  }  // destroyed while running: stopped, temporaries deleted
  EXPECT_FALSE(FileExists(Path("big.wav")));

  Bytes data;
  for (int i = 0; i < 400000; ++i) data.I16(static_cast<int16_t>(i));
  WriteBytes(Path("big.wav"), PcmFile(1, 2, 44100, 16, data).data);
  std::filesystem::remove(Path("big-out.csv"));
  {
    WaveToCsv job;
    job.SetInputPath(Path("big.wav"));
    job.SetOutputPath(Path("big-out.csv"));
    ASSERT_TRUE(job.Start());
  }
  EXPECT_FALSE(FileExists(Path("big-out.csv")));
}

TEST_F(CsvConversion, SettersAcceptOnlyTheirRanges) {
  CsvToWave job;
  EXPECT_FALSE(job.SetBitsPerSample(12));
  EXPECT_TRUE(job.SetBitsPerSample(24));
  EXPECT_FALSE(job.SetSampleRate(0));
  EXPECT_FALSE(job.SetSampleRate(192001));
  EXPECT_TRUE(job.SetSampleRate(192000));
  EXPECT_TRUE(job.SetSampleRate(1));
  EXPECT_FALSE(job.SetLayout(0));
  EXPECT_FALSE(job.SetLayout(2));
  EXPECT_TRUE(job.SetLayout(1));
}

}  // namespace
}  // namespace kestrune
