// Run-time loaded libraries on Windows.
#include "base/platform/win32/windows_api.h"

namespace kestrune::platform {

ModuleHandle LoadLibrary(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) {
    ::SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // No error box for a library that is not there: the caller reports it.
  const UINT previousMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = ::LoadLibraryA(name.c_str());
  const DWORD error = ::GetLastError();
  ::SetErrorMode(previousMode);
  ::SetLastError(error);
  return module;
}

void* GetProcAddress(ModuleHandle module, const char* name) {
  if (!module || !name) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

void FreeLibrary(ModuleHandle module) {
  if (module) ::FreeLibrary(static_cast<HMODULE>(module));
}

// An empty string takes the current directory out of the search order for
// this and every later load; null restores the default order.
void SetDllDirectory(const char* path) { ::SetDllDirectoryA(path); }

}  // namespace kestrune::platform
