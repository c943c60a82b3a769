// kestrune-peaq REF.wav TEST.wav: the Objective Difference Grade of TEST
// against REF by the basic version of ITU-R BS.1387-1, then the Distortion
// Index and the model output variables, one `name value` per line.
#include <cmath>
#include <cstdio>
#include <exception>
#include <string>

#include "tools/peaq/peaq.h"
#include "tools/peaq/wav_input.h"

int main(int argc, char** argv) {
    using namespace kestrune::peaq;
    if (argc != 3) {
        std::fprintf(stderr, "usage: kestrune-peaq REF.wav TEST.wav\n");
        return 2;
    }
    Signal ref;
    Signal test;
    std::string error;
    if (!readWave(argv[1], ref, error) || !readWave(argv[2], test, error) || !checkPair(ref, test, error)) {
        std::fprintf(stderr, "kestrune-peaq: %s\n", error.c_str());
        return 2;
    }
    try {
        const Result r = evaluate(ref.channels, test.channels);
        std::printf("%.3f\n", r.odg);
        std::printf("DI %.3f\n", r.distortionIndex);
        for (std::size_t i = 0; i < kMovCount; ++i) std::printf("%s %.6g\n", kMovNames[i], r.movs[i]);
        if (std::isnan(r.odg)) {
            std::fprintf(stderr,
                         "kestrune-peaq: the reference has no frame with content above 8.1 kHz; "
                         "the ODG is not defined for it\n");
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kestrune-peaq: %s\n", e.what());
        return 2;
    }
    return 0;
}
