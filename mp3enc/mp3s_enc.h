// MPEG audio Layer III encoder: the C-style interface.
//
// Calling order: Mp3sEncOpen, Mp3sEncPrepare, Mp3sEncGetInfo,
// Mp3sEncGetAncillaryBytes, Mp3sEncSetOption, Mp3sEncEncode repeatedly
// (a call with a sample count of 0 flushes; repeat it until it returns no
// bytes), Mp3sEncClose. All operations return a status; 0 is success.
//
// Samples are interleaved floats, full scale +-1.0. Output is a bare
// sequence of Layer III frames (ISO/IEC 11172-3, ISO/IEC 13818-3 and the
// 8/11.025/12 kHz extension of the latter) without tags.
#pragma once

#include <cstdint>

struct Mp3sEncObject;
typedef Mp3sEncObject* Mp3sEncHandle;

enum Mp3sEncStatus : int32_t {
  MP3SENC_OK = 0,
  MP3SENC_OUT_OF_MEMORY = 1,       // open
  MP3SENC_INVALID_PARAMETER = 2,   // open: request refused; prepare: core refused
  MP3SENC_INIT_FAILED = 3,         // open: converter or core version
  MP3SENC_INVALID_HANDLE = 4,      // invalid handle or option; encode failure
  MP3SENC_NO_MULTICHANNEL = 5,     // open: six channels are not available
};

// Stream information, six 32-bit values.
struct Mp3sEncInfo {
  float bandwidth;          // Hz
  int32_t sampleRate;       // output rate, Hz
  int32_t delay;            // samples per channel: converter + core
  int32_t inputChannels;
  int32_t encodedChannels;
  int32_t outputBufferNeed; // most bytes one encode call can produce
};
static_assert(sizeof(Mp3sEncInfo) == 24, "six 32-bit values");

// The library-information record: four zero-padded 32-byte text fields.
struct Mp3sEncLibInfo {
  char name[32];
  char version[32];
  char date[32];
  char buildDate[32];
};
const Mp3sEncLibInfo* Mp3sEncGetLibInfo();

// Validates the request and chooses output rate, bandwidth and converter.
// bitRate in bits/s (0 with a quality level); channels 1, 2 or 6;
// ratePolicy 0 (wide output-rate range) or 1 (narrow); qualityLevel 0 for a
// constant bit rate or 1..5 for a variable one (1 best). *handle is null
// after any failure.
int32_t Mp3sEncOpen(Mp3sEncHandle* handle, int32_t inputRate, int32_t bitRate,
                    int32_t channels, int32_t ratePolicy, int32_t qualityLevel);

// Creates the core and gives the number of interleaved input samples that
// completes the first staging block. On failure the handle is released and
// must not be used again, close included.
int32_t Mp3sEncPrepare(Mp3sEncHandle handle, int32_t* blockSize);

int32_t Mp3sEncGetInfo(Mp3sEncInfo* info, Mp3sEncHandle handle);

// Ancillary-data room per frame, in bytes (0 for an invalid handle).
int32_t Mp3sEncGetAncillaryBytes(Mp3sEncHandle handle);

// 0: nothing; 1: count the input samples. Anything else: status 4.
int32_t Mp3sEncSetOption(Mp3sEncHandle handle, int32_t option);

// Takes up to *sampleCount interleaved samples (scaling them to +-32768 in
// place, in the caller's array), lowers *sampleCount by what it took and
// writes whole frames to out. *nextBlock receives how many samples complete
// the current staging block. *sampleCount == 0 starts or continues the
// flush; a flush call that writes nothing marks the end of the stream.
int32_t Mp3sEncEncode(Mp3sEncHandle handle, float* samples, int32_t* sampleCount,
                      int32_t* nextBlock, int32_t outCapacity, uint8_t* out,
                      int32_t* outBytes);

// Releases everything. A null or invalid handle is ignored (status 0).
int32_t Mp3sEncClose(Mp3sEncHandle handle);
