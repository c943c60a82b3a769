// Kaiser-window design of the converter's interpolation low-pass.
//
// The filter is the windowed ideal low-pass taken as a function of
// continuous time (in input samples), so that the coefficients of any
// fractional position can be evaluated exactly: every phase of the polyphase
// bank is a sampling of the same continuous response.
#pragma once

#include <cstdint>

namespace mp3enc {

struct LowPassDesign {
  double cutoff = 0;  // cycles per input sample, centre of the transition
  double beta = 0;    // Kaiser window shape
  int32_t taps = 0;   // support in input samples (even)
};

// Zeroth-order modified Bessel function of the first kind (power series).
double BesselI0(double x);

// Kaiser's shape parameter for a stopband attenuation in dB.
double KaiserBeta(double attenuationDb);

// Support, in input samples, that a Kaiser window needs for the given
// attenuation and transition width (both edges in Hz, input rate in Hz).
// Returns 0 when the figures are unusable (non-positive or not finite) and
// caps the result at cap + 1 to stay clear of overflow.
int32_t KaiserSupport(double attenuationDb, double transitionHz,
                      double inputRate, int32_t cap);

// Writes the taps of one phase: the response at positions
// phase + taps/2 - 1 - j (j = 0 .. taps-1), in input samples relative to the
// output instant, normalised to unit sum so that every phase passes DC
// unchanged.
void DesignPhase(const LowPassDesign& design, double phase, float* taps);

}  // namespace mp3enc
