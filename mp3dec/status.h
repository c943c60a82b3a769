// Decoder status codes. The top two bits give the class: 00 success,
// 01 information (a frame was produced, possibly concealed), 10 warning (no
// frame this call), 11 error (fatal for the handle).
#pragma once

#include <cstdint>

namespace mp3dec {

using DecoderStatus = uint32_t;

inline constexpr DecoderStatus kStatusOk = 0x00000000;
inline constexpr DecoderStatus kStatusBadParameter = 0xC0000001;
inline constexpr DecoderStatus kStatusNoMemory = 0xC0000002;
inline constexpr DecoderStatus kStatusInvalidHandle = 0xC0000003;
inline constexpr DecoderStatus kStatusCrcError = 0x41010001;
inline constexpr DecoderStatus kStatusNoMainData = 0x41010002;
inline constexpr DecoderStatus kStatusSideInfoDamaged = 0x41010003;
inline constexpr DecoderStatus kStatusAncillaryPending = 0x41010004;
inline constexpr DecoderStatus kStatusGenericError = 0xC1010001;
inline constexpr DecoderStatus kStatusWrongLayer = 0xC1010002;
inline constexpr DecoderStatus kStatusBufferTooSmall = 0xC1010003;
inline constexpr DecoderStatus kSyncSearched = 0x81010001;
inline constexpr DecoderStatus kSyncLost = 0x81010002;
inline constexpr DecoderStatus kSyncNeedData = 0x81010003;
inline constexpr DecoderStatus kSyncEof = 0x81010004;

constexpr bool IsError(DecoderStatus s) { return (s >> 30) == 3; }
constexpr bool IsWarning(DecoderStatus s) { return (s >> 30) == 2; }
constexpr bool IsInformation(DecoderStatus s) { return (s >> 30) == 1; }

const char* StatusMessage(DecoderStatus status);

}  // namespace mp3dec
