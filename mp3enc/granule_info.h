// Side-information values and main data of one granule and channel, as the
// quantisation hands them to the frame formatter.
#pragma once

#include <cstdint>

#include "mp3enc/bit_writer.h"

namespace mp3enc {

enum BlockType : int { kNormalBlock = 0, kStartBlock = 1, kShortBlock = 2, kStopBlock = 3 };

struct GranuleInfo {
  int part23Length = 0;  // bits of scale factors + Huffman data (+ stuffing)
  int part2Length = 0;   // bits of the scale factors alone
  int bigValues = 0;
  int globalGain = 0;
  int scalefacCompress = 0;
  int blockType = kNormalBlock;
  int tableSelect[3] = {0, 0, 0};
  int subblockGain[3] = {0, 0, 0};
  int region0Count = 0;
  int region1Count = 0;
  int preflag = 0;
  int scalefacScale = 0;
  int count1Table = 0;
  GranuleBits mainData;  // scale factors then Huffman codes
};

// One frame's quantised granules: [granule][channel].
struct FrameGranules {
  GranuleInfo gr[2][2];
};

}  // namespace mp3enc
