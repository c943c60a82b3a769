#include "base/library_handle.h"

#include "base/platform/platform.h"

namespace kestrune {

bool LibraryHandle::Load(const std::string& name) {
  platform::SetDllDirectory("");
  platform::ModuleHandle module = platform::LoadLibrary(name);
  if (!module) return false;
  Free();
  module_ = module;
  return true;
}

bool LibraryHandle::LoadFirst(const std::vector<std::string>& names) {
  if (names.empty() || names.size() > kMaxCandidates) return false;
  for (const std::string& name : names) {
    if (Load(name)) return true;
  }
  return false;
}

void* LibraryHandle::GetEntry(const std::string& name) const {
  if (!module_ || name.find('\0') != std::string::npos) return nullptr;
  return platform::GetProcAddress(module_, name.c_str());
}

void LibraryHandle::Free() {
  if (module_) platform::FreeLibrary(module_);
  module_ = nullptr;
}

}  // namespace kestrune
