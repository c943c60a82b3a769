// Helpers for the wave container tests: files in a scratch folder of this
// test process, running a conversion to its end, and every sample of a file
// as our reader delivers it.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/conversion.h"
#include "tests/support/files.h"
#include "tests/support/riff_bytes.h"
#include "tests/support/temp_dir.h"
#include "wave/wave_file.h"

namespace kestrune::testing {

// A file in the folder of this test process (removed when it ends).
inline std::string ScratchPath(const std::string& name) {
  static const TempDir dir;
  return dir / name;
}

// Writes bytes to the scratch file name and returns its path.
inline std::string Put(const std::string& name, const Bytes& bytes) {
  const std::string path = ScratchPath(name);
  WriteBytes(path, bytes.data);
  return path;
}

inline bool FileExists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(path, ignored);
}

// Starts the conversion and waits until its worker has ended.
inline bool RunToEnd(Conversion& conversion) {
  if (!conversion.Start()) return false;
  while (conversion.IsRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return true;
}

// Points the system's temporary directory, where the jobs keep their
// temporaries, at a scratch folder of this process.
inline std::string UseScratchTempDirectory() {
  const std::string dir = ScratchPath("tmp");
  std::filesystem::create_directories(dir);
#ifdef _WIN32
  ::_putenv_s("TMP", dir.c_str());
#else
  ::setenv("TMPDIR", dir.c_str(), 1);
#endif
  return dir;
}

// What our reader makes of a file: whether it opened, its channel count,
// the frame count of its data chunk and every sample per channel.
struct ReadBack {
  bool opened = false;
  int channels = 0;
  int64_t frameCount = -1;
  std::vector<std::vector<float>> samples;
  size_t Frames() const { return samples.empty() ? 0 : samples[0].size(); }
};

inline ReadBack ReadWave(const std::string& path) {
  ReadBack r;
  WaveFile wave;
  r.opened = wave.Open(path);
  if (auto format = wave.GetFormat()) r.channels = format->GetChannels();
  auto data = wave.GetData();
  r.frameCount = data->GetFrameCount();
  FloatFrames f;
  for (int guard = 0; guard < 100000 && data->ReadFloat(f, 1024); ++guard) {
    r.samples.resize(f.ChannelCount());
    for (size_t c = 0; c < f.ChannelCount(); ++c) {
      r.samples[c].insert(r.samples[c].end(), f.channels[c].begin(), f.channels[c].end());
    }
  }
  return r;
}

}  // namespace kestrune::testing
