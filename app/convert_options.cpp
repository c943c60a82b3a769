#include "app/convert_options.h"

#include <cctype>
#include <climits>
#include <cstdlib>

namespace kestrune {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

size_t SkipBlanks(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  return i;
}

}  // namespace

bool ConvertOptions::ParseArguments(const std::vector<std::string>& arguments) {
  for (const std::string& argument : arguments) {
    if (argument.empty()) continue;
    if (argument[0] != '-') {
      for (std::string* slot : {&programPath, &inputPath, &outputPath}) {
        if (slot->empty()) {
          *slot = argument;
          break;
        }
      }
      continue;
    }
    if (argument.size() >= 2) options[argument.substr(1, 1)] = argument.substr(2);
  }
  return true;
}

std::string ConvertOptions::GetOption(const std::string& key) const {
  auto it = options.find(key);
  return it == options.end() ? std::string() : it->second;
}

bool ConvertOptions::HasOption(const std::string& key) const {
  return options.find(key) != options.end();
}

int ConvertOptions::GetInteger(const std::string& key, int defaultValue) const {
  const std::string value = GetOption(key);
  return value.empty() ? defaultValue : ReadDecimalInteger(value);
}

double ConvertOptions::GetReal(const std::string& key, double defaultValue) const {
  const std::string value = GetOption(key);
  return value.empty() ? defaultValue : ReadDecimalReal(value);
}

int ReadDecimalInteger(const std::string& text) {
  size_t i = SkipBlanks(text);
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long magnitude = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > static_cast<long long>(INT_MAX) + 1) magnitude = static_cast<long long>(INT_MAX) + 1;
  }
  const long long value = negative ? -magnitude : magnitude;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

double ReadDecimalReal(const std::string& text) {
  // Take only the decimal form (no hexadecimal, "inf" or "nan"), then let
  // strtod round it.
  size_t i = SkipBlanks(text);
  const size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return 0.0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < text.size() && IsDigit(text[j])) {
      while (j < text.size() && IsDigit(text[j])) ++j;
      i = j;
    }
  }
  const std::string number = text.substr(start, i - start);
  return std::strtod(number.c_str(), nullptr);
}

}  // namespace kestrune
