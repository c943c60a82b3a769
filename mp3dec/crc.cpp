#include "mp3dec/crc.h"

#include <array>

namespace mp3dec {
namespace {

constexpr std::array<uint16_t, 256> MakeCrc16Table() {
  std::array<uint16_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i << 8;
    for (int b = 0; b < 8; ++b) crc = ((crc & 0x8000) ? ((crc << 1) ^ 0x8005) : (crc << 1)) & 0xFFFF;
    t[i] = static_cast<uint16_t>(crc);
  }
  return t;
}

constexpr std::array<uint8_t, 256> MakeCrc8Table() {
  std::array<uint8_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i;
    for (int b = 0; b < 8; ++b) crc = ((crc & 0x80) ? ((crc << 1) ^ 0x45) : (crc << 1)) & 0xFF;
    t[i] = static_cast<uint8_t>(crc);
  }
  return t;
}

constexpr auto kCrc16Table = MakeCrc16Table();
constexpr auto kCrc8Table = MakeCrc8Table();
static_assert(kCrc16Table[1] == 0x8005 && kCrc16Table[255] == 0x0202);
static_assert(kCrc8Table[1] == 0x45 && kCrc8Table[255] == 0x33);

}  // namespace

uint16_t Crc16Update(uint16_t crc, const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    crc = static_cast<uint16_t>((crc << 8) ^ kCrc16Table[((crc >> 8) ^ bytes[i]) & 0xFF]);
  }
  return crc;
}

uint8_t Crc8(const uint8_t* bytes, size_t count) {
  uint8_t crc = 0xFF;
  for (size_t i = 0; i < count; ++i) crc = kCrc8Table[crc ^ bytes[i]];
  return crc;
}

}  // namespace mp3dec
