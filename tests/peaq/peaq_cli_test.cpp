// The kestrune-peaq command run as a user runs it: its output lines, exit
// codes and messages, and its inputs made by sox during the test.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace {

using kestrune::testing::ProgramResult;

const std::string kQuality = std::string(KESTRUNE_SHARED_DIR) + "/quality/";

class PeaqCli : public ::testing::Test {
protected:
    ProgramResult run(const std::vector<std::string>& args) {
        return kestrune::testing::RunProgram(KESTRUNE_PEAQ_BINARY, args, dir_.str());
    }
    // A file made by sox in the test folder from the input and effects given.
    std::string sox(const std::string& args, const std::string& name, const std::string& effects = "") {
        const std::string path = dir_ / name;
        int status = -1;
        kestrune::testing::Shell("sox " + args + " '" + path + "' " + effects + " 2>/dev/null", &status);
        EXPECT_EQ(status, 0) << args << " " << effects;
        return path;
    }
    kestrune::testing::TempDir dir_;
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

TEST_F(PeaqCli, PrintsGradeThenIndexAndVariables) {
    const ProgramResult r = run({kQuality + "ref/tones.wav", kQuality + "test/tones-lame96.wav"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> l = lines(r.out);
    ASSERT_EQ(l.size(), 13u) << r.out;
    EXPECT_NEAR(std::stod(l[0]), -0.240, 0.15);  // expected.tsv value for this pair
    const char* names[] = {"DI ",           "BandwidthRefB ", "BandwidthTestB ", "Total NMRB ",
                           "WinModDiff1B ", "ADBB ",          "EHSB ",           "AvgModDiff1B ",
                           "AvgModDiff2B ", "RmsNoiseLoudB ", "MFPDB ",          "RelDistFramesB "};
    for (std::size_t i = 0; i < 12; ++i) {
        ASSERT_EQ(l[i + 1].rfind(names[i], 0), 0u) << l[i + 1];
        const std::string value = l[i + 1].substr(std::string(names[i]).size());
        EXPECT_NO_THROW((void)std::stod(value)) << l[i + 1];
    }
    EXPECT_NEAR(std::stod(l[1].substr(3)), 2.096, 0.3);
}

TEST_F(PeaqCli, FloatInputGradesLikeSixteenBit) {
    const std::string ref = kQuality + "ref/pluck.wav";
    const std::string test = kQuality + "test/pluck-lame192.wav";
    const ProgramResult f = run({sox("'" + ref + "' -e floating-point -b 32", "ref.wav"),
                                 sox("'" + test + "' -e floating-point -b 32", "test.wav")});
    const ProgramResult i = run({ref, test});
    ASSERT_EQ(f.exitCode, 0) << f.err;
    ASSERT_EQ(i.exitCode, 0) << i.err;
    EXPECT_NEAR(std::stod(lines(f.out)[0]), std::stod(lines(i.out)[0]), 0.002);
}

TEST_F(PeaqCli, RejectsInputsItCannotCompare) {
    const std::string tones = kQuality + "ref/tones.wav";
    const std::string quoted = "'" + tones + "'";
    kestrune::testing::WriteBytes(dir_ / "junk.wav", std::string("RIFF\x10\0\0\0WAVEjunk\x04\0\0\0abcd", 24));
    struct Case {
        std::vector<std::string> args;
        std::string err;  // the whole text, or a part of it when partOnly
        bool partOnly = false;
    };
    const Case cases[] = {
        {{}, "usage: kestrune-peaq REF.wav TEST.wav\n"},
        {{tones, sox(quoted + " -r 44100", "44k.wav")},
         "kestrune-peaq: both files must be sampled at 48000 Hz (reference 48000 Hz, test 44100 Hz); "
         "resample to 48 kHz first, e.g. sox IN.wav -r 48000 OUT.wav\n"},
        {{tones, kQuality + "ref/speech.wav"},
         "kestrune-peaq: the files have different channel counts (reference 2, test 1)\n"},
        {{tones, sox(quoted, "short.wav", "trim 0 1000s")},
         "kestrune-peaq: the files have different lengths (reference 288000 samples, test 1000 samples); "
         "align and trim the test signal to the reference\n"},
        {{tones, sox(quoted + " -b 24", "24bit.wav")}, "only 16-bit PCM and 32-bit float", true},
        {{tones, dir_ / "missing.wav"}, "kestrune-peaq: cannot open " + (dir_ / "missing.wav") + "\n"},
        {{tones, dir_ / "junk.wav"}, "no format or data chunk", true},
    };
    for (const Case& c : cases) {
        const ProgramResult r = run(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.err;
        EXPECT_EQ(r.out, "") << c.err;
        if (c.partOnly) {
            EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        } else {
            EXPECT_EQ(r.err, c.err);
        }
    }

    // A silent reference has no bandwidth to measure: the grade is undefined.
    const std::string silence = sox("-n -r 48000 -c 1 -b 16", "silence.wav", "trim 0 1");
    const ProgramResult r = run({silence, silence});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(lines(r.out).at(0), "nan");
    EXPECT_EQ(r.err,
              "kestrune-peaq: the reference has no frame with content above 8.1 kHz; the ODG is not defined for it\n");
}

}  // namespace
