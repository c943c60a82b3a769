// Decoding speed of kestrune against mpg123 and ffmpeg on the same MP3 files.
#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "mp3dec/mp3dec.h"

namespace {

// A signal with tones, a sweep and noise bursts, so that the encoder uses
// long and short blocks and the whole spectrum.
void WriteSignal(const std::string& path, double seconds) {
  const int rate = 44100;
  const uint32_t frames = static_cast<uint32_t>(rate * seconds);
  std::vector<uint8_t> out;
  out.reserve(44 + frames * 4);
  auto put32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i))); };
  auto put16 = [&](uint32_t v) { for (int i = 0; i < 2; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i))); };
  auto tag = [&](const char* t) { out.insert(out.end(), t, t + 4); };
  tag("RIFF"); put32(36 + frames * 4); tag("WAVE"); tag("fmt "); put32(16); put16(1); put16(2);
  put32(rate); put32(rate * 4); put16(4); put16(16); tag("data"); put32(frames * 4);
  uint32_t noise = 12345;
  const double pi = std::numbers::pi;
  for (uint32_t n = 0; n < frames; ++n) {
    const double t = static_cast<double>(n) / rate;
    const double sweep = std::sin(2 * pi * (100.0 * t + 400.0 * std::fmod(t, 10.0) * std::fmod(t, 10.0)));
    noise = noise * 1664525u + 1013904223u;
    const double burst = (std::fmod(t, 1.7) < 0.05) ? (static_cast<int32_t>(noise) / 2147483648.0) : 0.0;
    for (int c = 0; c < 2; ++c) {
      const double v = 0.25 * std::sin(2 * pi * (220.0 * (c + 1)) * t) + 0.2 * sweep + 0.3 * burst +
                       0.05 * std::sin(2 * pi * 7000.0 * t);
      put16(static_cast<uint16_t>(static_cast<int16_t>(std::lround(std::clamp(v, -1.0, 1.0) * 32000.0))));
    }
  }
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(out.data()),
                                              static_cast<std::streamsize>(out.size()));
}

struct CommandCost {
  double cpuSeconds = 1e30;  // user + system, best of the repeats
  long peakKiB = 0;          // largest resident set of the command
};

// Runs the command through /bin/sh and takes its own resource usage (the
// shell and everything it waited for) from wait4.
bool RunMeasured(const std::string& command, double* cpuSeconds, long* peakKiB) {
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
  *cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  *peakKiB = usage.ru_maxrss;
  return true;
}

// CPU time (user + system) of the command and its children, best of the
// repeats: the machine may be busy, and kestrune decodes on an idle-priority
// worker, so wall time would measure the other load.
CommandCost TimeCommand(const std::string& command, int repeats) {
  CommandCost cost;
  for (int i = 0; i < repeats; ++i) {
    double seconds = 0;
    long peak = 0;
    if (!RunMeasured(command, &seconds, &peak)) {
      std::fprintf(stderr, "failed: %s\n", command.c_str());
      return CommandCost{-1, 0};
    }
    cost.cpuSeconds = std::min(cost.cpuSeconds, seconds);
    cost.peakKiB = std::max(cost.peakKiB, peak);
  }
  return cost;
}

// Heap bytes that one decoder handle holds after Mp3sDecInit on the stream
// (the handle's records, its input ring, analysis buffer and decoder state).
size_t HandleHeapBytes(const std::string& mp3) {
  std::ifstream f(mp3, std::ios::binary);
  std::vector<uint8_t> s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  s.resize(std::min<size_t>(s.size(), 8192));
  const size_t before = mallinfo2().uordblks;
  Mp3sDecHandle h = nullptr;
  Mp3sDecOpen(&h, 0);
  Mp3sDecInit(h, s.data(), static_cast<uint32_t>(s.size()), static_cast<uint32_t>(s.size()), 1, 1);
  const size_t after = mallinfo2().uordblks;
  Mp3sDecClose(h);
  return after - before;
}

// The library alone, from memory to floats.
double TimeLibrary(const std::string& mp3, int repeats) {
  std::ifstream f(mp3, std::ios::binary);
  const std::vector<uint8_t> s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  double best = 1e30;
  std::vector<float> out(kMp3sDecMaxOutputFloats);
  for (int i = 0; i < repeats; ++i) {
    const std::clock_t t0 = std::clock();
    Mp3sDecHandle h = nullptr;
    Mp3sDecOpen(&h, 0);
    Mp3sDecInit(h, s.data(), static_cast<uint32_t>(std::min<size_t>(s.size(), 8192)), static_cast<uint32_t>(s.size()),
                1, 1);
    size_t pos = 0;
    Mp3sDecSetEndOfInput(h);
    while (!Mp3sDecIsFinished(h)) {
      uint32_t consumed = 0, written = 0, flags = 0, anc = 0;
      const size_t n = std::min<size_t>(8192, s.size() - pos);
      const int r = Mp3sDecDecode(h, s.data() + pos, static_cast<uint32_t>(n), &consumed, out.data(),
                                  static_cast<uint32_t>(out.size()), &written, &flags, 0, 0, nullptr, &anc);
      if (r == kMp3sDecInvalidHandle) break;
      pos += consumed;
    }
    Mp3sDecClose(h);
    best = std::min(best, static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 300.0;
  const std::string core = argc > 2 ? argv[2] : "0";
  const int repeats = 3;
  const auto dir = std::filesystem::temp_directory_path() / "kestrune-mp3dec-bench";
  std::filesystem::create_directories(dir);
  const std::string wav = (dir / "signal.wav").string();
  WriteSignal(wav, seconds);
  const std::string pin = "taskset -c " + core + " ";
  std::printf("%.0f s of 44.1 kHz stereo; CPU seconds, best of %d runs, one core (taskset -c %s)\n", seconds, repeats,
              core.c_str());
  std::printf("%-8s %10s %10s %10s %10s %12s %12s\n", "bitrate", "kestrune", "library", "mpg123", "ffmpeg",
              "mpg123/ours", "ffmpeg/ours");
  long peak[3] = {0, 0, 0};
  std::string first;
  for (int kbps : {128, 320}) {
    const std::string mp3 = (dir / ("signal" + std::to_string(kbps) + ".mp3")).string();
    if (first.empty()) first = mp3;
    const std::string lame = "lame --quiet -b " + std::to_string(kbps) + " '" + wav + "' '" + mp3 + "'";
    if (std::system(lame.c_str()) != 0) return 1;
    const std::string out = (dir / "out").string();
    const CommandCost ours = TimeCommand(pin + "'" KESTRUNE_BINARY "' '" + mp3 + "' '" + out + ".wav' > /dev/null", repeats);
    const double library = TimeLibrary(mp3, repeats);
    const CommandCost mpg123 = TimeCommand(pin + "mpg123 -q -s '" + mp3 + "' > '" + out + ".mpg123.pcm'", repeats);
    const CommandCost ffmpeg =
        TimeCommand(pin + "ffmpeg -v quiet -threads 1 -y -i '" + mp3 + "' -f s16le '" + out + ".ffmpeg.pcm'", repeats);
    std::printf("%-8d %9.3fs %9.3fs %9.3fs %9.3fs %12.2f %12.2f\n", kbps, ours.cpuSeconds, library, mpg123.cpuSeconds,
                ffmpeg.cpuSeconds, mpg123.cpuSeconds / ours.cpuSeconds, ffmpeg.cpuSeconds / ours.cpuSeconds);
    peak[0] = std::max(peak[0], ours.peakKiB);
    peak[1] = std::max(peak[1], mpg123.peakKiB);
    peak[2] = std::max(peak[2], ffmpeg.peakKiB);
  }
  std::printf("peak resident set: kestrune %ld KiB, mpg123 %ld KiB, ffmpeg %ld KiB\n", peak[0], peak[1], peak[2]);
  std::printf("decoder heap per handle after Mp3sDecInit: %zu bytes\n", HandleHeapBytes(first));
  return 0;
}
