// The decoder library on arbitrary bytes: initialisation on the first part,
// then decode calls over the rest in chunks whose sizes come from the input,
// stream information refreshed along the way, end of input at the end.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "mp3dec/mp3dec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // Long inputs add time, not coverage: the first 64 KiB are decoded.
  if (size > 65536 + 2) size = 65536 + 2;
  uint32_t seed = data[0] | data[1] << 8;
  data += 2;
  size -= 2;
  Mp3sDecHandle h = nullptr;
  if (Mp3sDecOpen(&h, 0) != 0) return 0;
  const uint32_t initCount = static_cast<uint32_t>(size < 8192 ? size : 8192);
  if (Mp3sDecInit(h, data, initCount, static_cast<uint32_t>(size), 1, 1) == 0) {
    Mp3sDecStreamInfo info;
    std::vector<float> out(kMp3sDecMaxOutputFloats);
    std::vector<uint8_t> ancillary(512);
    size_t position = 0;
    for (int step = 0; step < 200000 && !Mp3sDecIsFinished(h); ++step) {
      seed = seed * 1103515245u + 12345u;
      const size_t want = 1 + (seed >> 16) % 3000;
      const size_t chunk = position + want < size ? want : size - position;
      if (position + chunk >= size) Mp3sDecSetEndOfInput(h);
      uint32_t consumed = 0, written = 0, flags = 0;
      uint32_t ancillaryCount = static_cast<uint32_t>(ancillary.size());
      const int r = Mp3sDecDecode(h, data + position, static_cast<uint32_t>(chunk), &consumed, out.data(),
                                  static_cast<uint32_t>(out.size()), &written, &flags, 0, 0, ancillary.data(),
                                  &ancillaryCount);
      if (r == kMp3sDecInvalidHandle) break;
      if (written > out.size() || ancillaryCount > ancillary.size() || consumed > chunk) __builtin_trap();
      position += consumed;
      if ((step & 15) == 0) Mp3sDecGetInfo(&info, h);
    }
  }
  Mp3sDecClose(h);
  return 0;
}
