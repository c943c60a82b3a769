#include "mp3dec/analysis.h"

#include <algorithm>
#include <cstring>

#include "mp3dec/bitstream.h"
#include "mp3dec/crc.h"
#include "mp3dec/sync.h"

namespace mp3dec {
namespace {

uint32_t BigEndian(const uint8_t* p, size_t bytes) {
  uint32_t v = 0;
  for (size_t i = 0; i < bytes; ++i) v = (v << 8) | p[i];
  return v;
}

uint32_t SamplesPerFrameForRate(uint32_t sampleRate) { return sampleRate <= 24000 ? 576 : 1152; }

}  // namespace

void PeriodDetector::Add(uint32_t value) {
  if (count_ < 4) kept_[count_] = value;
  for (uint32_t p = 1; p <= 4; ++p) {
    if (count_ >= p && value != kept_[count_ % p]) valid_[p] = false;
  }
  ++count_;
}

int PeriodDetector::Period() const {
  for (int p = 1; p <= 4; ++p) {
    if (valid_[p] && count_ >= static_cast<uint32_t>(p)) return p;
  }
  return 0;
}

uint32_t PeriodDetector::PeriodSum() const {
  uint32_t sum = 0;
  for (int i = 0; i < Period(); ++i) sum += kept_[i];
  return sum;
}

void RunningStatistic::Add(uint32_t value) {
  if (count == 0) {
    first = minimum = maximum = value;
  } else {
    if (value != first) allEqual = false;
    minimum = std::min(minimum, value);
    maximum = std::max(maximum, value);
  }
  ++count;
  sum += value;
}

bool StreamAnalyser::Analyse(const uint8_t* buffer, size_t size, uint32_t audioBytes) {
  InputBitstream in(size);
  in.Feed(buffer, size);
  in.endOfInput = true;
  FrameSync sync;
  RunningStatistic rate, channels, bitRate, crc, padding;
  PeriodDetector bitRatePeriod, lengthPeriod;
  FrameHeader first;
  const size_t totalBits = in.ValidBits();
  for (;;) {
    const DecoderStatus st = sync.Step(in);
    if (st == kSyncEof || IsError(st)) break;
    if (st != kStatusOk) continue;
    const FrameHeader& h = sync.Header();
    if (firstFrameBits < 0) {
      firstFrameBits = static_cast<int64_t>(totalBits - in.ValidBits());
      first = h;
    }
    rate.Add(static_cast<uint32_t>(h.sampleRate));
    channels.Add(static_cast<uint32_t>(h.channels));
    bitRate.Add(static_cast<uint32_t>(h.bitRate));
    crc.Add(h.crcPresent ? 1 : 0);
    padding.Add(h.padding ? 1 : 0);
    bitRatePeriod.Add(static_cast<uint32_t>(h.bitRate));
    lengthPeriod.Add(static_cast<uint32_t>(h.FrameBytes()));
    in.Skip(static_cast<size_t>(h.frameBits));
  }
  if (firstFrameBits < 0) return false;
  version = first.version;

  format.channels = static_cast<uint16_t>(channels.sum / channels.count);
  format.sampleRate = static_cast<uint32_t>(rate.sum / rate.count);
  averageBitRate = bitRatePeriod.Period() != 0
                       ? bitRatePeriod.PeriodSum() / static_cast<uint32_t>(bitRatePeriod.Period())
                       : static_cast<uint32_t>(bitRate.sum / bitRate.count);
  uint32_t flags = 0;
  if (padding.sum == 0) flags |= 2;
  else if (padding.sum == padding.count) flags |= 1;
  if (crc.sum == crc.count) flags |= 16;
  else if (crc.sum == 0) flags |= 32;
  if (bitRatePeriod.Period() == 0) flags |= kFlagVariableBitRate;
  const bool constantWithVaryingPadding = bitRate.allEqual && !padding.allEqual;
  if (!constantWithVaryingPadding) {
    format.blockSize = static_cast<uint16_t>(lengthPeriod.Period() != 0 ? lengthPeriod.PeriodSum() : 1);
    format.framesPerBlock = static_cast<uint16_t>(lengthPeriod.Period() != 0 ? lengthPeriod.Period() : 1);
  } else {
    format.blockSize = 1;
    format.framesPerBlock = 1;
  }

  const uint32_t sampleRate = format.sampleRate;
  const double msPerFrame = SamplesPerFrameForRate(sampleRate) * 1000.0 / sampleRate;
  // Constant bit rate duration.
  if (audioBytes != 0 && averageBitRate > 0) {
    durationMs = static_cast<uint32_t>(audioBytes / (averageBitRate * 0.125) * 1000.0);
  }
  if (firstFrameBits % 8 == 0) {
    const size_t start = static_cast<size_t>(firstFrameBits / 8);
    const uint8_t* frame = buffer + start;
    const size_t available = size - start;
    if (!ReadVbri(frame, available)) ReadXing(frame, available, format.channels);
  }
  const XingRecord& x = xing;
  uint32_t recordFrames = 0, recordBytes = 0;
  if (vbri.present) {
    recordFrames = vbri.frames;
    recordBytes = vbri.bytes;
  } else if (x.present) {
    recordFrames = (x.flags & 1) ? x.frames : 0;
    recordBytes = (x.flags & 2) ? x.bytes : audioBytes;
  }
  if ((vbri.present || x.present) && recordFrames != 0 && recordBytes != 0) {
    flags |= kFlagVariableBitRate;
    const double seconds = recordFrames * static_cast<double>(SamplesPerFrameForRate(sampleRate)) / sampleRate;
    if (seconds > 0) averageBitRate = static_cast<uint32_t>(recordBytes * 8.0 / seconds);
  }
  if (vbri.present || (x.present && recordFrames != 0)) {
    durationMs = static_cast<uint32_t>(recordFrames * msPerFrame);
    if (durationMs > 0) averageBitRate = static_cast<uint32_t>(recordBytes * 8.0 / (durationMs / 1000.0));
  }
  format.flags = flags;
  format.averageBytesPerSecond = averageBitRate / 8;
  if (vbri.present) {
    variableRate = frameCountKnown = seekable = true;
  } else if (x.present) {
    variableRate = frameCountKnown = true;
    seekable = (x.flags & 4) != 0;
  } else {
    variableRate = (flags & kFlagVariableBitRate) != 0;
    frameCountKnown = false;
    seekable = !variableRate;
  }
  return true;
}

bool StreamAnalyser::ReadVbri(const uint8_t* frame, size_t available) {
  constexpr size_t kOffset = 36;
  if (available < kOffset + 62) return false;
  const uint8_t* p = frame + kOffset;
  if (std::memcmp(p, "VBRI", 4) != 0 || BigEndian(p + 4, 2) != 1) return false;
  VbriRecord v;
  v.version = 1;
  v.delay = BigEndian(p + 6, 2);
  v.quality = BigEndian(p + 8, 2);
  v.bytes = BigEndian(p + 10, 4);
  v.frames = BigEndian(p + 14, 4);
  v.entries = BigEndian(p + 18, 2);
  v.scale = BigEndian(p + 20, 2);
  v.entrySize = BigEndian(p + 22, 2);
  v.framesPerEntry = BigEndian(p + 24, 2);
  const size_t tableBytes = static_cast<size_t>(v.entries) * v.entrySize;
  if (available - kOffset < tableBytes + 62 || v.entrySize > 4) return false;
  v.table.reserve(v.entries + 1);
  v.table.push_back(0);
  uint32_t total = 0;
  for (uint32_t i = 0; i < v.entries; ++i) {
    total += BigEndian(p + 26 + static_cast<size_t>(i) * v.entrySize, v.entrySize) * v.scale;
    v.table.push_back(total);
  }
  v.present = true;
  vbri = std::move(v);
  return true;
}

bool StreamAnalyser::ReadXing(const uint8_t* frame, size_t available, int channels) {
  if (format.sampleRate < 16000) return false;
  size_t offset;
  if (version == 0) offset = channels == 1 ? 21 : 36;
  else offset = channels == 1 ? 13 : 21;
  if (available < offset + 120) return false;
  const uint8_t* p = frame + offset;
  if (std::memcmp(p, "Xing", 4) != 0) return false;
  XingRecord x;
  x.present = true;
  x.flags = BigEndian(p + 4, 4);
  size_t pos = 8;
  if (x.flags & 1) { x.frames = BigEndian(p + pos, 4); pos += 4; }
  if (x.flags & 2) { x.bytes = BigEndian(p + pos, 4); pos += 4; }
  if (x.flags & 4) { std::memcpy(x.toc, p + pos, 100); pos += 100; }
  if ((x.flags & 8) && pos + 4 <= 120) x.quality = BigEndian(p + pos, 4);
  xing = x;
  return true;
}

uint32_t FindTrimRecord(const uint8_t* bytes, size_t count, uint32_t* delay) {
  for (size_t i = 0; i < count; ++i) {
    if (i + 4 <= count && (std::memcmp(bytes + i, "VBRI", 4) == 0 || std::memcmp(bytes + i, "Xing", 4) == 0)) {
      return 0;
    }
    if (bytes[i] != 0xB0 && bytes[i] != 0xB4) continue;
    if (i + 10 > count) continue;
    const uint8_t* r = bytes + i;
    if (r[0] == 0xB0) {
      if (Crc8(r, 7) == r[7]) return 0;  // a valid record without a sample count
      continue;
    }
    if (Crc8(r, 9) != r[9]) continue;
    if (delay != nullptr) *delay = BigEndian(r + 1, 2);
    return BigEndian(r + 3, 4);
  }
  return 0;
}

}  // namespace mp3dec
