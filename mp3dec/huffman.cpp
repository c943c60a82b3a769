#include "mp3dec/huffman.h"

#include <algorithm>
#include <cstring>

#include "mp3dec/tables.h"

namespace mp3dec {
namespace {

// Walks a code tree two bits at a time over a 32-bit window of the stream,
// the first four steps through the tree's byte table; at a leaf the reader
// moves exactly the code's length past its start.
inline uint32_t DecodeCode(BitReader& r, const HuffmanTree& tree) {
  const uint32_t window = r.Peek32();
  uint32_t e = tree.firstByte[window >> 24];
  for (int used = 8; (e & 0xFF00) == 0 && used <= 30; used += 2) {
    e = tree.nodes[(e >> 16) * 4 + ((window >> (30 - used)) & 3)];
  }
  const uint32_t length = (e >> 8) & 0xFF;
  r.Skip(length != 0 ? length : 32);  // 0: unreachable with the standard's trees
  return e & 0xFF;
}

struct Regions {
  int region1Start;
  int region2Start;
  int bigEnd;
};

Regions FindRegions(const GranuleInfo& g, const FrameContext& frame) {
  const auto& longB = frame.bands->longBounds;
  const auto& shortB = frame.bands->shortBounds;
  Regions reg{};
  reg.bigEnd = static_cast<int>(std::min<uint32_t>(g.bigValues * 2, 576));
  if (g.IsShort() && !g.mixedBlock) {
    reg.region1Start = 3 * shortB[std::min<uint32_t>((g.region0Count + 1) / 3, 13)];
    reg.region2Start = 576;
  } else if (g.IsShort() && g.mixedBlock) {
    reg.region1Start = frame.mpeg1 ? longB[std::min<uint32_t>(g.region0Count + 1, 22)]
                                   : longB[6] + 2 * (shortB[4] - shortB[3]);
    reg.region2Start = 576;
  } else {
    reg.region1Start = longB[std::min<uint32_t>(g.region0Count + 1, 22)];
    reg.region2Start = longB[std::min<uint32_t>(g.region0Count + g.region1Count + 2, 22)];
  }
  reg.region1Start = std::min(reg.region1Start, reg.bigEnd);
  reg.region2Start = std::clamp(reg.region2Start, reg.region1Start, reg.bigEnd);
  return reg;
}

inline int32_t WithSign(BitReader& r, int32_t v) { return (v != 0 && r.ReadBit()) ? -v : v; }

}  // namespace

int DecodeSpectrum(BitReader& r, size_t endBit, const GranuleInfo& g, const FrameContext& frame,
                   int32_t values[576]) {
  const Regions reg = FindRegions(g, frame);
  const int regionEnd[3] = {reg.region1Start, reg.region2Start, reg.bigEnd};
  int line = 0;
  int nonzeroEnd = 0;
  for (int region = 0; region < 3; ++region) {
    const HuffmanTree& tree = kHuffmanTrees[g.tableSelect[region]];
    const int end = regionEnd[region];
    if (tree.nodes == nullptr) {
      for (; line < end; ++line) values[line] = 0;
      continue;
    }
    for (; line < end; line += 2) {
      const uint32_t pair = DecodeCode(r, tree);
      int32_t x = static_cast<int32_t>(pair >> 4);
      int32_t y = static_cast<int32_t>(pair & 15);
      if (tree.linbits != 0 && x == 15) x += static_cast<int32_t>(r.Read(tree.linbits));
      x = WithSign(r, x);
      if (tree.linbits != 0 && y == 15) y += static_cast<int32_t>(r.Read(tree.linbits));
      y = WithSign(r, y);
      values[line] = x;
      values[line + 1] = y;
      if ((x | y) != 0) nonzeroEnd = line + (y != 0 ? 2 : 1);
    }
  }
  // Count1 quadruples while bits remain; one that crosses endBit is dropped.
  const HuffmanTree& quadTree = kHuffmanTrees[32 + g.count1Table];
  while (line <= 572 && r.Position() < endBit) {
    const uint32_t q = DecodeCode(r, quadTree);
    int32_t v[4] = {static_cast<int32_t>((q >> 3) & 1), static_cast<int32_t>((q >> 2) & 1),
                    static_cast<int32_t>((q >> 1) & 1), static_cast<int32_t>(q & 1)};
    for (int32_t& s : v) s = WithSign(r, s);
    if (r.Position() > endBit) break;
    for (int k = 0; k < 4; ++k) {
      values[line + k] = v[k];
      if (v[k] != 0) nonzeroEnd = line + k + 1;
    }
    line += 4;
  }
  if (line < 576) std::memset(values + line, 0, sizeof(int32_t) * static_cast<size_t>(576 - line));
  r.SetPosition(endBit);
  return nonzeroEnd;
}

}  // namespace mp3dec
