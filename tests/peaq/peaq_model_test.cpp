// The model at the ends of the grading scale and on stereo input. The FFT,
// the band layout and the playback level are held by the agreement of all
// reference pairs with an independent implementation, the refusals by the
// command's exact messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "tools/peaq/peaq.h"
#include "tools/peaq/peaq_tables.h"

namespace {

using namespace kestrune::peaq;

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

}  // namespace
