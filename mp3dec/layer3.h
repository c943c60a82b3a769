// Decoding of one Layer III frame: side information and its CRC, the
// main-data reservoir, the granule stages, concealment, synthesis.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mp3dec/conceal.h"
#include "mp3dec/hybrid.h"
#include "mp3dec/scalefactors.h"
#include "mp3dec/side_info.h"
#include "mp3dec/status.h"
#include "mp3dec/synthesis.h"
#include "mp3dec/sync.h"

namespace mp3dec {

class Layer3Decoder {
 public:
  Layer3Decoder() { Reset(true); }

  // Always empties the reservoir; full also clears the overlap, synthesis,
  // concealment state and spectra.
  void Reset(bool full);

  // frame holds the frame's bytes from its header on. Writes
  // granules * 576 sample frames of header.channels interleaved floats.
  // Returns kStatusOk, kStatusCrcError, kStatusNoMainData or
  // kStatusSideInfoDamaged.
  DecoderStatus DecodeFrame(const uint8_t* frame, const FrameHeader& header, float* pcm);

  // The bits between the end of the last granule's Huffman data and the
  // start of the next frame's main data (nextMainDataBegin bytes before the
  // end of the reservoir), as bytes; at most capacity are written.
  size_t TakeAncillary(uint32_t nextMainDataBegin, uint8_t* out, size_t capacity);
  // Every whole byte left in the reservoir (a partial last byte padded with
  // zero bits); empties the reservoir.
  size_t FlushReservoir(uint8_t* out, size_t capacity);

 private:
  static constexpr size_t kReservoirBytes = 2048;

  bool AppendMainData(const uint8_t* bytes, size_t count, uint32_t mainDataBegin);
  // Scale factors and Huffman data of every granule; false when the data
  // ran past the reservoir.
  bool ParseGranules(const FrameContext& frame, SideInfo& side);
  void ProcessGranule(const FrameContext& frame, SideInfo& side, int gr, bool crcFailed, float* pcm);
  void ConcealFrame(const FrameContext& frame, float* pcm);
  // One channel's granule through the hybrid filter bank and the synthesis
  // into granulePcm_[ch].
  void FilterAndSynthesise(const FrameContext& frame, int ch, const GranuleInfo& info, int activeSubbands);
  // The granule's samples of every channel, interleaved into out.
  void Interleave(const FrameContext& frame, float* out) const;
  size_t CopyBits(size_t fromBit, size_t toBit, uint8_t* out, size_t capacity) const;

  uint8_t reservoir_[kReservoirBytes] = {};
  size_t reservoirFill_ = 0;
  size_t huffmanEndBit_ = 0;  // in the reservoir, after the last granule

  ScaleFactors factors_[2][2];     // [granule][channel]
  int32_t quantised_[2][2][576];   // [granule][channel]
  int nonzeroLines_[2][2] = {};
  float spectrum_[2][576];
  SubbandBlock subbands_ = {};
  // One granule of samples per channel, before interleaving.
  float granulePcm_[2][576] = {};
  HybridState hybrid_[2];
  SynthesisFilter synthesis_[2];
  Concealer concealer_;
};

}  // namespace mp3dec
