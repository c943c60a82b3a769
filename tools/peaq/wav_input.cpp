#include "tools/peaq/wav_input.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace kestrune::peaq {
namespace {

std::uint32_t le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t le16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

}  // namespace

bool readWave(const std::string& path, Signal& out, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open " + path;
        return false;
    }
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return parseWave(bytes, path, out, error);
}

bool parseWave(std::span<const unsigned char> bytes, const std::string& path, Signal& out, std::string& error) {
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        error = path + " is not a WAVE file";
        return false;
    }
    std::size_t pos = 12;
    bool haveFormat = false;
    unsigned format = 0;
    unsigned channels = 0;
    const unsigned char* data = nullptr;
    std::size_t dataSize = 0;
    while (pos + 8 <= bytes.size()) {
        const unsigned char* header = bytes.data() + pos;
        std::size_t size = le32(header + 4);
        std::size_t available = bytes.size() - pos - 8;
        if (std::memcmp(header, "fmt ", 4) == 0) {
            if (size < 16 || size > available) {
                error = path + ": damaged format chunk";
                return false;
            }
            format = le16(header + 8);
            channels = le16(header + 10);
            out.sampleRate = le32(header + 12);
            out.bitsPerSample = le16(header + 22);
            if (format == 0xFFFE && size >= 26) format = le16(header + 32);  // extensible: sub-format GUID
            haveFormat = true;
        } else if (std::memcmp(header, "data", 4) == 0) {
            data = header + 8;
            dataSize = size < available ? size : available;  // a truncated file keeps what it has
            break;
        }
        if (size > available) break;
        pos += 8 + size + (size & 1u);
    }
    if (!haveFormat || data == nullptr) {
        error = path + ": no format or data chunk";
        return false;
    }
    out.isFloat = format == 3;
    const bool pcm16 = format == 1 && out.bitsPerSample == 16;
    const bool float32 = format == 3 && out.bitsPerSample == 32;
    if (!pcm16 && !float32) {
        error = path + ": only 16-bit PCM and 32-bit float samples are supported";
        return false;
    }
    if (channels != 1 && channels != 2) {
        error = path + ": only mono and stereo files are supported";
        return false;
    }
    const std::size_t frameBytes = channels * (out.bitsPerSample / 8);
    const std::size_t frames = dataSize / frameBytes;
    out.channels.assign(channels, std::vector<float>(frames));
    for (std::size_t i = 0; i < frames; ++i) {
        for (unsigned c = 0; c < channels; ++c) {
            const unsigned char* p = data + i * frameBytes + c * (out.bitsPerSample / 8);
            if (pcm16) {
                out.channels[c][i] = static_cast<float>(static_cast<std::int16_t>(le16(p))) / 32768.0f;
            } else {
                std::uint32_t bits = le32(p);
                float v;
                std::memcpy(&v, &bits, sizeof v);
                if (!std::isfinite(v)) {
                    error = path + ": sample " + std::to_string(i) + " is not a finite number";
                    return false;
                }
                out.channels[c][i] = v;
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
