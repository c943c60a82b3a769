#include "mp3enc/resampler_design.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace mp3enc {

double BesselI0(double x) {
  // sum (x/2)^(2k) / (k!)^2; converges quickly for the betas in use (< 15).
  const double half = x * 0.5;
  double term = 1.0;
  double sum = 1.0;
  for (int k = 1; k < 200; ++k) {
    term *= (half / k) * (half / k);
    sum += term;
    if (term < sum * 1e-17) break;
  }
  return sum;
}

double KaiserBeta(double a) {
  // J. F. Kaiser's empirical formulas (Kaiser, "Nonrecursive digital filter
  // design using the I0-sinh window function", 1974).
  if (a > 50.0) return 0.1102 * (a - 8.7);
  if (a >= 21.0) return 0.5842 * std::pow(a - 21.0, 0.4) + 0.07886 * (a - 21.0);
  return 0.0;
}

int32_t KaiserSupport(double a, double transitionHz, double inputRate,
                      int32_t cap) {
  if (!std::isfinite(a) || !std::isfinite(transitionHz) ||
      !std::isfinite(inputRate) || a <= 0 || transitionHz <= 0 ||
      inputRate <= 0) {
    return 0;
  }
  // Kaiser: N - 1 = (A - 7.95) / (2.285 * 2 pi * df / fs). Here N is counted
  // in input samples, so fs is the input rate.
  const double span = std::max(a - 7.95, 10.0) * inputRate /
                      (2.285 * 2.0 * std::numbers::pi * transitionHz);
  if (!(span < static_cast<double>(cap))) return cap + 1;
  int32_t taps = static_cast<int32_t>(std::ceil(span)) + 1;
  if (taps < 2) taps = 2;
  if (taps % 2 != 0) ++taps;
  return taps;
}

void DesignPhase(const LowPassDesign& d, double phase, float* taps) {
  const double halfWidth = d.taps * 0.5;
  const double norm = 1.0 / BesselI0(d.beta);
  std::vector<double> h(static_cast<size_t>(d.taps));
  double sum = 0.0;
  for (int32_t j = 0; j < d.taps; ++j) {
    const double u = phase + halfWidth - 1.0 - j;
    const double r = u / halfWidth;
    double w = 0.0;
    if (r > -1.0 && r < 1.0) w = BesselI0(d.beta * std::sqrt(1.0 - r * r)) * norm;
    const double x = 2.0 * d.cutoff * u;
    const double sinc =
        x == 0.0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
    h[static_cast<size_t>(j)] = 2.0 * d.cutoff * sinc * w;
    sum += h[static_cast<size_t>(j)];
  }
  const double scale = sum != 0.0 ? 1.0 / sum : 0.0;
  for (int32_t j = 0; j < d.taps; ++j) {
    taps[j] = static_cast<float>(h[static_cast<size_t>(j)] * scale);
  }
}

}  // namespace mp3enc
