#include "mp3dec_test_support.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "mp3dec/mp3dec.h"
#include "tests/support/files.h"
#include "tests/support/riff_bytes.h"

namespace mp3dec_test {

using kestrune::testing::Bytes;
using kestrune::testing::Shell;

std::string VectorPath(const std::string& name) {
  return std::string(KESTRUNE_SHARED_DIR) + "/vectors/mpeg/" + name;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  const std::string bytes = kestrune::testing::ReadBytes(path);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

namespace {
std::vector<int16_t> Pcm16(const std::string& bytes) {
  std::vector<int16_t> pcm(bytes.size() / 2);
  if (!pcm.empty()) std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);  // little-endian hosts
  return pcm;
}
}  // namespace

std::vector<int16_t> ReadPcm16(const std::string& path) { return Pcm16(kestrune::testing::ReadBytes(path)); }

DecodeRun DecodeStream(const std::vector<uint8_t>& stream, size_t chunkSize) {
  DecodeRun run;
  Mp3sDecHandle h = nullptr;
  if (Mp3sDecOpen(&h, 0) != 0) return run;
  const size_t first = std::min<size_t>(stream.size(), 8192);
  run.initResult = Mp3sDecInit(h, stream.data(), static_cast<uint32_t>(first),
                               static_cast<uint32_t>(stream.size()), 1, 1);
  if (run.initResult != 0) {
    Mp3sDecClose(h);
    return run;
  }
  std::vector<float> out(kMp3sDecMaxOutputFloats);
  std::vector<uint8_t> ancillary(4096);
  size_t position = 0;
  const uint8_t* chunk = nullptr;
  size_t chunkLength = 0, used = 0;
  int guard = 0;
  while (!Mp3sDecIsFinished(h) && ++guard < 10000000) {
    if (used == chunkLength) {
      chunkLength = std::min(chunkSize, stream.size() - position);
      chunk = stream.data() + position;
      position += chunkLength;
      used = 0;
      if (chunkLength < chunkSize) Mp3sDecSetEndOfInput(h);
    }
    uint32_t consumed = 0, written = 0, flags = 0;
    uint32_t ancillaryCount = static_cast<uint32_t>(ancillary.size());
    const int r = Mp3sDecDecode(h, chunk + used, static_cast<uint32_t>(chunkLength - used), &consumed, out.data(),
                                static_cast<uint32_t>(out.size()), &written, &flags, 0, 0, ancillary.data(),
                                &ancillaryCount);
    if (r == kMp3sDecEndOfStream) continue;
    used += consumed;
    if (r == kMp3sDecConcealedNoMainData) {
      ++run.concealedNoMainData;
      continue;
    }
    if (r == kMp3sDecConcealedSideInfo) {
      ++run.concealedSideInfo;
      continue;
    }
    if (r != 0) break;
    if (written == 0) continue;
    ++run.frames;
    for (uint32_t i = 0; i < written; ++i) {
      const float v = std::clamp(out[i] * 32768.0f, -32768.0f, 32767.0f);
      run.pcm.push_back(static_cast<int16_t>(std::nearbyint(v)));
    }
  }
  run.finished = Mp3sDecIsFinished(h) != 0;
  Mp3sDecClose(h);
  return run;
}

Comparison ComparePcm(const std::vector<int16_t>& a, const std::vector<int16_t>& b, size_t count) {
  Comparison c;
  double noise = 0;
  for (size_t i = 0; i < count; ++i) {
    const int d = a[i] - b[i];
    noise += static_cast<double>(d) * d;
    c.maxDiff = std::max(c.maxDiff, std::abs(d));
  }
  c.psnr = noise == 0 ? 999 : 10.0 * std::log10(32768.0 * 32768.0 / (noise / static_cast<double>(count)));
  return c;
}

void WriteTestWave(const std::string& path, int sampleRate, int channels, double seconds) {
  const int frames = static_cast<int>(sampleRate * seconds);
  Bytes samples;
  for (int n = 0; n < frames; ++n) {
    const double t = static_cast<double>(n) / sampleRate;
    for (int c = 0; c < channels; ++c) {
      const double v = 0.3 * std::sin(2 * std::numbers::pi * (440.0 + 110.0 * c) * t) +
                       0.2 * std::sin(2 * std::numbers::pi * 3150.0 * t) +
                       0.05 * std::sin(2 * std::numbers::pi * 9000.0 * t * (1.0 + t));
      samples.I16(static_cast<int16_t>(std::lround(v * 32767.0)));
    }
  }
  const auto fmt = kestrune::testing::FmtBody(1, static_cast<uint16_t>(channels),
                                              static_cast<uint32_t>(sampleRate), 16);
  kestrune::testing::WriteBytes(path, kestrune::testing::RiffWave(
                                          Bytes().Chunk("fmt ", fmt).Chunk("data", samples)).data);
}

int RunLame(const std::string& arguments, const std::string& input, const std::string& output) {
  int status = -1;
  Shell("lame --quiet " + arguments + " '" + input + "' '" + output + "'", &status);
  return status;
}

std::vector<int16_t> DecodeWithMpg123(const std::string& mp3) {
  int status = -1;
  const std::string pcm = Shell("mpg123 -q -s --no-gapless '" + mp3 + "' 2>/dev/null", &status);
  return status == 0 ? Pcm16(pcm) : std::vector<int16_t>{};
}

}  // namespace mp3dec_test
