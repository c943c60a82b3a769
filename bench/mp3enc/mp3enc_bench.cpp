// Times our encoder against `lame -b 128` (CBR) and `lame -V 4` (VBR at a
// similar average rate), and against both in LAME's fast mode `-q 7`, on
// the same synthesised 44.1 kHz stereo file
// (default 300 s), one process at a time, and prints throughput ratios
// (above 1 means faster than LAME) and each process's peak memory. Ours runs
// twice: the kestrune program end to end (as `lame` does: read the WAVE
// file, encode, write the MP3), and the encoder library alone in a child
// process that reads the 16-bit samples and writes the frames.
//
// Then it grades the same encodes with the PEAQ model: a 20 s excerpt of the
// same music, made at 48 kHz (the model's rate), is encoded by both sides
// with the same settings, decoded by mpg123, aligned by cross-correlation
// and graded; our ODG is printed next to LAME's.
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
#include <string>
#include <vector>

#include "mp3enc/core.h"
#include "tools/qualityset/quality_items.h"
#include "tools/qualityset/music_mixture.h"
#include "tools/qualityset/quality_measure.h"

namespace {

void PutLe(std::vector<uint8_t>* b, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// The quality tools' music-like mixture on the 16-bit grid: tonal coding,
// attacks and short blocks.
std::vector<int16_t> MakeMusic(int rate, int seconds) {
  const std::vector<float> x =
      kestrune::quality::MusicMixture(rate, static_cast<size_t>(rate) * seconds);
  std::vector<int16_t> pcm(x.size());
  for (size_t i = 0; i < x.size(); ++i) {
    pcm[i] = static_cast<int16_t>(std::lround(std::clamp(x[i], -1.0f, 1.0f) * 32000.0f));
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
  double seconds = 0;     // wall clock
  double cpuSeconds = 0;  // user + system time of the process
  long peakKb = 0;
  long bytes = 0;
};

double CpuSeconds(const rusage& u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         1e-6 * static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

long FileSize(const std::string& path) {
  std::ifstream f(path, std::ios::binary | std::ios::ate);
  return f ? static_cast<long>(f.tellg()) : -1;
}

// Runs a program with its output discarded; its times, peak memory and the
// size of the file it wrote.
Run RunProgram(const std::vector<std::string>& args, const std::string& output) {
  Run r;
  const auto start = std::chrono::steady_clock::now();
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) _exit(126);
    if (std::freopen("/dev/null", "w", stderr) == nullptr) _exit(126);
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
  r.cpuSeconds = CpuSeconds(usage);
  r.peakKb = usage.ru_maxrss;
  r.bytes = FileSize(output);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) r.seconds = -1;
  return r;
}

// Encodes the WAVE file with the encoder library, in this process.
bool EncodeWithCore(const std::string& wav, const std::string& mp3, int bitRate, int vbrQuality,
                    bool vector) {
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
  if (!core) return false;
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
  return static_cast<bool>(out);
}

// The encoder library alone, in a child process, so that its peak memory is
// its own.
Run RunCore(const std::string& wav, const std::string& mp3, int bitRate, int vbrQuality,
            bool vector) {
  Run r;
  const auto start = std::chrono::steady_clock::now();
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) _exit(EncodeWithCore(wav, mp3, bitRate, vbrQuality, vector) ? 0 : 1);
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.cpuSeconds = CpuSeconds(usage);
  r.peakKb = usage.ru_maxrss;
  r.bytes = FileSize(mp3);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) r.seconds = -1;
  return r;
}

// The bench's music at 48 kHz on the 16-bit grid, as a quality item.
kestrune::quality::Item MusicItem(int seconds) {
  const std::vector<int16_t> pcm = MakeMusic(48000, seconds);
  kestrune::quality::Item item;
  item.name = "bench-music";
  item.channels.assign(2, std::vector<float>(pcm.size() / 2));
  for (size_t i = 0; i < pcm.size() / 2; ++i) {
    item.channels[0][i] = pcm[2 * i] / 32768.0f;
    item.channels[1][i] = pcm[2 * i + 1] / 32768.0f;
  }
  return item;
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
  // Throughput is taken from each process's CPU time: the program encodes
  // on an idle-priority worker thread, whose wall time on a busy machine
  // says more about the other load than about the encoder.
  std::printf("%-30s %7s %7s %10s %8s %9s\n", "encoder", "wall s", "cpu s", "x realtime",
              "kbit/s", "peak KiB");
  auto show = [&](const char* name, const Run& r) {
    std::printf("%-30s %7.2f %7.2f %10.1f %8.1f %9ld\n", name, r.seconds, r.cpuSeconds,
                seconds / r.cpuSeconds, r.bytes * 8.0 / seconds / 1000.0, r.peakKb);
  };
  const std::string cli = KESTRUNE_CLI;
  auto lame = [&](const char* opt, const char* value, const std::string& out) {
    return RunProgram({"/usr/bin/lame", "--silent", opt, value, wav, out}, out);
  };
  // LAME's fast mode, the speed the encoder aims for at LAME's default
  // quality (about twice LAME's default speed).
  auto lameFast = [&](const char* opt, const char* value, const std::string& out) {
    return RunProgram({"/usr/bin/lame", "--silent", "-q", "7", opt, value, wav, out}, out);
  };
  auto ours = [&](const char* opt, const std::string& out) {
    return RunProgram({cli, wav, out, opt}, out);
  };
  const Run lameCbr = lame("-b", "128", dir + "/lame128.mp3");
  const Run cliCbr = ours("-b128", dir + "/cli128.mp3");
  const Run coreCbr = RunCore(wav, dir + "/ours128.mp3", 128000, 0, true);
  const Run coreCbrPlain = RunCore(wav, dir + "/ours128p.mp3", 128000, 0, false);
  const Run lameCbrFast = lameFast("-b", "128", dir + "/lame128q7.mp3");
  const Run lameVbr = lame("-V", "4", dir + "/lamev4.mp3");
  const Run lameVbrFast = lameFast("-V", "4", dir + "/lamev4q7.mp3");
  const Run cliVbr = ours("-m2", dir + "/cliv2.mp3");
  const Run coreVbr = RunCore(wav, dir + "/oursv2.mp3", 0, 80, true);
  show("lame -b 128", lameCbr);
  show("lame -q 7 -b 128", lameCbrFast);
  show("kestrune -b128", cliCbr);
  show("encoder library 128k (vector)", coreCbr);
  show("encoder library 128k (plain)", coreCbrPlain);
  show("lame -V 4", lameVbr);
  show("lame -q 7 -V 4", lameVbrFast);
  show("kestrune -m2", cliVbr);
  show("encoder library level 2", coreVbr);
  std::printf("speed ratio CBR 128k (ours/lame, cpu time): program %.2f, library %.2f\n",
              lameCbr.cpuSeconds / cliCbr.cpuSeconds, lameCbr.cpuSeconds / coreCbr.cpuSeconds);
  std::printf("speed ratio VBR (level 2 / lame -V 4, cpu time): program %.2f, library %.2f\n",
              lameVbr.cpuSeconds / cliVbr.cpuSeconds, lameVbr.cpuSeconds / coreVbr.cpuSeconds);
  std::printf("against lame -q 7 (cpu time): CBR program %.2f, library %.2f; VBR program %.2f, "
              "library %.2f\n",
              lameCbrFast.cpuSeconds / cliCbr.cpuSeconds, lameCbrFast.cpuSeconds / coreCbr.cpuSeconds,
              lameVbrFast.cpuSeconds / cliVbr.cpuSeconds, lameVbrFast.cpuSeconds / coreVbr.cpuSeconds);
  std::printf("peak memory (ours/lame): CBR program %.2f, library %.2f; VBR program %.2f, "
              "library %.2f\n",
              static_cast<double>(cliCbr.peakKb) / lameCbr.peakKb,
              static_cast<double>(coreCbr.peakKb) / lameCbr.peakKb,
              static_cast<double>(cliVbr.peakKb) / lameVbr.peakKb,
              static_cast<double>(coreVbr.peakKb) / lameVbr.peakKb);

  // Quality of the same encodes on a 48 kHz excerpt.
  const int odgSeconds = std::min(seconds, 20);
  const kestrune::quality::Item item = MusicItem(odgSeconds);
  std::printf("\nPEAQ ODG, %d s of the same music at 48 kHz (0 = transparent, -4 = very annoying)\n",
              odgSeconds);
  std::printf("%-22s %8s %8s %8s %9s %9s\n", "setting", "ours", "LAME", "diff", "our kbps",
              "LAME kbps");
  kestrune::quality::QualityHarness harness;
  const kestrune::quality::Setting settings[] = {
      {"128k / lame -b 128", 128, 0, false, {"-b", "128"}},
      {"level 2 / lame -V 4", 0, 2, false, {"-V", "4"}},
      {"level 2 / lame -V 2", 0, 2, false, {"-V", "2"}},
  };
  for (const auto& setting : settings) {
    kestrune::quality::Measurement m;
    std::string error;
    if (!harness.Measure(item, setting, m, error)) {
      std::printf("%-22s failed: %s\n", setting.name.c_str(), error.c_str());
      continue;
    }
    std::printf("%-22s %8.3f %8.3f %+8.3f %9.1f %9.1f\n", setting.name.c_str(), m.ours.odg,
                m.lame.odg, m.Difference(), m.ours.kbps, m.lame.kbps);
  }
  std::system(("rm -rf " + dir).c_str());
  return 0;
}
