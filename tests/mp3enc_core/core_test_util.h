// Helpers of the encoder-core tests: synthesised signals, driving a core
// granule by granule, parsing frame headers, and decoding with the
// reference decoders.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "mp3dec/mp3dec.h"
#include "mp3enc/core.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace coretest {

inline Mp3sEncSettings Settings(int rate, int channels, int bitRate, int vbrQuality = -1) {
  Mp3sEncSettings s{};
  s.sampleRate = rate;
  s.inputChannels = channels;
  s.encodedChannels = channels;
  s.bitRate = vbrQuality >= 0 ? 0 : bitRate;
  s.vbr = vbrQuality >= 0 ? 1 : 0;
  s.vbrQuality = vbrQuality >= 0 ? vbrQuality : 0;
  s.jointStereoForced = channels == 2 ? 1 : 0;
  s.paddingBehaviour = 1;
  s.reserved17 = 16;
  s.bandwidth = static_cast<float>(std::min(rate / 2, 16000));
  return s;
}

// Interleaved samples on the +-32768 scale.
struct Signal {
  int channels = 1;
  std::vector<float> samples;
  size_t Frames() const { return samples.size() / channels; }
};

// Encodes a signal, appending zero granules for the delay and draining.
// Returns false when the core refuses the settings or fails.
inline bool Encode(const Mp3sEncSettings& s, const Signal& sig, bool vector,
                   std::vector<uint8_t>* out) {
  auto core = mp3enc::CreateCore(s, vector);
  if (!core) return false;
  const int ch = s.inputChannels;
  const size_t frames = sig.Frames() + 1201 + 1152;
  std::vector<float> g(576 * ch);
  std::vector<uint8_t> buf(16384);
  for (size_t pos = 0; pos < frames; pos += 576) {
    for (int i = 0; i < 576 * ch; ++i) {
      const size_t idx = pos * ch + i;
      g[i] = idx < sig.samples.size() ? sig.samples[idx] : 0.0f;
    }
    size_t w = 0;
    if (core->EncodeGranule(g.data(), buf.data(), buf.size(), &w) == mp3enc::CoreAnswer::kFailed) {
      return false;
    }
    out->insert(out->end(), buf.begin(), buf.begin() + static_cast<long>(w));
  }
  for (int calls = 0; calls < 100; ++calls) {
    size_t w = 0;
    const auto a = core->EncodeGranule(nullptr, buf.data(), buf.size(), &w);
    out->insert(out->end(), buf.begin(), buf.begin() + static_cast<long>(w));
    if (a == mp3enc::CoreAnswer::kFinished) return true;
    if (a != mp3enc::CoreAnswer::kMore) return false;
  }
  return false;
}

struct Header {
  int version;      // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5 (the two ID bits)
  int protection;   // 1 = no CRC
  int bitRateIndex;
  int frequencyIndex;
  int padding;
  int mode;
  int modeExtension;
  int bytes;
};

// Frame headers walked from the first byte; false on a broken sync or size.
inline bool ParseFrames(const std::vector<uint8_t>& d, std::vector<Header>* frames) {
  static const int kRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000},
                                   {11025, 12000, 8000}};
  static const int kBr[2][15] = {
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
  size_t i = 0;
  while (i < d.size()) {
    if (i + 4 > d.size() || d[i] != 0xFF || (d[i + 1] & 0xE0) != 0xE0) return false;
    Header h;
    h.version = (d[i + 1] >> 3) & 3;
    if ((d[i + 1] & 0x06) != 0x02 || h.version == 1) return false;  // layer III, valid ID
    h.protection = d[i + 1] & 1;
    h.bitRateIndex = d[i + 2] >> 4;
    h.frequencyIndex = (d[i + 2] >> 2) & 3;
    h.padding = (d[i + 2] >> 1) & 1;
    h.mode = d[i + 3] >> 6;
    h.modeExtension = (d[i + 3] >> 4) & 3;
    if (h.bitRateIndex == 0 || h.bitRateIndex == 15 || h.frequencyIndex == 3) return false;
    const int table = h.version == 3 ? 0 : 1;
    const int rate = kRates[h.version == 3 ? 0 : h.version == 2 ? 1 : 2][h.frequencyIndex];
    const int spf = h.version == 3 ? 1152 : 576;
    h.bytes = spf / 8 * kBr[table][h.bitRateIndex] * 1000 / rate + h.padding;
    frames->push_back(h);
    i += static_cast<size_t>(h.bytes);
  }
  return i == d.size();
}

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& d) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(d.data()), static_cast<std::streamsize>(d.size()));
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

// Complaints of mpg123 -t and ffmpeg about a stream (empty when clean).
inline std::string DecoderComplaints(const std::string& mp3, const std::string& folder,
                                     bool crcCheck = false) {
  using kestrune::testing::RunProgram;
  std::string all;
  const auto m = RunProgram("/usr/bin/mpg123", {"-t", "-q", mp3}, folder);
  if (m.exitCode != 0) all += "mpg123 exit " + std::to_string(m.exitCode) + "\n";
  all += m.err;
  std::vector<std::string> args = {"-v", "error"};
  if (crcCheck) args.insert(args.end(), {"-err_detect", "crccheck"});
  args.insert(args.end(), {"-i", mp3, "-f", "null", "-"});
  const auto f = RunProgram("/usr/bin/ffmpeg", args, folder);
  if (f.exitCode != 0) all += "ffmpeg exit " + std::to_string(f.exitCode) + "\n";
  all += f.err;
  return all;
}

// Decodes with mpg123 to 16-bit samples (interleaved as in the stream).
inline std::vector<int16_t> DecodeMpg123(const std::string& mp3, const std::string& folder,
                                         std::string* err = nullptr) {
  using kestrune::testing::RunProgram;
  const std::string raw = mp3 + ".raw";
  const auto r = RunProgram("/usr/bin/mpg123", {"-q", "-O", raw, mp3}, folder);
  if (err != nullptr) *err = r.err;
  const auto bytes = ReadFile(raw);
  std::vector<int16_t> s(bytes.size() / 2);
  for (size_t i = 0; i < s.size(); ++i) {
    s[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return s;
}

// Decodes with ffmpeg to 16-bit samples.
inline std::vector<int16_t> DecodeFfmpeg(const std::string& mp3, const std::string& folder) {
  using kestrune::testing::RunProgram;
  const std::string raw = mp3 + ".ff.raw";
  RunProgram("/usr/bin/ffmpeg", {"-v", "error", "-y", "-i", mp3, "-f", "s16le", raw}, folder);
  const auto bytes = ReadFile(raw);
  std::vector<int16_t> s(bytes.size() / 2);
  for (size_t i = 0; i < s.size(); ++i) {
    s[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return s;
}

// Decodes with the project's own decoder; false when it does not get
// through the stream cleanly (a concealed frame or an error).
inline bool DecodeOwn(const std::vector<uint8_t>& stream, std::vector<int16_t>* pcm) {
  Mp3sDecHandle h = nullptr;
  if (Mp3sDecOpen(&h, 0) != 0) return false;
  const size_t first = std::min<size_t>(stream.size(), 8192);
  if (Mp3sDecInit(h, stream.data(), static_cast<uint32_t>(first),
                  static_cast<uint32_t>(stream.size()), 1, 1) != 0) {
    Mp3sDecClose(h);
    return false;
  }
  std::vector<float> out(kMp3sDecMaxOutputFloats);
  std::vector<uint8_t> ancillary(4096);
  const size_t chunkSize = 4096;
  size_t position = 0;
  size_t chunkLength = 0;
  size_t used = 0;
  bool clean = true;
  for (int guard = 0; !Mp3sDecIsFinished(h) && guard < 1000000; ++guard) {
    if (used == chunkLength) {
      chunkLength = std::min(chunkSize, stream.size() - position);
      position += chunkLength;
      used = 0;
      if (position == stream.size()) Mp3sDecSetEndOfInput(h);
    }
    uint32_t consumed = 0;
    uint32_t written = 0;
    uint32_t flags = 0;
    uint32_t ancillaryCount = static_cast<uint32_t>(ancillary.size());
    const uint8_t* chunk = stream.data() + position - chunkLength;
    const int r = Mp3sDecDecode(h, chunk + used, static_cast<uint32_t>(chunkLength - used),
                                &consumed, out.data(), static_cast<uint32_t>(out.size()), &written,
                                &flags, 0, 0, ancillary.data(), &ancillaryCount);
    used += consumed;
    if (r == kMp3sDecEndOfStream) continue;
    if (r != 0) {
      clean = false;
      if (r != kMp3sDecConcealedNoMainData && r != kMp3sDecConcealedSideInfo) break;
      continue;
    }
    for (uint32_t i = 0; i < written; ++i) {
      const float v = std::clamp(out[i] * 32768.0f, -32768.0f, 32767.0f);
      pcm->push_back(static_cast<int16_t>(std::lrint(v)));
    }
  }
  clean = clean && Mp3sDecIsFinished(h) != 0;
  Mp3sDecClose(h);
  return clean;
}

// Share of samples on which two decodings differ by more than 2 LSB (the
// decoders round differently), over their common length.
inline double DisagreeingShare(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
  const size_t n = std::min(a.size(), b.size());
  size_t off = 0;
  for (size_t i = 0; i < n; ++i) {
    if (std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i])) > 2) ++off;
  }
  return n > 0 ? static_cast<double>(off) / static_cast<double>(n) : 1.0;
}

// Signal-to-noise ratio (dB) of channel c of a decoding against the input,
// the decoding lagging by delay samples.
inline double Snr(const Signal& in, const std::vector<int16_t>& dec, int decChannels, int c,
                  size_t delay) {
  double se = 0.0;
  double ne = 0.0;
  const size_t n = in.Frames();
  for (size_t i = 0; i < n; ++i) {
    const size_t j = (i + delay) * decChannels + c;
    if (j >= dec.size()) return -100.0;
    const double x = in.samples[i * in.channels + c];
    const double e = x - dec[j];
    se += x * x;
    ne += e * e;
  }
  return 10.0 * std::log10(se / std::max(ne, 1e-9));
}

}  // namespace coretest
