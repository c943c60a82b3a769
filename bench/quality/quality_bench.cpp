// The rate-quality benchmark: every item of the quality set at every
// benchmark setting (constant 32..320 kbps stereo, the five variable levels,
// 64 and 48 kbps mono), graded with the PEAQ model against LAME on the same
// input. Prints the table (item x setting: our ODG, LAME's, the difference,
// both bit rates) and the means per setting, writes them as TSV files and
// draws mean ODG against mean bit rate with gnuplot.
//
// Each level is measured against the LAME -V setting whose mean bit rate on
// the whole quality set is nearest its own: both encoders' rates are
// measured first (LAME at -V 0 .. -V 9), printed and written to
// vbr-pairing.tsv, and the level's setting is named after its pair
// ("vbr3-V3": our level 3 against -V 3).
//
//   quality_bench [--out DIR] [--jobs N] [--settings a,b,...] [--items a,b,...]
//                 [--test-settings [--print-floors]] [--shared DIR]
//   quality_bench --write-items DIR   (writes the items as 16-bit WAVE files and stops)
//
// --settings takes the setting names: "cbr128", "mono64", "vbr3" (level 3
// against the -V of the nearest rate) or "vbr3-V2" (level 3 against -V 2,
// no pairing). --items limits the graded items; the pairing always uses the
// whole set.
//
// With --test-settings --print-floors it also prints the regression test's
// floor and known-gap tables (tests/quality/quality_test.cpp) for the values
// just measured: floors 0.1 below our ODG, gaps 0.1 beyond today's. The test
// settings have fixed pairs (level 2 against -V 2).
//
// DIR (default .) receives quality.tsv, quality-means.tsv, vbr-pairing.tsv,
// rate-quality.gp and rate-quality.png. Takes about 10 minutes on one core.
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/qualityset/quality_items.h"
#include "tools/qualityset/quality_measure.h"
#include "tools/qualityset/quality_report.h"

namespace {

using namespace kestrune::quality;

std::vector<std::string> SplitList(const std::string& s) {
    std::vector<std::string> out;
    std::stringstream in(s);
    for (std::string part; std::getline(in, part, ',');) {
        if (!part.empty()) out.push_back(part);
    }
    return out;
}

bool Contains(const std::vector<std::string>& list, const std::string& s) {
    for (const std::string& x : list) {
        if (x == s) return true;
    }
    return false;
}

struct Options {
    std::string out = ".";
    std::string shared = KESTRUNE_SHARED_DIR;
    std::string writeItems;
    unsigned jobs = 1;
    bool testSettings = false;
    bool printFloors = false;
    std::vector<std::string> settings, items;
};

bool Parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& target) {
            if (i + 1 >= argc) return false;
            target = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--out") {
            if (!value(o.out)) return false;
        } else if (a == "--shared") {
            if (!value(o.shared)) return false;
        } else if (a == "--jobs") {
            if (!value(v)) return false;
            o.jobs = static_cast<unsigned>(std::max(1, std::atoi(v.c_str())));
        } else if (a == "--settings") {
            if (!value(v)) return false;
            o.settings = SplitList(v);
        } else if (a == "--items") {
            if (!value(v)) return false;
            o.items = SplitList(v);
        } else if (a == "--write-items") {
            if (!value(o.writeItems)) return false;
        } else if (a == "--print-floors") {
            o.printFloors = true;
        } else if (a == "--test-settings") {
            o.testSettings = true;
        } else {
            return false;
        }
    }
    return true;
}

// The test's tables: floor = our ODG - 0.1 rounded down to 0.01; a known gap
// where we are more than 0.6 below LAME, at today's gap + 0.1 rounded up.
void PrintFloors(const std::vector<Measurement>& rows) {
    std::printf("\nconstexpr Floor kFloors[] = {\n");
    for (const Measurement& m : rows) {
        std::printf("    {\"%s\", \"%s\", %.2f},\n", m.setting.c_str(), m.item.c_str(),
                    std::floor((m.ours.odg - 0.1) * 100.0 + 1e-9) / 100.0);
    }
    std::size_t gaps = 0;
    for (const Measurement& m : rows) gaps += m.Difference() < -0.6 ? 1 : 0;
    std::printf("};\n\nconstexpr std::array<Floor, %zu> kKnownGaps{{\n", gaps);
    for (const Measurement& m : rows) {
        if (m.Difference() < -0.6) {
            std::printf("    {\"%s\", \"%s\", %.2f},  // measured %+.3f\n", m.setting.c_str(), m.item.c_str(),
                        std::ceil((0.1 - m.Difference()) * 100.0 - 1e-9) / 100.0, m.Difference());
        }
    }
    std::printf("}};\n");
}

bool IsVbr(const std::string& setting) { return setting.rfind("vbr", 0) == 0; }

// Runs task(k, harness, error) for k = 0 .. count-1 on `jobs` threads, each
// with its own harness; false after the first failure (reported).
template <typename Task>
bool ParallelFor(std::size_t count, unsigned jobs, const char* what, Task task) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex printLock;
    auto worker = [&] {
        QualityHarness harness;
        for (std::size_t k; !failed && (k = next++) < count;) {
            std::string e;
            if (!task(k, harness, e)) {
                std::lock_guard lock(printLock);
                std::fprintf(stderr, "\nquality_bench: %s\n", e.c_str());
                failed = true;
                return;
            }
            std::lock_guard lock(printLock);
            std::fprintf(stderr, "\r%zu/%zu %s", k + 1, count, what);
        }
    };
    std::vector<std::thread> threads;
    for (unsigned j = 0; j < jobs; ++j) threads.emplace_back(worker);
    for (std::thread& t : threads) t.join();
    std::fprintf(stderr, "\n");
    return !failed;
}

// Mean bit rates on the whole set: our levels and LAME -V 0 .. 9.
struct Pairing {
    std::vector<int> levels;          // our levels measured
    std::vector<double> oursKbps;     // per level
    double lameKbps[kLameVbrSettings] = {};
    std::vector<int> lameV;           // per level, the -V of the nearest mean rate
};

bool MeasureRates(const std::vector<Item>& items, const std::vector<int>& levels, unsigned jobs, Pairing& p) {
    p.levels = levels;
    p.oursKbps.assign(levels.size(), 0.0);
    const std::size_t tasks = (levels.size() + kLameVbrSettings) * items.size();
    std::vector<double> kbps(tasks, 0.0);
    const bool ok = ParallelFor(tasks, jobs, "rates measured", [&](std::size_t k, QualityHarness& h, std::string& e) {
        const Item& item = items[k % items.size()];
        const std::size_t which = k / items.size();
        if (which < levels.size()) {
            Setting s;
            s.name = "vbr" + std::to_string(levels[which]);
            s.level = levels[which];
            return QualityHarness::OursKbps(item, s, kbps[k], e);
        }
        const int v = static_cast<int>(which - levels.size());
        return h.LameKbps(item, {"-V", std::to_string(v)}, kbps[k], e);
    });
    if (!ok) return false;
    for (std::size_t k = 0; k < tasks; ++k) {
        const std::size_t which = k / items.size();
        const double share = kbps[k] / static_cast<double>(items.size());
        if (which < levels.size()) {
            p.oursKbps[which] += share;
        } else {
            p.lameKbps[which - levels.size()] += share;
        }
    }
    for (const double ours : p.oursKbps) p.lameV.push_back(NearestLameV(ours, p.lameKbps));
    return true;
}

std::string FormatPairing(const Pairing& p, std::size_t itemCount) {
    std::string out;
    char line[160];
    std::snprintf(line, sizeof line, "\nMean bit rates on the %zu items (kbit/s)\nLAME:", itemCount);
    out += line;
    for (int v = 0; v < kLameVbrSettings; ++v) {
        std::snprintf(line, sizeof line, "  -V %d %.1f", v, p.lameKbps[v]);
        out += line;
    }
    out += "\nlevel  ours    paired with  LAME\n";
    for (std::size_t i = 0; i < p.levels.size(); ++i) {
        const int v = p.lameV[i];
        std::snprintf(line, sizeof line, "%5d  %6.1f  -V %d         %6.1f\n", p.levels[i], p.oursKbps[i], v,
                      p.lameKbps[v]);
        out += line;
    }
    return out;
}

bool WritePairing(const std::string& dir, const Pairing& p) {
    std::ofstream t(dir + "/vbr-pairing.tsv");
    t << "level\tours_kbps\tlame_v\tlame_kbps\n";
    for (std::size_t i = 0; i < p.levels.size(); ++i) {
        const int v = p.lameV[i];
        t << p.levels[i] << '\t' << p.oursKbps[i] << '\t' << v << '\t' << p.lameKbps[v] << '\n';
    }
    t << "\n-V\tlame_kbps\n";
    for (int v = 0; v < kLameVbrSettings; ++v) t << v << '\t' << p.lameKbps[v] << '\n';
    return static_cast<bool>(t);
}

// Applies --settings to the setting list: the settings named, in the list's
// order; "vbrN" (paired later by rate) or "vbrN-VM" (paired with -V M) for a
// level.
bool SelectSettings(std::vector<Setting>& settings, const std::vector<std::string>& wanted) {
    if (wanted.empty()) return true;
    std::vector<Setting> out;
    for (const std::string& w : wanted) {
        Setting s;
        if (!FindSetting(w, s)) {
            std::fprintf(stderr, "quality_bench: no setting %s\n", w.c_str());
            return false;
        }
        out.push_back(s);
    }
    settings = out;
    return true;
}

bool IsCbrStereo(const std::string& setting) { return setting.rfind("cbr", 0) == 0; }

bool WriteTsv(const std::string& dir, const std::vector<Measurement>& rows, const std::vector<SettingMeans>& means) {
    std::ofstream t(dir + "/quality.tsv");
    t << "item\tsetting\tours_odg\tlame_odg\tdiff\tours_kbps\tlame_kbps\tours_rate\tlame_rate\n";
    for (const Measurement& m : rows) {
        t << m.item << '\t' << m.setting << '\t' << m.ours.odg << '\t' << m.lame.odg << '\t' << m.Difference() << '\t'
          << m.ours.kbps << '\t' << m.lame.kbps << '\t' << m.ours.outputRate << '\t' << m.lame.outputRate << '\n';
    }
    std::ofstream s(dir + "/quality-means.tsv");
    s << "setting\titems\tours_odg\tlame_odg\tdiff\tours_kbps\tlame_kbps\n";
    for (const SettingMeans& x : means) {
        s << x.setting << '\t' << x.items << '\t' << x.ours << '\t' << x.lame << '\t' << x.ours - x.lame << '\t'
          << x.oursKbps << '\t' << x.lameKbps << '\n';
    }
    return static_cast<bool>(t) && static_cast<bool>(s);
}

// Mean ODG against mean bit rate: a curve per encoder through the constant
// stereo rates, the variable levels as separate labelled points.
bool DrawPicture(const std::string& dir, const std::vector<SettingMeans>& means, std::size_t itemCount) {
    const std::string data = dir + "/rate-quality.dat";
    {
        std::ofstream d(data);
        d << "# constant rates: kbps_ours odg_ours kbps_lame odg_lame setting\n";
        for (const SettingMeans& m : means) {
            if (IsCbrStereo(m.setting)) {
                d << m.oursKbps << ' ' << m.ours << ' ' << m.lameKbps << ' ' << m.lame << ' ' << m.setting << '\n';
            }
        }
        d << "\n\n# variable levels: ... our label, LAME's label\n";
        for (const SettingMeans& m : means) {
            if (IsVbr(m.setting)) {
                // "vbr2-V3": our level 2 against LAME -V 3.
                const std::size_t dash = m.setting.find('-');
                d << m.oursKbps << ' ' << m.ours << ' ' << m.lameKbps << ' ' << m.lame << " L"
                  << m.setting.substr(3, dash - 3) << " -" << m.setting.substr(dash + 1) << '\n';
            }
        }
    }
    const std::string script = dir + "/rate-quality.gp";
    {
        std::ofstream g(script);
        g << "set terminal pngcairo size 960,600 font 'sans,11'\n"
          << "set output '" << dir << "/rate-quality.png'\n"
          << "set title 'Mean PEAQ ODG against bit rate, " << itemCount << " items, 48 kHz stereo input'\n"
          << "set xlabel 'bit rate (kbit/s, from file size)'\n"
          << "set ylabel 'mean ODG (0 imperceptible .. -4 very annoying)'\n"
          << "set grid\nset key bottom right\nset logscale x 2\nset xrange [28:360]\n"
          << "set xtics (32, 48, 64, 96, 128, 160, 192, 256, 320)\nset yrange [-4:0.4]\n"
          << "plot '" << data << "' index 0 using 1:2 with linespoints lw 2 pt 7 lc rgb '#c0392b' title 'Kestrune CBR', \\\n"
          << "     '" << data << "' index 0 using 3:4 with linespoints lw 2 pt 5 lc rgb '#2c3e50' title 'LAME 3.100 CBR', \\\n"
          << "     '" << data << "' index 1 using 1:2 with points ps 2 pt 9 lc rgb '#e67e22' title 'Kestrune VBR levels L1..L5', \\\n"
          << "     '" << data << "' index 1 using 3:4 with points ps 2 pt 11 lc rgb '#2980b9' title 'LAME -V, paired by rate', \\\n"
          << "     '" << data << "' index 1 using 1:2:(stringcolumn(5)) with labels offset 0,-1.2 font ',9' notitle, \\\n"
          << "     '" << data << "' index 1 using 3:4:(stringcolumn(6)) with labels offset 0,1.2 font ',9' notitle\n";
    }
    const std::string command = "gnuplot '" + script + "'";
    return std::system(command.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!Parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: quality_bench [--out DIR] [--jobs N] [--settings a,b] [--items a,b] "
                     "[--test-settings [--print-floors]] [--shared DIR] | --write-items DIR\n");
        return 2;
    }
    std::vector<Item> items;
    std::string error;
    if (!MakeQualitySet(o.shared, items, error)) {
        std::fprintf(stderr, "quality_bench: %s\n", error.c_str());
        return 1;
    }
    const std::vector<Item> allItems = items;
    if (!o.items.empty()) std::erase_if(items, [&](const Item& i) { return !Contains(o.items, i.name); });
    if (!o.writeItems.empty()) {
        for (const Item& item : items) {
            const std::string path = o.writeItems + "/" + item.name + ".wav";
            if (!WriteWave16(path, item)) {
                std::fprintf(stderr, "quality_bench: cannot write %s\n", path.c_str());
                return 1;
            }
            std::printf("%s\n", path.c_str());
        }
        return 0;
    }
    std::vector<Setting> settings = o.testSettings ? TestSettings() : BenchSettings();
    if (!SelectSettings(settings, o.settings)) return 2;
    if (items.empty() || settings.empty()) {
        std::fprintf(stderr, "quality_bench: no item or no setting selected\n");
        return 2;
    }

    // Levels without a pair get the -V of the nearest mean rate on the whole set.
    std::vector<int> unpaired;
    for (const Setting& s : settings) {
        if (s.level > 0 && s.lameArgs.empty()) unpaired.push_back(s.level);
    }
    Pairing pairing;
    if (!unpaired.empty()) {
        if (!MeasureRates(allItems, unpaired, o.jobs, pairing)) return 1;
        for (Setting& s : settings) {
            for (std::size_t i = 0; i < pairing.levels.size(); ++i) {
                if (s.level == pairing.levels[i] && s.lameArgs.empty()) PairLevel(s, pairing.lameV[i]);
            }
        }
        std::printf("%s\n", FormatPairing(pairing, allItems.size()).c_str());
    }

    // Setting-major order, so that a table reads one setting at a time.
    std::vector<Measurement> rows(items.size() * settings.size());
    const auto start = std::chrono::steady_clock::now();
    const bool ok = ParallelFor(rows.size(), o.jobs, "measured", [&](std::size_t k, QualityHarness& h, std::string& e) {
        const Setting& s = settings[k / items.size()];
        const Item& item = items[k % items.size()];
        if (h.Measure(item, s, rows[k], e)) return true;
        e = item.name + " at " + s.name + ": " + e;
        return false;
    });
    if (!ok) return 1;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const std::vector<SettingMeans> means = Summarise(rows);
    std::printf("%s\n%s", FormatTable(rows).c_str(), FormatMeans(means).c_str());
    std::printf("\n%zu measurements in %.0f s\n", rows.size(), seconds);
    if (o.printFloors) PrintFloors(rows);
    if (!WriteTsv(o.out, rows, means) || (!unpaired.empty() && !WritePairing(o.out, pairing))) {
        std::fprintf(stderr, "quality_bench: cannot write the TSV files in %s\n", o.out.c_str());
        return 1;
    }
    if (!DrawPicture(o.out, means, items.size())) {
        std::fprintf(stderr, "quality_bench: gnuplot failed (install gnuplot-nox)\n");
        return 1;
    }
    std::printf("wrote %s/quality.tsv, %s/quality-means.tsv%s and %s/rate-quality.png\n", o.out.c_str(),
                o.out.c_str(), unpaired.empty() ? "" : (", " + o.out + "/vbr-pairing.tsv").c_str(), o.out.c_str());
    return 0;
}
