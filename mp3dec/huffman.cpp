#include "mp3dec/huffman.h"

#include <algorithm>
#include <cstring>

#include "mp3dec/tables.h"

namespace mp3dec {
namespace {

// A look at the next 57 bits of the stream, taken from the front. One pair's
// code, escapes and signs take at most 19 + 2 * (13 + 1) = 47 bits and one
// quadruple's at most 6 + 4, so each is decoded from a single look and the
// reader then skips the bits taken.
class BitWindow {
 public:
  explicit BitWindow(const BitReader& r) : bits_(r.Peek57()) {}
  // The untaken bits, first one at the top.
  uint64_t Ahead() const { return bits_ << used_; }
  // n from 1 to 32.
  uint32_t Take(int n) {
    const uint32_t v = static_cast<uint32_t>(Ahead() >> (64 - n));
    used_ += n;
    return v;
  }
  void Skip(int n) { used_ += n; }
  int Used() const { return used_; }

 private:
  uint64_t bits_;
  int used_ = 0;
};

// Walks a code tree two bits at a time, the first four steps through the
// tree's byte table; at a leaf the window moves exactly the code's length
// past its start.
inline uint32_t DecodeCode(BitWindow& w, const HuffmanTree& tree) {
  const uint64_t ahead = w.Ahead();
  uint32_t e = tree.firstByte[ahead >> 56];
  for (int used = 8; (e & 0xFF00) == 0 && used <= 30; used += 2) {
    e = tree.nodes[(e >> 16) * 4 + ((ahead >> (62 - used)) & 3)];
  }
  const int length = static_cast<int>((e >> 8) & 0xFF);
  w.Skip(length != 0 ? length : 32);  // 0: unreachable with the standard's trees
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

inline int32_t WithSign(BitWindow& w, int32_t v) { return (v != 0 && w.Take(1) != 0) ? -v : v; }

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
      BitWindow w(r);
      const uint32_t pair = DecodeCode(w, tree);
      int32_t x = static_cast<int32_t>(pair >> 4);
      int32_t y = static_cast<int32_t>(pair & 15);
      if (tree.linbits != 0 && x == 15) x += static_cast<int32_t>(w.Take(tree.linbits));
      x = WithSign(w, x);
      if (tree.linbits != 0 && y == 15) y += static_cast<int32_t>(w.Take(tree.linbits));
      y = WithSign(w, y);
      r.Skip(static_cast<size_t>(w.Used()));
      values[line] = x;
      values[line + 1] = y;
      if ((x | y) != 0) nonzeroEnd = line + (y != 0 ? 2 : 1);
    }
  }
  // Count1 quadruples while bits remain; one that crosses endBit is dropped.
  const HuffmanTree& quadTree = kHuffmanTrees[32 + g.count1Table];
  while (line <= 572 && r.Position() < endBit) {
    BitWindow w(r);
    const uint32_t q = DecodeCode(w, quadTree);
    int32_t v[4] = {static_cast<int32_t>((q >> 3) & 1), static_cast<int32_t>((q >> 2) & 1),
                    static_cast<int32_t>((q >> 1) & 1), static_cast<int32_t>(q & 1)};
    for (int32_t& s : v) s = WithSign(w, s);
    r.Skip(static_cast<size_t>(w.Used()));
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
