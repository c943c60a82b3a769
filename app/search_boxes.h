// The two message boxes that offer a web search: for an extension that no
// conversion takes, and for missing Ogg Vorbis libraries.
#pragma once

#include <string>

namespace kestrune {

// The maker's search page; the query text is appended as it is.
inline constexpr char kSearchPageAddress[] = "https://www.kestrune.org/search.php?query=";

// extension: the lower-cased extension that was looked at, with its dot.
// Offers a search for "command line " + the extension without its dots.
// Always true.
bool ShowUnsupportedExtension(const std::string& extension);
// Offers a search for "Ogg Vorbis DLL".
void ShowMissingVorbisLibraries();

}  // namespace kestrune
