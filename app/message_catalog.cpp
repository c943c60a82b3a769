#include "app/message_catalog.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "base/file_stream.h"
#include "base/paths.h"

namespace kestrune {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the well-formed UTF-8 sequence at text[i], or the length of
// its longest ill-formed start (at least 1) as a negative number.
int SequenceLength(const std::string& text, size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) return 1;
  int length;
  unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no UTF-16 surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return -1;
  }
  for (int k = 1; k < length; ++k) {
    if (i + k >= text.size()) return -k;
    const auto c = static_cast<unsigned char>(text[i + k]);
    if (k == 1 ? (c < low || c > high) : !IsContinuation(c)) return -k;
  }
  return length;
}

// The round trip through UTF-16: valid text is unchanged, each maximal
// ill-formed part becomes one U+FFFD.
std::string ThroughCodePage(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const int length = SequenceLength(text, i);
    if (length > 0) {
      out.append(text, i, static_cast<size_t>(length));
      i += static_cast<size_t>(length);
    } else {
      out += kReplacement;
      i += static_cast<size_t>(-length);
    }
  }
  return out;
}

}  // namespace

std::string Unescape(const std::string& text) {
  if (text.find_first_of("\"\\") == std::string::npos) return text;
  const std::string wide = ThroughCodePage(text);
  std::string out;
  out.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    const char c = wide[i];
    if (c == '"') continue;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++i == wide.size()) break;  // a backslash at the very end
    switch (wide[i]) {
      case '"': out += '"'; break;
      case '\\': out += '\\'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      default:
        out += '\\';
        out += wide[i];
        break;
    }
  }
  return out;
}

std::string MessageCatalog::Translate(const std::string& text) {
  LockHolder hold(lock_);
  for (const Section& section : sections_) {
    if (section.name != "Text") continue;
    auto it = section.entries.find(text);
    return it == section.entries.end() ? text : Unescape(it->second);
  }
  return text;
}

bool MessageCatalog::LoadLanguageFile(const std::string& given, bool merge) {
  LockHolder hold(lock_);
  std::string name = given;
  const uint32_t attributes = GetFileAttributes(name);
  if (attributes == kInvalidFileAttributes || (attributes & kFileAttributeDirectory)) {
    const PathParts program = SplitPath(GetModulePath());
    const PathParts file = SplitPath(name);
    name = program.drive + program.directory + file.name + file.extension;
  }
  if (name.empty()) return false;
  FileStream stream;
  if (!stream.Open(name, true, false, true, false)) return false;

  // Blocks of the file's size (at least 2048 bytes, at most 1 MiB) until a
  // read brings nothing; the file may grow or shrink meanwhile.
  const uint64_t size = stream.Size();
  const size_t block = static_cast<size_t>(std::clamp<uint64_t>(size, 2048, 1 << 20));
  std::unique_ptr<char[]> buffer(new char[block]);
  std::string text;
  for (;;) {
    const size_t count = stream.Read(buffer.get(), block);
    if (count == 0) break;
    text.append(buffer.get(), count);
  }
  if (!merge) {
    sections_.clear();
    fileName_.clear();
  }
  if (text.empty()) return false;
  ParseText(text, merge);
  fileName_ = name;
  return true;
}

void MessageCatalog::ParseText(const std::string& text, bool merge) {
  LockHolder hold(lock_);
  Section* current = nullptr;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    if (end > start) ParseLine(text.substr(start, end - start), merge, &current);
    start = end + 2;
  }
}

void MessageCatalog::ParseLine(const std::string& line, bool merge, Section** current) {
  if (line[0] == ';' || line.compare(0, 2, "//") == 0) return;
  if (line.size() >= 3 && line.front() == '[' && line.back() == ']') {
    std::string name = line.substr(1, line.size() - 2);
    if (merge) {
      sections_.erase(std::remove_if(sections_.begin(), sections_.end(),
                                     [&](const Section& s) { return s.name == name; }),
                      sections_.end());
    }
    sections_.push_back(Section{std::move(name), {}});
    *current = &sections_.back();
    return;
  }
  const size_t equals = line.find('=');
  if (equals == std::string::npos || !*current) return;
  std::string key = line.substr(0, equals);
  std::string value = line.substr(equals + 1);
  if (unescape_) {
    key = Unescape(key);
    value = Unescape(value);
  }
  (*current)->entries[std::move(key)] = std::move(value);
}

std::string MessageCatalog::FileName() {
  LockHolder hold(lock_);
  return fileName_;
}

void MessageCatalog::Clear() {
  LockHolder hold(lock_);
  sections_.clear();
  fileName_.clear();
}

MessageCatalog& GetMessageCatalog() {
  static MessageCatalog catalog;
  return catalog;
}

std::string Translate(const std::string& text) { return GetMessageCatalog().Translate(text); }

}  // namespace kestrune
