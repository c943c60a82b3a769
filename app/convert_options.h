// The command line as the program reads it: three positional paths and a
// map of one-letter options with their glued values (-b192).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace kestrune {

struct ConvertOptions {
  std::string programPath;  // first argument not starting with "-"
  std::string inputPath;    // second
  std::string outputPath;   // third
  // Key: the character after "-"; value: the rest of that argument. Keys
  // compare byte for byte; a key given twice keeps the later value.
  std::map<std::string, std::string> options;

  // Scans the whole argument vector, the program path included. Always true.
  bool ParseArguments(const std::vector<std::string>& arguments);
  // The stored value, "" when the key was not given.
  std::string GetOption(const std::string& key) const;
  bool HasOption(const std::string& key) const;

  // Decimal readers for option values. An empty value counts as absent and
  // gives the default; otherwise the value is read like C's atoi/strtod
  // restricted to decimal text: leading white space, a sign, digits (and for
  // reals a fraction and an exponent) up to the first other character, 0
  // when nothing numeric comes. Integers beyond the int range saturate.
  int GetInteger(const std::string& key, int defaultValue) const;
  double GetReal(const std::string& key, double defaultValue) const;
};

// The leading decimal integer / real of text as described above.
int ReadDecimalInteger(const std::string& text);
double ReadDecimalReal(const std::string& text);

}  // namespace kestrune
