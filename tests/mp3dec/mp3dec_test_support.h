// Shared by the decoder tests: the compliance streams of the shared folder
// and how their reference decodings line up with what we write, the
// library run and the reference tools.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/mp3_stream_check.h"
#include "tests/support/mp3dec_run.h"
#include "tests/support/wave_files.h"

namespace mp3dec_test {

using namespace kestrune::testing;

// The shared folder's MPEG vectors: VectorPath("l3-si") + ".bit" or ".pcm".
inline std::string VectorPath(const std::string& name) {
  return std::string(KESTRUNE_SHARED_DIR) + "/vectors/mpeg/" + name;
}

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  const std::string bytes = ReadBytes(path);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

inline std::vector<int16_t> ReadPcm16(const std::string& path) { return Pcm16(ReadBytes(path)); }

// lame's encoding of the two-tone test signal (seconds long, at the rate,
// which lame keeps) with the options, written to mp3; false when lame fails.
inline bool MakeLameFile(const std::string& mp3, const std::string& options, int sampleRate, int channels,
                         double seconds) {
  WaveSpec w;
  w.channels = channels;
  w.rate = sampleRate;
  w.frames = static_cast<int64_t>(sampleRate * seconds);
  WriteBytes(mp3 + ".wav", MakeWave(w));
  return RunLame(options + " --resample " + std::to_string(sampleRate / 1000.0), mp3 + ".wav", mp3) == 0;
}

// The ISO/IEC 11172-4 and 13818-4 Layer III compliance streams. he_mode
// switches between mono and stereo frame by frame and is compared as one
// flat sample sequence; sin1k0db's first two frames lack main data:
// concealed, not written, and absent from the reference too.
struct ComplianceVector {
  const char* name;
  int samplesPerFrame;        // sample frames per frame times channels
  int framesBeyondReference;  // the reference lacks the stream's last frame
  int concealedAtStart;       // leading frames without main data
  int channels;               // of the first frame
};
inline constexpr ComplianceVector kComplianceVectors[] = {
    {"l3-compl", 1152, 0, 0, 1},           {"l3-he_32khz", 1152, 1, 0, 1},
    {"l3-he_44khz", 1152, 1, 0, 1},        {"l3-he_48khz", 1152, 1, 0, 1},
    {"l3-he_mode", 1152, 0, 0, 1},         {"l3-hecommon", 2304, 1, 0, 2},
    {"l3-si", 1152, 1, 0, 1},              {"l3-si_block", 1152, 1, 0, 1},
    {"l3-si_huff", 1152, 1, 0, 1},         {"l3-sin1k0db", 2304, 0, 2, 2},
    {"l3-test45", 1152, 0, 0, 2},          {"l3-test46", 1152, 0, 0, 2},
    {"M2L3_bitrate_16_all", 576, 0, 0, 1}, {"M2L3_bitrate_22_all", 576, 0, 0, 1},
    {"M2L3_bitrate_24_all", 576, 0, 0, 1}, {"M2L3_compl24", 576, 0, 0, 1},
    {"M2L3_noise", 1152, 0, 0, 2},
};

}  // namespace mp3dec_test
