// Psychoacoustic model of the encoder (in the manner of ISO/IEC 11172-3,
// Annex D, psychoacoustic model 2).
#include "mp3enc/psymodel.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "mp3enc/layer3_tables.h"
#include "mp3enc/unpredictability.h"

namespace mp3enc {
namespace {

double Bark(double hz) {
  return 13.0 * std::atan(0.00076 * hz) + 3.5 * std::atan((hz / 7500.0) * (hz / 7500.0));
}

// Schroeder's spreading function in dB for a distance dz (maskee - masker),
// its upper slope steepened by extraUpper dB per Bark.
double SpreadDecibels(double dz, double extraUpper) {
  const double t = dz + 0.474;
  return 15.81 + 7.5 * t - 17.5 * std::sqrt(1.0 + t * t) - (dz > 0.0 ? extraUpper * dz : 0.0);
}

// Energy of a full-scale sine (+-1.0) in one analysis: Hann window gain N/4
// squared, main lobe counted over three bins; and in the MDCT domain.
constexpr double kFullScaleMdct = 1.0;
constexpr double kSplFullScale = 96.0;  // a full-scale sine plays at 96 dB SPL

double FullScaleFft(int n) { return (n / 4.0) * (n / 4.0) * 1.5; }

}  // namespace

double AthDecibels(double hz) {
  const double f = std::max(hz, 20.0) / 1000.0;
  return 3.64 * std::pow(f, -0.8) - 6.5 * std::exp(-0.6 * (f - 3.3) * (f - 3.3)) +
         0.001 * f * f * f * f;
}

PsyModel::PsyModel(int sampleRate, int rateIndex, const PsyTuning& tuning)
    : sampleRate_(sampleRate),
      tuning_(tuning),
      noiseCeiling_(tuning.noiseCeiling),
      longFft_(kLongFft),
      shortFft_(kShortFft) {
  const BandEdges& e = kBandEdges[rateIndex];
  BuildPartitions(kLongFft, e.longEdge, kLongBands, 576, &longPart_);
  BuildPartitions(kShortFft, e.shortEdge, kShortBands, 192, &shortPart_);
  // ATH per MDCT line, the minimum over each band.
  auto athLine = [&](double hz) {
    return static_cast<float>(
        kFullScaleMdct *
        std::pow(10.0, (AthDecibels(hz) - kSplFullScale - tuning_.athLowerDb) / 10.0));
  };
  for (int b = 0; b < kLongBands; ++b) {
    float m = 1e30f;
    for (int l = e.longEdge[b]; l < e.longEdge[b + 1]; ++l) {
      m = std::min(m, athLine((l + 0.5) * sampleRate / 1152.0));
    }
    athLong_[b] = m;
  }
  for (int b = 0; b < kShortBands; ++b) {
    float m = 1e30f;
    for (int l = e.shortEdge[b]; l < e.shortEdge[b + 1]; ++l) {
      m = std::min(m, athLine((l + 0.5) * sampleRate / 384.0));
    }
    athShort_[b] = m;
  }
  const int bins = kLongFft / 2 + 1;
  mag1_.assign(bins, 0.0f);
  mag2_.assign(bins, 0.0f);
  c1_.assign(bins, 1.0f);
  s1_.assign(bins, 0.0f);
  c2_.assign(bins, 1.0f);
  s2_.assign(bins, 0.0f);
  power_.assign(bins, 0.0f);
  re_.assign(bins, 0.0f);
  im_.assign(bins, 0.0f);
  shortPower_.assign(kShortFft / 2 + 1, 0.0f);
  thrPart_.assign(std::max(longPart_.count, shortPart_.count), 0.0f);
  spreadSums_.assign(2 * thrPart_.size(), 0.0);
  unpredict_.assign(bins, 0.0f);
  prevNb_.assign(longPart_.count, 1e30f);
  scratch_.assign(bins * 3, 0.0f);
}

void PsyModel::BuildPartitions(int fftSize, const short* edges, int bands, int linesPerWindow,
                               Partitions* p) const {
  const int bins = fftSize / 2;
  const double binHz = static_cast<double>(sampleRate_) / fftSize;
  int start = 0;
  double startBark = Bark(0.0);
  std::vector<double> centre;
  for (int j = 1; j <= bins; ++j) {
    const bool close = j == bins || Bark(j * binHz) - startBark >= 0.33;
    if (close) {
      p->lo.push_back(start);
      p->hi.push_back(j);
      centre.push_back(Bark((start + j - 1) * 0.5 * binHz));
      start = j;
      startBark = Bark(j * binHz);
    }
  }
  p->count = static_cast<int>(p->lo.size());
  const int n = p->count;
  p->spread.assign(static_cast<size_t>(n) * n, 0.0f);
  p->norm.assign(n, 1.0f);
  p->ath.assign(n, 0.0f);
  for (int masker = 0; masker < n; ++masker) {
    for (int maskee = 0; maskee < n; ++maskee) {
      const double db = SpreadDecibels(centre[maskee] - centre[masker], tuning_.upperSlopeDb);
      if (db > -60.0) p->spread[masker * n + maskee] = static_cast<float>(std::pow(10.0, db / 10.0));
    }
  }
  // Per maskee, its row of spreading values and the maskers that reach it.
  p->spreadTo.assign(static_cast<size_t>(n) * n, 0.0f);
  p->spreadLo.assign(n, 0);
  p->spreadHi.assign(n, 0);
  for (int maskee = 0; maskee < n; ++maskee) {
    int lo = n;
    int hi = 0;
    for (int masker = 0; masker < n; ++masker) {
      const float v = p->spread[masker * n + maskee];
      p->spreadTo[static_cast<size_t>(maskee) * n + masker] = v;
      if (v != 0.0f) {
        lo = std::min(lo, masker);
        hi = masker + 1;
      }
    }
    p->spreadLo[maskee] = std::min(lo, hi);
    p->spreadHi[maskee] = hi;
  }
  for (int maskee = 0; maskee < n; ++maskee) {
    double s = 0.0;
    for (int masker = 0; masker < n; ++masker) s += p->spread[masker * n + maskee];
    p->norm[maskee] = static_cast<float>(1.0 / s);
    double athMin = 1e30;
    for (int j = p->lo[maskee]; j < p->hi[maskee]; ++j) {
      athMin = std::min(athMin, AthDecibels(std::max(j, 1) * binHz));
    }
    p->ath[maskee] = static_cast<float>(FullScaleFft(fftSize) *
                                        std::pow(10.0, (athMin - kSplFullScale - tuning_.athLowerDb) / 10.0));
  }
  // FFT bins of each scale-factor band.
  for (int b = 0; b < bands; ++b) {
    int lo = edges[b] * bins / linesPerWindow;
    int hi = edges[b + 1] * bins / linesPerWindow;
    lo = std::min(lo, bins - 1);
    hi = std::max(hi, lo + 1);
    p->bandLo.push_back(lo);
    p->bandHi.push_back(hi);
  }
}

void PsyModel::Threshold(const Partitions& p, const float* power, const float* unpredict,
                          float tonalSnr, float noiseSnr, float* prevNb, float* ratios,
                          float* energies, int bands) {
  const int n = p.count;
  const double fullScale = FullScaleFft(2 * p.hi[n - 1]);
  float* eb = scratch_.data();
  float* cb = eb + n;
  float* thrBin = cb + n;  // per bin
  float* tonalBin = thrBin + p.hi[n - 1];  // per bin, for the tonal ceiling only
  for (int b = 0; b < n; ++b) {
    double e = 0.0;
    double c = 0.0;
    for (int j = p.lo[b]; j < p.hi[b]; ++j) {
      e += power[j];
      c += power[j] * (unpredict != nullptr ? unpredict[j] : 0.5f);
    }
    eb[b] = static_cast<float>(e);
    cb[b] = static_cast<float>(c);
  }
  float* thrPart = thrPart_.data();
  // The short analyses have no tonality estimate: every partition has the
  // same chance of tonality and the same ratio; each function keeps its last
  // argument and value.
  double lastCbb = std::numeric_limits<double>::quiet_NaN();
  double lastLog = 0.0;
  double lastSnr = std::numeric_limits<double>::quiet_NaN();
  double lastGain = 0.0;
  // The spread sums, two maskees at a time over the union of their
  // maskers: a row is 0 outside its own range, and adding 0 leaves a sum as
  // it was, so each sum is the same as over its own range alone; the four
  // sums in flight hide each other's latency.
  double* spreadEnergy = spreadSums_.data();
  double* spreadTonal = spreadEnergy + n;
  for (int maskee = 0; maskee < n; maskee += 2) {
    const int other = std::min(maskee + 1, n - 1);
    const float* rowA = &p.spreadTo[static_cast<size_t>(maskee) * n];
    const float* rowB = &p.spreadTo[static_cast<size_t>(other) * n];
    double ecbA = 0.0;
    double ctA = 0.0;
    double ecbB = 0.0;
    double ctB = 0.0;
    const int lo = std::min(p.spreadLo[maskee], p.spreadLo[other]);
    const int hi = std::max(p.spreadHi[maskee], p.spreadHi[other]);
    for (int masker = lo; masker < hi; ++masker) {
      const float sA = rowA[masker];
      const float sB = rowB[masker];
      ecbA += sA * eb[masker];
      ctA += sA * cb[masker];
      ecbB += sB * eb[masker];
      ctB += sB * cb[masker];
    }
    spreadEnergy[maskee] = ecbA;
    spreadTonal[maskee] = ctA;
    spreadEnergy[other] = ecbB;
    spreadTonal[other] = ctB;
  }
  for (int maskee = 0; maskee < n; ++maskee) {
    const double ecb = spreadEnergy[maskee];
    const double ct = spreadTonal[maskee];
    double tb = 1.0;
    if (ecb > 0.0) {
      // tb = -0.299 - 0.43 ln(cbb), clamped to [0, 1], reaches 0 at cbb =
      // 0.49889 and 1 at cbb = 0.048786; beyond points just past these the
      // clamp decides and the logarithm is not needed.
      const double cbb = std::max(ct / ecb, 1e-6);
      if (cbb >= 0.4990) {
        tb = 0.0;
      } else if (cbb > 0.0487) {
        if (cbb != lastCbb) {
          lastCbb = cbb;
          lastLog = std::log(cbb);
        }
        tb = std::clamp(-0.299 - 0.43 * lastLog, 0.0, 1.0);
      }
    }
    const double snr = tb * tonalSnr + (1.0 - tb) * noiseSnr;
    if (tuning_.tonalCeiling) {
      for (int j = p.lo[maskee]; j < p.hi[maskee]; ++j) tonalBin[j] = static_cast<float>(tb);
    }
    if (snr != lastSnr) {
      lastSnr = snr;
      lastGain = std::pow(10.0, -snr / 10.0);
    }
    double nb = ecb * p.norm[maskee] * lastGain;
    if (prevNb != nullptr) {
      const double limit = 2.0 * prevNb[maskee];
      prevNb[maskee] = static_cast<float>(nb);
      nb = std::min(nb, limit);
    }
    const double thr = std::max(nb, static_cast<double>(p.ath[maskee]));
    thrPart[maskee] = static_cast<float>(thr);
  }
  for (int b = 0; b < n; ++b) {
    const float per = thrPart[b] / static_cast<float>(p.hi[b] - p.lo[b]);
    for (int j = p.lo[b]; j < p.hi[b]; ++j) thrBin[j] = per;
  }
  for (int band = 0; band < bands; ++band) {
    // Three sums in one pass: each waits on its own additions only.
    double e = 0.0;
    double t = 0.0;
    double tonal = 0.0;
    if (tuning_.tonalCeiling) {
      for (int j = p.bandLo[band]; j < p.bandHi[band]; ++j) {
        e += power[j];
        t += thrBin[j];
        tonal += power[j] * tonalBin[j];
      }
    } else {
      for (int j = p.bandLo[band]; j < p.bandHi[band]; ++j) {
        e += power[j];
        t += thrBin[j];
      }
    }
    double ceiling = noiseCeiling_;
    if (tuning_.tonalCeiling) {
      // A band without tonal lines (every band of a short analysis) may
      // carry all of its energy as noise: ceiling^0.
      ceiling = e > 0.0 ? (tonal == 0.0 ? 1.0 : std::pow(ceiling, tonal / e)) : 1.0;
    }
    ratios[band] = e > 0.0 ? static_cast<float>(std::min(t / e, ceiling)) : 1.0f;
    energies[band] = static_cast<float>(e / fullScale);
  }
}

void PsyModel::Analyze(const float* longBlock, const float* const* shortBlocks,
                       PsyOutput* out) {
  // Long analysis with the unpredictability of each bin.
  // Phases are kept as unit vectors: the predicted phase 2 ph1 - ph2 is
  // u1 * u1 * conj(u2), with no trigonometry per bin.
  longFft_.Transform(longBlock, power_.data(), re_.data(), im_.data());
  Unpredictability(kLongFft / 2 + 1, power_.data(), re_.data(), im_.data(), mag1_.data(),
                   mag2_.data(), c1_.data(), s1_.data(), c2_.data(), s2_.data(),
                   unpredict_.data());
  Threshold(longPart_, power_.data(), unpredict_.data(), kTonalSnr, kNoiseSnr, prevNb_.data(),
            out->longRatio, out->longEnergy, kLongBands);
  if (shortBlocks == nullptr) return;
  // Short analyses: no tonality estimate (noise-like masking), no state.
  float* shortPower = shortPower_.data();
  for (int w = 0; w < 3; ++w) {
    shortFft_.Transform(shortBlocks[w], shortPower);
    Threshold(shortPart_, shortPower, nullptr, tuning_.shortSnr, tuning_.shortSnr, nullptr,
              out->shortRatio[w], out->shortEnergy[w], kShortBands);
  }
}

}  // namespace mp3enc
