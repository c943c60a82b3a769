// Random core settings and raw float bit patterns (NaN, infinities,
// denormals, huge values) through the encoder core; every byte it writes
// must form whole, well-sized Layer III frames.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "mp3enc/core.h"

namespace {

constexpr int32_t kRates[9] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr int32_t kBitRates[] = {8000,   16000,  32000,  48000,  64000,  96000,
                                 128000, 160000, 192000, 256000, 320000, 100000};

uint32_t Take(const uint8_t*& data, size_t& size, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes && size > 0; ++i, --size) v |= uint32_t{*data++} << (8 * i);
  return v;
}

// Walks the frames; aborts on anything that is not a whole frame.
void CheckFrames(const std::vector<uint8_t>& d) {
  static const int kBr[2][15] = {
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
  static const int kFs[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
  size_t i = 0;
  while (i < d.size()) {
    if (i + 4 > d.size() || d[i] != 0xFF || (d[i + 1] & 0xE0) != 0xE0) std::abort();
    const int version = (d[i + 1] >> 3) & 3;
    const int index = d[i + 2] >> 4;
    const int fsIndex = (d[i + 2] >> 2) & 3;
    if (version == 1 || index == 0 || index == 15 || fsIndex == 3) std::abort();
    const int fs = kFs[version == 3 ? 0 : version == 2 ? 1 : 2][fsIndex];
    const int spf = version == 3 ? 1152 : 576;
    i += static_cast<size_t>(spf / 8 * kBr[version == 3 ? 0 : 1][index] * 1000 / fs +
                             ((d[i + 2] >> 1) & 1));
  }
  if (i != d.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint32_t setup = Take(data, size, 4);
  Mp3sEncSettings s{};
  s.sampleRate = kRates[setup % 9];
  s.inputChannels = 1 + static_cast<int32_t>((setup >> 4) & 1);
  s.encodedChannels = 1 + static_cast<int32_t>((setup >> 5) & 1);
  s.vbr = (setup >> 6) & 1;
  s.vbrQuality = static_cast<int32_t>((setup >> 7) % 101);
  s.bitRate = s.vbr ? 0 : kBitRates[(setup >> 14) % std::size(kBitRates)];
  s.jointStereoForced = (setup >> 18) & 1;
  s.plainStereo = (setup >> 19) & 1;
  s.crcProtection = (setup >> 20) & 1;
  s.paddingBehaviour = static_cast<int32_t>((setup >> 21) % 3);
  s.bandwidth = static_cast<float>((setup >> 23) % 24000);
  auto core = mp3enc::CreateCore(s, (setup >> 31) != 0);
  if (!core) return 0;
  const size_t per = 576 * static_cast<size_t>(s.inputChannels);
  std::vector<float> granule(per);
  std::vector<uint8_t> stream;
  std::vector<uint8_t> out(16384);
  int granules = 0;
  while (size > 0 && granules < 40) {
    for (size_t i = 0; i < per; ++i) {
      const uint32_t bits = Take(data, size, 4);
      float v;
      std::memcpy(&v, &bits, sizeof(v));
      granule[i] = v;
    }
    size_t written = 0;
    if (core->EncodeGranule(granule.data(), out.data(), out.size(), &written) ==
        mp3enc::CoreAnswer::kFailed) {
      std::abort();
    }
    stream.insert(stream.end(), out.begin(), out.begin() + static_cast<long>(written));
    ++granules;
  }
  for (int calls = 0;; ++calls) {
    if (calls > 64) std::abort();
    size_t written = 0;
    const auto answer = core->EncodeGranule(nullptr, out.data(), out.size(), &written);
    stream.insert(stream.end(), out.begin(), out.begin() + static_cast<long>(written));
    if (answer == mp3enc::CoreAnswer::kFinished) break;
    if (answer != mp3enc::CoreAnswer::kMore) std::abort();
  }
  CheckFrames(stream);
  return 0;
}
