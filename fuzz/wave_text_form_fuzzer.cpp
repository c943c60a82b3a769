// The text header form on arbitrary text: LoadText builds a tree, SaveAs
// writes it with a few generated frames, and the result opens again.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "wave/wave_file.h"

namespace {

class RampSource : public kestrune::SampleSource {
 public:
  bool Fill(kestrune::FloatFrames& frames) override {
    if (blocks_++ >= 2) return false;
    for (auto& channel : frames.channels) {
      for (size_t i = 0; i < channel.size(); ++i) channel[i] = static_cast<float>(i) / 512.0f - 1.0f;
    }
    return frames.Frames() > 0;
  }

 private:
  int blocks_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string out = "/tmp/kestrune-text-fuzz-" + std::to_string(::getpid()) + ".wav";
  RampSource source;
  {
    kestrune::WaveFile wave;
    if (wave.LoadText(text, &source)) {
      wave.SaveAs(out);
      kestrune::WaveFile again;
      again.Open(out);
      kestrune::FloatFrames frames;
      again.GetData()->ReadFloat(frames, 1024);
    }
  }
  std::remove(out.c_str());
  return 0;
}
