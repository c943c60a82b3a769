// Time and channel averaging of the per-frame precursors into the model
// output variables (ITU-R BS.1387-1, Annex 2, section 5).
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "tools/peaq/frame_movs.h"
#include "tools/peaq/peaq_tables.h"

namespace kestrune::peaq {

// Everything recorded for one channel, one entry per frame that counts.
struct ChannelFrames {
    std::vector<ModDiffFrame> modDiff;
    std::vector<double> noiseLoudness;
    std::vector<double> loudnessRef;
    std::vector<double> loudnessTest;
    std::vector<BandwidthFrame> bandwidth;
    std::vector<NmrFrame> nmr;
    std::vector<double> ehs;
};

// Per frame, channels combined: probability of detection and steps above threshold.
struct DetectionFrames {
    std::vector<double> probability;
    std::vector<double> steps;
};

// warmUpFrames: frames before the data start that the filters have already
// seen; they count towards the 0.5 s settling delay of the modulation values.
std::array<double, kMovCount> averageMovs(const std::vector<ChannelFrames>& channels,
                                          const DetectionFrames& detection, std::size_t warmUpFrames);

}  // namespace kestrune::peaq
