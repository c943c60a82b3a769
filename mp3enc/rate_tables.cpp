#include "mp3enc/rate_tables.h"

namespace mp3enc {
namespace {

// Bit-rate classes: channels, bit-rate range, wide and narrow output-rate
// ranges, bandwidth. The fewer bits per channel, the narrower the band that
// is coded, so that what is coded stays clean. Rows are searched in order
// and the first match wins.
constexpr std::array<RateClass, kRateClassCount> MakeRateClasses() {
  return {{
      // one channel
      {1, 8000, 15999, 8000, 11025, 8000, 8000, 3266},
      {1, 16000, 17999, 11025, 16000, 11025, 11025, 4722},
      {1, 18000, 19999, 11025, 16000, 12000, 12000, 5086},
      {1, 20000, 23999, 11025, 16000, 12000, 12000, 5450},
      {1, 24000, 31999, 16000, 24000, 16000, 16000, 6178},
      {1, 32000, 39999, 16000, 24000, 22050, 22050, 7634},
      {1, 40000, 47999, 22050, 32000, 22050, 22050, 9090},
      {1, 48000, 55999, 22050, 32000, 24000, 24000, 10546},
      {1, 56000, 63999, 32000, 48000, 32000, 32000, 12002},
      {1, 64000, 79999, 32000, 48000, 44100, 44100, 13458},
      {1, 80000, 95999, 32000, 48000, 44100, 44100, 16370},
      {1, 96000, 111999, 32000, 48000, 44100, 44100, 19282},
      {1, 112000, 127999, 32000, 48000, 44100, 44100, 22194},
      {1, 128000, 159999, 32000, 48000, 44100, 44100, 24000},
      {1, 160000, 191999, 32000, 48000, 44100, 44100, 24000},
      {1, 192000, 223999, 32000, 48000, 44100, 44100, 24000},
      {1, 224000, 255999, 32000, 48000, 44100, 44100, 24000},
      {1, 256000, 319999, 32000, 48000, 44100, 44100, 24000},
      {1, 320000, 320000, 32000, 48000, 44100, 44100, 24000},
      // two channels
      {2, 16000, 17999, 8000, 12000, 8000, 8000, 3400},
      {2, 18000, 19999, 8000, 12000, 8000, 8000, 3625},
      {2, 20000, 23999, 8000, 12000, 11025, 11025, 3850},
      {2, 24000, 31999, 11025, 16000, 11025, 11025, 4300},
      {2, 32000, 39999, 11025, 16000, 16000, 16000, 5174},
      {2, 40000, 47999, 16000, 24000, 16000, 16000, 6031},
      {2, 48000, 55999, 16000, 24000, 22050, 22050, 7470},
      {2, 56000, 63999, 22050, 24000, 22050, 22050, 8909},
      {2, 64000, 79999, 22050, 24000, 24000, 24000, 10348},
      {2, 80000, 95999, 22050, 32000, 24000, 24000, 11025},
      {2, 96000, 111999, 32000, 44100, 32000, 32000, 11892},
      {2, 112000, 127999, 32000, 48000, 44100, 44100, 13642},
      {2, 128000, 159999, 32000, 48000, 44100, 44100, 15804},
      {2, 160000, 191999, 32000, 48000, 44100, 44100, 20192},
      {2, 192000, 223999, 32000, 48000, 44100, 44100, 24000},
      {2, 224000, 255999, 32000, 48000, 44100, 44100, 24000},
      {2, 256000, 319999, 32000, 48000, 44100, 44100, 24000},
      {2, 320000, 320000, 32000, 48000, 44100, 48000, 24000},
      // six channels (the multichannel extension)
      {6, 128000, 159999, 44100, 48000, 44100, 44100, 14800},
      {6, 160000, 191999, 44100, 48000, 44100, 44100, 16000},
      {6, 192000, 223999, 44100, 48000, 44100, 48000, 16000},
      {6, 224000, 255999, 44100, 48000, 44100, 48000, 18500},
      {6, 256000, 319999, 44100, 48000, 44100, 48000, 20000},
      {6, 320000, 320000, 44100, 48000, 44100, 48000, 24000},
  }};
}

constexpr int CountRows(const std::array<RateClass, kRateClassCount>& rows, int channels) {
  int n = 0;
  for (const RateClass& r : rows) n += r.channels == channels ? 1 : 0;
  return n;
}

constexpr bool RangesAreSane(const std::array<RateClass, kRateClassCount>& rows) {
  for (const RateClass& r : rows) {
    if (r.lowestBitRate > r.highestBitRate || r.wideLowest > r.wideHighest ||
        r.narrowLowest > r.narrowHighest || r.bandwidth <= 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

const std::array<RateClass, kRateClassCount> kRateClasses = MakeRateClasses();

static_assert(CountRows(MakeRateClasses(), 1) == 19);
static_assert(CountRows(MakeRateClasses(), 2) == 18);
static_assert(CountRows(MakeRateClasses(), 6) == 6);
static_assert(RangesAreSane(MakeRateClasses()));
static_assert(MakeRateClasses()[31].bandwidth == 15804);  // stereo 128 kbit/s
static_assert(MakeRateClasses()[36].narrowHighest == 48000);
static_assert(MakeRateClasses()[42].highestBitRate == 320000);

const RateClass* FindRateClass(int32_t bitRate, int32_t channels) {
  for (const RateClass& r : kRateClasses) {
    if (r.channels == channels && bitRate >= r.lowestBitRate && bitRate <= r.highestBitRate) {
      return &r;
    }
  }
  return nullptr;
}

int32_t NominalBitRate(int32_t level, int32_t channels) {
  const bool mono = channels == 1;
  switch (level) {
    case 1: return mono ? 96000 : 192000;
    case 2: return mono ? 80000 : 160000;
    case 3: return mono ? 70000 : 140000;
    case 4: return mono ? 64000 : 128000;
    case 5: return mono ? 64000 : 96000;
    default: return 0;
  }
}

int32_t VbrQuality(int32_t level) {
  switch (level) {
    case 1: return 100;
    case 2: return 80;
    case 3: return 60;
    case 4: return 50;
    case 5: return 40;
    default: return 0;
  }
}

}  // namespace mp3enc
