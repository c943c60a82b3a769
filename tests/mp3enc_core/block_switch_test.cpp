// Attack and release detection of the block switching: which granules get
// flagged for a tone that starts, stops at once, or fades, with and without
// a release ratio.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "mp3enc/block_switch.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Feeds the signal granule by granule; returns the indices of the flagged
// granules (n = 0, 1, ...).
std::vector<int> Flagged(const std::vector<float>& x, float releaseRatio) {
  mp3enc::AttackDetector detector;
  detector.SetReleaseRatio(releaseRatio);
  std::vector<int> flagged;
  for (size_t n = 0; (n + 1) * 576 <= x.size(); ++n) {
    detector.Feed(x.data() + n * 576, 1);
    if (detector.LastGranuleHasAttack()) flagged.push_back(static_cast<int>(n));
  }
  return flagged;
}

// A 3 kHz tone at 24 kHz (its second difference has a constant energy per
// 64-sample segment) of amplitude gain(segment) from sample `from` up to
// `to`, silence elsewhere; 20 granules in all.
template <typename Gain>
std::vector<float> Tone(int from, int to, Gain gain) {
  std::vector<float> x(20 * 576, 0.0f);
  for (int i = from; i < to; ++i) {
    x[i] = static_cast<float>(0.3 * gain(i / 64) * std::sin(2.0 * kPi * 3000.0 * i / 24000.0));
  }
  return x;
}

TEST(Mp3EncBlockSwitch, ReleasesAreFlaggedOnlyWhenAsked) {
  // From the first sample to the start of granule 8 (segment 72), then
  // silence. Granule n spans segments 9n - 10 .. 9n + 2; segments 72 to 75
  // have a loud segment among the four before them, so granules 8 and 9.
  const auto steady = [](int) { return 1.0; };
  const std::vector<float> stop = Tone(0, 8 * 576, steady);
  EXPECT_EQ(Flagged(stop, 0.0f), std::vector<int>{});
  EXPECT_EQ(Flagged(stop, 30.0f), (std::vector<int>{8, 9}));

  // An onset at segment 90 (granule 10 starts at segment 90) flags the
  // granules whose span holds it (10 and 11) with or without the ratio; the
  // stop at segment 144 adds 16 and 17 with it.
  const std::vector<float> burst = Tone(90 * 64, 144 * 64, steady);
  EXPECT_EQ(Flagged(burst, 0.0f), (std::vector<int>{10, 11}));
  EXPECT_EQ(Flagged(burst, 30.0f), (std::vector<int>{10, 11, 16, 17}));

  // Fades from segment 72 on: 3 dB per segment falls 12 dB (16x) over four
  // segments, below a ratio of 30; 4.5 dB per segment falls 18 dB (63x),
  // above it, from segment 75 on (granule 9 is the first to span it).
  const std::vector<float> slow = Tone(0, 20 * 576, [](int s) { return s < 72 ? 1.0 : std::pow(10.0, -3.0 * (s - 71) / 20.0); });
  EXPECT_EQ(Flagged(slow, 30.0f), std::vector<int>{});
  const std::vector<float> fast = Tone(0, 20 * 576, [](int s) { return s < 72 ? 1.0 : std::pow(10.0, -4.5 * (s - 71) / 20.0); });
  const std::vector<int> fastFlags = Flagged(fast, 30.0f);
  ASSERT_FALSE(fastFlags.empty());
  EXPECT_EQ(fastFlags.front(), 9);
  EXPECT_EQ(Flagged(fast, 0.0f), std::vector<int>{});
}

}  // namespace
