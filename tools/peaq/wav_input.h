// Reading the two input files of the quality tool: 48 kHz WAVE, one or two
// channels, 16-bit PCM or 32-bit float, as planar float channels (full scale 1.0).
#pragma once

#include <string>
#include <vector>

namespace kestrune::peaq {

struct Signal {
    unsigned sampleRate = 0;
    unsigned bitsPerSample = 0;
    bool isFloat = false;
    std::vector<std::vector<float>> channels;
};

// Reads a WAVE or RF64 file through WaveFile; on failure returns false and a message naming the problem.
bool readWave(const std::string& path, Signal& out, std::string& error);

// Checks that the two signals can be compared; on failure gives the message.
bool checkPair(const Signal& ref, const Signal& test, std::string& error);

}  // namespace kestrune::peaq
