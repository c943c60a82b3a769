#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/convert_options.h"
#include "app/path_names.h"

namespace kestrune {
namespace {

ConvertOptions Parse(const std::vector<std::string>& arguments) {
  ConvertOptions options;
  EXPECT_TRUE(options.ParseArguments(arguments));
  return options;
}

TEST(ConvertOptions, ArgumentScan) {
  // A value is glued to its letter: "-b 192" stores an empty "b" and makes
  // 192 the next positional argument, here the input path.
  ConvertOptions o = Parse({"kestrune", "-b", "192", "in.wav", "out.mp3", "extra.wav"});
  EXPECT_EQ(o.programPath, "kestrune");
  EXPECT_EQ(o.inputPath, "192");
  EXPECT_EQ(o.outputPath, "in.wav");
  EXPECT_TRUE(o.HasOption("b"));
  EXPECT_EQ(o.GetOption("b"), "");
  EXPECT_EQ(o.GetInteger("b", 128), 128);

  // -out.wav is the option "o" with the value "ut.wav"; "-" alone and empty
  // arguments are skipped; keys are case-sensitive; the later value wins.
  o = Parse({"prog", "", "-out.wav", "-", "in.mp3", "-B192", "-b128", "-b320", "-vx", "-h"});
  EXPECT_EQ(o.inputPath, "in.mp3");
  EXPECT_EQ(o.outputPath, "");
  EXPECT_EQ(o.GetOption("o"), "ut.wav");
  EXPECT_EQ(o.GetOption("B"), "192");
  EXPECT_EQ(o.GetInteger("b", 128), 320);
  EXPECT_EQ(o.GetOption("v"), "x");
  EXPECT_TRUE(o.HasOption("h"));
  EXPECT_FALSE(o.HasOption("-"));
  EXPECT_FALSE(o.HasOption("q"));
  EXPECT_EQ(o.GetOption("q"), "");
  EXPECT_EQ(o.options.size(), 5u);

  // Any byte can be a key, multi-byte characters give their first byte.
  o = Parse({"p", "-\xC3\xA9t\xC3\xA9", std::string("-\0z", 3), "a", "b"});
  EXPECT_EQ(o.GetOption("\xC3"), "\xA9t\xC3\xA9");
  EXPECT_EQ(o.GetOption(std::string(1, '\0')), "z");
  EXPECT_EQ(o.outputPath, "b");
}

TEST(ConvertOptions, NumberReading) {
  EXPECT_EQ(ReadDecimalInteger("192"), 192);
  EXPECT_EQ(ReadDecimalInteger("  -12abc"), -12);
  EXPECT_EQ(ReadDecimalInteger("+7"), 7);
  EXPECT_EQ(ReadDecimalInteger("abc"), 0);
  EXPECT_EQ(ReadDecimalInteger("- 5"), 0);
  EXPECT_EQ(ReadDecimalInteger("0x10"), 0);
  EXPECT_EQ(ReadDecimalInteger("99999999999999999999999"), 2147483647);
  EXPECT_EQ(ReadDecimalInteger("-99999999999999999999999"), -2147483647 - 1);
  EXPECT_EQ(ReadDecimalInteger("12.9"), 12);

  EXPECT_DOUBLE_EQ(ReadDecimalReal("0.4"), 0.4);
  EXPECT_DOUBLE_EQ(ReadDecimalReal(" -1.5e2x"), -150.0);
  EXPECT_DOUBLE_EQ(ReadDecimalReal(".5"), 0.5);
  EXPECT_DOUBLE_EQ(ReadDecimalReal("5."), 5.0);
  EXPECT_DOUBLE_EQ(ReadDecimalReal("3e"), 3.0);
  EXPECT_DOUBLE_EQ(ReadDecimalReal("2E+1"), 20.0);
  EXPECT_DOUBLE_EQ(ReadDecimalReal("inf"), 0.0);
  EXPECT_DOUBLE_EQ(ReadDecimalReal("nan"), 0.0);
  EXPECT_DOUBLE_EQ(ReadDecimalReal("0x1p4"), 0.0);
  EXPECT_DOUBLE_EQ(ReadDecimalReal("."), 0.0);
  EXPECT_TRUE(std::isinf(ReadDecimalReal("1e999")));

  ConvertOptions o = Parse({"p", "-s0", "-a", "-i-0.5", "-qfoo"});
  EXPECT_EQ(o.GetInteger("s", 44100), 0);  // read as given; ranges are the caller's
  EXPECT_DOUBLE_EQ(o.GetReal("a", 1.0), 1.0);  // empty value: default
  EXPECT_DOUBLE_EQ(o.GetReal("i", -1.0), -0.5);
  EXPECT_DOUBLE_EQ(o.GetReal("q", 0.4), 0.0);
  EXPECT_EQ(o.GetInteger("m", 0), 0);
}

TEST(PathNames, ExtensionsAndWaveTest) {
  EXPECT_EQ(GetLowerExtension("IN.MP3"), ".mp3");
  EXPECT_EQ(GetLowerExtension("dir.x/name"), "");
  EXPECT_EQ(GetLowerExtension("dir.x\\name"), "");
  EXPECT_EQ(GetLowerExtension("C:name"), "");
  EXPECT_EQ(GetLowerExtension("c:.OGG"), ".ogg");
  EXPECT_EQ(GetLowerExtension("a.tar.GZ"), ".gz");
  EXPECT_EQ(GetLowerExtension("song."), ".");
  EXPECT_EQ(GetLowerExtension(""), "");
  EXPECT_EQ(GetLowerExtension("x.\xC3\x89T\xC3\x89"), ".\xC3\x89t\xC3\x89");

  EXPECT_TRUE(IsWavePath("out.wav"));
  EXPECT_TRUE(IsWavePath("/a.b/c.wav"));
  EXPECT_FALSE(IsWavePath("out.WAV"));
  EXPECT_FALSE(IsWavePath("out.wave"));
  EXPECT_FALSE(IsWavePath("wav"));
  EXPECT_FALSE(IsWavePath(".wav/x"));
  EXPECT_TRUE(IsWavePath(".wav"));
}

}  // namespace
}  // namespace kestrune
