// A library loaded at run time, its entry points resolved by name.
#pragma once

#include <string>
#include <vector>

namespace kestrune {

class LibraryHandle {
 public:
  static constexpr size_t kMaxCandidates = 16;

  LibraryHandle() = default;
  ~LibraryHandle() { Free(); }
  LibraryHandle(const LibraryHandle&) = delete;
  LibraryHandle& operator=(const LibraryHandle&) = delete;

  // Loads by name with the system's search (never the current directory for
  // a bare name). On success a library held before is freed; on failure the
  // handle keeps what it held and the system's last error stays set.
  bool Load(const std::string& name);
  // Tries each name in order and stops at the first that loads. Fewer than
  // 1 or more than kMaxCandidates names fail at once.
  bool LoadFirst(const std::vector<std::string>& names);
  // The address of an exported entry point; null when nothing is loaded or
  // the name is not exported.
  void* GetEntry(const std::string& name) const;
  template <typename Function>
  Function GetEntryAs(const std::string& name) const {
    return reinterpret_cast<Function>(GetEntry(name));
  }
  bool IsLoaded() const { return module_ != nullptr; }
  void Free();

 private:
  void* module_ = nullptr;
};

}  // namespace kestrune
