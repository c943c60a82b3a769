// The Ogg Vorbis bodies on arbitrary files, through the installed
// libraries: the first byte chooses the direction, the rest is the input
// file (an .ogg to decode, or a WAVE file to encode). Whatever the input,
// the body must end with a status, and a failure must leave no output.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "codecs/ogg_decode.h"
#include "codecs/ogg_encode.h"
#include "codecs/ogg_libraries.h"

namespace {

struct Apis {
  kestrune::VorbisLibraries libraries{""};
  kestrune::VorbisDecodeApi decode;
  kestrune::VorbisEncodeApi encode;
  bool ok = libraries.Bind(&decode, nullptr) && libraries.Bind(&encode, nullptr);
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Apis* apis = new Apis;  // loaded once for the whole run
  if (!apis->ok) std::abort();   // the libraries must be installed
  if (size < 1) return 0;
  const auto dir = std::filesystem::temp_directory_path();
  const std::string stem = "kestrune-ogg-fuzz-" + std::to_string(getpid());
  const std::string in = (dir / (stem + ".in")).string();
  const std::string out = (dir / (stem + ".out")).string();
  std::ofstream(in, std::ios::binary)
      .write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  const auto ignore = [](double) {};
  const kestrune::OggStatus status =
      data[0] & 1 ? kestrune::EncodeWaveToOgg(apis->encode, in, out, 0.0, ignore)
                  : kestrune::DecodeOggToWave(apis->decode, in, out, ignore);
  if (status != kestrune::OggStatus::kOk && std::filesystem::exists(out)) std::abort();
  std::remove(in.c_str());
  std::remove(out.c_str());
  return 0;
}
