// Whole files in and out as byte strings, and the standard output of a
// shell command (for the reference tools).
#pragma once

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kestrune::testing {

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  WriteBytes(path, std::string(bytes.begin(), bytes.end()));
}

// Number of ".dat" files (the conversion jobs' temporaries) in dir.
inline size_t CountDatFiles(const std::string& dir) {
  std::error_code error;
  size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    count += entry.path().extension() == ".dat";
  }
  return count;
}

// Runs command through the shell and returns what it printed on standard
// output; *status receives its exit status (-1 when it did not exit).
inline std::string Shell(const std::string& command, int* status = nullptr) {
  std::string out;
#ifdef _WIN32
  FILE* pipe = ::_popen(command.c_str(), "rb");
#else
  FILE* pipe = ::popen(command.c_str(), "r");
#endif
  if (pipe == nullptr) {
    if (status) *status = -1;
    return out;
  }
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
#ifdef _WIN32
  const int rc = ::_pclose(pipe);
  if (status) *status = rc;
#else
  const int rc = ::pclose(pipe);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
#endif
  return out;
}

}  // namespace kestrune::testing
