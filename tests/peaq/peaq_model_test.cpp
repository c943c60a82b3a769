// The stages of the ear model against independent computations: the FFT
// against a direct DFT, the band layout against the standard's table, the
// playback level, and the behaviour at the ends of the scale.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

#include "tools/peaq/ear_model.h"
#include "tools/peaq/fft.h"
#include "tools/peaq/peaq.h"

namespace {

using namespace kestrune::peaq;

TEST(PeaqFft, MatchesDirectDft) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    for (std::size_t n : {8u, 256u, 2048u}) {
        std::vector<double> x(n);
        for (double& v : x) v = dist(rng);
        RealFft fft(n);
        std::vector<std::complex<double>> out(n / 2 + 1);
        fft.forward(x.data(), out.data());
        double worst = 0.0;
        for (std::size_t k = 0; k <= n / 2; k += (n > 256 ? 7 : 1)) {
            std::complex<double> ref = 0.0;
            for (std::size_t t = 0; t < n; ++t)
                ref += x[t] * std::polar(1.0, -2.0 * std::numbers::pi * static_cast<double>(k * t % n) /
                                                  static_cast<double>(n));
            worst = std::max(worst, std::abs(ref - out[k]));
        }
        EXPECT_LT(worst, 1e-9 * static_cast<double>(n)) << "n = " << n;
    }
}

// Spot values of the band table of ITU-R BS.1387-1 (FFT model, basic version).
TEST(PeaqBands, MatchStandardTable) {
    const BandLayout& b = BandLayout::get();
    EXPECT_NEAR(b.lower[0], 80.000, 0.001);
    EXPECT_NEAR(b.centre[0], 91.708, 0.001);
    EXPECT_NEAR(b.upper[0], 103.445, 0.001);
    EXPECT_NEAR(b.centre[50], 2183.564, 0.001);
    EXPECT_NEAR(b.lower[100], 13061.229, 0.001);
    EXPECT_NEAR(b.centre[108], 17690.045, 0.002);
    EXPECT_NEAR(b.upper[108], 18000.000, 0.001);
    // Every bin between 80 Hz and 18 kHz is shared out completely.
    double total = 0.0;
    for (std::size_t i = 0; i < kBandCount; ++i) {
        total += b.firstWeight[i] + b.lastWeight[i];
        if (b.lastBin[i] > b.firstBin[i] + 1) total += static_cast<double>(b.lastBin[i] - b.firstBin[i] - 1);
    }
    EXPECT_NEAR(total, (18000.0 - 80.0) / (48000.0 / 2048.0), 1e-6);
}

// A full-scale sine at 1019.5 Hz peaks at the playback level of 92 dB SPL.
TEST(PeaqEarModel, FullScaleSinePeaksAtPlaybackLevel) {
    std::vector<double> frame(kFrameSize);
    for (std::size_t n = 0; n < kFrameSize; ++n)
        frame[n] = std::sin(2.0 * std::numbers::pi * 1019.5 * static_cast<double>(n) / kSampleRate);
    EarModel ear;
    EarFrame out;
    ear.process(frame.data(), out);
    double peak = 0.0;
    for (double p : out.power) peak = std::max(peak, p);
    EXPECT_NEAR(10.0 * std::log10(peak), 92.0, 0.01);
}

std::vector<float> tone(std::size_t length, double amplitude, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 0.01);
    std::vector<float> x(length);
    for (std::size_t n = 0; n < length; ++n) {
        const double t = static_cast<double>(n) / kSampleRate;
        x[n] = static_cast<float>(amplitude * (std::sin(2 * std::numbers::pi * 440.0 * t) +
                                               0.3 * std::sin(2 * std::numbers::pi * 9500.0 * t)) +
                                  noise(rng));
    }
    return x;
}

TEST(PeaqEvaluate, EndsOfTheScale) {
    const std::vector<std::vector<float>> ref = {tone(96000, 0.3, 1)};
    const Result same = evaluate(ref, ref);
    EXPECT_GT(same.odg, 0.1);
    EXPECT_LE(same.odg, 0.22);

    // A heavily distorted copy: hard clipping plus loud noise.
    std::vector<std::vector<float>> bad = ref;
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0.0, 0.05);
    for (float& v : bad[0]) v = static_cast<float>(std::clamp(static_cast<double>(v), -0.1, 0.1) + noise(rng));
    const Result worse = evaluate(ref, bad);
    EXPECT_LT(worse.odg, -3.0);
    EXPECT_GE(worse.odg, -3.98);

    // Stereo with identical channels grades like mono.
    const std::vector<std::vector<float>> ref2 = {ref[0], ref[0]};
    const std::vector<std::vector<float>> bad2 = {bad[0], bad[0]};
    EXPECT_NEAR(evaluate(ref2, bad2).odg, worse.odg, 1e-9);
}

TEST(PeaqEvaluate, SilenceAndMismatchesAreReported) {
    const std::vector<std::vector<float>> silence = {std::vector<float>(48000, 0.0f)};
    const Result r = evaluate(silence, silence);
    EXPECT_TRUE(std::isnan(r.odg));
    EXPECT_TRUE(std::isnan(r.movs[kBandwidthRef]));

    const std::vector<std::vector<float>> shorter = {std::vector<float>(47999, 0.0f)};
    EXPECT_THROW(evaluate(silence, shorter), std::invalid_argument);
    const std::vector<std::vector<float>> stereo = {silence[0], silence[0]};
    EXPECT_THROW(evaluate(silence, stereo), std::invalid_argument);
    EXPECT_THROW(evaluate(std::vector<std::vector<float>>{}, std::vector<std::vector<float>>{}),
                 std::invalid_argument);
}

}  // namespace
