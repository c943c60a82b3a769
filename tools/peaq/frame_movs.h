// Per-frame precursors of the model output variables (ITU-R BS.1387-1,
// Annex 2, section 4), for one channel.
#pragma once

#include <vector>

#include "tools/peaq/ear_model.h"
#include "tools/peaq/fft.h"

namespace kestrune::peaq {

struct ModDiffFrame {
    double modDiff1 = 0.0;
    double modDiff2 = 0.0;
    double weight = 0.0;
};
// Modulation differences (4.2) and their temporal weight.
ModDiffFrame modulationDifference(const BandArray& modRef, const BandArray& modTest,
                                  const BandArray& averageRef);

// Noise loudness (4.3) from the modulation and spectrally adapted patterns.
double noiseLoudness(const BandArray& modRef, const BandArray& modTest, const BandArray& adaptedRef,
                     const BandArray& adaptedTest);

struct BandwidthFrame {
    int ref = -1;   // -1: the reference bandwidth does not exceed 346 bins
    int test = -1;
};
// Bandwidth (4.4) from the unweighted power spectra.
BandwidthFrame bandwidth(const BinArray& ref, const BinArray& test);

struct NmrFrame {
    double average = 0.0;  // mean over bands of noise / mask
    double maximum = 0.0;  // largest band ratio
};
// Noise-to-mask ratio (4.5): noise patterns against the mask of the reference excitation.
NmrFrame noiseToMask(const BandArray& noise, const BandArray& excitationRef);

// Detection probability and number of steps above threshold per band (4.7).
void detection(const BandArray& excitationRef, const BandArray& excitationTest, BandArray& probability,
               BandArray& steps);

// Error harmonic structure (4.6) of one frame; negative when both signals are
// below the energy threshold in the second half of the frame.
class HarmonicStructure {
public:
    HarmonicStructure();
    double process(const double* frameRef, const double* frameTest, const BinArray& powerRef,
                   const BinArray& powerTest);

private:
    static constexpr std::size_t kLags = 256;
    RealFft fft_;
    std::vector<double> window_;
    std::vector<double> diff_;
    std::vector<double> corr_;
    std::vector<double> spectrum_;
};

}  // namespace kestrune::peaq
