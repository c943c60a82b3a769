#include "base/file_stream.h"

#include "base/platform/platform.h"

namespace kestrune {

FileStream::~FileStream() { Close(); }

bool FileStream::Open(const std::string& path, bool read, bool write, bool shareRead,
                      bool shareWrite, uint32_t flagsAndAttributes) {
  platform::FileHandle handle =
      platform::OpenFile(path, read, write, shareRead, shareWrite, flagsAndAttributes);
  if (handle == platform::kInvalidFile) return false;
  Close();
  handle_ = handle;
  path_ = path;
  return true;
}

size_t FileStream::Read(void* buffer, size_t count) {
  if (!IsOpen() || count == 0) return 0;
  size_t done = 0;
  if (!platform::ReadFile(handle_, buffer, count, &done)) return 0;
  return done;
}

size_t FileStream::Write(const void* buffer, size_t count) {
  if (!IsOpen() || count == 0) return 0;
  size_t done = 0;
  if (!platform::WriteFile(handle_, buffer, count, &done)) return 0;
  return done;
}

bool FileStream::Seek(int64_t offset, int origin) {
  if (!IsOpen()) return false;
  return platform::SeekFile(handle_, offset, origin, nullptr);
}

uint64_t FileStream::Tell() {
  uint64_t position = 0;
  if (!IsOpen() || !platform::SeekFile(handle_, 0, kCurrent, &position)) return 0;
  return position;
}

uint64_t FileStream::Size() {
  uint64_t size = 0;
  if (!IsOpen() || !platform::GetFileSize(handle_, &size)) return 0;
  return size;
}

uint32_t FileStream::SetEnd(uint64_t position) {
  if (!IsOpen()) return 6;  // the system's "invalid handle"
  if (position > static_cast<uint64_t>(INT64_MAX) ||
      !platform::SeekFile(handle_, static_cast<int64_t>(position), kBegin, nullptr) ||
      !platform::SetEndOfFile(handle_)) {
    const uint32_t error = platform::GetLastError();
    return error != 0 ? error : 1;
  }
  return 0;
}

void FileStream::Close() {
  if (IsOpen()) platform::CloseFile(handle_);
  handle_ = kNoHandle;
  path_.clear();
}

}  // namespace kestrune
