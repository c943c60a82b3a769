#include "app/search_boxes.h"

#include "app/message_catalog.h"
#include "base/platform/platform.h"

namespace kestrune {

namespace {

constexpr char kCaption[] = "Kestrune";

void OfferSearch(const std::string& text, const std::string& query) {
  platform::UserInterface& ui = platform::CurrentUserInterface();
  if (ui.MessageBox(text, kCaption, platform::kMbYesNo, false) == platform::kIdYes) {
    ui.ShellOpen(kSearchPageAddress + query, platform::kSwShow);
  }
}

}  // namespace

bool ShowUnsupportedExtension(const std::string& extension) {
  std::string bare;
  for (char c : extension) {
    if (c != '.') bare += c;
  }
  OfferSearch(Translate("The extension is not supported.") + "\r\n" +
                  Translate("Is it searched for the Harmoloft command line by the browser?"),
              "command line " + bare);
  return true;
}

void ShowMissingVorbisLibraries() {
  OfferSearch(Translate("There are no ogg.dll, vorbis.dll, vorbisfile.dll and vorbisenc.dll.") +
                  "\r\n" + Translate("(otherwise libogg.dll, libvorbis.dll and libvorbisfile.dll)") +
                  "\r\n" + Translate("Is it searched for Ogg Vorbis DLL by the browser?"),
              "Ogg Vorbis DLL");
}

}  // namespace kestrune
