// Joint-stereo processing of one granule (ISO/IEC 11172-3 2.4.3.4.9,
// ISO/IEC 13818-3 2.4.3.2): middle/side and intensity stereo, on the spectra
// in their decoded (not yet reordered) order.
#pragma once

#include "mp3dec/scalefactors.h"
#include "mp3dec/side_info.h"

namespace mp3dec {

// right/rightInfo/rightFactors describe the right channel, whose factors
// carry the intensity positions.
void ProcessStereo(const FrameContext& frame, const GranuleInfo& rightInfo,
                   const ScaleFactors& rightFactors, float left[576], float right[576]);

}  // namespace mp3dec
