// The kestrune-peaq command run as a user runs it: its output lines, exit
// codes and messages, and its inputs made by sox during the test.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kQuality = std::string(KESTRUNE_SHARED_DIR) + "/quality/";

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class PeaqCli : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kestrune-peaq-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    CliRun run(const std::string& args) {
        const std::string out = dir_ + "/out.txt";
        const std::string err = dir_ + "/err.txt";
        const std::string cmd = std::string("'") + KESTRUNE_PEAQ_BINARY + "' " + args + " >'" + out + "' 2>'" + err + "'";
        const int status = std::system(cmd.c_str());
        CliRun r;
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = slurp(out);
        r.err = slurp(err);
        return r;
    }
    std::string sox(const std::string& args, const std::string& name, const std::string& effects = "") {
        const std::string path = dir_ + "/" + name;
        const std::string cmd = "sox " + args + " '" + path + "' " + effects + " 2>/dev/null";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        return path;
    }
    std::string dir_;
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

TEST_F(PeaqCli, PrintsGradeThenIndexAndVariables) {
    const CliRun r = run("'" + kQuality + "ref/tones.wav' '" + kQuality + "test/tones-lame96.wav'");
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
    const std::string ref = sox("'" + kQuality + "ref/pluck.wav' -e floating-point -b 32", "ref.wav");
    const std::string test = sox("'" + kQuality + "test/pluck-lame192.wav' -e floating-point -b 32", "test.wav");
    const CliRun f = run("'" + ref + "' '" + test + "'");
    const CliRun i = run("'" + kQuality + "ref/pluck.wav' '" + kQuality + "test/pluck-lame192.wav'");
    ASSERT_EQ(f.exitCode, 0) << f.err;
    ASSERT_EQ(i.exitCode, 0) << i.err;
    EXPECT_NEAR(std::stod(lines(f.out)[0]), std::stod(lines(i.out)[0]), 0.002);
}

TEST_F(PeaqCli, RejectsInputsItCannotCompare) {
    const std::string tones = "'" + kQuality + "ref/tones.wav'";
    CliRun r = run("");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "usage: kestrune-peaq REF.wav TEST.wav\n");
    EXPECT_EQ(r.out, "");

    const std::string resampled = sox(tones + " -r 44100", "44k.wav");
    r = run(tones + " '" + resampled + "'");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err,
              "kestrune-peaq: both files must be sampled at 48000 Hz (reference 48000 Hz, test 44100 Hz); "
              "resample to 48 kHz first, e.g. sox IN.wav -r 48000 OUT.wav\n");
    EXPECT_EQ(r.out, "");

    r = run(tones + " '" + kQuality + "ref/speech.wav'");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "kestrune-peaq: the files have different channel counts (reference 2, test 1)\n");

    const std::string shorter = sox(tones, "short.wav", "trim 0 1000s");
    r = run(tones + " '" + shorter + "'");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err,
              "kestrune-peaq: the files have different lengths (reference 288000 samples, test 1000 samples); "
              "align and trim the test signal to the reference\n");

    const std::string pcm24 = sox(tones + " -b 24", "24bit.wav");
    r = run(tones + " '" + pcm24 + "'");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("only 16-bit PCM and 32-bit float"), std::string::npos) << r.err;

    r = run(tones + " '" + dir_ + "/missing.wav'");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "kestrune-peaq: cannot open " + dir_ + "/missing.wav\n");

    const char junk[] = "RIFF\x10\0\0\0WAVEjunk\x04\0\0\0abcd";
    std::ofstream(dir_ + "/junk.wav", std::ios::binary).write(junk, sizeof junk - 1);
    r = run(tones + " '" + dir_ + "/junk.wav'");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("no format or data chunk"), std::string::npos) << r.err;

    // A silent reference has no bandwidth to measure: the grade is undefined.
    const std::string silence = dir_ + "/silence.wav";
    ASSERT_EQ(std::system(("sox -n -r 48000 -c 1 -b 16 '" + silence + "' trim 0 1").c_str()), 0);
    r = run("'" + silence + "' '" + silence + "'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(lines(r.out).at(0), "nan");
    EXPECT_EQ(r.err,
              "kestrune-peaq: the reference has no frame with content above 8.1 kHz; the ODG is not defined for it\n");
}

}  // namespace
