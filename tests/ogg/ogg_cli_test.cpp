// The kestrune program's Ogg Vorbis conversions, run as a user runs them,
// checked with vorbis-tools and binutils. A preloaded helper hides the
// system's Ogg and Vorbis libraries where a test needs a machine without
// them, so that only the "f" folder can supply them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/wave_files.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace kestrune {
namespace {

using namespace testing;
namespace fs = std::filesystem;

const std::string kMissingBox =
    "Kestrune\nThere are no ogg.dll, vorbis.dll, vorbisfile.dll and vorbisenc.dll.\n"
    "(otherwise libogg.dll, libvorbis.dll and libvorbisfile.dll)\n"
    "Is it searched for Ogg Vorbis DLL by the browser?\n";
// The file from which the system loads a library (by its soname), found
// through one of its exported functions.
std::string InstalledFile(const char* soname, const char* function) {
  void* module = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) return "";
  Dl_info info{};
  void* entry = dlsym(module, function);
  std::string path = entry && dladdr(entry, &info) && info.dli_fname ? info.dli_fname : "";
  dlclose(module);
  return path;
}

ProgramResult Kestrune(const TempDir& dir, const std::vector<std::string>& args,
                       bool hideSystemLibraries = false) {
  std::vector<std::string> env{"LC_ALL=", "LANG=C"};
  if (hideSystemLibraries) {
    env.push_back(std::string("LD_PRELOAD=") + HIDE_SYSTEM_VORBIS);
    // The sanitizer runtime need not come first for this helper.
    env.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
  }
  return RunProgram(KESTRUNE_BINARY, args, dir.str(), env);
}

ProgramResult Tool(const TempDir& dir, const std::string& program,
                   const std::vector<std::string>& args) {
  return RunProgram(program, args, dir.str());
}

// Our files pass ogginfo without a warning and carry our comment; the
// quality option reaches the encoder (the default 0.4 is oggenc's -q 4).
// The samples: the bodies' tests decode our files with oggdec, and the
// program's decode is checked against oggdec below.
TEST(OggProgram, EncodeIsAcceptedByVorbisToolsAtEveryQuality) {
  TempDir dir;
  WaveSpec w;
  w.frames = 2 * 44100 + 123;
  WriteBytes(dir / "in.wav", MakeWave(w));
  ASSERT_EQ(Tool(dir, "/usr/bin/oggenc", {"-Q", "-q", "4", "-o", "ref.ogg", "in.wav"}).exitCode, 0);
  auto nominal = [&](const std::string& name) {
    const std::string out = Tool(dir, "/usr/bin/ogginfo", {name}).out;
    const size_t at = out.find("Nominal bitrate: ");
    return at == std::string::npos ? std::string() : out.substr(at, out.find('\n', at) - at);
  };
  for (const auto& [option, kbps] : {std::pair<std::string, std::string>{"", "128"}, {"-q0", "64"},
                                     {"-q0.9", "320"}}) {
    SCOPED_TRACE(option);
    std::vector<std::string> args = {"in.wav", "out" + option + ".ogg"};
    if (!option.empty()) args.push_back(option);
    const auto enc = Kestrune(dir, args);
    ASSERT_EQ(enc.exitCode, 0) << enc.err;
    EXPECT_EQ(enc.err, "");
    const auto info = Tool(dir, "/usr/bin/ogginfo", {args[1]});
    EXPECT_EQ(info.exitCode, 0);
    EXPECT_EQ(info.out.find("WARNING"), std::string::npos) << info.out;
    EXPECT_EQ(info.out.find("Warning"), std::string::npos) << info.out;
    EXPECT_EQ(info.err, "");
    EXPECT_NE(info.out.find("Channels: 2\nRate: 44100\n"), std::string::npos) << info.out;
    const auto comments = Tool(dir, "/usr/bin/vorbiscomment", {"-l", args[1]});
    EXPECT_EQ(comments.exitCode, 0);
    EXPECT_EQ(comments.out, "ENCODER=Kestrune\n");
    EXPECT_EQ(nominal(args[1]), "Nominal bitrate: " + kbps + ".000000 kb/s");
  }
  EXPECT_EQ(nominal("out.ogg"), nominal("ref.ogg"));
  EXPECT_LT(fs::file_size(dir / "out-q0.ogg"), fs::file_size(dir / "out-q0.9.ogg"));
}

TEST(OggProgram, ProgramDoesNotLinkTheOggOrVorbisLibraries) {
  TempDir dir;
  const auto r = Tool(dir, "/usr/bin/readelf", {"-d", KESTRUNE_BINARY});
  ASSERT_EQ(r.exitCode, 0);
  ASSERT_NE(r.out.find("(NEEDED)"), std::string::npos);
  EXPECT_EQ(r.out.find("libogg"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("libvorbis"), std::string::npos) << r.out;
}

// Failures exit with 1, print the box or the message and leave no output:
// libraries hidden and no usable folder (before the banner), a file that is
// no Ogg Vorbis stream, a WAVE file without samples.
TEST(OggProgram, FailuresExitWith1AndLeaveNoOutput) {
  TempDir dir;
  fs::create_directory(dir / "empty");
  WaveSpec w;
  w.frames = 1000;
  WriteBytes(dir / "in.wav", MakeWave(w));
  w.withData = false;
  WriteBytes(dir / "nodata.wav", MakeWave(w));
  WriteBytes(dir / "in.ogg", "not used");
  WriteBytes(dir / "noise.ogg", std::string(4096, '\x5A'));
  struct Case {
    std::vector<std::string> args;
    bool hideSystemLibraries;  // and nothing on standard output
    std::string err;
  };
  const Case cases[] = {
      {{"in.wav", "out.ogg"}, true, kMissingBox},
      {{"in.wav", "out.ogg", "-fempty"}, true, kMissingBox},
      {{"in.ogg", "out.wav", "-fempty"}, true, kMissingBox},
      {{"in.ogg", "out.wav", "-f" + (dir / "empty")}, true, kMissingBox},
      {{"noise.ogg", "out.wav"}, false, "Kestrune: noise.ogg is not an Ogg Vorbis stream.\n"},
      {{"nodata.wav", "out.ogg"}, false, "Kestrune: cannot read nodata.wav.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    const auto r = Kestrune(dir, c.args, c.hideSystemLibraries);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.substr(0, 15), c.hideSystemLibraries ? "" : "Kestrune 0.1.0\n");
    EXPECT_EQ(r.err, c.err);
    EXPECT_FALSE(fs::exists(dir / c.args[1]));
  }
}

TEST(OggProgram, FolderWithOggVorbisAndVorbisfileFillsAllFourSlots) {
  TempDir dir;
  fs::create_directory(dir / "libs");
  const std::string ogg = InstalledFile("libogg.so.0", "ogg_stream_init");
  const std::string vorbis = InstalledFile("libvorbis.so.0", "vorbis_info_init");
  const std::string vorbisfile = InstalledFile("libvorbisfile.so.3", "ov_open_callbacks");
  const std::string vorbisenc = InstalledFile("libvorbisenc.so.2", "vorbis_encode_init_vbr");
  ASSERT_FALSE(ogg.empty() || vorbis.empty() || vorbisfile.empty() || vorbisenc.empty());
  fs::copy_file(ogg, dir / "libs/libogg.so");
  fs::copy_file(vorbis, dir / "libs/libvorbis.so");
  fs::copy_file(vorbisfile, dir / "libs/libvorbisfile.so");
  WaveSpec w;
  w.frames = 30000;
  WriteBytes(dir / "in.wav", MakeWave(w));
  ASSERT_EQ(Tool(dir, "/usr/bin/oggenc", {"-Q", "-o", "in.ogg", "in.wav"}).exitCode, 0);
  ASSERT_EQ(Tool(dir, "/usr/bin/oggdec", {"-Q", "-o", "ref.wav", "in.ogg"}).exitCode, 0);

  // Decoding needs only the file decoder's entry points.
  const auto dec = Kestrune(dir, {"in.ogg", "out.wav", "-flibs"}, true);
  EXPECT_EQ(dec.exitCode, 0) << dec.err;
  EXPECT_TRUE(ReadBytes(dir / "out.wav") == ReadBytes(dir / "ref.wav"));

  // The encoder slot is filled by the Vorbis library, which on this system
  // does not carry the encoder's entry point: nothing is produced.
  const auto enc = Kestrune(dir, {"in.wav", "out.ogg", "-flibs/"}, true);
  EXPECT_EQ(enc.exitCode, 1);
  EXPECT_EQ(enc.err, "Kestrune: the Ogg Vorbis libraries do not export vorbis_encode_init_vbr.\n");
  EXPECT_FALSE(fs::exists(dir / "out.ogg"));

  // With the encoder library under its short name the encode runs.
  fs::copy_file(vorbisenc, dir / "libs/vorbisenc.so");
  const auto enc2 = Kestrune(dir, {"in.wav", "out.ogg", "-flibs"}, true);
  EXPECT_EQ(enc2.exitCode, 0) << enc2.err;
  EXPECT_EQ(Tool(dir, "/usr/bin/ogginfo", {"out.ogg"}).exitCode, 0);
}

}  // namespace
}  // namespace kestrune
