// Staging, flush, drain, failures and the frame index of the encoder
// interface, driven against a stand-in core that records what it receives.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

#include "fake_core.h"
#include "mp3enc/encoder.h"
#include "mp3enc/frame_index.h"
#include "mp3enc/mp3s_enc.h"
#include "tests/support/mp3_stream_check.h"

namespace mp3enc {
namespace {

using testing::FakeCoreLog;
using testing::FakeCoreOptions;
using testing::FakeFactory;

struct Opened {
  Mp3sEncHandle handle = nullptr;
  int32_t blockSize = 0;
};

Opened OpenAndPrepare(int32_t rate, int32_t bitRate, int32_t channels, int32_t quality,
                      FakeCoreLog* log, FakeCoreOptions options = {}) {
  Opened o;
  EXPECT_EQ(Mp3sEncOpen(&o.handle, rate, bitRate, channels, 0, quality), 0);
  EXPECT_EQ(Mp3sEncPrepareWithCore(o.handle, &o.blockSize, FakeFactory(log, options)), 0);
  return o;
}

// All of x offered in as few calls as the encoder allows; what they wrote.
std::vector<uint8_t> FeedAll(Mp3sEncHandle h, std::vector<float>& x, int32_t capacity) {
  std::vector<uint8_t> all, out(static_cast<size_t>(capacity));
  for (size_t offset = 0; offset < x.size();) {
    int32_t count = static_cast<int32_t>(x.size() - offset), next = 0, bytes = 0;
    EXPECT_EQ(Mp3sEncEncode(h, x.data() + offset, &count, &next, capacity, out.data(), &bytes), 0);
    if (bytes <= 0 && count == static_cast<int32_t>(x.size() - offset)) break;  // no progress
    all.insert(all.end(), out.begin(), out.begin() + bytes);
    offset = x.size() - static_cast<size_t>(count);
  }
  return all;
}

// Flush calls until one writes nothing, as the encode pipeline does.
std::vector<uint8_t> FlushAll(Mp3sEncHandle h, int32_t capacity, int* calls) {
  std::vector<uint8_t> all, out(static_cast<size_t>(capacity));
  for (*calls = 0; *calls < 1000; ++*calls) {
    int32_t count = 0, next = -1, bytes = -1;
    EXPECT_EQ(Mp3sEncEncode(h, nullptr, &count, &next, capacity, out.data(), &bytes), 0);
    if (bytes == 0) break;
    all.insert(all.end(), out.begin(), out.begin() + bytes);
  }
  return all;
}

// The number of frames when all are whole with valid headers, else -1.
int CountFrames(const std::vector<uint8_t>& bytes) {
  const kestrune::testing::StreamFacts f = kestrune::testing::ParseMp3Stream(bytes);
  return f.valid ? f.frames : -1;
}

// The fake core numbers its 417-byte frames: all n came, whole and in order.
void ExpectFramesInOrder(const std::vector<uint8_t>& stream, int n) {
  ASSERT_EQ(CountFrames(stream), n);
  for (int f = 0; f < n; ++f) {
    int number = -1;
    std::memcpy(&number, stream.data() + 417 * f + 4, sizeof number);
    EXPECT_EQ(number, f);
  }
}

TEST(EncoderStaging, ArbitraryChunksBecomeWholeBlocksInOrder) {
  FakeCoreLog log;
  Opened o = OpenAndPrepare(44100, 128000, 2, 0, &log);
  ASSERT_EQ(o.blockSize, 2304);
  ASSERT_EQ(Mp3sEncSetOption(o.handle, 1), 0);
  Mp3sEncInfo info;
  ASSERT_EQ(Mp3sEncGetInfo(&info, o.handle), 0);
  EXPECT_EQ(info.delay, 1201);  // pass-through adds nothing

  const int total = 3 * 2304 + 1000;
  std::vector<float> source(total);
  for (int i = 0; i < total; ++i) source[i] = std::sin(0.001f * i) * 0.9f;
  std::vector<float> caller = source;
  std::vector<uint8_t> out(8192), stream;
  const int chunks[] = {1000, 1304, 5, 2299, 2304 + 1000 + 300};
  int offset = 0;
  for (int chunk : chunks) {
    int32_t count = std::min(chunk, total - offset);
    const int32_t asked = count;
    int32_t next = -1, bytes = -1;
    ASSERT_EQ(Mp3sEncEncode(o.handle, caller.data() + offset, &count, &next, 8192, out.data(),
                            &bytes), 0);
    const int taken = asked - count;
    offset += taken;
    // A partial block takes everything and asks for the rest of the block.
    if (offset % 2304 != 0) {
      EXPECT_EQ(count, 0);
      EXPECT_EQ(next, 2304 - offset % 2304);
      EXPECT_EQ(bytes, 0);
    } else {
      EXPECT_EQ(next, 2304);
    }
    stream.insert(stream.end(), out.begin(), out.begin() + bytes);
    // The rest of a chunk that filled a block is offered again.
    while (count > 0) {
      const int32_t before = count;
      ASSERT_EQ(Mp3sEncEncode(o.handle, caller.data() + offset, &count, &next, 8192, out.data(),
                              &bytes), 0);
      offset += before - count;
      stream.insert(stream.end(), out.begin(), out.begin() + bytes);
    }
  }
  ASSERT_EQ(offset, total);
  // The caller's samples were scaled in place, and the core saw every
  // sample of the three full blocks in order on the 16-bit scale.
  for (int i = 0; i < total; ++i) ASSERT_EQ(caller[i], source[i] * 32768.0f) << i;
  ASSERT_EQ(log.granules, 6);
  for (int i = 0; i < 3 * 2304; ++i) ASSERT_EQ(log.samples[i], source[i] * 32768.0f) << i;
  EXPECT_EQ(Mp3sEncObjectOf(o.handle)->InputSampleCount(), static_cast<uint32_t>(total / 2));

  // Flush: N = ceil(1201 x 1 x 2 / 2304) = 2; the flush state starts at
  // N x 2304 minus the 1304 zeros that complete the current block (3304),
  // and every further zero block takes 2304 while it is positive: the
  // current block and two zero blocks, then the drain.
  int calls = 0;
  const std::vector<uint8_t> tail = FlushAll(o.handle, 8192, &calls);
  stream.insert(stream.end(), tail.begin(), tail.end());
  EXPECT_EQ(log.granules, 6 + 2 + 4);
  for (size_t i = 3 * 2304; i < 3 * 2304 + 1000; ++i) {
    ASSERT_EQ(log.samples[i], source[i] * 32768.0f);
  }
  for (size_t i = 3 * 2304 + 1000; i < log.samples.size(); ++i) ASSERT_EQ(log.samples[i], 0.0f);
  EXPECT_EQ(Mp3sEncObjectOf(o.handle)->FlushState(), -1304);
  // All frames came out whole and in order; the last call wrote nothing.
  ExpectFramesInOrder(stream, 6);
  EXPECT_EQ(log.framesReleased, 6);
  // After the end, further calls only report the end again.
  int32_t count = 0, next = 0, bytes = -1;
  EXPECT_EQ(Mp3sEncEncode(o.handle, nullptr, &count, &next, 8192, out.data(), &bytes), 0);
  EXPECT_EQ(bytes, 0);
  EXPECT_EQ(Mp3sEncClose(o.handle), 0);
}

TEST(EncoderFlush, RightAfterPrepareFeedsWholeZeroBlocksThenDrains) {
  FakeCoreLog log;
  Opened o = OpenAndPrepare(44100, 128000, 2, 0, &log);
  int calls = 0;
  const std::vector<uint8_t> stream = FlushAll(o.handle, 8192, &calls);
  // N x blockSize = 2 x 2304 zeros: four granules, two frames.
  EXPECT_EQ(log.granules, 4);
  EXPECT_EQ(log.samples.size(), 2u * 2304u);
  EXPECT_EQ(CountFrames(stream), 2);
  EXPECT_GT(log.drainCalls, 0);
  Mp3sEncClose(o.handle);
}

TEST(EncoderFlush, ConvertedStreamCarriesTheConverterDelay) {
  // 22050 Hz stereo to 44100: the converter's delay joins the core's in the
  // stream information and sizes the flush.
  FakeCoreLog log;
  Opened o = OpenAndPrepare(22050, 128000, 2, 0, &log);
  ASSERT_EQ(o.blockSize, 1152);
  const Encoder* e = Mp3sEncObjectOf(o.handle);
  const int32_t converterDelay = e->Converter()->Delay();
  EXPECT_GT(converterDelay, 0);
  Mp3sEncInfo info;
  Mp3sEncGetInfo(&info, o.handle);
  EXPECT_EQ(info.delay, 1201 + converterDelay);
  EXPECT_EQ(info.bandwidth, 11025.0f);

  // One second of a 1 kHz sine at half scale.
  const int frames = 22050;
  std::vector<float> x(2 * frames);
  for (int i = 0; i < frames; ++i) {
    x[2 * i] = x[2 * i + 1] = 0.5f * std::sin(2.0f * 3.14159265f * 1000.0f * i / 22050.0f);
  }
  FeedAll(o.handle, x, 8192);
  int calls = 0;
  FlushAll(o.handle, 8192, &calls);
  // Zero blocks: ceil((1201 + delay) x 0.5 x 2 / 1152), counted from the
  // start of the partial block.
  const int fullBlocks = 2 * frames / 1152;
  const int n = static_cast<int>(std::ceil((1201.0 + converterDelay) * 0.5 * 2 / 1152));
  const int state = n * 1152 - (1152 - (2 * frames - fullBlocks * 1152));
  const int flushBlocks = 1 + (state + 1151) / 1152;
  EXPECT_EQ(log.granules, 2 * (fullBlocks + flushBlocks));
  // The core saw the input on the 16-bit scale, delayed by the converter.
  const size_t at = static_cast<size_t>(2 * (converterDelay + 2000));
  EXPECT_NEAR(log.samples[at], 0.5 * 32768 * std::sin(2 * M_PI * 1000 * 2000 / 44100.0), 3.0);
  Mp3sEncClose(o.handle);
}

TEST(EncoderDrain, SmallBuffersSplitTheDrainAcrossCalls) {
  FakeCoreLog log;
  FakeCoreOptions options;
  options.lagFrames = 6;
  Opened o = OpenAndPrepare(44100, 128000, 2, 0, &log, options);
  std::vector<float> x(10 * 2304, 0.25f);
  std::vector<uint8_t> stream = FeedAll(o.handle, x, 1000);
  EXPECT_EQ(CountFrames(stream), 4);  // ten frames made, six held back
  // Flush: two zero blocks (two more frames), then eight queued frames
  // leave through a 1000-byte buffer. After one frame the room left (583
  // bytes) is below what one core call may write (834), so each call
  // carries one frame.
  int calls = 0;
  const std::vector<uint8_t> tail = FlushAll(o.handle, 1000, &calls);
  EXPECT_EQ(log.framesMade, 12);
  EXPECT_EQ(log.framesReleased, 12);
  EXPECT_EQ(CountFrames(tail), 8);
  EXPECT_EQ(calls, 8);
  stream.insert(stream.end(), tail.begin(), tail.end());
  ExpectFramesInOrder(stream, 12);
  Mp3sEncClose(o.handle);
}

TEST(EncoderFailures, CoreFailureAndRefusal) {
  {
    FakeCoreLog log;
    FakeCoreOptions options;
    options.failAtGranule = 3;
    Opened o = OpenAndPrepare(44100, 128000, 2, 0, &log, options);
    std::vector<float> x(4 * 2304, 0.1f);
    std::vector<uint8_t> out(8192);
    int32_t count = static_cast<int32_t>(x.size()), next = 0, bytes = 0;
    EXPECT_EQ(Mp3sEncEncode(o.handle, x.data(), &count, &next, 8192, out.data(), &bytes), 0);
    EXPECT_EQ(Mp3sEncEncode(o.handle, x.data() + 2304, &count, &next, 8192, out.data(), &bytes), 4);
    // The handle stays valid after a failed encode.
    EXPECT_EQ(Mp3sEncSetOption(o.handle, 0), 0);
    EXPECT_EQ(Mp3sEncClose(o.handle), 0);
  }
  {
    // Too little room for a frame: the core fails, the call reports 4.
    FakeCoreLog log;
    FakeCoreOptions options;
    options.lagFrames = 0;
    Opened o = OpenAndPrepare(44100, 128000, 2, 0, &log, options);
    std::vector<float> x(2304, 0.1f);
    std::vector<uint8_t> out(100);
    int32_t count = 2304, next = 0, bytes = 0;
    EXPECT_EQ(Mp3sEncEncode(o.handle, x.data(), &count, &next, 100, out.data(), &bytes), 4);
    int32_t negative = -5;
    EXPECT_EQ(Mp3sEncEncode(o.handle, x.data(), &negative, &next, 100, out.data(), &bytes), 4);
    Mp3sEncClose(o.handle);
  }
  {
    // The core refuses the settings: prepare fails with 2 and releases
    // the handle (the sanitizer run checks that nothing leaks).
    Mp3sEncHandle h = nullptr;
    ASSERT_EQ(Mp3sEncOpen(&h, 44100, 128000, 2, 0, 0), 0);
    int32_t block = 0;
    EXPECT_EQ(Mp3sEncPrepareWithCore(h, &block, [](const Mp3sEncSettings&) {
                return std::unique_ptr<Core>();
              }), 2);
  }
  {
    // A core whose frames do not hold the granules the converter delivers.
    FakeCoreLog log;
    FakeCoreOptions options;
    options.granulesPerFrame = 1;
    Mp3sEncHandle h = nullptr;
    ASSERT_EQ(Mp3sEncOpen(&h, 44100, 128000, 2, 0, 0), 0);
    int32_t block = 0;
    EXPECT_EQ(Mp3sEncPrepareWithCore(h, &block, FakeFactory(&log, options)), 2);
  }
}

TEST(EncoderSamples, NonFiniteInputReachesTheCoreSanitised) {
  FakeCoreLog log;
  Opened o = OpenAndPrepare(48000, 128000, 1, 0, &log);
  ASSERT_EQ(o.blockSize, 1152);
  std::vector<float> x(1152, 0.5f);
  x[0] = std::nanf("");
  x[1] = INFINITY;
  x[2] = -INFINITY;
  x[3] = 1e30f;
  x[4] = 1e-40f;  // denormal
  x[5] = -1.0f;
  std::vector<uint8_t> out(8192);
  int32_t count = 1152, next = 0, bytes = 0;
  ASSERT_EQ(Mp3sEncEncode(o.handle, x.data(), &count, &next, 8192, out.data(), &bytes), 0);
  ASSERT_EQ(log.samples.size(), 1152u);
  EXPECT_EQ(log.samples[0], 0.0f);
  EXPECT_EQ(log.samples[1], 65536.0f);
  EXPECT_EQ(log.samples[2], -65536.0f);
  EXPECT_EQ(log.samples[3], 65536.0f);
  EXPECT_EQ(log.samples[4], 1e-40f * 32768.0f);
  EXPECT_EQ(log.samples[5], -32768.0f);
  EXPECT_EQ(log.samples[6], 16384.0f);
  Mp3sEncClose(o.handle);
}

TEST(EncoderFrameIndex, QualityModeIndexesFramesAndReportsBadHeaders) {
  FakeCoreLog log;
  FakeCoreOptions options;
  options.corruptFrame = 1;
  Opened o = OpenAndPrepare(44100, 0, 2, 2, &log, options);
  const FrameIndex* index = Mp3sEncObjectOf(o.handle)->Index();
  ASSERT_NE(index, nullptr);
  std::vector<float> x(6 * 2304, 0.1f);
  ::testing::internal::CaptureStdout();
  FeedAll(o.handle, x, 8192);
  int calls = 0;
  FlushAll(o.handle, 8192, &calls);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Processing Header failed!\n");
  EXPECT_EQ(index->Failures(), 1u);
  EXPECT_EQ(static_cast<int>(index->Frames()), log.framesReleased - 1);
  EXPECT_EQ(index->LowestBitRate(), 128000);
  Mp3sEncClose(o.handle);

  // Constant bit rate keeps no index and prints nothing.
  FakeCoreLog cbrLog;
  Opened cbr = OpenAndPrepare(44100, 128000, 2, 0, &cbrLog, options);
  EXPECT_EQ(Mp3sEncObjectOf(cbr.handle)->Index(), nullptr);
  ::testing::internal::CaptureStdout();
  FlushAll(cbr.handle, 8192, &calls);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  Mp3sEncClose(cbr.handle);
}

}  // namespace
}  // namespace mp3enc
