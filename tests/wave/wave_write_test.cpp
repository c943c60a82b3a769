// Writing chunk trees: byte-exact copies, pad bytes, the RF64 layout, the
// float to PCM table, size fields beyond 4 GiB and the canonical header.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "wave/pcm16_header.h"
#include "wave/text_form.h"
#include "wave/wave_file.h"
#include "wave_test_util.h"

namespace kestrune {
namespace {

using namespace testing;

TEST(WaveWrite, CopyWidensFmt16AndKeepsOtherChunksAndPads) {
  Bytes list;
  list.Text("INFO").Chunk("INAM", Bytes().Text("abcde"));  // odd text, padded
  Bytes samples;
  for (int i = 0; i < 1500; ++i) samples.I16(static_cast<int16_t>(i * 7));  // copied in pieces
  Bytes chunks;
  chunks.Chunk("fmt ", FmtBody(1, 1, 8000, 16))
      .Chunk("odd!", Bytes().Text("xyz"))
      .Chunk("LIST", list)
      .Chunk("data", samples);
  const Bytes source = RiffWave(chunks);
  WaveFile wave;
  ASSERT_TRUE(wave.Open(Put("copy-src.wav", source)));
  const std::string out = ScratchPath("copy-out.wav");
  ASSERT_TRUE(wave.SaveAs(out));
  const auto written = ReadBytes(out);

  Bytes fmt18 = FmtBody(1, 1, 8000, 16);
  fmt18.U16(0);
  Bytes expectedChunks;
  expectedChunks.Chunk("fmt ", fmt18)
      .Chunk("odd!", Bytes().Text("xyz"))
      .Chunk("LIST", list)
      .Chunk("data", samples);
  EXPECT_EQ(written, RiffWave(expectedChunks).data);
  // The odd chunk's size field says 3, and a zero pad byte follows.
  EXPECT_EQ(written.substr(12 + 26, 12), Bytes().Text("odd!").U32(3).Text("xyz").U8(0).data);
  // Writing over the file being read is refused.
  EXPECT_FALSE(wave.SaveAs(ScratchPath("copy-src.wav")));
  EXPECT_EQ(ReadBytes(ScratchPath("copy-src.wav")), source.data);
}

TEST(WaveWrite, Rf64LayoutAndShortDs64) {
  Bytes ds64;
  ds64.U64(0x123456789ull).U64(8).U64(2).U32(0);  // 28 bytes: no table, no tail
  Bytes b;
  b.Text("RF64").U32(0xFFFFFFFFu).Text("WAVE").Chunk("ds64", ds64);
  b.Chunk("fmt ", FmtBody(1, 2, 44100, 16));
  b.Text("data").U32(0xFFFFFFFFu).I16(1).I16(2).I16(3).I16(4);
  WaveFile wave;
  ASSERT_TRUE(wave.Open(Put("rf64-src.wav", b)));
  EXPECT_EQ(wave.GetData()->GetFrameCount(), 2);
  const std::string out = ScratchPath("rf64-out.wav");
  ASSERT_TRUE(wave.SaveAs(out));
  const auto w = ReadBytes(out);
  ASSERT_EQ(w.size(), 12u + 40 + 26 + 16);
  EXPECT_EQ(w.substr(0, 12), Bytes().Text("RF64").U32(0xFFFFFFFFu).Text("WAVE").data);
  Bytes ds64Out;
  ds64Out.Text("ds64").U32(32).U64(0x123456789ull).U64(8).U64(2).U32(0).U32(0);
  EXPECT_EQ(w.substr(12, 40), ds64Out.data);
  // The data chunk's size is the real one here (it fits 32 bits).
  EXPECT_EQ(w.substr(78, 16), Bytes().Text("data").U32(8).I16(1).I16(2).I16(3).I16(4).data);

  // A ds64 in a RIFF tree cannot be written.
  Bytes riff;
  riff.Chunk("ds64", ds64).Chunk("fmt ", FmtBody(1, 1, 8000, 16)).Chunk("data", Bytes().I16(0));
  WaveFile bad;
  ASSERT_TRUE(bad.Open(Put("riff-ds64.wav", RiffWave(riff))));
  EXPECT_EQ(bad.GetDs64()->riffSize, 0u);  // read as a generic chunk: stays empty
  EXPECT_FALSE(bad.SaveAs(ScratchPath("riff-ds64-out.wav")));
}

TEST(WaveWrite, FloatToPcmTable) {
  EXPECT_EQ(FloatToPcm16(1.0f), 32767);
  EXPECT_EQ(FloatToPcm16(-1.0f), -32768);
  EXPECT_EQ(FloatToPcm16(0.5f), 16384);
  EXPECT_EQ(FloatToPcm16(2.0f), 32767);
  EXPECT_EQ(FloatToPcm16(1.5f / 32768.0f), 2);  // nearest, halves to even
  EXPECT_EQ(FloatToPcm16(-0.6f / 32768.0f), -1);
  EXPECT_EQ(FloatToPcm8(1.0f), 255);
  EXPECT_EQ(FloatToPcm8(-1.0f), 0);
  EXPECT_EQ(FloatToPcm8(0.0f), 128);
  EXPECT_EQ(FloatToPcm8(-3.0f), 0);
  EXPECT_EQ(FloatToPcm24(1.0f), 8388607);
  EXPECT_EQ(FloatToPcm24(-1.0f), -8388608);
  EXPECT_EQ(FloatToPcm24(0.5f), 4194304);
  EXPECT_EQ(FloatToPcm24(0.99999994f), 8388607);
  EXPECT_EQ(FloatToPcm24(-1.5f / 8388608.0f), -1);  // truncation toward zero
  EXPECT_EQ(FloatToPcm24(std::nanf("")), -8388608);
}

class VectorSource : public SampleSource {
 public:
  explicit VectorSource(std::vector<std::vector<float>> channels) : channels_(std::move(channels)) {}
  bool Fill(FloatFrames& frames) override {
    const size_t left = channels_[0].size() - position_;
    const size_t n = std::min(left, frames.Frames());
    frames.Resize(channels_.size(), n);
    for (size_t c = 0; c < channels_.size(); ++c) {
      std::copy_n(channels_[c].begin() + position_, n, frames.channels[c].begin());
    }
    position_ += n;
    return n > 0;
  }

 private:
  std::vector<std::vector<float>> channels_;
  size_t position_ = 0;
};

TEST(WaveWrite, GeneratedDataInEachWidth) {
  const std::vector<float> left = {1.0f, -1.0f, 0.5f, 0.0f, -0.25f};
  const std::vector<float> right = {0.0f, 0.99999994f, -0.5f, 2.0f, 1e-9f};
  struct Expect {
    int bits;
    Bytes data;
  };
  std::vector<Expect> expects = {
      {8, Bytes().U8(255).U8(128).U8(0).U8(255).U8(192).U8(64).U8(128).U8(255).U8(96).U8(128)},
      {16, Bytes().I16(32767).I16(0).I16(-32768).I16(32767).I16(16384).I16(-16384).I16(0)
               .I16(32767).I16(-8192).I16(0)},
      {24, Bytes().I24(8388607).I24(0).I24(-8388608).I24(8388607).I24(4194304).I24(-4194304)
               .I24(0).I24(8388607).I24(-2097152).I24(0)}};
  for (const auto& e : expects) {
    VectorSource source({left, right});
    WaveFile wave;
    ASSERT_TRUE(wave.LoadText(MakeTextHeader(32000, 2, e.bits), &source));
    const std::string out = ScratchPath("gen.wav");
    ASSERT_TRUE(wave.SaveAs(out));
    const auto w = ReadBytes(out);
    EXPECT_EQ(w, PcmFile(1, 2, 32000, static_cast<uint16_t>(e.bits), e.data, true).data) << e.bits;
  }
  // Nine channels are refused.
  VectorSource nine(std::vector<std::vector<float>>(9, left));
  WaveFile wave;
  ASSERT_TRUE(wave.LoadText(MakeTextHeader(32000, 9, 16), &nine));
  EXPECT_FALSE(wave.SaveAs(ScratchPath("nine.wav")));
}

TEST(WaveWrite, SizeFieldsBeyondFourGibibytes) {
  // 5 GiB of data in a RIFF form: both sizes become 0xFFFFFFFF. A data
  // chunk of 2^32 - 2 bytes alone still gets its exact size. The holes
  // leave the files sparse.
  struct Case {
    int64_t body;
    bool inForm;
    std::string head;
  };
  for (const Case& c :
       {Case{5ll << 30, true, Bytes().Text("RIFF").U32(0xFFFFFFFFu).Text("data").U32(0xFFFFFFFFu).data},
        Case{0xFFFFFFFEll, false, Bytes().Text("data").U32(0xFFFFFFFEu).data}}) {
    const std::string path = ScratchPath("huge.bin");
    {
      FileStream out;
      ASSERT_TRUE(out.Open(path, false, true, true, false));
      ChunkWriter form(out);
      ChunkWriter data(out);
      ASSERT_TRUE(!c.inForm || form.Begin(kIdRiff));
      ASSERT_TRUE(data.Begin(kIdData));
      ASSERT_TRUE(out.Seek(c.body - 1, FileStream::kCurrent));
      ASSERT_EQ(out.Write("Z", 1), 1u);
      ASSERT_TRUE(data.End());
      ASSERT_TRUE(!c.inForm || form.End());
      EXPECT_EQ(out.Size(), c.head.size() + static_cast<uint64_t>(c.body));
    }
    std::string head(c.head.size(), '\0');
    std::ifstream(path, std::ios::binary).read(head.data(), static_cast<std::streamsize>(head.size()));
    EXPECT_EQ(head, c.head) << c.body;
    std::filesystem::remove(path);
  }
}

TEST(WaveWrite, CanonicalPcm16Header) {
  const std::string path = ScratchPath("canon.wav");
  std::FILE* f = std::fopen(path.c_str(), "w+b");
  ASSERT_NE(f, nullptr);
  ASSERT_TRUE(WritePcm16Header(f, 44100, 2));
  const std::string samples(1000, 0x11);
  ASSERT_EQ(std::fwrite(samples.data(), 1, samples.size(), f), samples.size());
  ASSERT_TRUE(PatchPcm16Header(f, 1000));
  std::fclose(f);
  const auto w = ReadBytes(path);
  ASSERT_EQ(w.size(), 1044u);
  Bytes expected;
  expected.Text("RIFF").U32(1036).Text("WAVE").Text("fmt ").U32(16).U16(1).U16(2).U32(44100)
      .U32(176400).U16(4).U16(16).Text("data").U32(1000);
  EXPECT_EQ(w.substr(0, 44), expected.data);
  // Our reader agrees.
  WaveFile wave;
  ASSERT_TRUE(wave.Open(path));
  EXPECT_EQ(wave.GetData()->GetFrameCount(), 250);
}

}  // namespace
}  // namespace kestrune
