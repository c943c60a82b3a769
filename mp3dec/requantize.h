// Requantisation (ISO/IEC 11172-3 2.4.3.4.7): each line becomes
// sign(x) * |x|^(4/3) * 2^(15 - i/4), the factor 2^15 giving the spectrum the
// scale of 16-bit PCM.
#pragma once

#include <cstdint>

#include "mp3dec/scalefactors.h"
#include "mp3dec/side_info.h"

namespace mp3dec {

// Writes all 576 lines of out; lines from nonzeroLines on are zero. values
// are the Huffman decoder's (magnitudes up to 15 + 2^13 - 1).
void Requantize(const int32_t values[576], int nonzeroLines, const GranuleInfo& g,
                const ScaleFactors& sf, const FrameContext& frame, float out[576]);

}  // namespace mp3dec
