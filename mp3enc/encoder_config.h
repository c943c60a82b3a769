// From a caller's request (input rate, bit rate or quality level, channels,
// rate policy) to the encoder's configuration: output rate, bandwidth,
// converter specification and the core settings.
#pragma once

#include <cstdint>

#include "mp3enc/rate_tables.h"
#include "mp3enc/settings.h"

namespace mp3enc {

struct EncoderPlan {
  const RateClass* rateClass = nullptr;
  int32_t outputRate = 0;
  float bandwidth = 0;       // Hz
  int32_t granules = 0;      // per frame: 2 from 32000 Hz up, else 1
  bool filtered = false;     // the converter gets a filter specification
  Mp3sEncSettings settings{};
};

// Greatest common divisor by Euclid's algorithm (larger by smaller).
int64_t GreatestCommonDivisor(int64_t a, int64_t b);

// The candidate in [lowest, highest] sharing the greatest divisor with the
// input rate; on equal divisors the lower rate wins. 0 when none.
int32_t ChooseOutputRate(int32_t inputRate, int32_t lowest, int32_t highest);

// Checks the request and plans the encoder. Returns an Mp3sEncStatus: 0, or
// 2 when the request is refused (channel count, bit rate with a quality
// level, quality level or rate policy out of range, no bit-rate class).
// Six channels are planned like the others; the caller refuses them later.
int32_t PlanEncoder(int32_t inputRate, int32_t bitRate, int32_t channels,
                    int32_t ratePolicy, int32_t qualityLevel, EncoderPlan* plan);

}  // namespace mp3enc
