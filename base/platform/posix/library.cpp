// Run-time loaded libraries on POSIX (dlopen).
#include <dlfcn.h>

#include <cerrno>

#include "base/platform/platform.h"

namespace kestrune::platform {

ModuleHandle LoadLibrary(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) {
    errno = ENOENT;
    return nullptr;
  }
  // A bare name is looked up in the system's library path only; the
  // current directory is never searched for it.
  void* module = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) errno = ENOENT;
  return module;
}

void* GetProcAddress(ModuleHandle module, const char* name) {
  if (!module || !name) return nullptr;
  return dlsym(module, name);
}

void FreeLibrary(ModuleHandle module) {
  if (module) dlclose(module);
}

void SetDllDirectory(const char* /*path*/) {}

}  // namespace kestrune::platform
