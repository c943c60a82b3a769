// Block switching: attack detection on the high-passed signal with one
// granule of look-ahead, and the window sequence that keeps the start and
// stop transitions legal (normal -> start -> short ... short -> stop).
#pragma once

#include <cstdint>

namespace mp3enc {

class AttackDetector {
 public:
  // Feeds the 576 samples of analysis granule n (n = 0, 1, ...).
  void Feed(const float* samples, int stride);
  // Whether the short-window span of the last fed granule holds an attack:
  // samples 576 n - 640 .. 576 n + 191 of the analysis signal. With a
  // release ratio set, a release counts too: a segment that many times
  // quieter than the loudest of the four before it, which lay above the
  // floor (a sound that stops at once: its last long window would spread
  // its noise over the silence after it).
  bool LastGranuleHasAttack() const;
  // 0 (the default) detects attacks only.
  void SetReleaseRatio(float ratio) { releaseRatio_ = ratio; }

 private:
  static constexpr int kSegment = 64;
  static constexpr int kRing = 64;
  float energy_[kRing] = {};
  int64_t segments_ = 0;  // segments completed
  float x1_ = 0.0f;
  float x2_ = 0.0f;
  float releaseRatio_ = 0.0f;
};

// Chooses each granule's block type one granule late, once the attack flag
// of the next granule is known.
class BlockSequencer {
 public:
  // attackNext: attack in granule g + 1; returns the type of granule g.
  int Next(bool attackCurrent, bool attackNext);

 private:
  int previous_ = 0;
};

}  // namespace mp3enc
