// The foundation shows a few texts itself (the fault report). They go through
// the translator that the program installs at start-up (the message
// catalogue); until one is installed, texts stay as they are.
#pragma once

#include <string>

namespace kestrune {

using Translator = std::string (*)(const std::string& text);
void SetTranslator(Translator translator);
std::string TranslateText(const std::string& text);

}  // namespace kestrune
