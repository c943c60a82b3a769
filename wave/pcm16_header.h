// The canonical 44-byte header of a 16-bit PCM WAVE file, written and
// patched on the runtime's buffered files by the decode pipelines, and the
// quick header scan used by the encode pipeline.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace kestrune {

inline constexpr long kPcm16HeaderSize = 44;

// 'RIFF', form size 0, 'WAVE', a 16-byte fmt chunk (PCM, 16 bits), 'data'
// with size 0; the samples follow. True when all 44 bytes were written.
bool WritePcm16Header(std::FILE* file, uint32_t sampleRate, uint16_t channels);

// Writes dataSize + 36 at offset 4 and dataSize at offset 40 (no pad byte).
bool PatchPcm16Header(std::FILE* file, uint32_t dataSize);

// Opens path ("rb") and checks for a 16-bit RIFF WAVE header with 'fmt ' at
// offset 12, then looks for the 'data' chunk byte by byte (at most 5000
// positions). Returns the file positioned at the first sample byte, or null
// (the file closed). Each output may be null.
std::FILE* ScanWaveHeader(const std::string& path, int* channels, uint32_t* sampleRate,
                          uint32_t* dataSize);

}  // namespace kestrune
