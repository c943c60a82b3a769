#include "tools/peaq/patterns.h"

#include <algorithm>
#include <cmath>

namespace kestrune::peaq {

LevelAdapter::LevelAdapter() : a_(smoothingCoefficients(0.050, 0.008)) {}

void LevelAdapter::process(const BandArray& ref, const BandArray& test, BandArray& adaptedRef,
                           BandArray& adaptedTest) {
    double num = 0.0;
    double den = 0.0;
    for (std::size_t k = 0; k < kBandCount; ++k) {
        smoothRef_[k] = a_[k] * smoothRef_[k] + (1.0 - a_[k]) * ref[k];
        smoothTest_[k] = a_[k] * smoothTest_[k] + (1.0 - a_[k]) * test[k];
        num += std::sqrt(smoothTest_[k] * smoothRef_[k]);
        den += smoothTest_[k];
    }
    const double levelCorr = den > 0.0 ? (num / den) * (num / den) : 1.0;

    BandArray ratioRef{};
    BandArray ratioTest{};
    for (std::size_t k = 0; k < kBandCount; ++k) {
        if (levelCorr > 1.0) {
            adaptedRef[k] = ref[k] / levelCorr;
            adaptedTest[k] = test[k];
        } else {
            adaptedRef[k] = ref[k];
            adaptedTest[k] = test[k] * levelCorr;
        }
        corrNum_[k] = a_[k] * corrNum_[k] + adaptedTest[k] * adaptedRef[k];
        corrDen_[k] = a_[k] * corrDen_[k] + adaptedRef[k] * adaptedRef[k];
        if (corrNum_[k] >= corrDen_[k]) {
            ratioRef[k] = 1.0;
            ratioTest[k] = corrNum_[k] > 0.0 ? corrDen_[k] / corrNum_[k] : 1.0;
        } else {
            ratioRef[k] = corrNum_[k] / corrDen_[k];
            ratioTest[k] = 1.0;
        }
    }
    // Average the correction over M1 = 3 bands below and M2 = 4 above, then smooth in time.
    constexpr std::size_t kBelow = 3;
    constexpr std::size_t kAbove = 4;
    for (std::size_t k = 0; k < kBandCount; ++k) {
        std::size_t lo = k >= kBelow ? k - kBelow : 0;
        std::size_t hi = std::min(k + kAbove, kBandCount - 1);
        double sumRef = 0.0;
        double sumTest = 0.0;
        for (std::size_t i = lo; i <= hi; ++i) {
            sumRef += ratioRef[i];
            sumTest += ratioTest[i];
        }
        const double count = static_cast<double>(hi - lo + 1);
        pattRef_[k] = a_[k] * pattRef_[k] + (1.0 - a_[k]) * sumRef / count;
        pattTest_[k] = a_[k] * pattTest_[k] + (1.0 - a_[k]) * sumTest / count;
        adaptedRef[k] *= pattRef_[k];
        adaptedTest[k] *= pattTest_[k];
    }
}

ModulationMeter::ModulationMeter() : a_(smoothingCoefficients(0.050, 0.008)) {}

void ModulationMeter::process(const BandArray& unsmeared, BandArray& modulation) {
    for (std::size_t k = 0; k < kBandCount; ++k) {
        const double compressed = std::pow(unsmeared[k], 0.3);
        derivative_[k] = a_[k] * derivative_[k] +
                         (1.0 - a_[k]) * kFrameRate * std::abs(compressed - previous_[k]);
        average_[k] = a_[k] * average_[k] + (1.0 - a_[k]) * compressed;
        previous_[k] = compressed;
        modulation[k] = derivative_[k] / (1.0 + average_[k] / 0.3);
    }
}

namespace {

struct LoudnessConstants {
    BandArray threshold{};  // E_t: 10^(0.364 (f/kHz)^-0.8)
    BandArray index{};      // s: threshold index
    BandArray scale{};      // c (E_t / (s E0))^0.23
};

LoudnessConstants makeLoudnessConstants() {
    const BandLayout& layout = BandLayout::get();
    LoudnessConstants lc;
    constexpr double c = 1.07664;
    constexpr double e0 = 1e4;
    for (std::size_t k = 0; k < kBandCount; ++k) {
        const double f = layout.centre[k];
        lc.threshold[k] = std::pow(10.0, 0.364 * std::pow(f / 1000.0, -0.8));
        const double sDb = -2.0 - 2.05 * std::atan(f / 4000.0) - 0.75 * std::atan((f / 1600.0) * (f / 1600.0));
        lc.index[k] = std::pow(10.0, sDb / 10.0);
        lc.scale[k] = c * std::pow(lc.threshold[k] / (lc.index[k] * e0), 0.23);
    }
    return lc;
}

}  // namespace

double totalLoudness(const BandArray& excitation) {
    static const LoudnessConstants lc = makeLoudnessConstants();
    double sum = 0.0;
    for (std::size_t k = 0; k < kBandCount; ++k) {
        const double specific =
            lc.scale[k] *
            (std::pow(1.0 - lc.index[k] + lc.index[k] * excitation[k] / lc.threshold[k], 0.23) - 1.0);
        sum += std::max(specific, 0.0);
    }
    return 24.0 / static_cast<double>(kBandCount) * sum;
}

}  // namespace kestrune::peaq
