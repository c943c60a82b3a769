// Scale factors of one granule and channel: MPEG-1 (ISO/IEC 11172-3
// 2.4.2.7, with scfsi reuse) and MPEG-2/2.5 (ISO/IEC 13818-3 2.4.3.2, with the
// separate partition of the intensity-stereo right channel).
#pragma once

#include <cstdint>

#include "mp3dec/bitstream.h"
#include "mp3dec/side_info.h"

namespace mp3dec {

struct ScaleFactors {
  uint8_t longBands[22] = {};
  uint8_t shortBands[13][3] = {};
  // Intensity positions that mean "not intensity coded" (the right channel's
  // largest codable value in MPEG-2; 7 in MPEG-1).
  uint8_t illegalLong[22] = {};
  uint8_t illegalShort[13] = {};
};

// MPEG-1: previous holds granule 0's factors of the same channel (reused per
// scfsi band group in granule 1) and receives this granule's.
void ReadScaleFactorsMpeg1(BitReader& r, const GranuleInfo& g, const uint8_t scfsi[4], int granule,
                           ScaleFactors& sf);

// MPEG-2/2.5: intensityRight marks the right channel of an intensity-stereo
// frame. Sets g.preflag when the partition implies it.
void ReadScaleFactorsMpeg2(BitReader& r, GranuleInfo& g, bool intensityRight, ScaleFactors& sf);

}  // namespace mp3dec
