// MPEG audio to 16-bit WAVE: the input read in 8192-byte chunks with ID3
// tags skipped, decoded by the Layer III decoder library, converted from
// float to 16-bit samples behind the canonical 44-byte header, whose sizes
// are patched at the end.
#pragma once

#include <cstdint>

#include "base/conversion.h"
#include "mp3dec/mp3dec.h"

namespace kestrune {

class Mp3ToWave : public Conversion {
 public:
  static constexpr size_t kChunkBytes = 8192;

  Mp3ToWave();
  ~Mp3ToWave() override;

  // True once a run (or the construction) has failed.
  bool Failed() const { return failed_ != 0; }
  const Mp3sDecLibInfo& LibInfo() const { return libInfo_; }

 protected:
  void Run(ConversionJob& job) override;

 private:
  void ReleaseDecoder();

  Mp3sDecLibInfo libInfo_{};
  Mp3sDecHandle decoder_ = nullptr;
  uint8_t failed_ = 0;
};

// Each value times 32768, clamped to -32768..32767 and rounded to the
// nearest integer, ties to even.
void FloatToPcm16(int16_t* destination, const float* source, size_t count);

}  // namespace kestrune
