#include "wave/samples.h"

#include <cmath>
#include <cstring>

namespace kestrune {

bool PcmBlock::Prepare(int64_t frames, int channels, int blockAlign) {
  if (frames < 1 || channels < 1 || blockAlign < 1) return false;
  if (blockAlign > kMaxBlockAlign || channels > kMaxChannels ||
      frames > kMaxFrames || channels > blockAlign) {
    return false;
  }
  const size_t bytes = static_cast<size_t>(frames) * static_cast<size_t>(blockAlign);
  if (bytes > bytes_.size()) bytes_.resize(bytes, 0);
  size_ = bytes;
  blockAlign_ = blockAlign;
  channels_ = channels;
  return true;
}

void FloatFrames::Resize(size_t channelCount, size_t frames) {
  channels.resize(channelCount);
  for (auto& c : channels) c.resize(frames, 0.0f);
}

namespace {

// Rounds to nearest (IEEE default: exact halves to even), then saturates.
template <typename T>
T RoundSaturate(double v, double lo, double hi) {
  if (!(v > lo)) return static_cast<T>(lo);  // also NaN
  if (v >= hi) return static_cast<T>(hi);
  return static_cast<T>(std::lrint(v));
}

}  // namespace

uint8_t FloatToPcm8(float x) {
  return static_cast<uint8_t>(
      RoundSaturate<int>(static_cast<double>(x) * 128.0, -128.0, 127.0) + 128);
}

int16_t FloatToPcm16(float x) {
  return RoundSaturate<int16_t>(static_cast<double>(x) * 32768.0, -32768.0, 32767.0);
}

int32_t FloatToPcm24(float x) {
  const double v = static_cast<double>(x) * 8388608.0;
  if (!(v > -8388608.0)) return -8388608;  // also NaN
  if (v >= 8388607.0) return 8388607;
  return static_cast<int32_t>(v);  // truncation toward zero
}

bool DeinterleaveToFloat(const uint8_t* src, size_t frames, int channels,
                         int bytesPerSample, size_t frameStride,
                         bool isIntegerPcm, FloatFrames& out) {
  if (channels < 1 || bytesPerSample < 1 || bytesPerSample > 4 ||
      frameStride < static_cast<size_t>(channels) * bytesPerSample) {
    return false;
  }
  out.Resize(static_cast<size_t>(channels), frames);
  const size_t stride = frameStride;
  for (int c = 0; c < channels; ++c) {
    float* dst = out.channels[c].data();
    const uint8_t* p = src + static_cast<size_t>(c) * bytesPerSample;
    switch (bytesPerSample) {
      case 1:
        for (size_t i = 0; i < frames; ++i, p += stride)
          dst[i] = static_cast<float>(static_cast<int>(p[0]) - 128) / 128.0f;
        break;
      case 2:
        for (size_t i = 0; i < frames; ++i, p += stride)
          dst[i] = static_cast<float>(static_cast<int16_t>(p[0] | p[1] << 8)) / 32768.0f;
        break;
      case 3:
        for (size_t i = 0; i < frames; ++i, p += stride) {
          const int32_t v = static_cast<int32_t>(
              static_cast<uint32_t>(p[0]) << 8 | static_cast<uint32_t>(p[1]) << 16 |
              static_cast<uint32_t>(p[2]) << 24) >> 8;
          dst[i] = static_cast<float>(v) / 8388608.0f;
        }
        break;
      case 4:
        for (size_t i = 0; i < frames; ++i, p += stride) {
          if (isIntegerPcm) {
            int32_t v;
            std::memcpy(&v, p, 4);
            dst[i] = static_cast<float>(static_cast<double>(v) / 2147483648.0);
          } else {
            std::memcpy(&dst[i], p, 4);
          }
        }
        break;
    }
  }
  return true;
}

bool InterleaveFromFloat(const FloatFrames& in, size_t frames,
                         int bytesPerSample, uint8_t* dst) {
  const size_t channels = in.ChannelCount();
  if (channels < 1 || bytesPerSample < 1 || bytesPerSample > 4) return false;
  const size_t stride = channels * bytesPerSample;
  for (size_t c = 0; c < channels; ++c) {
    if (in.channels[c].size() < frames) return false;
    const float* src = in.channels[c].data();
    uint8_t* p = dst + c * bytesPerSample;
    switch (bytesPerSample) {
      case 1:
        for (size_t i = 0; i < frames; ++i, p += stride) p[0] = FloatToPcm8(src[i]);
        break;
      case 2:
        for (size_t i = 0; i < frames; ++i, p += stride) {
          const uint16_t v = static_cast<uint16_t>(FloatToPcm16(src[i]));
          p[0] = static_cast<uint8_t>(v);
          p[1] = static_cast<uint8_t>(v >> 8);
        }
        break;
      case 3:
        for (size_t i = 0; i < frames; ++i, p += stride) {
          const uint32_t v = static_cast<uint32_t>(FloatToPcm24(src[i]));
          p[0] = static_cast<uint8_t>(v);
          p[1] = static_cast<uint8_t>(v >> 8);
          p[2] = static_cast<uint8_t>(v >> 16);
        }
        break;
      case 4:
        for (size_t i = 0; i < frames; ++i, p += stride) std::memcpy(p, &src[i], 4);
        break;
    }
  }
  return true;
}

}  // namespace kestrune
