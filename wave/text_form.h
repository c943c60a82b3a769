// The text header form: sections of key=value lines that describe a WAVE
// chunk tree. Lines end in CR LF; "[name]" starts a section; lines starting
// with ";" or "//" are comments. Entries of a section live in a 17-bucket
// hash map and are applied in bucket order, newest first within a bucket.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestrune {

// h = h * 33 + c over the key's bytes, c taken as a signed 8-bit value.
uint32_t TextKeyHash(const std::string& key);

class TextEntries {
 public:
  static constexpr size_t kBuckets = 17;

  // A repeated key replaces the earlier value in place.
  void Set(const std::string& key, const std::string& value);
  // Visits the entries in application order.
  void ForEach(const std::function<void(const std::string& key,
                                        const std::string& value)>& visit) const;
  size_t Count() const;

 private:
  struct Entry {
    std::string key;
    std::string value;
  };
  std::array<std::vector<Entry>, kBuckets> buckets_;  // oldest first
};

struct TextSection {
  std::string name;
  TextEntries entries;
};

std::vector<TextSection> ParseTextForm(const std::string& text);

// The header that describes a 16/8/24-bit PCM WAVE file of the given shape.
std::string MakeTextHeader(int sampleRate, int channels, int bits);

}  // namespace kestrune
