// Shared helpers of the decoder tests: decoding a whole byte stream through
// the library the way the decode pipeline does, and comparing PCM.
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
  int channels = 0;            // from GetInfo after Init
  int sampleRate = 0;
  bool finished = false;
  int lastResult = 0;
};

// Feeds bytes in chunks of chunkSize like the pipeline (end of input set
// with the last short chunk), converting floats to 16 bits with ties to even.
DecodeRun DecodeStream(const std::vector<uint8_t>& stream, size_t chunkSize = 8192);

std::vector<uint8_t> ReadFileBytes(const std::string& path);
std::vector<int16_t> ReadPcm16(const std::string& path);

struct Comparison {
  double psnr = 0;   // dB against 16-bit full scale; 999 for identical
  int maxDiff = 0;
  size_t compared = 0;
};
Comparison ComparePcm(const std::vector<int16_t>& a, const std::vector<int16_t>& b, size_t count);

std::string SharedDir();

}  // namespace mp3dec_test

namespace mp3dec_test {

// A 16-bit stereo WAVE file of a two-tone signal, seconds long.
void WriteTestWave(const std::string& path, int sampleRate, int channels, double seconds);
// Runs lame with the arguments on the input; returns its exit status.
int RunLame(const std::string& arguments, const std::string& input, const std::string& output);
std::string TempPath(const std::string& name);

}  // namespace mp3dec_test

namespace mp3dec_test {
// mpg123 -s --no-gapless on the file: 16-bit interleaved samples.
std::vector<int16_t> DecodeWithMpg123(const std::string& mp3);
}  // namespace mp3dec_test
