// Helpers of the encoder-core tests: synthesised signals, driving a core
// granule by granule, and measures of a decoding; the stream checks and
// decoders are the shared ones.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "mp3enc/core.h"
#include "tests/support/mp3_stream_check.h"
#include "tests/support/mp3dec_run.h"
#include "tests/support/temp_dir.h"

namespace coretest {

using namespace kestrune::testing;

inline Mp3sEncSettings Settings(int rate, int channels, int bitRate, int vbrQuality = -1) {
  Mp3sEncSettings s{};
  s.sampleRate = rate;
  s.inputChannels = channels;
  s.encodedChannels = channels;
  s.bitRate = vbrQuality >= 0 ? 0 : bitRate;
  s.vbr = vbrQuality >= 0 ? 1 : 0;
  s.vbrQuality = vbrQuality >= 0 ? vbrQuality : 0;
  s.jointStereoForced = channels == 2 ? 1 : 0;
  s.paddingBehaviour = 1;
  s.reserved17 = 16;
  s.bandwidth = static_cast<float>(std::min(rate / 2, 16000));
  return s;
}

// Interleaved samples on the +-32768 scale.
struct Signal {
  int channels = 1;
  std::vector<float> samples;
  size_t Frames() const { return samples.size() / channels; }
};

// Encodes a signal, appending zero granules for the delay and draining.
// Returns false when the core refuses the settings or fails.
inline bool Encode(const Mp3sEncSettings& s, const Signal& sig, bool vector,
                   std::vector<uint8_t>* out) {
  auto core = mp3enc::CreateCore(s, vector);
  if (!core) return false;
  const int ch = s.inputChannels;
  const size_t frames = sig.Frames() + 1201 + 1152;
  std::vector<float> g(576 * ch);
  std::vector<uint8_t> buf(16384);
  for (size_t pos = 0; pos < frames; pos += 576) {
    for (int i = 0; i < 576 * ch; ++i) {
      const size_t idx = pos * ch + i;
      g[i] = idx < sig.samples.size() ? sig.samples[idx] : 0.0f;
    }
    size_t w = 0;
    if (core->EncodeGranule(g.data(), buf.data(), buf.size(), &w) == mp3enc::CoreAnswer::kFailed) {
      return false;
    }
    out->insert(out->end(), buf.begin(), buf.begin() + static_cast<long>(w));
  }
  for (int calls = 0; calls < 100; ++calls) {
    size_t w = 0;
    const auto a = core->EncodeGranule(nullptr, buf.data(), buf.size(), &w);
    out->insert(out->end(), buf.begin(), buf.begin() + static_cast<long>(w));
    if (a == mp3enc::CoreAnswer::kFinished) return true;
    if (a != mp3enc::CoreAnswer::kMore) return false;
  }
  return false;
}

// Signal-to-noise ratio (dB) of channel c of a decoding against the input,
// the decoding lagging by delay samples.
inline double Snr(const Signal& in, const std::vector<int16_t>& dec, int decChannels, int c,
                  size_t delay) {
  double se = 0.0;
  double ne = 0.0;
  const size_t n = in.Frames();
  for (size_t i = 0; i < n; ++i) {
    const size_t j = (i + delay) * decChannels + c;
    if (j >= dec.size()) return -100.0;
    const double x = in.samples[i * in.channels + c];
    const double e = x - dec[j];
    se += x * x;
    ne += e * e;
  }
  return 10.0 * std::log10(se / std::max(ne, 1e-9));
}

}  // namespace coretest
