// Directory enumeration on Windows: FindFirstFileA / FindNextFileA, whose
// wildcards are the system's own ("*.*" matches every name).
#include "base/platform/win32/windows_api.h"

namespace kestrune::platform {

struct FindHandle {
  HANDLE search = INVALID_HANDLE_VALUE;
};

namespace {

bool IsDotEntry(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

void Fill(const WIN32_FIND_DATAA& data, FoundFile* found) {
  found->name = data.cFileName;
  found->attributes = data.dwFileAttributes;
}

// Steps over "." and ".."; false (last error ERROR_NO_MORE_FILES) at the end.
bool SkipDotEntries(HANDLE search, WIN32_FIND_DATAA* data) {
  while (IsDotEntry(data->cFileName)) {
    if (!::FindNextFileA(search, data)) return false;
  }
  return true;
}

}  // namespace

FindHandle* FindFirstFile(const std::string& pattern, FoundFile* found) {
  if (pattern.find('\0') != std::string::npos) {
    ::SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  WIN32_FIND_DATAA data;
  HANDLE search = ::FindFirstFileA(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return nullptr;
  if (!SkipDotEntries(search, &data)) {
    const DWORD error = ::GetLastError();
    ::FindClose(search);
    ::SetLastError(error);
    return nullptr;
  }
  Fill(data, found);
  auto* handle = new FindHandle;
  handle->search = search;
  return handle;
}

bool FindNextFile(FindHandle* handle, FoundFile* found) {
  if (!handle) return false;
  WIN32_FIND_DATAA data;
  if (!::FindNextFileA(handle->search, &data) || !SkipDotEntries(handle->search, &data)) {
    return false;
  }
  Fill(data, found);
  return true;
}

void FindClose(FindHandle* handle) {
  if (!handle) return;
  const DWORD saved = ::GetLastError();
  ::FindClose(handle->search);
  delete handle;
  ::SetLastError(saved);
}

}  // namespace kestrune::platform
