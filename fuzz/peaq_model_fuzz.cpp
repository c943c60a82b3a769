// The PEAQ model on arbitrary samples: the bytes become 16-bit samples of a
// mono or stereo reference (first byte: channel count), and the test is the
// reference with every other sample replaced by the next byte pair. Whatever
// the values, evaluation must neither crash nor read out of bounds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/peaq/peaq.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t channels = (data[0] & 1u) + 1;
    ++data;
    --size;
    const std::size_t frames = std::min<std::size_t>(size / (2 * channels), 12000);
    std::vector<std::vector<float>> ref(channels, std::vector<float>(frames));
    for (std::size_t i = 0; i < frames; ++i)
        for (std::size_t c = 0; c < channels; ++c) {
            const std::size_t at = 2 * (i * channels + c);
            ref[c][i] = static_cast<float>(static_cast<std::int16_t>(data[at] | data[at + 1] << 8)) / 32768.0f;
        }
    auto test = ref;
    for (auto& ch : test)
        for (std::size_t i = 1; i < ch.size(); i += 2) ch[i] = -ch[i - 1];
    (void)kestrune::peaq::evaluate(ref, ref);
    (void)kestrune::peaq::evaluate(ref, test);
    return 0;
}
