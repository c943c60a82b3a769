#include "base/file_stream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace kestrune {
namespace {

using namespace testing;

TEST(FileStream, OpenModesCreateTruncateAndRefuseWhatIsMissing) {
  TempDir dir;
  const std::string path = dir / "a.bin";
  WriteBytes(path, "0123456789");

  FileStream stream;
  EXPECT_FALSE(stream.IsOpen());
  EXPECT_EQ(stream.GetPath(), "");

  // Write without read truncates an existing file.
  ASSERT_TRUE(stream.Open(path, false, true, false, false));
  EXPECT_EQ(stream.GetPath(), path);
  EXPECT_EQ(stream.Size(), 0u);
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
  EXPECT_EQ(stream.Write("abc", 3), 3u);
  EXPECT_EQ(stream.Read(nullptr, 0), 0u);
  char buffer[8];
  EXPECT_EQ(stream.Read(buffer, 3), 0u);  // no read access
  stream.Close();
  EXPECT_EQ(stream.GetPath(), "");
  EXPECT_EQ(ReadBytes(path), "abc");

  // Read and write opens an existing file without truncating it.
  ASSERT_TRUE(stream.Open(path, true, true, false, false));
  EXPECT_EQ(stream.Size(), 3u);
  ASSERT_TRUE(stream.Seek(0, FileStream::kEnd));
  EXPECT_EQ(stream.Write("de", 2), 2u);
  ASSERT_TRUE(stream.Seek(1, FileStream::kBegin));
  EXPECT_EQ(stream.Read(buffer, 8), 4u);  // short at the end of the file
  EXPECT_EQ(std::string(buffer, 4), "bcde");

  // A failed open leaves the object as it was.
  EXPECT_FALSE(stream.Open(dir / "missing.bin", true, false, true, false));
  EXPECT_FALSE(stream.Open(dir / "missing.bin", true, true, false, false));
  EXPECT_FALSE(std::filesystem::exists(dir / "missing.bin"));
  EXPECT_TRUE(stream.IsOpen());
  EXPECT_EQ(stream.GetPath(), path);
  EXPECT_EQ(stream.Tell(), 5u);

  // Folders never open, neither for reading nor for writing.
  EXPECT_FALSE(stream.Open(dir.str(), true, false, false, false));
  EXPECT_FALSE(stream.Open(dir.str(), false, true, false, false));
  EXPECT_FALSE(stream.Open("", true, false, false, false));
  EXPECT_FALSE(stream.Open(dir / "no/such/folder.bin", false, true, false, false));
  EXPECT_EQ(stream.GetPath(), path);
}

TEST(FileStream, SixtyFourBitPositionsSeekAndSetEnd) {
  TempDir dir;
  const std::string path = dir / "big.bin";
  FileStream stream;
  ASSERT_TRUE(stream.Open(path, false, true, false, false));

  // Beyond 4 GiB the file is sparse, so this costs no disk space.
  const uint64_t far = (uint64_t{1} << 32) + 17;
  ASSERT_TRUE(stream.Seek(static_cast<int64_t>(far), FileStream::kBegin));
  EXPECT_EQ(stream.Tell(), far);
  ASSERT_EQ(stream.Write("x", 1), 1u);
  EXPECT_EQ(stream.Size(), far + 1);
  ASSERT_TRUE(stream.Seek(-1, FileStream::kCurrent));
  EXPECT_EQ(stream.Tell(), far);
  ASSERT_TRUE(stream.Seek(-2, FileStream::kEnd));
  EXPECT_EQ(stream.Tell(), far - 1);
  EXPECT_FALSE(stream.Seek(-1, FileStream::kBegin));
  EXPECT_FALSE(stream.Seek(0, 3));

  // SetEnd cuts and extends, and leaves the pointer at the new end.
  EXPECT_EQ(stream.SetEnd(10), 0u);
  EXPECT_EQ(stream.Size(), 10u);
  EXPECT_EQ(stream.Tell(), 10u);
  EXPECT_EQ(stream.SetEnd(far), 0u);
  EXPECT_EQ(stream.Size(), far);
  EXPECT_NE(stream.SetEnd(uint64_t{1} << 63), 0u);
  stream.Close();
  EXPECT_EQ(std::filesystem::file_size(path), far);

  // A closed stream answers with zeros and failures.
  EXPECT_EQ(stream.Tell(), 0u);
  EXPECT_EQ(stream.Size(), 0u);
  EXPECT_FALSE(stream.Seek(0, FileStream::kBegin));
  EXPECT_EQ(stream.Write("x", 1), 0u);
  EXPECT_NE(stream.SetEnd(0), 0u);
}

}  // namespace
}  // namespace kestrune
