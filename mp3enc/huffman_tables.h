// Huffman code tables of Layer III (ISO/IEC 11172-3, Table B.7).
#pragma once

#include <cstdint>

namespace mp3enc {

struct HuffmanTable {
  const uint16_t* codes;   // codeword of entry x * dim + y
  const uint8_t* lengths;  // its length in bits
  int dim;                 // values per coordinate (16 for escape tables)
  int linbits;             // bits of the escape extension
};

// Big-value tables 0..31 (0, 4 and 14 carry no codes).
extern const HuffmanTable kHuffmanTables[32];
// Count1 tables A (0) and B (1).
extern const HuffmanTable kCount1Tables[2];

}  // namespace mp3enc
