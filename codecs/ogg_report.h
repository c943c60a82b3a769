// A one-line note on standard error when an Ogg Vorbis run fails, so that
// the exit code 1 comes with a reason.
#pragma once

#include <string>

#include "codecs/ogg_status.h"

namespace kestrune {

// The note for a status (empty for kOk); detail is the missing entry
// point's name for kMissingEntry, else the file concerned.
std::string OggFailureText(OggStatus status, const std::string& detail);
void ReportOggFailure(OggStatus status, const std::string& detail);

}  // namespace kestrune
