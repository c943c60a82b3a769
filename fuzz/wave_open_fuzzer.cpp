// WaveFile::Open on arbitrary bytes, then every frame through ReadFloat from
// a few positions, and a copy of the tree through SaveAs.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "wave/wave_file.h"

namespace {

std::string ScratchName(const char* what) {
  return "/tmp/kestrune-wave-fuzz-" + std::to_string(::getpid()) + what;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input = ScratchName(".wav");
  const std::string copy = ScratchName("-copy.wav");
  std::FILE* f = std::fopen(input.c_str(), "wb");
  if (f == nullptr) return 0;
  if (size > 0) std::fwrite(data, 1, size, f);
  std::fclose(f);
  {
    kestrune::WaveFile wave;
    wave.Open(input);
    kestrune::FloatFrames frames;
    {
      auto chunk = wave.GetData();
      const int64_t count = chunk->GetFrameCount();
      for (int64_t start : {int64_t{0}, count / 2, count - 3, int64_t{-7}}) {
        chunk->SetPosition(start);
        for (int blocks = 0; blocks < 64 && chunk->ReadFloat(frames, 1024); ++blocks) {
          if (frames.Frames() == 0 || frames.Frames() > 1024) __builtin_trap();
        }
      }
      kestrune::PcmBlock block;
      kestrune::FileStream reader;
      if (reader.Open(input, true, false, true, true)) chunk->ReadFrames(reader, block, -3, 9);
    }
    wave.SaveAs(copy);
    // What we wrote must open again.
    kestrune::WaveFile again;
    again.Open(copy);
  }
  std::remove(input.c_str());
  std::remove(copy.c_str());
  return 0;
}
