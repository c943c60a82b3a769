// Golden tests of the kestrune program: exact standard output, standard
// error and exit code, run in a folder of its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace kestrune {
namespace {

using namespace testing;
namespace fs = std::filesystem;

const std::string kNotSet = "The input or the output file is not set.";
const std::string kNotWave = "The input or the output file is not Wave file.";
const std::string kUnsupportedBox =
    "Kestrune\nThe extension is not supported.\n"
    "Is it searched for the Harmoloft command line by the browser?\n";

// English user, no terminal: a yes/no box answers "no" at once.
ProgramResult RunKestrune(const TempDir& dir, const std::vector<std::string>& arguments,
                  std::vector<std::string> environment = {}) {
  environment.insert(environment.begin(), {"LC_ALL=", "LC_MESSAGES=", "LANG=C"});
  return RunProgram(KESTRUNE_BINARY, arguments, dir.str(), environment);
}

void ExpectResult(const ProgramResult& r, int code, const std::string& out,
                  const std::string& err) {
  EXPECT_EQ(r.exitCode, code);
  EXPECT_EQ(r.out, out);
  EXPECT_EQ(r.err, err);
}

std::vector<fs::path> Listing(const TempDir& dir) {
  std::vector<fs::path> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) names.push_back(entry.path());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(KestruneCli, MissingNamesAndNoWaveSide) {
  TempDir dir;
  ExpectResult(RunKestrune(dir, {}), 1, kNotSet, "");
  ExpectResult(RunKestrune(dir, {"in.wav"}), 1, kNotSet, "");
  // -out.wav is an option, not the output name.
  ExpectResult(RunKestrune(dir, {"in.mp3", "-out.wav"}), 1, kNotSet, "");
  ExpectResult(RunKestrune(dir, {"", "in.wav", ""}), 1, kNotSet, "");
  ExpectResult(RunKestrune(dir, {"a.mp3", "b.ogg"}), 1, kNotWave, "");
  // .WAV is not a WAVE name for this test, on either side.
  ExpectResult(RunKestrune(dir, {"in.mp3", "out.WAV"}), 1, kNotWave, "");
  EXPECT_TRUE(Listing(dir).empty());  // nothing written
}

TEST(KestruneCli, UnsupportedExtensionBoxAndExitCodeByTheOutputFile) {
  TempDir dir;
  // a.wav to b.WAV: an encode chosen by ".wav", which no body takes.
  ExpectResult(RunKestrune(dir, {"a.wav", "b.WAV"}), 1, "", kUnsupportedBox);
  ExpectResult(RunKestrune(dir, {"in.wav", "song.flac", "-b320", "-q2", "-x"}), 1, "", kUnsupportedBox);
  // "-b 192": 192 becomes the input name, without extension.
  ExpectResult(RunKestrune(dir, {"-b", "192", "x.wav"}), 1, "", kUnsupportedBox);
  EXPECT_TRUE(Listing(dir).empty());

  // With a file already at the output path the exit code is 0; a folder
  // there does not count.
  std::ofstream(dir / "there.flac") << "old";
  ExpectResult(RunKestrune(dir, {"in.wav", "there.flac"}), 0, "", kUnsupportedBox);
  fs::create_directory(dir / "folder.flac");
  ExpectResult(RunKestrune(dir, {"in.wav", "folder.flac"}), 1, "", kUnsupportedBox);
  std::ifstream in(dir / "there.flac");
  std::string content;
  in >> content;
  EXPECT_EQ(content, "old");  // left alone
}

TEST(KestruneCli, JapaneseUserGetsTheLanguageFileWhenThereIsOne) {
  TempDir dir;
  const std::vector<std::string> japanese = {"LANG=ja_JP.UTF-8"};
  // No language file: English, and nothing said about the missing file.
  ExpectResult(RunKestrune(dir, {"in.wav"}, japanese), 1, kNotSet, "");

  std::ofstream(dir / "Kestrune.jpn", std::ios::binary)
      << "; Kestrune language file\r\n[Text]\r\n"
      << kNotSet << "=\xE5\x85\xA5\xE5\x8A\x9B\\\\n\r\n"
      << "The extension is not supported.=\"EXT\"\r\n";
  ExpectResult(RunKestrune(dir, {"in.wav"}, japanese), 1, "\xE5\x85\xA5\xE5\x8A\x9B\n", "");
  ExpectResult(RunKestrune(dir, {"in.wav", "x.aac"}, japanese), 1, "",
               "Kestrune\nEXT\nIs it searched for the Harmoloft command line by the browser?\n");
  // LC_ALL comes first; an English user never reads the file.
  ExpectResult(RunKestrune(dir, {"in.wav"}, {"LC_ALL=en_US.UTF-8", "LANG=ja_JP.UTF-8"}), 1, kNotSet, "");
  ExpectResult(RunKestrune(dir, {"in.wav"}), 1, kNotSet, "");
}

TEST(KestruneCli, HostileArguments) {
  TempDir dir;
  std::string bytes;
  for (int c = 1; c < 256; ++c) bytes += static_cast<char>(c);
  ExpectResult(RunKestrune(dir, {bytes, bytes + ".wav"}), 1, "", kUnsupportedBox);
#ifdef _WIN32
  // A Windows command line holds at most 32767 characters.
  const std::string huge(10000, 'a');
#else
  // Linux takes single arguments up to 128 KiB.
  const std::string huge(120000, 'a');
#endif
  ExpectResult(RunKestrune(dir, {"-" + huge, huge + ".wav", huge}), 1, "", kUnsupportedBox);
  ExpectResult(RunKestrune(dir, {"missing.wav", "no/such/folder/out.xyz"}), 1, "", kUnsupportedBox);
  EXPECT_TRUE(Listing(dir).empty());
}

}  // namespace
}  // namespace kestrune
