// The FFT ear model of the basic version of ITU-R BS.1387-1 (Annex 2,
// section 2.1): windowed 2048-point spectra, outer and middle ear weighting,
// grouping into 109 quarter-Bark bands, internal noise, level-dependent
// frequency spreading and time-domain spreading.
#pragma once

#include <array>
#include <vector>

#include "tools/peaq/fft.h"
#include "tools/peaq/peaq_tables.h"

namespace kestrune::peaq {

using BinArray = std::array<double, kBins>;
using BandArray = std::array<double, kBandCount>;

// Band layout and the frequency-dependent constants shared by every stage.
struct BandLayout {
    BandArray lower{};   // Hz
    BandArray centre{};  // Hz
    BandArray upper{};   // Hz
    BandArray internalNoise{};  // E_IN: 10^(0.1456 (f/kHz)^-0.8)
    // Band k takes bins firstBin..lastBin; the first and last bin count with
    // the fractions firstWeight and lastWeight (lastWeight 0 for a one-bin band).
    std::array<std::size_t, kBandCount> firstBin{};
    std::array<std::size_t, kBandCount> lastBin{};
    BandArray firstWeight{};
    BandArray lastWeight{};

    static const BandLayout& get();
};

// Time constant coefficient a = exp(-1 / (frame rate * tau)) of the first-order
// smoothing filters, tau = tauMin + 100 Hz / fc (tau100 - tauMin).
BandArray smoothingCoefficients(double tau100, double tauMin);

// What the later stages need of one frame of one channel of one signal.
struct EarFrame {
    BinArray power{};         // |X[k]|^2 of the level-scaled windowed spectrum
    BinArray weighted{};      // after the outer and middle ear weighting
    BandArray unsmeared{};    // excitation after frequency spreading
    BandArray excitation{};   // after time-domain spreading as well
};

class EarModel {
public:
    EarModel();

    // frame: kFrameSize samples, full scale 1.0. Updates the time spreading state.
    void process(const double* frame, EarFrame& out);

    // Groups a bin energy vector into the bands (minimum 1e-12 per band).
    static void group(const BinArray& bins, BandArray& bands);

private:
    void spread(const BandArray& pitch, BandArray& out) const;

    RealFft fft_;
    std::vector<double> window_;
    std::vector<double> windowed_;
    BinArray earWeight_{};
    BandArray spreadNorm_{};
    BandArray lowerSlope_{};   // not level dependent, per band step
    BandArray upperSlope_{};   // level-independent part of the upper slope
    BandArray timeCoeff_{};
    BandArray smoothed_{};
};

}  // namespace kestrune::peaq
