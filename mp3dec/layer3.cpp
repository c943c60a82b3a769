#include "mp3dec/layer3.h"

#include <algorithm>
#include <cstring>

#include "mp3dec/crc.h"
#include "mp3dec/huffman.h"
#include "mp3dec/requantize.h"
#include "mp3dec/stereo.h"

namespace mp3dec {

void Layer3Decoder::Reset(bool full) {
  reservoirFill_ = 0;
  huffmanEndBit_ = 0;
  if (!full) return;
  for (HybridState& h : hybrid_) h = HybridState{};
  for (SynthesisFilter& s : synthesis_) s.Reset();
  concealer_.Reset();
  std::memset(spectrum_, 0, sizeof spectrum_);
}

bool Layer3Decoder::AppendMainData(const uint8_t* bytes, size_t count, uint32_t mainDataBegin) {
  count = std::min(count, kReservoirBytes);
  const size_t before = reservoirFill_;
  // Make room by dropping the oldest bytes.
  if (reservoirFill_ + count > kReservoirBytes) {
    const size_t drop = reservoirFill_ + count - kReservoirBytes;
    std::memmove(reservoir_, reservoir_ + drop, reservoirFill_ - drop);
    reservoirFill_ -= drop;
  }
  std::memcpy(reservoir_ + reservoirFill_, bytes, count);
  reservoirFill_ += count;
  if (before < mainDataBegin) return false;
  // Keep only this frame's main data and the mainDataBegin bytes before it.
  const size_t keep = std::min(reservoirFill_, count + mainDataBegin);
  std::memmove(reservoir_, reservoir_ + (reservoirFill_ - keep), keep);
  reservoirFill_ = keep;
  return true;
}

DecoderStatus Layer3Decoder::DecodeFrame(const uint8_t* bytes, const FrameHeader& header, float* pcm) {
  const FrameContext frame = MakeFrameContext(header);
  const size_t frameBytes = static_cast<size_t>(header.FrameBytes());
  const size_t sideBytes = static_cast<size_t>(header.SideInfoBytes());
  BitReader reader(bytes, frameBytes);
  reader.Skip(32);
  const uint32_t crcWord = header.crcPresent ? reader.Read(16) : 0;
  SideInfo side;
  bool damaged = ReadSideInfo(reader, frame, side);

  bool crcFailed = false;
  if (header.crcPresent) {
    uint16_t crc = Crc16Update(0xFFFF, bytes + 2, 2);
    crc = Crc16Update(crc, bytes + header.HeaderBytes(), sideBytes);
    if (crc != crcWord) {
      crcFailed = true;
      damaged = false;
      side = SideInfo{};
    }
  }

  const size_t headerAndSide = static_cast<size_t>(header.HeaderBytes()) + sideBytes;
  const size_t mainBytes = frameBytes > headerAndSide ? frameBytes - headerAndSide : 0;
  if (!AppendMainData(bytes + headerAndSide, mainBytes, side.mainDataBegin)) {
    huffmanEndBit_ = reservoirFill_ * 8;
    ConcealFrame(frame, pcm);
    return kStatusNoMainData;
  }
  if (!ParseGranules(frame, side)) {
    huffmanEndBit_ = reservoirFill_ * 8;
    ConcealFrame(frame, pcm);
    return kStatusSideInfoDamaged;
  }
  for (int gr = 0; gr < frame.granules; ++gr) ProcessGranule(frame, side, gr, crcFailed, pcm);
  if (crcFailed) {
    Reset(false);
    return kStatusCrcError;
  }
  return damaged ? kStatusSideInfoDamaged : kStatusOk;
}

bool Layer3Decoder::ParseGranules(const FrameContext& frame, SideInfo& side) {
  BitReader reader(reservoir_, reservoirFill_);
  const bool intensity = frame.header.mode == 1 && (frame.header.modeExtension & 1) != 0;
  for (int gr = 0; gr < frame.granules; ++gr) {
    for (int ch = 0; ch < frame.channels; ++ch) {
      GranuleInfo& g = side.granules[gr][ch];
      ScaleFactors& sf = factors_[gr][ch];
      const size_t part2Start = reader.Position();
      if (frame.mpeg1) {
        if (gr == 1) sf = factors_[0][ch];
        ReadScaleFactorsMpeg1(reader, g, side.scfsi[ch], gr, sf);
      } else {
        ReadScaleFactorsMpeg2(reader, g, intensity && ch == 1, sf);
      }
      nonzeroLines_[gr][ch] = DecodeSpectrum(reader, part2Start + g.part23Length, g, frame, quantised_[gr][ch]);
      if (reader.Overrun()) return false;
    }
  }
  huffmanEndBit_ = reader.Position();
  return true;
}

void Layer3Decoder::ProcessGranule(const FrameContext& frame, SideInfo& side, int gr, bool crcFailed,
                                   float* pcm) {
  for (int ch = 0; ch < frame.channels; ++ch) {
    Requantize(quantised_[gr][ch], nonzeroLines_[gr][ch], side.granules[gr][ch], factors_[gr][ch], frame,
               spectrum_[ch]);
  }
  if (frame.channels == 2 && frame.header.mode == 1) {
    ProcessStereo(frame, side.granules[gr][1], factors_[gr][1], spectrum_[0], spectrum_[1]);
  }
  // No channel has a nonzero line past the larger of the two counts, after
  // stereo processing as before it.
  int nonzeroBound = 0;
  for (int ch = 0; ch < frame.channels; ++ch) nonzeroBound = std::max(nonzeroBound, nonzeroLines_[gr][ch]);
  for (int ch = 0; ch < frame.channels; ++ch) {
    GranuleInfo info = side.granules[gr][ch];
    ReorderShortBlocks(info, frame, spectrum_[ch]);
    int active = ReduceAliasing(info, frame, spectrum_[ch], nonzeroBound);
    if (crcFailed) {
      concealer_.Conceal(ch, frame, info, spectrum_[ch]);
      active = 32;
    } else {
      concealer_.Remember(ch, info, spectrum_[ch]);
    }
    FilterAndSynthesise(frame, ch, info, active);
  }
  Interleave(frame, pcm + static_cast<size_t>(gr) * 576 * static_cast<size_t>(frame.channels));
}

void Layer3Decoder::ConcealFrame(const FrameContext& frame, float* pcm) {
  for (int gr = 0; gr < frame.granules; ++gr) {
    for (int ch = 0; ch < frame.channels; ++ch) {
      GranuleInfo info;
      concealer_.Conceal(ch, frame, info, spectrum_[ch]);
      FilterAndSynthesise(frame, ch, info, 32);
    }
    Interleave(frame, pcm + static_cast<size_t>(gr) * 576 * static_cast<size_t>(frame.channels));
  }
}

void Layer3Decoder::FilterAndSynthesise(const FrameContext& frame, int ch, const GranuleInfo& info,
                                        int activeSubbands) {
  HybridFilterBank(info, frame, spectrum_[ch], activeSubbands, hybrid_[ch], subbands_);
  synthesis_[ch].SynthesiseGranule(subbands_, granulePcm_[ch], 1);
}

void Layer3Decoder::Interleave(const FrameContext& frame, float* out) const {
  if (frame.channels == 1) {
    std::memcpy(out, granulePcm_[0], sizeof granulePcm_[0]);
    return;
  }
  for (int i = 0; i < 576; ++i) {
    out[2 * i] = granulePcm_[0][i];
    out[2 * i + 1] = granulePcm_[1][i];
  }
}

size_t Layer3Decoder::CopyBits(size_t fromBit, size_t toBit, uint8_t* out, size_t capacity) const {
  if (toBit <= fromBit) return 0;
  BitReader reader(reservoir_, reservoirFill_);
  reader.SetPosition(fromBit);
  const size_t bits = toBit - fromBit;
  const size_t bytes = (bits + 7) / 8;
  size_t written = 0;
  for (size_t i = 0; i < bytes; ++i) {
    const int n = static_cast<int>(std::min<size_t>(8, bits - i * 8));
    const uint8_t b = static_cast<uint8_t>(reader.Read(n) << (8 - n));
    if (written < capacity && out != nullptr) out[written++] = b;
  }
  return written;
}

size_t Layer3Decoder::TakeAncillary(uint32_t nextMainDataBegin, uint8_t* out, size_t capacity) {
  const size_t endBytes = reservoirFill_ > nextMainDataBegin ? reservoirFill_ - nextMainDataBegin : 0;
  return CopyBits(huffmanEndBit_, endBytes * 8, out, capacity);
}

size_t Layer3Decoder::FlushReservoir(uint8_t* out, size_t capacity) {
  const size_t n = CopyBits(0, reservoirFill_ * 8, out, capacity);
  Reset(false);
  return n;
}

}  // namespace mp3dec
