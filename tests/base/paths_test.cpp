#include "base/paths.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "tests/support/temp_dir.h"

namespace kestrune {
namespace {

using testing::TempDir;
namespace fs = std::filesystem;

TEST(Paths, EnsureDirectoryCreatesMissingLevelsAndRefusesFiles) {
  TempDir dir;
  const std::string deep = dir / "one/two/three";
  fs::create_directory(dir / "one");
  EXPECT_TRUE(EnsureDirectory(deep));
  EXPECT_TRUE(fs::is_directory(deep));
  EXPECT_TRUE(EnsureDirectory(deep));  // already there
  EXPECT_TRUE(EnsureDirectory(deep + "/"));
  EXPECT_TRUE(EnsureDirectory(""));

  std::ofstream(dir / "file") << "x";
  EXPECT_FALSE(EnsureDirectory(dir / "file"));
  EXPECT_FALSE(EnsureDirectory(dir / "file/below"));
  EXPECT_FALSE(fs::exists(dir / "file/below"));
  // A missing name without any folder part cannot be placed.
  EXPECT_FALSE(EnsureDirectory("kestrune-no-such-relative-folder"));

#ifndef _WIN32
  fs::create_directory(dir / "locked");
  fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
  if (geteuid() != 0) {  // root writes anywhere
    EXPECT_FALSE(EnsureDirectory(dir / "locked/inner"));
  }
#endif
}

TEST(Paths, MakeUniqueFileNameTakesAFreshNameInEitherExtensionForm) {
  TempDir dir;
  const std::string folder = dir / "tmp/sub";  // made on demand
  const std::string a = MakeUniqueFileName("kes", "_x", "dat", folder);
  const std::string b = MakeUniqueFileName("kes", "_x", ".dat", folder + "/");
  const std::regex form(std::regex_replace(folder, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                        R"([/\\]kes-?[0-9]+_x\.dat)");
  EXPECT_TRUE(std::regex_match(a, form)) << a;
  EXPECT_TRUE(std::regex_match(b, form)) << b;
  EXPECT_NE(a, b);
  EXPECT_TRUE(fs::is_regular_file(a));
  EXPECT_EQ(fs::file_size(a), 0u);
  EXPECT_EQ(fs::file_size(b), 0u);

  std::set<std::string> names{a, b};
  for (int i = 0; i < 50; ++i) names.insert(MakeUniqueFileName("", "", "", folder));
  EXPECT_EQ(names.size(), 52u);
  for (const auto& name : names) EXPECT_TRUE(fs::exists(name)) << name;

#ifndef _WIN32
  // An empty folder means the temporary directory; no extension, no dot.
  const std::string saved = getenv("TMPDIR") ? getenv("TMPDIR") : "";
  setenv("TMPDIR", dir.str().c_str(), 1);
  const std::string c = MakeUniqueFileName("p", "", "", "");
  if (saved.empty()) unsetenv("TMPDIR"); else setenv("TMPDIR", saved.c_str(), 1);
  EXPECT_TRUE(std::regex_match(c, std::regex(".*/p-?[0-9]+"))) << c;
  EXPECT_EQ(fs::path(c).parent_path(), dir.path());
#endif

  // A folder that cannot be made gives no name.
  std::ofstream(dir / "plain") << "x";
  EXPECT_EQ(MakeUniqueFileName("p", "", "dat", dir / "plain/sub"), "");
}

#ifndef _WIN32
// The Windows forms of these are in tests/platform.
TEST(Paths, FullLongTempAndModulePaths) {
  TempDir dir;
  const fs::path cwd = fs::current_path();
  fs::current_path(dir.path());
  EXPECT_EQ(GetFullPath("a/../b/./c.wav"), dir / "b/c.wav");
  EXPECT_EQ(GetFullPath("x/"), dir / "x/");
  fs::current_path(cwd);
  EXPECT_EQ(GetFullPath("/a//b/../../../c"), "/c");
  EXPECT_EQ(GetFullPath(""), "");

  EXPECT_EQ(GetLongPath(dir / "missing/file.wav"), dir / "missing/file.wav");
  EXPECT_EQ(GetLongPath(dir.str()), dir.str());

  const std::string saved = getenv("TMPDIR") ? getenv("TMPDIR") : "";
  setenv("TMPDIR", "/var/tmp/x", 1);
  EXPECT_EQ(GetTempDirectory(), "/var/tmp/x/");
  setenv("TMPDIR", "", 1);
  EXPECT_EQ(GetTempDirectory(), "/tmp/");
  unsetenv("TMPDIR");
  EXPECT_EQ(GetTempDirectory(), "/tmp/");
  if (!saved.empty()) setenv("TMPDIR", saved.c_str(), 1);

  EXPECT_EQ(GetModulePath(), fs::canonical("/proc/self/exe").string());
}
#endif

TEST(Paths, SplitPathAndAttributes) {
  PathParts p = SplitPath("/music/live/song.tar.gz");
  EXPECT_EQ(p.drive, "");
  EXPECT_EQ(p.directory, "/music/live/");
  EXPECT_EQ(p.name, "song.tar");
  EXPECT_EQ(p.extension, ".gz");
  p = SplitPath("noext");
  EXPECT_EQ(p.directory, "");
  EXPECT_EQ(p.name, "noext");
  EXPECT_EQ(p.extension, "");
  p = SplitPath("dir.d/name");
  EXPECT_EQ(p.directory, "dir.d/");
  EXPECT_EQ(p.name, "name");
  EXPECT_EQ(p.extension, "");
  p = SplitPath("");
  EXPECT_EQ(p.directory + p.name + p.extension, GetModulePath());

  TempDir dir;
  std::ofstream(dir / "f.txt") << "x";
  EXPECT_EQ(GetFileAttributes(dir.str()) & kFileAttributeDirectory, kFileAttributeDirectory);
  EXPECT_EQ(GetFileAttributes(dir / "f.txt") & kFileAttributeDirectory, 0u);
  EXPECT_EQ(GetFileAttributes(dir / "none"), kInvalidFileAttributes);
  EXPECT_TRUE(IsExistingFile(dir / "f.txt"));
  EXPECT_FALSE(IsExistingFile(dir.str()));
  EXPECT_FALSE(DeleteFile(dir.str()));
  EXPECT_TRUE(DeleteFile(dir / "f.txt"));
  EXPECT_FALSE(IsExistingFile(dir / "f.txt"));
  EXPECT_FALSE(DeleteFile(dir / "f.txt"));
}

TEST(Paths, FileFinderListsMatchesWithTheirFolder) {
  testing::TempDir dir;
  for (const char* name : {"a.wav", "b.WAV", "c.csv", "noext"}) std::ofstream(dir / name) << "x";
  fs::create_directory(dir / "sub.wav");

#ifdef _WIN32
  // The full path is the system's, with "\", and names match without
  // regard to case.
  const std::string folder = dir.str() + "\\";
  const std::set<std::string> waves{"a.wav", "b.WAV", "sub.wav/"};
#else
  const std::string folder = dir.str() + "/";
  const std::set<std::string> waves{"a.wav", "sub.wav/"};
#endif
  FileFinder finder;
  std::set<std::string> names;
  ASSERT_TRUE(finder.First(dir / "*.wav"));
  EXPECT_EQ(finder.Directory(), folder);
  do {
    names.insert(finder.Name() + (finder.IsDirectory() ? "/" : ""));
    EXPECT_TRUE(fs::exists(finder.FullPath()));
  } while (finder.Next());
  EXPECT_EQ(names, waves);
  EXPECT_FALSE(finder.Next());

  // An empty pattern is "*.*": every name in the current folder, also
  // names without a dot.
  const fs::path cwd = fs::current_path();
  fs::current_path(dir.path());
  names.clear();
  ASSERT_TRUE(finder.First(""));
  EXPECT_EQ(finder.Directory(), folder);
  do names.insert(finder.Name()); while (finder.Next());
  fs::current_path(cwd);
  EXPECT_EQ(names, (std::set<std::string>{"a.wav", "b.WAV", "c.csv", "noext", "sub.wav"}));

  EXPECT_TRUE(finder.First(dir / "?.csv"));
  EXPECT_EQ(finder.Name(), "c.csv");
  EXPECT_FALSE(finder.Next());
  EXPECT_FALSE(finder.First(dir / "*.mp3"));
  EXPECT_FALSE(finder.First(dir / "missing/*"));
  EXPECT_FALSE(finder.First(dir.str() + "/" + std::string(260, '*')));
  EXPECT_EQ(finder.Name(), "");
}

}  // namespace
}  // namespace kestrune
