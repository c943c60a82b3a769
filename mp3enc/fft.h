// Power spectrum of a real block by a radix-2 complex FFT, used by the
// psychoacoustic model.
#pragma once

#include <vector>

namespace mp3enc {

class PowerSpectrum {
 public:
  explicit PowerSpectrum(int size);  // size a power of two
  int Size() const { return size_; }
  // Hann-windowed transform of in[0..size): magnitude squared and phase of
  // bins 0..size/2.
  void Transform(const float* in, float* power, float* phase);

 private:
  int size_;
  std::vector<float> window_;
  std::vector<float> cosTable_;
  std::vector<float> sinTable_;
  std::vector<int> bitReverse_;
  std::vector<float> re_;
  std::vector<float> im_;
};

}  // namespace mp3enc
