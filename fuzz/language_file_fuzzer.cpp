// The language-file parser and Unescape on arbitrary bytes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/message_catalog.h"

namespace {

bool HasEscapes(const std::string& text) {
  return text.find_first_of("\"\\") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  const std::string once = kestrune::Unescape(text);
  // Without escapes the text comes back as it was; with them every input
  // byte gives at most three output bytes (an ill-formed byte becomes U+FFFD).
  if (!HasEscapes(text) && once != text) std::abort();
  if (once.size() > 3 * text.size()) std::abort();
  kestrune::Unescape(once);

  kestrune::MessageCatalog catalog;
  catalog.ParseText(text, false);
  catalog.ParseText(text, true);
  // Look up a few texts, among them the keys of the first lines.
  catalog.Translate("The input or the output file is not set.");
  catalog.Translate("");
  size_t start = 0;
  for (int line = 0; line < 8 && start < text.size(); ++line) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string whole = text.substr(start, end - start);
    catalog.Translate(kestrune::Unescape(whole.substr(0, whole.find('='))));
    start = end + 2;
  }
  return 0;
}
