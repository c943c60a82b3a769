#include "mp3dec_test_support.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <fstream>
#include <iterator>

#include "mp3dec/mp3dec.h"

namespace mp3dec_test {

std::string SharedDir() { return KESTRUNE_SHARED_DIR; }

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::vector<int16_t> ReadPcm16(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  std::vector<int16_t> pcm(bytes.size() / 2);
  for (size_t i = 0; i < pcm.size(); ++i) {
    pcm[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return pcm;
}

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
  Mp3sDecStreamInfo info;
  Mp3sDecGetInfo(&info, h);
  run.channels = static_cast<int>(info.values[kMp3sDecInfoChannelsOut]);
  run.sampleRate = static_cast<int>(info.values[kMp3sDecInfoSampleRate]);
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
    run.lastResult = r;
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
  c.compared = count;
  double noise = 0;
  for (size_t i = 0; i < count; ++i) {
    const int d = a[i] - b[i];
    noise += static_cast<double>(d) * d;
    c.maxDiff = std::max(c.maxDiff, std::abs(d));
  }
  if (noise == 0 || count == 0) {
    c.psnr = 999;
  } else {
    c.psnr = 10.0 * std::log10(32768.0 * 32768.0 / (noise / static_cast<double>(count)));
  }
  return c;
}

}  // namespace mp3dec_test

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace mp3dec_test {

void WriteTestWave(const std::string& path, int sampleRate, int channels, double seconds) {
  const uint32_t frames = static_cast<uint32_t>(sampleRate * seconds);
  const uint32_t dataBytes = frames * static_cast<uint32_t>(channels) * 2;
  std::vector<uint8_t> out;
  auto put32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i))); };
  auto put16 = [&](uint32_t v) { for (int i = 0; i < 2; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i))); };
  auto tag = [&](const char* t) { out.insert(out.end(), t, t + 4); };
  tag("RIFF"); put32(36 + dataBytes); tag("WAVE"); tag("fmt "); put32(16); put16(1);
  put16(static_cast<uint32_t>(channels)); put32(static_cast<uint32_t>(sampleRate));
  put32(static_cast<uint32_t>(sampleRate * channels * 2)); put16(static_cast<uint32_t>(channels * 2)); put16(16);
  tag("data"); put32(dataBytes);
  for (uint32_t n = 0; n < frames; ++n) {
    const double t = static_cast<double>(n) / sampleRate;
    for (int c = 0; c < channels; ++c) {
      const double v = 0.3 * std::sin(2 * std::numbers::pi * (440.0 + 110.0 * c) * t) + 0.2 * std::sin(2 * std::numbers::pi * 3150.0 * t) +
                       0.05 * std::sin(2 * std::numbers::pi * 9000.0 * t * (1.0 + t));
      put16(static_cast<uint16_t>(static_cast<int16_t>(std::lround(v * 32767.0))));
    }
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return;
  std::fwrite(out.data(), 1, out.size(), f);
  std::fclose(f);
}

int RunLame(const std::string& arguments, const std::string& input, const std::string& output) {
  const std::string command = "lame --quiet " + arguments + " '" + input + "' '" + output + "'";
  return std::system(command.c_str());
}

std::string TempPath(const std::string& name) {
  const auto dir = std::filesystem::temp_directory_path() / "kestrune-mp3dec-tests";
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

}  // namespace mp3dec_test

namespace mp3dec_test {
std::vector<int16_t> DecodeWithMpg123(const std::string& mp3) {
  const std::string pcm = mp3 + ".mpg123.pcm";
  // mpg123 seeks its output when the format changes: pipe it through cat.
  const std::string command = "mpg123 -q -s --no-gapless '" + mp3 + "' 2>/dev/null | cat > '" + pcm + "'";
  if (std::system(command.c_str()) != 0) return {};
  return ReadPcm16(pcm);
}
}  // namespace mp3dec_test
