// Tables of quality measurements for logs and files.
#pragma once

#include <string>
#include <vector>

#include "tools/qualityset/quality_measure.h"

namespace kestrune::quality {

struct SettingMeans {
    std::string setting;
    int items = 0;
    double ours = 0.0, lame = 0.0;          // mean ODG
    double oursKbps = 0.0, lameKbps = 0.0;  // mean bit rate
    double worstDifference = 0.0;           // the lowest ours - LAME
    std::string worstItem;
};

// One line per measurement: item, setting, our ODG, LAME's, the difference,
// both bit rates and both measured delays.
std::string FormatTable(const std::vector<Measurement>& rows);

// The means of the rows of each setting, in the order the settings first appear.
std::vector<SettingMeans> Summarise(const std::vector<Measurement>& rows);
std::string FormatMeans(const std::vector<SettingMeans>& means);

}  // namespace kestrune::quality
