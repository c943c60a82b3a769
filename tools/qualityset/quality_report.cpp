#include "tools/qualityset/quality_report.h"

#include <algorithm>
#include <cstdio>

namespace kestrune::quality {

std::string FormatTable(const std::vector<Measurement>& rows) {
    std::string out;
    char line[256];
    std::snprintf(line, sizeof line, "%-14s %-9s %7s %7s %7s %8s %8s %6s %6s\n", "item", "setting", "ours",
                  "LAME", "diff", "ourkbps", "LAMEkbps", "ourlag", "LAMElag");
    out += line;
    for (const Measurement& m : rows) {
        std::snprintf(line, sizeof line, "%-14s %-9s %7.3f %7.3f %+7.3f %8.1f %8.1f %6ld %6ld\n", m.item.c_str(),
                      m.setting.c_str(), m.ours.odg, m.lame.odg, m.Difference(), m.ours.kbps, m.lame.kbps,
                      m.ours.lag, m.lame.lag);
        out += line;
    }
    return out;
}

std::vector<SettingMeans> Summarise(const std::vector<Measurement>& rows) {
    std::vector<SettingMeans> means;
    for (const Measurement& m : rows) {
        auto it = std::find_if(means.begin(), means.end(), [&](const SettingMeans& s) { return s.setting == m.setting; });
        if (it == means.end()) {
            means.push_back(SettingMeans{});
            it = means.end() - 1;
            it->setting = m.setting;
            it->worstDifference = m.Difference();
            it->worstItem = m.item;
        }
        ++it->items;
        it->ours += m.ours.odg;
        it->lame += m.lame.odg;
        it->oursKbps += m.ours.kbps;
        it->lameKbps += m.lame.kbps;
        if (m.Difference() < it->worstDifference) {
            it->worstDifference = m.Difference();
            it->worstItem = m.item;
        }
    }
    for (SettingMeans& s : means) {
        s.ours /= s.items;
        s.lame /= s.items;
        s.oursKbps /= s.items;
        s.lameKbps /= s.items;
    }
    return means;
}

std::string FormatMeans(const std::vector<SettingMeans>& means) {
    std::string out;
    char line[256];
    std::snprintf(line, sizeof line, "%-9s %5s %7s %7s %7s %8s %8s  %s\n", "setting", "items", "ours", "LAME",
                  "diff", "ourkbps", "LAMEkbps", "worst item (diff)");
    out += line;
    for (const SettingMeans& s : means) {
        std::snprintf(line, sizeof line, "%-9s %5d %7.3f %7.3f %+7.3f %8.1f %8.1f  %s (%+.3f)\n", s.setting.c_str(),
                      s.items, s.ours, s.lame, s.ours - s.lame, s.oursKbps, s.lameKbps, s.worstItem.c_str(),
                      s.worstDifference);
        out += line;
    }
    return out;
}

}  // namespace kestrune::quality
