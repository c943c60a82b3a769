// The Layer III core behind the encoder's outer interface: analysis filter
// bank, psychoacoustic model, quantisation, Huffman coding, rate control and
// frame formatting with the bit reservoir. The outer interface (staging,
// resampling, flushing) drives it one granule at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "mp3enc/settings.h"

namespace mp3enc {

// The version number the outer interface checks when it opens an encoder.
inline constexpr uint32_t kCoreVersion = 0x630011;

// What the core tells the outer interface after creation.
struct CoreInfo {
  float bandwidth = 0;           // Hz: passband edge (a tenth above it is coded too)
  int32_t delay = 0;             // samples per channel: 144 + 1057 = 1201
  int32_t outputBufferNeed = 0;  // most bytes one EncodeGranule call can write
  int32_t headerValue1 = 0;      // first 32 bits of the frame header (padding 0)
  int32_t headerValue2 = 0;      // bit rate of the first frame, bits/s (0 in VBR)
  int32_t granulesPerFrame = 0;  // 2 for MPEG-1 rates, 1 otherwise
  int32_t ancillaryBits = 0;     // ancillary room per frame, bits
};

enum class CoreAnswer : int32_t {
  kMore = 0,      // call again (with the next granule, or to drain further)
  kFinished = 1,  // drain complete: every frame has been released
  kFailed = -1,   // e.g. no bit-rate index fits a VBR frame
};

class Core {
 public:
  virtual ~Core() = default;
  virtual CoreInfo Info() const = 0;
  // One granule: 576 samples per input channel, interleaved, on the scale
  // full scale = +-32768. samples == nullptr drains: the core flushes its
  // look-ahead and releases queued frames, answering kFinished when done.
  // Whole frames only are written to out (capacity bytes); *written gets the
  // count.
  virtual CoreAnswer EncodeGranule(const float* samples, uint8_t* out,
                                   size_t capacity, size_t* written) = 0;
  // Nothing above hz belongs to the signal (an upsampled input holds only
  // the converter's images there): the core codes nothing above it, even
  // where it would code past the bandwidth. Called before the first granule.
  virtual void LimitCodedBand(float hz) { (void)hz; }
};

// Creates a core for the settings, or nullptr when they are refused (a rate
// outside the nine MPEG rates, a mode or bit rate that cannot be framed...).
// useVectorPath selects the vector implementation of the inner loops; both
// implementations give the identical stream.
std::unique_ptr<Core> CreateCore(const Mp3sEncSettings& settings,
                                 bool useVectorPath);

// Processor-feature test behind the choice of implementation.
bool CpuHasVectorPath();

}  // namespace mp3enc
