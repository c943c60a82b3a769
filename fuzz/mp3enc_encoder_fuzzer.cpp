// Random requests and random PCM (NaN, infinities, denormals and full-scale
// noise included) in random block sizes through Mp3sEncEncode. Whatever
// comes in, the output is a sequence of whole, valid Layer III frames and
// the flush ends.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mp3enc/frame_index.h"
#include "mp3enc/mp3s_enc.h"

namespace {

constexpr int32_t kRates[] = {8000,  11025, 12000, 16000, 22050, 24000,
                              32000, 44100, 48000, 96000, 37800, 7350};
constexpr int32_t kBitRates[] = {8,   16,  24,  32,  40,  48,  56,  64,  80, 96,
                                 112, 128, 144, 160, 192, 224, 256, 320, 33};
constexpr size_t kMaxSamples = 40000;

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint32_t Take(int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes && size_ > 0; ++i, --size_) v |= uint32_t{*data_++} << (8 * i);
    return v;
  }
  bool Empty() const { return size_ == 0; }

 private:
  const uint8_t* data_;
  size_t size_;
};

// Aborts unless out[0..size) is a run of whole frames with valid headers.
void CheckFrames(const uint8_t* out, int32_t size) {
  int32_t pos = 0;
  while (pos < size) {
    if (size - pos < 4) std::abort();
    const uint32_t h = (uint32_t{out[pos]} << 24) | (uint32_t{out[pos + 1]} << 16) |
                       (uint32_t{out[pos + 2]} << 8) | out[pos + 3];
    mp3enc::ParsedHeader p;
    if (!mp3enc::ParseLayer3Header(h, &p)) std::abort();
    pos += p.length;
  }
  if (pos != size) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  const uint32_t setup = in.Take(4);
  const int32_t rate = kRates[setup % std::size(kRates)];
  const int32_t channels = 1 + static_cast<int32_t>((setup >> 4) & 1);
  const int32_t policy = static_cast<int32_t>((setup >> 5) & 1);
  const int32_t level = static_cast<int32_t>((setup >> 6) & 7) % 6;
  const int32_t bitRate =
      level != 0 ? 0 : kBitRates[(setup >> 9) % std::size(kBitRates)] * 1000;
  const uint32_t sampleMode = (setup >> 16) & 3;  // 0/1: 16-bit PCM, 2: raw floats, 3: mixed

  Mp3sEncHandle h = nullptr;
  if (Mp3sEncOpen(&h, rate, bitRate, channels, policy, level) != 0) return 0;
  int32_t block = 0;
  if (Mp3sEncPrepare(h, &block) != 0) return 0;
  Mp3sEncInfo info;
  Mp3sEncGetInfo(&info, h);
  std::vector<uint8_t> out(8192);
  std::vector<float> samples;
  size_t total = 0;
  while (!in.Empty() && total < kMaxSamples) {
    const int32_t chunk = static_cast<int32_t>(in.Take(2) % 5000);
    samples.assign(static_cast<size_t>(chunk), 0.0f);
    for (float& v : samples) {
      const uint32_t bits = in.Take(sampleMode >= 2 ? 4 : 2);
      if (sampleMode < 2 || (sampleMode == 3 && (bits & 0x80000000u) == 0)) {
        v = static_cast<float>(static_cast<int16_t>(bits)) / 32768.0f;
      } else {
        std::memcpy(&v, &bits, sizeof v);
      }
    }
    total += samples.size();
    int32_t count = chunk;
    int32_t offset = 0;
    while (count > 0) {
      int32_t next = 0, bytes = 0;
      const int32_t before = count;
      if (Mp3sEncEncode(h, samples.data() + offset, &count, &next, 8192, out.data(), &bytes) != 0) {
        Mp3sEncClose(h);
        return 0;
      }
      if (count >= before || next <= 0 || next > block) std::abort();
      CheckFrames(out.data(), bytes);
      offset += before - count;
    }
  }
  // The flush ends within a bounded number of calls.
  for (int calls = 0;; ++calls) {
    if (calls > 10000) std::abort();
    int32_t count = 0, next = 0, bytes = 0;
    if (Mp3sEncEncode(h, nullptr, &count, &next, 8192, out.data(), &bytes) != 0) break;
    CheckFrames(out.data(), bytes);
    if (bytes == 0) break;
  }
  Mp3sEncClose(h);
  return 0;
}
