// Attack detection and block-type sequencing.
#include "mp3enc/block_switch.h"

#include <algorithm>

#include "mp3enc/granule_info.h"

namespace mp3enc {
namespace {

// An attack is a segment this much louder than the loudest of the four
// before it, above a floor that ignores very quiet passages.
constexpr float kAttackRatio = 10.0f;
constexpr float kEnergyFloor = 64.0f * 1e-6f;

}  // namespace

void AttackDetector::Feed(const float* samples, int stride) {
  for (int s = 0; s < 576 / kSegment; ++s) {
    float e = 0.0f;
    for (int i = 0; i < kSegment; ++i) {
      const float x = samples[(s * kSegment + i) * stride];
      // Second difference: a high-pass with a double zero at DC.
      const float y = x - 2.0f * x1_ + x2_;
      x2_ = x1_;
      x1_ = x;
      e += y * y;
    }
    energy_[segments_ % kRing] = e;
    ++segments_;
  }
}

bool AttackDetector::LastGranuleHasAttack() const {
  // Granule n spans segments 9n - 10 .. 9n + 2; 9n + 9 segments are done.
  const int64_t n = segments_ / 9 - 1;
  for (int64_t seg = 9 * n - 10; seg <= 9 * n + 2; ++seg) {
    if (seg < 4) continue;
    const float e = energy_[seg % kRing];
    float ref = 0.0f;
    for (int k = 1; k <= 4; ++k) ref = std::max(ref, energy_[(seg - k) % kRing]);
    if (e > kEnergyFloor && e > kAttackRatio * ref) return true;
    if (releaseRatio_ > 0.0f && ref > kEnergyFloor && e * releaseRatio_ < ref) return true;
  }
  return false;
}

int BlockSequencer::Next(bool attackCurrent, bool attackNext) {
  int type;
  if (attackCurrent) {
    type = kShortBlock;
  } else if (previous_ == kStartBlock) {
    type = kShortBlock;  // a start window is always followed by short ones
  } else if (previous_ == kShortBlock) {
    // After short blocks: stop, unless another attack follows at once.
    type = attackNext ? kShortBlock : kStopBlock;
  } else {
    type = attackNext ? kStartBlock : kNormalBlock;
  }
  previous_ = type;
  return type;
}

}  // namespace mp3enc
