// Constants of the basic version of ITU-R BS.1387-1 (PEAQ).
#pragma once

#include <array>
#include <cstddef>

namespace kestrune::peaq {

inline constexpr double kSampleRate = 48000.0;
inline constexpr std::size_t kFrameSize = 2048;             // FFT ear model frame
inline constexpr std::size_t kHop = kFrameSize / 2;          // 50 % overlap
inline constexpr std::size_t kBins = kFrameSize / 2 + 1;
inline constexpr double kFrameRate = kSampleRate / kHop;     // 46.875 frames per second
inline constexpr std::size_t kBandCount = 109;               // 80 Hz .. 18 kHz, dz = 1/4 Bark
inline constexpr double kBandStep = 0.25;                    // Bark
inline constexpr double kLowestFrequency = 80.0;
inline constexpr double kHighestFrequency = 18000.0;
inline constexpr double kPlaybackLevelDb = 92.0;             // SPL of a full-scale sine

// The eleven model output variables of the basic version, in the order the
// neural network takes them.
inline constexpr std::size_t kMovCount = 11;
enum MovIndex : std::size_t {
    kBandwidthRef = 0,
    kBandwidthTest,
    kTotalNmr,
    kWinModDiff1,
    kAdb,
    kEhs,
    kAvgModDiff1,
    kAvgModDiff2,
    kRmsNoiseLoud,
    kMfpd,
    kRelDistFrames,
};

extern const std::array<const char*, kMovCount> kMovNames;

struct NeuralNetTables {
    std::array<double, kMovCount> inputMin;
    std::array<double, kMovCount> inputMax;
    std::array<std::array<double, 3>, kMovCount> inputWeights;
    std::array<double, 3> hiddenBias;
    std::array<double, 3> outputWeights;
    double outputBias;
    double odgMin;
    double odgMax;
};

extern const NeuralNetTables kBasicNetwork;

// Detection threshold polynomial of the probability of detection (BS.1387-1, 4.7):
// s(L) = d1 (d2 / L)^g + c0 + c1 L + c2 L^2 + c3 L^3 + c4 L^4.
struct DetectionTables {
    double d1;
    double d2;
    double g;
    std::array<double, 5> c;
};

extern const DetectionTables kDetection;

}  // namespace kestrune::peaq
