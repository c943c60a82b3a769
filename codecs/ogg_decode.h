// Ogg Vorbis to a 16-bit PCM WAVE file, through the run-time loaded file
// decoder library.
#pragma once

#include <functional>
#include <string>

#include "base/conversion.h"
#include "codecs/ogg_libraries.h"
#include "codecs/ogg_status.h"

namespace kestrune {

// Decodes input to output: the canonical 44-byte header with its sizes from
// the stream's total length, then the samples as the decoder gives them.
// progress receives bytes written / data bytes after every block. On any
// failure after the output was created, the output is deleted.
OggStatus DecodeOggToWave(const VorbisDecodeApi& api, const std::string& input,
                          const std::string& output,
                          const std::function<void(double)>& progress);

class OggToWave final : public Conversion {
 public:
  // Loads the libraries from the system's search and from folder.
  explicit OggToWave(const std::string& folder);
  ~OggToWave() override;

  bool LibrariesLoaded() const override { return libraries_.AllLoaded(); }
  OggStatus LastStatus() const { return status_; }

 protected:
  bool CanStart() const override { return libraries_.AllLoaded(); }
  void Run(ConversionJob& job) override;

 private:
  VorbisLibraries libraries_;
  OggStatus status_ = OggStatus::kOk;
};

}  // namespace kestrune
