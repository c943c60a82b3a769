// Constant tables of the decoder; each definition names its source.
#pragma once

#include <array>
#include <cstdint>

namespace mp3dec {

// [version][sampling-rate index], Hz.
extern const int kSampleRates[3][3];
// [0 MPEG-1, 1 MPEG-2/2.5][bit-rate index], kbit/s.
extern const int kLayer3BitRatesKbps[2][16];

// Scale-factor band boundaries of one sampling rate: 23 long-block
// boundaries (0..576) and 14 short-block boundaries (0..192).
struct BandTable {
  std::array<uint16_t, 23> longBounds;
  std::array<uint16_t, 14> shortBounds;
};
// [version][sampling-rate index].
extern const BandTable kBandTables[3][3];

// Pre-emphasis of the long bands (ISO/IEC 11172-3 Table B.6).
extern const uint8_t kPretab[22];

// slen1/slen2 of MPEG-1 scalefac_compress (ISO/IEC 11172-3 2.4.2.7).
extern const uint8_t kSlen[2][16];
// Scale factors per partition of MPEG-2 (ISO/IEC 13818-3 Table B.1):
// [table][block kind: long, short, mixed][partition].
extern const uint8_t kLsfPartitionBands[6][3][4];

// Huffman code trees walked two bits at a time. Each node has four 32-bit
// entries; an entry with a nonzero code length (bits 8-15) is a leaf whose
// low byte holds the values (x << 4 | y, or v w x y in bits 3..0 for the
// count1 tables), otherwise bits 16-31 hold the next node's index.
struct HuffmanTree {
  const uint32_t* nodes;  // nullptr: the table decodes to zeros
  int linbits;
  // The tree walked four steps ahead for every 8-bit prefix: a leaf entry
  // for codes of at most 8 bits, else the node reached after 8 bits.
  const uint32_t* firstByte;
};
// Big-value tables 0..31 and the count1 tables A (32) and B (33).
extern const HuffmanTree kHuffmanTrees[34];

// Alias-reduction butterflies (ISO/IEC 11172-3 Table B.9).
extern const float kAliasCs[8];
extern const float kAliasCa[8];

// The synthesis window D of ISO/IEC 11172-3 Table B.3, 512 taps.
extern const std::array<float, 512> kSynthesisWindow;

}  // namespace mp3dec
