// The argument scan, the option readers and the extension tests on
// arbitrary argument vectors (arguments separated by NUL bytes).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/convert_options.h"
#include "app/dispatch.h"
#include "app/path_names.h"
#include "app/runner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> arguments;
  size_t start = 0;
  while (start <= bytes.size()) {
    size_t end = bytes.find('\0', start);
    if (end == std::string::npos) end = bytes.size();
    arguments.push_back(bytes.substr(start, end - start));
    start = end + 1;
  }

  kestrune::ConvertOptions options;
  if (!options.ParseArguments(arguments)) std::abort();
  size_t positional = 0, dashed = 0;
  for (const std::string& a : arguments) {
    if (a.empty()) continue;
    if (a[0] != '-') ++positional;
    else if (a.size() >= 2) ++dashed;
  }
  const size_t filled = !options.programPath.empty() + !options.inputPath.empty() +
                        !options.outputPath.empty();
  if (filled != (positional < 3 ? positional : 3)) std::abort();
  if (options.options.size() > dashed) std::abort();

  for (const auto& [key, value] : options.options) {
    if (key.size() != 1 || options.GetOption(key) != value || !options.HasOption(key)) {
      std::abort();
    }
    options.GetInteger(key, 7);
    const double real = options.GetReal(key, 0.5);
    int lastCells = -1;
    std::string bar;
    const std::string line = kestrune::ProgressLine(real, &lastCells, &bar);
    if (line.empty() || line.back() != '\r' || bar.size() != 23) std::abort();
  }
  for (const std::string* path : {&options.inputPath, &options.outputPath}) {
    const std::string extension = kestrune::GetLowerExtension(*path);
    if (!extension.empty() && extension[0] != '.') std::abort();
    if (kestrune::IsWavePath(*path) && extension != ".wav") std::abort();
    kestrune::FindConversion(kestrune::Direction::kDecode, extension);
    kestrune::FindConversion(kestrune::Direction::kEncode, extension);
  }
  return 0;
}
