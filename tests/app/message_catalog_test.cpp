#include "app/message_catalog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "base/paths.h"
#include "tests/support/temp_dir.h"

namespace kestrune {
namespace {

using testing::TempDir;
namespace fs = std::filesystem;

const std::string kNotSet = "The input or the output file is not set.";

std::string Load(MessageCatalog& catalog, const std::string& text) {
  catalog.Clear();
  catalog.ParseText(text, false);
  return catalog.Translate(kNotSet);
}

TEST(Unescape, EscapesQuotesAndTheCodePage) {
  EXPECT_EQ(Unescape("plain text"), "plain text");
  EXPECT_EQ(Unescape("\"quoted\""), "quoted");
  EXPECT_EQ(Unescape("a\\nb\\rc\\td"), "a\nb\rc\td");
  EXPECT_EQ(Unescape("\\\"\\\\"), "\"\\");
  EXPECT_EQ(Unescape("\\x\\q"), "\\x\\q");
  EXPECT_EQ(Unescape("end\\"), "end");
  EXPECT_EQ(Unescape("\\"), "");
  EXPECT_EQ(Unescape("\\\\n"), "\\n");
  EXPECT_EQ(Unescape(Unescape("\\\\n")), "\n");
  EXPECT_EQ(Unescape(Unescape("\\\\\\\\")), "\\");
  // Multi-byte characters pass whole, also right after a backslash.
  EXPECT_EQ(Unescape("\\\xE6\x97\xA5\"\xE6\x9C\xAC"), "\\\xE6\x97\xA5\xE6\x9C\xAC");
  // Without escapes the bytes stay as they are, even when not valid UTF-8.
  EXPECT_EQ(Unescape("\xFF\xC3"), "\xFF\xC3");
  // With escapes the text takes the round trip through UTF-16.
  EXPECT_EQ(Unescape("\xFF\\n\xC3"), "\xEF\xBF\xBD\n\xEF\xBF\xBD");
  EXPECT_EQ(Unescape("\xE6\x97\"x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(Unescape("\xED\xA0\x80\""), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(Unescape(std::string("a\0\\n", 4)), std::string("a\0\n", 3));
}

TEST(MessageCatalog, LanguageFileLines) {
  MessageCatalog c;
  EXPECT_EQ(c.Translate(kNotSet), kNotSet);  // empty catalogue
  EXPECT_EQ(Load(c, "[Text]\r\n" + kNotSet + "=JA\r\n"), "JA");
  // The last line needs no line end.
  EXPECT_EQ(Load(c, "[Text]\r\n" + kNotSet + "=JA"), "JA");
  // LF alone does not end a line: one line, no section.
  EXPECT_EQ(Load(c, "[Text]\n" + kNotSet + "=JA\n"), kNotSet);
  // A lone CR is part of the line, so the key differs.
  EXPECT_EQ(Load(c, "[Text]\r\n" + kNotSet + "\r=JA\r\n"), kNotSet);
  // "[Text] " is no header; a key line before any header is ignored.
  EXPECT_EQ(Load(c, kNotSet + "=A\r\n[Text] \r\n" + kNotSet + "=B\r\n"), kNotSet);
  // Only the first section named Text is searched.
  EXPECT_EQ(Load(c, "[Text]\r\nx=1\r\n[Text]\r\n" + kNotSet + "=B\r\n"), kNotSet);
  EXPECT_EQ(Load(c, "[Other]\r\n" + kNotSet + "=A\r\n[Text]\r\n" + kNotSet + "=B\r\n"), "B");
  // Comments only in the first column; blanks are never trimmed.
  EXPECT_EQ(Load(c, "[Text]\r\n;" + kNotSet + "=A\r\n//x=1\r\n " + kNotSet + "=B\r\n"), kNotSet);
  EXPECT_EQ(Load(c, "[Text]\r\n" + kNotSet + " = B\r\n"), kNotSet);
  // Split at the first "=", later value wins, empty value shows empty.
  EXPECT_EQ(Load(c, "[Text]\r\n" + kNotSet + "=a=b\r\n"), "a=b");
  EXPECT_EQ(Load(c, "[Text]\r\n" + kNotSet + "=1\r\n" + kNotSet + "=2\r\n"), "2");
  EXPECT_EQ(Load(c, "[Text]\r\n" + kNotSet + "=\r\n"), "");
  c.Clear();
  c.ParseText("[Text]\r\n=empty key\r\nnovalue\r\n[]\r\n[x]\r\n", false);
  EXPECT_EQ(c.Translate(""), "empty key");
  EXPECT_EQ(c.Translate("novalue"), "novalue");
  // Values are unescaped when stored and once more when looked up.
  EXPECT_EQ(Load(c, "[Text]\r\n" + kNotSet + "=\"quoted\"\r\n"), "quoted");
  EXPECT_EQ(Load(c, "[Text]\r\n" + kNotSet + "=a\\nb\r\n"), "a\nb");
  EXPECT_EQ(Load(c, "[Text]\r\n" + kNotSet + "=a\\\\nb\r\n"), "a\nb");
  EXPECT_EQ(Load(c, "[Text]\r\n" + kNotSet + "=\\\\\\\\\r\n"), "\\");
  EXPECT_EQ(Load(c, "[Text]\r\n" + kNotSet + "=\\x\r\n"), "\\x");
  // Keys with escapes match the text with its line break.
  c.Clear();
  c.ParseText("[Text]\r\nAn error has occurred. The command will be cancelled.\\r\\n=E\r\n", false);
  EXPECT_EQ(c.Translate("An error has occurred. The command will be cancelled.\r\n"), "E");
  // Merging replaces a section of the same name.
  c.ParseText("[Text]\r\n" + kNotSet + "=M\r\n", true);
  EXPECT_EQ(c.Translate(kNotSet), "M");
  EXPECT_EQ(c.Translate("An error has occurred. The command will be cancelled.\r\n"),
            "An error has occurred. The command will be cancelled.\r\n");
  // NUL bytes and a megabyte line are just bytes.
  EXPECT_EQ(Load(c, std::string("[Text]\r\n", 8) + kNotSet + "=a" + std::string(1, '\0') + "b\r\n"),
            std::string("a\0b", 3));
  EXPECT_EQ(Load(c, "[Text]\r\n" + kNotSet + "=" + std::string(1 << 20, 'x') + "\r\n").size(),
            1u << 20);
}

TEST(MessageCatalog, LoadLanguageFileFromCurrentThenProgramFolder) {
  TempDir dir;
  const fs::path cwd = fs::current_path();
  fs::current_path(dir.path());
  MessageCatalog c;
  const std::string name = "kestrune-test-" + std::to_string(getpid()) + ".jpn";
  EXPECT_FALSE(c.LoadLanguageFile(name, false));  // nowhere

  std::ofstream(dir / name, std::ios::binary) << "[Text]\r\n" << kNotSet << "=HERE\r\n";
  EXPECT_TRUE(c.LoadLanguageFile(name, false));
  EXPECT_EQ(c.Translate(kNotSet), "HERE");
  EXPECT_EQ(c.FileName(), name);

  // An empty file empties the catalogue and fails.
  std::ofstream(dir / name, std::ios::binary).close();
  EXPECT_FALSE(c.LoadLanguageFile(name, false));
  EXPECT_EQ(c.Translate(kNotSet), kNotSet);
  EXPECT_EQ(c.FileName(), "");

  // Not in the current folder: the program's folder. A folder of that name
  // here does not count.
  fs::remove(dir / name);
  fs::create_directory(dir / name);
  const PathParts program = SplitPath(GetModulePath());
  const std::string beside = program.directory + name;
  std::ofstream(beside, std::ios::binary) << "[Text]\r\n" << kNotSet << "=THERE\r\n";
  EXPECT_TRUE(c.LoadLanguageFile(name, false));
  EXPECT_EQ(c.Translate(kNotSet), "THERE");
  EXPECT_EQ(c.FileName(), beside);
  fs::remove(beside);
  fs::current_path(cwd);
}

}  // namespace
}  // namespace kestrune
