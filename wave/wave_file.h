// A WAVE or RF64 file held as a chunk tree. The file owns its tree and its
// stream; one recursive lock serialises every use of either.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/file_stream.h"
#include "base/lock.h"
#include "wave/chunks.h"

namespace kestrune {

// A registered chunk handed out with the file's lock held; the lock is
// released when the holder goes away. The chunk may be null (GetFormat,
// GetDs64 of a file without one).
template <typename T>
class LockedChunk {
 public:
  LockedChunk(CriticalSection& lock, T* chunk) : lock_(&lock), chunk_(chunk) {}
  ~LockedChunk() {
    if (lock_ != nullptr) lock_->Leave();
  }
  LockedChunk(LockedChunk&& other) noexcept : lock_(other.lock_), chunk_(other.chunk_) {
    other.lock_ = nullptr;
  }
  LockedChunk(const LockedChunk&) = delete;
  LockedChunk& operator=(const LockedChunk&) = delete;
  LockedChunk& operator=(LockedChunk&&) = delete;

  T* get() const { return chunk_; }
  T* operator->() const { return chunk_; }
  T& operator*() const { return *chunk_; }
  explicit operator bool() const { return chunk_ != nullptr; }

 private:
  CriticalSection* lock_;  // entered by the creator
  T* chunk_;
};

class WaveFile {
 public:
  static constexpr uint32_t kModeRf64 = 0;
  static constexpr uint32_t kModeRiff = 1;
  static constexpr size_t kMaxRootChunks = 1024;
  // Sequential scan hint with the normal attribute, for sample readers.
  static constexpr uint32_t kReadFlags = 0x08000080u;
  static constexpr uint32_t kNormalAttribute = 0x80u;

  enum class Slot { kForm, kFormat, kData, kDs64, kInfo, kBext, kCount };

  WaveFile();
  ~WaveFile();
  WaveFile(const WaveFile&) = delete;
  WaveFile& operator=(const WaveFile&) = delete;

  // Builds the tree from a file; true when every top-level chunk was read.
  bool Open(const std::string& path);
  // Builds the tree from the text header form; data chunks draw from source.
  bool LoadText(const std::string& text, SampleSource* source);
  // Writes the tree to a new file; the first failing chunk ends with false.
  bool SaveAs(const std::string& path);
  // Destroys the tree and closes the stream.
  void Reset();

  LockedChunk<FormChunk> GetForm();
  LockedChunk<FormatChunk> GetFormat();
  // Never null: a file without data gives an empty chunk that reads nothing.
  LockedChunk<DataChunk> GetData();
  LockedChunk<Ds64Chunk> GetDs64();
  LockedChunk<InfoChunk> GetInfo();
  LockedChunk<BextChunk> GetBext();
  bool HasData();

  CriticalSection& Lock() { return lock_; }
  uint32_t GetMode() const { return mode_; }
  void SetMode(uint32_t mode) { mode_ = mode; }
  bool ModeKnown() const { return mode_ == kModeRf64 || mode_ == kModeRiff; }
  FileStream& Stream() { return stream_; }
  const std::vector<std::unique_ptr<RiffChunk>>& Roots() const { return roots_; }

  bool lengthFromFileSize = true;

  // Used by the chunk classes' constructors and destructors.
  void Register(Slot slot, RiffChunk* chunk);
  void Unregister(Slot slot, RiffChunk* chunk);

 private:
  template <typename T>
  LockedChunk<T> Get(Slot slot);

  CriticalSection lock_;
  uint32_t mode_ = kModeRf64;
  FileStream stream_;
  std::vector<std::unique_ptr<RiffChunk>> roots_;
  RiffChunk* registered_[static_cast<size_t>(Slot::kCount)] = {};
  DataChunk emptyData_{nullptr, nullptr};
};

}  // namespace kestrune
