// The ds64, LIST, INFO and bext chunks.
#include <algorithm>
#include <cstring>

#include "base/lock.h"
#include "wave/chunks.h"
#include "wave/wave_file.h"

namespace kestrune {

namespace {

// Reads up to count bytes at position of the owner's stream and returns to
// where it was; the bytes that came.
std::vector<uint8_t> ReadAt(FileStream& in, int64_t position, size_t count) {
  std::vector<uint8_t> bytes;
  const uint64_t back = in.Tell();
  const uint64_t fileSize = in.Size();
  if (position < 0 || static_cast<uint64_t>(position) >= fileSize) return bytes;
  count = static_cast<size_t>(std::min<uint64_t>(count, fileSize - position));
  bytes.resize(count);
  if (!in.Seek(position, FileStream::kBegin)) count = 0;
  bytes.resize(count > 0 ? in.Read(bytes.data(), count) : 0);
  in.Seek(static_cast<int64_t>(back), FileStream::kBegin);
  return bytes;
}

// The longest INFO text kept in memory; longer texts are treated as lies.
constexpr uint32_t kLongestInfoText = 1 << 20;
// The longest ds64 table kept (87 381 entries); the rest is not kept.
constexpr uint64_t kLongestTable = 1 << 20;

}  // namespace

Ds64Chunk::Ds64Chunk(WaveFile* owner) : RiffChunk(owner, kIdDs64) {
  owner->Register(WaveFile::Slot::kDs64, this);
}

Ds64Chunk::~Ds64Chunk() { owner->Unregister(WaveFile::Slot::kDs64, this); }

bool Ds64Chunk::Read(uint32_t) {
  LockHolder hold(owner->Lock());
  if (!ReadGeneric()) return false;
  if (owner->GetMode() != WaveFile::kModeRf64) return true;  // stays empty in RIFF

  FileStream& in = owner->Stream();
  const size_t fixed = static_cast<size_t>(std::min<int64_t>(size, kFixedSize));
  std::vector<uint8_t> head = ReadAt(in, offset + 8, fixed);
  uint8_t b[kFixedSize] = {};
  if (!head.empty()) std::memcpy(b, head.data(), head.size());
  riffSize = LoadLe64(b);
  dataSize = LoadLe64(b + 8);
  sampleCount = LoadLe64(b + 16);
  tableLength = LoadLe32(b + 24);
  std::memcpy(trailing.data(), b + 28, 4);
  table.clear();
  if (tableLength != 0 && size > static_cast<int64_t>(kFixedSize)) {
    // tableLength entries of 12 bytes (identifier, 64-bit size) follow
    // tableLength; the first 4 bytes of the first entry are the fixed
    // part's last 4. The entries are kept as bytes and written back as read.
    const uint64_t wanted = std::min<uint64_t>({static_cast<uint64_t>(size) - kFixedSize,
                                                uint64_t{tableLength} * kTableEntrySize - 4,
                                                kLongestTable});
    table = ReadAt(in, offset + 8 + static_cast<int64_t>(kFixedSize), static_cast<size_t>(wanted));
  }
  return true;
}

bool Ds64Chunk::Write(FileStream& out) {
  if (owner->GetMode() != WaveFile::kModeRf64) return false;
  ChunkWriter writer(out);
  if (!writer.Begin(kIdDs64)) return false;
  uint8_t b[kFixedSize];
  StoreLe64(b, riffSize);
  StoreLe64(b + 8, dataSize);
  StoreLe64(b + 16, sampleCount);
  StoreLe32(b + 24, tableLength);
  std::memcpy(b + 28, trailing.data(), 4);
  if (out.Write(b, sizeof b) != sizeof b) return false;
  if (!table.empty() && out.Write(table.data(), table.size()) != table.size()) return false;
  const int64_t written = static_cast<int64_t>(kFixedSize + table.size());
  if (size > written) {
    // Up to the size as read, as far as the source really held it.
    int64_t target = size;
    FileStream& src = owner->Stream();
    if (src.IsOpen() && offset >= 0) {
      target = std::min<int64_t>(target, static_cast<int64_t>(src.Size()) - (offset + 8));
    }
    const uint8_t zeros[256] = {};
    for (int64_t left = target - written; left > 0;) {
      const size_t n = static_cast<size_t>(std::min<int64_t>(left, sizeof zeros));
      if (out.Write(zeros, n) != n) return false;
      left -= static_cast<int64_t>(n);
    }
  }
  return writer.End();
}

bool ListChunk::Read(uint32_t) {
  LockHolder hold(owner->Lock());
  FileStream& in = owner->Stream();
  offset = static_cast<int64_t>(in.Tell()) - 4;
  uint8_t header[8];
  if (in.Read(header, sizeof header) != sizeof header) return false;
  size = LoadLe32(header);
  const uint32_t listType = LoadLe32(header + 4);
  std::unique_ptr<RiffChunk> child =
      CreateChunk(*owner, listType, nullptr, ChunkFamily::kStored, ChunkScope::kInList);
  if (!child) return false;
  child->size = std::max<int64_t>(size - 4, 0);
  child->sizeInFile = false;
  if (child->Read(listType)) children.push_back(std::move(child));
  // Whatever the list's contents claimed, the next chunk follows its body.
  if (!in.Seek(offset + 8 + size, FileStream::kBegin)) return false;
  return SkipPadByte();
}

InfoChunk::InfoChunk(WaveFile* owner) : RiffChunk(owner, kIdInfo) {
  owner->Register(WaveFile::Slot::kInfo, this);
}

InfoChunk::~InfoChunk() { owner->Unregister(WaveFile::Slot::kInfo, this); }

bool InfoChunk::Read(uint32_t) {
  LockHolder hold(owner->Lock());
  FileStream& in = owner->Stream();
  offset = static_cast<int64_t>(in.Tell()) - 4;
  const int64_t end = offset + size + 4;
  const uint64_t fileSize = in.Size();
  texts.clear();
  while (static_cast<int64_t>(in.Tell()) < end) {
    uint8_t header[8];
    if (in.Read(header, 4) != 4 || in.Read(header + 4, 4) != 4) return false;
    const uint32_t subSize = LoadLe32(header + 4);
    const uint64_t position = in.Tell();
    if (subSize > 0 && subSize < size && subSize <= kLongestInfoText &&
        position + subSize <= fileSize) {
      std::string text(subSize, '\0');
      if (in.Read(text.data(), subSize) != subSize) return false;
      const std::string key = FourCcText(LoadLe32(header));
      auto it = std::find_if(texts.begin(), texts.end(),
                             [&](const auto& entry) { return entry.first == key; });
      if (it != texts.end()) {
        it->second = std::move(text);
      } else {
        texts.emplace_back(key, std::move(text));
      }
    } else {
      if (!in.Seek(end, FileStream::kBegin)) return false;
    }
    if (!SkipPadByte()) return false;
  }
  return !texts.empty();
}

std::string InfoChunk::GetText(const std::string& key) const {
  for (const auto& [k, text] : texts) {
    if (k == key) return text.substr(0, text.find('\0'));
  }
  return {};
}

BextChunk::BextChunk(WaveFile* owner) : RiffChunk(owner, kIdBext) {
  owner->Register(WaveFile::Slot::kBext, this);
}

BextChunk::~BextChunk() { owner->Unregister(WaveFile::Slot::kBext, this); }

bool BextChunk::Read(uint32_t) {
  LockHolder hold(owner->Lock());
  if (!ReadGeneric()) return false;
  block.fill(0);
  const size_t wanted = static_cast<size_t>(std::min<int64_t>(size, kBlockSize));
  std::vector<uint8_t> head = ReadAt(owner->Stream(), offset + 8, wanted);
  if (!head.empty()) std::memcpy(block.data(), head.data(), head.size());
  return true;
}

}  // namespace kestrune
