#include "codecs/ogg_report.h"

#include <cstdio>

namespace kestrune {

std::string OggFailureText(OggStatus status, const std::string& detail) {
  switch (status) {
    case OggStatus::kOk:
      return "";
    case OggStatus::kMissingEntry:
      return "Kestrune: the Ogg Vorbis libraries do not export " + detail + ".\n";
    case OggStatus::kOutputFailed:
      return "Kestrune: cannot create the output file.\n";
    case OggStatus::kInputFailed:
      return "Kestrune: cannot read " + detail + ".\n";
    case OggStatus::kNotVorbis:
      return "Kestrune: " + detail + " is not an Ogg Vorbis stream.\n";
    case OggStatus::kTooLarge:
      return "Kestrune: " + detail + " decodes to more than a RIFF file holds.\n";
    case OggStatus::kEncoderRefused:
      return "Kestrune: the Vorbis encoder refuses the channels, rate or quality of " +
             detail + ".\n";
    case OggStatus::kWriteFailed:
      return "Kestrune: writing the output file failed.\n";
  }
  return "";
}

void ReportOggFailure(OggStatus status, const std::string& detail) {
  const std::string text = OggFailureText(status, detail);
  if (!text.empty()) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
  }
}

}  // namespace kestrune
