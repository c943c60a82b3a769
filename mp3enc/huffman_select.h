// Huffman coding of one granule's quantised values: the big_values and
// count1 partition, the best table per region, the region0/region1 split and
// the count1 table choice, the bit count, and writing the codes.
#pragma once

#include "mp3enc/bit_writer.h"
#include "mp3enc/kernels.h"

namespace mp3enc {

inline constexpr int kMaxQuantValue = 8206;  // 15 + 2^13 - 1

struct HuffmanPlan {
  int bigValues = 0;      // pairs
  int count1End = 0;      // first line after the count1 quadruples
  int tableSelect[3] = {0, 0, 0};
  int region0Count = 0;   // long blocks only
  int region1Count = 0;
  int region1Start = 0;   // lines
  int region2Start = 0;
  int count1Table = 0;
  int bits = 0;           // Huffman bits (without scale factors)
};

// Where the regions of a block lie.
struct RegionLayout {
  const short* longEdge;  // 23 scale-factor band edges
  bool switched;          // window_switching_flag
  int fixedRegion1Start;  // lines, for switched blocks
};

// Largest value of each band of a partition of the lines, so that counts
// need not scan for them: band k covers lines [edge[k], edge[k + 1]).
struct BandMaxima {
  int count = 0;
  const int* edge = nullptr;  // count + 1 entries
  const int* max = nullptr;
};

// A lower bound of the Huffman bits (codes and signs) of the pairs of
// ix[0..n), n even, that holds for every table and partition, and for any
// values at least as large: a pair with a value above 1 must be coded in
// big_values by some table; values of 0 and 1 may fall into count1 or the
// zero part and are counted by their signs only.
int HuffmanLowerBound(const int* ix, int n);

class HuffmanCoder {
 public:
  explicit HuffmanCoder(const Kernels& kernels) : kernels_(kernels) {}

  // Plans the coding of ix (absolute values, all <= kMaxQuantValue) and
  // returns the bits. fullSearch tries every region0/region1 split of long
  // blocks; otherwise the split follows the number of bands covered.
  int Plan(const int* ix, const RegionLayout& layout, bool fullSearch, HuffmanPlan* plan) const;
  // The bits of Plan without the full search when they are at most limit;
  // otherwise some count above limit (the counting stops early). bands, when
  // given, holds the largest value of each band of ix.
  int Count(const int* ix, const RegionLayout& layout, int limit,
            const BandMaxima* bands = nullptr) const;
  // Plans big_values over all 576 lines (no count1 part), so that bits
  // written after the Huffman data are never read as spectral values; a
  // zero tail of a long block costs nothing (table 0).
  int PlanCovering(const int* ix, const RegionLayout& layout, HuffmanPlan* plan) const;
  // Writes the codes; signs come from xr.
  void Write(const int* ix, const float* xr, const HuffmanPlan& plan, GranuleBits* out) const;

 private:
  int StartPlan(const int* ix, const BandMaxima* bands, HuffmanPlan* p, int* big) const;

  const Kernels& kernels_;
};

}  // namespace mp3enc
