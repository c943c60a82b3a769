// Files, paths and the last error on POSIX.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/platform/platform.h"

static_assert(sizeof(off_t) == 8, "64-bit file offsets are required");

namespace kestrune::platform {

uint32_t GetLastError() { return static_cast<uint32_t>(errno); }
void SetLastError(uint32_t code) { errno = static_cast<int>(code); }

std::string GetErrorMessage(uint32_t code) {
  char buffer[256];
  buffer[0] = '\0';
  // GNU strerror_r returns the text, which may or may not be in buffer.
  const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
  return text ? std::string(text) : std::string();
}

FileHandle OpenFile(const std::string& path, bool read, bool write,
                    bool /*shareRead*/, bool /*shareWrite*/,
                    uint32_t /*flagsAndAttributes*/) {
  if (path.empty() || path.find('\0') != std::string::npos) {
    errno = ENOENT;
    return kInvalidFile;
  }
  int flags = O_CLOEXEC;
  if (read) {
    flags |= write ? O_RDWR : O_RDONLY;
  } else if (write) {
    flags |= O_WRONLY | O_CREAT | O_TRUNC;
  } else {
    errno = EINVAL;
    return kInvalidFile;
  }
  int fd;
  do {
    fd = ::open(path.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return kInvalidFile;
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    int saved = errno;
    ::close(fd);
    errno = S_ISDIR(st.st_mode) ? EISDIR : saved;
    return kInvalidFile;
  }
  return fd;
}

void CloseFile(FileHandle file) {
  if (file != kInvalidFile) ::close(static_cast<int>(file));
}

bool ReadFile(FileHandle file, void* buffer, size_t count, size_t* done) {
  *done = 0;
  auto* out = static_cast<char*>(buffer);
  while (*done < count) {
    ssize_t n = ::read(static_cast<int>(file), out + *done, count - *done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;  // end of file
    *done += static_cast<size_t>(n);
  }
  return true;
}

bool WriteFile(FileHandle file, const void* buffer, size_t count, size_t* done) {
  *done = 0;
  const auto* in = static_cast<const char*>(buffer);
  while (*done < count) {
    ssize_t n = ::write(static_cast<int>(file), in + *done, count - *done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    *done += static_cast<size_t>(n);
  }
  return true;
}

bool SeekFile(FileHandle file, int64_t offset, int origin, uint64_t* newPosition) {
  int whence;
  switch (origin) {
    case 0: whence = SEEK_SET; break;
    case 1: whence = SEEK_CUR; break;
    case 2: whence = SEEK_END; break;
    default: errno = EINVAL; return false;
  }
  off_t pos = ::lseek(static_cast<int>(file), static_cast<off_t>(offset), whence);
  if (pos < 0) return false;
  if (newPosition) *newPosition = static_cast<uint64_t>(pos);
  return true;
}

bool GetFileSize(FileHandle file, uint64_t* size) {
  struct stat st;
  if (::fstat(static_cast<int>(file), &st) != 0) return false;
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool SetEndOfFile(FileHandle file) {
  off_t pos = ::lseek(static_cast<int>(file), 0, SEEK_CUR);
  if (pos < 0) return false;
  int rc;
  do {
    rc = ::ftruncate(static_cast<int>(file), pos);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

uint32_t GetFileAttributes(const std::string& path) {
  struct stat st;
  if (path.empty() || path.find('\0') != std::string::npos ||
      ::stat(path.c_str(), &st) != 0) {
    if (path.empty()) errno = ENOENT;
    return 0xFFFFFFFFu;
  }
  if (S_ISDIR(st.st_mode)) return 0x10u;
  if (::access(path.c_str(), W_OK) != 0 && (errno == EACCES || errno == EROFS)) {
    return 0x01u;
  }
  return 0x80u;
}

bool DeleteFile(const std::string& path) {
  if (path.find('\0') != std::string::npos) {
    errno = ENOENT;
    return false;
  }
  return ::unlink(path.c_str()) == 0;
}

bool CreateDirectory(const std::string& path) {
  if (path.find('\0') != std::string::npos) {
    errno = ENOENT;
    return false;
  }
  return ::mkdir(path.c_str(), 0777) == 0;
}

bool IsPathSeparator(char c) { return c == '/'; }

// Like the Win32 call, the full path is formed lexically: the path need not
// exist, "." and ".." are resolved without following links.
bool GetFullPathName(const std::string& path, std::string* full) {
  if (path.empty() || path.find('\0') != std::string::npos) {
    errno = ENOENT;
    return false;
  }
  std::string joined;
  if (path[0] != '/') {
    std::vector<char> cwd(PATH_MAX + 1);
    if (!::getcwd(cwd.data(), cwd.size())) return false;
    joined = cwd.data();
    joined += '/';
  }
  joined += path;
  std::vector<std::string> parts;
  size_t i = 0;
  while (i < joined.size()) {
    size_t end = joined.find('/', i);
    if (end == std::string::npos) end = joined.size();
    std::string part = joined.substr(i, end - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(std::move(part));
    }
    i = end + 1;
  }
  std::string result;
  for (const auto& part : parts) {
    result += '/';
    result += part;
  }
  if (result.empty()) result = "/";
  // A trailing separator names a folder and stays.
  if (joined.back() == '/' && result.back() != '/') result += '/';
  *full = std::move(result);
  return true;
}

// POSIX has no short names: the long name of an existing path is the path.
bool GetLongPathName(const std::string& path, std::string* longPath) {
  if (GetFileAttributes(path) == 0xFFFFFFFFu) return false;
  *longPath = path;
  return true;
}

std::string GetTempPath() {
  const char* dir = std::getenv("TMPDIR");
  std::string result = (dir && *dir) ? dir : "/tmp";
  if (result.size() >= 1024) result = "/tmp";
  if (result.back() != '/') result += '/';
  return result;
}

std::string GetModuleFileName() {
  char buffer[1024];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return std::string();
  return std::string(buffer, static_cast<size_t>(n));
}

void WriteStandardOutput(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace kestrune::platform
