// MPEG audio streams seen from outside: frames walked header by header with
// a parser of the test's own, what mpg123 and ffmpeg say when they decode a
// file and the samples they give, and lame runs.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/run_program.h"

namespace kestrune::testing {

struct StreamFacts {
  bool valid = false;  // whole Layer III frames with valid headers, nothing left over
  int frames = 0;
  int version = -1;  // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5; of the first frame, like the fields below
  int32_t sampleRate = 0;
  int channelMode = -1;
  int32_t lowestBitRate = 0;
  int32_t highestBitRate = 0;
  double averageBitRate = 0;
  std::vector<size_t> starts;       // of every frame
  std::vector<int32_t> bitRates;    // of every frame
};

// A stream whose version, rate or mono/stereo changes is not valid.
inline StreamFacts ParseMp3Stream(const uint8_t* b, size_t size) {
  static const int32_t kRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
  static const int32_t kKbps[2][15] = {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
                                       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
  StreamFacts f;
  size_t pos = 0;
  double bits = 0, samples = 0;
  while (pos + 4 <= size) {
    const uint8_t* h = b + pos;
    const int id = (h[1] >> 3) & 3, rateIndex = (h[2] >> 2) & 3, brIndex = h[2] >> 4;
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || (h[1] & 6) != 2 || id == 1 || rateIndex == 3 ||
        brIndex == 0 || brIndex == 15 || (h[3] & 3) == 2) {
      break;
    }
    const int version = id == 3 ? 0 : id == 2 ? 1 : 2, mode = h[3] >> 6;
    const int32_t rate = kRates[version][rateIndex], bitRate = kKbps[version != 0][brIndex] * 1000;
    const int frameSamples = version == 0 ? 1152 : 576;
    const size_t length = static_cast<size_t>(frameSamples / 8 * bitRate / rate + ((h[2] >> 1) & 1));
    if (f.frames == 0) {
      f.version = version;
      f.sampleRate = rate;
      f.channelMode = mode;
      f.lowestBitRate = f.highestBitRate = bitRate;
    } else if (version != f.version || rate != f.sampleRate || (mode == 3) != (f.channelMode == 3)) {
      break;
    }
    f.lowestBitRate = std::min(f.lowestBitRate, bitRate);
    f.highestBitRate = std::max(f.highestBitRate, bitRate);
    f.starts.push_back(pos);
    f.bitRates.push_back(bitRate);
    bits += 8.0 * static_cast<double>(length);
    samples += frameSamples;
    pos += length;
    ++f.frames;
  }
  f.valid = pos == size && f.frames > 0;
  if (f.valid) f.averageBitRate = bits * f.sampleRate / samples;
  return f;
}

template <typename Bytes>
StreamFacts ParseMp3Stream(const Bytes& b) {
  return ParseMp3Stream(reinterpret_cast<const uint8_t*>(b.data()), b.size());
}

inline std::vector<int16_t> Pcm16(const std::string& bytes) {
  std::vector<int16_t> pcm(bytes.size() / 2);
  if (!pcm.empty()) std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);  // little-endian hosts
  return pcm;
}

struct ReferenceDecodings {
  std::string complaints;       // empty when both decode the file cleanly
  std::vector<int16_t> ffmpeg;  // interleaved 16-bit samples
  std::vector<int16_t> mpg123;  // every frame's samples (no gapless trimming); empty when it failed
};

// The file decoded by ffmpeg and mpg123, and what they complain about.
// mpg123 catches what ffmpeg lets pass, e.g. a granule whose Huffman data
// runs past its part2_3_length; with crcCheck ffmpeg also verifies every
// frame's CRC.
inline ReferenceDecodings DecodeWithReferences(const std::string& path, bool crcCheck = false) {
  ReferenceDecodings d;
  std::vector<std::string> args = {"-nostdin", "-v", "error"};
  if (crcCheck) args.insert(args.end(), {"-err_detect", "crccheck"});
  args.insert(args.end(), {"-i", path, "-f", "s16le", "-"});
  const auto ff = RunProgram("/usr/bin/ffmpeg", args, ".");
  if (ff.exitCode != 0 || !ff.err.empty()) d.complaints += "ffmpeg: " + ff.err + "\n";
  d.ffmpeg = Pcm16(ff.out);
  const auto mpg = RunProgram("/usr/bin/mpg123", {"-s", "--no-gapless", path}, ".");
  if (mpg.exitCode != 0) d.complaints += "mpg123 exit status " + std::to_string(mpg.exitCode) + "\n";
  if (mpg.exitCode == 0) d.mpg123 = Pcm16(mpg.out);
  for (size_t start = 0; start < mpg.err.size();) {
    const size_t end = std::min(mpg.err.find('\n', start), mpg.err.size());
    const std::string line = mpg.err.substr(start, end - start);
    for (const char* word : {"Note", "arning", "rror", "llegal", "kipped"}) {
      if (line.find(word) != std::string::npos) {
        d.complaints += "mpg123: " + line + "\n";
        break;
      }
    }
    start = end + 1;
  }
  return d;
}

inline std::string DecoderComplaints(const std::string& path, bool crcCheck = false) {
  return DecodeWithReferences(path, crcCheck).complaints;
}

// Runs lame with the arguments on the input; returns its exit status.
inline int RunLame(const std::string& arguments, const std::string& input, const std::string& output) {
  int status = -1;
  Shell("lame --quiet " + arguments + " '" + input + "' '" + output + "'", &status);
  return status;
}

}  // namespace kestrune::testing
