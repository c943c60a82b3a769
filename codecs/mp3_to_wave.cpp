#include "codecs/mp3_to_wave.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "wave/pcm16_header.h"

namespace kestrune {
namespace {

// Owns a stdio file for the length of a run.
class StdioFile {
 public:
  StdioFile(const std::string& path, const char* mode) : file_(std::fopen(path.c_str(), mode)) {}
  ~StdioFile() {
    if (file_ != nullptr) std::fclose(file_);
  }
  StdioFile(const StdioFile&) = delete;
  StdioFile& operator=(const StdioFile&) = delete;
  std::FILE* get() const { return file_; }

 private:
  std::FILE* file_;
};

// Where the MPEG data of the file lies: after an ID3v2 tag, before an ID3v1
// tag.
struct AudioRange {
  uint64_t start = 0;
  uint64_t fileSize = 0;
  uint64_t id3v1Position = 0;  // 0: no ID3v1 tag
};

AudioRange FindAudio(std::FILE* in) {
  AudioRange r;
  unsigned char head[10] = {};
  if (std::fread(head, 1, 10, in) == 10 && head[0] == 'I' && head[1] == 'D' && head[2] == '3') {
    // Size: 28 bits, 7 per byte, most significant first.
    const uint64_t size = static_cast<uint64_t>(head[6] & 0x7F) << 21 | (head[7] & 0x7F) << 14 |
                          (head[8] & 0x7F) << 7 | (head[9] & 0x7F);
    r.start = 10 + size;
  }
  std::fseek(in, 0, SEEK_END);
  const long end = std::ftell(in);
  r.fileSize = end > 0 ? static_cast<uint64_t>(end) : 0;
  if (r.fileSize >= 128 && std::fseek(in, static_cast<long>(r.fileSize - 128), SEEK_SET) == 0) {
    unsigned char tag[3] = {};
    if (std::fread(tag, 1, 3, in) == 3 && tag[0] == 'T' && tag[1] == 'A' && tag[2] == 'G') {
      r.id3v1Position = r.fileSize - 128;
    }
  }
  std::fseek(in, static_cast<long>(r.start), SEEK_SET);
  return r;
}

// The output's stdio buffer: a few decoded frames per write call instead of
// one or two calls per frame.
constexpr size_t kOutputBufferBytes = 64 * 1024;

bool WriteSamples(std::FILE* out, const int16_t* samples, size_t count) {
  if constexpr (std::endian::native == std::endian::little) {
    return std::fwrite(samples, 2, count, out) == count;
  } else {
    unsigned char bytes[2 * kMp3sDecMaxOutputFloats];
    for (size_t i = 0; i < count; ++i) {  // little-endian whatever the machine
      const uint16_t v = static_cast<uint16_t>(samples[i]);
      bytes[2 * i] = static_cast<unsigned char>(v);
      bytes[2 * i + 1] = static_cast<unsigned char>(v >> 8);
    }
    return std::fwrite(bytes, 1, 2 * count, out) == 2 * count;
  }
}

}  // namespace

void FloatToPcm16(int16_t* destination, const float* source, size_t count) {
  size_t i = 0;
#if defined(__SSE2__)
  // Eight samples a step: clamp, convert with the rounding mode of the
  // floating-point unit (to nearest, ties to even, by default) and pack to
  // 16 bits.
  const __m128 scale = _mm_set1_ps(32768.0f);
  const __m128 low = _mm_set1_ps(-32768.0f);
  const __m128 high = _mm_set1_ps(32767.0f);
  for (; i + 8 <= count; i += 8) {
    const __m128 a = _mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_loadu_ps(source + i), scale), low), high);
    const __m128 b = _mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_loadu_ps(source + i + 4), scale), low), high);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + i),
                     _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b)));
  }
#endif
  // Adding and removing 1.5 * 2^23 leaves a float of magnitude below 2^22
  // rounded to an integer by the same default mode.
  constexpr float kRounder = 12582912.0f;
  for (; i < count; ++i) {
    float v = source[i] * 32768.0f;
    if (!(v >= -32768.0f)) v = -32768.0f;  // also a NaN, as the vector path does
    if (v > 32767.0f) v = 32767.0f;
    destination[i] = static_cast<int16_t>((v + kRounder) - kRounder);
  }
}

Mp3ToWave::Mp3ToWave() {
  Mp3sDecGetLibInfo(&libInfo_);
  if (Mp3sDecOpen(&decoder_, 0) != kMp3sDecSuccess) failed_ = 1;
}

Mp3ToWave::~Mp3ToWave() {
  StopJob();
  ReleaseDecoder();
}

void Mp3ToWave::ReleaseDecoder() {
  Mp3sDecClose(decoder_);
  decoder_ = nullptr;
}

void Mp3ToWave::Run(ConversionJob& job) {
  SetProgress(0.0);
  StdioFile input(InputPath(), "rb");
  if (input.get() == nullptr) {
    failed_ = 1;
    return;
  }
  const AudioRange range = FindAudio(input.get());
  // The buffer is ours: the C library ignores a size given without one and
  // would write in pieces of the file system's block size. Declared before
  // the file so that it outlives the final flush.
  std::vector<char> outputBuffer(kOutputBufferBytes);
  StdioFile output(OutputPath(), "wb");
  if (output.get() == nullptr) {
    failed_ = 1;
    return;
  }
  std::setvbuf(output.get(), outputBuffer.data(), _IOFBF, outputBuffer.size());
  ReleaseDecoder();
  if (Mp3sDecOpen(&decoder_, 0) != kMp3sDecSuccess) {
    failed_ = 1;
    return;
  }

  std::vector<uint8_t> chunk(kChunkBytes);
  std::vector<float> decoded(kMp3sDecMaxOutputFloats);
  std::vector<int16_t> pcm(kMp3sDecMaxOutputFloats);
  std::vector<uint8_t> ancillary(4096);

  // The first chunk initialises the decoder and is read again by the loop.
  const size_t firstLength = std::fread(chunk.data(), 1, kChunkBytes, input.get());
  uint64_t audioBytes = range.fileSize > range.start ? range.fileSize - range.start : 0;
  if (range.id3v1Position != 0) audioBytes = audioBytes >= 128 ? audioBytes - 128 : 0;
  std::fseek(input.get(), static_cast<long>(range.start), SEEK_SET);
  if (Mp3sDecInit(decoder_, chunk.data(), static_cast<uint32_t>(firstLength), static_cast<uint32_t>(audioBytes), 1,
                  1) != kMp3sDecSuccess) {
    failed_ = 1;
    return;
  }
  Mp3sDecStreamInfo info;
  Mp3sDecGetInfo(&info, decoder_);
  if (!WritePcm16Header(output.get(), info.values[kMp3sDecInfoSampleRate],
                        static_cast<uint16_t>(info.values[kMp3sDecInfoChannelsOut]))) {
    failed_ = 1;
    return;
  }
  if (info.values[kMp3sDecInfoTrimRecord] == 1 && Mp3sDecEnableTrim(decoder_, 0) != kMp3sDecSuccess) {
    failed_ = 1;
    return;
  }
  if ((info.values[kMp3sDecInfoOutputFlags] & 8) != 0) {
    failed_ = 1;
    return;
  }

  uint64_t position = range.start;
  size_t chunkSize = kChunkBytes;
  size_t chunkLength = 0;
  size_t used = 0;
  uint64_t dataBytes = 0;
  // The float buffer is cleared before every decode step. The decoder writes
  // only the floats it reports, so only those can be nonzero after a step
  // and only they are cleared again: the buffer is all zeros either way.
  size_t dirtyFloats = decoded.size();
  while (Mp3sDecIsFinished(decoder_) == 0) {
    if (job.stopRequested.load()) return;  // the header keeps its zero sizes
    if (used == chunkLength) {
      if (range.id3v1Position != 0 && position + chunkSize >= range.id3v1Position) {
        chunkSize = range.id3v1Position > position ? static_cast<size_t>(range.id3v1Position - position) : 0;
      }
      chunkLength = std::fread(chunk.data(), 1, chunkSize, input.get());
      position += chunkLength;
      if (chunkLength < kChunkBytes) Mp3sDecSetEndOfInput(decoder_);
      used = 0;
    }
    if (audioBytes != 0) SetProgress(static_cast<double>(position) / static_cast<double>(audioBytes));
    std::fill_n(decoded.begin(), dirtyFloats, 0.0f);
    dirtyFloats = 0;
    uint32_t consumed = 0, written = 0, flags = 0;
    uint32_t ancillaryCount = static_cast<uint32_t>(ancillary.size());
    const int result = Mp3sDecDecode(decoder_, chunk.data() + used, static_cast<uint32_t>(chunkLength - used),
                                     &consumed, decoded.data(), static_cast<uint32_t>(decoded.size()), &written,
                                     &flags, 0, 0, ancillary.data(), &ancillaryCount);
    dirtyFloats = std::min<size_t>(written, decoded.size());
    if (result == kMp3sDecEndOfStream) continue;
    if (result != kMp3sDecSuccess && result != kMp3sDecConcealedNoMainData &&
        result != kMp3sDecConcealedSideInfo) {
      failed_ = 1;
      return;
    }
    if (result == kMp3sDecSuccess && written != 0) {
      FloatToPcm16(pcm.data(), decoded.data(), written);
      if (!WriteSamples(output.get(), pcm.data(), written)) {
        failed_ = 1;
        return;
      }
      dataBytes += 2u * written;
    }
    used += consumed;
  }
  if (!PatchPcm16Header(output.get(), static_cast<uint32_t>(dataBytes))) failed_ = 1;
  ReleaseDecoder();
}

}  // namespace kestrune
