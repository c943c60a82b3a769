// Music-like test material shared by the encoder's rate tests and its
// benchmark: plucked notes with six harmonics on a four-per-second beat, a
// bass line two octaves down, decaying noise bursts on every fourth beat and
// a little hiss, slightly different on the two channels. Deterministic: the
// generator is the fully specified mt19937 with a fixed seed, drawn in a
// fixed order. Header only, so that targets without the quality harness
// (the Windows build of the tests) can use it too.
#pragma once

#include <cmath>
#include <cstddef>
#include <numbers>
#include <random>
#include <vector>

namespace kestrune::quality {

// Interleaved left/right pairs, full scale +-1.0 (not clipped; the peaks stay
// near 0.6).
inline std::vector<float> MusicMixture(double rate, std::size_t frames) {
  std::vector<float> x(frames * 2);
  std::mt19937 rng(11);
  std::normal_distribution<double> noise(0.0, 1.0);
  const double notes[8] = {261.6, 329.6, 392.0, 523.3, 392.0, 329.6, 293.7, 246.9};
  constexpr double kTwoPi = 2.0 * std::numbers::pi;
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    const int beat = static_cast<int>(t * 4.0);
    const double tb = t - beat / 4.0;
    const double f = notes[beat % 8];
    double pluck = 0.0;
    for (int h = 1; h <= 6; ++h) pluck += std::exp(-tb * 5.0) * std::sin(kTwoPi * f * h * t) / h;
    const double bass = 0.5 * std::sin(kTwoPi * f / 4 * t);
    const double burst = (beat % 4 == 2 && tb < 0.03) ? noise(rng) * std::exp(-tb * 150.0) : 0.0;
    const double left = 0.25 * (pluck + bass) + 0.4 * burst + 0.01 * noise(rng);
    const double right = 0.22 * (0.8 * pluck + bass) + 0.4 * burst + 0.01 * noise(rng);
    x[2 * i] = static_cast<float>(left);
    x[2 * i + 1] = static_cast<float>(right);
  }
  return x;
}

}  // namespace kestrune::quality
