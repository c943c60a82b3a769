// Times the converter against `sox in.wav -r N out.wav rate` on the same
// 16-bit stereo file and prints the ratio (SoX time / our time; above 1 means
// faster than SoX). Our side also reads and writes the 16-bit files, so both
// do the same work end to end. SoX's default "rate" quality is higher than
// the converter needs (its stopband is deeper), which the figures include.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "mp3enc/resampler.h"

namespace {

void PutLe(std::vector<uint8_t>* b, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::vector<uint8_t> WaveHeader(int rate, int channels, uint32_t dataBytes) {
  std::vector<uint8_t> h;
  for (char c : std::string("RIFF")) h.push_back(static_cast<uint8_t>(c));
  PutLe(&h, 36 + dataBytes, 4);
  for (char c : std::string("WAVEfmt ")) h.push_back(static_cast<uint8_t>(c));
  PutLe(&h, 16, 4);
  PutLe(&h, 1, 2);
  PutLe(&h, static_cast<uint32_t>(channels), 2);
  PutLe(&h, static_cast<uint32_t>(rate), 4);
  PutLe(&h, static_cast<uint32_t>(rate * channels * 2), 4);
  PutLe(&h, static_cast<uint32_t>(channels * 2), 2);
  PutLe(&h, 16, 2);
  for (char c : std::string("data")) h.push_back(static_cast<uint8_t>(c));
  PutLe(&h, dataBytes, 4);
  return h;
}

bool WriteTestFile(const std::string& path, int rate, int seconds) {
  const int channels = 2;
  const size_t frames = static_cast<size_t>(rate) * seconds;
  std::vector<uint8_t> bytes = WaveHeader(rate, channels, static_cast<uint32_t>(frames * 4));
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> noise(-0.1, 0.1);
  for (size_t i = 0; i < frames; ++i) {
    for (int c = 0; c < channels; ++c) {
      const double t = static_cast<double>(i) / rate;
      const double v = 0.4 * std::sin(2 * std::numbers::pi * (440.0 + 300.0 * c) * t) + noise(rng);
      PutLe(&bytes, static_cast<uint32_t>(static_cast<int16_t>(std::lround(v * 32767))), 2);
    }
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Reads the file written above, converts it and writes a 16-bit file.
bool ConvertOurs(const std::string& in, const std::string& out, int inRate, int outRate) {
  FILE* f = std::fopen(in.c_str(), "rb");
  if (f == nullptr) return false;
  std::fseek(f, 44, SEEK_SET);
  const int channels = 2;
  const float bw = static_cast<float>(0.4535 * std::min(inRate, outRate));
  const mp3enc::FilterSpec spec{bw, bw * 0.1f, 75.0f};
  std::unique_ptr<mp3enc::Resampler> r;
  const int outBlock = channels * 576 * (outRate >= 32000 ? 2 : 1);
  if (mp3enc::Resampler::Create(&spec, inRate, outRate, channels, outBlock, &r) !=
      mp3enc::ResamplerStatus::kOk) {
    std::fclose(f);
    return false;
  }
  FILE* o = std::fopen(out.c_str(), "wb");
  if (o == nullptr) {
    std::fclose(f);
    return false;
  }
  std::vector<uint8_t> header = WaveHeader(outRate, channels, 0);
  std::fwrite(header.data(), 1, header.size(), o);
  std::vector<int16_t> pcm(static_cast<size_t>(r->InputBlock()));
  std::vector<int16_t> pcmOut(static_cast<size_t>(r->OutputBlock()));
  std::vector<float> x(pcm.size()), y(pcmOut.size());
  for (;;) {
    const size_t got = std::fread(pcm.data(), 2, pcm.size(), f);
    if (got == 0) break;
    for (size_t i = 0; i < pcm.size(); ++i) x[i] = i < got ? pcm[i] : 0.0f;
    r->Process(x.data(), y.data());
    for (size_t i = 0; i < y.size(); ++i) {
      pcmOut[i] = static_cast<int16_t>(std::lrint(std::fmax(-32768.0f, std::fmin(32767.0f, y[i]))));
    }
    std::fwrite(pcmOut.data(), 2, pcmOut.size(), o);
  }
  std::fclose(f);
  return std::fclose(o) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 120;
  const int pairs[][2] = {{44100, 48000}, {48000, 44100}, {96000, 48000},
                          {22050, 44100}, {8000, 32000}, {48000, 32000}};
  std::printf("%-16s %10s %10s %8s\n", "conversion", "sox s", "ours s", "ratio");
  for (const auto& p : pairs) {
    const std::string in = "resampler_bench_in.wav";
    const std::string soxOut = "resampler_bench_sox.wav";
    const std::string ourOut = "resampler_bench_ours.wav";
    if (!WriteTestFile(in, p[0], seconds)) return 1;
    const std::string cmd = "sox " + in + " -r " + std::to_string(p[1]) + " " + soxOut + " rate";
    auto t0 = std::chrono::steady_clock::now();
    if (std::system(cmd.c_str()) != 0) {
      std::fprintf(stderr, "sox failed\n");
      return 1;
    }
    const double sox = Seconds(t0);
    t0 = std::chrono::steady_clock::now();
    if (!ConvertOurs(in, ourOut, p[0], p[1])) return 1;
    const double ours = Seconds(t0);
    std::printf("%6d -> %-6d %10.3f %10.3f %8.2f\n", p[0], p[1], sox, ours, sox / ours);
    std::remove(in.c_str());
    std::remove(soxOut.c_str());
    std::remove(ourOut.c_str());
  }
  return 0;
}
