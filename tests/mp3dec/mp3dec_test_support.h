// Shared helpers of the decoder tests: decoding a whole byte stream through
// the library the way the decode pipeline does, comparing PCM, the
// compliance streams, and streams made by lame and decoded by mpg123.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mp3dec_test {

struct DecodeRun {
  int initResult = -1;
  std::vector<int16_t> pcm;    // interleaved, as the pipeline writes it
  int frames = 0;              // result 0 with samples
  int concealedNoMainData = 0; // result 12
  int concealedSideInfo = 0;   // result 17
  bool finished = false;
};

// Feeds bytes in chunks of chunkSize like the pipeline (end of input set
// with the last short chunk), converting floats to 16 bits with ties to even.
DecodeRun DecodeStream(const std::vector<uint8_t>& stream, size_t chunkSize = 8192);

std::vector<uint8_t> ReadFileBytes(const std::string& path);
std::vector<int16_t> ReadPcm16(const std::string& path);

struct Comparison {
  double psnr = 0;   // dB against 16-bit full scale; 999 for identical
  int maxDiff = 0;
};
Comparison ComparePcm(const std::vector<int16_t>& a, const std::vector<int16_t>& b, size_t count);

// The shared folder's MPEG vectors: VectorPath("l3-si") + ".bit" or ".pcm".
std::string VectorPath(const std::string& name);

// The ISO/IEC 11172-4 and 13818-4 Layer III compliance streams and how
// their reference decodings line up with what we write. he_mode switches
// between mono and stereo frame by frame and is compared as one flat
// sample sequence; sin1k0db's first two frames lack main data: concealed,
// not written, and absent from the reference too.
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

// A 16-bit WAVE file of a two-tone signal with a chirp, seconds long.
void WriteTestWave(const std::string& path, int sampleRate, int channels, double seconds);
// Runs lame with the arguments on the input; returns its exit status.
int RunLame(const std::string& arguments, const std::string& input, const std::string& output);
// mpg123 -s --no-gapless on the file: 16-bit interleaved samples.
std::vector<int16_t> DecodeWithMpg123(const std::string& mp3);

}  // namespace mp3dec_test
