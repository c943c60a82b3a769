#include "app/path_names.h"

namespace kestrune {

namespace {

std::string RawExtension(const std::string& path) {
  const size_t nameStart = path.find_last_of("\\/:");
  const size_t from = nameStart == std::string::npos ? 0 : nameStart + 1;
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot < from) return std::string();
  return path.substr(dot);
}

}  // namespace

std::string GetLowerExtension(const std::string& path) {
  std::string extension = RawExtension(path);
  // The code page is UTF-8: only ASCII letters have a lower case here, and
  // bytes of multi-byte characters stay as they are.
  for (char& c : extension) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return extension;
}

bool IsWavePath(const std::string& path) { return RawExtension(path) == ".wav"; }

}  // namespace kestrune
