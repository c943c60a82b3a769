// A WAVE file (RIFF or RF64; 8, 16, 24 or 32-bit PCM or 32-bit float) to
// Ogg Vorbis, through the run-time loaded Vorbis encoder and Ogg libraries.
#pragma once

#include <functional>
#include <string>

#include "base/conversion.h"
#include "codecs/ogg_libraries.h"
#include "codecs/ogg_status.h"

namespace kestrune {

inline constexpr double kDefaultVorbisQuality = 0.4;

// Encodes input to output at the given Vorbis quality (-0.1 to 1.0 in the
// encoder's scale), tagged ENCODER=Kestrune, with a serial number drawn from
// the C runtime's generator seeded with the current time in seconds.
// progress receives frames read / frames in the file after every block. On
// a failure after the output was created, the output is deleted.
OggStatus EncodeWaveToOgg(const VorbisEncodeApi& api, const std::string& input,
                          const std::string& output, double quality,
                          const std::function<void(double)>& progress);

class WaveToOgg final : public Conversion {
 public:
  // Loads the libraries from the system's search and from folder.
  explicit WaveToOgg(const std::string& folder);
  ~WaveToOgg() override;

  void SetQuality(double quality) { quality_ = quality; }
  double GetQuality() const { return quality_; }
  bool LibrariesLoaded() const override { return libraries_.AllLoaded(); }
  OggStatus LastStatus() const { return status_; }

 protected:
  bool CanStart() const override { return libraries_.AllLoaded(); }
  void Run(ConversionJob& job) override;

 private:
  VorbisLibraries libraries_;
  double quality_ = kDefaultVorbisQuality;
  OggStatus status_ = OggStatus::kOk;
};

}  // namespace kestrune
