// Grades a 6 s stereo pair from the shared quality set and reports the speed
// as a multiple of real time ("realtime" counter: seconds of audio per second).
// No other PEAQ implementation is installed to compare with; the goal is 20x.
#include <benchmark/benchmark.h>

#include <string>

#include "tools/peaq/peaq.h"
#include "tools/peaq/wav_input.h"

namespace {

void gradePair(benchmark::State& state, const char* refName, const char* testName) {
    const std::string dir = std::string(KESTRUNE_SHARED_DIR) + "/quality/";
    kestrune::peaq::Signal ref;
    kestrune::peaq::Signal test;
    std::string error;
    if (!kestrune::peaq::readWave(dir + refName, ref, error) || !kestrune::peaq::readWave(dir + testName, test, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    double odg = 0.0;
    for (auto _ : state) {
        odg = kestrune::peaq::evaluate(ref.channels, test.channels).odg;
        benchmark::DoNotOptimize(odg);
    }
    const double seconds = static_cast<double>(ref.channels[0].size()) / 48000.0;
    state.counters["realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_PeaqStereo(benchmark::State& state) { gradePair(state, "ref/pluck.wav", "test/pluck-lame96.wav"); }
void BM_PeaqMono(benchmark::State& state) { gradePair(state, "ref/speech.wav", "test/speech-lame32.wav"); }

BENCHMARK(BM_PeaqStereo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeaqMono)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
