// The C-style interface: handle records, their validation, and the
// operations that the decode pipeline calls.
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "mp3dec/analysis.h"
#include "mp3dec/frame_decoder.h"
#include "mp3dec/mp3dec.h"
#include "mp3dec/status.h"

namespace mp3dec {
namespace {

// A tagged reference to one of the handle's parts; a wrong tag or pointer
// makes the handle invalid.
template <typename T>
struct TaggedRecord {
  char tag[4] = {};
  T* object = nullptr;
};

constexpr char kDecoderTag[4] = {'s', 'i', 'r', '\0'};
constexpr char kAnalyserTag[4] = {'M', 'p', '3', 'I'};

constexpr char kLibName[] = "RoR-IZA MP3sDec Libinfo";
constexpr char kLibVersion[] = "04.03.03";
constexpr char kLibDate[] = "2010-02-03";

struct BitRateWindow {
  uint32_t values[20] = {};
  int writeIndex = 0;
  int entries = 0;
  bool full = false;
};

}  // namespace
}  // namespace mp3dec

struct Mp3sDecInstance {
  Mp3sDecInstance* self = nullptr;
  mp3dec::TaggedRecord<mp3dec::FrameDecoder> decoder;
  mp3dec::TaggedRecord<mp3dec::StreamAnalyser> analyser;
  std::unique_ptr<mp3dec::FrameDecoder> decoderObject;
  std::unique_ptr<mp3dec::StreamAnalyser> analyserObject;
  std::vector<uint8_t> analysisBuffer;
  bool haveInfo = false;
  Mp3sDecStreamInfo info = {};
  int mode = 0;
  bool trimEnabled = false;
  bool firstDecode = true;
  mp3dec::BitRateWindow bitRates;
  float output[mp3dec::FrameDecoder::kOutputFloats] = {};
};

namespace mp3dec {
namespace {

FrameDecoder* DecoderOf(Mp3sDecHandle h) {
  if (h == nullptr || h->self != h) return nullptr;
  if (std::memcmp(h->decoder.tag, kDecoderTag, 4) != 0 || h->decoder.object != h->decoderObject.get()) {
    return nullptr;
  }
  if (std::memcmp(h->analyser.tag, kAnalyserTag, 4) != 0 || h->analyser.object != h->analyserObject.get()) {
    return nullptr;
  }
  return h->decoder.object;
}

void Kill(Mp3sDecHandle h) { h->self = nullptr; }

// Decodes up to two frames of the analysis buffer, looking for a
// delay/padding record in their ancillary data.
bool ProbeTrimRecord(Mp3sDecHandle h) {
  FrameDecoder& d = *h->decoderObject;
  d.Reset();
  d.SetEndOfInput();
  size_t offset = 0;
  bool found = false;
  std::vector<float> scratch(FrameDecoder::kOutputFloats);
  std::vector<uint8_t> ancillary(4096);
  int frames = 0;
  for (int steps = 0; steps < 64 && frames < 2 && !d.EndOfStream(); ++steps) {
    offset += d.Feed(h->analysisBuffer.data() + offset, h->analysisBuffer.size() - offset);
    const StepResult r = d.Step(scratch.data(), ancillary.data(), ancillary.size());
    if (IsError(r.status)) break;
    if (r.floats == 0) continue;
    ++frames;
    const uint32_t total = FindTrimRecord(ancillary.data(), r.ancillary, nullptr);
    if (total != 0 && total != 0xFFFFFFFFu) found = true;
  }
  d.Reset();
  return found;
}

}  // namespace
}  // namespace mp3dec

using mp3dec::FrameDecoder;

int Mp3sDecOpen(Mp3sDecHandle* handle, int mode) {
  if (handle == nullptr) return kMp3sDecCreateFailed;
  *handle = nullptr;
  auto* h = new (std::nothrow) Mp3sDecInstance;
  if (h == nullptr) return kMp3sDecOutOfMemory;
  h->decoderObject.reset(new (std::nothrow) FrameDecoder);
  h->analyserObject.reset(new (std::nothrow) mp3dec::StreamAnalyser);
  if (!h->decoderObject || !h->analyserObject) {
    delete h;
    return kMp3sDecCreateFailed;
  }
  std::memcpy(h->decoder.tag, mp3dec::kDecoderTag, 4);
  h->decoder.object = h->decoderObject.get();
  std::memcpy(h->analyser.tag, mp3dec::kAnalyserTag, 4);
  h->analyser.object = h->analyserObject.get();
  h->mode = mode;
  h->self = h;
  *handle = h;
  return mode == 0 ? kMp3sDecSuccess : kMp3sDecMultichannelUnavailable;
}

void Mp3sDecClose(Mp3sDecHandle handle) { delete handle; }

int Mp3sDecInit(Mp3sDecHandle h, const uint8_t* bytes, uint32_t count, uint32_t audioBytes, int analyse,
                int probe) {
  (void)analyse;  // matters only for the multichannel mode
  if (mp3dec::DecoderOf(h) == nullptr || (bytes == nullptr && count != 0)) return kMp3sDecInvalidHandle;
  if (count > kMp3sDecMaxInitBytes) {
    mp3dec::Kill(h);
    return kMp3sDecTooManyBytes;
  }
  size_t size = 1;
  while (size < count) size <<= 1;
  h->analysisBuffer.assign(size, 0);
  if (count != 0) std::memcpy(h->analysisBuffer.data(), bytes, count);

  mp3dec::StreamAnalyser& a = *h->analyserObject;
  a = mp3dec::StreamAnalyser{};
  if (!a.Analyse(h->analysisBuffer.data(), size, audioBytes)) {
    mp3dec::Kill(h);
    return kMp3sDecNoFrame;
  }
  Mp3sDecStreamInfo& info = h->info;
  info = {};
  info.values[kMp3sDecInfoBitRate] = a.averageBitRate;
  info.values[kMp3sDecInfoChannels] = a.format.channels;
  info.values[kMp3sDecInfoChannelsOut] = a.format.channels;
  info.values[kMp3sDecInfoSampleRate] = a.format.sampleRate;
  info.values[kMp3sDecInfoDurationMs] = a.durationMs;
  info.values[kMp3sDecInfoVariableRate] = a.variableRate;
  info.values[kMp3sDecInfoFrameCountKnown] = a.frameCountKnown;
  info.values[kMp3sDecInfoSeekable] = a.seekable;
  if (probe != 0) info.values[kMp3sDecInfoTrimRecord] = mp3dec::ProbeTrimRecord(h) ? 1 : 0;
  h->haveInfo = true;
  return kMp3sDecSuccess;
}

void Mp3sDecGetInfo(Mp3sDecStreamInfo* out, Mp3sDecHandle h) {
  if (out == nullptr) return;
  *out = {};
  FrameDecoder* d = mp3dec::DecoderOf(h);
  if (d == nullptr || !h->haveInfo) return;
  const mp3dec::StreamAnalyser& a = *h->analyserObject;
  const mp3dec::FrameInfoRecord& frame = d->Info();
  mp3dec::BitRateWindow& w = h->bitRates;
  Mp3sDecStreamInfo& info = h->info;
  if (frame.bitRate > 0 && !a.frameCountKnown) {
    w.values[w.writeIndex] = static_cast<uint32_t>(frame.bitRate);
    w.writeIndex = (w.writeIndex + 1) % 20;
    if (w.entries < 20) ++w.entries;
    w.full = w.entries == 20;
  }
  if (w.full && !a.frameCountKnown) {
    uint64_t sum = 0;
    for (uint32_t v : w.values) sum += v;
    info.values[kMp3sDecInfoBitRate] = static_cast<uint32_t>(sum / 20);
  } else {
    info.values[kMp3sDecInfoBitRate] = a.averageBitRate;
  }
  const uint32_t channels = frame.channelsOut != 0 ? static_cast<uint32_t>(frame.channelsOut) : a.format.channels;
  info.values[kMp3sDecInfoChannels] = channels;
  info.values[kMp3sDecInfoChannelsOut] = channels;
  info.values[kMp3sDecInfoSampleRate] = a.format.sampleRate;
  info.values[kMp3sDecInfoDurationMs] = a.durationMs;
  info.values[kMp3sDecInfoVariableRate] = a.variableRate;
  info.values[kMp3sDecInfoFrameCountKnown] = a.frameCountKnown;
  info.values[kMp3sDecInfoSeekable] = a.seekable;
  info.values[kMp3sDecInfoOutputFlags] = 0;
  info.values[kMp3sDecInfoReserved] = 0;
  *out = info;
}

int Mp3sDecEnableTrim(Mp3sDecHandle h, int flag) {
  if (mp3dec::DecoderOf(h) == nullptr) return kMp3sDecInvalidHandle;
  if (flag == 1 && h->info.values[kMp3sDecInfoTrimRecord] == 1) h->trimEnabled = true;
  return kMp3sDecSuccess;
}

int Mp3sDecDecode(Mp3sDecHandle h, const uint8_t* input, uint32_t inputCount, uint32_t* consumed, float* output,
                  uint32_t outputCapacity, uint32_t* written, uint32_t* outputFlags, uint32_t reserved1,
                  uint32_t reserved2, uint8_t* ancillary, uint32_t* ancillaryCount) {
  (void)outputCapacity;  // not consulted in mode 0: output must hold kMp3sDecMaxOutputFloats
  (void)reserved1;
  (void)reserved2;
  if (consumed != nullptr) *consumed = 0;
  if (written != nullptr) *written = 0;
  const uint32_t ancillaryCapacity = (ancillary != nullptr && ancillaryCount != nullptr) ? *ancillaryCount : 0;
  if (ancillaryCount != nullptr) *ancillaryCount = 0;
  FrameDecoder* d = mp3dec::DecoderOf(h);
  if (d == nullptr || output == nullptr || (input == nullptr && inputCount != 0)) return kMp3sDecInvalidHandle;

  const size_t taken = inputCount != 0 ? d->Feed(input, inputCount) : 0;
  if (consumed != nullptr) *consumed = static_cast<uint32_t>(taken);

  mp3dec::StepResult r;
  if (h->firstDecode && h->info.values[kMp3sDecInfoFrameCountKnown] == 1) {
    // The stream starts with a Xing or VBRI record frame: it yields nothing,
    // and its samples go to the handle's scratch buffer, not the caller's.
    r = d->Step(h->output, nullptr, 0);
    if (r.floats != 0) h->firstDecode = false;
    if (!mp3dec::IsError(r.status) && r.status != mp3dec::kSyncEof) {
      r.floats = 0;
      if (mp3dec::IsInformation(r.status)) r.status = mp3dec::kStatusOk;
    }
  } else {
    // Straight into the caller's buffer: a step writes samples only when it
    // reports them.
    h->firstDecode = false;
    r = d->Step(output, ancillary, ancillaryCapacity);
  }
  if (mp3dec::IsError(r.status)) {
    mp3dec::Kill(h);
    return kMp3sDecInvalidHandle;
  }
  if (r.status == mp3dec::kSyncEof) return kMp3sDecEndOfStream;
  if (outputFlags != nullptr) *outputFlags = 0;
  if (written != nullptr) *written = static_cast<uint32_t>(r.floats);
  if (ancillaryCount != nullptr && r.status != mp3dec::kStatusAncillaryPending && !mp3dec::IsWarning(r.status)) {
    *ancillaryCount = static_cast<uint32_t>(r.ancillary);
  }
  if (r.status == mp3dec::kStatusNoMainData) return kMp3sDecConcealedNoMainData;
  if (r.status == mp3dec::kStatusSideInfoDamaged) return kMp3sDecConcealedSideInfo;
  return kMp3sDecSuccess;
}

int Mp3sDecSetEndOfInput(Mp3sDecHandle h) {
  FrameDecoder* d = mp3dec::DecoderOf(h);
  if (d == nullptr) return kMp3sDecInvalidHandle;
  d->SetEndOfInput();
  return kMp3sDecSuccess;
}

int Mp3sDecIsFinished(Mp3sDecHandle h) {
  FrameDecoder* d = mp3dec::DecoderOf(h);
  return d != nullptr && d->EndOfStream() ? 1 : 0;
}

void Mp3sDecGetLibInfo(Mp3sDecLibInfo* info) {
  if (info == nullptr) return;
  std::memset(info, 0, sizeof *info);
  char* bytes = reinterpret_cast<char*>(info->words);
  std::memcpy(bytes, mp3dec::kLibDate, sizeof mp3dec::kLibDate);
  std::memcpy(bytes + 20, mp3dec::kLibVersion, sizeof mp3dec::kLibVersion);
  (void)mp3dec::kLibName;
}
