// Sample containers shared by the wave container and the conversions: raw
// interleaved PCM frames, float channel arrays (full scale +-1.0), the
// producer interface of generated data, and the conversions between them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrune {

// Raw interleaved frames as they stand in a data chunk.
class PcmBlock {
 public:
  static constexpr int kMaxChannels = 8;
  static constexpr int kMaxBlockAlign = 24;
  static constexpr int64_t kMaxFrames = 0x100000;

  // Makes room for frames x blockAlign bytes, new bytes zeroed. Fails (and
  // changes nothing) beyond 8 channels, 24 bytes per frame or 1 048 576
  // frames, for channels above blockAlign and for values below 1.
  bool Prepare(int64_t frames, int channels, int blockAlign);

  size_t Capacity() const { return bytes_.size(); }
  size_t Size() const { return size_; }
  void SetSize(size_t size) { size_ = size <= bytes_.size() ? size : bytes_.size(); }
  uint8_t* Data() { return bytes_.data(); }
  const uint8_t* Data() const { return bytes_.data(); }
  int BlockAlign() const { return blockAlign_; }
  int Channels() const { return channels_; }
  // Whole frames held.
  int64_t Frames() const { return blockAlign_ > 0 ? static_cast<int64_t>(size_ / blockAlign_) : 0; }

 private:
  std::vector<uint8_t> bytes_;
  size_t size_ = 0;
  int blockAlign_ = 0;
  int channels_ = 0;
};

// One float array per channel, all of the same length.
struct FloatFrames {
  std::vector<std::vector<float>> channels;
  bool silence = false;

  // channels arrays of frames samples each; contents are kept where they fit.
  void Resize(size_t channelCount, size_t frames);
  size_t ChannelCount() const { return channels.size(); }
  size_t Frames() const { return channels.empty() ? 0 : channels[0].size(); }
};

// A producer of samples for a generated data chunk.
class SampleSource {
 public:
  virtual ~SampleSource() = default;
  // Fills up to the current length of the given arrays, cuts them to the
  // frames produced; false when nothing more comes.
  virtual bool Fill(FloatFrames& frames) = 0;
};

// Integer PCM to float: unsigned 8-bit (v - 128) / 128, signed 16-bit
// v / 32768, signed 24-bit v / 2^23, 32-bit float as it is. bytesPerSample
// selects the conversion; isIntegerPcm only matters for 4-byte samples
// (32-bit integer PCM, v / 2^31). Returns false for other widths.
// frameStride is the distance between frames in bytes (blockAlign).
bool DeinterleaveToFloat(const uint8_t* src, size_t frames, int channels,
                         int bytesPerSample, size_t frameStride,
                         bool isIntegerPcm, FloatFrames& out);

// Float to PCM of the given width, interleaving channels (1: x*128 rounded to
// nearest and saturated, plus 128; 2: x*32768 rounded and saturated; 3:
// x*2^23 truncated toward zero and clamped; 4: the float itself).
bool InterleaveFromFloat(const FloatFrames& in, size_t frames,
                         int bytesPerSample, uint8_t* dst);

uint8_t FloatToPcm8(float x);
int16_t FloatToPcm16(float x);
int32_t FloatToPcm24(float x);

}  // namespace kestrune
