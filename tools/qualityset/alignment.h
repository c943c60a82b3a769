// Time alignment of a decoded signal with its reference by cross-correlation.
#pragma once

#include <cstddef>
#include <vector>

namespace kestrune::quality {

// The delay in samples (0 .. maxLag) at which `decoded` best matches
// `reference`: the lag of the largest cross-correlation of the channel sums,
// taken over the reference's most energetic stretch of about 1.4 s.
// Returns -1 when the reference is silent.
long FindLag(const std::vector<std::vector<float>>& reference, const std::vector<std::vector<float>>& decoded,
             std::size_t maxLag);

// The decoded channels shifted left by `lag` and cut or zero-padded to
// `frames` samples.
std::vector<std::vector<float>> AlignTo(const std::vector<std::vector<float>>& decoded, long lag,
                                        std::size_t frames);

}  // namespace kestrune::quality
