// Power spectrum of a real block by a half-length radix-2 complex FFT, used
// by the psychoacoustic model.
#pragma once

#include <vector>

namespace mp3enc {

class PowerSpectrum {
 public:
  explicit PowerSpectrum(int size);  // size a power of two, at least 8
  int Size() const { return size_; }
  // Hann-windowed transform of in[0..size): magnitude squared of bins
  // 0..size/2, and when re and im are given, the bins themselves.
  void Transform(const float* in, float* power, float* re = nullptr, float* im = nullptr);

 private:
  int size_;
  std::vector<float> window_;
  // Twiddles of each butterfly stage in the order its butterflies use them
  // (stage of length 2, 4, ..., size / 2: 1, 2, ..., size / 4 entries).
  std::vector<float> stageCos_;
  std::vector<float> stageSin_;
  std::vector<float> splitCos_;  // twiddles that split the real spectrum out
  std::vector<float> splitSin_;
  std::vector<int> bitReverse_;  // of the first quarter of the complex points
  std::vector<float> re_;
  std::vector<float> im_;
};

}  // namespace mp3enc
