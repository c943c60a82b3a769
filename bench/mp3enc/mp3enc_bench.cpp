// Times the encoder core against `lame -b 128` (CBR) and `lame -V 4` (VBR at
// a similar average rate) on the same synthesised 44.1 kHz stereo file
// (default 300 s), one process at a time, and prints throughput ratios
// (above 1 means faster than LAME) and peak memory. Our side reads the
// 16-bit file and writes the MP3 too, so both do the same work end to end.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "mp3enc/core.h"

namespace {

void PutLe(std::vector<uint8_t>* b, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Plucked notes, a bass line, noise bursts and a little hiss: music-like
// material that exercises tonal coding, attacks and short blocks.
std::vector<int16_t> MakeMusic(int rate, int seconds) {
  const size_t frames = static_cast<size_t>(rate) * seconds;
  std::vector<int16_t> pcm(frames * 2);
  std::mt19937 rng(11);
  std::normal_distribution<double> noise(0.0, 1.0);
  const double notes[8] = {261.6, 329.6, 392.0, 523.3, 392.0, 329.6, 293.7, 246.9};
  for (size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    const int beat = static_cast<int>(t * 4.0);
    const double tb = t - beat / 4.0;
    const double f = notes[beat % 8];
    const double env = std::exp(-tb * 5.0);
    double l = 0.0;
    for (int h = 1; h <= 6; ++h) l += env * std::sin(2 * M_PI * f * h * t) / h;
    const double bass = 0.5 * std::sin(2 * M_PI * f / 4 * t);
    const double burst = (beat % 4 == 2 && tb < 0.03) ? noise(rng) * std::exp(-tb * 150.0) : 0.0;
    const double hiss = 0.01 * noise(rng);
    const double left = 0.25 * (l + bass) + 0.4 * burst + hiss;
    const double right = 0.22 * (0.8 * l + bass) + 0.4 * burst + 0.01 * noise(rng);
    pcm[2 * i] = static_cast<int16_t>(std::lround(std::clamp(left, -1.0, 1.0) * 32000));
    pcm[2 * i + 1] = static_cast<int16_t>(std::lround(std::clamp(right, -1.0, 1.0) * 32000));
  }
  return pcm;
}

bool WriteWave(const std::string& path, const std::vector<int16_t>& pcm, int rate) {
  std::vector<uint8_t> h;
  const uint32_t bytes = static_cast<uint32_t>(pcm.size() * 2);
  for (char c : std::string("RIFF")) h.push_back(static_cast<uint8_t>(c));
  PutLe(&h, 36 + bytes, 4);
  for (char c : std::string("WAVEfmt ")) h.push_back(static_cast<uint8_t>(c));
  PutLe(&h, 16, 4);
  PutLe(&h, 1, 2);
  PutLe(&h, 2, 2);
  PutLe(&h, static_cast<uint32_t>(rate), 4);
  PutLe(&h, static_cast<uint32_t>(rate * 4), 4);
  PutLe(&h, 4, 2);
  PutLe(&h, 16, 2);
  for (char c : std::string("data")) h.push_back(static_cast<uint8_t>(c));
  PutLe(&h, bytes, 4);
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(h.data()), static_cast<std::streamsize>(h.size()));
  f.write(reinterpret_cast<const char*>(pcm.data()), static_cast<std::streamsize>(bytes));
  return static_cast<bool>(f);
}

struct Run {
  double seconds = 0;
  long peakKb = 0;
  long bytes = 0;
};

long FileSize(const std::string& path) {
  std::ifstream f(path, std::ios::binary | std::ios::ate);
  return f ? static_cast<long>(f.tellg()) : -1;
}

Run RunLame(const std::vector<std::string>& args) {
  Run r;
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.peakKb = usage.ru_maxrss;
  r.bytes = FileSize(args.back());
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) r.seconds = -1;
  return r;
}

Run RunOurs(const std::string& wav, const std::string& mp3, int bitRate, int vbrQuality,
            bool vector) {
  Run r;
  const auto start = std::chrono::steady_clock::now();
  std::ifstream in(wav, std::ios::binary);
  in.seekg(44);
  std::ofstream out(mp3, std::ios::binary);
  Mp3sEncSettings s{};
  s.sampleRate = 44100;
  s.bitRate = bitRate;
  s.inputChannels = 2;
  s.encodedChannels = 2;
  s.bandwidth = vbrQuality > 0 ? 20192.0f : 15804.0f;
  s.vbr = vbrQuality > 0;
  s.vbrQuality = vbrQuality;
  s.jointStereoForced = 1;
  s.paddingBehaviour = 1;
  s.reserved17 = 16;
  auto core = mp3enc::CreateCore(s, vector);
  if (!core) return r;
  std::vector<int16_t> block(1152 * 2);
  std::vector<float> samples(1152 * 2);
  std::vector<uint8_t> buf(8192);
  bool more = true;
  int zeros = 0;
  while (more || zeros < 3) {
    in.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size() * 2));
    const size_t got = static_cast<size_t>(in.gcount()) / 2;
    if (got < block.size()) more = false;
    if (!more) ++zeros;
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = i < got ? block[i] : 0.0f;
    for (int g = 0; g < 2; ++g) {
      size_t w = 0;
      core->EncodeGranule(samples.data() + 1152 * g, buf.data(), buf.size(), &w);
      out.write(reinterpret_cast<const char*>(buf.data()), static_cast<std::streamsize>(w));
    }
  }
  for (;;) {
    size_t w = 0;
    const auto a = core->EncodeGranule(nullptr, buf.data(), buf.size(), &w);
    out.write(reinterpret_cast<const char*>(buf.data()), static_cast<std::streamsize>(w));
    if (a != mp3enc::CoreAnswer::kMore) break;
  }
  out.close();
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  r.peakKb = usage.ru_maxrss;
  r.bytes = FileSize(mp3);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 300;
  const std::string dir = "/tmp/kestrune-mp3enc-bench-" + std::to_string(getpid());
  std::system(("mkdir -p " + dir).c_str());
  const std::string wav = dir + "/music.wav";
  if (!WriteWave(wav, MakeMusic(44100, seconds), 44100)) {
    std::fprintf(stderr, "cannot write %s\n", wav.c_str());
    return 1;
  }
  std::printf("44.1 kHz stereo, %d s of synthesised music\n", seconds);
  std::printf("%-26s %8s %9s %8s %9s\n", "encoder", "time s", "x realtime", "kbit/s", "peak KiB");
  auto show = [&](const char* name, const Run& r) {
    std::printf("%-26s %8.2f %9.1f %8.1f %9ld\n", name, r.seconds, seconds / r.seconds,
                r.bytes * 8.0 / seconds / 1000.0, r.peakKb);
  };
  const Run lameCbr = RunLame({"/usr/bin/lame", "--silent", "-b", "128", wav, dir + "/lame128.mp3"});
  const Run oursCbr = RunOurs(wav, dir + "/ours128.mp3", 128000, 0, true);
  const Run oursCbrPlain = RunOurs(wav, dir + "/ours128p.mp3", 128000, 0, false);
  const Run lameVbr = RunLame({"/usr/bin/lame", "--silent", "-V", "4", wav, dir + "/lamev4.mp3"});
  const Run oursVbr = RunOurs(wav, dir + "/oursv2.mp3", 0, 80, true);
  show("lame -b 128", lameCbr);
  show("kestrune 128k (vector)", oursCbr);
  show("kestrune 128k (plain)", oursCbrPlain);
  show("lame -V 4", lameVbr);
  show("kestrune VBR level 2", oursVbr);
  std::printf("speed ratio CBR 128k (ours/lame): %.2f\n", lameCbr.seconds / oursCbr.seconds);
  std::printf("speed ratio VBR (level 2 / lame -V 4): %.2f\n", lameVbr.seconds / oursVbr.seconds);
  std::system(("rm -rf " + dir).c_str());
  return 0;
}
