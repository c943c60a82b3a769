#include "codecs/ogg_libraries.h"

#include "base/platform/platform.h"

namespace kestrune {

namespace {

#if defined(_WIN32)
constexpr const char* kLibrarySuffix = ".dll";
#else
constexpr const char* kLibrarySuffix = ".so";
#endif

struct SlotNames {
  const char* shortName;  // "ogg" as in ogg.dll
  const char* longName;   // "libogg" as in libogg.dll
  const char* soname;     // the POSIX run-time name of the library
};

// Indexed by VorbisSlot. Builds that bundle the encoder and the file decoder
// into the Vorbis library are served by its name as the last resort.
constexpr SlotNames kSlotNames[kVorbisSlotCount] = {
    {"ogg", "libogg", "libogg.so.0"},
    {"vorbis", "libvorbis", "libvorbis.so.0"},
    {"vorbisenc", "libvorbis", "libvorbisenc.so.2"},
    {"vorbisfile", "libvorbisfile", "libvorbisfile.so.3"},
};
constexpr const char* kFallbackName = "libvorbis";

std::string WithSeparator(const std::string& folder) {
  if (folder.empty() || platform::IsPathSeparator(folder.back())) return folder;
  return folder + platform::kPathSeparator;
}

// Binds one entry point; remembers the first name that is missing.
class Binder {
 public:
  Binder(const std::array<LibraryHandle, kVorbisSlotCount>& slots, std::string* missing)
      : slots_(slots), missing_(missing) {}

  template <typename Function>
  void operator()(VorbisSlot slot, const char* name, Function* entry) {
    *entry = slots_[static_cast<size_t>(slot)].GetEntryAs<Function>(name);
    if (*entry == nullptr && ok_) {
      ok_ = false;
      if (missing_) *missing_ = name;
    }
  }
  bool ok() const { return ok_; }

 private:
  const std::array<LibraryHandle, kVorbisSlotCount>& slots_;
  std::string* missing_;
  bool ok_ = true;
};

}  // namespace

std::vector<std::string> VorbisLibraries::CandidateNames(VorbisSlot slot,
                                                         const std::string& folder) {
  const SlotNames& names = kSlotNames[static_cast<size_t>(slot)];
  const std::string dir = WithSeparator(folder);
  const std::string suffix = kLibrarySuffix;
  std::vector<std::string> candidates;
#if !defined(_WIN32)
  candidates.push_back(names.soname);
#endif
  candidates.push_back(names.shortName + suffix);
  candidates.push_back(names.longName + suffix);
  candidates.push_back(dir + names.shortName + suffix);
  candidates.push_back(dir + names.longName + suffix);
  candidates.push_back(kFallbackName + suffix);
  candidates.push_back(dir + kFallbackName + suffix);
#if !defined(_WIN32)
  // A folder filled with copies of the installed libraries holds them under
  // their sonames.
  if (!dir.empty()) candidates.push_back(dir + names.soname);
#endif
  return candidates;
}

VorbisLibraries::VorbisLibraries(const std::string& folder) {
  for (size_t i = 0; i < kVorbisSlotCount; ++i) {
    slots_[i].LoadFirst(CandidateNames(static_cast<VorbisSlot>(i), folder));
  }
}

bool VorbisLibraries::AllLoaded() const {
  for (const LibraryHandle& slot : slots_) {
    if (!slot.IsLoaded()) return false;
  }
  return true;
}

bool VorbisLibraries::Bind(VorbisDecodeApi* api, std::string* missing) const {
  Binder bind(slots_, missing);
  constexpr VorbisSlot file = VorbisSlot::kVorbisFile;
  bind(file, "ov_open_callbacks", &api->ovOpenCallbacks);
  bind(file, "ov_info", &api->ovInfo);
  bind(file, "ov_pcm_total", &api->ovPcmTotal);
  bind(file, "ov_read", &api->ovRead);
  bind(file, "ov_clear", &api->ovClear);
  return bind.ok();
}

bool VorbisLibraries::Bind(VorbisEncodeApi* api, std::string* missing) const {
  Binder bind(slots_, missing);
  constexpr VorbisSlot vorbis = VorbisSlot::kVorbis;
  bind(vorbis, "vorbis_info_init", &api->vorbisInfoInit);
  bind(vorbis, "vorbis_comment_init", &api->vorbisCommentInit);
  bind(vorbis, "vorbis_analysis_init", &api->vorbisAnalysisInit);
  bind(vorbis, "vorbis_comment_add_tag", &api->vorbisCommentAddTag);
  bind(vorbis, "vorbis_block_init", &api->vorbisBlockInit);
  bind(vorbis, "vorbis_analysis_headerout", &api->vorbisAnalysisHeaderout);
  bind(vorbis, "vorbis_analysis_buffer", &api->vorbisAnalysisBuffer);
  bind(vorbis, "vorbis_bitrate_addblock", &api->vorbisBitrateAddblock);
  bind(vorbis, "vorbis_bitrate_flushpacket", &api->vorbisBitrateFlushpacket);
  bind(vorbis, "vorbis_block_clear", &api->vorbisBlockClear);
  bind(vorbis, "vorbis_dsp_clear", &api->vorbisDspClear);
  bind(vorbis, "vorbis_comment_clear", &api->vorbisCommentClear);
  bind(vorbis, "vorbis_info_clear", &api->vorbisInfoClear);
  bind(vorbis, "vorbis_analysis", &api->vorbisAnalysis);
  bind(vorbis, "vorbis_analysis_blockout", &api->vorbisAnalysisBlockout);
  bind(vorbis, "vorbis_analysis_wrote", &api->vorbisAnalysisWrote);
  bind(VorbisSlot::kVorbisEnc, "vorbis_encode_init_vbr", &api->vorbisEncodeInitVbr);
  constexpr VorbisSlot ogg = VorbisSlot::kOgg;
  bind(ogg, "ogg_stream_packetin", &api->oggStreamPacketin);
  bind(ogg, "ogg_stream_flush", &api->oggStreamFlush);
  bind(ogg, "ogg_stream_clear", &api->oggStreamClear);
  bind(ogg, "ogg_stream_pageout", &api->oggStreamPageout);
  bind(ogg, "ogg_page_eos", &api->oggPageEos);
  bind(ogg, "ogg_stream_init", &api->oggStreamInit);
  return bind.ok();
}

}  // namespace kestrune
