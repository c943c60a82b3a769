// Preloaded into the kestrune program by the tests: makes the system's
// search find no Ogg or Vorbis library, as on a machine without them. Names
// with a path (the "f" folder's candidates) load as usual.
#include <dlfcn.h>

#include <cstring>
#include <initializer_list>

namespace {

bool IsHiddenBareName(const char* name) {
  if (name == nullptr || std::strchr(name, '/') != nullptr) return false;
  for (const char* prefix : {"libogg", "libvorbis", "ogg.", "vorbis"}) {
    if (std::strncmp(name, prefix, std::strlen(prefix)) == 0) return true;
  }
  return false;
}

}  // namespace

extern "C" void* dlopen(const char* name, int flags) {
  using DlopenFn = void* (*)(const char*, int);
  static const auto next = reinterpret_cast<DlopenFn>(dlsym(RTLD_NEXT, "dlopen"));
  if (IsHiddenBareName(name)) return nullptr;
  return next(name, flags);
}
