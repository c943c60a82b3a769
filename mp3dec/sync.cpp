#include "mp3dec/sync.h"

#include "mp3dec/tables.h"

namespace mp3dec {

int FrameHeader::SideInfoBytes() const {
  if (version == 0) return channels == 1 ? 17 : 32;
  return channels == 1 ? 9 : 17;
}

bool IsValidHeader(uint32_t word) {
  if ((word >> 21) != 0x7FF) return false;
  if (((word >> 17) & 3) != 1) return false;  // Layer III only
  const uint32_t bitRateIndex = (word >> 12) & 15;
  if (bitRateIndex == 0 || bitRateIndex == 15) return false;  // free format, forbidden
  if (((word >> 10) & 3) == 3) return false;
  if (((word >> 19) & 3) == 1) return false;  // reserved version
  return true;
}

FrameHeader ParseHeader(uint32_t word) {
  FrameHeader h;
  h.word = word;
  const bool id = (word >> 19) & 1;
  const bool notMpeg25 = (word >> 20) & 1;
  h.version = id ? 0 : (notMpeg25 ? 1 : 2);
  h.layer = 4 - static_cast<int>((word >> 17) & 3);
  h.crcPresent = ((word >> 16) & 1) == 0;
  h.bitRateIndex = static_cast<int>((word >> 12) & 15);
  h.sampleRateIndex = static_cast<int>((word >> 10) & 3);
  h.padding = (word >> 9) & 1;
  h.mode = static_cast<int>((word >> 6) & 3);
  h.modeExtension = static_cast<int>((word >> 4) & 3);
  h.channels = h.mode == 3 ? 1 : 2;
  h.sampleRate = kSampleRates[h.version][h.sampleRateIndex];
  h.bitRate = 1000 * kLayer3BitRatesKbps[h.version == 0 ? 0 : 1][h.bitRateIndex];
  const int slotBits = h.layer == 1 ? 32 : 8;
  h.samplesPerFrame = h.layer == 1 ? 384 : (h.layer == 2 || h.version == 0) ? 1152 : 576;
  h.frameBits =
      slotBits * ((h.bitRate / slotBits) * h.samplesPerFrame / h.sampleRate + (h.padding ? 1 : 0));
  h.frameDurationMs = static_cast<float>(h.samplesPerFrame) * 1000.0f / static_cast<float>(h.sampleRate);
  return h;
}

DecoderStatus FrameSync::Step(InputBitstream& in) {
  if (state_ == kSyncEof) return state_;
  if (in.ValidBits() >= 32) {
    if (state_ == kStatusOk || state_ == kSyncNeedData) {
      CheckInSync(in);
    } else {
      Search(in);
    }
  } else {
    state_ = (state_ == kStatusOk || state_ == kSyncNeedData) ? kSyncNeedData : kSyncSearched;
  }
  if (in.endOfInput && (state_ == kSyncSearched || state_ == kSyncNeedData)) state_ = kSyncEof;
  return state_;
}

void FrameSync::Search(InputBitstream& in) {
  skippedBits_ = 0;
  while (in.ValidBits() >= 32) {
    const uint32_t first = in.Peek(0, 32);
    if (IsValidHeader(first)) {
      const FrameHeader h = ParseHeader(first);
      const size_t frameBits = static_cast<size_t>(h.frameBits);
      if (in.ValidBits() < frameBits + 32) {
        state_ = kSyncSearched;  // wait for the rest of the frame and the next header
        return;
      }
      const uint32_t next = in.Peek(frameBits, 32);
      if (((next ^ first) & kSyncMask) == 0) {
        reference_ = first & kSyncMask;
        lookAhead_ = 10;
        header_ = h;
        state_ = kStatusOk;
        return;
      }
    }
    in.Skip(1);
    ++skippedBits_;
  }
  state_ = kSyncSearched;
}

void FrameSync::CheckInSync(InputBitstream& in) {
  const uint32_t word = in.Peek(0, 32);
  if ((word & kSyncMask) != reference_ || !IsValidHeader(word)) {
    state_ = kSyncLost;
    return;
  }
  const FrameHeader h = ParseHeader(word);
  const size_t frameBits = static_cast<size_t>(h.frameBits);
  if (frameBits > in.ValidBits()) {
    state_ = kSyncNeedData;
    return;
  }
  if (lookAhead_ != 0) {
    if (in.ValidBits() >= frameBits + 32) {
      const uint32_t next = in.Peek(frameBits, 32);
      if ((next & kSyncMask) != reference_) {
        state_ = kSyncLost;
        return;
      }
    }
    --lookAhead_;
  }
  header_ = h;
  state_ = kStatusOk;
}

}  // namespace mp3dec
