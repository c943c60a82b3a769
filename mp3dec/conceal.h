// Concealment of damaged granules: a history of the last four long-block
// granules per channel, from which band energies are taken and refilled with
// noise.
#pragma once

#include <cstdint>

#include "mp3dec/side_info.h"

namespace mp3dec {

// Knuth's subtractive generator (The Art of Computer Programming vol. 2,
// 3.6) with a 55-entry table, modulus 10^9, seed constant 161803398.
class SubtractiveRandom {
 public:
  explicit SubtractiveRandom(int32_t seed = 42) { Seed(seed); }
  void Seed(int32_t seed);
  // Uniform in [0, 1).
  double Next();

 private:
  int32_t table_[56] = {};
  int next_ = 0;
  int nextPlus31_ = 0;
};

// A 32-bit sign register: one step gives -1 when bit 31 is clear (shift
// left), else +1 (XOR with 9, shift left, set bit 0).
class SignRegister {
 public:
  void Reset() { state_ = 1044180u; }
  float Next() {
    if ((state_ & 0x80000000u) == 0) {
      state_ <<= 1;
      return -1.0f;
    }
    state_ = ((state_ ^ 9u) << 1) | 1u;
    return 1.0f;
  }

 private:
  uint32_t state_ = 1044180u;
};

struct ConcealmentHistory {
  struct Entry {
    GranuleInfo info;
    float lines[576];
  };
  Entry entries[4] = {};
  int index = 0;  // the next entry to write; index - 1 is the most recent
  bool energiesCurrent = false;
  float meanMagnitude[576] = {};
  float bandEnergy[22] = {};

  void Store(const GranuleInfo& info, const float lines[576]);
};

class Concealer {
 public:
  void Reset();
  // Stores a decoded long-block granule (block type 2 is not stored).
  void Remember(int channel, const GranuleInfo& info, const float lines[576]);
  // Replaces the granule's spectrum with noise shaped by the history.
  void Conceal(int channel, const FrameContext& frame, GranuleInfo& info, float lines[576]);

 private:
  ConcealmentHistory history_[2];
  SubtractiveRandom random_;
  SignRegister signs_;
};

}  // namespace mp3dec
