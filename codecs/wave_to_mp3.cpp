#include "codecs/wave_to_mp3.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <new>
#include <vector>

#include "mp3enc/mp3s_enc.h"
#include "wave/pcm16_header.h"

namespace kestrune {
namespace {

// 1 / 32768: 16-bit PCM to floats of full scale +-1.0.
constexpr float kPcm16ToFloat = 3.0517578125e-05f;

// The encoder's bit rate for a rate in kbit/s; values beyond the 32-bit
// range are clamped (the encoder refuses them anyway).
int32_t BitRateOf(int32_t kbps) {
  const int64_t bps = int64_t{kbps} * 1000;
  return static_cast<int32_t>(std::clamp<int64_t>(bps, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// Reads up to count little-endian 16-bit samples as floats; returns how
// many whole samples were read (0 at the end of the file or on an error).
int32_t ReadSamples(std::FILE* in, std::vector<uint8_t>& bytes, int32_t count, float* out) {
  if (count <= 0) return 0;
  const size_t got = std::fread(bytes.data(), 2, static_cast<size_t>(count), in);
  for (size_t i = 0; i < got; ++i) {
    const auto v = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i]) |
                                        static_cast<uint16_t>(bytes[2 * i + 1] << 8));
    out[i] = static_cast<float>(v) * kPcm16ToFloat;
  }
  return static_cast<int32_t>(got);
}

}  // namespace

WaveToMp3::~WaveToMp3() { StopJob(); }

bool WaveToMp3::SetBitRate(int32_t kbps) {
  if (kbps == bitRateKbps_) return false;
  bitRateKbps_ = kbps;
  return true;
}

bool WaveToMp3::SetQualityLevel(int32_t level) {
  if (level == qualityLevel_) return false;
  qualityLevel_ = level;
  return true;
}

bool WaveToMp3::SetRatePolicy(int32_t policy) {
  if (policy == ratePolicy_) return false;
  ratePolicy_ = policy;
  return true;
}

void WaveToMp3::Run(ConversionJob& job) {
  SetProgress(0.0);
  failed_ = false;
  int channels = 0;
  uint32_t sampleRate = 0;
  uint32_t dataSize = 0;
  std::FILE* in = ScanWaveHeader(InputPath(), &channels, &sampleRate, &dataSize);
  if (in == nullptr) {
    failed_ = true;
    return;
  }
  std::FILE* out = std::fopen(OutputPath().c_str(), "wb");
  if (out == nullptr) {
    failed_ = true;
    std::fclose(in);
    return;
  }

  const int32_t bitRate = qualityLevel_ != 0 ? 0 : BitRateOf(bitRateKbps_);
  const int32_t rate = static_cast<int32_t>(std::min<uint32_t>(
      sampleRate, static_cast<uint32_t>(std::numeric_limits<int32_t>::max())));
  Mp3sEncHandle encoder = nullptr;
  int32_t blockSize = 0;
  if (Mp3sEncOpen(&encoder, rate, bitRate, channels, ratePolicy_, qualityLevel_) != 0) {
    failed_ = true;
  } else if (Mp3sEncPrepare(encoder, &blockSize) != 0) {
    failed_ = true;  // the failed preparation has released the handle
  } else {
    // The float buffer holds at least a whole staging block: the encoder
    // never asks for more than the first block's size.
    std::vector<uint8_t> pcm;
    std::vector<float> samples;
    std::vector<uint8_t> bytes;
    try {
      pcm.resize(static_cast<size_t>(blockSize) * 2);
      samples.resize(static_cast<size_t>(std::max(kFloatBufferSamples, blockSize)));
      bytes.resize(kOutputBufferBytes);
    } catch (const std::bad_alloc&) {
      failed_ = true;
    }
    Mp3sEncInfo info{};
    if (!failed_) {
      Mp3sEncGetInfo(&info, encoder);
      Mp3sEncGetAncillaryBytes(encoder);
      if (Mp3sEncSetOption(encoder, 0) != 0) failed_ = true;
    }
    const int32_t maxBlock = blockSize;
    uint64_t bytesRead = 0;
    int32_t lastRead = 0;
    int32_t pending = 0;
    while (!failed_ && !job.stopRequested.load()) {
      const long position = std::ftell(in);
      if (position >= 0 && dataSize != 0) {
        SetProgress(static_cast<double>(position) / static_cast<double>(dataSize));
      }
      if (pending == 0) {
        int64_t n = std::min(blockSize, maxBlock);
        if (n * 2 + static_cast<int64_t>(bytesRead) > int64_t{dataSize}) {
          n = (int64_t{dataSize} - static_cast<int64_t>(bytesRead)) / 2;
          blockSize = static_cast<int32_t>(n);
        }
        lastRead = ReadSamples(in, pcm, static_cast<int32_t>(n), samples.data());
        bytesRead += static_cast<uint64_t>(lastRead) * 2;
        pending = lastRead;
      }
      int32_t outBytes = 0;
      const int32_t status =
          Mp3sEncEncode(encoder, samples.data() + (lastRead - pending), &pending, &blockSize,
                        kOutputBufferBytes, bytes.data(), &outBytes);
      if (status != 0) {
        SetProgress(1.0);
        break;
      }
      if (outBytes == 0 && lastRead == 0) {
        SetProgress(1.0);  // the flush has drained
        break;
      }
      if (std::fwrite(bytes.data(), 1, static_cast<size_t>(outBytes), out) !=
          static_cast<size_t>(outBytes)) {
        failed_ = true;  // e.g. the disk is full; what was written stays
      }
    }
    Mp3sEncClose(encoder);
  }
  if (std::fclose(out) != 0) failed_ = true;
  std::fclose(in);
}

}  // namespace kestrune
