#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "base/file_stream.h"
#include "base/paths.h"
#include "base/platform/platform.h"
#include "tests/support/temp_dir.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;

TEST(Win32Paths, DriveLettersBackslashesAndSlashes) {
  EXPECT_EQ(GetFullPath("C:\\music\\live\\..\\song.WAV"), "C:\\music\\song.WAV");
  EXPECT_EQ(GetFullPath("C:/music/./live/song.wav"), "C:\\music\\live\\song.wav");
  EXPECT_EQ(GetFullPath("D:\\a\\b\\..\\..\\..\\c"), "D:\\c");
  EXPECT_EQ(GetFullPath("C:\\folder\\"), "C:\\folder\\");
  // A relative path is joined with the current folder.
  testing::TempDir dir;
  const fs::path cwd = fs::current_path();
  fs::current_path(dir.path());
  EXPECT_EQ(GetFullPath("x\\..\\y.wav"), dir.str() + "\\y.wav");
  fs::current_path(cwd);

  PathParts parts = SplitPath("C:\\music\\live\\song.tar.WAV");
  EXPECT_EQ(parts.directory, "C:\\music\\live\\");
  EXPECT_EQ(parts.name, "song.tar");
  EXPECT_EQ(parts.extension, ".WAV");
  parts = SplitPath("C:/mixed\\folders/name");
  EXPECT_EQ(parts.directory, "C:/mixed\\folders/");
  EXPECT_EQ(parts.name, "name");

  const std::string temp = GetTempDirectory();
  ASSERT_GE(temp.size(), 3u);
  EXPECT_EQ(temp[1], ':');
  EXPECT_EQ(temp.back(), '\\');
  const std::string module = GetModulePath();
  EXPECT_EQ(module.substr(module.size() - 4), ".exe");
  EXPECT_EQ(module[1], ':');
  EXPECT_EQ(GetFileAttributes(module) & kFileAttributeDirectory, 0u);
}

TEST(Win32Paths, UpperCaseExtensionsAndNamesOutsideAscii) {
  testing::TempDir dir;
  // "été.WAV" in the system's ANSI code page (1252 under Wine's C locale),
  // and a name that mixes both separators.
  const std::string accented = dir.str() + "\\\xE9t\xE9.WAV";
  FileStream out;
  ASSERT_TRUE(out.Open(accented, false, true, false, false));
  EXPECT_EQ(out.Write("RIFF", 4), 4u);
  out.Close();
  EXPECT_TRUE(IsExistingFile(accented));
  EXPECT_EQ(GetLongPath(accented), accented);
  // The same file under other spellings: the system ignores case and takes
  // "/" for "\".
  EXPECT_TRUE(IsExistingFile(dir.str() + "/\xC9T\xC9.wav"));
  FileStream in;
  ASSERT_TRUE(in.Open(dir.str() + "/\xE9t\xE9.wav", true, false, true, false));
  char bytes[4] = {};
  EXPECT_EQ(in.Read(bytes, 4), 4u);
  EXPECT_EQ(std::string(bytes, 4), "RIFF");
  in.Close();

  // The listing gives the name back byte for byte.
  platform::FoundFile found;
  platform::FindHandle* handle = platform::FindFirstFile(dir.str() + "\\*.wav", &found);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(found.name, "\xE9t\xE9.WAV");
  EXPECT_FALSE(platform::FindNextFile(handle, &found));
  platform::FindClose(handle);

  // Unique names in a folder given with "/" and without a trailing separator.
  const std::string unique = MakeUniqueFileName("k", "", "dat", dir.str() + "/sub");
  ASSERT_FALSE(unique.empty());
  EXPECT_EQ(unique.substr(0, dir.str().size() + 5), dir.str() + "/sub\\");
  EXPECT_TRUE(IsExistingFile(unique));
  EXPECT_TRUE(DeleteFile(accented));
  EXPECT_FALSE(IsExistingFile(accented));
}

}  // namespace
}  // namespace kestrune
