// Frame formatting of Layer III: bit-rate index and padding, the bit
// reservoir and its limits, surplus stuffing, header, CRC, side information,
// main data and the output queue that releases frames in order once the main
// data of later frames has filled their slots.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "mp3enc/bit_writer.h"
#include "mp3enc/granule_info.h"

namespace mp3enc {

enum class MpegVersion : int { kMpeg1 = 0, kMpeg2 = 1, kMpeg25 = 2 };

struct FrameFormat {
  MpegVersion version = MpegVersion::kMpeg1;
  int sampleRate = 0;
  int rateIndex = 0;       // index into kSampleRates (0..8)
  int frequencyIndex = 0;  // 2-bit sampling_frequency field
  int mode = 0;            // 0 stereo, 1 joint, 2 dual, 3 mono
  int channels = 2;        // channels in the frame
  int granules = 2;        // per frame
  bool crc = false;
  bool privateBit = false;
  bool copyright = false;
  bool original = false;
  int highestIndex = 14;
  int overheadBits = 0;    // header + CRC + side information
};

// Fills a format for a sample rate and mode; false when the rate or the mode
// cannot be framed.
[[nodiscard]] bool MakeFrameFormat(int sampleRate, int mode, bool crc, bool privateBit,
                                   bool copyright, bool original, FrameFormat* format);

// CRC-16 of ISO/IEC 11172-3 (polynomial 0x8005), continuing from crc.
uint16_t Crc16(const uint8_t* data, size_t bytes, uint16_t crc);

class FrameFormatter {
 public:
  explicit FrameFormatter(const FrameFormat& format);

  const FrameFormat& Format() const { return format_; }
  // Bits of a frame at a bit-rate index, without padding.
  int FrameBits(int index) const;
  // Smallest index 1..highest whose bits (+8 with padding) reach bits; -1
  // when none does.
  int SearchIndex(int bits, bool padding, bool excludeHighest) const;
  // Reservoir limit in bytes for a frame of frameBits (511/255, lowered so
  // that frame + reservoir stay within 7680 bits).
  int ReservoirLimit(int frameBits) const;
  // Main-data bytes written ahead of the next frame (its main_data_begin).
  int Fill() const { return fill_; }

  // The stuffing bits each granule would take (and the trailing rest) if
  // the frame were assembled now with these part2_3 lengths.
  void PlanStuffing(const FrameGranules& frame, int frameBits, int ancBits,
                    int64_t take[2][2], int64_t* trailing) const;
  // Assembles one frame and appends every frame now complete to out.
  // The granules' part23Length may grow by stuffing. ancillary/ancBytes:
  // optional ancillary payload; *ancBytes drops by the bytes taken.
  void Assemble(FrameGranules& frame, int bitRateIndex, int padding, int modeExtension,
                const uint8_t* ancillary, int* ancBytes, int ancMode,
                std::vector<uint8_t>* out);
  // Releases every queued frame (end of stream), filling open main-data
  // slots with zero bytes.
  void Flush(std::vector<uint8_t>* out);
  int QueuedFrames() const { return (write_ - read_ + kQueueSize) % kQueueSize; }

 private:
  static constexpr int kQueueSize = 64;
  struct QueueEntry {
    int headerBits;  // header (+CRC) + side information
    int slotBits;    // main-data slot
    uint8_t header[64];  // header, CRC place-holder and side information
  };
  void WriteSideInfo(const FrameGranules& frame, int bitRateIndex, int padding,
                     int modeExtension, BitWriter* w) const;
  void Release(std::vector<uint8_t>* out);

  FrameFormat format_;
  int fill_ = 0;
  BitWriter mainData_;
  int64_t mainDataReleased_ = 0;  // bytes of main data already released
  QueueEntry queue_[kQueueSize];
  int read_ = 0;
  int write_ = 0;
  int64_t channelBits_[2] = {0, 0};  // statistics
};

}  // namespace mp3enc
