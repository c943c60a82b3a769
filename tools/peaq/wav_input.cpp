#include "tools/peaq/wav_input.h"

#include <cmath>
#include <cstdint>

#include "base/paths.h"
#include "wave/samples.h"
#include "wave/wave_file.h"

namespace kestrune::peaq {
namespace {

constexpr int64_t kReadBlock = 65536;  // frames per read

}  // namespace

bool readWave(const std::string& path, Signal& out, std::string& error) {
    if (!IsExistingFile(path)) {
        error = "cannot open " + path;
        return false;
    }
    WaveFile file;
    const bool opened = file.Open(path);
    WaveFormat format;
    {
        auto chunk = file.GetFormat();
        if (!opened || !chunk || !file.HasData()) {
            error = path + ": no format or data chunk";
            return false;
        }
        format = chunk->format;
    }
    out.sampleRate = format.sampleRate;
    out.bitsPerSample = format.bitsPerSample;
    const bool pcm = format.IsPcm();
    out.isFloat = !pcm && (format.formatTag == WaveFormat::kTagFloat || format.formatTag == WaveFormat::kTagExtensible);
    const bool pcm16 = pcm && format.bitsPerSample == 16;
    const bool float32 = out.isFloat && format.bitsPerSample == 32;
    if (!pcm16 && !float32) {
        error = path + ": only 16-bit PCM and 32-bit float samples are supported";
        return false;
    }
    if (format.channels != 1 && format.channels != 2) {
        error = path + ": only mono and stereo files are supported";
        return false;
    }
    if (format.blockAlign != format.channels * format.bitsPerSample / 8) {
        error = path + ": damaged format chunk";
        return false;
    }

    auto data = file.GetData();
    const int64_t frames = data->GetFrameCount();
    out.channels.assign(format.channels, std::vector<float>());
    for (auto& ch : out.channels) ch.reserve(frames > 0 ? static_cast<std::size_t>(frames) : 0);
    FloatFrames block;
    while (data->ReadFloat(block, kReadBlock)) {
        for (std::size_t c = 0; c < out.channels.size(); ++c) {
            for (std::size_t i = 0; i < block.Frames(); ++i) {
                const float v = block.channels[c][i];
                if (!std::isfinite(v)) {
                    error = path + ": sample " + std::to_string(out.channels[c].size()) + " is not a finite number";
                    return false;
                }
                out.channels[c].push_back(v);
            }
        }
    }
    return true;
}

bool checkPair(const Signal& ref, const Signal& test, std::string& error) {
    if (ref.sampleRate != 48000 || test.sampleRate != 48000) {
        error = "both files must be sampled at 48000 Hz (reference " + std::to_string(ref.sampleRate) +
                " Hz, test " + std::to_string(test.sampleRate) +
                " Hz); resample to 48 kHz first, e.g. sox IN.wav -r 48000 OUT.wav";
        return false;
    }
    if (ref.channels.size() != test.channels.size()) {
        error = "the files have different channel counts (reference " + std::to_string(ref.channels.size()) +
                ", test " + std::to_string(test.channels.size()) + ")";
        return false;
    }
    if (ref.channels[0].size() != test.channels[0].size()) {
        error = "the files have different lengths (reference " + std::to_string(ref.channels[0].size()) +
                " samples, test " + std::to_string(test.channels[0].size()) +
                " samples); align and trim the test signal to the reference";
        return false;
    }
    return true;
}

}  // namespace kestrune::peaq
