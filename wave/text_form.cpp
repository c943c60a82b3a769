#include "wave/text_form.h"

#include <cstdio>

namespace kestrune {

uint32_t TextKeyHash(const std::string& key) {
  uint32_t h = 0;
  for (char ch : key) {
    const int32_t c = static_cast<int8_t>(ch);
    h = h * 33u + static_cast<uint32_t>(c);
  }
  return h;
}

void TextEntries::Set(const std::string& key, const std::string& value) {
  auto& bucket = buckets_[TextKeyHash(key) % kBuckets];
  for (auto& entry : bucket) {
    if (entry.key == key) {
      entry.value = value;
      return;
    }
  }
  bucket.push_back({key, value});
}

void TextEntries::ForEach(
    const std::function<void(const std::string&, const std::string&)>& visit) const {
  for (const auto& bucket : buckets_) {
    for (auto it = bucket.rbegin(); it != bucket.rend(); ++it) visit(it->key, it->value);
  }
}

size_t TextEntries::Count() const {
  size_t n = 0;
  for (const auto& bucket : buckets_) n += bucket.size();
  return n;
}

std::vector<TextSection> ParseTextForm(const std::string& text) {
  std::vector<TextSection> sections;
  size_t pos = 0;
  while (pos < text.size()) {
    // Only CR LF ends a line; a lone LF stays part of it.
    size_t end = text.find("\r\n", pos);
    const size_t next = end == std::string::npos ? text.size() : end + 2;
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    pos = next;

    if (line.empty() || line[0] == ';' || line.compare(0, 2, "//") == 0) continue;
    if (line.size() >= 3 && line.front() == '[' && line.back() == ']') {
      sections.push_back({line.substr(1, line.size() - 2), {}});
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos || sections.empty()) continue;
    sections.back().entries.Set(line.substr(0, eq), line.substr(eq + 1));
  }
  return sections;
}

std::string MakeTextHeader(int sampleRate, int channels, int bits) {
  char numbers[96];
  std::snprintf(numbers, sizeof numbers, "Freq=%d\r\nCh=%d\r\nBit=%d\r\n",
                sampleRate, channels, bits);
  return std::string("[Riff]\r\nType=Wave\r\n[Format]\r\nFormat=PCM\r\n") +
         numbers + "[Data]\r\n";
}

}  // namespace kestrune
