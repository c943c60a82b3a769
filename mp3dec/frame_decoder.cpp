#include "mp3dec/frame_decoder.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace mp3dec {
namespace {

bool ContainsRecordTag(const uint8_t* bytes, size_t count) {
  const std::string_view text(reinterpret_cast<const char*>(bytes), count);
  return text.find("Xing") != std::string_view::npos || text.find("VBRI") != std::string_view::npos;
}

}  // namespace

void FrameDecoder::Reset() {
  input_.Clear();
  sync_.Reset();
  layer3_.Reset(true);
  endOfStream_ = false;
  firstFrameAfterReset_ = true;
}

bool FrameDecoder::NextMainDataBegin(uint32_t& mainDataBegin) const {
  if (input_.ValidBits() < 32) return false;
  const uint32_t word = input_.Peek(0, 32);
  if (!IsValidHeader(word)) {
    mainDataBegin = 0;
    return true;
  }
  const FrameHeader next = ParseHeader(word);
  const size_t offset = next.crcPresent ? 48 : 32;
  const int bits = next.version == 0 ? 9 : 8;
  if (input_.ValidBits() < offset + static_cast<size_t>(bits)) return false;
  mainDataBegin = input_.Peek(offset, bits);
  return true;
}

StepResult FrameDecoder::Step(float* pcm, uint8_t* ancillary, size_t ancillaryCapacity) {
  StepResult result;
  const DecoderStatus sync = sync_.Step(input_);
  if (sync == kSyncEof) {
    endOfStream_ = true;
    result.status = sync;
    return result;
  }
  if (sync != kStatusOk) {
    if (sync == kSyncLost) {
      layer3_.FlushReservoir(ancillary, ancillaryCapacity);
      layer3_.Reset(true);
    }
    result.status = sync;
    RefreshInfo(sync);
    return result;
  }
  const FrameHeader& header = sync_.Header();
  if (header.layer != 3) {
    result.status = kStatusWrongLayer;
    return result;
  }
  const size_t floats = static_cast<size_t>(header.channels * header.samplesPerFrame);
  if (floats > kOutputFloats) {
    result.status = kStatusBufferTooSmall;
    return result;
  }
  const size_t frameBytes = static_cast<size_t>(header.FrameBytes());
  input_.CopyBytes(0, frame_, std::min(frameBytes, sizeof frame_));
  DecoderStatus status = layer3_.DecodeFrame(frame_, header, pcm);
  input_.Skip(static_cast<size_t>(header.frameBits));
  result.floats = floats;

  uint32_t nextMainDataBegin = 0;
  if (NextMainDataBegin(nextMainDataBegin)) {
    const size_t n = layer3_.TakeAncillary(nextMainDataBegin, ancillary, ancillaryCapacity);
    result.ancillary = (firstFrameAfterReset_ && ancillary != nullptr && ContainsRecordTag(ancillary, n)) ? 0 : n;
  } else if (status == kStatusOk) {
    status = kStatusAncillaryPending;
  }
  firstFrameAfterReset_ = false;
  result.status = status;
  RefreshInfo(status);
  return result;
}

void FrameDecoder::RefreshInfo(DecoderStatus status) {
  const FrameHeader& h = sync_.Header();
  info_.layer = h.layer;
  info_.version = h.version;
  info_.bitRate = h.bitRate;
  info_.bitRateIndex = h.bitRateIndex;
  info_.channels = h.channels;
  info_.sampleRate = h.sampleRate;
  info_.channelsOut = h.channels;
  info_.sampleRateOut = h.sampleRate;
  info_.bitsPerSampleOut = 16;
  info_.frameBits = h.frameBits;
  info_.frameDurationMs = h.frameDurationMs;
  info_.crcError = status == kStatusCrcError;
  info_.concealed = status == kStatusNoMainData || status == kStatusSideInfoDamaged;
}

}  // namespace mp3dec
