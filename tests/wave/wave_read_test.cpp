// Reading WAVE and RF64 files built byte by byte: frame counts, sample
// conversions, chunk kinds, RF64 sizes beyond 4 GiB, the quick header scan.
#include <gtest/gtest.h>

#include <unistd.h>

#include "wave/pcm16_header.h"
#include "wave/wave_file.h"
#include "wave_test_util.h"

namespace kestrune {
namespace {

using namespace testing;

Bytes Stereo16(std::initializer_list<int16_t> samples) {
  Bytes data;
  for (int16_t s : samples) data.I16(s);
  return data;
}

TEST(WaveRead, CountsFramesAndReadsFloat16) {
  WaveFile wave;
  ASSERT_TRUE(wave.Open(Put("s16.wav", PcmFile(1, 2, 44100, 16, Stereo16({16384, -8192, -32768, 32767, 0, 1})))));
  EXPECT_EQ(wave.GetMode(), WaveFile::kModeRiff);
  auto data = wave.GetData();
  EXPECT_EQ(data->GetFrameCount(), 3);
  EXPECT_EQ(data->GetDataStart(), 12 + 8 + 16 + 8);
  FloatFrames f;
  ASSERT_TRUE(data->ReadFloat(f, 1024));
  ASSERT_EQ(f.ChannelCount(), 2u);
  ASSERT_EQ(f.Frames(), 3u);
  EXPECT_EQ(f.channels[0], (std::vector<float>{0.5f, -1.0f, 0.0f}));
  EXPECT_EQ(f.channels[1], (std::vector<float>{-0.25f, 32767.0f / 32768.0f, 1.0f / 32768.0f}));
  EXPECT_FALSE(data->ReadFloat(f, 1024));  // nothing more
  EXPECT_TRUE(data->SetPosition(-5));      // clamped to 0
  EXPECT_FALSE(data->SetPosition(0));      // unchanged
  EXPECT_TRUE(data->SetPosition(99));      // clamped to 3
  EXPECT_EQ(data->GetPosition(), 3);
}

TEST(WaveRead, DataSizeZeroRunsToEndOfFile) {
  // An interrupted write: both sizes still 0.
  Bytes b;
  b.Text("RIFF").U32(0).Text("WAVE").Chunk("fmt ", FmtBody(1, 1, 8000, 16));
  b.Text("data").U32(0).I16(1).I16(2).I16(3).I16(4).I16(5).U8(9);  // 5 frames + a stray byte
  WaveFile wave;
  ASSERT_TRUE(wave.Open(Put("zero.wav", b)));
  EXPECT_EQ(wave.GetData()->GetFrameCount(), 5);
  wave.lengthFromFileSize = false;
  wave.GetData()->ComputeFrameCount();
  EXPECT_EQ(wave.GetData()->GetFrameCount(), 0);
}

TEST(WaveRead, ConvertsEachSampleWidth) {
  struct Case {
    uint16_t tag, bits;
    Bytes samples;
    std::vector<float> expected;
  };
  std::vector<Case> cases;
  cases.push_back({1, 8, Bytes().U8(0).U8(128).U8(255),
                   {-1.0f, 0.0f, 127.0f / 128.0f}});
  cases.push_back({1, 24, Bytes().I24(0x7FFFFF).I24(-8388608).I24(4194304),
                   {8388607.0f / 8388608.0f, -1.0f, 0.5f}});
  cases.push_back({3, 32, Bytes().F32(0.125f).F32(-2.5f).F32(1e-30f), {0.125f, -2.5f, 1e-30f}});
  cases.push_back({1, 32, Bytes().U32(0x40000000u).U32(0x80000000u).U32(0),
                   {0.5f, -1.0f, 0.0f}});  // 32-bit integer PCM
  for (const auto& c : cases) {
    WaveFile wave;
    ASSERT_TRUE(wave.Open(Put("width.wav", PcmFile(c.tag, 1, 48000, c.bits, c.samples))));
    FloatFrames f;
    ASSERT_TRUE(wave.GetData()->ReadFloat(f, 1024)) << c.bits;
    EXPECT_EQ(f.channels[0], c.expected) << c.tag << "/" << c.bits;
  }
}

TEST(WaveRead, ExtensibleFormatAndOddChunksWithPad) {
  Bytes fmt = FmtBody(0xFFFE, 3, 96000, 24);
  fmt.U16(22).U16(24).U32(0x7);
  const uint8_t pcmGuid[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
  for (uint8_t g : pcmGuid) fmt.U8(g);
  Bytes info;
  info.Text("INFO").Chunk("INAM", Bytes().Text("Tone")).Chunk("ICMT", Bytes().Text("odd"));
  info.Text("IART").U32(0).Text("ISFT").U32(4).Text("lost");  // size 0 ends INFO
  Bytes chunks;
  chunks.Chunk("junk", Bytes().Text("abc"))  // odd size: a pad byte follows
      .Chunk("fmt ", fmt)
      .Chunk("LIST", info)
      .Chunk("data", Bytes().I24(1).I24(2).I24(3).I24(4).I24(5).I24(6));
  WaveFile wave;
  ASSERT_TRUE(wave.Open(Put("ext.wav", RiffWave(chunks))));
  auto format = wave.GetFormat();
  ASSERT_TRUE(format);
  EXPECT_TRUE(format->format.IsPcm());
  EXPECT_EQ(format->format.extensible[20], 0x7);  // channel mask kept
  EXPECT_EQ(wave.GetData()->GetFrameCount(), 2);
  auto info_chunk = wave.GetInfo();
  ASSERT_TRUE(info_chunk);
  EXPECT_EQ(info_chunk->GetText("INAM"), "Tone");
  EXPECT_EQ(info_chunk->GetText("ICMT"), "odd");
  EXPECT_EQ(info_chunk->texts.size(), 2u);
  ASSERT_EQ(wave.GetForm()->children.size(), 4u);
  EXPECT_EQ(wave.GetForm()->children[0]->body, (std::vector<uint8_t>{'a', 'b', 'c'}));
}

TEST(WaveRead, RawFrameWindowsAndBlockLimits) {
  Bytes samples;
  for (int i = 0; i < 1000; ++i) samples.I16(static_cast<int16_t>(i));
  WaveFile wave;
  ASSERT_TRUE(wave.Open(Put("window.wav", PcmFile(1, 1, 8000, 16, samples))));
  auto data = wave.GetData();
  FileStream reader;
  ASSERT_TRUE(reader.Open(ScratchPath("window.wav"), true, false, true, true));
  PcmBlock block;
  ASSERT_TRUE(data->ReadFrames(reader, block, -10, 20));
  ASSERT_EQ(block.Frames(), 10);
  EXPECT_EQ(block.Data()[18], 9);
  EXPECT_FALSE(data->ReadFrames(reader, block, -20, 20));
  EXPECT_FALSE(data->ReadFrames(reader, block, 1000, 5));
  ASSERT_TRUE(data->ReadFrames(reader, block, 995, -1));  // -1 means 1024, cut to 5
  EXPECT_EQ(block.Frames(), 5);

  FloatFrames f;
  ASSERT_TRUE(data->ReadFloat(f, 1024));
  EXPECT_EQ(f.Frames(), 1000u);
  EXPECT_EQ(f.channels[0][999], 999.0f / 32768.0f);
  EXPECT_FALSE(data->ReadFloat(f, 1024));

  EXPECT_FALSE(block.Prepare(1, 9, 18));
  EXPECT_FALSE(block.Prepare(1, 2, 25));
  EXPECT_FALSE(block.Prepare(0x100001, 1, 2));
  EXPECT_FALSE(block.Prepare(1, 4, 3));
  EXPECT_TRUE(block.Prepare(0x100000, 8, 24));
}

// An RF64 header whose ds64 claims the given sizes, followed by data; or
// the ds64 after the data, or none at all.
enum class Ds64Place { kBefore, kAfter, kNone };
Bytes Rf64(uint64_t riffSize, uint64_t dataSize, const Bytes& tail,
           Ds64Place place = Ds64Place::kBefore, uint32_t dataField = 0xFFFFFFFFu) {
  Bytes ds64;
  ds64.U64(riffSize).U64(dataSize).U64(dataSize / 4).U32(1).Text("data").U64(dataSize);
  Bytes b;
  b.Text("RF64").U32(0xFFFFFFFFu).Text("WAVE");
  if (place == Ds64Place::kBefore) b.Chunk("ds64", ds64);
  b.Chunk("fmt ", FmtBody(1, 2, 44100, 16));
  b.Text("data").U32(dataField).Append(tail);
  if (place == Ds64Place::kAfter) b.Chunk("ds64", ds64);
  return b;
}

TEST(WaveRead, Rf64SizesBeyondFourGibibytes) {
  const uint64_t dataSize = 5ull << 30;  // 5 GiB of samples
  Bytes head = Rf64(dataSize + 36 + 8 + 24 + 8 + 16 + 8, dataSize, Bytes());
  const std::string path = ScratchPath("big.rf64.wav");
  WriteBytes(path, head.data);
  // Sparse: the file is as long as the ds64 says without holding the bytes.
  // (64-bit sizes and positions throughout: long and off_t are 32 bits on
  // Windows.)
  std::filesystem::resize_file(path, head.size() + dataSize);
  {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    ASSERT_TRUE(f.is_open());
    f.seekp(static_cast<std::streamoff>(head.size() + dataSize - 4));
    const char last[4] = {0x00, 0x40, 0x00, static_cast<char>(0xC0)};  // 16384, -16384
    f.write(last, 4);
    ASSERT_TRUE(f.good());
  }
  WaveFile wave;
  ASSERT_TRUE(wave.Open(path));
  EXPECT_EQ(wave.GetMode(), WaveFile::kModeRf64);
  auto ds64 = wave.GetDs64();
  ASSERT_TRUE(ds64);
  EXPECT_EQ(ds64->dataSize, dataSize);
  // One table entry: its identifier ends the 32-byte fixed part, its size
  // is the table kept.
  EXPECT_EQ(std::string(ds64->trailing.begin(), ds64->trailing.end()), "data");
  EXPECT_EQ(ds64->table.size(), 8u);
  auto data = wave.GetData();
  EXPECT_EQ(data->GetFrameCount(), static_cast<int64_t>(dataSize / 4));
  EXPECT_TRUE(data->SetPosition(data->GetFrameCount() - 1));
  FloatFrames f;
  ASSERT_TRUE(data->ReadFloat(f, 1024));
  ASSERT_EQ(f.Frames(), 1u);
  EXPECT_EQ(f.channels[0][0], 0.5f);
  EXPECT_EQ(f.channels[1][0], -0.5f);
  ::unlink(path.c_str());
}

TEST(WaveRead, Rf64DataBeforeDs64UsesTheFieldOrRunsToTheEnd) {
  const Bytes samples = Stereo16({1, 2, 3, 4, 5, 6});
  {
    WaveFile wave;  // a ds64 after the data: the 32-bit field holds the size
    ASSERT_TRUE(wave.Open(Put("late1.wav", Rf64(100, 999999, samples, Ds64Place::kAfter, 12))));
    EXPECT_EQ(wave.GetData()->GetFrameCount(), 3);
    EXPECT_EQ(wave.GetDs64()->dataSize, 999999u);
  }
  {
    WaveFile wave;  // no ds64 and the placeholder: the samples run to the end
    ASSERT_TRUE(wave.Open(Put("late2.wav", Rf64(100, 999999, samples, Ds64Place::kNone))));
    EXPECT_EQ(wave.GetData()->GetFrameCount(), 3);
  }
}

TEST(WaveRead, ScanWaveHeaderFindsDataAfterList) {
  Bytes chunks;
  chunks.Chunk("fmt ", FmtBody(1, 2, 22050, 16))
      .Chunk("LIST", Bytes().Text("INFO").Chunk("ICMT", Bytes().Text(std::string(88, 'x'))))
      .Chunk("data", Stereo16({7, 8}));
  ASSERT_EQ(chunks.data.size(), 24u + 108 + 12);  // a LIST of 100 bytes
  int channels = 0;
  uint32_t rate = 0, size = 0;
  std::FILE* f = ScanWaveHeader(Put("scan.wav", RiffWave(chunks)), &channels, &rate, &size);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(channels, 2);
  EXPECT_EQ(rate, 22050u);
  EXPECT_EQ(size, 4u);
  int16_t first = 0;
  ASSERT_EQ(std::fread(&first, 2, 1, f), 1u);
  EXPECT_EQ(first, 7);
  std::fclose(f);

  for (uint16_t bits : {8, 24}) {
    EXPECT_EQ(ScanWaveHeader(Put("scan8.wav", PcmFile(1, 2, 22050, bits, Stereo16({1, 2, 3}))), nullptr,
                             nullptr, nullptr),
              nullptr);
  }
  EXPECT_EQ(ScanWaveHeader(ScratchPath("missing.wav"), nullptr, nullptr, nullptr), nullptr);
}

}  // namespace
}  // namespace kestrune
