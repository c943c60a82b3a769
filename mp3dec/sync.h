// Frame headers (ISO/IEC 11172-3 2.4.1.3, ISO/IEC 13818-3 2.4.1.3 plus the
// MPEG-2.5 rates) and the bit-granular frame synchronisation over an
// InputBitstream.
#pragma once

#include <cstdint>

#include "mp3dec/bitstream.h"
#include "mp3dec/status.h"

namespace mp3dec {

// Bits that must stay equal from frame to frame: sync, version, layer and
// sampling-rate index.
inline constexpr uint32_t kSyncMask = 0xFFFE0C00;

struct FrameHeader {
  uint32_t word = 0;
  int version = 0;  // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
  int layer = 0;
  bool crcPresent = false;
  int bitRateIndex = 0;
  int sampleRateIndex = 0;
  bool padding = false;
  int mode = 0;  // 3 = single channel
  int modeExtension = 0;
  int channels = 0;
  int sampleRate = 0;
  int bitRate = 0;         // bits/s
  int samplesPerFrame = 0;
  int frameBits = 0;
  float frameDurationMs = 0;

  int FrameBytes() const { return frameBits / 8; }
  int HeaderBytes() const { return crcPresent ? 6 : 4; }
  int SideInfoBytes() const;
  int Granules() const { return version == 0 ? 2 : 1; }
};

// Layer III headers only: sync, layer, bit-rate index (no free format),
// sampling-rate index and version bits are checked.
bool IsValidHeader(uint32_t word);
// Fills every field of a header that IsValidHeader accepted.
FrameHeader ParseHeader(uint32_t word);

// The sync state machine: one Step per decode call.
class FrameSync {
 public:
  DecoderStatus State() const { return state_; }
  const FrameHeader& Header() const { return header_; }
  uint32_t SkippedBits() const { return skippedBits_; }
  void Reset() {
    state_ = kSyncSearched;
    reference_ = 0;
    lookAhead_ = 0;
    skippedBits_ = 0;
    header_ = FrameHeader{};
  }
  // Leaves the read position at the start of the current frame when the
  // state becomes 0 (in sync, frame complete in the buffer).
  DecoderStatus Step(InputBitstream& in);

 private:
  void Search(InputBitstream& in);
  void CheckInSync(InputBitstream& in);

  DecoderStatus state_ = kSyncSearched;
  uint32_t reference_ = 0;
  int lookAhead_ = 0;
  uint32_t skippedBits_ = 0;
  FrameHeader header_;
};

}  // namespace mp3dec
