#include "tools/peaq/ear_model.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kestrune::peaq {
namespace {

double barkOf(double hz) { return 7.0 * std::asinh(hz / 650.0); }
double hzOf(double bark) { return 650.0 * std::sinh(bark / 7.0); }

BandLayout makeLayout() {
    BandLayout layout;
    const double zLow = barkOf(kLowestFrequency);
    const double zHigh = barkOf(kHighestFrequency);
    const double df = kSampleRate / static_cast<double>(kFrameSize);
    for (std::size_t i = 0; i < kBandCount; ++i) {
        double zl = zLow + static_cast<double>(i) * kBandStep;
        double zu = std::min(zLow + static_cast<double>(i + 1) * kBandStep, zHigh);
        layout.lower[i] = hzOf(zl);
        layout.upper[i] = hzOf(zu);
        layout.centre[i] = hzOf(0.5 * (zl + zu));
        layout.internalNoise[i] = std::pow(10.0, 0.1456 * std::pow(layout.centre[i] / 1000.0, -0.8));
        // Bin k covers (k - 1/2) df .. (k + 1/2) df; a band takes the share of
        // each bin that lies inside it.
        const double fl = layout.lower[i];
        const double fu = layout.upper[i];
        std::size_t first = 0;
        while ((static_cast<double>(first) + 0.5) * df <= fl) ++first;
        std::size_t last = kBins - 1;
        while ((static_cast<double>(last) - 0.5) * df >= fu) --last;
        auto share = [&](std::size_t k) {
            double lo = std::max(fl, (static_cast<double>(k) - 0.5) * df);
            double hi = std::min(fu, (static_cast<double>(k) + 0.5) * df);
            return (hi - lo) / df;
        };
        layout.firstBin[i] = first;
        layout.lastBin[i] = last;
        layout.firstWeight[i] = share(first);
        layout.lastWeight[i] = last == first ? 0.0 : share(last);
    }
    return layout;
}

// Outer and middle ear, in dB (BS.1387-1, 2.1.4), f in kHz.
double earWeightDb(double khz) {
    return -0.6 * 3.64 * std::pow(khz, -0.8) + 6.5 * std::exp(-0.6 * (khz - 3.3) * (khz - 3.3)) -
           1e-3 * std::pow(khz, 3.6);
}

// Peak factor of a Hann-windowed sine at normalised frequency fcN, between
// DFT bins: the largest bin relative to the continuous peak.
double hannPeakFactor(double fcN, std::size_t frame) {
    const double n = static_cast<double>(frame);
    const double w = n - 1.0;
    const double k = std::floor(fcN * n);
    const double distance = std::min((k + 1.0) / n - fcN, fcN - k / n) * w;
    return std::sin(std::numbers::pi * distance) /
           (std::numbers::pi * distance * (1.0 - distance * distance));
}

}  // namespace

const BandLayout& BandLayout::get() {
    static const BandLayout layout = makeLayout();
    return layout;
}

BandArray smoothingCoefficients(double tau100, double tauMin) {
    const BandLayout& layout = BandLayout::get();
    BandArray a{};
    for (std::size_t i = 0; i < kBandCount; ++i) {
        double tau = tauMin + 100.0 / layout.centre[i] * (tau100 - tauMin);
        a[i] = std::exp(-1.0 / (kFrameRate * tau));
    }
    return a;
}

EarModel::EarModel() : fft_(kFrameSize), window_(kFrameSize), windowed_(kFrameSize) {
    // Hann window scaled so that a full-scale sine at 1019.5 Hz peaks at the
    // playback level (BS.1387-1, 2.1.3).
    const double w = static_cast<double>(kFrameSize - 1);
    const double gain = std::pow(10.0, kPlaybackLevelDb / 20.0) /
                        (hannPeakFactor(1019.5 / kSampleRate, kFrameSize) * w / 4.0);
    for (std::size_t n = 0; n < kFrameSize; ++n)
        window_[n] = gain * 0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * static_cast<double>(n) / w));

    for (std::size_t k = 0; k < kBins; ++k) {
        double khz = static_cast<double>(k) * kSampleRate / static_cast<double>(kFrameSize) / 1000.0;
        earWeight_[k] = k == 0 ? 0.0 : std::pow(10.0, earWeightDb(khz) / 10.0);
    }

    const BandLayout& layout = BandLayout::get();
    for (std::size_t i = 0; i < kBandCount; ++i) {
        lowerSlope_[i] = std::pow(10.0, -2.7 * kBandStep);
        upperSlope_[i] = std::pow(10.0, (-2.4 - 23.0 / layout.centre[i]) * kBandStep);
    }
    // Normalisation: the spreading of a pattern of 0 dB in every band.
    BandArray ones;
    ones.fill(1.0);
    spreadNorm_.fill(1.0);
    spread(ones, spreadNorm_);
    timeCoeff_ = smoothingCoefficients(0.030, 0.008);
}

void EarModel::group(const BinArray& bins, BandArray& bands) {
    const BandLayout& layout = BandLayout::get();
    for (std::size_t i = 0; i < kBandCount; ++i) {
        std::size_t first = layout.firstBin[i];
        std::size_t last = layout.lastBin[i];
        double sum = layout.firstWeight[i] * bins[first];
        for (std::size_t k = first + 1; k < last; ++k) sum += bins[k];
        if (last > first) sum += layout.lastWeight[i] * bins[last];
        bands[i] = std::max(sum, 1e-12);
    }
}

// Level-dependent spreading (BS.1387-1, 2.1.7): each band's energy spreads
// down at 27 dB/Bark and up at 24 + 230 Hz/fc - 2 log10(E) dB/Bark, each
// spreading function normalised to unit sum; contributions add with exponent 0.4.
void EarModel::spread(const BandArray& pitch, BandArray& out) const {
    constexpr double e = 0.4;
    constexpr std::size_t n = kBandCount;
    BandArray upperPow{};
    BandArray energyPow{};
    const double aL = lowerSlope_[0];
    for (std::size_t m = 0; m < n; ++m) {
        double aU = upperSlope_[m] * std::pow(pitch[m], 0.2 * kBandStep);
        double sumLower = (1.0 - std::pow(aL, static_cast<double>(m + 1))) / (1.0 - aL);
        double sumUpper = aU == 1.0 ? static_cast<double>(n - m)
                                    : (1.0 - std::pow(aU, static_cast<double>(n - m))) / (1.0 - aU);
        double normalised = pitch[m] / (sumLower + sumUpper - 1.0);
        upperPow[m] = std::pow(aU, e);
        energyPow[m] = std::pow(normalised, e);
    }
    BandArray acc{};
    const double aLe = std::pow(aL, e);
    acc[n - 1] = energyPow[n - 1];
    for (std::size_t m = n - 1; m-- > 0;) acc[m] = aLe * acc[m + 1] + energyPow[m];
    for (std::size_t m = 0; m + 1 < n; ++m) {
        double r = energyPow[m];
        const double a = upperPow[m];
        for (std::size_t i = m + 1; i < n; ++i) {
            r *= a;
            acc[i] += r;
        }
    }
    for (std::size_t i = 0; i < n; ++i) out[i] = std::pow(acc[i], 1.0 / e) / spreadNorm_[i];
}

void EarModel::process(const double* frame, EarFrame& out) {
    for (std::size_t n = 0; n < kFrameSize; ++n) windowed_[n] = window_[n] * frame[n];
    fft_.power(windowed_.data(), out.power.data());
    for (std::size_t k = 0; k < kBins; ++k) out.weighted[k] = out.power[k] * earWeight_[k];

    BandArray pitch;
    group(out.weighted, pitch);
    const BandLayout& layout = BandLayout::get();
    for (std::size_t i = 0; i < kBandCount; ++i) pitch[i] += layout.internalNoise[i];
    spread(pitch, out.unsmeared);

    for (std::size_t i = 0; i < kBandCount; ++i) {
        smoothed_[i] = timeCoeff_[i] * smoothed_[i] + (1.0 - timeCoeff_[i]) * out.unsmeared[i];
        out.excitation[i] = std::max(smoothed_[i], out.unsmeared[i]);
    }
}

}  // namespace kestrune::peaq
