#include <algorithm>
#include <limits>

#include "base/lock.h"
#include "wave/chunks.h"
#include "wave/wave_file.h"

namespace kestrune {

namespace {

constexpr int64_t kLargestSize = int64_t{1} << 62;
constexpr int64_t kDefaultReadFrames = 1024;

}  // namespace

DataChunk::DataChunk(WaveFile* owner, SampleSource* source)
    : RiffChunk(owner, kIdData), sampleSource(source) {
  if (owner != nullptr) owner->Register(WaveFile::Slot::kData, this);
}

DataChunk::~DataChunk() {
  if (owner != nullptr) owner->Unregister(WaveFile::Slot::kData, this);
}

bool DataChunk::Read(uint32_t) {
  if (owner == nullptr) return false;
  LockHolder hold(owner->Lock());
  FileStream& in = owner->Stream();
  offset = static_cast<int64_t>(in.Tell()) - 4;
  const int64_t dataStart = offset + 8;
  const int64_t fileSize = static_cast<int64_t>(in.Size());
  const int64_t toEnd = std::max<int64_t>(fileSize - dataStart, 0);

  if (owner->GetMode() == WaveFile::kModeRf64) {
    uint8_t field[4];
    if (in.Read(field, 4) != 4) return false;
    auto ds64 = owner->GetDs64();
    if (ds64) {
      size = static_cast<int64_t>(std::min<uint64_t>(ds64->dataSize, kLargestSize));
    } else {
      // No ds64 before the data: trust the 32-bit field unless it is the
      // RF64 placeholder, in which case the samples run to the end.
      const uint32_t value = LoadLe32(field);
      size = value == 0xFFFFFFFFu ? toEnd : value;
    }
    // Skip the samples; a size beyond the file only takes us to its end.
    if (!in.Seek(dataStart + std::min(size, toEnd), FileStream::kBegin)) return false;
  } else {
    if (!ReadGeneric()) return false;
    if (size == 0xFFFFFFFFLL) {
      // Written by a tool that could not fit the size: up to the end.
      size = toEnd;
      if (!in.Seek(dataStart + size, FileStream::kBegin)) return false;
    }
  }

  if (!reader_.Open(in.GetPath(), true, false, true, true, WaveFile::kReadFlags)) return false;
  position_ = 0;
  if (size == 0) return in.Seek(0, FileStream::kEnd);
  return true;
}

int64_t DataChunk::GetDataStart() const {
  if (owner == nullptr || !owner->ModeKnown()) return -1;
  return offset + 8;
}

void DataChunk::ComputeFrameCount() {
  frameCount_ = -1;
  if (owner == nullptr) return;
  LockHolder hold(owner->Lock());
  auto format = owner->GetFormat();
  if (!format || format->GetBlockAlign() < 1 || size < 0) return;
  const int64_t blockAlign = format->GetBlockAlign();
  frameCount_ = size / blockAlign;
  if (frameCount_ == 0 && owner->lengthFromFileSize && reader_.IsOpen()) {
    // A size field left at 0 (an interrupted write): the samples run to
    // the end of the file.
    const int64_t bytes = static_cast<int64_t>(reader_.Size()) - GetDataStart();
    frameCount_ = std::max<int64_t>(bytes, 0) / blockAlign;
  }
}

bool DataChunk::SetPosition(int64_t frame) {
  if (owner == nullptr) return false;
  LockHolder hold(owner->Lock());
  auto format = owner->GetFormat();
  if (!format || format->GetBlockAlign() < 1) return false;
  const int64_t clamped = std::clamp<int64_t>(frame, 0, std::max<int64_t>(frameCount_, 0));
  if (clamped == position_) return false;
  position_ = clamped;
  return true;
}

bool DataChunk::ReadFrames(FileStream& reader, PcmBlock& block, int64_t startFrame,
                           int64_t count) {
  if (owner == nullptr) return false;
  LockHolder hold(owner->Lock());
  auto format = owner->GetFormat();
  if (!format) return false;
  const int channels = format->GetChannels();
  const int blockAlign = format->GetBlockAlign();
  if (channels < 1 || blockAlign < 1) return false;

  if (count < 0) count = kDefaultReadFrames;
  if (startFrame < 0) {
    if (startFrame == std::numeric_limits<int64_t>::min() || count <= -startFrame) return false;
    count += startFrame;
    startFrame = 0;
  }
  if (count == 0 || frameCount_ < 0 || startFrame >= frameCount_) return false;
  count = std::min(count, frameCount_ - startFrame);
  if (!block.Prepare(count, channels, blockAlign)) return false;

  const int64_t position = GetDataStart() + int64_t{blockAlign} * startFrame;
  if (!reader.Seek(position, FileStream::kBegin)) return false;
  const size_t got = reader.Read(block.Data(), block.Size());
  block.SetSize(got);
  return got > 0;
}

bool DataChunk::ReadFloat(FloatFrames& frames, int64_t count) {
  if (owner == nullptr) return false;
  LockHolder hold(owner->Lock());
  if (!ReadFrames(reader_, pcm_, position_, count)) return false;
  auto format = owner->GetFormat();
  const int channels = format->GetChannels();
  const int bytesPerSample = format->GetBlockAlign() / channels;
  const int64_t delivered = pcm_.Frames();
  if (delivered < 1) return false;
  // The width selects the conversion; 4-byte samples are floats unless the
  // format says integer PCM.
  if (!DeinterleaveToFloat(pcm_.Data(), static_cast<size_t>(delivered), channels,
                           bytesPerSample, static_cast<size_t>(format->GetBlockAlign()),
                           format->format.IsPcm(), frames)) {
    return false;
  }
  frames.silence = false;
  position_ += delivered;
  return true;
}

bool StoredDataChunk::Write(FileStream& out) {
  {
    LockHolder hold(owner->Lock());
    auto format = owner->GetFormat();
    if (!format || format->GetChannels() < 1 || format->GetBlockAlign() < 1) return false;
  }
  return WriteGenericCopy(out);
}

bool GeneratedDataChunk::Write(FileStream& out) {
  LockHolder hold(owner->Lock());
  auto format = owner->GetFormat();
  if (!format) return false;
  const int channels = format->GetChannels();
  const int blockAlign = format->GetBlockAlign();
  if (channels < 1 || blockAlign < 1 || channels > PcmBlock::kMaxChannels) return false;
  const int bytesPerSample = blockAlign / channels;
  if (bytesPerSample < 1 || bytesPerSample > 4 || sampleSource == nullptr) return false;

  position_ = 0;
  ChunkWriter writer(out);
  if (!writer.Begin(kIdData)) return false;
  FloatFrames frames;
  std::vector<uint8_t> bytes(kFramesPerBlock * static_cast<size_t>(blockAlign));
  for (;;) {
    frames.Resize(static_cast<size_t>(channels), kFramesPerBlock);
    if (!sampleSource->Fill(frames)) break;
    const size_t n = std::min(frames.Frames(), kFramesPerBlock);
    if (n == 0) break;
    frames.Resize(static_cast<size_t>(channels), n);
    if (!InterleaveFromFloat(frames, n, bytesPerSample, bytes.data())) return false;
    // Frames wider than the samples (a rounded-up block) keep zero padding.
    const size_t frameBytes = static_cast<size_t>(bytesPerSample) * channels;
    size_t length = n * frameBytes;
    if (frameBytes != static_cast<size_t>(blockAlign)) {
      for (size_t i = n; i-- > 0;) {
        std::copy_backward(bytes.begin() + i * frameBytes,
                           bytes.begin() + (i + 1) * frameBytes,
                           bytes.begin() + i * blockAlign + frameBytes);
        std::fill(bytes.begin() + i * blockAlign + frameBytes,
                  bytes.begin() + (i + 1) * blockAlign, 0);
      }
      length = n * static_cast<size_t>(blockAlign);
    }
    if (out.Write(bytes.data(), length) != length) return false;
    position_ += static_cast<int64_t>(n);
  }
  return writer.End();
}

}  // namespace kestrune
