#include "mp3dec/conceal.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace mp3dec {
namespace {
constexpr int32_t kModulus = 1000000000;
constexpr int32_t kSeedConstant = 161803398;
}  // namespace

void SubtractiveRandom::Seed(int32_t seed) {
  int32_t mj = (kSeedConstant - std::abs(seed)) % kModulus;
  table_[55] = mj;
  int32_t mk = 1;
  for (int i = 1; i <= 54; ++i) {
    const int ii = (21 * i) % 55;
    table_[ii] = mk;
    mk = mj - mk;
    if (mk < 0) mk += kModulus;
    mj = table_[ii];
  }
  for (int round = 0; round < 4; ++round) {
    for (int i = 1; i <= 55; ++i) {
      table_[i] -= table_[1 + (i + 30) % 55];
      if (table_[i] < 0) table_[i] += kModulus;
    }
  }
  next_ = 0;
  nextPlus31_ = 31;
}

double SubtractiveRandom::Next() {
  if (++next_ == 56) next_ = 1;
  if (++nextPlus31_ == 56) nextPlus31_ = 1;
  int32_t mj = table_[next_] - table_[nextPlus31_];
  if (mj < 0) mj += kModulus;
  table_[next_] = mj;
  return mj * 1e-9;
}

void ConcealmentHistory::Store(const GranuleInfo& info, const float lines[576]) {
  entries[index].info = info;
  std::memcpy(entries[index].lines, lines, sizeof(float) * 576);
  index = (index + 1) & 3;
  energiesCurrent = false;
}

void Concealer::Reset() {
  for (ConcealmentHistory& h : history_) h = ConcealmentHistory{};
  random_.Seed(42);
  signs_.Reset();
}

void Concealer::Remember(int channel, const GranuleInfo& info, const float lines[576]) {
  if (info.IsShort()) return;
  history_[channel].Store(info, lines);
}

void Concealer::Conceal(int channel, const FrameContext& frame, GranuleInfo& info, float lines[576]) {
  ConcealmentHistory& h = history_[channel];
  const auto& bounds = frame.bands->longBounds;
  if (!h.energiesCurrent) {
    for (int k = 0; k < 576; ++k) {
      float sum = 0.0f;
      for (int e = 1; e <= 3; ++e) sum += std::fabs(h.entries[(h.index - e) & 3].lines[k]);
      h.meanMagnitude[k] = sum * 0.33333334f;
    }
    for (int b = 0; b < 22; ++b) {
      double energy = 0.0;
      for (int k = bounds[b]; k < bounds[b + 1]; ++k) energy += double(h.meanMagnitude[k]) * h.meanMagnitude[k];
      h.bandEnergy[b] = static_cast<float>(energy);
    }
    h.energiesCurrent = true;
  }
  info = h.entries[(h.index - 1) & 3].info;
  std::memset(lines, 0, sizeof(float) * 576);
  for (int b = 0; b < 22; ++b) {
    if (h.bandEnergy[b] == 0.0f) continue;
    double generated = 0.0;
    for (int k = bounds[b]; k < bounds[b + 1]; ++k) {
      const float v = b == 0 ? h.meanMagnitude[k] * signs_.Next() : static_cast<float>(random_.Next() - 0.5);
      lines[k] = v;
      generated += double(v) * v;
    }
    if (generated != 0.0) {
      const float scale = static_cast<float>(std::sqrt(h.bandEnergy[b] / generated));
      for (int k = bounds[b]; k < bounds[b + 1]; ++k) lines[k] *= scale;
    }
  }
}

}  // namespace mp3dec
