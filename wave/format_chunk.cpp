#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/lock.h"
#include "wave/chunks.h"
#include "wave/wave_file.h"

namespace kestrune {

namespace {

// KSDATAFORMAT_SUBTYPE_PCM, 00000001-0000-0010-8000-00aa00389b71, as stored.
constexpr uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr size_t kSubFormatOffset = 24;
constexpr size_t kBasicSize = 18;
constexpr size_t kExtensibleSize = 40;

// Decimal text as the command line reads it: leading blanks, a sign, digits.
long ParseDecimal(const std::string& value) { return std::strtol(value.c_str(), nullptr, 10); }

}  // namespace

std::array<uint8_t, 18> WaveFormat::BasicBytes() const {
  std::array<uint8_t, 18> b{};
  StoreLe16(&b[0], formatTag);
  StoreLe16(&b[2], channels);
  StoreLe32(&b[4], sampleRate);
  StoreLe32(&b[8], bytesPerSecond);
  StoreLe16(&b[12], blockAlign);
  StoreLe16(&b[14], bitsPerSample);
  StoreLe16(&b[16], extraSize);
  return b;
}

void WaveFormat::SetBasicBytes(const uint8_t* bytes, size_t count) {
  std::array<uint8_t, 18> b{};
  std::memcpy(b.data(), bytes, std::min(count, b.size()));
  formatTag = LoadLe16(&b[0]);
  channels = LoadLe16(&b[2]);
  sampleRate = LoadLe32(&b[4]);
  bytesPerSecond = LoadLe32(&b[8]);
  blockAlign = LoadLe16(&b[12]);
  bitsPerSample = LoadLe16(&b[14]);
  extraSize = LoadLe16(&b[16]);
}

bool WaveFormat::IsPcm() const {
  if (formatTag == kTagPcm) return true;
  return formatTag == kTagExtensible &&
         std::memcmp(&extensible[kSubFormatOffset], kPcmSubFormat, sizeof kPcmSubFormat) == 0;
}

FormatChunk::FormatChunk(WaveFile* owner) : RiffChunk(owner, kIdFmt) {
  owner->Register(WaveFile::Slot::kFormat, this);
}

FormatChunk::~FormatChunk() { owner->Unregister(WaveFile::Slot::kFormat, this); }

bool FormatChunk::Read(uint32_t) {
  LockHolder hold(owner->Lock());
  if (!ReadGeneric()) return false;
  std::array<uint8_t, kExtensibleSize> head{};
  size_t have = std::min<size_t>(body.size(), head.size());
  if (have > 0) std::memcpy(head.data(), body.data(), have);
  if (size >= kKeptBodyLimit) {
    // The body was skipped; its start is all that is needed.
    FileStream& in = owner->Stream();
    const uint64_t after = in.Tell();
    have = in.Seek(offset + 8, FileStream::kBegin) ? in.Read(head.data(), head.size()) : 0;
    if (!in.Seek(static_cast<int64_t>(after), FileStream::kBegin)) return false;
  }
  format.SetBasicBytes(head.data(), std::min(have, kBasicSize));
  if (format.formatTag == WaveFormat::kTagExtensible) {
    format.extensible.fill(0);
    std::memcpy(format.extensible.data(), head.data(), std::min(have, kExtensibleSize));
  }
  return true;
}

int FormatChunk::GetChannels() const { return owner->ModeKnown() ? format.channels : 0; }

int FormatChunk::GetBlockAlign() const { return owner->ModeKnown() ? format.blockAlign : 0; }

bool FormatChunk::SetProperty(const std::string& key, const std::string& value) {
  if (!owner->ModeKnown()) return false;
  bool changed = false;
  if (key == "Format") {
    if (value != "PCM" || format.formatTag == WaveFormat::kTagPcm) return false;
    format.formatTag = WaveFormat::kTagPcm;
    changed = true;
  } else if (key == "Ch") {
    const auto v = static_cast<uint16_t>(ParseDecimal(value));
    changed = v != format.channels;
    format.channels = v;
  } else if (key == "Bit") {
    const auto v = static_cast<uint16_t>(ParseDecimal(value));
    changed = v != format.bitsPerSample;
    format.bitsPerSample = v;
  } else if (key == "Freq") {
    const auto v = static_cast<uint32_t>(ParseDecimal(value));
    changed = v != format.sampleRate;
    format.sampleRate = v;
  } else {
    return false;
  }
  if (changed && format.IsPcm()) {
    const uint32_t bits = uint32_t{format.channels} * format.bitsPerSample;
    format.blockAlign = static_cast<uint16_t>((bits + 7) / 8);
    format.bytesPerSecond = uint32_t{format.blockAlign} * format.sampleRate;
  }
  return changed;
}

bool FormatChunk::Write(FileStream& out) {
  if (!owner->ModeKnown()) return false;
  ChunkWriter writer(out);
  if (!writer.Begin(kIdFmt)) return false;
  const auto basic = format.BasicBytes();
  size_t written = basic.size();
  if (format.formatTag == WaveFormat::kTagExtensible) {
    std::array<uint8_t, kExtensibleSize> ext = format.extensible;
    std::memcpy(ext.data(), basic.data(), basic.size());  // the fields as they are now
    if (out.Write(ext.data(), ext.size()) != ext.size()) return false;
    written = ext.size();
  } else if (out.Write(basic.data(), basic.size()) != basic.size()) {
    return false;
  }
  // Keep the size as read, but never beyond what the source really held.
  int64_t target = size;
  FileStream& src = owner->Stream();
  if (src.IsOpen() && offset >= 0) {
    target = std::min<int64_t>(target, static_cast<int64_t>(src.Size()) - (offset + 8));
  }
  if (target > static_cast<int64_t>(written)) {
    const uint8_t zeros[256] = {};
    for (int64_t left = target - static_cast<int64_t>(written); left > 0;) {
      const size_t n = static_cast<size_t>(std::min<int64_t>(left, sizeof zeros));
      if (out.Write(zeros, n) != n) return false;
      left -= static_cast<int64_t>(n);
    }
  }
  return writer.End();
}

}  // namespace kestrune
