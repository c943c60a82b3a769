// WAVE -> text and text -> WAVE: kestrune's CSV conversions against
// "sox in.wav out.dat" and "sox in.dat out.wav", same input, one run.
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Usage {
  double wall = 0;  // seconds
  double cpu = 0;   // user + system seconds
  long peakKb = 0;  // maximum resident set
  int status = -1;
};

Usage Run(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    freopen("/dev/null", "w", stdout);
    execvp(args[0], args.data());
    _exit(127);
  }
  Usage u;
  int status = 0;
  rusage r{};
  wait4(child, &status, 0, &r);
  u.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  u.cpu = r.ru_utime.tv_sec + r.ru_utime.tv_usec / 1e6 + r.ru_stime.tv_sec + r.ru_stime.tv_usec / 1e6;
  u.peakKb = r.ru_maxrss;
  u.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return u;
}

// The best of a few runs (the machine is shared).
Usage Best(const std::vector<std::string>& argv, int runs) {
  Usage best;
  for (int i = 0; i < runs; ++i) {
    Usage u = Run(argv);
    if (u.status != 0) {
      std::fprintf(stderr, "failed (%d): %s\n", u.status, argv[0].c_str());
      std::exit(1);
    }
    if (i == 0 || u.cpu < best.cpu) best = u;
  }
  return best;
}

void Row(const char* what, const Usage& sox, const Usage& ours) {
  std::printf("%-14s sox %7.2f s wall %7.2f s cpu %6ld KiB | kestrune %6.2f s wall %6.2f s cpu "
              "%6ld KiB | ratio %5.1fx wall %5.1fx cpu\n",
              what, sox.wall, sox.cpu, sox.peakKb, ours.wall, ours.cpu, ours.peakKb,
              sox.wall / ours.wall, sox.cpu / ours.cpu);
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  const std::string dir = "/tmp/kestrune-csv-bench-" + std::to_string(getpid());
  if (std::system(("mkdir -p " + dir).c_str()) != 0) return 1;
  const std::string wav = dir + "/in.wav";
  const std::string syn = "sox -R -n -r 44100 -c 2 -b 16 " + wav + " synth " +
                          std::to_string(seconds) + " sine 440 sine 663 vol 0.9";
  if (std::system(syn.c_str()) != 0) return 1;
  const std::string k = KESTRUNE_BINARY;

  std::printf("input: %d s stereo 44.1 kHz 16-bit WAVE (best of 3 runs)\n", seconds);
  const Usage soxOut = Best({"sox", wav, dir + "/out.dat"}, 3);
  const Usage ourOut = Best({k, wav, dir + "/out.csv"}, 3);
  Row("WAVE -> text", soxOut, ourOut);
  const Usage soxIn = Best({"sox", dir + "/out.dat", dir + "/back-sox.wav"}, 3);
  const Usage ourIn = Best({k, dir + "/out.csv", dir + "/back.wav"}, 3);
  Row("text -> WAVE", soxIn, ourIn);

  // Memory against length: the same conversions on four times the input.
  const std::string wav4 = dir + "/in4.wav";
  if (std::system(("sox " + wav + " " + wav + " " + wav + " " + wav + " " + wav4).c_str()) != 0) {
    return 1;
  }
  const Usage out4 = Best({k, wav4, dir + "/out4.csv"}, 1);
  const Usage in4 = Best({k, dir + "/out4.csv", dir + "/back4.wav"}, 1);
  std::printf("kestrune peak memory: WAVE -> CSV %ld KiB at %d s, %ld KiB at %d s; "
              "CSV -> WAVE %ld KiB at %d s, %ld KiB at %d s\n",
              ourOut.peakKb, seconds, out4.peakKb, 4 * seconds, ourIn.peakKb, seconds,
              in4.peakKb, 4 * seconds);
  // Our WAVE has an 18-byte fmt chunk, sox's 16 bytes: compare the samples.
  const int same = std::system(("bash -c 'cmp -s <(tail -c +47 " + dir + "/back.wav) <(tail -c +45 " +
                                wav + ")'").c_str());
  std::printf("round trip gives identical samples: %s\n", same == 0 ? "yes" : "NO");
  if (std::system(("rm -rf " + dir).c_str()) != 0) return 1;
  return same == 0 ? 0 : 1;
}
