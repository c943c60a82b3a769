// A file handle with its path and 64-bit positions. Reads, writes and seeks
// go straight to the operating system (through base/platform).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrune {

class FileStream {
 public:
  enum Origin { kBegin = 0, kCurrent = 1, kEnd = 2 };

  FileStream() = default;
  ~FileStream();
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  // write without read: create or truncate. read (with or without write):
  // open an existing file. On failure the object is unchanged.
  bool Open(const std::string& path, bool read, bool write, bool shareRead,
            bool shareWrite, uint32_t flagsAndAttributes = 0);
  size_t Read(void* buffer, size_t count);         // 0 when closed or on error
  size_t Write(const void* buffer, size_t count);  // 0 when closed or on error
  bool Seek(int64_t offset, int origin);
  uint64_t Tell();
  uint64_t Size();
  // Seeks to position and cuts the file there; 0 on success, else the
  // system's error code.
  uint32_t SetEnd(uint64_t position);
  void Close();

  bool IsOpen() const { return handle_ != kNoHandle; }
  const std::string& GetPath() const { return path_; }

 private:
  static constexpr intptr_t kNoHandle = -1;
  intptr_t handle_ = kNoHandle;
  std::string path_;
};

}  // namespace kestrune
