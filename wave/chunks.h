// The chunk classes of a WAVE/RF64 tree. Every chunk belongs to a WaveFile
// (its owner); the form, fmt, data, ds64, INFO and bext chunks register
// themselves with it so that the file can find them (the newest of a kind
// wins; a destroyed chunk unregisters itself only if it is still the one).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/file_stream.h"
#include "wave/riff_ids.h"
#include "wave/samples.h"

namespace kestrune {

class WaveFile;
struct TextSection;

// Writes a chunk header with a placeholder size and patches the size when
// the body is complete.
class ChunkWriter {
 public:
  static constexpr uint32_t kSizeOverflow = 0xFFFFFFFFu;

  explicit ChunkWriter(FileStream& out) : out_(out) {}
  // Writes id and a size of 0; remembers the position after them.
  bool Begin(uint32_t id);
  // Patches size = position - remembered position (0xFFFFFFFF above 4 GiB
  // - 1), returns to the end and adds a zero pad byte at an odd end.
  bool End();

 private:
  FileStream& out_;
  uint64_t bodyStart_ = 0;
};

// Which kinds the factory may create at a given place in the tree. Forms
// only exist at the top; a list's child is never a form, data or list chunk
// (this also bounds the nesting depth whatever the input says).
enum class ChunkScope { kTop, kInForm, kInList };
enum class ChunkFamily { kStored, kGenerated };

class RiffChunk {
 public:
  // Bodies below this size are kept in memory when read.
  static constexpr int64_t kKeptBodyLimit = 1024;

  RiffChunk(WaveFile* owner, uint32_t id);
  virtual ~RiffChunk();
  RiffChunk(const RiffChunk&) = delete;
  RiffChunk& operator=(const RiffChunk&) = delete;

  // Called with the owner's stream just after the identifier; leaves it
  // after the body.
  virtual bool Read(uint32_t id);
  // Takes the identifier from the section name and applies its entries.
  virtual bool LoadText(const TextSection& section);
  // True when the property was known and changed.
  virtual bool SetProperty(const std::string& key, const std::string& value);
  virtual bool Write(FileStream& out);

  uint32_t id = 0;
  int64_t offset = -1;
  int64_t size = -1;
  std::vector<uint8_t> body;
  bool sizeInFile = true;
  WaveFile* owner = nullptr;
  std::vector<std::unique_ptr<RiffChunk>> children;

 protected:
  bool ReadGeneric();
  bool WriteGenericCopy(FileStream& out);
  bool ApplySection(const TextSection& section);
  bool SkipPadByte();
};

class FormChunk : public RiffChunk {
 public:
  FormChunk(WaveFile* owner, uint32_t id, SampleSource* source, ChunkFamily family);
  ~FormChunk() override;

  bool Read(uint32_t id) override;
  bool SetProperty(const std::string& key, const std::string& value) override;
  bool Write(FileStream& out) override;
  // Applies sections[first] to itself and takes the sections after it as
  // children, up to the next form section; returns the index after them.
  size_t LoadSections(const std::vector<TextSection>& sections, size_t first);

  uint32_t formType = kIdWave;
  SampleSource* sampleSource = nullptr;
  ChunkFamily family;
};

class StoredFormChunk : public FormChunk {
 public:
  StoredFormChunk(WaveFile* owner, uint32_t id, SampleSource* source)
      : FormChunk(owner, id, source, ChunkFamily::kStored) {}
};

class GeneratedFormChunk : public FormChunk {
 public:
  GeneratedFormChunk(WaveFile* owner, uint32_t id, SampleSource* source)
      : FormChunk(owner, id, source, ChunkFamily::kGenerated) {}
};

// The fmt fields. The first 18 bytes are the WAVE format structure; the
// extensible copy holds the 40-byte structure as stored.
struct WaveFormat {
  uint16_t formatTag = 0;
  uint16_t channels = 0;
  uint32_t sampleRate = 0;
  uint32_t bytesPerSecond = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
  uint16_t extraSize = 0;
  std::array<uint8_t, 40> extensible{};

  static constexpr uint16_t kTagPcm = 1;
  static constexpr uint16_t kTagFloat = 3;
  static constexpr uint16_t kTagExtensible = 0xFFFE;

  // The 18-byte structure in file order.
  std::array<uint8_t, 18> BasicBytes() const;
  void SetBasicBytes(const uint8_t* bytes, size_t count);
  // PCM: tag 1, or extensible with the PCM sub-format identifier.
  bool IsPcm() const;
};

class FormatChunk : public RiffChunk {
 public:
  explicit FormatChunk(WaveFile* owner);
  ~FormatChunk() override;

  bool Read(uint32_t id) override;
  bool SetProperty(const std::string& key, const std::string& value) override;
  bool Write(FileStream& out) override;

  // 0 when the owner's mode is neither RF64 nor RIFF.
  int GetChannels() const;
  int GetBlockAlign() const;

  WaveFormat format;
};

class FrameReader {
 public:
  virtual ~FrameReader() = default;
  virtual bool ReadFrames(FileStream& reader, PcmBlock& block,
                          int64_t startFrame, int64_t count) = 0;
};

class DataChunk : public RiffChunk, public FrameReader {
 public:
  // owner may be null: the empty stand-in returned for a file without data.
  DataChunk(WaveFile* owner, SampleSource* source);
  ~DataChunk() override;

  bool Read(uint32_t id) override;
  bool ReadFrames(FileStream& reader, PcmBlock& block, int64_t startFrame,
                  int64_t count) override;

  int64_t GetFrameCount() const { return frameCount_; }
  int64_t GetDataStart() const;  // offset + 8; -1 in an unknown mode
  int64_t GetPosition() const { return position_; }
  bool SetPosition(int64_t frame);
  // The next count frames from the sequential position.
  bool ReadFloat(FloatFrames& frames, int64_t count);
  // Frame count from size and format (after Open and LoadText).
  void ComputeFrameCount();

  SampleSource* sampleSource = nullptr;

 protected:
  int64_t frameCount_ = -1;
  int64_t position_ = 0;
  FileStream reader_;
  PcmBlock pcm_;
};

class StoredDataChunk : public DataChunk {
 public:
  StoredDataChunk(WaveFile* owner, SampleSource* source) : DataChunk(owner, source) {}
  bool Write(FileStream& out) override;
};

class GeneratedDataChunk : public DataChunk {
 public:
  static constexpr size_t kFramesPerBlock = 1024;
  GeneratedDataChunk(WaveFile* owner, SampleSource* source) : DataChunk(owner, source) {}
  bool Write(FileStream& out) override;
};

class Ds64Chunk : public RiffChunk {
 public:
  static constexpr size_t kFixedSize = 32;
  static constexpr size_t kTableEntrySize = 12;  // identifier + 64-bit size

  explicit Ds64Chunk(WaveFile* owner);
  ~Ds64Chunk() override;

  bool Read(uint32_t id) override;
  bool Write(FileStream& out) override;

  uint64_t riffSize = 0;
  uint64_t dataSize = 0;
  uint64_t sampleCount = 0;
  uint32_t tableLength = 0;
  std::array<uint8_t, 4> trailing{};
  std::vector<uint8_t> table;
};

class ListChunk : public RiffChunk {
 public:
  explicit ListChunk(WaveFile* owner) : RiffChunk(owner, kIdList) {}
  bool Read(uint32_t id) override;
};

class InfoChunk : public RiffChunk {
 public:
  explicit InfoChunk(WaveFile* owner);
  ~InfoChunk() override;
  bool Read(uint32_t id) override;

  // (subchunk identifier, text) in file order; a repeated identifier keeps
  // the last text.
  std::vector<std::pair<std::string, std::string>> texts;
  std::string GetText(const std::string& id) const;
};

class BextChunk : public RiffChunk {
 public:
  static constexpr size_t kBlockSize = 858;
  explicit BextChunk(WaveFile* owner);
  ~BextChunk() override;
  bool Read(uint32_t id) override;

  std::array<uint8_t, kBlockSize> block{};
};

// The factory. 'RIFF' and 'RF64' set the owner's mode and make a form chunk
// (only at the top); 'data' gets the sample source; other known identifiers
// get their classes; anything else is a generic chunk.
std::unique_ptr<RiffChunk> CreateChunk(WaveFile& file, uint32_t id,
                                       SampleSource* source, ChunkFamily family,
                                       ChunkScope scope = ChunkScope::kTop);

// The identifier a text section name stands for: "RF64", "Riff", "Format",
// "Data"; 0 for any other name.
uint32_t SectionChunkId(const std::string& name);

}  // namespace kestrune
