// Mp3sEncPrepare binds the outer interface to the real core, choosing the
// vector or the plain implementation by the processor's features. Kept apart
// so that the rest of the interface links without the core.
#include "mp3enc/core.h"
#include "mp3enc/encoder.h"
#include "mp3enc/mp3s_enc.h"

int32_t Mp3sEncPrepare(Mp3sEncHandle handle, int32_t* blockSize) {
  const bool vector = mp3enc::CpuHasVectorPath();
  return Mp3sEncPrepareWithCore(handle, blockSize, [vector](const Mp3sEncSettings& s) {
    return mp3enc::CreateCore(s, vector);
  });
}
