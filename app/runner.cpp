#include "app/runner.h"

#include <cmath>
#include <cstdio>

#include "app/message_catalog.h"
#include "base/paths.h"
#include "base/platform/platform.h"

namespace kestrune {

namespace {

constexpr int kCells = 20;
constexpr uint32_t kPollMilliseconds = 100;

int FilledCells(double percent) {
  const double cells = percent / 5.0;
  if (!(cells > 0.0)) return 0;  // also NaN: never the initial -1
  if (cells >= kCells + 1) return kCells + 1;
  return static_cast<int>(cells);  // truncated toward zero
}

}  // namespace

std::string Banner() { return std::string("Kestrune ") + KESTRUNE_VERSION + "\n"; }

std::string ProgressLine(double progress, int* lastCells, std::string* bar) {
  const double percent = progress * 100.0;
  const int cells = FilledCells(percent);
  if (cells != *lastCells) {
    bar->assign(" [");
    for (int i = 0; i < kCells; ++i) *bar += i < cells ? '|' : ' ';
    *bar += ']';
    *lastCells = cells;
  }
  char number[400];  // room for the widest double
  std::snprintf(number, sizeof number, "% 5.1f", percent);
  return number + *bar + "\r";
}

bool RunConversion(Conversion& conversion) {
  return RunConversion(conversion, &platform::WriteStandardOutput);
}

bool RunConversion(Conversion& conversion, const ConsoleWriter& write) {
  if (!conversion.Start()) {
    write(Translate("The cda file was not able to be converted into the wav file."));
    return false;
  }
  write(Banner());
  std::string bar;
  int lastCells = -1;
  while (conversion.IsRunning()) {
    write(ProgressLine(conversion.GetProgress(), &lastCells, &bar));
    platform::Sleep(kPollMilliseconds);
  }
  return IsExistingFile(conversion.GetOutputPath());
}

int ExitCodeForOutput(const std::string& path) { return IsExistingFile(path) ? 0 : 1; }

}  // namespace kestrune
