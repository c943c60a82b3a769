#include "mp3dec/huffman.h"

#include <algorithm>
#include <cstring>

#include "mp3dec/tables.h"

namespace mp3dec {
namespace {

// A look at the next 57 bits of the stream, taken from the front. One pair's
// code, escapes and signs take at most 19 + 2 * (13 + 1) = 47 bits and one
// quadruple's at most 6 + 4, so one look holds at least one of them, often
// several; the reader then skips the bits taken.
class BitWindow {
 public:
  static constexpr int kBits = 57;

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
  // True when another n bits lie within the look.
  bool Holds(int n) const { return used_ + n <= kBits; }

 private:
  uint64_t bits_;
  int used_ = 0;
};

// The longest code of any table (table 13's (15,12) and (15,14)).
constexpr int kLongestCode = 19;

// Walks a code tree two bits at a time, the first four steps through the
// tree's byte table; at a leaf the window moves exactly the code's length
// past its start. The standard's trees are complete (checked where they are
// defined), so every walk ends at a leaf of at most 19 bits.
inline uint32_t DecodeCode(BitWindow& w, const HuffmanTree& tree) {
  const uint64_t ahead = w.Ahead();
  uint32_t e = tree.firstByte[ahead >> 56];
  for (int used = 8; (e & 0xFF00) == 0 && used <= 30; used += 2) {
    e = tree.nodes[(e >> 16) * 4 + ((ahead >> (62 - used)) & 3)];
  }
  w.Skip(static_cast<int>((e >> 8) & 0xFF));
  return e & 0xFF;
}

// A sign bit follows each nonzero value (1: negative); taken without a
// branch on the value.
inline int32_t WithSign(BitWindow& w, int32_t v) {
  const int32_t present = v != 0 ? 1 : 0;
  const int32_t negative = static_cast<int32_t>(w.Ahead() >> 63) & present;
  w.Skip(present);
  return (v ^ -negative) + negative;
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

}  // namespace

int DecodeSpectrum(BitReader& r, size_t endBit, const GranuleInfo& g, const FrameContext& frame,
                   int32_t values[576]) {
  const Regions reg = FindRegions(g, frame);
  const int regionEnd[3] = {reg.region1Start, reg.region2Start, reg.bigEnd};
  int line = 0;
  for (int region = 0; region < 3; ++region) {
    const HuffmanTree& tree = kHuffmanTrees[g.tableSelect[region]];
    const int end = regionEnd[region];
    if (tree.nodes == nullptr) {
      for (; line < end; ++line) values[line] = 0;
      continue;
    }
    const int linbits = tree.linbits;
    const int pairBits = kLongestCode + 2 * (linbits + 1);
    while (line < end) {
      BitWindow w(r);
      do {
        const uint32_t pair = DecodeCode(w, tree);
        int32_t x = static_cast<int32_t>(pair >> 4);
        int32_t y = static_cast<int32_t>(pair & 15);
        if (linbits != 0 && x == 15) x += static_cast<int32_t>(w.Take(linbits));
        x = WithSign(w, x);
        if (linbits != 0 && y == 15) y += static_cast<int32_t>(w.Take(linbits));
        y = WithSign(w, y);
        values[line] = x;
        values[line + 1] = y;
        line += 2;
      } while (line < end && w.Holds(pairBits));
      r.Skip(static_cast<size_t>(w.Used()));
    }
  }
  // Count1 quadruples while bits remain; one that crosses endBit is dropped.
  const HuffmanTree& quadTree = kHuffmanTrees[32 + g.count1Table];
  constexpr int kQuadBits = 6 + 4;
  bool crossed = false;
  while (!crossed && line <= 572 && r.Position() < endBit) {
    BitWindow w(r);
    const size_t start = r.Position();
    do {
      const uint32_t q = DecodeCode(w, quadTree);
      int32_t v[4] = {static_cast<int32_t>((q >> 3) & 1), static_cast<int32_t>((q >> 2) & 1),
                      static_cast<int32_t>((q >> 1) & 1), static_cast<int32_t>(q & 1)};
      for (int32_t& s : v) s = WithSign(w, s);
      if (start + static_cast<size_t>(w.Used()) > endBit) {
        crossed = true;
        break;
      }
      for (int k = 0; k < 4; ++k) values[line + k] = v[k];
      line += 4;
    } while (line <= 572 && start + static_cast<size_t>(w.Used()) < endBit && w.Holds(kQuadBits));
    r.Skip(static_cast<size_t>(w.Used()));
  }
  if (line < 576) std::memset(values + line, 0, sizeof(int32_t) * static_cast<size_t>(576 - line));
  r.SetPosition(endBit);
  // The number of lines up to the last nonzero one.
  while (line > 0 && values[line - 1] == 0) --line;
  return line;
}

}  // namespace mp3dec
