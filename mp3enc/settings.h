// Configuration record of the Layer III encoder core, filled by the outer
// interface (Mp3sEncOpen) and handed to the core when it is created.
#pragma once

#include <cstdint>

// 25 signed 32-bit fields; field 4 is a float. Zero-filled before use.
struct Mp3sEncSettings {
  int32_t sampleRate;         // 0: output rate in Hz (one of the nine MPEG rates)
  int32_t bitRate;            // 1: bits/s for CBR; 0 in VBR
  int32_t inputChannels;      // 2: 1 or 2
  int32_t encodedChannels;    // 3: 1 or 2, not above inputChannels; 1 = mono frames
  float bandwidth;            // 4: Hz; 0 lets the core derive a default
  int32_t plainStereo;        // 5: nonzero = left/right instead of joint stereo
  int32_t vbr;                // 6: nonzero = variable bit rate
  int32_t vbrQuality;         // 7: 0..100 when vbr is set (100 best)
  int32_t reserved8;          // 8
  int32_t jointStereoForced;  // 9: must be 0 with dualChannel
  int32_t paddingBehaviour;   // 10: reserved, 1 from the outer layer
  int32_t crcProtection;      // 11: header flags ...
  int32_t privateBit;         // 12
  int32_t copyrightBit;       // 13
  int32_t originalBit;        // 14
  int32_t reserved15;         // 15
  int32_t dualChannel;        // 16: with plainStereo: dual-channel frames
  int32_t reserved17;         // 17: 16 from the outer layer
  int32_t ancillaryMode;      // 18: 0 raw bytes, 1 wrapped block (+24 bits room)
  int32_t ancillaryBitRate;   // 19: bits/s
  int32_t secondRateFlag;     // 20: must be set whenever field 21 is nonzero
  int32_t secondBitRate;      // 21
  int32_t reserved22;         // 22: the core uses 3 when 0
  int32_t reserved23;         // 23
  int32_t tablePointer;       // 24: 0 = the core allocates its own table
};
static_assert(sizeof(Mp3sEncSettings) == 25 * 4, "25 32-bit fields");
