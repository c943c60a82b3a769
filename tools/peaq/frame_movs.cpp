#include "tools/peaq/frame_movs.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "tools/peaq/peaq_tables.h"

namespace kestrune::peaq {

ModDiffFrame modulationDifference(const BandArray& modRef, const BandArray& modTest,
                                  const BandArray& averageRef) {
    const BandLayout& layout = BandLayout::get();
    constexpr double kNegWeight = 0.1;
    constexpr double kOffset1 = 1.0;
    constexpr double kOffset2 = 0.01;
    constexpr double kLevelWeight = 100.0;
    ModDiffFrame out;
    for (std::size_t k = 0; k < kBandCount; ++k) {
        const double diff = std::abs(modTest[k] - modRef[k]);
        const double diff2 = modTest[k] > modRef[k] ? diff : kNegWeight * diff;
        out.modDiff1 += diff / (kOffset1 + modRef[k]);
        out.modDiff2 += diff2 / (kOffset2 + modRef[k]);
        out.weight += averageRef[k] / (averageRef[k] + kLevelWeight * std::pow(layout.internalNoise[k], 0.3));
    }
    out.modDiff1 *= 100.0 / static_cast<double>(kBandCount);
    out.modDiff2 *= 100.0 / static_cast<double>(kBandCount);
    return out;
}

double noiseLoudness(const BandArray& modRef, const BandArray& modTest, const BandArray& adaptedRef,
                     const BandArray& adaptedTest) {
    const BandLayout& layout = BandLayout::get();
    constexpr double kAlpha = 1.5;
    constexpr double kThresholdFactor = 0.15;
    constexpr double kS0 = 0.5;
    double sum = 0.0;
    for (std::size_t k = 0; k < kBandCount; ++k) {
        const double sRef = kThresholdFactor * modRef[k] + kS0;
        const double sTest = kThresholdFactor * modTest[k] + kS0;
        const double beta = std::exp(-kAlpha * (adaptedTest[k] - adaptedRef[k]) / adaptedRef[k]);
        const double num = std::max(sTest * adaptedTest[k] - sRef * adaptedRef[k], 0.0);
        const double den = layout.internalNoise[k] + sRef * adaptedRef[k] * beta;
        sum += std::pow(layout.internalNoise[k] / sTest, 0.23) * (std::pow(1.0 + num / den, 0.23) - 1.0);
    }
    return std::max(24.0 / static_cast<double>(kBandCount) * sum, 0.0);
}

// The reference bandwidth is the highest bin below 21.6 kHz standing more
// than 10 dB above the test signal's largest bin between 21.6 and 24 kHz; the
// test bandwidth the highest bin below it standing more than 5 dB above.
// The comparisons are strict, so digital silence has no bandwidth (rather
// than the full 921 bins) and does not count in the averages.
BandwidthFrame bandwidth(const BinArray& ref, const BinArray& test) {
    constexpr std::size_t kNoiseFloorBin = 921;   // 21.6 kHz
    constexpr std::size_t kMinimumBin = 346;      // 8.1 kHz
    constexpr double kRefMargin = 10.0;           // 10 dB
    constexpr double kTestMargin = 3.16227766016838;  // 5 dB
    double floor = 0.0;
    for (std::size_t k = kNoiseFloorBin; k < kBins - 1; ++k) floor = std::max(floor, test[k]);
    BandwidthFrame out;
    for (std::size_t k = kNoiseFloorBin - 1; k >= kMinimumBin; --k) {
        if (ref[k] > kRefMargin * floor) {
            out.ref = static_cast<int>(k) + 1;
            break;
        }
    }
    if (out.ref < 0) return out;
    for (std::size_t k = static_cast<std::size_t>(out.ref); k-- > 0;) {
        if (test[k] > kTestMargin * floor) {
            out.test = static_cast<int>(k) + 1;
            break;
        }
    }
    if (out.test < 0) out.test = 0;
    return out;
}

NmrFrame noiseToMask(const BandArray& noise, const BandArray& excitationRef) {
    NmrFrame out;
    for (std::size_t k = 0; k < kBandCount; ++k) {
        // Mask offset: 3 dB up to 12 Bark, 0.25 k dz dB above.
        const double offsetDb = static_cast<double>(k) * kBandStep <= 12.0
                                    ? 3.0
                                    : 0.25 * static_cast<double>(k) * kBandStep;
        const double mask = excitationRef[k] * std::pow(10.0, -offsetDb / 10.0);
        const double ratio = noise[k] / mask;
        out.average += ratio;
        out.maximum = std::max(out.maximum, ratio);
    }
    out.average /= static_cast<double>(kBandCount);
    return out;
}

void detection(const BandArray& excitationRef, const BandArray& excitationTest, BandArray& probability,
               BandArray& steps) {
    const DetectionTables& t = kDetection;
    for (std::size_t k = 0; k < kBandCount; ++k) {
        const double refDb = 10.0 * std::log10(excitationRef[k]);
        const double testDb = 10.0 * std::log10(excitationTest[k]);
        const double e = refDb - testDb;
        double level;
        double b;
        if (e > 0.0) {
            level = 0.3 * refDb + 0.7 * testDb;
            b = 4.0;
        } else {
            level = testDb;
            b = 6.0;
        }
        double s = 1e30;
        if (level > 0.0) {
            s = t.d1 * std::pow(t.d2 / level, t.g) +
                t.c[0] + level * (t.c[1] + level * (t.c[2] + level * (t.c[3] + level * t.c[4])));
        }
        probability[k] = 1.0 - std::pow(0.5, std::pow(std::abs(e) / s, b));
        steps[k] = std::abs(std::trunc(e)) / s;
    }
}

HarmonicStructure::HarmonicStructure()
    : fft_(kLags), window_(kLags), diff_(2 * kLags), corr_(kLags), spectrum_(kLags / 2 + 1) {
    const double w = static_cast<double>(kLags - 1);
    for (std::size_t n = 0; n < kLags; ++n)
        window_[n] = std::sqrt(8.0 / 3.0) / static_cast<double>(kLags) * 0.5 *
                     (1.0 - std::cos(2.0 * std::numbers::pi * static_cast<double>(n) / w));
}

double HarmonicStructure::process(const double* frameRef, const double* frameTest, const BinArray& powerRef,
                                  const BinArray& powerTest) {
    // Energy threshold: 8000 in the units of 16-bit samples over the second half.
    constexpr double kEnergyThreshold = 8000.0 / (32768.0 * 32768.0);
    double energyRef = 0.0;
    double energyTest = 0.0;
    for (std::size_t n = kHop; n < kFrameSize; ++n) {
        energyRef += frameRef[n] * frameRef[n];
        energyTest += frameTest[n] * frameTest[n];
    }
    if (energyRef < kEnergyThreshold && energyTest < kEnergyThreshold) return -1.0;

    constexpr double kTiny = 1e-30;
    const std::size_t count = 2 * kLags - 1;
    for (std::size_t k = 0; k < count; ++k)
        diff_[k] = std::log((powerTest[k] + kTiny) / (powerRef[k] + kTiny));

    // Normalised autocorrelation of the log spectral ratio over kLags lags.
    double s0 = 0.0;
    for (std::size_t j = 0; j < kLags; ++j) s0 += diff_[j] * diff_[j];
    double sj = s0;
    double mean = 0.0;
    for (std::size_t i = 0; i < kLags; ++i) {
        if (i > 0) sj += diff_[i + kLags - 1] * diff_[i + kLags - 1] - diff_[i - 1] * diff_[i - 1];
        double c = 0.0;
        const double* a = diff_.data();
        const double* b = diff_.data() + i;
        for (std::size_t j = 0; j < kLags; ++j) c += a[j] * b[j];
        const double d = s0 * sj;
        corr_[i] = i == 0 ? 1.0 : (d <= 0.0 ? 1.0 : c / std::sqrt(d));
        mean += corr_[i];
    }
    mean /= static_cast<double>(kLags);
    for (std::size_t i = 0; i < kLags; ++i) corr_[i] = window_[i] * (corr_[i] - mean);
    fft_.power(corr_.data(), spectrum_.data());

    // The largest peak after the first valley.
    std::size_t n = 1;
    while (n < spectrum_.size() && spectrum_[n] <= spectrum_[n - 1]) ++n;
    double peak = 0.0;
    for (; n < spectrum_.size(); ++n) peak = std::max(peak, spectrum_[n]);
    return peak;
}

}  // namespace kestrune::peaq
