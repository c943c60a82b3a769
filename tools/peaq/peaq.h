// Objective measurement of perceived audio quality: the basic version of
// ITU-R BS.1387-1 (PEAQ). Compares a test signal with its reference and gives
// the Objective Difference Grade (0 = imperceptible .. -4 = very annoying),
// the Distortion Index and the eleven model output variables.
#pragma once

#include <array>
#include <span>
#include <string>
#include <vector>

#include "tools/peaq/peaq_tables.h"

namespace kestrune::peaq {

// When no frame of the reference has a bandwidth above 8.1 kHz (346 bins),
// the bandwidth variables, DI and ODG are NaN: the model is not defined there.
struct Result {
    double odg = 0.0;
    double distortionIndex = 0.0;
    std::array<double, kMovCount> movs{};  // in the order of MovIndex
};

// Channels are planar, 48 kHz, full scale 1.0; one or two channels, the same
// count and length in both signals (checked by the caller; mismatches throw
// std::invalid_argument).
Result evaluate(std::span<const std::vector<float>> reference, std::span<const std::vector<float>> test);

// The neural network (Annex 2, section 6): DI and ODG from the variables.
void applyNeuralNetwork(Result& result);

}  // namespace kestrune::peaq
