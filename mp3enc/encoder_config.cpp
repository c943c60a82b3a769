#include "mp3enc/encoder_config.h"

#include <algorithm>
#include <cstdlib>

#include "mp3enc/mp3s_enc.h"

namespace mp3enc {

int64_t GreatestCommonDivisor(int64_t a, int64_t b) {
  a = a < 0 ? -a : a;
  b = b < 0 ? -b : b;
  if (a < b) std::swap(a, b);
  while (b != 0) {
    const int64_t r = a % b;
    a = b;
    b = r;
  }
  return a;
}

int32_t ChooseOutputRate(int32_t inputRate, int32_t lowest, int32_t highest) {
  if (lowest == highest) return lowest;
  int32_t best = 0;
  int64_t bestDivisor = 0;
  for (int32_t candidate : kOutputRateCandidates) {
    if (candidate < lowest || candidate > highest) continue;
    const int64_t divisor = GreatestCommonDivisor(inputRate, candidate);
    if (divisor > bestDivisor) {  // strictly: the lower rate wins ties
      bestDivisor = divisor;
      best = candidate;
    }
  }
  return best;
}

int32_t PlanEncoder(int32_t inputRate, int32_t bitRate, int32_t channels,
                    int32_t ratePolicy, int32_t qualityLevel, EncoderPlan* plan) {
  *plan = EncoderPlan();
  if (channels != 1 && channels != 2 && channels != 6) return MP3SENC_INVALID_PARAMETER;
  if (qualityLevel != 0 && bitRate != 0) return MP3SENC_INVALID_PARAMETER;
  if (channels == 6 && qualityLevel == 5) return MP3SENC_INVALID_PARAMETER;
  if (qualityLevel < 0 || qualityLevel > 5) return MP3SENC_INVALID_PARAMETER;
  if (ratePolicy != 0 && ratePolicy != 1) return MP3SENC_INVALID_PARAMETER;

  const int32_t lookupRate = qualityLevel != 0 ? NominalBitRate(qualityLevel, channels) : bitRate;
  const RateClass* row = FindRateClass(lookupRate, channels);
  if (row == nullptr) return MP3SENC_INVALID_PARAMETER;
  plan->rateClass = row;

  plan->outputRate = ratePolicy == 0
                         ? ChooseOutputRate(inputRate, row->wideLowest, row->wideHighest)
                         : ChooseOutputRate(inputRate, row->narrowLowest, row->narrowHighest);
  plan->granules = plan->outputRate >= 32000 ? 2 : 1;

  int32_t bandwidth = row->bandwidth;
  bandwidth = std::min(bandwidth, plan->outputRate / 2);
  bandwidth = std::min(bandwidth, inputRate / 2);
  plan->bandwidth = static_cast<float>(bandwidth);

  const bool sameRate = inputRate == plan->outputRate;
  if (ratePolicy == 0) {
    plan->filtered = !sameRate;
  } else {
    plan->filtered = !(sameRate && bandwidth == plan->outputRate / 2);
  }

  Mp3sEncSettings& s = plan->settings;
  const int32_t coded = std::min(channels, 2);
  s.sampleRate = plan->outputRate;
  s.bitRate = qualityLevel != 0 ? 0 : bitRate;
  s.inputChannels = coded;
  s.encodedChannels = coded;
  s.bandwidth = plan->bandwidth;
  s.plainStereo = 0;
  s.vbr = qualityLevel != 0 ? 1 : 0;
  s.vbrQuality = VbrQuality(qualityLevel);
  s.jointStereoForced = qualityLevel == 1 ? 0 : 1;
  s.paddingBehaviour = 1;
  s.reserved17 = 16;
  return MP3SENC_OK;
}

}  // namespace mp3enc
