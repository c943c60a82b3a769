#include "wave/wave_file.h"

#include "base/paths.h"
#include "wave/text_form.h"

namespace kestrune {

WaveFile::WaveFile() = default;

WaveFile::~WaveFile() { Reset(); }

void WaveFile::Reset() {
  LockHolder hold(lock_);
  // Newest first, so that registrations fall back cleanly.
  while (!roots_.empty()) roots_.pop_back();
  stream_.Close();
  mode_ = kModeRf64;
}

void WaveFile::Register(Slot slot, RiffChunk* chunk) {
  LockHolder hold(lock_);
  registered_[static_cast<size_t>(slot)] = chunk;
}

void WaveFile::Unregister(Slot slot, RiffChunk* chunk) {
  LockHolder hold(lock_);
  RiffChunk*& field = registered_[static_cast<size_t>(slot)];
  if (field == chunk) field = nullptr;
}

template <typename T>
LockedChunk<T> WaveFile::Get(Slot slot) {
  lock_.Enter();  // left by the holder
  return LockedChunk<T>(lock_, static_cast<T*>(registered_[static_cast<size_t>(slot)]));
}

LockedChunk<FormChunk> WaveFile::GetForm() { return Get<FormChunk>(Slot::kForm); }
LockedChunk<FormatChunk> WaveFile::GetFormat() { return Get<FormatChunk>(Slot::kFormat); }
LockedChunk<Ds64Chunk> WaveFile::GetDs64() { return Get<Ds64Chunk>(Slot::kDs64); }
LockedChunk<InfoChunk> WaveFile::GetInfo() { return Get<InfoChunk>(Slot::kInfo); }
LockedChunk<BextChunk> WaveFile::GetBext() { return Get<BextChunk>(Slot::kBext); }

LockedChunk<DataChunk> WaveFile::GetData() {
  lock_.Enter();
  auto* data = static_cast<DataChunk*>(registered_[static_cast<size_t>(Slot::kData)]);
  return LockedChunk<DataChunk>(lock_, data != nullptr ? data : &emptyData_);
}

bool WaveFile::HasData() {
  LockHolder hold(lock_);
  return registered_[static_cast<size_t>(Slot::kData)] != nullptr;
}

bool WaveFile::Open(const std::string& path) {
  Reset();
  LockHolder hold(lock_);
  if (!stream_.Open(path, true, false, true, true, kReadFlags)) return false;
  bool ok = true;
  while (roots_.size() < kMaxRootChunks) {
    uint8_t idBytes[4];
    if (stream_.Read(idBytes, 4) != 4) break;
    const uint32_t id = LoadLe32(idBytes);
    std::unique_ptr<RiffChunk> chunk = CreateChunk(*this, id, nullptr, ChunkFamily::kStored);
    if (!chunk) return false;
    if (!chunk->Read(id)) ok = false;
    roots_.push_back(std::move(chunk));
  }
  if (auto* data = static_cast<DataChunk*>(registered_[static_cast<size_t>(Slot::kData)])) {
    data->ComputeFrameCount();
  }
  return ok;
}

bool WaveFile::LoadText(const std::string& text, SampleSource* source) {
  Reset();
  LockHolder hold(lock_);
  if (text.empty()) return false;
  const std::vector<TextSection> sections = ParseTextForm(text);
  size_t next = 0;
  while (next < sections.size() && roots_.size() < kMaxRootChunks) {
    const uint32_t id = SectionChunkId(sections[next].name);
    std::unique_ptr<RiffChunk> chunk = CreateChunk(*this, id, source, ChunkFamily::kGenerated);
    if (!chunk) return false;
    if (auto* form = dynamic_cast<FormChunk*>(chunk.get())) {
      next = form->LoadSections(sections, next);
    } else {
      chunk->LoadText(sections[next]);
      ++next;
    }
    roots_.push_back(std::move(chunk));
  }
  if (auto* data = static_cast<DataChunk*>(registered_[static_cast<size_t>(Slot::kData)])) {
    data->ComputeFrameCount();
  }
  return true;
}

bool WaveFile::SaveAs(const std::string& path) {
  LockHolder hold(lock_);
  // Writing over the file being read would destroy the source mid-copy.
  if (stream_.IsOpen() && GetFullPath(path) == GetFullPath(stream_.GetPath())) return false;
  FileStream out;
  if (!out.Open(path, false, true, true, false, kNormalAttribute)) return false;
  for (auto& root : roots_) {
    if (!root->Write(out)) return false;
  }
  out.Close();
  return true;
}

}  // namespace kestrune
