// The program's main flow: options, language, checks, conversion choice,
// run, exit code.
#pragma once

#include <string>
#include <vector>

namespace kestrune {

inline constexpr char kLanguageFileName[] = "Kestrune.jpn";
inline constexpr unsigned kJapaneseLanguageId = 1041;

// Runs kestrune on the whole argument vector (the program path first) and
// returns the process exit code: 0 when a file stands at the output path at
// the end, else 1.
int RunKestrune(const std::vector<std::string>& arguments);

}  // namespace kestrune
