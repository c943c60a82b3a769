// Forward MDCT of the hybrid filter bank (ISO/IEC 11172-3, C.1.5.3): the four
// block windows, frequency inversion of odd subbands, and the encoder-side
// alias-reduction butterflies for long blocks.
#pragma once

#include "mp3enc/kernels.h"

namespace mp3enc {

class Mdct {
 public:
  explicit Mdct(const Kernels& kernels);
  // prev and cur: the subband samples of the previous and current granule.
  // Long blocks give xr[18 sb + k]; short blocks give xr[192 w + 6 sb + k]
  // (window-major, reordered to scale-factor bands later).
  void Transform(const float prev[18][32], const float cur[18][32], int blockType,
                 float xr[576]) const;

 private:
  const Kernels& kernels_;
  float longWindow_[4][36];       // per block type (the short type's row unused)
  float dct4Matrix_[18 * 24];     // the 18-point DCT-IV with the 1/9, [n][k], k padded to 24
  float shortMatrix_[12 * 8];     // windowed cosines, [i][k], k padded to 8
  float cs_[8];
  float ca_[8];
};

}  // namespace mp3enc
