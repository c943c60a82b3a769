#include "codecs/ogg_output.h"

#include <cstring>

#include "base/paths.h"

namespace kestrune {

namespace {
constexpr uint32_t kNormalAttribute = 0x80;
}

OggOutputFile::~OggOutputFile() { Close(); }

bool OggOutputFile::Create(const std::string& path, bool shareRead) {
  if (!stream_.Open(path, false, true, shareRead, false, kNormalAttribute)) return false;
  buffer_.clear();
  buffer_.reserve(kBufferBytes);
  failed_ = false;
  return true;
}

bool OggOutputFile::Write(const void* bytes, size_t count) {
  if (failed_ || !stream_.IsOpen()) return false;
  const auto* from = static_cast<const uint8_t*>(bytes);
  while (count > 0) {
    const size_t room = kBufferBytes - buffer_.size();
    const size_t take = count < room ? count : room;
    buffer_.insert(buffer_.end(), from, from + take);
    from += take;
    count -= take;
    if (buffer_.size() == kBufferBytes && !Flush()) return false;
  }
  return true;
}

bool OggOutputFile::Flush() {
  if (!buffer_.empty() && stream_.Write(buffer_.data(), buffer_.size()) != buffer_.size()) {
    failed_ = true;
  }
  buffer_.clear();
  return !failed_;
}

bool OggOutputFile::Close() {
  if (!stream_.IsOpen()) return !failed_;
  Flush();
  stream_.Close();
  return !failed_;
}

void OggOutputFile::Abandon() {
  if (!stream_.IsOpen()) return;
  const std::string path = stream_.GetPath();
  buffer_.clear();
  stream_.Close();
  DeleteFile(path);
}

}  // namespace kestrune
