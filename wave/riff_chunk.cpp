#include <algorithm>

#include "base/lock.h"
#include "wave/chunks.h"
#include "wave/text_form.h"
#include "wave/wave_file.h"

namespace kestrune {

bool ChunkWriter::Begin(uint32_t id) {
  uint8_t header[8];
  StoreLe32(header, id);
  StoreLe32(header + 4, 0);
  if (out_.Write(header, sizeof header) != sizeof header) return false;
  bodyStart_ = out_.Tell();
  return true;
}

bool ChunkWriter::End() {
  const uint64_t end = out_.Tell();
  if (end < bodyStart_) return false;
  const uint64_t bodySize = end - bodyStart_;
  uint8_t field[4];
  StoreLe32(field, bodySize > kSizeOverflow ? kSizeOverflow : static_cast<uint32_t>(bodySize));
  if (!out_.Seek(static_cast<int64_t>(bodyStart_ - 4), FileStream::kBegin) ||
      out_.Write(field, 4) != 4 ||
      !out_.Seek(static_cast<int64_t>(end), FileStream::kBegin)) {
    return false;
  }
  if (end & 1) {
    const uint8_t pad = 0;
    if (out_.Write(&pad, 1) != 1) return false;
  }
  return true;
}

RiffChunk::RiffChunk(WaveFile* owner, uint32_t id) : id(id), owner(owner) {}

RiffChunk::~RiffChunk() = default;

bool RiffChunk::Read(uint32_t) { return ReadGeneric(); }

bool RiffChunk::ReadGeneric() {
  if (owner == nullptr) return false;
  LockHolder hold(owner->Lock());
  FileStream& in = owner->Stream();
  offset = static_cast<int64_t>(in.Tell()) - 4;
  if (sizeInFile) {
    uint8_t field[4];
    if (in.Read(field, 4) != 4) return false;
    size = LoadLe32(field);
  }
  if (size < 0) size = 0;
  if (size >= kKeptBodyLimit) return in.Seek(size, FileStream::kCurrent);
  body.resize(static_cast<size_t>(size));
  const size_t got = size > 0 ? in.Read(body.data(), body.size()) : 0;
  body.resize(got);
  return size == 0 || got > 0;
}

bool RiffChunk::SkipPadByte() {
  FileStream& in = owner->Stream();
  if ((in.Tell() & 1) == 0) return true;
  return in.Seek(1, FileStream::kCurrent);
}

bool RiffChunk::LoadText(const TextSection& section) { return ApplySection(section); }

bool RiffChunk::ApplySection(const TextSection& section) {
  id = SectionChunkId(section.name);
  section.entries.ForEach(
      [this](const std::string& key, const std::string& value) { SetProperty(key, value); });
  return true;
}

bool RiffChunk::SetProperty(const std::string&, const std::string&) { return false; }

bool RiffChunk::Write(FileStream& out) { return WriteGenericCopy(out); }

bool RiffChunk::WriteGenericCopy(FileStream& out) {
  if (owner == nullptr || !owner->ModeKnown()) return false;
  LockHolder hold(owner->Lock());
  FileStream& src = owner->Stream();
  ChunkWriter writer(out);
  if (!src.IsOpen()) return writer.Begin(id) && writer.End();

  if (offset < 0 || !src.Seek(offset + (sizeInFile ? 8 : 4), FileStream::kBegin)) return false;
  if (sizeInFile) {
    if (!writer.Begin(id)) return false;
  } else {
    uint8_t field[4];
    StoreLe32(field, id);
    if (out.Write(field, 4) != 4) return false;
  }
  uint8_t piece[2048];
  for (int64_t left = std::max<int64_t>(size, 0); left > 0;) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(left, sizeof piece));
    const size_t got = src.Read(piece, want);
    if (got == 0 || out.Write(piece, got) != got) return false;
    left -= static_cast<int64_t>(got);
  }
  return !sizeInFile || writer.End();
}

uint32_t SectionChunkId(const std::string& name) {
  if (name == "RF64") return kIdRf64;
  if (name == "Riff") return kIdRiff;
  if (name == "Format") return kIdFmt;
  if (name == "Data") return kIdData;
  return 0;
}

std::unique_ptr<RiffChunk> CreateChunk(WaveFile& file, uint32_t id,
                                       SampleSource* source, ChunkFamily family,
                                       ChunkScope scope) {
  const bool stored = family == ChunkFamily::kStored;
  if (scope == ChunkScope::kInList) {
    if (id == kIdInfo) return std::make_unique<InfoChunk>(&file);
    return std::make_unique<RiffChunk>(&file, id);
  }
  if ((id == kIdRiff || id == kIdRf64) && scope == ChunkScope::kTop) {
    file.SetMode(id == kIdRf64 ? WaveFile::kModeRf64 : WaveFile::kModeRiff);
    if (stored) return std::make_unique<StoredFormChunk>(&file, id, source);
    return std::make_unique<GeneratedFormChunk>(&file, id, source);
  }
  if (id == kIdData) {
    if (stored) return std::make_unique<StoredDataChunk>(&file, source);
    return std::make_unique<GeneratedDataChunk>(&file, source);
  }
  if (id == kIdFmt) return std::make_unique<FormatChunk>(&file);
  if (id == kIdDs64) return std::make_unique<Ds64Chunk>(&file);
  if (id == kIdList) return std::make_unique<ListChunk>(&file);
  if (id == kIdBext) return std::make_unique<BextChunk>(&file);
  return std::make_unique<RiffChunk>(&file, id);
}

}  // namespace kestrune
