// How an Ogg Vorbis conversion run ended.
#pragma once

namespace kestrune {

enum class OggStatus {
  kOk = 0,
  kMissingEntry,   // an entry point is missing: nothing was produced
  kOutputFailed,   // the output could not be created
  kInputFailed,    // the input could not be opened or read as WAVE
  kNotVorbis,      // the file decoder refused the input
  kTooLarge,       // the decoded data would not fit a RIFF file
  kEncoderRefused, // the encoder refused the channels, rate or quality
  kWriteFailed,    // writing the output failed
};

}  // namespace kestrune
