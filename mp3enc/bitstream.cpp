// Frame formatting and the bit reservoir of Layer III streams
// (ISO/IEC 11172-3 2.4.1, ISO/IEC 13818-3 2.4.1 and the 11-bit-sync
// extension for 8, 11.025 and 12 kHz).
#include "mp3enc/bitstream.h"

#include <algorithm>
#include <cstring>

#include "mp3enc/layer3_tables.h"

namespace mp3enc {

bool MakeFrameFormat(int sampleRate, int mode, bool crc, bool privateBit, bool copyright,
                     bool original, FrameFormat* format) {
  if (mode < 0 || mode > 3) return false;
  FrameFormat f;
  f.sampleRate = sampleRate;
  f.rateIndex = -1;
  for (int i = 0; i < 9; ++i) {
    if (kSampleRates[i] == sampleRate) f.rateIndex = i;
  }
  if (f.rateIndex < 0) return false;
  // Rates above 24000 Hz are MPEG-1, 12000 Hz and below the extension.
  if (sampleRate > 24000) {
    f.version = MpegVersion::kMpeg1;
  } else if (sampleRate <= 12000) {
    f.version = MpegVersion::kMpeg25;
  } else {
    f.version = MpegVersion::kMpeg2;
  }
  static constexpr int kFrequencyField[9] = {0, 1, 2, 0, 1, 2, 0, 1, 2};
  f.frequencyIndex = kFrequencyField[f.rateIndex];
  f.mode = mode;
  f.channels = mode == 3 ? 1 : 2;
  f.granules = f.version == MpegVersion::kMpeg1 ? 2 : 1;
  f.crc = crc;
  f.privateBit = privateBit;
  f.copyright = copyright;
  f.original = original;
  f.highestIndex = f.version == MpegVersion::kMpeg25 ? 8 : 14;
  int side;
  if (f.version == MpegVersion::kMpeg1) {
    side = f.channels == 2 ? 256 : 136;
  } else {
    side = f.channels == 2 ? 136 : 72;
  }
  f.overheadBits = 32 + (crc ? 16 : 0) + side;
  *format = f;
  return true;
}

uint16_t Crc16(const uint8_t* data, size_t bytes, uint16_t crc) {
  for (size_t i = 0; i < bytes; ++i) {
    for (int b = 7; b >= 0; --b) {
      const bool in = ((data[i] >> b) & 1) != 0;
      const bool top = (crc & 0x8000) != 0;
      crc = static_cast<uint16_t>(crc << 1);
      if (in != top) crc ^= 0x8005;
    }
  }
  return crc;
}

FrameFormatter::FrameFormatter(const FrameFormat& format) : format_(format) {
  std::memset(queue_, 0, sizeof(queue_));
}

int FrameFormatter::FrameBits(int index) const {
  if (index < 1 || index > format_.highestIndex) return 0;
  const int table = format_.version == MpegVersion::kMpeg1 ? 0 : 1;
  const int64_t samples = 576 * format_.granules;
  const int64_t bytes = samples / 8 * kBitRates[table][index] / format_.sampleRate;
  return static_cast<int>(bytes * 8);
}

int FrameFormatter::SearchIndex(int bits, bool padding, bool excludeHighest) const {
  const int last = format_.highestIndex - (excludeHighest ? 1 : 0);
  for (int i = 1; i <= last; ++i) {
    if (FrameBits(i) + (padding ? 8 : 0) >= bits) return i;
  }
  return -1;
}

int FrameFormatter::ReservoirLimit(int frameBits) const {
  int limit = format_.version == MpegVersion::kMpeg1 ? 511 : 255;
  if (frameBits + 8 * limit > 7680) limit = std::max(0, (7680 - frameBits) / 8);
  return limit;
}

void FrameFormatter::WriteSideInfo(const FrameGranules& frame, int bitRateIndex, int padding,
                                   int modeExtension, BitWriter* w) const {
  const FrameFormat& f = format_;
  const bool mpeg1 = f.version == MpegVersion::kMpeg1;
  // Header.
  w->Put(f.version == MpegVersion::kMpeg25 ? 0xFFE : 0xFFF, 12);
  w->Put(mpeg1 ? 1 : 0, 1);
  w->Put(1, 2);  // layer III
  w->Put(f.crc ? 0 : 1, 1);
  w->Put(static_cast<uint32_t>(bitRateIndex), 4);
  w->Put(static_cast<uint32_t>(f.frequencyIndex), 2);
  w->Put(static_cast<uint32_t>(padding), 1);
  w->Put(f.privateBit ? 1 : 0, 1);
  w->Put(static_cast<uint32_t>(f.mode), 2);
  w->Put(static_cast<uint32_t>(modeExtension), 2);
  w->Put(f.copyright ? 1 : 0, 1);
  w->Put(f.original ? 1 : 0, 1);
  w->Put(0, 2);  // emphasis
  if (f.crc) w->Put(0, 16);
  // Side information.
  if (mpeg1) {
    w->Put(static_cast<uint32_t>(fill_), 9);
    w->Put(0, f.channels == 1 ? 5 : 3);
    w->Put(0, 4 * f.channels);  // scfsi
  } else {
    w->Put(static_cast<uint32_t>(fill_), 8);
    w->Put(0, f.channels == 1 ? 1 : 2);
  }
  for (int gr = 0; gr < f.granules; ++gr) {
    for (int ch = 0; ch < f.channels; ++ch) {
      const GranuleInfo& g = frame.gr[gr][ch];
      w->Put(static_cast<uint32_t>(g.part23Length), 12);
      w->Put(static_cast<uint32_t>(g.bigValues), 9);
      w->Put(static_cast<uint32_t>(g.globalGain), 8);
      w->Put(static_cast<uint32_t>(g.scalefacCompress), mpeg1 ? 4 : 9);
      if (g.blockType != kNormalBlock) {
        w->Put(1, 1);
        w->Put(static_cast<uint32_t>(g.blockType), 2);
        w->Put(0, 1);  // mixed_block_flag
        w->Put(static_cast<uint32_t>(g.tableSelect[0]), 5);
        w->Put(static_cast<uint32_t>(g.tableSelect[1]), 5);
        for (int i = 0; i < 3; ++i) w->Put(static_cast<uint32_t>(g.subblockGain[i]), 3);
      } else {
        w->Put(0, 1);
        for (int i = 0; i < 3; ++i) w->Put(static_cast<uint32_t>(g.tableSelect[i]), 5);
        w->Put(static_cast<uint32_t>(g.region0Count), 4);
        w->Put(static_cast<uint32_t>(g.region1Count), 3);
      }
      if (mpeg1) w->Put(static_cast<uint32_t>(g.preflag), 1);
      w->Put(static_cast<uint32_t>(g.scalefacScale), 1);
      w->Put(static_cast<uint32_t>(g.count1Table), 1);
    }
  }
}

void FrameFormatter::Assemble(FrameGranules& frame, int bitRateIndex, int padding,
                              int modeExtension, const uint8_t* ancillary, int* ancBytes,
                              int ancMode, std::vector<uint8_t>* out) {
  const FrameFormat& f = format_;
  // 1. Frame size (the reservoir limit is applied in PlanStuffing).
  const int frameBits = FrameBits(bitRateIndex) + (padding ? 8 : 0);
  // 2. Main-data bits of the granules.
  int mainBits = 0;
  for (int gr = 0; gr < f.granules; ++gr) {
    for (int ch = 0; ch < f.channels; ++ch) {
      mainBits += frame.gr[gr][ch].part23Length;
      channelBits_[ch] += frame.gr[gr][ch].part23Length;
    }
  }
  // 3. Ancillary data, when at least a byte is free for it.
  std::vector<uint8_t> anc;
  {
    const int64_t freeBits =
        static_cast<int64_t>(frameBits) - f.overheadBits - mainBits + 8LL * fill_;
    if (ancillary != nullptr && ancBytes != nullptr && *ancBytes > 0 && freeBits >= 8) {
      int64_t room = freeBits / 8;
      if (ancMode == 1) {
        if (room >= 4) {
          const int payload =
              static_cast<int>(std::min<int64_t>({room - 3, *ancBytes, 252}));
          const int total = payload + 3;
          anc.push_back(0xA5);
          anc.push_back(static_cast<uint8_t>(total));
          anc.insert(anc.end(), ancillary, ancillary + payload);
          unsigned sum = 0;
          for (uint8_t b : anc) sum += b;
          anc.push_back(static_cast<uint8_t>(sum & 0xFF));
          *ancBytes -= payload;
        }
      } else {
        const int take = static_cast<int>(std::min<int64_t>(room, *ancBytes));
        anc.assign(ancillary, ancillary + take);
        *ancBytes -= take;
      }
    }
  }
  const int ancBits = static_cast<int>(anc.size()) * 8;
  // 4. Surplus stuffing.
  int64_t stuffing[2][2];
  int64_t trailing = 0;
  PlanStuffing(frame, frameBits, ancBits, stuffing, &trailing);
  for (int gr = 0; gr < f.granules; ++gr) {
    for (int ch = 0; ch < f.channels; ++ch) {
      frame.gr[gr][ch].part23Length += static_cast<int>(stuffing[gr][ch]);
    }
  }
  // 5.-6. Header and side information into the queue entry.
  if (QueuedFrames() == kQueueSize - 1) Flush(out);  // cannot happen within limits
  QueueEntry& e = queue_[write_];
  BitWriter side;
  WriteSideInfo(frame, bitRateIndex, padding, modeExtension, &side);
  e.headerBits = static_cast<int>(side.BitCount());
  std::memcpy(e.header, side.Bytes().data(), side.Bytes().size());
  e.slotBits = frameBits - f.overheadBits;
  write_ = (write_ + 1) % kQueueSize;
  // 7. Main data.
  const int64_t before = mainData_.BitCount();
  for (int gr = 0; gr < f.granules; ++gr) {
    for (int ch = 0; ch < f.channels; ++ch) {
      GranuleInfo& g = frame.gr[gr][ch];
      mainData_.PutBits(g.mainData.Data(), g.mainData.BitCount());
      mainData_.PutZeros(stuffing[gr][ch]);
    }
  }
  mainData_.PutZeros(trailing);
  const int64_t align = (8 - (mainData_.BitCount() & 7)) & 7;
  mainData_.PutZeros(align);
  for (uint8_t b : anc) mainData_.Put(b, 8);
  const int64_t written = mainData_.BitCount() - before;
  // 8. Reservoir fill.
  fill_ = static_cast<int>(fill_ - written / 8 + (frameBits - f.overheadBits) / 8);
  if (fill_ < 0) fill_ = 0;  // the rate control never lets this happen
  // 9. Release complete frames.
  Release(out);
}

void FrameFormatter::PlanStuffing(const FrameGranules& frame, int frameBits, int ancBits,
                                  int64_t take[2][2], int64_t* trailing) const {
  const FrameFormat& f = format_;
  const int limit = ReservoirLimit(frameBits);
  int64_t mainBits = 0;
  for (int gr = 0; gr < f.granules; ++gr) {
    for (int ch = 0; ch < f.channels; ++ch) mainBits += frame.gr[gr][ch].part23Length;
  }
  int64_t surplus = static_cast<int64_t>(frameBits) - ancBits - mainBits +
                    8LL * (fill_ - limit) - f.overheadBits;
  for (int gr = 0; gr < 2; ++gr) {
    for (int ch = 0; ch < 2; ++ch) take[gr][ch] = 0;
  }
  *trailing = 0;
  if (surplus < 1) return;
  // Granules in order, each up to 4092 bits and within 7680 bits of the
  // frame's start, in multiples of 4; the rest trails the main data.
  int64_t placed = f.overheadBits;
  for (int gr = 0; gr < f.granules; ++gr) {
    for (int ch = 0; ch < f.channels; ++ch) {
      const int len = frame.gr[gr][ch].part23Length;
      int64_t t = std::min<int64_t>({surplus, 4092 - len, 7680 - len - placed});
      t = std::max<int64_t>(t, 0) & ~int64_t{3};
      take[gr][ch] = t;
      surplus -= t;
      placed += len + t;
    }
  }
  *trailing = surplus;
}

void FrameFormatter::Release(std::vector<uint8_t>* out) {
  while (read_ != write_) {
    const QueueEntry& e = queue_[read_];
    const size_t slotBytes = static_cast<size_t>(e.slotBits / 8);
    if (mainData_.Bytes().size() < slotBytes) break;
    const size_t headerBytes = static_cast<size_t>(e.headerBits / 8);
    const size_t start = out->size();
    out->insert(out->end(), e.header, e.header + headerBytes);
    if (format_.crc) {
      // CRC over header bytes 3 and 4 and the side information.
      uint16_t crc = Crc16(e.header + 2, 2, 0xFFFF);
      crc = Crc16(e.header + 6, headerBytes - 6, crc);
      (*out)[start + 4] = static_cast<uint8_t>(crc >> 8);
      (*out)[start + 5] = static_cast<uint8_t>(crc & 0xFF);
    }
    const auto& md = mainData_.Bytes();
    out->insert(out->end(), md.begin(), md.begin() + static_cast<std::ptrdiff_t>(slotBytes));
    mainData_.Consume(slotBytes);
    mainDataReleased_ += static_cast<int64_t>(slotBytes);
    read_ = (read_ + 1) % kQueueSize;
  }
}

void FrameFormatter::Flush(std::vector<uint8_t>* out) {
  while (read_ != write_) {
    const QueueEntry& e = queue_[read_];
    const int64_t slotBytes = e.slotBits / 8;
    const int64_t have = static_cast<int64_t>(mainData_.Bytes().size());
    if (have < slotBytes) mainData_.PutZeros((slotBytes - have) * 8);
    Release(out);
  }
  fill_ = 0;
}

}  // namespace mp3enc
