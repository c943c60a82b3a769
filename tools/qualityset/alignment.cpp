#include "tools/qualityset/alignment.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace kestrune::quality {
namespace {

constexpr std::size_t kWindow = 65536;  // reference stretch correlated, ~1.4 s at 48 kHz

using Complex = std::complex<double>;

// In-place iterative radix-2 transform; inverse without the 1/n scale.
void Fft(std::vector<Complex>& a, bool inverse) {
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const double angle = 2.0 * std::numbers::pi / static_cast<double>(len) * (inverse ? 1.0 : -1.0);
        const Complex step(std::cos(angle), std::sin(angle));
        for (std::size_t i = 0; i < n; i += len) {
            Complex w(1.0, 0.0);
            for (std::size_t k = 0; k < len / 2; ++k) {
                const Complex u = a[i + k];
                const Complex v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
                w *= step;
            }
        }
    }
}

std::vector<double> ChannelSum(const std::vector<std::vector<float>>& channels) {
    std::vector<double> sum(channels.empty() ? 0 : channels[0].size(), 0.0);
    for (const auto& c : channels) {
        for (std::size_t i = 0; i < sum.size() && i < c.size(); ++i) sum[i] += c[i];
    }
    return sum;
}

}  // namespace

long FindLag(const std::vector<std::vector<float>>& reference, const std::vector<std::vector<float>>& decoded,
             std::size_t maxLag) {
    const std::vector<double> x = ChannelSum(reference);
    const std::vector<double> y = ChannelSum(decoded);
    // The most energetic window of the reference, searched in steps of 4096.
    const std::size_t window = std::min(kWindow, x.size());
    std::size_t best = 0;
    double bestEnergy = 0.0;
    for (std::size_t start = 0; start + window <= x.size(); start += 4096) {
        double e = 0.0;
        for (std::size_t i = start; i < start + window; ++i) e += x[i] * x[i];
        if (e > bestEnergy) {
            bestEnergy = e;
            best = start;
        }
    }
    if (bestEnergy <= 0.0) return -1;
    std::size_t n = 1;
    while (n < window + maxLag + window) n <<= 1;
    std::vector<Complex> a(n), b(n);
    for (std::size_t i = 0; i < window; ++i) a[i] = x[best + i];
    for (std::size_t i = 0; i < window + maxLag && best + i < y.size(); ++i) b[i] = y[best + i];
    Fft(a, false);
    Fft(b, false);
    for (std::size_t i = 0; i < n; ++i) b[i] *= std::conj(a[i]);
    Fft(b, true);  // b[k] = sum over i of y[best + i + k] x[best + i]
    long lag = 0;
    double peak = -INFINITY;
    for (std::size_t k = 0; k <= maxLag; ++k) {
        if (b[k].real() > peak) {
            peak = b[k].real();
            lag = static_cast<long>(k);
        }
    }
    return lag;
}

std::vector<std::vector<float>> AlignTo(const std::vector<std::vector<float>>& decoded, long lag,
                                        std::size_t frames) {
    std::vector<std::vector<float>> out;
    for (const auto& c : decoded) {
        std::vector<float> ch(frames, 0.0f);
        for (std::size_t i = 0; i < frames; ++i) {
            const std::size_t from = i + static_cast<std::size_t>(std::max(lag, 0L));
            if (from < c.size()) ch[i] = c[from];
        }
        out.push_back(std::move(ch));
    }
    return out;
}

}  // namespace kestrune::quality
