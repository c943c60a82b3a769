// The two checksums of the decoder: CRC-16 of the frame header and side
// information (ISO/IEC 11172-3 2.4.3.1, polynomial 0x8005, start 0xFFFF) and
// CRC-8 of delay/padding records (polynomial 0x45, start 0xFF). Both run
// most significant bit first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mp3dec {

uint16_t Crc16Update(uint16_t crc, const uint8_t* bytes, size_t count);
uint8_t Crc8(const uint8_t* bytes, size_t count);

}  // namespace mp3dec
