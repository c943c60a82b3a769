// The frame decoder: the input ring, the sync state machine and the Layer III
// decoder, stepped once per decode call, with the information record of the
// last step.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mp3dec/bitstream.h"
#include "mp3dec/layer3.h"
#include "mp3dec/status.h"
#include "mp3dec/sync.h"

namespace mp3dec {

// Refreshed after every step.
struct FrameInfoRecord {
  int layer = 0;
  int version = 0;
  int bitRate = 0;  // current frame, bits/s
  int bitRateIndex = 0;
  int channels = 0;
  int sampleRate = 0;
  int channelsOut = 0;
  int sampleRateOut = 0;
  int bitsPerSampleOut = 0;
  int frameBits = 0;
  float frameDurationMs = 0;
  bool crcError = false;
  bool concealed = false;
};

struct StepResult {
  DecoderStatus status = kStatusOk;
  size_t floats = 0;     // written to the output
  size_t ancillary = 0;  // bytes written to the ancillary buffer
};

class FrameDecoder {
 public:
  static constexpr size_t kRingBytes = 8192;
  static constexpr size_t kOutputFloats = 2304;

  FrameDecoder() : input_(kRingBytes) {}

  size_t Feed(const uint8_t* bytes, size_t count) { return input_.Feed(bytes, count); }
  void SetEndOfInput() { input_.endOfInput = true; }
  bool EndOfStream() const { return endOfStream_; }
  const FrameInfoRecord& Info() const { return info_; }

  // One sync step and, when a complete frame is in sync, its decoding into
  // pcm (room for kOutputFloats).
  StepResult Step(float* pcm, uint8_t* ancillary, size_t ancillaryCapacity);

  // Empties the ring, clears the end flags, restarts the search and fully
  // resets the Layer III state.
  void Reset();

 private:
  // Peeks at the next frame's header and main-data pointer; false when they
  // are not in the buffer yet.
  bool NextMainDataBegin(uint32_t& mainDataBegin) const;
  void RefreshInfo(DecoderStatus status);

  InputBitstream input_;
  FrameSync sync_;
  Layer3Decoder layer3_;
  FrameInfoRecord info_;
  bool endOfStream_ = false;
  bool firstFrameAfterReset_ = true;
  uint8_t frame_[2048] = {};
};

}  // namespace mp3dec
