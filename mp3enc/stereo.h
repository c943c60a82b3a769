// Joint stereo: band energies and perceptual entropy in the MDCT domain, the
// mid/side against left/right decision, and the mid/side transform.
#pragma once

#include "mp3enc/quantize.h"

namespace mp3enc {

void BandEnergies(const BandLayout& layout, const float* xr, float* energy);
// Bits estimate of coding the bands at their allowed distortion.
float PerceptualEntropy(const BandLayout& layout, const float* energy, const float* xmin);
// M = (L + R) / sqrt 2, S = (L - R) / sqrt 2 in place.
void ToMidSide(float* left, float* right, int n);

}  // namespace mp3enc
