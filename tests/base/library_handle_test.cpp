#include "base/library_handle.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;
using Value = int (*)();

bool IsMapped(const std::string& path) {
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (module) dlclose(module);
  return module != nullptr;
}

TEST(LibraryHandle, LoadFirstTakesTheFirstThatLoads) {
  const std::string a = KESTRUNE_TEST_LIBRARY_A;
  LibraryHandle handle;
  EXPECT_FALSE(handle.IsLoaded());
  EXPECT_EQ(handle.GetEntry("kestrune_test_value"), nullptr);

  ASSERT_TRUE(handle.LoadFirst({"libkestrune-none-1.so", "/no/such/lib.so", a}));
  auto value = handle.GetEntryAs<Value>("kestrune_test_value");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value(), 11);
  EXPECT_EQ(handle.GetEntry("kestrune_test_missing"), nullptr);
  EXPECT_EQ(handle.GetEntry(std::string("kestrune_test_value\0x", 21)), nullptr);
  EXPECT_EQ(handle.GetEntry(std::string(300, 'x')), nullptr);

  // Counts outside 1..16 fail without trying any name.
  LibraryHandle other;
  std::vector<std::string> seventeen(17, a);
  EXPECT_FALSE(other.LoadFirst(seventeen));
  EXPECT_FALSE(other.IsLoaded());
  EXPECT_FALSE(other.LoadFirst({}));
  seventeen.pop_back();
  EXPECT_TRUE(other.LoadFirst(seventeen));
  EXPECT_FALSE(other.LoadFirst({"/no/such/lib.so"}));
  EXPECT_TRUE(other.IsLoaded());  // a failed load keeps what was held
}

TEST(LibraryHandle, ReplacingAndReleasingUnloads) {
  const std::string a = KESTRUNE_TEST_LIBRARY_A;
  const std::string b = KESTRUNE_TEST_LIBRARY_B;
  {
    LibraryHandle handle;
    ASSERT_TRUE(handle.Load(a));
    EXPECT_TRUE(IsMapped(a));
    ASSERT_TRUE(handle.Load(b));
    EXPECT_FALSE(IsMapped(a));  // the previous library was freed
    EXPECT_EQ(handle.GetEntry("kestrune_test_only_a"), nullptr);
    EXPECT_EQ(handle.GetEntryAs<Value>("kestrune_test_only_b")(), 2);
    EXPECT_EQ(handle.GetEntryAs<Value>("kestrune_test_value")(), 22);
  }
  EXPECT_FALSE(IsMapped(b));  // released with its holder
}

TEST(LibraryHandle, TheCurrentFolderIsNotSearchedForBareNames) {
  testing::TempDir dir;
  const std::string name = "libkestrune_test_here.so";
  fs::copy_file(KESTRUNE_TEST_LIBRARY_A, dir / name);
  const fs::path cwd = fs::current_path();
  fs::current_path(dir.path());
  LibraryHandle handle;
  EXPECT_FALSE(handle.Load(name));
  EXPECT_TRUE(handle.Load("./" + name));  // a path says where to look
  fs::current_path(cwd);
  EXPECT_EQ(handle.GetEntryAs<Value>("kestrune_test_value")(), 11);
}

}  // namespace
}  // namespace kestrune
