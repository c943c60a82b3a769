// Times our Ogg Vorbis conversions against vorbis-tools on the same 5-minute
// stereo 44.1 kHz file and prints the throughput ratios (their time / our
// time; 1.0 means as fast, above 1 faster):
//   encode: oggenc -q 4  vs  our body at quality 0.4 (the same encoder setup)
//   decode: oggdec       vs  our body, on oggenc's file
// Both sides call the same libraries, so the ratios measure what each
// program does around them: reading and converting samples, writing files.
// Our bodies run in this process; the kestrune program is also run as a
// child (its worker has idle priority, so only its processor time is
// compared with the tools' run at normal priority; its wall time is compared
// with the tools run at idle priority as well, through chrt). Each figure is the best of several rounds, alternating the
// programs, in processor time (user + system) and wall time.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "codecs/ogg_decode.h"
#include "codecs/ogg_encode.h"
#include "codecs/ogg_libraries.h"

namespace {

namespace fs = std::filesystem;
using kestrune::OggStatus;

struct Times {
  double wall = 1e300;
  double cpu = 1e300;
  void Keep(double w, double c) {
    wall = std::min(wall, w);
    cpu = std::min(cpu, c);
  }
};

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; }

double CpuOf(const rusage& u) { return Seconds(u.ru_utime) + Seconds(u.ru_stime); }

// Runs a program to its end; its wall and processor time.
bool RunChild(const std::vector<std::string>& argv, double* wall, double* cpu) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(127);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) return false;
  *wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  *cpu = CpuOf(usage);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Runs a function in this process; its wall and processor time.
template <typename F>
bool RunHere(F body, double* wall, double* cpu) {
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  const auto start = std::chrono::steady_clock::now();
  const bool ok = body();
  *wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  getrusage(RUSAGE_SELF, &after);
  *cpu = CpuOf(after) - CpuOf(before);
  return ok;
}

void PutLe(std::string* s, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s->push_back(static_cast<char>(v >> (8 * i)));
}

// Five minutes of a chord with slowly moving amplitudes and some noise:
// enough variety that the encoder works as on music.
bool WriteInput(const std::string& path) {
  const int rate = 44100, channels = 2;
  const uint32_t frames = 300u * rate;
  std::string bytes = "RIFF";
  PutLe(&bytes, 36 + frames * 4, 4);
  bytes += "WAVEfmt ";
  PutLe(&bytes, 16, 4);
  PutLe(&bytes, 1, 2);
  PutLe(&bytes, channels, 2);
  PutLe(&bytes, rate, 4);
  PutLe(&bytes, rate * channels * 2, 4);
  PutLe(&bytes, channels * 2, 2);
  PutLe(&bytes, 16, 2);
  bytes += "data";
  PutLe(&bytes, frames * 4, 4);
  std::mt19937 rng(5);
  std::normal_distribution<double> noise(0.0, 0.02);
  const double tones[] = {110.0, 220.5, 329.6, 440.0, 659.3, 1318.5, 2637.0};
  for (uint32_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    for (int c = 0; c < channels; ++c) {
      double v = noise(rng);
      for (int k = 0; k < 7; ++k) {
        const double envelope = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * (0.1 + 0.07 * k) * t + c);
        v += 0.09 * envelope * std::sin(2 * std::numbers::pi * tones[k] * (1.0 + 0.002 * c) * t);
      }
      PutLe(&bytes, static_cast<uint32_t>(static_cast<int16_t>(std::lround(std::clamp(v, -1.0, 1.0) * 32767))), 2);
    }
  }
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

void PrintRow(const char* what, const Times& theirs, const Times& ours) {
  std::printf("%-37s %8.3f %8.3f %8.3f %8.3f %7.3f %7.3f\n", what, theirs.cpu, theirs.wall,
              ours.cpu, ours.wall, theirs.cpu / ours.cpu, theirs.wall / ours.wall);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const fs::path dir = fs::temp_directory_path() / ("kestrune-ogg-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string in = (dir / "in.wav").string();
  const std::string refOgg = (dir / "ref.ogg").string();
  if (!WriteInput(in)) return 1;

  kestrune::VorbisLibraries libraries("");
  kestrune::VorbisDecodeApi decode;
  kestrune::VorbisEncodeApi encode;
  if (!libraries.Bind(&decode, nullptr) || !libraries.Bind(&encode, nullptr)) {
    std::fprintf(stderr, "the Ogg Vorbis libraries are not installed\n");
    return 1;
  }
  const auto ignore = [](double) {};
  Times oggenc, encodeBody, encodeProgram, oggdec, decodeBody, decodeProgram;
  Times idleOggenc, idleOggdec;
  double wall = 0, cpu = 0;
  bool ok = true;
  for (int round = 0; round < rounds && ok; ++round) {
    ok = ok && RunChild({"/usr/bin/oggenc", "-Q", "-q", "4", "-o", refOgg, in}, &wall, &cpu);
    oggenc.Keep(wall, cpu);
    ok = ok && RunHere([&] {
      return kestrune::EncodeWaveToOgg(encode, in, (dir / "ours.ogg").string(), 0.4, ignore) ==
             OggStatus::kOk;
    }, &wall, &cpu);
    encodeBody.Keep(wall, cpu);
    ok = ok && RunChild({"/usr/bin/oggdec", "-Q", "-o", (dir / "ref.wav").string(), refOgg},
                        &wall, &cpu);
    oggdec.Keep(wall, cpu);
    ok = ok && RunHere([&] {
      return kestrune::DecodeOggToWave(decode, refOgg, (dir / "ours.wav").string(), ignore) ==
             OggStatus::kOk;
    }, &wall, &cpu);
    decodeBody.Keep(wall, cpu);
#ifdef KESTRUNE_BINARY
    ok = ok && RunChild({KESTRUNE_BINARY, in, (dir / "prog.ogg").string()}, &wall, &cpu);
    encodeProgram.Keep(wall, cpu);
    ok = ok && RunChild({KESTRUNE_BINARY, refOgg, (dir / "prog.wav").string()}, &wall, &cpu);
    decodeProgram.Keep(wall, cpu);
    ok = ok && RunChild({"/usr/bin/chrt", "--idle", "0", "/usr/bin/oggenc", "-Q", "-q", "4", "-o",
                         (dir / "idle.ogg").string(), in}, &wall, &cpu);
    idleOggenc.Keep(wall, cpu);
    ok = ok && RunChild({"/usr/bin/chrt", "--idle", "0", "/usr/bin/oggdec", "-Q", "-o",
                         (dir / "idle.wav").string(), refOgg}, &wall, &cpu);
    idleOggdec.Keep(wall, cpu);
#endif
  }
  if (!ok) {
    std::fprintf(stderr, "a run failed\n");
    return 1;
  }
  std::printf("5-minute stereo 44.1 kHz file, best of %d rounds; seconds and ratios "
              "(reference / ours, >= 0.95 wanted)\n", rounds);
  std::printf("%-37s %8s %8s %8s %8s %7s %7s\n", "", "ref cpu", "ref wall", "our cpu",
              "our wall", "cpu x", "wall x");
  PrintRow("encode: oggenc -q 4 / body q 0.4", oggenc, encodeBody);
  PrintRow("decode: oggdec / body", oggdec, decodeBody);
#ifdef KESTRUNE_BINARY
  PrintRow("encode: oggenc -q 4 / kestrune", oggenc, encodeProgram);
  PrintRow("decode: oggdec / kestrune", oggdec, decodeProgram);
  PrintRow("encode, both idle: oggenc / kestrune", idleOggenc, encodeProgram);
  PrintRow("decode, both idle: oggdec / kestrune", idleOggdec, decodeProgram);
#endif
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return 0;
}
