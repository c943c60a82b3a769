#include "mp3dec/side_info.h"

namespace mp3dec {

FrameContext MakeFrameContext(const FrameHeader& header) {
  FrameContext f;
  f.header = header;
  f.channels = header.channels;
  f.granules = header.Granules();
  f.mpeg1 = header.version == 0;
  f.bands = &kBandTables[header.version][header.sampleRateIndex];
  f.eightKiloHertz = header.version == 2 && header.sampleRateIndex == 2;
  return f;
}

namespace {

void ClearGranule(GranuleInfo& g) {
  g.part23Length = 0;
  g.bigValues = 0;
  g.scalefacCompress = 0;
}

bool ReadGranule(BitReader& r, const FrameContext& frame, GranuleInfo& g) {
  g.part23Length = r.Read(12);
  g.bigValues = r.Read(9);
  g.globalGain = r.Read(8);
  g.scalefacCompress = r.Read(frame.mpeg1 ? 4 : 9);
  g.windowSwitching = r.ReadBit();
  if (g.windowSwitching) {
    g.blockType = r.Read(2);
    g.mixedBlock = r.ReadBit();
    g.tableSelect[0] = r.Read(5);
    g.tableSelect[1] = r.Read(5);
    g.tableSelect[2] = 0;
    for (uint32_t& gain : g.subblockGain) gain = r.Read(3);
    g.region0Count = (g.blockType == 2 && !g.mixedBlock) ? 8 : 7;
    g.region1Count = 20 - g.region0Count;
  } else {
    g.blockType = 0;
    g.mixedBlock = false;
    for (uint32_t& t : g.tableSelect) t = r.Read(5);
    for (uint32_t& gain : g.subblockGain) gain = 0;
    g.region0Count = r.Read(4);
    g.region1Count = r.Read(3);
  }
  g.preflag = frame.mpeg1 ? r.ReadBit() : false;
  g.scalefacScale = r.Read(1);
  g.count1Table = r.Read(1);

  bool damaged = false;
  if (g.bigValues > 288) {
    ClearGranule(g);
    damaged = true;
  } else if (g.windowSwitching && g.blockType == 0) {
    ClearGranule(g);
    g.region0Count = 0;
  }
  return damaged;
}

}  // namespace

bool ReadSideInfo(BitReader& r, const FrameContext& frame, SideInfo& side) {
  const bool mono = frame.channels == 1;
  if (frame.mpeg1) {
    side.mainDataBegin = r.Read(9);
    side.privateBits = r.Read(mono ? 5 : 3);
    for (int ch = 0; ch < frame.channels; ++ch) {
      for (uint8_t& s : side.scfsi[ch]) s = static_cast<uint8_t>(r.Read(1));
    }
  } else {
    side.mainDataBegin = r.Read(8);
    side.privateBits = r.Read(mono ? 1 : 2);
  }
  bool damaged = false;
  for (int gr = 0; gr < frame.granules; ++gr) {
    for (int ch = 0; ch < frame.channels; ++ch) {
      damaged |= ReadGranule(r, frame, side.granules[gr][ch]);
    }
  }
  return damaged;
}

}  // namespace mp3dec
