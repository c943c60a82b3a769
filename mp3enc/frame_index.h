// Index of the frames an encoder has produced: each frame header is parsed
// (ISO/IEC 11172-3 2.4.1.3, ISO/IEC 13818-3 and its 8/11.025/12 kHz
// extension) and counted, giving frame count, byte count, duration and the
// range of bit rates of a variable-bit-rate stream.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mp3enc {

struct ParsedHeader {
  int32_t version = 0;        // 0: MPEG-1, 1: MPEG-2, 2: the 2.5 extension
  int32_t bitRate = 0;        // bits/s
  int32_t sampleRate = 0;     // Hz
  int32_t samples = 0;        // per channel: 1152 or 576
  int32_t length = 0;         // bytes, padding included
  int32_t channelMode = 0;    // 0 stereo, 1 joint, 2 dual, 3 mono
};

// Parses a Layer III frame header (the first four bytes, big-endian).
// Returns false for anything that is not a valid Layer III header: bad
// sync, reserved version or layer, free format, bit-rate index 15,
// sampling-frequency index 3, reserved emphasis.
bool ParseLayer3Header(uint32_t header, ParsedHeader* out);

class FrameIndex {
 public:
  void Reset();
  // Counts one frame; returns its length in bytes, or 0 when the header
  // does not parse.
  int32_t Add(uint32_t header);

  uint32_t Frames() const { return frames_; }
  uint64_t Bytes() const { return bytes_; }
  uint64_t SamplesPerChannel() const { return samples_; }
  int32_t LowestBitRate() const { return lowestBitRate_; }
  int32_t HighestBitRate() const { return highestBitRate_; }
  int32_t LastLength() const { return lastLength_; }
  uint32_t Failures() const { return failures_; }

 private:
  uint32_t frames_ = 0;
  uint32_t failures_ = 0;
  uint64_t bytes_ = 0;
  uint64_t samples_ = 0;
  int32_t lowestBitRate_ = 0;
  int32_t highestBitRate_ = 0;
  int32_t lastLength_ = 0;
};

// Walks out[0 .. size) frame by frame, handing each header to the index.
// A header that does not parse prints "Processing Header failed!\n" on
// standard output, and the walk steps by the previous frame's length; it
// stops where it cannot advance.
void IndexFrames(FrameIndex* index, const uint8_t* out, size_t size);

}  // namespace mp3enc
