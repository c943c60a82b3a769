// Test material for the Ogg Vorbis conversions: synthesised WAVE files of
// any width, channel count and container (RIFF or RF64), a reader for the
// samples of a WAVE file, and small helpers around files and signals.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

namespace kestrune::testing {

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline void PutLe(std::string* s, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s->push_back(static_cast<char>(v >> (8 * i)));
}

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
  std::string data;
  data.reserve(dataBytes);
  for (int64_t i = 0; i < w.frames; ++i) {
    for (int c = 0; c < w.channels; ++c) {
      const float x = TestSample(c, i, w.rate);
      if (w.isFloat) {
        uint32_t u;
        std::memcpy(&u, &x, 4);
        PutLe(&data, u, 4);
      } else if (w.bits == 8) {
        PutLe(&data, static_cast<uint8_t>(std::lround(x * 127.0) + 128), 1);
      } else {
        const double scale = std::ldexp(1.0, w.bits - 1) - 1.0;
        PutLe(&data, static_cast<uint64_t>(std::llround(x * scale)), bytesPerSample);
      }
    }
  }
  std::string fmt;
  PutLe(&fmt, w.isFloat ? 3 : 1, 2);
  PutLe(&fmt, static_cast<uint64_t>(w.channels), 2);
  PutLe(&fmt, static_cast<uint64_t>(w.rate), 4);
  PutLe(&fmt, static_cast<uint64_t>(w.rate) * w.channels * bytesPerSample, 4);
  PutLe(&fmt, static_cast<uint64_t>(w.channels * bytesPerSample), 2);
  PutLe(&fmt, static_cast<uint64_t>(w.bits), 2);

  std::string body = "WAVE";
  if (w.rf64) {
    body += "ds64";
    PutLe(&body, 28, 4);
    PutLe(&body, 4 + 36 + 8 + fmt.size() + 8 + dataBytes, 8);  // RIFF size
    PutLe(&body, dataBytes, 8);
    PutLe(&body, static_cast<uint64_t>(w.frames), 8);
    PutLe(&body, 0, 4);  // no table entries
  }
  body += "fmt ";
  PutLe(&body, fmt.size(), 4);
  body += fmt;
  if (w.withData) {
    body += "data";
    PutLe(&body, w.rf64 ? 0xFFFFFFFFu : dataBytes, 4);
    body += data;
    if (dataBytes % 2) body.push_back('\0');
  }
  std::string file = w.rf64 ? "RF64" : "RIFF";
  PutLe(&file, w.rf64 ? 0xFFFFFFFFu : body.size(), 4);
  return file + body;
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
