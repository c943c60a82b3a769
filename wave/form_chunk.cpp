#include <algorithm>
#include <limits>

#include "base/lock.h"
#include "wave/chunks.h"
#include "wave/text_form.h"
#include "wave/wave_file.h"

namespace kestrune {

namespace {

// Sizes taken from a file are kept far below the 64-bit limits so that
// offset + size arithmetic cannot overflow.
constexpr int64_t kLargestSize = int64_t{1} << 62;

}  // namespace

FormChunk::FormChunk(WaveFile* owner, uint32_t id, SampleSource* source, ChunkFamily family)
    : RiffChunk(owner, id), sampleSource(source), family(family) {
  owner->Register(WaveFile::Slot::kForm, this);
}

FormChunk::~FormChunk() {
  children.clear();  // children unregister while the owner still knows us
  owner->Unregister(WaveFile::Slot::kForm, this);
}

bool FormChunk::Read(uint32_t) {
  LockHolder hold(owner->Lock());
  FileStream& in = owner->Stream();
  offset = static_cast<int64_t>(in.Tell()) - 4;
  uint8_t header[8];
  if (in.Read(header, sizeof header) != sizeof header) return false;
  const uint32_t sizeField = LoadLe32(header);
  size = sizeField;
  formType = LoadLe32(header + 4);

  const bool rf64 = owner->GetMode() == WaveFile::kModeRf64;
  // A RIFF size of 0 is an interrupted write and 0xFFFFFFFF the mark of a
  // file too large for the field: both mean "up to the end of the file".
  const bool open = !rf64 && (sizeField == 0 || sizeField == 0xFFFFFFFFu);
  int64_t end = open ? std::numeric_limits<int64_t>::max() : offset + size + 8;
  bool sizeFromDs64 = false;

  while (static_cast<int64_t>(in.Tell()) < end) {
    uint8_t idBytes[4];
    if (in.Read(idBytes, 4) != 4) return true;
    const uint32_t childId = LoadLe32(idBytes);
    std::unique_ptr<RiffChunk> child =
        CreateChunk(*owner, childId, sampleSource, family, ChunkScope::kInForm);
    if (!child) return false;
    if (child->Read(childId)) children.push_back(std::move(child));
    child.reset();

    if (rf64 && !sizeFromDs64) {
      auto ds64 = owner->GetDs64();
      if (ds64) {
        size = static_cast<int64_t>(std::min<uint64_t>(ds64->riffSize, kLargestSize));
        end = offset + size + 8;
        sizeFromDs64 = true;
      }
    }
    if (!SkipPadByte()) return false;
  }
  return true;
}

bool FormChunk::SetProperty(const std::string& key, const std::string& value) {
  if (key != "Type" || value != "Wave" || formType == kIdWave) return false;
  formType = kIdWave;
  return true;
}

bool FormChunk::Write(FileStream& out) {
  uint8_t typeBytes[4];
  StoreLe32(typeBytes, formType);
  if (owner->GetMode() == WaveFile::kModeRiff) {
    ChunkWriter writer(out);
    if (!writer.Begin(kIdRiff) || out.Write(typeBytes, 4) != 4) return false;
    for (auto& child : children) {
      if (!child->Write(out)) {
        writer.End();
        return false;
      }
    }
    return writer.End();
  }
  if (owner->GetMode() == WaveFile::kModeRf64) {
    uint8_t header[12];
    StoreLe32(header, kIdRf64);
    StoreLe32(header + 4, 0xFFFFFFFFu);
    StoreLe32(header + 8, formType);
    if (out.Write(header, sizeof header) != sizeof header) return false;
    for (auto& child : children) {
      if (!child->Write(out)) return false;
    }
    return true;
  }
  return true;
}

size_t FormChunk::LoadSections(const std::vector<TextSection>& sections, size_t first) {
  LoadText(sections[first]);
  size_t next = first + 1;
  for (; next < sections.size(); ++next) {
    const uint32_t childId = SectionChunkId(sections[next].name);
    if (childId == kIdRiff || childId == kIdRf64) break;
    std::unique_ptr<RiffChunk> child =
        CreateChunk(*owner, childId, sampleSource, family, ChunkScope::kInForm);
    child->LoadText(sections[next]);
    children.push_back(std::move(child));
  }
  return next;
}

}  // namespace kestrune
