// Analysis of the first input buffer of a stream: the first frame, running
// statistics of the frames found, the MPEG Layer-3 format block, Xing and
// VBRI records, duration and average bit rate; and the search for a
// delay/padding record in ancillary data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mp3dec {

// Keeps the first four values; for each period 1..4 stays valid while every
// value equals the kept value at index (count mod period).
class PeriodDetector {
 public:
  void Add(uint32_t value);
  int Period() const;          // smallest valid period, 0 when none
  uint32_t PeriodSum() const;  // sum of the first Period() kept values

 private:
  uint32_t kept_[4] = {};
  uint32_t count_ = 0;
  bool valid_[5] = {false, true, true, true, true};
};

struct RunningStatistic {
  uint32_t count = 0;
  uint64_t sum = 0;
  uint32_t first = 0;
  uint32_t minimum = 0;
  uint32_t maximum = 0;
  bool allEqual = true;
  void Add(uint32_t value);
};

// The published MPEG Layer-3 wave format record.
struct Mp3FormatBlock {
  uint16_t formatTag = 85;
  uint16_t channels = 0;
  uint32_t sampleRate = 0;
  uint32_t averageBytesPerSecond = 0;
  uint16_t blockAlign = 1;
  uint16_t bitsPerSample = 0;
  uint16_t extraSize = 12;
  uint16_t id = 1;
  uint32_t flags = 0;
  uint16_t blockSize = 0;
  uint16_t framesPerBlock = 1;
  uint16_t codecDelay = 0;
};

struct XingRecord {
  bool present = false;
  uint32_t flags = 0;
  uint32_t frames = 0;
  uint32_t bytes = 0;
  uint8_t toc[100] = {};
  uint32_t quality = 0;
};

struct VbriRecord {
  bool present = false;
  uint32_t version = 0;
  uint32_t delay = 0;
  uint32_t quality = 0;
  uint32_t bytes = 0;
  uint32_t frames = 0;
  uint32_t entries = 0;
  uint32_t scale = 0;
  uint32_t entrySize = 0;
  uint32_t framesPerEntry = 0;
  std::vector<uint32_t> table;  // running sums, starting with 0
};

inline constexpr uint32_t kFlagVariableBitRate = 0x100;

class StreamAnalyser {
 public:
  // False when no frame synchronises in the buffer.
  bool Analyse(const uint8_t* buffer, size_t size, uint32_t audioBytes);

  int64_t firstFrameBits = -1;
  Mp3FormatBlock format;
  uint32_t averageBitRate = 0;
  uint32_t durationMs = 0;
  bool variableRate = false;
  bool frameCountKnown = false;
  bool seekable = false;
  int version = 0;
  XingRecord xing;
  VbriRecord vbri;

 private:
  bool ReadVbri(const uint8_t* frame, size_t available);
  bool ReadXing(const uint8_t* frame, size_t available, int channels);
};

// Looks for a 0xB4 or 0xB0 delay/padding record with a valid CRC-8 in one
// frame's ancillary bytes; stops at "VBRI" or "Xing". Returns the total
// sample count of a valid 0xB4 record (0 when none).
uint32_t FindTrimRecord(const uint8_t* bytes, size_t count, uint32_t* delay);

}  // namespace mp3dec
