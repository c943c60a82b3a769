// Damaged and hostile input: never a crash, never a read beyond the file,
// results as documented.
#include <gtest/gtest.h>

#include "wave/wave_file.h"
#include "wave_test_util.h"

namespace kestrune {
namespace {

using namespace testing;

// Every frame our reader delivers from the file.
int64_t ReadAll(const std::string& path) { return static_cast<int64_t>(ReadWave(path).Frames()); }

Bytes SampleFile() {
  Bytes samples;
  for (int i = 0; i < 40; ++i) samples.I16(static_cast<int16_t>(i * 100));
  Bytes chunks;
  chunks.Chunk("fmt ", FmtBody(1, 2, 8000, 16))
      .Chunk("LIST", Bytes().Text("INFO").Chunk("INAM", Bytes().Text("name")))
      .Chunk("data", samples)
      .Chunk("bext", Bytes().Text(std::string(40, 'b')));
  return RiffWave(chunks);
}

TEST(BadInput, EveryTruncationOfAFileIsHandled) {
  const Bytes whole = SampleFile();
  EXPECT_EQ(ReadAll(Put("whole.wav", whole)), 20);
  for (size_t n = 0; n < whole.size(); ++n) {
    Bytes cut;
    cut.data = whole.data.substr(0, n);
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
  b.Append(FmtBody(1, 1, 8000, 16));
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
  d.Chunk("fmt ", FmtBody(1, 1, 8000, 16));
  d.Text("data").U32(0xFFFFFFF0u).I16(1).I16(2).I16(3);
  EXPECT_EQ(ReadAll(Put("bigdata.wav", RiffWave(d))), 3);
  // RF64 with ds64 sizes near 2^64.
  Bytes r;
  r.Text("RF64").U32(0xFFFFFFFFu).Text("WAVE");
  r.Chunk("ds64", Bytes().U64(~0ull).U64(~0ull - 5).U64(~0ull).U32(0xFFFFFFFFu).U32(0));
  r.Chunk("fmt ", FmtBody(1, 1, 8000, 16));
  r.Text("data").U32(0xFFFFFFFFu).I16(1).I16(2);
  EXPECT_EQ(ReadAll(Put("hugeds64.wav", r)), 2);
  // A chunk whose size overruns the form: the next identifier is not there.
  Bytes o;
  o.Chunk("fmt ", FmtBody(1, 1, 8000, 16)).Text("junk").U32(0x7FFFFFFF);
  EXPECT_EQ(ReadAll(Put("junk.wav", RiffWave(o))), 0);
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
    const std::string path = Put("impossible.wav", RiffWave(chunks));
    const ReadBack back = ReadWave(path);
    EXPECT_TRUE(back.opened);
    EXPECT_EQ(back.Frames(), 0u) << c.channels << "/" << c.blockAlign;
    if (c.blockAlign == 0) {
      EXPECT_EQ(back.frameCount, -1);
    }
    if (c.channels == 9) {
      EXPECT_EQ(back.frameCount, 72 / 18);  // counted, but never read as frames
    }
    // Copying refuses a data chunk without channels or frames.
    WaveFile wave;
    wave.Open(path);
    if (c.channels == 0 || c.blockAlign == 0) {
      EXPECT_FALSE(wave.SaveAs(ScratchPath("x.wav")));
    }
  }
}

TEST(BadInput, ListWithLyingInfoSizes) {
  Bytes info;
  info.Text("INFO").Text("INAM").U32(0x10000000u).Text("short");  // claims 256 MiB
  Bytes chunks;
  chunks.Chunk("fmt ", FmtBody(1, 1, 8000, 16))
      .Chunk("LIST", info)
      .Chunk("data", Bytes().I16(5).I16(6));
  WaveFile wave;
  ASSERT_TRUE(wave.Open(Put("lyinginfo.wav", RiffWave(chunks))));
  EXPECT_FALSE(wave.GetInfo());  // no text survived
  EXPECT_EQ(wave.GetData()->GetFrameCount(), 2);

  // A LIST claiming less than its INFO holds: the data after it is found.
  Bytes info2;
  info2.Text("INFO").Chunk("INAM", Bytes().Text("abcdefgh"));
  Bytes c2;
  c2.Chunk("fmt ", FmtBody(1, 1, 8000, 16));
  c2.Text("LIST").U32(12).Append(info2);  // too small
  c2.Chunk("data", Bytes().I16(5));
  EXPECT_EQ(ReadAll(Put("shortlist.wav", RiffWave(c2))), 0);  // misaligned: no data

  // Nested lists and forms never recurse.
  Bytes nest;
  for (int i = 0; i < 20000; ++i) nest.Text("LIST").U32(0xFFFFFF00u).Text("LIST");
  EXPECT_EQ(ReadAll(Put("nest.wav", RiffWave(nest))), 0);
  Bytes forms;
  for (int i = 0; i < 20000; ++i) forms.Text("RIFF").U32(0).Text("WAVE");
  EXPECT_EQ(ReadAll(Put("forms.wav", forms)), 0);
}

}  // namespace
}  // namespace kestrune
