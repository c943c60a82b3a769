// WAVE to CSV and back through the kestrune program: exit codes, banner,
// the options "v", "h", "a", "i", "s", "b", checked with sox.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/files.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace kestrune {
namespace {

using namespace testing;

const std::string kBanner = "Kestrune 0.1.0\n";

ProgramResult Kestrune(const TempDir& dir, const std::vector<std::string>& arguments) {
  // The jobs' temporary files go to the test folder, where leftovers show.
  return RunProgram(KESTRUNE_BINARY, arguments, dir.str(),
                    {"LC_ALL=", "LC_MESSAGES=", "LANG=C", "TMPDIR=" + dir.str()});
}

// Runs a reference tool through the shell; fails the test when it fails.
std::string Sh(const std::string& command) {
  int status = -1;
  std::string out = testing::Shell(command + " 2>&1", &status);
  EXPECT_EQ(status, 0) << command << "\n" << out;
  return out;
}

// sox's view of a file: rate, channels, bits and samples, one per line.
std::string SoxInfo(const std::string& path) {
  std::string all;
  for (const char* what : {"-r", "-c", "-b", "-s"}) all += Sh(std::string("sox --i ") + what + " " + path);
  return all;
}

void ExpectConverted(const ProgramResult& r) {
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out.substr(0, kBanner.size()), kBanner);
  EXPECT_EQ(r.err, "");
}

TEST(WaveCli, RoundTripGivesBackThe16BitSamples) {
  TempDir dir;
  Sh("sox -R -n -r 44100 -c 2 -b 16 " + (dir / "x.wav") + " synth 1.5 sine 440 sine 1000 vol 0.95");
  ExpectConverted(Kestrune(dir, {"x.wav", "x.csv"}));
  ExpectConverted(Kestrune(dir, {"x.csv", "y.wav"}));
  // Identical samples as sox reads them, identical format.
  EXPECT_EQ(Sh("sox " + (dir / "x.wav") + " -t s16 - | md5sum"),
            Sh("sox " + (dir / "y.wav") + " -t s16 - | md5sum"));
  EXPECT_EQ(SoxInfo(dir / "y.wav"), "44100\n2\n16\n66150\n");
  // Layout 1 (-h): two lines; -v wins over -h.
  ExpectConverted(Kestrune(dir, {"x.wav", "h.csv", "-h"}));
  const std::string lines = testing::ReadBytes(dir / "h.csv");
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), ','), 2 * 66149);
  ExpectConverted(Kestrune(dir, {"h.csv", "h.wav", "-hx"}));
  EXPECT_EQ(Sh("sox " + (dir / "h.wav") + " -t s16 - | md5sum"),
            Sh("sox " + (dir / "x.wav") + " -t s16 - | md5sum"));
  ExpectConverted(Kestrune(dir, {"x.wav", "v.csv", "-h", "-v"}));
  EXPECT_EQ(testing::ReadBytes(dir / "v.csv"), testing::ReadBytes(dir / "x.csv"));
  EXPECT_EQ(testing::CountDatFiles(dir.str()), 0u);
}

TEST(WaveCli, RangeDepthAndRateOptions) {
  TempDir dir;
  // Full-scale negative, silence, and 0.5 in one 16-bit mono file.
  std::ofstream(dir / "raw.s16", std::ios::binary).write("\x00\x80\x00\x00\x00\x40", 6);
  Sh("sox -t s16 -r 8000 -c 1 " + (dir / "raw.s16") + " " + (dir / "m.wav"));
  ExpectConverted(Kestrune(dir, {"m.wav", "m.csv", "-a255", "-i0"}));
  EXPECT_EQ(testing::ReadBytes(dir / "m.csv"), "0.000000\r\n127.500000\r\n191.250000");
  ExpectConverted(Kestrune(dir, {"m.csv", "m8.wav", "-a255", "-i0", "-b8", "-s8000"}));
  EXPECT_EQ(SoxInfo(dir / "m8.wav"), "8000\n1\n8\n3\n");
  EXPECT_EQ(Sh("sox " + (dir / "m8.wav") + " -t u8 - | od -An -tu1"), "   0 128 192\n");
  ExpectConverted(Kestrune(dir, {"m.csv", "m24.wav", "-a255", "-i0", "-b24", "-s0"}));
  EXPECT_EQ(SoxInfo(dir / "m24.wav"), "44100\n1\n24\n3\n");
  EXPECT_EQ(Sh("sox " + (dir / "m24.wav") + " -t s32 - | od -An -td4"),
            " -2147483648           0  1073741824\n");
  ExpectConverted(Kestrune(dir, {"m.csv", "m16.wav", "-a255", "-i0", "-s200000", "-b12"}));
  EXPECT_EQ(SoxInfo(dir / "m16.wav"), "44100\n1\n16\n3\n");
  EXPECT_EQ(testing::CountDatFiles(dir.str()), 0u);
}

TEST(WaveCli, FailuresExitWithOneAndLeaveNothing) {
  TempDir dir;
  std::string nine;
  for (int c = 0; c < 9; ++c) nine += "0.1,0.2\r\n";
  std::ofstream(dir / "nine.csv", std::ios::binary) << nine;
  ProgramResult r = Kestrune(dir, {"nine.csv", "nine.wav", "-h"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out.substr(0, kBanner.size()), kBanner);
  EXPECT_FALSE(std::filesystem::exists(dir / "nine.wav"));
  r = Kestrune(dir, {"missing.wav", "out.csv"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_FALSE(std::filesystem::exists(dir / "out.csv"));
  std::ofstream(dir / "bad.wav", std::ios::binary) << "RIFF\x04\0\0\0WAVE";
  r = Kestrune(dir, {"bad.wav", "bad.csv"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_FALSE(std::filesystem::exists(dir / "bad.csv"));
  EXPECT_EQ(testing::CountDatFiles(dir.str()), 0u);
}

}  // namespace
}  // namespace kestrune
