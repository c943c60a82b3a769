// Parses arbitrary bytes as the quality tool's WAVE input; whatever parses
// is then graded against itself and against a shifted copy of itself.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "tools/peaq/peaq.h"
#include "tools/peaq/wav_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kestrune::peaq::Signal signal;
    std::string error;
    if (!kestrune::peaq::parseWave(std::span<const unsigned char>(data, size), "input", signal, error)) return 0;
    // Keep the model's share of the time small: at most a quarter second.
    for (auto& ch : signal.channels)
        if (ch.size() > 12000) ch.resize(12000);
    (void)kestrune::peaq::evaluate(signal.channels, signal.channels);
    auto shifted = signal.channels;
    for (auto& ch : shifted)
        for (std::size_t i = ch.size(); i-- > 1;) ch[i] = ch[i - 1];
    (void)kestrune::peaq::evaluate(signal.channels, shifted);
    return 0;
}
