#include "mp3dec/wide_vectors.h"

namespace mp3dec {

bool WideVectorsAvailable() {
#if MP3DEC_WIDE_VECTORS
  // Also checks that the operating system saves the AVX registers.
  static const bool available = __builtin_cpu_supports("avx2") != 0;
  return available;
#else
  return false;
#endif
}

}  // namespace mp3dec
