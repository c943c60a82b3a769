// Translations of the program's English texts, read from a language file
// ("Kestrune.jpn") of sections with key=value lines. Every English text is
// the key of its translation; without one the English text is shown.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "base/lock.h"

namespace kestrune {

// Resolves the escapes of a language-file text: \" \\ \n \r \t; any other
// escaped character keeps its backslash; unescaped double quotes are dropped;
// a trailing lone backslash is dropped. Text holding neither a quote nor a
// backslash comes back unchanged; otherwise it passes through the system
// code page (UTF-8), so invalid sequences become U+FFFD.
std::string Unescape(const std::string& text);

class MessageCatalog {
 public:
  MessageCatalog() = default;
  MessageCatalog(const MessageCatalog&) = delete;
  MessageCatalog& operator=(const MessageCatalog&) = delete;

  // The translation from the first section named "Text", or text itself.
  std::string Translate(const std::string& text);
  // Reads a language file: the name as given when it names a file, else the
  // same file name in the program's own folder. Without merge the catalogue
  // is emptied first (also when the file turns out empty). False when no
  // file was read or it was empty.
  bool LoadLanguageFile(const std::string& name, bool merge);
  // Parses language-file text into the catalogue (the work of a load after
  // the file has been read).
  void ParseText(const std::string& text, bool merge);
  std::string FileName();
  void Clear();

 private:
  struct Section {
    std::string name;
    std::map<std::string, std::string> entries;
  };
  void ParseLine(const std::string& line, bool merge, Section** current);

  CriticalSection lock_;
  std::vector<Section> sections_;
  std::string fileName_;
  bool unescape_ = true;
};

// The process-wide catalogue, created empty on first use.
MessageCatalog& GetMessageCatalog();
// Translate through the process-wide catalogue.
std::string Translate(const std::string& text);

}  // namespace kestrune
