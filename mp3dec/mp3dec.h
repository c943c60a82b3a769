// MPEG audio Layer III decoder library: a C-style handle interface over the
// frame decoder. Decodes MPEG-1, MPEG-2 and MPEG-2.5 Layer III streams
// (ISO/IEC 11172-3, ISO/IEC 13818-3) to interleaved 32-bit float PCM with full
// scale +-1.0. Every operation returns a small integer status (0 = success).
#pragma once

#include <cstdint>

struct Mp3sDecInstance;
using Mp3sDecHandle = Mp3sDecInstance*;

// Results of the interface operations.
enum Mp3sDecResult : int {
  kMp3sDecSuccess = 0,
  kMp3sDecOutOfMemory = 1,
  kMp3sDecCreateFailed = 2,       // Open: decoder parts could not be made
  kMp3sDecTooManyBytes = 2,       // Init: more than kMp3sDecMaxInitBytes
  kMp3sDecNoFrame = 4,            // Init: no synchronised frame in the bytes
  kMp3sDecInvalidHandle = 8,      // also: a fatal error killed the handle
  kMp3sDecConcealedNoMainData = 12,
  kMp3sDecMultichannelUnavailable = 14,
  kMp3sDecEndOfStream = 15,
  kMp3sDecMultichannelUnsupported = 16,
  kMp3sDecConcealedSideInfo = 17,
};

inline constexpr uint32_t kMp3sDecMaxInitBytes = 32768;
// Floats one decode call may write: 1152 sample frames of two channels.
inline constexpr uint32_t kMp3sDecMaxOutputFloats = 2304;

// Date (first 20 bytes) and version (next 20 bytes) of the library.
struct Mp3sDecLibInfo {
  uint32_t words[10];
};

// The stream description filled by Mp3sDecInit and refreshed by
// Mp3sDecGetInfo.
enum Mp3sDecInfoIndex : int {
  kMp3sDecInfoBitRate = 0,          // average bit rate, bits/s
  kMp3sDecInfoChannels = 1,
  kMp3sDecInfoChannelsOut = 2,
  kMp3sDecInfoSampleRate = 3,
  kMp3sDecInfoDurationMs = 4,       // 0 when unknown
  kMp3sDecInfoVariableRate = 5,
  kMp3sDecInfoFrameCountKnown = 6,  // a Xing or VBRI record was found
  kMp3sDecInfoSeekable = 7,
  kMp3sDecInfoOutputFlags = 8,
  kMp3sDecInfoReserved = 9,
  kMp3sDecInfoTrimRecord = 10,      // a delay/padding record was found
};

struct Mp3sDecStreamInfo {
  uint32_t values[11];
};

// mode 0 is plain mono/stereo decoding; any other mode asks for a
// multichannel extension that is not available (result 14, the handle still
// decodes as mode 0).
int Mp3sDecOpen(Mp3sDecHandle* handle, int mode);

// Analyses the first bytes of the stream (at most 32768) and probes its first
// frames; audioBytes is the length of the whole stream (0 when unknown).
int Mp3sDecInit(Mp3sDecHandle handle, const uint8_t* bytes, uint32_t count, uint32_t audioBytes,
                int analyse, int probe);

// Copies the refreshed stream description; zeros for an invalid handle.
void Mp3sDecGetInfo(Mp3sDecStreamInfo* info, Mp3sDecHandle handle);

int Mp3sDecEnableTrim(Mp3sDecHandle handle, int flag);

// Consumes what fits of the input, decodes at most one frame and writes its
// samples interleaved to output, which must hold kMp3sDecMaxOutputFloats.
// ancillaryCount is in/out: the ancillary buffer's capacity in, the bytes
// written out (bytes beyond the capacity are dropped).
int Mp3sDecDecode(Mp3sDecHandle handle, const uint8_t* input, uint32_t inputCount,
                  uint32_t* consumed, float* output, uint32_t outputCapacity, uint32_t* written,
                  uint32_t* outputFlags, uint32_t reserved1, uint32_t reserved2, uint8_t* ancillary,
                  uint32_t* ancillaryCount);

int Mp3sDecSetEndOfInput(Mp3sDecHandle handle);
int Mp3sDecIsFinished(Mp3sDecHandle handle);
void Mp3sDecGetLibInfo(Mp3sDecLibInfo* info);

// Releases the handle and everything it owns; a null handle is ignored.
void Mp3sDecClose(Mp3sDecHandle handle);

// The message of a decoder status code ("(Mp3Ssc) ...").
const char* Mp3sDecStatusMessage(uint32_t status);
