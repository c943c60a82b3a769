// Huffman decoding of one granule's quantised spectrum (ISO/IEC 11172-3
// 2.4.2.7 and 2.4.3.4.2): the big-values regions, escapes with linbits,
// signs, and the count1 quadruples.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mp3dec/bitstream.h"
#include "mp3dec/side_info.h"

namespace mp3dec {

// Decodes from the reader's position up to endBit (the end of part2_3_length)
// into values[576] and leaves the reader exactly at endBit. Returns the
// number of lines up to the last nonzero one.
int DecodeSpectrum(BitReader& r, size_t endBit, const GranuleInfo& g, const FrameContext& frame,
                   int32_t values[576]);

}  // namespace mp3dec
