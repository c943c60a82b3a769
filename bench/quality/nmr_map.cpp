// Where the noise is: the PEAQ ear model's noise-to-mask ratio per band,
// our encoder against LAME on one item at one setting of the quality set.
// Both streams are made, decoded and aligned as the quality harness does;
// then each frame's error spectrum is grouped into the model's 109 bands and
// set against the mask of the reference excitation (ITU-R BS.1387-1, the
// noise-to-mask ratio of the basic version), channels combined by their
// maximum.
//
//   nmr_map ITEM SETTING [--group N] [--frames] [--detect] [--bands FRAME] [--mod]
//
// Prints, per group of N bands (default 4), the mean ratio in dB over the
// frames and the count of frames in which a band of the group lies 1.5 dB
// above its mask (what RelDistFramesB counts), ours and LAME's; --frames adds
// one line per frame with the loudest band of each. Then both grades and the
// eleven model output variables side by side, each with the change of our
// grade were it to take LAME's value (the network run again with that one
// variable swapped): the largest changes name what costs us most, e.g. a
// bandwidth variable when the loss is the band above the coded one. --mod adds
// the modulation difference per band group (where AvgModDiff1B comes from:
// an envelope that wavers from granule to granule, or pre-echo). SETTING is one of the
// benchmark's or the test's settings (cbr128, mono64, ...) or a level with
// the LAME -V to set it against (vbr2-V2, vbr3-V3, ...).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/peaq/ear_model.h"
#include "tools/peaq/frame_movs.h"
#include "tools/peaq/patterns.h"
#include "tools/peaq/peaq.h"
#include "tools/peaq/peaq_tables.h"
#include "tools/peaq/wav_input.h"
#include "tools/qualityset/alignment.h"
#include "tools/qualityset/quality_items.h"
#include "tools/qualityset/quality_measure.h"

namespace {

namespace fs = std::filesystem;
using namespace kestrune;
using namespace kestrune::quality;
using peaq::BandArray;

using Channels = std::vector<std::vector<float>>;

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

bool Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1 </dev/null").c_str()) == 0; }

// Decodes mp3 at 48 kHz and aligns it with the reference.
bool DecodeAligned(const std::string& mp3, const Item& reference, Channels& out) {
    const std::string wav = mp3 + ".wav";
    const std::string resampled = mp3 + ".48k.wav";
    if (!Run("mpg123 -q --no-gapless -w " + Quote(wav) + " " + Quote(mp3))) return false;
    peaq::Signal signal;
    std::string error;
    if (!peaq::readWave(wav, signal, error)) return false;
    if (signal.sampleRate != kItemRate) {
        if (!Run("sox " + Quote(wav) + " -b 32 -e floating-point " + Quote(resampled) + " rate -v 48000") ||
            !peaq::readWave(resampled, signal, error)) {
            return false;
        }
    }
    if (signal.channels.size() != reference.channels.size()) return false;
    const long lag = FindLag(reference.channels, signal.channels, 8192);
    if (lag < 0) return false;
    out = AlignTo(signal.channels, lag, reference.Frames());
    return true;
}

// Noise-to-mask ratio per frame and band (linear).
// Runs the ear model over every channel of the reference and the test frame
// by frame, handing each frame pair to visit(frame index, reference, test).
template <typename Visit>
void ForEachEarFrame(const Item& reference, const Channels& test, Visit visit) {
    const std::size_t frames = reference.Frames() / peaq::kHop;
    std::vector<double> ref(peaq::kFrameSize);
    std::vector<double> tst(peaq::kFrameSize);
    for (std::size_t c = 0; c < reference.channels.size(); ++c) {
        peaq::EarModel earRef;
        peaq::EarModel earTest;
        peaq::EarFrame frameRef;
        peaq::EarFrame frameTest;
        for (std::size_t f = 0; f < frames; ++f) {
            for (std::size_t n = 0; n < peaq::kFrameSize; ++n) {
                const std::size_t i = f * peaq::kHop + n;
                ref[n] = i < reference.Frames() ? reference.channels[c][i] : 0.0;
                tst[n] = i < reference.Frames() ? test[c][i] : 0.0;
            }
            earRef.process(ref.data(), frameRef);
            earTest.process(tst.data(), frameTest);
            visit(f, frameRef, frameTest);
        }
    }
}

std::vector<BandArray> NoiseToMask(const Item& reference, const Channels& test) {
    std::vector<BandArray> out(reference.Frames() / peaq::kHop, BandArray{});
    ForEachEarFrame(reference, test, [&](std::size_t f, const peaq::EarFrame& frameRef,
                                         const peaq::EarFrame& frameTest) {
        peaq::BinArray noiseBins;
        for (std::size_t k = 0; k < peaq::kBins; ++k) {
            const double d = std::sqrt(frameRef.weighted[k]) - std::sqrt(frameTest.weighted[k]);
            noiseBins[k] = d * d;
        }
        BandArray noise;
        peaq::EarModel::group(noiseBins, noise);
        for (std::size_t k = 0; k < peaq::kBandCount; ++k) {
            // The mask offset of the basic version: 3 dB up to 12 Bark, 0.25 dB per Bark above.
            const double bark = static_cast<double>(k) * peaq::kBandStep;
            const double offsetDb = bark <= 12.0 ? 3.0 : 0.25 * bark;
            const double mask = frameRef.excitation[k] * std::pow(10.0, -offsetDb / 10.0);
            out[f][k] = std::max(out[f][k], noise[k] / mask);
        }
    });
    return out;
}

// Per frame and band: the modulation difference that the basic version's
// AvgModDiff1B averages, |Mtest - Mref| / (1 + Mref), channels combined by
// their maximum (every frame, without the model's temporal weighting).
std::vector<BandArray> ModulationDifference(const Item& reference, const Channels& test) {
    std::vector<BandArray> out(reference.Frames() / peaq::kHop, BandArray{});
    std::vector<peaq::ModulationMeter> meters;
    ForEachEarFrame(reference, test, [&](std::size_t f, const peaq::EarFrame& frameRef,
                                         const peaq::EarFrame& frameTest) {
        if (f == 0) meters.assign(2, peaq::ModulationMeter());
        BandArray modRef;
        BandArray modTest;
        meters[0].process(frameRef.unsmeared, modRef);
        meters[1].process(frameTest.unsmeared, modTest);
        for (std::size_t k = 0; k < peaq::kBandCount; ++k) {
            out[f][k] = std::max(out[f][k], std::abs(modTest[k] - modRef[k]) / (1.0 + modRef[k]));
        }
    });
    return out;
}

double Db(double x) { return 10.0 * std::log10(std::max(x, 1e-30)); }

// Per frame, channels combined as the model combines them: the probability of
// detection, the steps above threshold, and the band with the most steps with
// its excitation difference (reference minus test, dB: positive where the
// test lost energy, negative where it added some).
struct DetectFrame {
    double probability = 0.0;
    double steps = 0.0;
    std::size_t band = 0;
    double differenceDb = 0.0;
};

struct BandDump {
    BandArray refDb{};
    BandArray diffDb{};
    BandArray steps{};
};

std::vector<DetectFrame> Detection(const Item& reference, const Channels& test, long dumpFrame = -1,
                                   std::vector<BandDump>* dump = nullptr) {
    const std::size_t frames = reference.Frames() / peaq::kHop;
    std::vector<DetectFrame> out(frames);
    std::vector<BandArray> prob(frames, BandArray{});
    std::vector<BandArray> steps(frames, BandArray{});
    std::vector<BandArray> diff(frames, BandArray{});
    ForEachEarFrame(reference, test, [&](std::size_t f, const peaq::EarFrame& frameRef,
                                         const peaq::EarFrame& frameTest) {
        BandArray p;
        BandArray q;
        peaq::detection(frameRef.excitation, frameTest.excitation, p, q);
        if (dump != nullptr && static_cast<long>(f) == dumpFrame) {
            BandDump d;
            for (std::size_t k = 0; k < peaq::kBandCount; ++k) {
                d.refDb[k] = Db(frameRef.excitation[k]);
                d.diffDb[k] = Db(frameRef.excitation[k]) - Db(frameTest.excitation[k]);
                d.steps[k] = q[k];
            }
            dump->push_back(d);
        }
        for (std::size_t k = 0; k < peaq::kBandCount; ++k) {
            prob[f][k] = std::max(prob[f][k], p[k]);
            if (q[k] >= steps[f][k]) {
                steps[f][k] = q[k];
                diff[f][k] = Db(frameRef.excitation[k]) - Db(frameTest.excitation[k]);
            }
        }
    });
    for (std::size_t f = 0; f < frames; ++f) {
        double miss = 1.0;
        for (std::size_t k = 0; k < peaq::kBandCount; ++k) {
            miss *= 1.0 - prob[f][k];
            out[f].steps += steps[f][k];
            if (steps[f][k] > steps[f][out[f].band]) out[f].band = k;
        }
        out[f].probability = 1.0 - miss;
        out[f].differenceDb = diff[f][out[f].band];
    }
    return out;
}

// The frames either encoder has detected (probability above 0.5), what ADBB
// averages, and each encoder's count and step sum.
void PrintDetection(const Item& item, const Channels& ours, const Channels& lame, long dumpFrame) {
    std::vector<BandDump> da;
    std::vector<BandDump> dbs;
    const std::vector<DetectFrame> a = Detection(item, ours, dumpFrame, &da);
    const std::vector<DetectFrame> b = Detection(item, lame, dumpFrame, &dbs);
    const peaq::BandLayout& layout = peaq::BandLayout::get();
    for (std::size_t c = 0; c < da.size(); ++c) {
        std::printf("frame %ld channel %zu: band Hz, reference excitation dB, ref-test dB and steps, ours | LAME\n",
                    dumpFrame, c);
        for (std::size_t k = 0; k < peaq::kBandCount; ++k) {
            std::printf("%3zu %5.0f %6.1f  %+6.2f %5.2f | %+6.2f %5.2f\n", k, layout.centre[k], da[c].refDb[k],
                        da[c].diffDb[k], da[c].steps[k], dbs[c].diffDb[k], dbs[c].steps[k]);
        }
    }
    std::printf("\ndetected frames: P, steps, band with most steps (Hz) and its excitation difference ref-test dB\n");
    int countA = 0;
    int countB = 0;
    double sumA = 0.0;
    double sumB = 0.0;
    for (std::size_t f = 0; f < a.size(); ++f) {
        const bool da = a[f].probability > 0.5;
        const bool db = b[f].probability > 0.5;
        countA += da ? 1 : 0;
        countB += db ? 1 : 0;
        sumA += da ? a[f].steps : 0.0;
        sumB += db ? b[f].steps : 0.0;
        if (!da && !db) continue;
        std::printf("frame %4zu %6.3f s  ours %c P %.2f steps %6.2f at %5.0f Hz %+6.1f dB | LAME %c P %.2f steps %6.2f "
                    "at %5.0f Hz %+6.1f dB\n",
                    f, static_cast<double>(f * peaq::kHop) / kItemRate, da ? '*' : ' ', a[f].probability, a[f].steps,
                    layout.centre[a[f].band], a[f].differenceDb, db ? '*' : ' ', b[f].probability, b[f].steps,
                    layout.centre[b[f].band], b[f].differenceDb);
    }
    std::printf("detected: ours %d frames, %.2f steps | LAME %d frames, %.2f steps\n", countA, sumA, countB, sumB);
}

// Both grades, the model output variables, and what each of LAME's values
// would change in our grade.
void PrintVariables(const Item& item, const Channels& ours, const Channels& lame) {
    const peaq::Result a = peaq::evaluate(item.channels, ours);
    const peaq::Result b = peaq::evaluate(item.channels, lame);
    std::printf("\nODG ours %.3f, LAME %.3f (difference %+.3f)\n", a.odg, b.odg, a.odg - b.odg);
    std::printf("%-16s %11s %11s  our ODG with LAME's value\n", "variable", "ours", "LAME");
    for (std::size_t k = 0; k < peaq::kMovCount; ++k) {
        peaq::Result swapped = a;
        swapped.movs[k] = b.movs[k];
        peaq::applyNeuralNetwork(swapped);
        std::printf("%-16s %11.4f %11.4f  %+.3f\n", peaq::kMovNames[k], a.movs[k], b.movs[k],
                    swapped.odg - a.odg);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> positional;
    std::size_t group = 4;
    bool perFrame = false;
    bool detect = false;
    bool modulation = false;
    long dumpFrame = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--group" && i + 1 < argc) {
            group = static_cast<std::size_t>(std::clamp(std::atoi(argv[++i]), 1, 109));
        } else if (a == "--frames") {
            perFrame = true;
        } else if (a == "--mod") {
            modulation = true;
        } else if (a == "--detect") {
            detect = true;
        } else if (a == "--bands" && i + 1 < argc) {
            detect = true;
            dumpFrame = std::atol(argv[++i]);
        } else {
            positional.push_back(a);
        }
    }
    Setting setting;
    if (positional.size() != 2 || !FindSetting(positional[1], setting) || setting.lameArgs.empty()) {
        std::fprintf(stderr, "usage: nmr_map ITEM SETTING [--group N] [--frames] [--detect] [--bands FRAME] [--mod]\n");
        return 2;
    }
    Item item;
    std::string error;
    if (!MakeItem(positional[0], KESTRUNE_SHARED_DIR, item, error)) {
        std::fprintf(stderr, "nmr_map: %s\n", error.c_str());
        return 1;
    }
    if (setting.mono) item = Downmix(item);

    fs::path dir;
    std::random_device entropy;
    do {
        dir = fs::temp_directory_path() / ("kestrune-nmr-" + std::to_string(entropy()));
    } while (!fs::create_directory(dir));
    const std::string input = (dir / "in.wav").string();
    const std::string ours = (dir / "ours.mp3").string();
    const std::string lame = (dir / "lame.mp3").string();
    std::string stream;
    EncoderResult result;
    std::string lameCommand = "lame --quiet -t";
    for (const std::string& a : setting.lameArgs) lameCommand += " " + Quote(a);
    Channels oursDecoded;
    Channels lameDecoded;
    bool ok = WriteWave16(input, item) && EncodeWithOurs(item, setting, stream, result, error);
    if (ok) {
        std::ofstream(ours, std::ios::binary).write(stream.data(), static_cast<std::streamsize>(stream.size()));
        ok = Run(lameCommand + " " + Quote(input) + " " + Quote(lame)) && DecodeAligned(ours, item, oursDecoded) &&
             DecodeAligned(lame, item, lameDecoded);
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    if (!ok) {
        std::fprintf(stderr, "nmr_map: encoding or decoding failed (needs lame, mpg123, sox) %s\n", error.c_str());
        return 1;
    }

    const std::vector<BandArray> a = NoiseToMask(item, oursDecoded);
    const std::vector<BandArray> b = NoiseToMask(item, lameDecoded);
    const double audible = std::pow(10.0, 0.15);  // 1.5 dB
    const peaq::BandLayout& layout = peaq::BandLayout::get();
    std::printf("%s at %s: noise-to-mask ratio per band group\n", item.name.c_str(), setting.name.c_str());
    std::printf("bands    Hz              ours: mean dB  frames > 1.5 dB | LAME: mean dB  frames > 1.5 dB\n");
    for (std::size_t k0 = 0; k0 < peaq::kBandCount; k0 += group) {
        const std::size_t k1 = std::min(peaq::kBandCount, k0 + group);
        double sumA = 0.0;
        double sumB = 0.0;
        int overA = 0;
        int overB = 0;
        for (std::size_t f = 0; f < a.size(); ++f) {
            double maxA = 0.0;
            double maxB = 0.0;
            for (std::size_t k = k0; k < k1; ++k) {
                sumA += a[f][k];
                sumB += b[f][k];
                maxA = std::max(maxA, a[f][k]);
                maxB = std::max(maxB, b[f][k]);
            }
            overA += maxA > audible ? 1 : 0;
            overB += maxB > audible ? 1 : 0;
        }
        const double n = static_cast<double>(a.size() * (k1 - k0));
        std::printf("%3zu-%3zu  %5.0f-%5.0f  %13.2f  %15d | %13.2f  %15d\n", k0, k1 - 1, layout.lower[k0],
                    layout.upper[k1 - 1], Db(sumA / n), overA, Db(sumB / n), overB);
    }
    int framesA = 0;
    int framesB = 0;
    for (std::size_t f = 0; f < a.size(); ++f) {
        const auto worstA = std::max_element(a[f].begin(), a[f].end());
        const auto worstB = std::max_element(b[f].begin(), b[f].end());
        framesA += *worstA > audible ? 1 : 0;
        framesB += *worstB > audible ? 1 : 0;
        if (perFrame) {
            std::printf("frame %4zu %6.3f s  ours %6.1f dB at %5.0f Hz | LAME %6.1f dB at %5.0f Hz\n", f,
                        static_cast<double>(f * peaq::kHop) / kItemRate, Db(*worstA),
                        layout.centre[static_cast<std::size_t>(worstA - a[f].begin())], Db(*worstB),
                        layout.centre[static_cast<std::size_t>(worstB - b[f].begin())]);
        }
    }
    std::printf("frames with a band 1.5 dB above its mask: ours %d, LAME %d, of %zu\n", framesA, framesB, a.size());
    if (modulation) {
        const std::vector<BandArray> ma = ModulationDifference(item, oursDecoded);
        const std::vector<BandArray> mb = ModulationDifference(item, lameDecoded);
        std::printf("\nmodulation difference per band group (mean over frames, x100/109 per band: the "
                    "share of AvgModDiff1B), ours | LAME\n");
        for (std::size_t k0 = 0; k0 < peaq::kBandCount; k0 += group) {
            const std::size_t k1 = std::min(peaq::kBandCount, k0 + group);
            double sumA = 0.0;
            double sumB = 0.0;
            for (std::size_t f = 0; f < ma.size(); ++f) {
                for (std::size_t k = k0; k < k1; ++k) {
                    sumA += ma[f][k];
                    sumB += mb[f][k];
                }
            }
            const double scale = 100.0 / static_cast<double>(peaq::kBandCount * ma.size());
            std::printf("%3zu-%3zu  %5.0f-%5.0f  %8.3f | %8.3f\n", k0, k1 - 1, layout.lower[k0], layout.upper[k1 - 1],
                        sumA * scale, sumB * scale);
        }
    }
    if (detect) PrintDetection(item, oursDecoded, lameDecoded, dumpFrame);
    try {
        PrintVariables(item, oursDecoded, lameDecoded);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "nmr_map: PEAQ: %s\n", e.what());
        return 1;
    }
    return 0;
}
