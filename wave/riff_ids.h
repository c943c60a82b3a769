// Four-character chunk identifiers, held as little-endian 32-bit values (the
// first character in the lowest byte, as the bytes stand in the file), and
// the little-endian field helpers used by the readers and writers.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace kestrune {

constexpr uint32_t MakeFourCc(const char (&text)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[3])) << 24;
}

inline constexpr uint32_t kIdRiff = MakeFourCc("RIFF");
inline constexpr uint32_t kIdRf64 = MakeFourCc("RF64");
inline constexpr uint32_t kIdWave = MakeFourCc("WAVE");
inline constexpr uint32_t kIdFmt = MakeFourCc("fmt ");
inline constexpr uint32_t kIdData = MakeFourCc("data");
inline constexpr uint32_t kIdDs64 = MakeFourCc("ds64");
inline constexpr uint32_t kIdList = MakeFourCc("LIST");
inline constexpr uint32_t kIdInfo = MakeFourCc("INFO");
inline constexpr uint32_t kIdBext = MakeFourCc("bext");

static_assert(kIdRiff == 0x46464952u, "'RIFF' reads as 52 49 46 46 in the file");

// The four characters of an identifier in file order.
inline std::string FourCcText(uint32_t id) {
  std::string text(4, '\0');
  for (int i = 0; i < 4; ++i) text[i] = static_cast<char>((id >> (8 * i)) & 0xFF);
  return text;
}

inline uint16_t LoadLe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t LoadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint64_t LoadLe64(const uint8_t* p) {
  return static_cast<uint64_t>(LoadLe32(p)) |
         static_cast<uint64_t>(LoadLe32(p + 4)) << 32;
}
inline void StoreLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void StoreLe64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace kestrune
