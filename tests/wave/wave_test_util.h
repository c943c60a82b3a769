// Helpers for the wave container tests: building RIFF byte images by hand,
// scratch files, running a conversion to its end, running reference tools.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "base/conversion.h"

namespace kestrune::test {

class Bytes {
 public:
  Bytes& Text(const std::string& s) {
    data.insert(data.end(), s.begin(), s.end());
    return *this;
  }
  Bytes& U8(uint8_t v) {
    data.push_back(v);
    return *this;
  }
  Bytes& U16(uint16_t v) { return U8(v & 0xFF).U8(v >> 8); }
  Bytes& U32(uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
  Bytes& U64(uint64_t v) { return U32(static_cast<uint32_t>(v)).U32(static_cast<uint32_t>(v >> 32)); }
  Bytes& I16(int16_t v) { return U16(static_cast<uint16_t>(v)); }
  Bytes& I24(int32_t v) {
    return U8(v & 0xFF).U8((v >> 8) & 0xFF).U8((v >> 16) & 0xFF);
  }
  Bytes& F32(float v) {
    uint32_t u;
    std::memcpy(&u, &v, 4);
    return U32(u);
  }
  Bytes& Append(const Bytes& other) {
    data.insert(data.end(), other.data.begin(), other.data.end());
    return *this;
  }
  // A chunk: id, size of body, body, pad byte when odd.
  Bytes& Chunk(const std::string& id, const Bytes& body) {
    Text(id).U32(static_cast<uint32_t>(body.data.size())).Append(body);
    if (body.data.size() & 1) U8(0);
    return *this;
  }
  size_t size() const { return data.size(); }

  std::vector<uint8_t> data;
};

// The 16-byte PCM fmt body.
inline Bytes FmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
  const uint16_t align = static_cast<uint16_t>(channels * ((bits + 7) / 8));
  Bytes b;
  b.U16(tag).U16(channels).U32(rate).U32(rate * align).U16(align).U16(bits);
  return b;
}

// RIFF/WAVE around the given chunks, with the form size filled in.
inline Bytes RiffWave(const Bytes& chunks) {
  Bytes b;
  b.Text("RIFF").U32(static_cast<uint32_t>(chunks.size() + 4)).Text("WAVE").Append(chunks);
  return b;
}

// A folder of this test process, removed when the process ends.
inline std::string ScratchDir() {
  static const std::string dir = [] {
    std::string d = "/tmp/kestrune-wave-test-" + std::to_string(::getpid());
    std::string cmd = "mkdir -p " + d;
    if (std::system(cmd.c_str()) != 0) return std::string("/tmp");
    std::atexit([] {
      const std::string rm = "rm -rf /tmp/kestrune-wave-test-" + std::to_string(::getpid());
      if (std::system(rm.c_str()) != 0) std::fputs("scratch folder left behind\n", stderr);
    });
    return d;
  }();
  return dir;
}

inline std::string ScratchPath(const std::string& name) { return ScratchDir() + "/" + name; }

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << text;
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

inline std::string ReadText(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

inline bool FileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// Starts the conversion and waits until its worker has ended.
inline bool RunToEnd(Conversion& conversion) {
  if (!conversion.Start()) return false;
  while (conversion.IsRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return true;
}

// Runs a shell command, returns its standard output; status receives the
// exit status.
inline std::string Shell(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    if (status) *status = -1;
    return out;
  }
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int rc = ::pclose(pipe);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

// Number of ".dat" files in the temporary directory (leftover check).
inline size_t CountDatFiles(const std::string& dir) {
  int status = 0;
  const std::string out =
      Shell("find '" + dir + "' -maxdepth 1 -name '*.dat' 2>/dev/null | wc -l", &status);
  return static_cast<size_t>(std::strtoul(out.c_str(), nullptr, 10));
}

}  // namespace kestrune::test
