// Directory enumeration on POSIX: opendir/readdir with fnmatch wildcards.
#include <dirent.h>
#include <fnmatch.h>

#include <cerrno>

#include "base/platform/platform.h"

namespace kestrune::platform {

struct FindHandle {
  DIR* dir = nullptr;
  std::string folder;   // with its trailing separator, or "" for "."
  std::string pattern;  // the name part
};

namespace {

bool NextMatch(FindHandle* handle, FoundFile* found) {
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(handle->dir);
    if (!entry) {
      if (errno == 0) errno = ENOENT;  // the system's "no more files"
      return false;
    }
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (fnmatch(handle->pattern.c_str(), name.c_str(), 0) != 0) continue;
    found->name = name;
    found->attributes = GetFileAttributes(handle->folder + name);
    if (found->attributes == 0xFFFFFFFFu) found->attributes = 0x80u;  // vanished meanwhile
    return true;
  }
}

}  // namespace

FindHandle* FindFirstFile(const std::string& pattern, FoundFile* found) {
  if (pattern.find('\0') != std::string::npos) {
    errno = ENOENT;
    return nullptr;
  }
  auto* handle = new FindHandle;
  const size_t slash = pattern.rfind('/');
  handle->folder = slash == std::string::npos ? std::string() : pattern.substr(0, slash + 1);
  handle->pattern = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  // "*.*" is the classic "every name", also names without a dot.
  if (handle->pattern == "*.*") handle->pattern = "*";
  handle->dir = opendir(handle->folder.empty() ? "." : handle->folder.c_str());
  if (!handle->dir || !NextMatch(handle, found)) {
    FindClose(handle);
    return nullptr;
  }
  return handle;
}

bool FindNextFile(FindHandle* handle, FoundFile* found) {
  return handle && NextMatch(handle, found);
}

void FindClose(FindHandle* handle) {
  if (!handle) return;
  const int saved = errno;
  if (handle->dir) closedir(handle->dir);
  delete handle;
  errno = saved;
}

}  // namespace kestrune::platform
