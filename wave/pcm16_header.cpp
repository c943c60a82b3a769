#include "wave/pcm16_header.h"

#include <algorithm>

#include "wave/riff_ids.h"

namespace kestrune {

namespace {

constexpr int kScanLimit = 5000;

bool WriteLe32At(std::FILE* file, long position, uint32_t value) {
  uint8_t b[4];
  StoreLe32(b, value);
  return std::fseek(file, position, SEEK_SET) == 0 && std::fwrite(b, 1, 4, file) == 4;
}

}  // namespace

bool WritePcm16Header(std::FILE* file, uint32_t sampleRate, uint16_t channels) {
  if (file == nullptr) return false;
  uint8_t h[kPcm16HeaderSize] = {};
  StoreLe32(h + 0, kIdRiff);
  StoreLe32(h + 4, 0);
  StoreLe32(h + 8, kIdWave);
  StoreLe32(h + 12, kIdFmt);
  StoreLe32(h + 16, 16);
  StoreLe16(h + 20, 1);
  StoreLe16(h + 22, channels);
  StoreLe32(h + 24, sampleRate);
  StoreLe32(h + 28, sampleRate * channels * 2u);
  StoreLe16(h + 32, static_cast<uint16_t>(channels * 2u));
  StoreLe16(h + 34, 16);
  StoreLe32(h + 36, kIdData);
  StoreLe32(h + 40, 0);
  return std::fwrite(h, 1, sizeof h, file) == sizeof h;
}

bool PatchPcm16Header(std::FILE* file, uint32_t dataSize) {
  if (file == nullptr) return false;
  return WriteLe32At(file, 4, dataSize + 36u) && WriteLe32At(file, 40, dataSize);
}

std::FILE* ScanWaveHeader(const std::string& path, int* channels, uint32_t* sampleRate,
                          uint32_t* dataSize) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return nullptr;
  uint8_t h[36];
  if (std::fread(h, 1, sizeof h, file) != sizeof h || LoadLe32(h) != kIdRiff ||
      LoadLe32(h + 8) != kIdWave || LoadLe32(h + 12) != kIdFmt || LoadLe16(h + 34) != 16) {
    std::fclose(file);
    return nullptr;
  }
  const uint32_t riffSize = LoadLe32(h + 4);
  const int64_t tries = std::min<int64_t>(kScanLimit, int64_t{riffSize} - 36);
  bool found = false;
  for (int64_t i = 0; i < tries; ++i) {
    uint8_t id[4];
    if (std::fread(id, 1, 4, file) != 4) break;
    if (LoadLe32(id) == kIdData) {
      found = true;
      break;
    }
    if (std::fseek(file, -3, SEEK_CUR) != 0) break;
  }
  uint8_t size[4];
  if (!found || std::fread(size, 1, 4, file) != 4) {
    std::fclose(file);
    return nullptr;
  }
  if (channels != nullptr) *channels = static_cast<int16_t>(LoadLe16(h + 22));
  if (sampleRate != nullptr) *sampleRate = LoadLe32(h + 24);
  if (dataSize != nullptr) *dataSize = LoadLe32(size);
  return file;
}

}  // namespace kestrune
