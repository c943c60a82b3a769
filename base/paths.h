// Path operations on 8-bit strings in the system code page.
#pragma once

#include <cstdint>
#include <string>

namespace kestrune {

namespace platform {
struct FindHandle;
}

std::string GetFullPath(const std::string& path);  // "" on failure
std::string GetLongPath(const std::string& path);  // the input on failure
std::string GetTempDirectory();                    // ends with a separator
std::string GetModulePath();                       // the program's own file

struct PathParts {
  std::string drive;      // "C:" or ""
  std::string directory;  // with its trailing separator, or ""
  std::string name;
  std::string extension;  // with its dot, or ""
};
// An empty path stands for the program's own file name.
PathParts SplitPath(const std::string& path);

bool EnsureDirectory(const std::string& path);
// directory + prefix + random number + suffix + "." + extension, retried until
// unused, created empty; "" when the directory cannot be made.
std::string MakeUniqueFileName(const std::string& prefix,
                               const std::string& suffix,
                               const std::string& extension,
                               const std::string& directory);

// Directory enumeration: First() starts a search and stands on the first
// match, Next() moves on. An empty pattern means "*.*" (every name); a
// pattern of 260 characters or more fails at once. Directory() is the
// folder of the pattern's full path with its trailing separator, for
// joining with the names found.
class FileFinder {
 public:
  FileFinder() = default;
  ~FileFinder() { Close(); }
  FileFinder(const FileFinder&) = delete;
  FileFinder& operator=(const FileFinder&) = delete;

  bool First(const std::string& pattern);
  bool Next();
  void Close();
  const std::string& Name() const { return name_; }
  const std::string& Directory() const { return directory_; }
  std::string FullPath() const { return directory_ + name_; }
  bool IsDirectory() const { return (attributes_ & 0x10u) != 0; }

 private:
  platform::FindHandle* handle_ = nullptr;
  std::string directory_;
  std::string name_;
  uint32_t attributes_ = 0;
};

// Thin wrappers over the system's attribute and delete calls.
inline constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
inline constexpr uint32_t kFileAttributeDirectory = 0x10u;
uint32_t GetFileAttributes(const std::string& path);
bool IsExistingFile(const std::string& path);  // exists and is no directory
bool DeleteFile(const std::string& path);

}  // namespace kestrune
