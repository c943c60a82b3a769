// Table selection and bit counting for the Huffman coding of Layer III
// (ISO/IEC 11172-3, 2.4.2.7 and Table B.7).
#include "mp3enc/huffman_select.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>

#include "mp3enc/huffman_tables.h"

namespace mp3enc {
namespace {

int RegionMax(const int* ix, int begin, int end) {
  int m = 0;
  for (int i = begin; i < end; ++i) m = ix[i] > m ? ix[i] : m;
  return m;
}

// The candidate tables of a region, grouped by the largest value they code:
// one pass over the pairs sums the code lengths of every table of the group
// at once, each in its own 21-bit field of a packed length.
struct TableGroup {
  int count;
  int tables[3];
};
constexpr TableGroup kGroups[7] = {
    {1, {1, 0, 0}},     {2, {2, 3, 0}},      {2, {5, 6, 0}}, {3, {7, 8, 9}},
    {3, {10, 11, 12}}, {2, {13, 15, 0}},    {2, {16, 24, 0}},  // escape code families
};
constexpr int kEscapeGroup = 6;
// Group of the candidates for a region whose largest value is m (1..15).
constexpr int kGroupOfMax[16] = {0, 0, 1, 2, 3, 3, 4, 4, 5, 5, 5, 5, 5, 5, 5, 5};
constexpr int kFieldBits = 21;
constexpr uint64_t kFieldMask = (uint64_t{1} << kFieldBits) - 1;

// Packed lengths of each group, indexed by x * 16 + y (values clamped to 15
// for the escape families), each with the pair's sign bits added; the
// escape extensions are counted apart. A field never carries into the next:
// 288 pairs of at most 19 + 2 bits stay below 2^21.
struct PackedLengths {
  uint64_t entry[7][256];
};

PackedLengths BuildPackedLengths() {
  PackedLengths p{};
  for (int g = 0; g < 7; ++g) {
    for (int i = 0; i < kGroups[g].count; ++i) {
      const HuffmanTable& h = kHuffmanTables[kGroups[g].tables[i]];
      for (int x = 0; x < h.dim; ++x) {
        for (int y = 0; y < h.dim; ++y) {
          const int bits = h.lengths[x * h.dim + y] + (x != 0) + (y != 0);
          p.entry[g][x * 16 + y] |= static_cast<uint64_t>(bits) << (kFieldBits * i);
        }
      }
    }
  }
  return p;
}

const PackedLengths& Packed() {
  static const PackedLengths packed = BuildPackedLengths();
  return packed;
}

// Sums the packed code and sign lengths of group g (no escapes: every value
// of [begin, end) is below the group's dimension) over the pairs.
uint64_t GroupBits(const int* ix, int begin, int end, int g) {
  const uint64_t* e = Packed().entry[g];
  uint64_t sum = 0;
  for (int i = begin; i < end; i += 2) sum += e[ix[i] * 16 + ix[i + 1]];
  return sum;
}

// The same for the escape families; counts the values of 15 and above.
uint64_t EscapeGroupBits(const int* ix, int begin, int end, int* escapes) {
  const uint64_t* e = Packed().entry[kEscapeGroup];
  uint64_t sum = 0;
  int esc = 0;
  for (int i = begin; i < end; i += 2) {
    const int x = ix[i];
    const int y = ix[i + 1];
    esc += (x >= 15) + (y >= 15);
    sum += e[std::min(x, 15) * 16 + std::min(y, 15)];
  }
  *escapes = esc;
  return sum;
}

// The escape table of each family for a region whose largest value is m
// (at least 16): the first of the family whose linbits reach m - 15, by the
// bit width of m - 15.
struct EscapeChoice {
  int table[14][2];
  int linbits[14][2];
};

EscapeChoice BuildEscapeChoice() {
  EscapeChoice c{};
  for (int width = 0; width < 14; ++width) {
    for (int f = 0; f < 2; ++f) {
      const int family = f == 0 ? 16 : 24;
      for (int t = family; t < family + 8; ++t) {
        if (kHuffmanTables[t].linbits >= width) {
          c.table[width][f] = t;
          c.linbits[width][f] = kHuffmanTables[t].linbits;
          break;
        }
      }
    }
  }
  return c;
}

const EscapeChoice& Escapes() {
  static const EscapeChoice choice = BuildEscapeChoice();
  return choice;
}

// Bit width of m - 15 for a largest value m of 16 .. kMaxQuantValue.
inline int EscapeWidth(int m) { return std::bit_width(static_cast<unsigned>(m - 15)); }
static_assert(std::bit_width(static_cast<unsigned>(kMaxQuantValue - 15)) == 13);

// Best table for a region: returns bits, stores the table. Among equal
// counts the first candidate wins.
// Largest value of [begin, end): the maxima of the bands inside it, and a
// scan of the parts of bands it cuts; or a scan of all of it without maxima.
int RegionMax(const int* ix, int begin, int end, const BandMaxima* bands) {
  if (bands == nullptr) return RegionMax(ix, begin, end);
  int m = 0;
  for (int k = 0; k < bands->count && bands->edge[k] < end; ++k) {
    const int lo = bands->edge[k];
    const int hi = bands->edge[k + 1];
    if (hi <= begin) continue;
    if (lo >= begin && hi <= end) {
      m = std::max(m, bands->max[k]);
    } else {
      m = std::max(m, RegionMax(ix, std::max(lo, begin), std::min(hi, end)));
    }
  }
  return m;
}

int BestTable(const int* ix, int begin, int end, int* table,
              const BandMaxima* bands = nullptr) {
  if (begin >= end) {
    *table = 0;
    return 0;
  }
  const int m = RegionMax(ix, begin, end, bands);
  if (m == 0) {
    *table = 0;
    return 0;
  }
  int bestBits = INT_MAX;
  int best = 0;
  if (m < 16) {
    const int g = kGroupOfMax[m];
    const uint64_t sum = GroupBits(ix, begin, end, g);
    for (int i = 0; i < kGroups[g].count; ++i) {
      const int b = static_cast<int>((sum >> (kFieldBits * i)) & kFieldMask);
      if (b < bestBits) {
        bestBits = b;
        best = kGroups[g].tables[i];
      }
    }
    *table = best;
    return bestBits;
  }
  // Escape tables: the smallest linbits of each family that reach m.
  int escapes = 0;
  const uint64_t sum = EscapeGroupBits(ix, begin, end, &escapes);
  const EscapeChoice& choice = Escapes();
  const int width = EscapeWidth(m);
  for (int f = 0; f < 2; ++f) {
    const int b = static_cast<int>((sum >> (kFieldBits * f)) & kFieldMask) +
                  choice.linbits[width][f] * escapes;
    if (b < bestBits) {
      bestBits = b;
      best = choice.table[width][f];
    }
  }
  *table = best;
  return bestBits;
}

// Count1 lengths per quadruple pattern: table A's code and the sign bits in
// the low half, the sign bits alone in the high half (a region of at most
// 144 quadruples stays below 2^16 in each). Table B codes every pattern in
// 4 bits.
struct Count1Lengths {
  uint32_t entry[16];
};

Count1Lengths BuildCount1Lengths() {
  Count1Lengths c{};
  for (int idx = 0; idx < 16; ++idx) {
    const uint32_t signs = ((idx >> 3) & 1) + ((idx >> 2) & 1) + ((idx >> 1) & 1) + (idx & 1);
    c.entry[idx] = (kCount1Tables[0].lengths[idx] + signs) | (signs << 16);
  }
  return c;
}

const Count1Lengths& Count1Table() {
  static const Count1Lengths lengths = BuildCount1Lengths();
  return lengths;
}

// The count1 bits of [begin, end), a whole number of quadruples, and the
// cheaper table.
int Count1Bits(const Kernels& kernels, const int* ix, int begin, int end, int* table) {
  const int quads = (end - begin) / 4;
  const uint32_t sum = quads > 0 ? kernels.quadSum(ix + begin, quads, Count1Table().entry) : 0;
  const int a = static_cast<int>(sum & 0xffff);
  const int b = 4 * quads + static_cast<int>(sum >> 16);
  *table = b < a ? 1 : 0;
  return b < a ? b : a;
}

// The lengths of every candidate table packed for one pass over a band: the
// 13 plain tables of BandTableBits::kPlain and the two escape families
// (values clamped to 15, escape extensions counted apart) in three words of
// five 11-bit fields, word w holding slots 5w .. 5w + 4. A field never
// carries: a chunk of at most 96 pairs of at most 19 + 2 bits stays below
// 2^11. Entries outside a table's dimension are 0; such a field is only
// read for bands whose values that table cannot code, and never used.
constexpr int kBandFieldBits = 11;
constexpr uint64_t kBandFieldMask = (uint64_t{1} << kBandFieldBits) - 1;
constexpr int kBandChunk = 96;
static_assert(kBandChunk * 21 < (1 << kBandFieldBits));

struct BandLengths {
  uint64_t entry[3][256];
};

BandLengths BuildBandLengths() {
  constexpr int kSlotTables[15] = {1, 2, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 16, 24};
  BandLengths p{};
  for (int slot = 0; slot < 15; ++slot) {
    const HuffmanTable& h = kHuffmanTables[kSlotTables[slot]];
    for (int x = 0; x < h.dim; ++x) {
      for (int y = 0; y < h.dim; ++y) {
        const int bits = h.lengths[x * h.dim + y] + (x != 0) + (y != 0);
        p.entry[slot / 5][x * 16 + y] |= static_cast<uint64_t>(bits)
                                         << (kBandFieldBits * (slot % 5));
      }
    }
  }
  return p;
}

const BandLengths& BandPacked() {
  static const BandLengths packed = BuildBandLengths();
  return packed;
}

// Adds words kFirst..2 of the pairs of [from, to) to sum; returns the number
// of escaped values.
template <int kFirst>
int SumWords(const BandLengths& lengths, const int* ix, int from, int to, uint64_t* sum) {
  int esc = 0;
  for (int i = from; i < to; i += 2) {
    const int x = ix[i];
    const int y = ix[i + 1];
    esc += (x >= 15) + (y >= 15);
    const int at = std::min(x, 15) * 16 + std::min(y, 15);
    if constexpr (kFirst == 0) sum[0] += lengths.entry[0][at];
    if constexpr (kFirst <= 1) sum[1] += lengths.entry[1][at];
    sum[2] += lengths.entry[2][at];
  }
  return esc;
}

// Bit counts per scale-factor band and table, summed on demand over runs of
// bands: the split search of long blocks then costs one pass over the lines
// instead of one per candidate region. Gives exactly BestTable's answers.
class BandTableBits {
 public:
  // Tables that can code each band's values without escapes, and the two
  // escape code families (table 16's and table 24's lengths).
  static constexpr int kPlain[13] = {1, 2, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15};
  // Position of a plain table in kPlain (0 for the tables not there).
  static constexpr int kSlot[16] = {0, 0, 1, 2, 0, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0, 12};

  BandTableBits(const int* ix, const short* edge, int big) {
    const BandLengths& lengths = BandPacked();
    for (int t = 0; t < 15; ++t) cum_[t][0] = 0;
    escCum_[0] = 0;
    for (int k = 0; k < 22; ++k) {
      const int lo = std::min<int>(edge[k], big);
      const int hi = std::min<int>(edge[k + 1], big);
      const int m = RegionMax(ix, lo, hi);
      max_[k] = m;
      // The words a band needs: the escape word always; the tables for
      // values up to 7 when m is below 8, and those for up to 3 below 4.
      const int first = m < 4 ? 0 : m < 8 ? 1 : 2;
      int bits[15] = {};
      int esc = 0;
      for (int from = lo; from < hi; from += 2 * kBandChunk) {
        const int to = std::min(hi, from + 2 * kBandChunk);
        uint64_t sum[3] = {0, 0, 0};
        if (first == 0) {
          esc += SumWords<0>(lengths, ix, from, to, sum);
        } else if (first == 1) {
          esc += SumWords<1>(lengths, ix, from, to, sum);
        } else {
          esc += SumWords<2>(lengths, ix, from, to, sum);
        }
        for (int w = first; w < 3; ++w) {
          for (int f = 0; f < 5; ++f) {
            bits[5 * w + f] += static_cast<int>((sum[w] >> (kBandFieldBits * f)) & kBandFieldMask);
          }
        }
      }
      for (int t = 0; t < 15; ++t) cum_[t][k + 1] = cum_[t][k] + bits[t];
      escCum_[k + 1] = escCum_[k] + esc;
    }
  }

  // Best table for bands [a, b), as BestTable would choose it.
  int Best(int a, int b, int* table) const {
    int m = 0;
    for (int k = a; k < b; ++k) m = std::max(m, max_[k]);
    return BestOf(a, b, m, table);
  }

  // The same for a caller that knows the largest value m of bands [a, b).
  int BestOf(int a, int b, int m, int* table) const {
    if (m == 0) {
      *table = 0;
      return 0;
    }
    static constexpr int kCandidates[16][3] = {
        {0, 0, 0}, {1, 0, 0}, {2, 3, 0}, {5, 6, 0}, {7, 8, 9}, {7, 8, 9},
        {10, 11, 12}, {10, 11, 12}, {13, 15, 0}, {13, 15, 0}, {13, 15, 0}, {13, 15, 0},
        {13, 15, 0}, {13, 15, 0}, {13, 15, 0}, {13, 15, 0}};
    int bestBits = INT_MAX;
    int best = 0;
    if (m < 16) {
      for (int c : kCandidates[m]) {
        if (c == 0) break;
        const int slot = Slot(c);
        const int bits = cum_[slot][b] - cum_[slot][a];
        if (bits < bestBits) {
          bestBits = bits;
          best = c;
        }
      }
      *table = best;
      return bestBits;
    }
    const int escapes = escCum_[b] - escCum_[a];
    const EscapeChoice& choice = Escapes();
    const int width = EscapeWidth(m);
    for (int f = 0; f < 2; ++f) {
      const int slot = 13 + f;
      const int bits = cum_[slot][b] - cum_[slot][a] + choice.linbits[width][f] * escapes;
      if (bits < bestBits) {
        bestBits = bits;
        best = choice.table[width][f];
      }
    }
    *table = best;
    return bestBits;
  }

  int BandMax(int k) const { return max_[k]; }

 private:
  static int Slot(int table) { return kSlot[table]; }
  int max_[22];
  int cum_[15][23];
  int escCum_[23];
};

constexpr bool SlotsMatchPlainTables() {
  for (int c = 0; c < 13; ++c) {
    if (BandTableBits::kSlot[BandTableBits::kPlain[c]] != c) return false;
  }
  return true;
}
static_assert(SlotsMatchPlainTables());

// Least bits of a pair (x, y), values clamped to 16 (16 standing for 16 and
// above), over every table that can code it or any pair above it in both
// coordinates. An escape costs at least its family's smallest linbits.
struct PairFloor {
  static constexpr int kSide = 17;
  int bits[kSide * kSide];
};

PairFloor BuildPairFloor() {
  PairFloor f{};
  constexpr int kSide = PairFloor::kSide;
  for (int x = 0; x < kSide; ++x) {
    for (int y = 0; y < kSide; ++y) {
      const int signs = (x != 0) + (y != 0);
      if (std::max(x, y) <= 1) {
        f.bits[x * kSide + y] = signs;
        continue;
      }
      int least = INT_MAX;
      for (int t = 1; t < 16; ++t) {
        const HuffmanTable& h = kHuffmanTables[t];
        if (h.lengths == nullptr || x >= h.dim || y >= h.dim) continue;
        least = std::min(least, static_cast<int>(h.lengths[x * h.dim + y]));
      }
      for (int family : {16, 24}) {
        const HuffmanTable& h = kHuffmanTables[family];
        const int cx = std::min(x, 15);
        const int cy = std::min(y, 15);
        least = std::min(least, h.lengths[cx * 16 + cy] + h.linbits * ((x >= 15) + (y >= 15)));
      }
      f.bits[x * kSide + y] = least + signs;
    }
  }
  for (int x = kSide - 1; x >= 0; --x) {
    for (int y = kSide - 1; y >= 0; --y) {
      int& v = f.bits[x * kSide + y];
      if (x + 1 < kSide) v = std::min(v, f.bits[(x + 1) * kSide + y]);
      if (y + 1 < kSide) v = std::min(v, f.bits[x * kSide + y + 1]);
    }
  }
  return f;
}

const PairFloor& PairFloors() {
  static const PairFloor floors = BuildPairFloor();
  return floors;
}

// region0_count / region1_count by the number of bands in big_values.
constexpr int kSplit[23][2] = {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 1}, {1, 1}, {1, 1},
                               {1, 2}, {2, 2}, {2, 3}, {2, 3}, {3, 4}, {3, 4}, {3, 4}, {4, 5},
                               {4, 5}, {4, 6}, {5, 6}, {5, 6}, {5, 7}, {6, 7}, {6, 7}};

}  // namespace

namespace {

// The big_values / count1 partition of ix: big_values ends at big, count1
// at end.
void Partition(const int* ix, const BandMaxima* bands, int* bigOut, int* endOut) {
  // Trailing zero pairs, then quadruples of values 0/1. With the bands'
  // maxima, the pairs and quadruples above the last band holding a value
  // (over 1) are passed over without a look.
  int zeroFrom = 576;
  int smallFrom = 576;
  if (bands != nullptr && bands->count > 0 && bands->edge[bands->count] == 576) {
    zeroFrom = 0;
    smallFrom = 0;
    for (int k = 0; k < bands->count; ++k) {
      if (bands->max[k] > 0) zeroFrom = bands->edge[k + 1];
      if (bands->max[k] > 1) smallFrom = bands->edge[k + 1];
    }
  }
  int end = 576 - 2 * ((576 - zeroFrom) / 2);
  while (end > 0 && ix[end - 1] == 0 && ix[end - 2] == 0) end -= 2;
  int big = end > smallFrom ? end - 4 * ((end - smallFrom) / 4) : end;
  while (big >= 4 && ix[big - 1] <= 1 && ix[big - 2] <= 1 && ix[big - 3] <= 1 &&
         ix[big - 4] <= 1) {
    big -= 4;
  }
  *bigOut = big;
  *endOut = end;
}


// Completes a started plan (bits so far) with the split that follows the
// number of bands covered (fixed regions for switched blocks). Once the bits
// exceed limit the count stops and returns what it has (more than limit);
// the plan is then incomplete.
int FinishFixedSplit(const int* ix, const RegionLayout& layout, int big, int bits, int limit,
                     HuffmanPlan* p, const BandMaxima* maxima = nullptr) {
  if (bits > limit) return bits;
  if (layout.switched) {
    p->region1Start = std::min(layout.fixedRegion1Start, big);
    p->region2Start = big;
    bits += BestTable(ix, 0, p->region1Start, &p->tableSelect[0], maxima);
    if (bits > limit) return bits;
    bits += BestTable(ix, p->region1Start, big, &p->tableSelect[1], maxima);
    p->tableSelect[2] = 0;
    return bits;
  }
  const short* edge = layout.longEdge;
  int bands = 0;
  while (bands < 22 && edge[bands] < big) ++bands;
  const int r0 = kSplit[bands][0];
  const int r1 = kSplit[bands][1];
  p->region0Count = r0;
  p->region1Count = r1;
  p->region1Start = std::min<int>(edge[r0 + 1], big);
  p->region2Start = std::min<int>(edge[std::min(r0 + r1 + 2, 22)], big);
  bits += BestTable(ix, 0, p->region1Start, &p->tableSelect[0], maxima);
  if (bits > limit) return bits;
  bits += BestTable(ix, p->region1Start, p->region2Start, &p->tableSelect[1], maxima);
  if (bits > limit) return bits;
  bits += BestTable(ix, p->region2Start, big, &p->tableSelect[2], maxima);
  return bits;
}

}  // namespace

// Starts a plan: the big_values / count1 partition into p and big; returns
// the count1 bits.
int HuffmanCoder::StartPlan(const int* ix, const BandMaxima* bands, HuffmanPlan* p,
                            int* big) const {
  int end;
  Partition(ix, bands, big, &end);
  p->count1End = end;
  p->bigValues = *big / 2;
  return Count1Bits(kernels_, ix, *big, end, &p->count1Table);
}

int HuffmanLowerBound(const int* ix, int n) {
  const int* f = PairFloors().bits;
  int bits = 0;
  for (int i = 0; i + 1 < n; i += 2) {
    bits += f[std::min(ix[i], 16) * PairFloor::kSide + std::min(ix[i + 1], 16)];
  }
  return bits;
}

int HuffmanCoder::Count(const int* ix, const RegionLayout& layout, int limit,
                        const BandMaxima* bands) const {
  HuffmanPlan p;
  int big;
  const int bits = StartPlan(ix, bands, &p, &big);
  return FinishFixedSplit(ix, layout, big, bits, limit, &p, bands);
}

int HuffmanCoder::Plan(const int* ix, const RegionLayout& layout, bool fullSearch,
                       HuffmanPlan* plan) const {
  HuffmanPlan p;
  int big;
  const int count1Bits = StartPlan(ix, nullptr, &p, &big);
  if (layout.switched || !fullSearch || big == 0) {
    p.bits = FinishFixedSplit(ix, layout, big, count1Bits, INT_MAX, &p);
    *plan = p;
    return p.bits;
  }
  const short* edge = layout.longEdge;
  // Every split: region0 ends at band r0 + 1, region1 at r0 + r1 + 2.
  const BandTableBits bandBits(ix, edge, big);
  int prefixBits[23];
  int prefixTable[23];
  for (int i = 1; i <= 16 && i <= 22; ++i) prefixBits[i] = bandBits.Best(0, i, &prefixTable[i]);
  int suffixBits[23];
  int suffixTable[23];
  for (int j = 2; j <= 22; ++j) suffixBits[j] = bandBits.Best(j, 22, &suffixTable[j]);
  int best = INT_MAX;
  for (int r0 = 0; r0 < 16; ++r0) {
    const int s1 = std::min<int>(edge[r0 + 1], big);
    if (r0 > 0 && edge[r0] >= big) break;
    int midMax = 0;  // largest value of region1, bands [r0 + 1, j)
    for (int r1 = 0; r1 < 8; ++r1) {
      const int j = r0 + r1 + 2;
      if (j > 22) break;
      const int s2 = std::min<int>(edge[j], big);
      if (r1 > 0 && edge[j - 1] >= big) break;
      midMax = std::max(midMax, bandBits.BandMax(j - 1));
      int t1;
      const int mid = bandBits.BestOf(r0 + 1, j, midMax, &t1);
      const int total = prefixBits[r0 + 1] + mid + suffixBits[j];
      if (total < best) {
        best = total;
        p.region0Count = r0;
        p.region1Count = r1;
        p.region1Start = s1;
        p.region2Start = s2;
        p.tableSelect[0] = prefixTable[r0 + 1];
        p.tableSelect[1] = t1;
        p.tableSelect[2] = suffixTable[j];
      }
    }
  }
  p.bits = count1Bits + best;
  *plan = p;
  return p.bits;
}

int HuffmanCoder::PlanCovering(const int* ix, const RegionLayout& layout,
                               HuffmanPlan* plan) const {
  HuffmanPlan p;
  p.bigValues = 288;
  p.count1End = 576;
  int last = 576;
  while (last > 0 && ix[last - 1] == 0) --last;
  int bits = 0;
  if (layout.switched) {
    p.region1Start = layout.fixedRegion1Start;
    p.region2Start = 576;
    bits += BestTable(ix, 0, p.region1Start, &p.tableSelect[0]);
    bits += BestTable(ix, p.region1Start, 576, &p.tableSelect[1]);
  } else {
    const short* edge = layout.longEdge;
    int j = 2;
    while (j < 22 && edge[j] < last) ++j;
    const int r0 = std::max(0, j - 2 - 7);
    p.region0Count = r0;
    p.region1Count = j - 2 - r0;
    p.region1Start = edge[r0 + 1];
    p.region2Start = edge[j];
    bits += BestTable(ix, 0, p.region1Start, &p.tableSelect[0]);
    bits += BestTable(ix, p.region1Start, p.region2Start, &p.tableSelect[1]);
    bits += BestTable(ix, p.region2Start, 576, &p.tableSelect[2]);
  }
  p.bits = bits;
  *plan = p;
  return bits;
}

namespace {

// Appends n (at most 64) bits of v, in pieces of at most 32.
inline void PutWide(uint64_t v, int n, GranuleBits* out) {
  if (n > 32) {
    out->Put(static_cast<uint32_t>(v >> 32), n - 32);
    out->Put(static_cast<uint32_t>(v), 32);
  } else {
    out->Put(static_cast<uint32_t>(v), n);
  }
}

}  // namespace

void HuffmanCoder::Write(const int* ix, const float* xr, const HuffmanPlan& plan,
                         GranuleBits* out) const {
  // Each pair's code, escape extensions and signs are gathered into one
  // word (at most 19 + 2 * (13 + 1) bits) and appended at once.
  const int big = plan.bigValues * 2;
  const int bounds[4] = {0, plan.region1Start, plan.region2Start, big};
  for (int r = 0; r < 3; ++r) {
    const int t = plan.tableSelect[r];
    if (t == 0) continue;
    const HuffmanTable& h = kHuffmanTables[t];
    const int lin = h.linbits;
    if (lin == 0) {
      // No escapes: a sign bit follows each nonzero value, appended
      // without a branch.
      for (int i = bounds[r]; i < bounds[r + 1]; i += 2) {
        const int x = ix[i];
        const int y = ix[i + 1];
        const int idx = x * h.dim + y;
        const uint32_t hasX = x != 0;
        const uint32_t hasY = y != 0;
        uint32_t v = h.codes[idx];
        v = (v << hasX) | (hasX & (xr[i] < 0));
        v = (v << hasY) | (hasY & (xr[i + 1] < 0));
        out->Put(v, h.lengths[idx] + static_cast<int>(hasX + hasY));
      }
      continue;
    }
    for (int i = bounds[r]; i < bounds[r + 1]; i += 2) {
      int x = ix[i];
      int y = ix[i + 1];
      int xl = 0;
      int yl = 0;
      if (lin > 0) {
        if (x >= 15) {
          xl = x - 15;
          x = 15;
        }
        if (y >= 15) {
          yl = y - 15;
          y = 15;
        }
      }
      const int idx = x * h.dim + y;
      uint64_t v = h.codes[idx];
      int n = h.lengths[idx];
      if (x != 0) {
        if (lin > 0 && x == 15) {
          v = (v << lin) | static_cast<uint32_t>(xl);
          n += lin;
        }
        v = (v << 1) | (xr[i] < 0 ? 1u : 0u);
        ++n;
      }
      if (y != 0) {
        if (lin > 0 && y == 15) {
          v = (v << lin) | static_cast<uint32_t>(yl);
          n += lin;
        }
        v = (v << 1) | (xr[i + 1] < 0 ? 1u : 0u);
        ++n;
      }
      PutWide(v, n, out);
    }
  }
  const HuffmanTable& c = kCount1Tables[plan.count1Table];
  for (int i = big; i < plan.count1End; i += 4) {
    const int idx = ix[i] * 8 + ix[i + 1] * 4 + ix[i + 2] * 2 + ix[i + 3];
    uint32_t v = c.codes[idx];
    int n = c.lengths[idx];
    for (int k = 0; k < 4; ++k) {
      if (ix[i + k] != 0) {
        v = (v << 1) | (xr[i + k] < 0 ? 1u : 0u);
        ++n;
      }
    }
    out->Put(v, n);
  }
}

}  // namespace mp3enc
