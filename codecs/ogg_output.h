// The output file of an Ogg Vorbis conversion: a FileStream written through
// a block buffer (the libraries hand out a few kilobytes at a time), which
// remembers a failed write and deletes the file when the run fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/file_stream.h"

namespace kestrune {

class OggOutputFile {
 public:
  static constexpr size_t kBufferBytes = 1 << 16;

  OggOutputFile() = default;
  ~OggOutputFile();  // flushes and closes (unless Abandon() came first)
  OggOutputFile(const OggOutputFile&) = delete;
  OggOutputFile& operator=(const OggOutputFile&) = delete;

  // Creates or truncates the file for writing (normal attributes).
  bool Create(const std::string& path, bool shareRead);
  // Queues bytes; false once any write to the file has failed.
  bool Write(const void* bytes, size_t count);
  // Writes out what is queued and closes; false when any write failed.
  bool Close();
  // Closes without writing out and deletes the file.
  void Abandon();
  bool failed() const { return failed_; }

 private:
  bool Flush();

  FileStream stream_;
  std::vector<uint8_t> buffer_;
  bool failed_ = false;
};

}  // namespace kestrune
