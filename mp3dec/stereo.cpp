#include "mp3dec/stereo.h"

#include <cmath>
#include <numbers>

namespace mp3dec {
namespace {

constexpr float kSqrtHalf = 0.70710678118654752f;

void MidSide(float* l, float* r, int begin, int end) {
  for (int k = begin; k < end; ++k) {
    const float m = l[k];
    const float s = r[k];
    l[k] = (m + s) * kSqrtHalf;
    r[k] = (m - s) * kSqrtHalf;
  }
}

// Left/right factors of intensity position pos.
struct IntensityRatio {
  float left;
  float right;
};

IntensityRatio Mpeg1Ratio(int pos) {
  if (pos >= 6) return {1.0f, 0.0f};  // tan(pi/2): all in the left channel
  const double k = std::tan(pos * std::numbers::pi / 12.0);
  return {static_cast<float>(k / (1.0 + k)), static_cast<float>(1.0 / (1.0 + k))};
}

IntensityRatio Mpeg2Ratio(int pos, bool halfStep) {
  if (pos == 0) return {1.0f, 1.0f};
  const double base = halfStep ? 0.70710678118654752 : 0.84089641525371454;  // 2^-1/2, 2^-1/4
  if (pos & 1) return {static_cast<float>(std::pow(base, (pos + 1) / 2)), 1.0f};
  return {1.0f, static_cast<float>(std::pow(base, pos / 2))};
}

struct BandProcessor {
  const FrameContext& frame;
  bool midSide;
  bool halfStep;
  float* l;
  float* r;

  // The position of the top band when the band below it is not intensity
  // coded: equal split (MPEG-1) or no scaling (MPEG-2).
  int NeutralPosition() const { return frame.mpeg1 ? 3 : 0; }

  // A band below the intensity bound, or one whose position is illegal.
  void Plain(int begin, int end) const {
    if (midSide) MidSide(l, r, begin, end);
  }
  void Intensity(int begin, int end, int pos, int illegal) const {
    if (pos == illegal) {
      Plain(begin, end);
      return;
    }
    const IntensityRatio k = frame.mpeg1 ? Mpeg1Ratio(pos) : Mpeg2Ratio(pos, halfStep);
    for (int i = begin; i < end; ++i) {
      const float x = l[i];
      l[i] = x * k.left;
      r[i] = x * k.right;
    }
  }
};

bool AnyNonzero(const float* x, int begin, int end) {
  for (int k = begin; k < end; ++k) {
    if (x[k] != 0.0f) return true;
  }
  return false;
}

// Long bands from firstBand up to lastBand (exclusive) with the bound after
// the right channel's last nonzero band.
void LongBands(const BandProcessor& p, const ScaleFactors& sf, int firstBand, int lastBand,
               bool allBelowBound) {
  const auto& b = p.frame.bands->longBounds;
  int bound = firstBand;
  if (allBelowBound) {
    bound = lastBand;
  } else {
    for (int sfb = lastBand - 1; sfb >= firstBand; --sfb) {
      if (AnyNonzero(p.r, b[sfb], b[sfb + 1])) {
        bound = sfb + 1;
        break;
      }
    }
  }
  for (int sfb = firstBand; sfb < lastBand; ++sfb) {
    if (sfb < bound) {
      p.Plain(b[sfb], b[sfb + 1]);
    } else if (sfb == 21) {
      // Band 21 carries no factor of its own: it takes band 20's position
      // when band 20 is intensity coded, else the neutral position.
      if (bound <= 20) {
        p.Intensity(b[sfb], b[sfb + 1], sf.longBands[20], sf.illegalLong[20]);
      } else {
        p.Intensity(b[sfb], b[sfb + 1], p.NeutralPosition(), -1);
      }
    } else {
      p.Intensity(b[sfb], b[sfb + 1], sf.longBands[sfb], sf.illegalLong[sfb]);
    }
  }
}

// Short bands from firstBand to 12, each window with its own bound.
void ShortBands(const BandProcessor& p, const ScaleFactors& sf, int firstBand) {
  const auto& b = p.frame.bands->shortBounds;
  for (int w = 0; w < 3; ++w) {
    int bound = firstBand;
    for (int sfb = 12; sfb >= firstBand; --sfb) {
      const int width = b[sfb + 1] - b[sfb];
      const int begin = 3 * b[sfb] + w * width;
      if (AnyNonzero(p.r, begin, begin + width)) {
        bound = sfb + 1;
        break;
      }
    }
    for (int sfb = firstBand; sfb < 13; ++sfb) {
      const int width = b[sfb + 1] - b[sfb];
      const int begin = 3 * b[sfb] + w * width;
      if (sfb < bound) {
        p.Plain(begin, begin + width);
      } else if (sfb == 12) {
        if (bound <= 11) {
          p.Intensity(begin, begin + width, sf.shortBands[11][w], sf.illegalShort[11]);
        } else {
          p.Intensity(begin, begin + width, p.NeutralPosition(), -1);
        }
      } else {
        p.Intensity(begin, begin + width, sf.shortBands[sfb][w], sf.illegalShort[sfb]);
      }
    }
  }
}

}  // namespace

void ProcessStereo(const FrameContext& frame, const GranuleInfo& rightInfo,
                   const ScaleFactors& rightFactors, float left[576], float right[576]) {
  const int ext = frame.header.modeExtension;
  const bool midSide = (ext & 2) != 0;
  const bool intensity = (ext & 1) != 0;
  if (!intensity) {
    if (midSide) MidSide(left, right, 0, 576);
    return;
  }
  const BandProcessor p{frame, midSide, (rightInfo.scalefacCompress & 1) != 0, left, right};
  if (!rightInfo.IsShort()) {
    LongBands(p, rightFactors, 0, 22, false);
  } else if (!rightInfo.mixedBlock) {
    ShortBands(p, rightFactors, 0);
  } else {
    // Mixed: when the right channel reaches into the short part, the whole
    // long part lies below the bound; otherwise every short band is above it.
    const int longEnd = frame.LongPartEnd();
    const bool shortPartUsed = AnyNonzero(right, longEnd, 576);
    LongBands(p, rightFactors, 0, frame.MixedLongBands(), shortPartUsed);
    if (shortPartUsed) {
      ShortBands(p, rightFactors, 3);
    } else {
      const auto& b = frame.bands->shortBounds;
      for (int sfb = 3; sfb < 13; ++sfb) {
        const int width = b[sfb + 1] - b[sfb];
        for (int w = 0; w < 3; ++w) {
          const int begin = 3 * b[sfb] + w * width;
          const int src = sfb == 12 ? 11 : sfb;
          p.Intensity(begin, begin + width, rightFactors.shortBands[src][w], rightFactors.illegalShort[src]);
          (void)src;
        }
      }
    }
  }
}

}  // namespace mp3dec
