// Path operations on 8-bit strings in the system code page.
#pragma once

#include <cstdint>
#include <string>

namespace kestrune {

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

// Thin wrappers over the system's attribute and delete calls.
inline constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
inline constexpr uint32_t kFileAttributeDirectory = 0x10u;
uint32_t GetFileAttributes(const std::string& path);
bool IsExistingFile(const std::string& path);  // exists and is no directory
bool DeleteFile(const std::string& path);

}  // namespace kestrune
