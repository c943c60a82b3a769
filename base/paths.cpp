#include "base/paths.h"

#include <cstdio>
#include <random>

#include "base/platform/platform.h"

namespace kestrune {

namespace {

size_t LastSeparator(const std::string& path) {
  for (size_t i = path.size(); i > 0; --i) {
    if (platform::IsPathSeparator(path[i - 1])) return i - 1;
  }
  return std::string::npos;
}

bool IsDirectory(const std::string& path) {
  const uint32_t attributes = platform::GetFileAttributes(path);
  return attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory);
}

}  // namespace

std::string GetFullPath(const std::string& path) {
  std::string full;
  return platform::GetFullPathName(path, &full) ? full : std::string();
}

std::string GetLongPath(const std::string& path) {
  std::string longPath;
  return platform::GetLongPathName(path, &longPath) ? longPath : path;
}

std::string GetTempDirectory() { return platform::GetTempPath(); }

std::string GetModulePath() { return platform::GetModuleFileName(); }

PathParts SplitPath(const std::string& given) {
  const std::string path = given.empty() ? GetModulePath() : given;
  PathParts parts;
  const size_t separator = LastSeparator(path);
  const size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
  parts.directory = path.substr(0, nameStart);
  const std::string file = path.substr(nameStart);
  const size_t dot = file.rfind('.');
  if (dot == std::string::npos) {
    parts.name = file;
  } else {
    parts.name = file.substr(0, dot);
    parts.extension = file.substr(dot);
  }
  return parts;
}

bool EnsureDirectory(const std::string& path) {
  if (!IsDirectory(path)) {
    if (path.empty()) return true;
    const size_t separator = LastSeparator(path);
    if (separator == std::string::npos) return false;
    if (!EnsureDirectory(path.substr(0, separator))) return false;
    platform::CreateDirectory(path);  // checked below, by what now exists
  }
  return IsDirectory(path);
}

std::string MakeUniqueFileName(const std::string& prefix, const std::string& suffix,
                               const std::string& extension, const std::string& directory) {
  std::string folder = directory.empty() ? GetTempDirectory() : directory;
  if (!platform::IsPathSeparator(folder.back())) folder += platform::kPathSeparator;
  if (!EnsureDirectory(folder)) return std::string();

  std::string tail = suffix;
  if (!extension.empty()) {
    if (extension[0] != '.') tail += '.';
    tail += extension;
  }
  std::random_device entropy;
  std::mt19937 generator(entropy());
  // Names are drawn until one is free; an existing name is never reused.
  for (int attempt = 0; attempt < 10000; ++attempt) {
    char number[16];
    std::snprintf(number, sizeof number, "%d", static_cast<int>(generator()));
    const std::string name = folder + prefix + number + tail;
    if (platform::GetFileAttributes(name) != kInvalidFileAttributes) continue;
    // Take the name at once by creating the file empty.
    platform::FileHandle file = platform::OpenFile(name, false, true, false, false, 0);
    if (file == platform::kInvalidFile) return std::string();
    platform::CloseFile(file);
    return GetLongPath(name);
  }
  return std::string();
}

bool FileFinder::First(const std::string& given) {
  Close();
  const std::string pattern = given.empty() ? "*.*" : given;
  if (pattern.size() >= 260) {
    platform::SetLastError(36);  // ENAMETOOLONG
    return false;
  }
  platform::FoundFile found;
  platform::FindHandle* handle = platform::FindFirstFile(pattern, &found);
  if (!handle) return false;
  const std::string full = GetFullPath(pattern);
  const size_t separator = LastSeparator(full);
  if (full.empty() || separator == std::string::npos) {
    platform::FindClose(handle);
    platform::SetLastError(22);  // EINVAL: the name cannot be formed
    return false;
  }
  handle_ = handle;
  directory_ = full.substr(0, separator + 1);
  name_ = found.name;
  attributes_ = found.attributes;
  return true;
}

bool FileFinder::Next() {
  if (!handle_) return false;
  platform::FoundFile found;
  if (!platform::FindNextFile(handle_, &found)) return false;
  name_ = found.name;
  attributes_ = found.attributes;
  return true;
}

void FileFinder::Close() {
  platform::FindClose(handle_);
  handle_ = nullptr;
  directory_.clear();
  name_.clear();
  attributes_ = 0;
}

uint32_t GetFileAttributes(const std::string& path) { return platform::GetFileAttributes(path); }

bool IsExistingFile(const std::string& path) {
  const uint32_t attributes = platform::GetFileAttributes(path);
  return attributes != kInvalidFileAttributes && !(attributes & kFileAttributeDirectory);
}

bool DeleteFile(const std::string& path) { return platform::DeleteFile(path); }

}  // namespace kestrune
