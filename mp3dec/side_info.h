// Layer III side information (ISO/IEC 11172-3 2.4.1.7, ISO/IEC 13818-3
// 2.4.1.7) and the frame values the granule stages share.
#pragma once

#include <cstdint>

#include "mp3dec/bitstream.h"
#include "mp3dec/sync.h"
#include "mp3dec/tables.h"

namespace mp3dec {

struct GranuleInfo {
  uint32_t part23Length = 0;
  uint32_t bigValues = 0;
  uint32_t globalGain = 0;
  uint32_t scalefacCompress = 0;
  bool windowSwitching = false;
  uint32_t blockType = 0;
  bool mixedBlock = false;
  uint32_t tableSelect[3] = {0, 0, 0};
  uint32_t subblockGain[3] = {0, 0, 0};
  uint32_t region0Count = 0;
  uint32_t region1Count = 0;
  bool preflag = false;
  uint32_t scalefacScale = 0;
  uint32_t count1Table = 0;

  bool IsShort() const { return windowSwitching && blockType == 2; }
};

struct SideInfo {
  uint32_t mainDataBegin = 0;
  uint32_t privateBits = 0;
  uint8_t scfsi[2][4] = {};
  GranuleInfo granules[2][2];  // [granule][channel]
};

// The values of one frame that the granule stages need.
struct FrameContext {
  FrameHeader header;
  int channels = 0;
  int granules = 0;
  bool mpeg1 = false;
  const BandTable* bands = nullptr;
  bool eightKiloHertz = false;  // MPEG-2.5 at 8000 Hz

  // Long bands of a mixed block (0..7 for MPEG-1, 0..5 otherwise) end at
  // line LongPartEnd(); its short bands start at band 3.
  int MixedLongBands() const { return mpeg1 ? 8 : 6; }
  int LongPartEnd() const { return bands->longBounds[MixedLongBands()]; }
};

FrameContext MakeFrameContext(const FrameHeader& header);

// Reads the side information that follows the header (and its CRC word)
// and applies the checks of the decoder: big_values above 288 clears the
// granule and marks the frame damaged (returned true); window switching with
// block type 0 clears the granule without marking it.
bool ReadSideInfo(BitReader& reader, const FrameContext& frame, SideInfo& side);

}  // namespace mp3dec
