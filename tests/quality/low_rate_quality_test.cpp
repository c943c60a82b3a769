// Our encoder against LAME 3.100 at the two low rates users pick for speech
// and small files, both coded at the MPEG-2 sample rates after the
// converter: 32 kbps stereo (lame -b 32) and 48 kbps mono (lame -b 48).
// Graded by our PEAQ model on the quality set, each setting checks
//   - the mean ODG is at least LAME's;
//   - no item falls below its regression floor;
//   - the output rates the two encoders chose (ours from the rate table,
//     LAME's from its own) and the nominal bit rates.
// The per-item table is printed to the test log.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/qualityset/quality_items.h"
#include "tools/qualityset/quality_measure.h"
#include "tools/qualityset/quality_report.h"

namespace {

using namespace kestrune::quality;

// Regression floors, 0.1 below our ODG measured with
//   build/release/bench/quality/quality_bench --settings cbr32,mono48
// Raise a floor when the encoder improves; lower one only with a reason in
// the commit message.
struct Floor {
    const char* setting;
    const char* item;
    double odg;
};
constexpr Floor kFloors[] = {
    {"cbr32", "ref-clicks", -2.32},   {"cbr32", "ref-noise", -3.42},    {"cbr32", "ref-pluck", -2.69},
    {"cbr32", "ref-speech", -2.68},   {"cbr32", "ref-tones", -2.27},    {"cbr32", "piano", -2.85},
    {"cbr32", "castanets", -2.85},    {"cbr32", "glockenspiel", -3.20}, {"cbr32", "mixture", -2.63},
    {"cbr32", "applause", -3.24},     {"cbr32", "speech", -2.32},       {"cbr32", "sparse", -2.34},
    {"cbr32", "wide", -3.57},         {"cbr32", "monostereo", -3.03},   {"mono48", "ref-clicks", -1.97},
    {"mono48", "ref-noise", -2.66},   {"mono48", "ref-pluck", -1.14},   {"mono48", "ref-speech", -1.67},
    {"mono48", "ref-tones", 0.08},    {"mono48", "piano", -1.55},       {"mono48", "castanets", -0.73},
    {"mono48", "glockenspiel", -2.11}, {"mono48", "mixture", -1.84},    {"mono48", "applause", -1.92},
    {"mono48", "speech", -1.42},      {"mono48", "sparse", -0.54},      {"mono48", "wide", -2.72},
    {"mono48", "monostereo", -2.49},
};

const Floor* FindFloor(const std::string& setting, const std::string& item) {
    for (const Floor& f : kFloors) {
        if (setting == f.setting && item == f.item) return &f;
    }
    return nullptr;
}

void CheckAgainstLame(const std::string& name, int oursRate, int lameRate) {
    Setting setting;
    ASSERT_TRUE(FindSetting(name, setting));
    std::vector<Item> items;
    std::string error;
    ASSERT_TRUE(MakeQualitySet(KESTRUNE_SHARED_DIR, items, error)) << error;
    ASSERT_EQ(items.size(), 14u);
    QualityHarness harness;
    std::vector<Measurement> rows;
    for (const Item& item : items) {
        Measurement m;
        ASSERT_TRUE(harness.Measure(item, setting, m, error)) << error;
        rows.push_back(m);
    }
    const std::vector<SettingMeans> means = Summarise(rows);
    std::printf("%s\n%s", FormatTable(rows).c_str(), FormatMeans(means).c_str());
    ASSERT_EQ(means.size(), 1u);
    EXPECT_GE(means[0].ours, means[0].lame) << "mean ODG below LAME's";
    for (const Measurement& m : rows) {
        SCOPED_TRACE(m.item);
        ASSERT_TRUE(std::isfinite(m.ours.odg) && std::isfinite(m.lame.odg));
        const Floor* floor = FindFloor(name, m.item);
        ASSERT_NE(floor, nullptr) << "no regression floor recorded";
        EXPECT_GE(m.ours.odg, floor->odg) << "below the regression floor";
        EXPECT_EQ(m.ours.outputRate, oursRate);
        EXPECT_EQ(m.lame.outputRate, lameRate);
        EXPECT_NEAR(m.ours.kbps, setting.bitRateKbps * 1.01, setting.bitRateKbps * 0.02);
        EXPECT_NEAR(m.lame.kbps, setting.bitRateKbps * 1.01, setting.bitRateKbps * 0.02);
    }
}

// 32 kbps stereo: both encoders convert to 16 kHz.
TEST(EncoderLowRateQuality, Stereo32AgainstLame) { CheckAgainstLame("cbr32", 16000, 16000); }
// 48 kbps mono: our rate table converts to 24 kHz, LAME to 32 kHz.
TEST(EncoderLowRateQuality, Mono48AgainstLame) { CheckAgainstLame("mono48", 24000, 32000); }

}  // namespace
