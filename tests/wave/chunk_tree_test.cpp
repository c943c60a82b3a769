// The chunk tree built from the text header form: section parsing, the
// 17-bucket application order, format properties and registration.
#include <gtest/gtest.h>

#include <map>

#include "wave/text_form.h"
#include "wave/wave_file.h"

namespace kestrune {
namespace {

std::vector<std::string> AppliedKeys(const TextEntries& entries) {
  std::vector<std::string> keys;
  entries.ForEach([&](const std::string& k, const std::string&) { keys.push_back(k); });
  return keys;
}

TEST(TextForm, ParsesSectionsCommentsAndCrLfOnly) {
  const std::string text =
      "ignored=before\r\n[A]\r\n;comment=x\r\n//also=x\r\nk=v=w\r\nnoequals\r\n\r\n"
      "empty=\r\n [B]\r\n[]\r\n[B]\r\nx=1\nstill=x\r\n[B]\r\n";
  const auto sections = ParseTextForm(text);
  ASSERT_EQ(sections.size(), 3u);  // " [B]" is no section line, "[]" too short
  EXPECT_EQ(sections[0].name, "A");
  EXPECT_EQ(sections[1].name, "B");
  EXPECT_EQ(sections[2].name, "B");  // same names stay separate
  std::vector<std::pair<std::string, std::string>> a;
  sections[0].entries.ForEach([&](auto& k, auto& v) { a.emplace_back(k, v); });
  ASSERT_EQ(a.size(), 2u);
  std::map<std::string, std::string> m(a.begin(), a.end());
  EXPECT_EQ(m["k"], "v=w");  // split at the first "="
  EXPECT_EQ(m["empty"], "");
  EXPECT_EQ(m.count(" [B]"), 0u);
  // A lone LF does not end a line: "x" has the value "1\nstill=x".
  std::vector<std::pair<std::string, std::string>> b;
  sections[1].entries.ForEach([&](auto& k, auto& v) { b.emplace_back(k, v); });
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(b[0].first, "x");
  EXPECT_EQ(b[0].second, "1\nstill=x");
}

TEST(TextForm, HashAndBucketOrder) {
  EXPECT_EQ(TextKeyHash(""), 0u);
  EXPECT_EQ(TextKeyHash("Ch"), 67u * 33u + 104u);
  // Bytes above 0x7F count as negative: h = 0 * 33 + (-1).
  EXPECT_EQ(TextKeyHash("\xff"), 0xFFFFFFFFu);
  // The generated header's format entries apply as Ch, Format, Freq, Bit.
  const auto sections = ParseTextForm(MakeTextHeader(44100, 2, 16));
  ASSERT_EQ(sections.size(), 3u);
  EXPECT_EQ(AppliedKeys(sections[1].entries),
            (std::vector<std::string>{"Ch", "Format", "Freq", "Bit"}));
  // Same bucket: the newest first; a repeated key keeps its place.
  TextEntries e;
  e.Set("a", "1");  // 97 % 17 = 12
  e.Set("r", "2");  // 114 % 17 = 12
  e.Set("a", "3");
  std::vector<std::string> values;
  e.ForEach([&](auto&, auto& v) { values.push_back(v); });
  EXPECT_EQ(values, (std::vector<std::string>{"2", "3"}));
}

TEST(ChunkTree, FormatPropertiesAndUnknownSections) {
  WaveFile wave;
  ASSERT_TRUE(wave.LoadText("[riff]\r\nType=Wave\r\n[Riff]\r\n[Format]\r\n", nullptr));
  ASSERT_EQ(wave.Roots().size(), 2u);
  EXPECT_EQ(wave.Roots()[0]->id, 0u);  // lower-case "riff" is not known
  EXPECT_EQ(dynamic_cast<FormChunk*>(wave.Roots()[0].get()), nullptr);
  auto format = wave.GetFormat();
  ASSERT_TRUE(format);
  FormatChunk& f = *format;
  EXPECT_FALSE(f.SetProperty("Format", "pcm"));
  EXPECT_EQ(f.format.formatTag, 0);
  EXPECT_TRUE(f.SetProperty("Ch", "1"));
  EXPECT_EQ(f.format.blockAlign, 0);  // not PCM yet: nothing recomputed
  EXPECT_TRUE(f.SetProperty("Format", "PCM"));
  EXPECT_FALSE(f.SetProperty("Format", "PCM"));
  EXPECT_TRUE(f.SetProperty("Bit", "12"));
  EXPECT_EQ(f.format.blockAlign, 2);
  EXPECT_TRUE(f.SetProperty("Ch", "2"));
  EXPECT_TRUE(f.SetProperty("Bit", "16"));
  EXPECT_TRUE(f.SetProperty("Freq", "44100"));
  EXPECT_FALSE(f.SetProperty("Freq", "44100"));
  EXPECT_EQ(f.format.blockAlign, 4);
  EXPECT_EQ(f.format.bytesPerSecond, 176400u);
  EXPECT_FALSE(f.SetProperty("ch", "3"));
  EXPECT_EQ(f.format.channels, 2);

  auto form = wave.GetForm();
  EXPECT_FALSE(form->SetProperty("Type", "Wave"));  // already WAVE
  EXPECT_FALSE(form->SetProperty("Type", "wave"));
  form->formType = kIdRiff;
  EXPECT_TRUE(form->SetProperty("Type", "Wave"));
}

TEST(ChunkTree, EmptyDataChunkStandsInAndRegistrationFollowsLifetime) {
  WaveFile wave;
  ASSERT_TRUE(wave.LoadText("[Riff]\r\n[Format]\r\nFormat=PCM\r\nCh=1\r\nBit=8\r\n", nullptr));
  EXPECT_FALSE(wave.HasData());
  {
    auto data = wave.GetData();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->GetFrameCount(), -1);
    FloatFrames frames;
    EXPECT_FALSE(data->ReadFloat(frames, 1024));
    EXPECT_FALSE(data->SetPosition(5));
  }
  // Two format sections: the newest registers; a new tree or Reset clears.
  ASSERT_TRUE(wave.LoadText("[Riff]\r\n[Format]\r\nCh=1\r\n[Format]\r\nCh=2\r\n", nullptr));
  EXPECT_EQ(wave.GetFormat()->format.channels, 2);
  EXPECT_FALSE(wave.LoadText("", nullptr));
  EXPECT_TRUE(wave.LoadText("no sections\r\n", nullptr));
  EXPECT_TRUE(wave.Roots().empty());
  EXPECT_FALSE(wave.GetFormat());
  ASSERT_TRUE(wave.LoadText(MakeTextHeader(44100, 2, 16), nullptr));
  EXPECT_TRUE(wave.GetFormat());
  wave.Reset();
  EXPECT_FALSE(wave.GetFormat());
  EXPECT_FALSE(wave.GetForm());
}

}  // namespace
}  // namespace kestrune
