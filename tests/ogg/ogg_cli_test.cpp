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

using testing::MakeWave;
using testing::ProgramResult;
using testing::ReadBytes;
using testing::RunProgram;
using testing::TempDir;
using testing::WaveSpec;
using testing::WriteBytes;
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

TEST(OggProgram, EncodeIsAcceptedByVorbisTools) {
  TempDir dir;
  WaveSpec w;
  w.frames = 2 * 44100 + 123;
  WriteBytes(dir / "in.wav", MakeWave(w));
  const auto enc = Kestrune(dir, {"in.wav", "out.ogg"});
  ASSERT_EQ(enc.exitCode, 0) << enc.err;
  EXPECT_EQ(enc.err, "");

  const auto info = Tool(dir, "/usr/bin/ogginfo", {"out.ogg"});
  EXPECT_EQ(info.exitCode, 0);
  EXPECT_EQ(info.out.find("WARNING"), std::string::npos) << info.out;
  EXPECT_EQ(info.out.find("Warning"), std::string::npos) << info.out;
  EXPECT_EQ(info.err, "");
  EXPECT_NE(info.out.find("Channels: 2\nRate: 44100\n"), std::string::npos) << info.out;
  const auto comments = Tool(dir, "/usr/bin/vorbiscomment", {"-l", "out.ogg"});
  EXPECT_EQ(comments.exitCode, 0);
  EXPECT_EQ(comments.out, "ENCODER=Kestrune\n");
  // The samples: the bodies' tests decode our files with oggdec, and the
  // program's decode is checked against oggdec below.
}

TEST(OggProgram, QualityOptionReachesTheEncoder) {
  TempDir dir;
  WaveSpec w;
  w.frames = 44100;
  WriteBytes(dir / "in.wav", MakeWave(w));
  ASSERT_EQ(Kestrune(dir, {"in.wav", "low.ogg", "-q0"}).exitCode, 0);
  ASSERT_EQ(Kestrune(dir, {"in.wav", "high.ogg", "-q0.9"}).exitCode, 0);
  ASSERT_EQ(Kestrune(dir, {"in.wav", "default.ogg"}).exitCode, 0);
  ASSERT_EQ(Tool(dir, "/usr/bin/oggenc", {"-Q", "-q", "4", "-o", "ref.ogg", "in.wav"}).exitCode, 0);
  // The default 0.4 is oggenc's -q 4.
  auto nominal = [&](const std::string& name) {
    const std::string out = Tool(dir, "/usr/bin/ogginfo", {name}).out;
    const size_t at = out.find("Nominal bitrate: ");
    return at == std::string::npos ? std::string() : out.substr(at, out.find('\n', at) - at);
  };
  EXPECT_EQ(nominal("default.ogg"), nominal("ref.ogg"));
  EXPECT_EQ(nominal("default.ogg"), "Nominal bitrate: 128.000000 kb/s");
  EXPECT_EQ(nominal("low.ogg"), "Nominal bitrate: 64.000000 kb/s");
  EXPECT_EQ(nominal("high.ogg"), "Nominal bitrate: 320.000000 kb/s");
  EXPECT_LT(fs::file_size(dir / "low.ogg"), fs::file_size(dir / "high.ogg"));
}

TEST(OggProgram, ProgramDoesNotLinkTheOggOrVorbisLibraries) {
  TempDir dir;
  const auto r = Tool(dir, "/usr/bin/readelf", {"-d", KESTRUNE_BINARY});
  ASSERT_EQ(r.exitCode, 0);
  ASSERT_NE(r.out.find("(NEEDED)"), std::string::npos);
  EXPECT_EQ(r.out.find("libogg"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("libvorbis"), std::string::npos) << r.out;
}

TEST(OggProgram, MissingLibrariesShowTheBoxAndExitWith1) {
  TempDir dir;
  fs::create_directory(dir / "empty");
  WaveSpec w;
  w.frames = 1000;
  WriteBytes(dir / "in.wav", MakeWave(w));
  WriteBytes(dir / "in.ogg", "not used");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"in.wav", "out.ogg"}, {"in.wav", "out.ogg", "-fempty"},
        {"in.ogg", "out.wav", "-fempty"}, {"in.ogg", "out.wav", "-f" + (dir / "empty")}}) {
    SCOPED_TRACE(args[0] + " " + args[1]);
    const auto r = Kestrune(dir, args, true);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, kMissingBox);
    EXPECT_FALSE(fs::exists(dir / args[1]));
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

TEST(OggProgram, BadInputIsReportedAndLeavesNoOutput) {
  TempDir dir;
  WriteBytes(dir / "noise.ogg", std::string(4096, '\x5A'));
  WaveSpec w;
  w.withData = false;
  WriteBytes(dir / "nodata.wav", MakeWave(w));
  const auto dec = Kestrune(dir, {"noise.ogg", "out.wav"});
  EXPECT_EQ(dec.exitCode, 1);
  EXPECT_EQ(dec.err, "Kestrune: noise.ogg is not an Ogg Vorbis stream.\n");
  EXPECT_FALSE(fs::exists(dir / "out.wav"));
  const auto enc = Kestrune(dir, {"nodata.wav", "out.ogg"});
  EXPECT_EQ(enc.exitCode, 1);
  EXPECT_EQ(enc.err, "Kestrune: cannot read nodata.wav.\n");
  EXPECT_FALSE(fs::exists(dir / "out.ogg"));
}

}  // namespace
}  // namespace kestrune
