// Random converter set-ups fed with raw float bit patterns. Creation either
// succeeds or fails with a status and its message; processing never reads or
// writes outside the blocks, and finite input gives finite output.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "mp3enc/resampler.h"

namespace {

constexpr int32_t kRates[] = {8000,  11025, 12000, 16000, 22050, 24000, 32000,
                              44100, 48000, 96000, 7350,  37800, 1,     0};

uint32_t Take(const uint8_t*& data, size_t& size, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes && size > 0; ++i, --size) v |= uint32_t{*data++} << (8 * i);
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint32_t setup = Take(data, size, 4);
  const int32_t in = kRates[setup % std::size(kRates)];
  const int32_t out = kRates[(setup >> 4) % 9];
  const int32_t channels = 1 + static_cast<int32_t>((setup >> 8) & 1);
  const bool withSpec = ((setup >> 9) & 7) != 0;
  // Bandwidth from a tenth of the lower Nyquist frequency up to a bit above.
  const float lower = static_cast<float>(in < out ? in : out) * 0.5f;
  const float bw = lower * (0.1f + static_cast<float>((setup >> 12) & 0xff) / 255.0f);
  const mp3enc::FilterSpec spec{bw, bw * 0.1f, 75.0f};
  const int32_t outBlock = channels * 576 * (out >= 32000 ? 2 : 1);
  std::unique_ptr<mp3enc::Resampler> r;
  const char* message = nullptr;
  mp3enc::ResamplerErrorHandler handler{
      [](void* context, const char* text) { *static_cast<const char**>(context) = text; },
      &message};
  const mp3enc::ResamplerStatus status = mp3enc::Resampler::Create(
      withSpec ? &spec : nullptr, in, out, channels, outBlock, &r, handler);
  if (status != mp3enc::ResamplerStatus::kOk) {
    if (r != nullptr || message == nullptr ||
        std::strcmp(message, mp3enc::ResamplerMessage(status)) != 0) {
      std::abort();
    }
    return 0;
  }
  std::vector<float> x(static_cast<size_t>(r->InputBlock()));
  std::vector<float> y(static_cast<size_t>(r->OutputBlock()));
  // A few blocks: the data first, then zeros, so the history is flushed.
  bool finite = true;  // every sample so far finite and of sane size
  for (int block = 0; block < 4; ++block) {
    for (float& v : x) {
      uint32_t bits = Take(data, size, 4);
      std::memcpy(&v, &bits, sizeof v);
      if (!std::isfinite(v) || std::fabs(v) > 1e30f) finite = false;
    }
    r->Process(x.data(), y.data());
    for (float v : y) {
      if (finite && !std::isfinite(v)) std::abort();
    }
  }
  // After silence longer than the filter, the output is silent again: the
  // taps span input frames, the delay output frames.
  std::fill(x.begin(), x.end(), 0.0f);
  const int32_t flushBlocks = 2 + r->TapsPerOutput() / (r->InputBlock() / channels) +
                              r->Delay() / (r->OutputBlock() / channels);
  for (int32_t i = 0; i < flushBlocks; ++i) r->Process(x.data(), y.data());
  for (float v : y) {
    if (v != 0.0f) std::abort();
  }
  return 0;
}
