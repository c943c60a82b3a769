// Files, paths, the last error and the console on Windows: the ANSI Win32
// calls, so that paths are 8-bit strings in the system code page.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "base/platform/win32/windows_api.h"

namespace kestrune::platform {

namespace {

HANDLE AsHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

// A path that the ANSI calls cannot take as it is (an embedded NUL would
// silently cut it short).
bool IsUnusable(const std::string& path) {
  if (path.find('\0') == std::string::npos) return false;
  ::SetLastError(ERROR_INVALID_NAME);
  return true;
}

// The Win32 length protocol: asked with a buffer too small, a call returns
// the size it needs (with the terminator); with a buffer large enough, the
// length it wrote (without it); 0 on failure.
template <typename Call>
bool FillString(Call call, std::string* out) {
  std::vector<char> buffer(MAX_PATH + 1);
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD n = call(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return false;
    if (n < buffer.size()) {
      out->assign(buffer.data(), n);
      return true;
    }
    buffer.resize(static_cast<size_t>(n) + 1);
  }
  ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return false;
}

}  // namespace

uint32_t GetLastError() { return ::GetLastError(); }
void SetLastError(uint32_t code) { ::SetLastError(code); }

std::string GetErrorMessage(uint32_t code) {
  char* text = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = (length != 0 && text) ? std::string(text, length) : std::string();
  if (text) ::LocalFree(text);
  return result;
}

FileHandle OpenFile(const std::string& path, bool read, bool write, bool shareRead,
                    bool shareWrite, uint32_t flagsAndAttributes) {
  if (IsUnusable(path)) return kInvalidFile;
  DWORD access = 0;
  DWORD disposition = 0;
  if (read) {
    access = GENERIC_READ | (write ? GENERIC_WRITE : 0);
    disposition = OPEN_EXISTING;
  } else if (write) {
    access = GENERIC_WRITE;
    disposition = CREATE_ALWAYS;
  } else {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return kInvalidFile;
  }
  const DWORD share = (shareRead ? FILE_SHARE_READ : 0) | (shareWrite ? FILE_SHARE_WRITE : 0);
  // A directory does not open: without FILE_FLAG_BACKUP_SEMANTICS the
  // system refuses it with "access denied".
  HANDLE handle = ::CreateFileA(path.c_str(), access, share, nullptr, disposition,
                                flagsAndAttributes, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return kInvalidFile;
  return reinterpret_cast<FileHandle>(handle);
}

void CloseFile(FileHandle file) {
  if (file != kInvalidFile) ::CloseHandle(AsHandle(file));
}

// ReadFile and WriteFile take 32-bit counts: larger transfers go in pieces.
constexpr size_t kLargestTransfer = 1u << 30;

bool ReadFile(FileHandle file, void* buffer, size_t count, size_t* done) {
  *done = 0;
  auto* out = static_cast<char*>(buffer);
  while (*done < count) {
    const DWORD want = static_cast<DWORD>(std::min(count - *done, kLargestTransfer));
    DWORD got = 0;
    if (!::ReadFile(AsHandle(file), out + *done, want, &got, nullptr)) return false;
    if (got == 0) break;  // end of file
    *done += got;
  }
  return true;
}

bool WriteFile(FileHandle file, const void* buffer, size_t count, size_t* done) {
  *done = 0;
  const auto* in = static_cast<const char*>(buffer);
  while (*done < count) {
    const DWORD want = static_cast<DWORD>(std::min(count - *done, kLargestTransfer));
    DWORD put = 0;
    if (!::WriteFile(AsHandle(file), in + *done, want, &put, nullptr)) return false;
    if (put == 0) {
      ::SetLastError(ERROR_DISK_FULL);
      return false;
    }
    *done += put;
  }
  return true;
}

bool SeekFile(FileHandle file, int64_t offset, int origin, uint64_t* newPosition) {
  DWORD method;
  switch (origin) {
    case 0: method = FILE_BEGIN; break;
    case 1: method = FILE_CURRENT; break;
    case 2: method = FILE_END; break;
    default: ::SetLastError(ERROR_INVALID_PARAMETER); return false;
  }
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER position;
  if (!::SetFilePointerEx(AsHandle(file), distance, &position, method)) return false;
  if (newPosition) *newPosition = static_cast<uint64_t>(position.QuadPart);
  return true;
}

bool GetFileSize(FileHandle file, uint64_t* size) {
  LARGE_INTEGER value;
  if (!::GetFileSizeEx(AsHandle(file), &value)) return false;
  *size = static_cast<uint64_t>(value.QuadPart);
  return true;
}

bool SetEndOfFile(FileHandle file) { return ::SetEndOfFile(AsHandle(file)) != 0; }

uint32_t GetFileAttributes(const std::string& path) {
  if (IsUnusable(path)) return INVALID_FILE_ATTRIBUTES;
  return ::GetFileAttributesA(path.c_str());
}

bool DeleteFile(const std::string& path) {
  return !IsUnusable(path) && ::DeleteFileA(path.c_str()) != 0;
}

bool CreateDirectory(const std::string& path) {
  return !IsUnusable(path) && ::CreateDirectoryA(path.c_str(), nullptr) != 0;
}

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

// The system forms the full path lexically: the path need not exist, "."
// and ".." are resolved, "/" becomes "\".
bool GetFullPathName(const std::string& path, std::string* full) {
  if (path.empty()) {
    ::SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  if (IsUnusable(path)) return false;
  return FillString(
      [&](char* buffer, DWORD size) {
        return ::GetFullPathNameA(path.c_str(), size, buffer, nullptr);
      },
      full);
}

// Expands 8.3 short names; fails for a path that does not exist.
bool GetLongPathName(const std::string& path, std::string* longPath) {
  if (IsUnusable(path)) return false;
  return FillString(
      [&](char* buffer, DWORD size) {
        return ::GetLongPathNameA(path.c_str(), buffer, size);
      },
      longPath);
}

std::string GetTempPath() {
  std::string path;
  if (!FillString([](char* buffer, DWORD size) { return ::GetTempPathA(size, buffer); },
                  &path) ||
      path.empty()) {
    return ".\\";
  }
  if (!IsPathSeparator(path.back())) path += '\\';
  return path;
}

// GetModuleFileNameA does not report the needed size: it fills the buffer,
// cuts the name short and sets ERROR_INSUFFICIENT_BUFFER when it is too small.
std::string GetModuleFileName() {
  std::vector<char> buffer(1024);
  for (;;) {
    const DWORD n = ::GetModuleFileNameA(nullptr, buffer.data(),
                                         static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::string();
    if (n < buffer.size() || buffer.size() >= 32768) {
      return std::string(buffer.data(), n);
    }
    buffer.resize(buffer.size() * 2);
  }
}

// The bytes go out unchanged: the runtime's text mode would turn "\n" into
// "\r\n", and the progress line's lone "\r" must stay as it is.
void WriteStandardOutput(const std::string& text) {
  std::fflush(stdout);
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  size_t done = 0;
  WriteFile(reinterpret_cast<FileHandle>(out), text.data(), text.size(), &done);
}

}  // namespace kestrune::platform
