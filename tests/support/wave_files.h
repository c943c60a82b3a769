// Synthesised WAVE files of any width, channel count and container (RIFF or
// RF64), a reader for the fields and samples of a 16-bit PCM WAVE file, and
// the correlation of a decoding with the test signal.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/riff_bytes.h"

namespace kestrune::testing {

inline uint64_t GetLe(const std::string& s, size_t at, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= uint64_t{static_cast<uint8_t>(s[at + i])} << (8 * i);
  return v;
}

// Channel c of the test signal: a tone of its own frequency plus a little
// of a second one, peak 0.6.
inline float TestSample(int channel, int64_t frame, int rate) {
  const double t = static_cast<double>(frame) / rate;
  const double f = 220.0 * (channel + 1) + 30.0;
  return static_cast<float>(0.45 * std::sin(2 * std::numbers::pi * f * t) +
                            0.15 * std::sin(2 * std::numbers::pi * 3.1 * f * t));
}

struct WaveSpec {
  int channels = 2;
  int rate = 44100;
  int bits = 16;         // 8, 16, 24, 32
  bool isFloat = false;  // 32-bit float samples (format tag 3)
  bool rf64 = false;     // RF64 with a ds64 chunk
  bool withData = true;  // false: no data chunk at all
  int64_t frames = 44100;
};

// A WAVE file of the test signal.
inline std::string MakeWave(const WaveSpec& w) {
  const int bytesPerSample = w.bits / 8;
  const uint64_t dataBytes = static_cast<uint64_t>(w.frames) * w.channels * bytesPerSample;
  Bytes data;
  for (int64_t i = 0; i < w.frames; ++i) {
    for (int c = 0; c < w.channels; ++c) {
      const float x = TestSample(c, i, w.rate);
      if (w.isFloat) {
        data.F32(x);
      } else if (w.bits == 8) {
        data.U8(static_cast<uint8_t>(std::lround(x * 127.0) + 128));
      } else {
        const int64_t v = std::llround(x * (std::ldexp(1.0, w.bits - 1) - 1.0));
        for (int b = 0; b < bytesPerSample; ++b) data.U8(static_cast<uint8_t>(v >> (8 * b)));
      }
    }
  }
  const Bytes fmt = FmtBody(w.isFloat ? 3 : 1, static_cast<uint16_t>(w.channels),
                            static_cast<uint32_t>(w.rate), static_cast<uint16_t>(w.bits));
  Bytes chunks;
  if (w.rf64) {  // no table entries
    chunks.Chunk("ds64", Bytes().U64(4 + 36 + 8 + fmt.size() + 8 + dataBytes).U64(dataBytes)
                             .U64(static_cast<uint64_t>(w.frames)).U32(0));
  }
  chunks.Chunk("fmt ", fmt);
  if (w.withData && w.rf64) {
    chunks.Text("data").U32(0xFFFFFFFFu).Append(data);
    if (dataBytes % 2) chunks.U8(0);
  } else if (w.withData) {
    chunks.Chunk("data", data);
  }
  if (!w.rf64) return RiffWave(chunks).data;
  return Bytes().Text("RF64").U32(0xFFFFFFFFu).Text("WAVE").Append(chunks).data;
}

// The fields of a 16-bit PCM WAVE file and its interleaved samples.
struct PcmWave {
  bool ok = false;
  int formatTag = 0, channels = 0, bits = 0;
  uint32_t rate = 0, riffSize = 0, dataSize = 0;
  std::string data;  // the data chunk's bytes
  size_t Frames() const { return channels ? data.size() / (2u * channels) : 0; }
  int16_t Sample(size_t frame, int channel) const {
    return static_cast<int16_t>(GetLe(data, 2 * (frame * channels + channel), 2));
  }
  std::vector<int16_t> Samples() const {
    std::vector<int16_t> s(data.size() / 2);
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>(GetLe(data, 2 * i, 2));
    return s;
  }
};

inline PcmWave ReadPcmWave(const std::string& bytes) {
  PcmWave w;
  if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0)
    return w;
  w.riffSize = static_cast<uint32_t>(GetLe(bytes, 4, 4));
  size_t at = 12;
  while (at + 8 <= bytes.size()) {
    const std::string id = bytes.substr(at, 4);
    const uint64_t size = GetLe(bytes, at + 4, 4);
    if (id == "fmt " && at + 24 <= bytes.size()) {
      w.formatTag = static_cast<int>(GetLe(bytes, at + 8, 2));
      w.channels = static_cast<int>(GetLe(bytes, at + 10, 2));
      w.rate = static_cast<uint32_t>(GetLe(bytes, at + 12, 4));
      w.bits = static_cast<int>(GetLe(bytes, at + 22, 2));
    } else if (id == "data") {
      w.dataSize = static_cast<uint32_t>(size);
      w.data = bytes.substr(at + 8, size);
      w.ok = w.channels > 0;
      return w;
    }
    at += 8 + size + (size & 1);
  }
  return w;
}

// Normalised correlation of a decoded channel with the test signal.
inline double CorrelationWithTestSignal(const PcmWave& w, int channel, int sourceChannel) {
  double xy = 0, xx = 0, yy = 0;
  for (size_t i = 0; i < w.Frames(); ++i) {
    const double x = w.Sample(i, channel) / 32768.0;
    const double y = TestSample(sourceChannel, static_cast<int64_t>(i), static_cast<int>(w.rate));
    xy += x * y;
    xx += x * x;
    yy += y * y;
  }
  return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0.0;
}

}  // namespace kestrune::testing
