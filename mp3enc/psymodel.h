// Psychoacoustic model: FFT analysis of each granule (one long and three
// short transforms), partitions of about a third of a critical band, the
// spreading function, a tonality estimate from the unpredictability of the
// spectrum, the absolute threshold of hearing, and from these the allowed
// distortion and the energy per scale-factor band.
#pragma once

#include <vector>

#include "mp3enc/fft.h"

namespace mp3enc {

inline constexpr int kLongFft = 1024;
inline constexpr int kShortFft = 256;

// Signal-to-mask ratios (dB) for tonal and noise-like maskers.
inline constexpr float kTonalSnr = 14.0f;
inline constexpr float kNoiseSnr = 5.0f;
inline constexpr float kShortSnr = 16.0f;

// Default ceiling of a band's allowed noise relative to its energy (-13 dB).
// A band that the spreading function calls fully masked still keeps its
// shape: letting the quantiser remove it, or replace it by noise of equal
// power, is heard on sparse tonal spectra (bells, piano) between partials.
inline constexpr float kNoiseCeiling = 0.05f;

// Adjustments of the model. Constant rates use the defaults; the variable
// levels aim at transparency rather than at a budget, and there the model's
// optimism on sparse tonal spectra and quiet passages costs the most: they
// hear a lower absolute threshold, less masking above each masker, and the
// noise ceiling on tonal bands only.
struct PsyTuning {
  double athLowerDb = 0.0;      // absolute threshold lowered by this much
  double upperSlopeDb = 0.0;    // extra fall of the spreading per Bark above a masker
  float noiseCeiling = kNoiseCeiling;
  // The ceiling applies in proportion to the band's tonality (in the log
  // domain): noise-like bands, where noise replacing noise is not heard,
  // go free.
  bool tonalCeiling = false;
  // Signal-to-mask ratio of the short analyses (dB).
  float shortSnr = kShortSnr;
};

struct PsyOutput {
  float longRatio[22];      // allowed distortion / energy, long bands
  float shortRatio[3][13];  // per window, short bands
  // Band energies as the FFT analysis sees them, in MDCT energy units (a
  // full-scale sine gives 1 in both).
  float longEnergy[22];
  float shortEnergy[3][13];
};

class PsyModel {
 public:
  PsyModel(int sampleRate, int rateIndex, const PsyTuning& tuning = PsyTuning());
  // longBlock: kLongFft samples centred on the granule's long MDCT window;
  // shortBlocks: three kShortFft blocks centred on its short windows, or
  // null for a granule coded with long windows (whose short ratios and
  // energies are then left as they were). The long analysis always runs:
  // its tonality estimate follows the spectrum from granule to granule.
  void Analyze(const float* longBlock, const float* const* shortBlocks, PsyOutput* out);
  // Absolute threshold per line of each band in MDCT energy units.
  const float* AthLong() const { return athLong_; }
  const float* AthShort() const { return athShort_; }

 private:
  struct Partitions {
    int count = 0;
    std::vector<int> lo;   // first bin
    std::vector<int> hi;   // one past the last bin
    std::vector<float> norm;
    std::vector<float> ath;     // FFT energy units
    std::vector<float> spread;  // [masker * count + maskee]
    std::vector<float> spreadTo;  // the same, [maskee * count + masker]
    std::vector<int> spreadLo;    // per maskee, the maskers that reach it:
    std::vector<int> spreadHi;    // [spreadLo, spreadHi)
    std::vector<int> bandLo;    // bins of each scale-factor band
    std::vector<int> bandHi;
  };
  void BuildPartitions(int fftSize, const short* edges, int bands, int linesPerWindow,
                       Partitions* p) const;
  // Threshold per bin from energies and unpredictability; ratios and
  // energies per band.
  void Threshold(const Partitions& p, const float* power, const float* unpredict,
                  float tonalSnr, float noiseSnr, float* prevNb, float* ratios,
                  float* energies, int bands);

  int sampleRate_;
  PsyTuning tuning_;
  // The most noise any band may carry relative to its energy.
  float noiseCeiling_ = kNoiseCeiling;
  PowerSpectrum longFft_;
  PowerSpectrum shortFft_;
  Partitions longPart_;
  Partitions shortPart_;
  float athLong_[22];
  float athShort_[13];
  // Unpredictability needs the last two long spectra.
  std::vector<float> mag1_, mag2_;
  std::vector<float> c1_, s1_, c2_, s2_;  // unit phase vectors of the last two
  std::vector<float> power_, re_, im_, unpredict_;
  std::vector<float> shortPower_, thrPart_;
  std::vector<float> prevNb_;
  std::vector<float> scratch_;
  std::vector<double> spreadSums_;  // per partition: spread energy, then spread tonality
};

// Absolute threshold of hearing in dB SPL (Terhardt's approximation).
double AthDecibels(double hz);

}  // namespace mp3enc
