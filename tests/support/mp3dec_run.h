// A whole MPEG audio byte stream decoded through the decoder library the way
// the decode pipeline drives it, and two decodings compared.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "mp3dec/mp3dec.h"

namespace kestrune::testing {

struct DecodeRun {
  int initResult = -1;
  std::vector<int16_t> pcm;    // interleaved, as the pipeline writes it
  int frames = 0;              // result 0 with samples
  int concealedNoMainData = 0; // result 12
  int concealedSideInfo = 0;   // result 17
  bool finished = false;
  // Through to the end without a concealed frame.
  bool Clean() const { return initResult == 0 && finished && concealedNoMainData + concealedSideInfo == 0; }
};

// Feeds bytes in chunks of chunkSize like the pipeline (end of input set
// with the last short chunk), converting floats to 16 bits with ties to even.
inline DecodeRun DecodeStream(const std::vector<uint8_t>& stream, size_t chunkSize = 8192) {
  DecodeRun run;
  Mp3sDecHandle h = nullptr;
  if (Mp3sDecOpen(&h, 0) != 0) return run;
  const size_t first = std::min<size_t>(stream.size(), 8192);
  run.initResult = Mp3sDecInit(h, stream.data(), static_cast<uint32_t>(first),
                               static_cast<uint32_t>(stream.size()), 1, 1);
  std::vector<float> out(kMp3sDecMaxOutputFloats);
  std::vector<uint8_t> ancillary(4096);
  size_t position = 0, chunkLength = 0, used = 0;
  const uint8_t* chunk = nullptr;
  for (int guard = 0; run.initResult == 0 && !Mp3sDecIsFinished(h) && ++guard < 10000000;) {
    if (used == chunkLength) {
      chunkLength = std::min(chunkSize, stream.size() - position);
      chunk = stream.data() + position;
      position += chunkLength;
      used = 0;
      if (chunkLength < chunkSize) Mp3sDecSetEndOfInput(h);
    }
    uint32_t consumed = 0, written = 0, flags = 0;
    uint32_t ancillaryCount = static_cast<uint32_t>(ancillary.size());
    const int r = Mp3sDecDecode(h, chunk + used, static_cast<uint32_t>(chunkLength - used), &consumed, out.data(),
                                static_cast<uint32_t>(out.size()), &written, &flags, 0, 0, ancillary.data(),
                                &ancillaryCount);
    if (r == kMp3sDecEndOfStream) continue;
    used += consumed;
    if (r == kMp3sDecConcealedNoMainData || r == kMp3sDecConcealedSideInfo) {
      ++(r == kMp3sDecConcealedNoMainData ? run.concealedNoMainData : run.concealedSideInfo);
      continue;
    }
    if (r != 0) break;
    if (written == 0) continue;
    ++run.frames;
    for (uint32_t i = 0; i < written; ++i) {
      run.pcm.push_back(static_cast<int16_t>(std::nearbyint(std::clamp(out[i] * 32768.0f, -32768.0f, 32767.0f))));
    }
  }
  run.finished = run.initResult == 0 && Mp3sDecIsFinished(h) != 0;
  Mp3sDecClose(h);
  return run;
}

struct Comparison {
  double psnr = 0;   // dB against 16-bit full scale; 999 for identical
  int maxDiff = 0;
};

// The first count samples of a and b.
inline Comparison ComparePcm(const std::vector<int16_t>& a, const std::vector<int16_t>& b, size_t count) {
  Comparison c;
  double noise = 0;
  for (size_t i = 0; i < count; ++i) {
    const int d = a[i] - b[i];
    noise += static_cast<double>(d) * d;
    c.maxDiff = std::max(c.maxDiff, std::abs(d));
  }
  c.psnr = noise == 0 ? 999 : 10.0 * std::log10(32768.0 * 32768.0 / (noise / static_cast<double>(count)));
  return c;
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

}  // namespace kestrune::testing
