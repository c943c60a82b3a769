#include "base/translation.h"

#include <atomic>

namespace kestrune {

namespace {
std::atomic<Translator> gTranslator{nullptr};
}  // namespace

void SetTranslator(Translator translator) {
  gTranslator.store(translator, std::memory_order_release);
}

std::string TranslateText(const std::string& text) {
  Translator translator = gTranslator.load(std::memory_order_acquire);
  return translator ? translator(text) : text;
}

}  // namespace kestrune
