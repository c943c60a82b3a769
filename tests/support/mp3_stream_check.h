// Checks of an encoded Layer III stream: its frames walked header by header,
// and what mpg123 and ffmpeg say when they decode it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "mp3enc/frame_index.h"
#include "tests/support/files.h"

namespace kestrune::testing {

struct StreamFacts {
  bool valid = false;  // whole frames with valid headers, nothing left over
  int frames = 0;
  int version = -1;  // of the first frame, like the fields below
  int32_t sampleRate = 0;
  int channelMode = -1;
  int32_t lowestBitRate = 0;
  int32_t highestBitRate = 0;
  double averageBitRate = 0;
};

// A stream whose version, rate or mono/stereo changes is not valid.
inline StreamFacts ParseMp3Stream(const uint8_t* b, size_t size) {
  StreamFacts f;
  size_t pos = 0;
  double bits = 0, samples = 0;
  while (pos + 4 <= size) {
    mp3enc::ParsedHeader p;
    const uint32_t h = (uint32_t{b[pos]} << 24) | (uint32_t{b[pos + 1]} << 16) |
                       (uint32_t{b[pos + 2]} << 8) | b[pos + 3];
    if (!mp3enc::ParseLayer3Header(h, &p)) return f;
    if (f.frames == 0) {
      f.version = p.version;
      f.sampleRate = p.sampleRate;
      f.channelMode = p.channelMode;
      f.lowestBitRate = f.highestBitRate = p.bitRate;
    } else if (p.version != f.version || p.sampleRate != f.sampleRate ||
               (p.channelMode == 3) != (f.channelMode == 3)) {
      return f;
    }
    f.lowestBitRate = std::min(f.lowestBitRate, p.bitRate);
    f.highestBitRate = std::max(f.highestBitRate, p.bitRate);
    bits += 8.0 * p.length;
    samples += p.samples;
    pos += static_cast<size_t>(p.length);
    ++f.frames;
  }
  f.valid = pos == size && f.frames > 0;
  if (f.valid) f.averageBitRate = bits * f.sampleRate / samples;
  return f;
}

inline StreamFacts ParseMp3Stream(const std::vector<uint8_t>& b) {
  return ParseMp3Stream(b.data(), b.size());
}
inline StreamFacts ParseMp3Stream(const std::string& b) {
  return ParseMp3Stream(reinterpret_cast<const uint8_t*>(b.data()), b.size());
}

// What ffmpeg and mpg123 complain about while decoding the file; empty when
// both decode it cleanly. mpg123 catches what ffmpeg lets pass, e.g. a
// granule whose Huffman data runs past its part2_3_length.
inline std::string DecoderComplaints(const std::string& path) {
  int status = 0;
  std::string complaints;
  const std::string ff = Shell("ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1", &status);
  if (!ff.empty() || status != 0) complaints += "ffmpeg: " + ff + "\n";
  const std::string mpg = Shell("mpg123 -t '" + path + "' 2>&1", &status);
  if (status != 0) complaints += "mpg123 exit status " + std::to_string(status) + "\n";
  size_t start = 0;
  while (start < mpg.size()) {
    const size_t end = std::min(mpg.find('\n', start), mpg.size());
    const std::string line = mpg.substr(start, end - start);
    for (const char* word : {"Note", "arning", "rror", "llegal", "kipped"}) {
      if (line.find(word) != std::string::npos) {
        complaints += "mpg123: " + line + "\n";
        break;
      }
    }
    start = end + 1;
  }
  return complaints;
}

// The file decoded by ffmpeg to interleaved 16-bit samples.
inline std::vector<int16_t> DecodeWithFfmpeg(const std::string& path, int channels) {
  const std::string raw = Shell("ffmpeg -nostdin -v quiet -i '" + path + "' -f s16le -ac " +
                                std::to_string(channels) + " -");
  std::vector<int16_t> pcm(raw.size() / 2);
  if (!pcm.empty()) std::memcpy(pcm.data(), raw.data(), pcm.size() * 2);
  return pcm;
}

}  // namespace kestrune::testing
