#include "codecs/ogg_decode.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "codecs/ogg_output.h"
#include "codecs/ogg_report.h"

namespace kestrune {

namespace {

using vorbis_abi::OggInt64;
using vorbis_abi::OggVorbisFile;
using vorbis_abi::OvCallbacks;

constexpr int kReadBytes = 4096;
// The largest data size that leaves room for the RIFF header in 32 bits.
constexpr int64_t kMaxDataBytes = 0xFFFFFF00;
constexpr size_t kHeaderBytes = 44;

// The data source handed to the file decoder is the runtime's FILE.
size_t ReadSource(void* ptr, size_t size, size_t count, void* source) {
  return std::fread(ptr, size, count, static_cast<std::FILE*>(source));
}

int SeekSource(void* source, OggInt64 offset, int whence) {
  if (source == nullptr) return -1;
  auto* file = static_cast<std::FILE*>(source);
#if defined(_WIN32)
  return _fseeki64(file, offset, whence);
#else
  return fseeko(file, static_cast<off_t>(offset), whence);
#endif
}

int CloseSource(void* source) { return std::fclose(static_cast<std::FILE*>(source)); }

long TellSource(void* source) { return std::ftell(static_cast<std::FILE*>(source)); }

void PutLe(uint8_t* at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

// The canonical header of a 16-bit PCM WAVE file (RIFF, a 16-byte fmt chunk
// with format tag 1, the data chunk), its sizes filled in.
std::array<uint8_t, kHeaderBytes> Pcm16Header(uint32_t rate, uint16_t channels,
                                              uint32_t dataBytes) {
  std::array<uint8_t, kHeaderBytes> h{};
  std::memcpy(&h[0], "RIFF", 4);
  PutLe(&h[4], dataBytes + 36, 4);
  std::memcpy(&h[8], "WAVEfmt ", 8);
  PutLe(&h[16], 16, 4);
  PutLe(&h[20], 1, 2);
  PutLe(&h[22], channels, 2);
  PutLe(&h[24], rate, 4);
  PutLe(&h[28], rate * channels * 2u, 4);
  PutLe(&h[32], channels * 2u, 2);
  PutLe(&h[34], 16, 2);
  std::memcpy(&h[36], "data", 4);
  PutLe(&h[40], dataBytes, 4);
  return h;
}

// The opened file decoder; ov_clear runs on every path, also after a
// refused open (the state is zeroed first, which makes that safe).
class FileDecoder {
 public:
  explicit FileDecoder(const VorbisDecodeApi& api) : api_(api) {
    std::memset(&state_, 0, sizeof state_);
  }
  ~FileDecoder() {
    api_.ovClear(&state_);
    // A refused open leaves the source to its caller.
    if (source_ != nullptr) std::fclose(source_);
  }
  FileDecoder(const FileDecoder&) = delete;
  FileDecoder& operator=(const FileDecoder&) = delete;

  OggStatus Open(const std::string& path) {
    source_ = std::fopen(path.c_str(), "rb");
    if (source_ == nullptr) return OggStatus::kInputFailed;
    const OvCallbacks callbacks{&ReadSource, &SeekSource, &CloseSource, &TellSource};
    if (api_.ovOpenCallbacks(source_, &state_, nullptr, 0, callbacks) != 0) {
      return OggStatus::kNotVorbis;
    }
    source_ = nullptr;  // the decoder closes it in ov_clear
    return OggStatus::kOk;
  }
  OggVorbisFile* state() { return &state_; }

 private:
  const VorbisDecodeApi& api_;
  OggVorbisFile state_;
  std::FILE* source_ = nullptr;
};

OggStatus DecodeOpened(const VorbisDecodeApi& api, OggVorbisFile* vf, OggOutputFile& out,
                       const std::function<void(double)>& progress) {
  const vorbis_abi::VorbisInfo* info = api.ovInfo(vf, -1);
  const OggInt64 frames = api.ovPcmTotal(vf, -1);
  if (info == nullptr || info->channels < 1 || info->channels > 0xFFFF || info->rate < 1 ||
      info->rate > 0x7FFFFFFF) {
    return OggStatus::kNotVorbis;
  }
  // A negative total is the decoder's error code (no length known).
  if (frames < 0) return OggStatus::kNotVorbis;
  // frames * channels * 2 in 64 bits, without overflow.
  if (frames > kMaxDataBytes) return OggStatus::kTooLarge;
  const int64_t dataBytes = frames * info->channels * 2;
  if (dataBytes > kMaxDataBytes) return OggStatus::kTooLarge;

  const auto header = Pcm16Header(static_cast<uint32_t>(info->rate),
                                  static_cast<uint16_t>(info->channels),
                                  static_cast<uint32_t>(dataBytes));
  if (!out.Write(header.data(), header.size())) return OggStatus::kWriteFailed;

  std::array<char, kReadBytes> block;
  int64_t written = 0;
  int section = 0;
  for (;;) {
    // Little-endian, 16-bit, signed. A negative count (a hole or damaged
    // data) ends the decoding like the end of the stream.
    const long got = api.ovRead(vf, block.data(), kReadBytes, 0, 2, 1, &section);
    if (got <= 0) break;
    if (!out.Write(block.data(), static_cast<size_t>(got))) return OggStatus::kWriteFailed;
    written += got;
    if (dataBytes > 0) progress(static_cast<double>(written) / static_cast<double>(dataBytes));
  }
  return OggStatus::kOk;
}

}  // namespace

OggStatus DecodeOggToWave(const VorbisDecodeApi& api, const std::string& input,
                          const std::string& output,
                          const std::function<void(double)>& progress) {
  OggOutputFile out;
  if (!out.Create(output, true)) return OggStatus::kOutputFailed;
  OggStatus status;
  {
    FileDecoder decoder(api);
    status = decoder.Open(input);
    if (status == OggStatus::kOk) status = DecodeOpened(api, decoder.state(), out, progress);
  }
  if (status == OggStatus::kOk && !out.Close()) status = OggStatus::kWriteFailed;
  if (status != OggStatus::kOk) out.Abandon();
  return status;
}

OggToWave::OggToWave(const std::string& folder) : libraries_(folder) {}

OggToWave::~OggToWave() { StopJob(); }

void OggToWave::Run(ConversionJob& /*job*/) {
  // The run is not interrupted by a stop request: the libraries' calls do
  // not poll, and a stop waits for the run to end.
  VorbisDecodeApi api;
  std::string missing;
  if (!libraries_.Bind(&api, &missing)) {
    status_ = OggStatus::kMissingEntry;
    ReportOggFailure(status_, missing);
    return;
  }
  status_ = DecodeOggToWave(api, InputPath(), OutputPath(),
                            [this](double value) { SetProgress(value); });
  if (status_ != OggStatus::kOk) ReportOggFailure(status_, InputPath());
}

}  // namespace kestrune
