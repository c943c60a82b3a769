// The C-style interface: result codes, handle validation, the sync search,
// chunked input, stream information and the record frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "mp3dec/mp3dec.h"
#include "mp3dec_test_support.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace mp3dec_test;
using kestrune::testing::TempDir;

std::vector<uint8_t> Vector(const std::string& name) {
  const auto bytes = ReadFileBytes(VectorPath(name) + ".bit");
  EXPECT_FALSE(bytes.empty()) << "missing vector " << name;
  return bytes;
}

TEST(Mp3DecInterface, LibraryInformationAndMessages) {
  Mp3sDecLibInfo info;
  std::memset(&info, 0xAB, sizeof info);
  Mp3sDecGetLibInfo(&info);
  const char* bytes = reinterpret_cast<const char*>(info.words);
  EXPECT_STREQ(bytes, "2010-02-03");
  EXPECT_STREQ(bytes + 20, "04.03.03");
  EXPECT_STREQ(Mp3sDecStatusMessage(0), "(Mp3Ssc) success: no error");
  EXPECT_STREQ(Mp3sDecStatusMessage(0x41010002), "(Mp3Ssc) info: Decoder - not enough main data present");
  EXPECT_STREQ(Mp3sDecStatusMessage(0x81010004), "(Mp3Ssc) warning: Decoder - sync eof");
  EXPECT_STREQ(Mp3sDecStatusMessage(0xC1010003), "(Mp3Ssc) error: Decoder - buffer is too small");
  EXPECT_STREQ(Mp3sDecStatusMessage(0x41010003), "(Mp3Ssc) unknown SSC");
}

TEST(Mp3DecInterface, InvalidAndKilledHandles) {
  float out[kMp3sDecMaxOutputFloats];
  uint32_t consumed = 1, written = 1;
  EXPECT_EQ(Mp3sDecInit(nullptr, nullptr, 0, 0, 1, 1), kMp3sDecInvalidHandle);
  EXPECT_EQ(Mp3sDecDecode(nullptr, nullptr, 0, &consumed, out, 2304, &written, nullptr, 0, 0, nullptr, nullptr),
            kMp3sDecInvalidHandle);
  EXPECT_EQ(consumed, 0u);
  EXPECT_EQ(Mp3sDecSetEndOfInput(nullptr), kMp3sDecInvalidHandle);
  EXPECT_EQ(Mp3sDecEnableTrim(nullptr, 1), kMp3sDecInvalidHandle);
  EXPECT_EQ(Mp3sDecIsFinished(nullptr), 0);
  Mp3sDecStreamInfo info;
  Mp3sDecGetInfo(&info, nullptr);
  for (uint32_t v : info.values) EXPECT_EQ(v, 0u);

  // More than 32768 bytes kill the handle; so does a buffer without a frame.
  const std::vector<uint8_t> big(40000, 0);
  Mp3sDecHandle h = nullptr;
  ASSERT_EQ(Mp3sDecOpen(&h, 0), 0);
  EXPECT_EQ(Mp3sDecInit(h, big.data(), static_cast<uint32_t>(big.size()), 0, 1, 1), kMp3sDecTooManyBytes);
  EXPECT_EQ(Mp3sDecSetEndOfInput(h), kMp3sDecInvalidHandle);
  Mp3sDecClose(h);
  ASSERT_EQ(Mp3sDecOpen(&h, 0), 0);
  EXPECT_EQ(Mp3sDecInit(h, big.data(), 8192, 0, 1, 1), kMp3sDecNoFrame);
  EXPECT_EQ(Mp3sDecDecode(h, big.data(), 10, &consumed, out, 2304, &written, nullptr, 0, 0, nullptr, nullptr),
            kMp3sDecInvalidHandle);
  Mp3sDecClose(h);

  // A multichannel mode is not available; the handle decodes as mode 0.
  ASSERT_EQ(Mp3sDecOpen(&h, 1), kMp3sDecMultichannelUnavailable);
  const auto stream = Vector("l3-compl");
  EXPECT_EQ(Mp3sDecInit(h, stream.data(), 8192, static_cast<uint32_t>(stream.size()), 1, 1), 0);
  Mp3sDecClose(h);
}

TEST(Mp3DecInterface, StreamInformationOfConstantRateStream) {
  const auto stream = Vector("l3-compl");
  Mp3sDecHandle h = nullptr;
  ASSERT_EQ(Mp3sDecOpen(&h, 0), 0);
  ASSERT_EQ(Mp3sDecInit(h, stream.data(), 8192, static_cast<uint32_t>(stream.size()), 1, 1), 0);
  Mp3sDecStreamInfo info;
  Mp3sDecGetInfo(&info, h);
  // l3-compl: MPEG-1 mono at 48 kHz (its first header).
  const uint32_t header = static_cast<uint32_t>(stream[0]) << 24 | stream[1] << 16 | stream[2] << 8 | stream[3];
  const uint32_t rates[3] = {44100, 48000, 32000};
  EXPECT_EQ(info.values[kMp3sDecInfoSampleRate], rates[(header >> 10) & 3]);
  EXPECT_EQ(info.values[kMp3sDecInfoChannels], ((header >> 6) & 3) == 3 ? 1u : 2u);
  EXPECT_EQ(info.values[kMp3sDecInfoChannelsOut], info.values[kMp3sDecInfoChannels]);
  EXPECT_EQ(info.values[kMp3sDecInfoFrameCountKnown], 0u);
  EXPECT_EQ(info.values[kMp3sDecInfoTrimRecord], 0u);
  const uint32_t bitRate = info.values[kMp3sDecInfoBitRate];
  ASSERT_GT(bitRate, 0u);
  EXPECT_EQ(info.values[kMp3sDecInfoDurationMs],
            static_cast<uint32_t>(stream.size() / (bitRate * 0.125) * 1000.0));
  Mp3sDecClose(h);
}

// The search is bit-granular: the same stream after 13 bits of junk (so no
// frame starts on a byte boundary) decodes to the same samples.
TEST(Mp3DecInterface, BitGranularSyncAndChunking) {
  const auto stream = Vector("l3-si");
  const auto plain = DecodeStream(stream);
  ASSERT_EQ(plain.initResult, 0);
  std::vector<uint8_t> shifted(stream.size() + 2, 0);
  // 13 junk bits 1010101010101 then the stream.
  uint32_t acc = 0x1555;
  int bits = 13;
  size_t o = 0;
  for (uint8_t b : stream) {
    acc = (acc << 8) | b;
    bits += 8;
    while (bits >= 8) {
      shifted[o++] = static_cast<uint8_t>(acc >> (bits - 8));
      bits -= 8;
    }
  }
  shifted[o++] = static_cast<uint8_t>(acc << (8 - bits));
  shifted.resize(o);
  const auto moved = DecodeStream(shifted);
  ASSERT_EQ(moved.initResult, 0);
  EXPECT_EQ(moved.pcm, plain.pcm);

  for (size_t chunk : {size_t{1}, size_t{7}, size_t{1000}, size_t{20000}}) {
    SCOPED_TRACE(chunk);
    EXPECT_EQ(DecodeStream(stream, chunk).pcm, plain.pcm);
  }

  // One frame alone never synchronises (the search needs the next header).
  const std::vector<uint8_t> single(stream.begin(), stream.begin() + 200);
  EXPECT_EQ(DecodeStream(single).initResult, kMp3sDecNoFrame);
}

// A first frame carrying a Xing record yields no samples and makes the
// frame count known; a record tagged "Info" is not recognised and its frame
// decodes as silence.
TEST(Mp3DecInterface, RecordFrames) {
  TempDir dir;
  const std::string mp3 = dir / "vbr.mp3";
  ASSERT_TRUE(MakeLameFile(mp3, "-V 2", 44100, 2, 3.0));
  const auto stream = ReadFileBytes(mp3);
  Mp3sDecHandle h = nullptr;
  ASSERT_EQ(Mp3sDecOpen(&h, 0), 0);
  ASSERT_EQ(Mp3sDecInit(h, stream.data(), 8192, static_cast<uint32_t>(stream.size()), 1, 1), 0);
  Mp3sDecStreamInfo info;
  Mp3sDecGetInfo(&info, h);
  EXPECT_EQ(info.values[kMp3sDecInfoFrameCountKnown], 1u);
  EXPECT_EQ(info.values[kMp3sDecInfoVariableRate], 1u);
  // lame's record counts the frames after the record frame.
  const uint32_t frames = stream[44] << 24 | stream[45] << 16 | stream[46] << 8 | stream[47];
  EXPECT_EQ(info.values[kMp3sDecInfoDurationMs], static_cast<uint32_t>(frames * (1152 * 1000.0 / 44100)));
  Mp3sDecClose(h);
  // The samples against mpg123: the program test's "vbr-xing" stream.
  EXPECT_EQ(DecodeStream(stream).frames, static_cast<int>(frames));

  // "Info": the frame is decoded (silence), then lame's 1105 samples of
  // delay; the reference decoding has both trimmed.
  const auto tagged = DecodeStream(Vector("l3-nonstandard-sin1k0db_lame_vbrtag"));
  const auto trimmed = ReadPcm16(VectorPath("l3-nonstandard-sin1k0db_lame_vbrtag") + ".pcm");
  ASSERT_EQ(tagged.initResult, 0);
  for (size_t i = 0; i < 2304; ++i) ASSERT_EQ(tagged.pcm[i], 0) << i;
  const size_t skip = 2 * (1152 + 1105);
  ASSERT_GT(tagged.pcm.size(), skip + trimmed.size() / 2);
  const size_t n = std::min(tagged.pcm.size() - skip, trimmed.size());
  const auto t = ComparePcm(std::vector<int16_t>(tagged.pcm.begin() + skip, tagged.pcm.end()), trimmed, n);
  EXPECT_LE(t.maxDiff, 1);
}

// A CRC-protected stream decodes as mpg123 decodes it; a damaged check word
// gives a CRC error frame, written from concealment.
TEST(Mp3DecInterface, CrcProtectedFramesAndCrcErrors) {
  TempDir dir;
  const std::string crcMp3 = dir / "crc-protected.mp3";
  ASSERT_TRUE(MakeLameFile(crcMp3, "-b 128 -p -t", 44100, 2, 2.0));
  auto protectedStream = ReadFileBytes(crcMp3);
  const auto checked = DecodeStream(protectedStream);
  const auto reference = DecodeWithReferences(crcMp3).mpg123;
  ASSERT_EQ(checked.initResult, 0);
  ASSERT_EQ(checked.pcm.size(), reference.size());
  const auto c = ComparePcm(checked.pcm, reference, reference.size());
  EXPECT_GE(c.psnr, 96.0);
  EXPECT_LE(c.maxDiff, 1);
  // Damage the check word of a frame in the middle.
  size_t frameStart = protectedStream.size() / 2;
  while (!(protectedStream[frameStart] == 0xFF && (protectedStream[frameStart + 1] & 0xFE) == 0xFA)) ++frameStart;
  protectedStream[frameStart + 4] ^= 0x5A;
  const auto damaged = DecodeStream(protectedStream);
  EXPECT_EQ(damaged.frames + damaged.concealedNoMainData, checked.frames);
  EXPECT_NE(damaged.pcm, checked.pcm);
}

// Without a frame count, each GetInfo enters the current frame's bit rate
// into a window and reports the mean of the last 20 once it holds 20; before
// that, the analysed average. The call after Init sees the last frame the
// initialisation probed (the second).
TEST(Mp3DecInterface, BitRateWindowOfGetInfo) {
  TempDir dir;
  const std::string mp3 = dir / "window.mp3";
  ASSERT_TRUE(MakeLameFile(mp3, "-V 0 -t", 44100, 2, 3.0));  // VBR without a record frame
  const auto stream = ReadFileBytes(mp3);
  const std::vector<int32_t> rates = ParseMp3Stream(stream).bitRates;
  ASSERT_GT(rates.size(), 60u);
  ASSERT_NE(*std::min_element(rates.begin(), rates.end()), *std::max_element(rates.begin(), rates.end()));
  Mp3sDecHandle h = nullptr;
  ASSERT_EQ(Mp3sDecOpen(&h, 0), 0);
  ASSERT_EQ(Mp3sDecInit(h, stream.data(), 8192, static_cast<uint32_t>(stream.size()), 1, 1), 0);
  Mp3sDecStreamInfo info;
  Mp3sDecGetInfo(&info, h);
  const uint32_t analysed = info.values[kMp3sDecInfoBitRate];
  EXPECT_EQ(info.values[kMp3sDecInfoFrameCountKnown], 0u);
  std::vector<uint32_t> seen = {static_cast<uint32_t>(rates[1])};
  std::vector<float> out(kMp3sDecMaxOutputFloats);
  size_t pos = 0, frames = 0;
  while (frames < 50) {
    uint32_t consumed = 0, written = 0, flags = 0, anc = 0;
    const int r = Mp3sDecDecode(h, stream.data() + pos, static_cast<uint32_t>(std::min<size_t>(4096, stream.size() - pos)),
                                &consumed, out.data(), 2304, &written, &flags, 0, 0, nullptr, &anc);
    ASSERT_EQ(r, 0);
    pos += consumed;
    if (written == 0) continue;
    ++frames;
    Mp3sDecGetInfo(&info, h);
    seen.push_back(rates[frames - 1]);
    if (seen.size() < 20) {
      EXPECT_EQ(info.values[kMp3sDecInfoBitRate], analysed) << frames;
    } else {
      uint64_t sum = 0;
      for (size_t i = seen.size() - 20; i < seen.size(); ++i) sum += seen[i];
      EXPECT_EQ(info.values[kMp3sDecInfoBitRate], sum / 20) << frames;
    }
  }
  Mp3sDecClose(h);
}

}  // namespace
