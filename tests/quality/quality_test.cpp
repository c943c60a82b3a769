// Our encoder against LAME 3.100 on the quality set, graded by our PEAQ
// model: 128 and 192 kbps stereo (lame -b 128, -b 192), 64 kbps mono
// (lame -b 64) and variable level 2 (lame -V 2). Each setting checks
//   - the mean ODG is within 0.3 of LAME's and no item is more than 0.6
//     below LAME's (a few known gaps have their own, recorded allowance);
//   - no item falls below its regression floor;
//   - both decodings sit exactly at the delay their encoder declares (our
//     1201 samples, LAME's 576 + mpg123's 529), which also proves the
//     alignment; constant rates hold their nominal bit rate.
// 32 kbps stereo and 48 kbps mono are held to LAME's mean itself (see
// CheckLowRateAgainstLame), and so is each variable level, at no higher
// mean rate than its -V pair. The per-item table is printed to the test log.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tools/qualityset/alignment.h"
#include "tools/qualityset/quality_items.h"
#include "tools/qualityset/quality_measure.h"
#include "tools/qualityset/quality_report.h"

namespace {

using namespace kestrune::quality;

// Issue criteria against LAME.
constexpr double kMeanMargin = 0.3;
constexpr double kItemMargin = 0.6;

// Regression floors: our ODG per setting and item may not fall below these.
// Measured on the release build with
//   build/release/bench/quality/quality_bench --test-settings --print-floors
// (192 kbps: --settings cbr192 --print-floors)
// (the same harness; the encoder, LAME and the model are deterministic),
// which prints these tables: 0.1 below the value measured then. Raise a floor when the encoder
// improves; lower one only with a reason in the commit message.
struct Floor {
    const char* setting;
    const char* item;
    double odg;
};
constexpr Floor kFloors[] = {
    {"cbr128", "ref-clicks", -0.01},
    {"cbr128", "ref-noise", -1.29},
    {"cbr128", "ref-pluck", -1.19},
    {"cbr128", "ref-speech", -0.09},
    {"cbr128", "ref-tones", 0.00},
    {"cbr128", "piano", -1.16},
    {"cbr128", "castanets", -0.05},
    {"cbr128", "glockenspiel", -1.22},
    {"cbr128", "mixture", -0.64},
    {"cbr128", "applause", -1.07},
    {"cbr128", "speech", -0.17},
    {"cbr128", "sparse", -0.07},
    {"cbr128", "wide", -1.43},
    {"cbr128", "monostereo", -0.08},
    {"cbr192", "ref-clicks", 0.00},
    {"cbr192", "ref-noise", -0.37},
    {"cbr192", "ref-pluck", -0.36},
    {"cbr192", "ref-speech", 0.01},
    {"cbr192", "ref-tones", 0.01},
    {"cbr192", "piano", -0.13},
    {"cbr192", "castanets", -0.06},
    {"cbr192", "glockenspiel", -0.13},
    {"cbr192", "mixture", -0.06},
    {"cbr192", "applause", -0.30},
    {"cbr192", "speech", -0.03},
    {"cbr192", "sparse", 0.01},
    {"cbr192", "wide", -0.44},
    {"cbr192", "monostereo", 0.07},
    {"mono64", "ref-clicks", -0.10},
    {"mono64", "ref-noise", -1.49},
    {"mono64", "ref-pluck", -1.48},
    {"mono64", "ref-speech", -1.37},
    {"mono64", "ref-tones", 0.01},
    {"mono64", "piano", -1.75},
    {"mono64", "castanets", -0.05},
    {"mono64", "glockenspiel", -0.95},
    {"mono64", "mixture", -0.72},
    {"mono64", "applause", -1.54},
    {"mono64", "speech", -0.42},
    {"mono64", "sparse", -0.10},
    {"mono64", "wide", -1.44},
    {"mono64", "monostereo", -1.84},
    {"vbr2-V2", "ref-clicks", -0.16},
    {"vbr2-V2", "ref-noise", -0.55},
    {"vbr2-V2", "ref-pluck", -0.26},
    {"vbr2-V2", "ref-speech", 0.00},
    {"vbr2-V2", "ref-tones", -0.20},
    {"vbr2-V2", "piano", -0.26},
    {"vbr2-V2", "castanets", -0.06},
    {"vbr2-V2", "glockenspiel", -0.19},
    {"vbr2-V2", "mixture", -0.26},
    {"vbr2-V2", "applause", -0.29},
    {"vbr2-V2", "speech", -0.19},
    {"vbr2-V2", "sparse", -0.14},
    {"vbr2-V2", "wide", -0.48},
    {"vbr2-V2", "monostereo", 0.07},
    // The low rates, measured with quality_bench --settings cbr32,mono48 (mono48 speech and
    // clicks raised with the release detection of mono below 32 kHz, sparse with the weight of
    // attacks over silence).
    {"cbr32", "ref-clicks", -2.32},   {"cbr32", "ref-noise", -3.42},    {"cbr32", "ref-pluck", -2.69},
    {"cbr32", "ref-speech", -2.68},   {"cbr32", "ref-tones", -2.27},    {"cbr32", "piano", -2.85},
    {"cbr32", "castanets", -2.85},    {"cbr32", "glockenspiel", -3.20}, {"cbr32", "mixture", -2.63},
    {"cbr32", "applause", -3.24},     {"cbr32", "speech", -2.32},       {"cbr32", "sparse", -2.34},
    {"cbr32", "wide", -3.57},         {"cbr32", "monostereo", -3.03},   {"mono48", "ref-clicks", -0.93},
    {"mono48", "ref-noise", -2.64},   {"mono48", "ref-pluck", -1.06},   {"mono48", "ref-speech", -1.32},
    {"mono48", "ref-tones", 0.09},    {"mono48", "piano", -1.54},       {"mono48", "castanets", -0.66},
    {"mono48", "glockenspiel", -1.85}, {"mono48", "mixture", -1.54},    {"mono48", "applause", -1.89},
    {"mono48", "speech", -0.87},      {"mono48", "sparse", -0.27},      {"mono48", "wide", -2.70},
    {"mono48", "monostereo", -2.28},
};

// Items on which we are more than 0.6 below LAME, with the gap measured then
// plus 0.1: the gap may shrink, not widen. Remove an entry when the item
// meets the general 0.6 rule. None at present.
constexpr std::array<Floor, 0> kKnownGaps{};

const Floor* Find(const Floor* begin, const Floor* end, const std::string& setting, const std::string& item) {
    for (const Floor* f = begin; f != end; ++f) {
        if (setting == f->setting && item == f->item) return f;
    }
    return nullptr;
}

const std::vector<Item>& QualitySet() {
    static const std::vector<Item> items = [] {
        std::vector<Item> set;
        std::string error;
        EXPECT_TRUE(MakeQualitySet(KESTRUNE_SHARED_DIR, set, error)) << error;
        return set;
    }();
    return items;
}

Setting SettingNamed(const std::string& name) {
    Setting s;
    if (FindSetting(name, s)) return s;
    ADD_FAILURE() << "no setting " << name;
    return {};
}

// Grades the whole set at a setting; prints the per-item table.
std::vector<Measurement> MeasureSet(const Setting& setting, std::vector<SettingMeans>& means) {
    const std::vector<Item>& items = QualitySet();
    EXPECT_EQ(items.size(), 14u);
    QualityHarness harness;
    std::vector<Measurement> rows;
    for (const Item& item : items) {
        Measurement m;
        std::string error;
        if (!harness.Measure(item, setting, m, error)) {
            ADD_FAILURE() << item.name << ": " << error;
            return {};
        }
        rows.push_back(m);
    }
    means = Summarise(rows);
    std::printf("%s\n%s", FormatTable(rows).c_str(), FormatMeans(means).c_str());
    return rows;
}

void CheckAgainstLame(const std::string& settingName) {
    const Setting setting = SettingNamed(settingName);
    std::vector<SettingMeans> means;
    const std::vector<Measurement> rows = MeasureSet(setting, means);
    ASSERT_EQ(rows.size(), 14u);
    ASSERT_EQ(means.size(), 1u);

    EXPECT_GE(means[0].ours, means[0].lame - kMeanMargin) << "mean ODG too far below LAME's";
    for (const Measurement& m : rows) {
        SCOPED_TRACE(m.item);
        ASSERT_TRUE(std::isfinite(m.ours.odg) && std::isfinite(m.lame.odg));
        const Floor* gap = Find(kKnownGaps.data(), kKnownGaps.data() + kKnownGaps.size(), settingName, m.item);
        EXPECT_GE(m.Difference(), -(gap ? gap->odg : kItemMargin)) << "ours " << m.ours.odg << ", LAME " << m.lame.odg;
        if (gap && m.Difference() >= -kItemMargin) {
            std::printf("note: %s at %s now meets the 0.6 rule; remove its known-gap entry\n", m.item.c_str(),
                        settingName.c_str());
        }
        const Floor* floor = Find(std::begin(kFloors), std::end(kFloors), settingName, m.item);
        ASSERT_NE(floor, nullptr) << "no regression floor recorded";
        EXPECT_GE(m.ours.odg, floor->odg) << "below the regression floor";

        EXPECT_EQ(m.ours.lag, m.ours.expectedLag) << "our stream is not where the declared delay puts it";
        EXPECT_EQ(m.lame.lag, m.lame.expectedLag) << "LAME's stream is not at 576 + 529 samples";
        if (setting.bitRateKbps > 0) {
            // File size over duration: the nominal rate plus the frames of the delay.
            EXPECT_NEAR(m.ours.kbps, setting.bitRateKbps * 1.01, setting.bitRateKbps * 0.01);
            EXPECT_NEAR(m.lame.kbps, setting.bitRateKbps * 1.01, setting.bitRateKbps * 0.01);
        }
    }
}

TEST(EncoderQuality, Stereo128AgainstLame) { CheckAgainstLame("cbr128"); }
TEST(EncoderQuality, Stereo192AgainstLame) { CheckAgainstLame("cbr192"); }
TEST(EncoderQuality, Mono64AgainstLame) { CheckAgainstLame("mono64"); }
TEST(EncoderQuality, Level2AgainstLameV2) { CheckAgainstLame("vbr2-V2"); }

// Each variable level against the LAME -V setting of the nearest average
// rate on the set: a mean grade at least LAME's, at a mean rate no higher.
// (Level 2's items are checked one by one above; the pairing holds for it
// too, at a rate 1 kbit/s under LAME's.)
TEST(EncoderQuality, VariableLevelsAtLeastLameAtNoHigherRate) {
    for (const char* name : {"vbr1-V0", "vbr2-V2", "vbr3-V3", "vbr4-V4", "vbr5-V5"}) {
        SCOPED_TRACE(name);
        std::vector<SettingMeans> means;
        const std::vector<Measurement> rows = MeasureSet(SettingNamed(name), means);
        ASSERT_EQ(rows.size(), 14u);
        ASSERT_EQ(means.size(), 1u);
        EXPECT_GE(means[0].ours, means[0].lame) << "mean ODG below LAME's";
        EXPECT_LE(means[0].oursKbps, means[0].lameKbps) << "mean bit rate above LAME's";
    }
}

// The two low rates users pick for speech and small files, both coded at the
// MPEG-2 sample rates after the converter: the mean at least LAME's, the
// floors, and the output rates the two encoders chose (ours from the rate
// table, LAME's from its own).
void CheckLowRateAgainstLame(const std::string& name, int oursRate, int lameRate) {
    Setting setting;
    ASSERT_TRUE(FindSetting(name, setting));
    std::vector<SettingMeans> means;
    const std::vector<Measurement> rows = MeasureSet(setting, means);
    ASSERT_EQ(rows.size(), 14u);
    ASSERT_EQ(means.size(), 1u);
    EXPECT_GE(means[0].ours, means[0].lame) << "mean ODG below LAME's";
    for (const Measurement& m : rows) {
        SCOPED_TRACE(m.item);
        ASSERT_TRUE(std::isfinite(m.ours.odg) && std::isfinite(m.lame.odg));
        const Floor* floor = Find(std::begin(kFloors), std::end(kFloors), name, m.item);
        ASSERT_NE(floor, nullptr) << "no regression floor recorded";
        EXPECT_GE(m.ours.odg, floor->odg) << "below the regression floor";
        EXPECT_EQ(m.ours.outputRate, oursRate);
        EXPECT_EQ(m.lame.outputRate, lameRate);
        EXPECT_NEAR(m.ours.kbps, setting.bitRateKbps * 1.01, setting.bitRateKbps * 0.02);
        EXPECT_NEAR(m.lame.kbps, setting.bitRateKbps * 1.01, setting.bitRateKbps * 0.02);
    }
}

// 32 kbps stereo: both encoders convert to 16 kHz.
TEST(EncoderLowRateQuality, Stereo32AgainstLame) { CheckLowRateAgainstLame("cbr32", 16000, 16000); }
// 48 kbps mono: our rate table converts to 24 kHz, LAME to 32 kHz.
TEST(EncoderLowRateQuality, Mono48AgainstLame) { CheckLowRateAgainstLame("mono48", 24000, 32000); }

// The set is what the floors were measured on: the same samples every time,
// on the 16-bit grid, with the properties each item is there for.
TEST(QualitySet, ItemsAreDeterministicAndWellFormed) {
    const std::vector<Item>& items = QualitySet();
    ASSERT_EQ(items.size(), 14u);
    for (const Item& item : items) {
        SCOPED_TRACE(item.name);
        ASSERT_EQ(item.channels.size(), 2u);
        EXPECT_GE(item.Seconds(), 6.0);
        EXPECT_LE(item.Seconds(), 10.0);
        float peak = 0.0f;
        for (const auto& c : item.channels) {
            ASSERT_EQ(c.size(), item.Frames());
            for (float v : c) {
                peak = std::max(peak, std::abs(v));
                ASSERT_EQ(v * 32768.0f, std::round(v * 32768.0f));
            }
        }
        EXPECT_GT(peak, 0.1f);
        EXPECT_LT(peak, 0.95f);
    }
    // Generated twice: identical.
    for (const std::string& name : GeneratedItemNames()) {
        Item a, b;
        std::string error;
        ASSERT_TRUE(MakeItem(name, "", a, error)) << error;
        ASSERT_TRUE(MakeItem(name, "", b, error)) << error;
        EXPECT_EQ(a.channels, b.channels) << name;
    }
    auto correlation = [](const Item& item) {
        double lr = 0, ll = 0, rr = 0;
        for (std::size_t i = 0; i < item.Frames(); ++i) {
            lr += item.channels[0][i] * item.channels[1][i];
            ll += item.channels[0][i] * item.channels[0][i];
            rr += item.channels[1][i] * item.channels[1][i];
        }
        return lr / std::sqrt(ll * rr);
    };
    Item item;
    std::string error;
    ASSERT_TRUE(MakeItem("monostereo", "", item, error));
    EXPECT_EQ(item.channels[0], item.channels[1]);
    ASSERT_TRUE(MakeItem("wide", "", item, error));
    EXPECT_LT(correlation(item), 0.3);
    ASSERT_TRUE(MakeItem("ref-speech", KESTRUNE_SHARED_DIR, item, error)) << error;
    EXPECT_EQ(item.channels[0], item.channels[1]);  // a mono file on both channels
    EXPECT_FALSE(MakeItem("ref-missing", KESTRUNE_SHARED_DIR, item, error));
    // The silent stretches of the sparse item are digital silence.
    ASSERT_TRUE(MakeItem("sparse", "", item, error));
    EXPECT_EQ(item.channels[0][static_cast<std::size_t>(0.5 * kItemRate)], 0.0f);
    EXPECT_EQ(item.channels[1][static_cast<std::size_t>(3.5 * kItemRate)], 0.0f);
}

// The harness encodes in-process; what it grades must be what the program
// writes for the same WAVE file and options.
TEST(QualityHarness, EncodesWhatTheProgramWrites) {
    kestrune::testing::TempDir dir;
    Item stereo;
    std::string error;
    ASSERT_TRUE(MakeItem("castanets", "", stereo, error)) << error;
    const Item mono = Downmix(stereo);
    for (const Setting& setting : TestSettings()) {
        SCOPED_TRACE(setting.name);
        const Item& input = setting.mono ? mono : stereo;
        ASSERT_TRUE(WriteWave16(dir / "in.wav", input));
        const std::string option =
            setting.level > 0 ? "-m" + std::to_string(setting.level) : "-b" + std::to_string(setting.bitRateKbps);
        const auto run = kestrune::testing::RunProgram(KESTRUNE_BINARY, {"in.wav", "out.mp3", option}, dir.str());
        ASSERT_EQ(run.exitCode, 0) << run.err;
        std::string stream;
        EncoderResult result;
        ASSERT_TRUE(EncodeWithOurs(input, setting, stream, result, error)) << error;
        const std::string written = kestrune::testing::ReadBytes(dir / "out.mp3");
        ASSERT_GT(stream.size(), 10000u);
        EXPECT_TRUE(written == stream) << "program " << written.size() << " bytes, harness " << stream.size();
        EXPECT_EQ(result.outputRate, 48000);
        EXPECT_EQ(result.expectedLag, 1201);
    }
}

// The alignment finds a known delay in a noisy, scaled copy.
TEST(QualityAlignment, FindsDelayOfNoisyCopy) {
    std::mt19937 rng(5);
    std::vector<std::vector<float>> ref(2, std::vector<float>(200000));
    for (auto& c : ref) {
        for (float& v : c) v = static_cast<float>(static_cast<double>(rng()) / 4294967296.0 - 0.5);
    }
    for (long delay : {0L, 1L, 1105L, 1201L, 4000L}) {
        std::vector<std::vector<float>> test(2, std::vector<float>(210000, 0.0f));
        for (std::size_t c = 0; c < 2; ++c) {
            for (std::size_t i = 0; i < ref[c].size(); ++i) {
                test[c][i + delay] = 0.5f * ref[c][i] + 0.1f * static_cast<float>(static_cast<double>(rng()) / 4294967296.0 - 0.5);
            }
        }
        EXPECT_EQ(FindLag(ref, test, 8192), delay);
        const auto aligned = AlignTo(test, delay, ref[0].size());
        ASSERT_EQ(aligned[1].size(), ref[1].size());
        EXPECT_EQ(aligned[1][7], test[1][7 + delay]);
    }
    std::vector<std::vector<float>> silent(1, std::vector<float>(1000, 0.0f));
    EXPECT_EQ(FindLag(silent, silent, 100), -1);
}

}  // namespace
