// Measures our encoder against LAME on one item at one setting: both encode
// the same 16-bit input, mpg123 decodes both, a decoding at another rate is
// brought back to 48 kHz by the same SoX converter, each decoding is aligned
// with the reference by cross-correlation and cut to its length, and the
// PEAQ model grades it. The bit rate is the file size over the duration.
//
// Our encoder runs in this process through its C interface, fed exactly as
// the WAVE-to-MP3 conversion feeds it; LAME, mpg123 and SoX run as programs
// found on the PATH (Debian packages lame, mpg123, sox). LAME writes no tag
// frame (-t), so both files hold nothing but audio frames.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "tools/qualityset/quality_items.h"

namespace kestrune::quality {

struct Setting {
    std::string name;    // short name for tables, e.g. "cbr128", "vbr2-V2", "mono64"
    int bitRateKbps = 0; // our constant bit rate; 0 with a level
    int level = 0;       // our variable-bit-rate level 1..5; 0 for constant
    bool mono = false;   // items downmixed to one channel
    std::vector<std::string> lameArgs;  // LAME's rate options, e.g. {"-b", "128"}
};

struct EncoderResult {
    double odg = NAN;
    double kbps = 0.0;      // file bytes * 8 / item duration
    int outputRate = 0;     // the stream's sample rate
    long lag = -1;          // measured delay at 48 kHz, in samples
    long expectedLag = -1;  // the delay the encoder and decoder declare, -1 when not known
};

struct Measurement {
    std::string item;
    std::string setting;
    EncoderResult ours;
    EncoderResult lame;
    double Difference() const { return ours.odg - lame.odg; }
};

// mpg123's decoder delay: the synthesis filter bank's 528 samples plus one.
inline constexpr long kDecoderDelay = 529;
// LAME's encoder delay (its analysis look-ahead), in output samples.
inline constexpr long kLameEncoderDelay = 576;

// The three settings that the regression test checks.
std::vector<Setting> TestSettings();
// The benchmark's settings: constant rates 32..320 kbps stereo, the five
// levels, 64 and 48 kbps mono. The levels come unpaired (named "vbrN", no
// LAME options): PairLevel gives each the -V setting it is measured against.
std::vector<Setting> BenchSettings();

// LAME's variable-bit-rate settings -V 0 .. -V 9.
inline constexpr int kLameVbrSettings = 10;
// Pairs a level setting with LAME -V lameV: names it "vbrN-VM" and sets the
// LAME options.
void PairLevel(Setting& level, int lameV);
// The -V setting whose mean rate is nearest ours (a tie goes to the lower
// rate, the harder comparison for us); lameKbps[v] is the mean of -V v.
int NearestLameV(double oursKbps, const double (&lameKbps)[kLameVbrSettings]);
// A setting of the test or the benchmark by name; a level also as "vbrN-VM"
// (level N against -V M). "vbrN" gives the unpaired level (no LAME options).
bool FindSetting(const std::string& name, Setting& out);

// Our encoder on the item at the setting, through its C interface, fed in
// blocks exactly as the WAVE-to-MP3 conversion feeds it: the stream the
// program would write. Fills outputRate and expectedLag of result.
bool EncodeWithOurs(const Item& input, const Setting& setting, std::string& stream, EncoderResult& result,
                    std::string& error);

// One measurement session with a private scratch folder, removed at the end.
// Not shared between threads: give each thread its own.
class QualityHarness {
public:
    QualityHarness();
    ~QualityHarness();
    QualityHarness(const QualityHarness&) = delete;
    QualityHarness& operator=(const QualityHarness&) = delete;

    // item is the stereo item; a mono setting downmixes it. False with a
    // message when a tool fails or the alignment finds no match.
    bool Measure(const Item& item, const Setting& setting, Measurement& out, std::string& error);
    // Bit rates only (file size over duration, kbit/s): LAME with the given
    // options on the item, and our encoder at the setting.
    bool LameKbps(const Item& item, const std::vector<std::string>& lameArgs, double& kbps, std::string& error);
    static bool OursKbps(const Item& item, const Setting& setting, double& kbps, std::string& error);

private:
    bool EncodeOurs(const Item& input, const Setting& setting, const std::string& mp3, EncoderResult& result,
                    std::string& error);
    bool Grade(const Item& reference, const std::string& mp3, EncoderResult& result, std::string& error);
    // LAME with the given options (and -t: audio frames only) from wav to mp3.
    bool EncodeLame(const std::string& wav, const std::vector<std::string>& lameArgs, const std::string& mp3,
                    std::string& error);
    bool Run(const std::vector<std::string>& args, std::string& error);
    std::string Path(const std::string& name) const;

    std::string dir_;
};

}  // namespace kestrune::quality
