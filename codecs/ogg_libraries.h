// The Ogg and Vorbis libraries, loaded at run time: four library slots and
// the tables of entry points that the decoder and the encoder bind by name.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "base/library_handle.h"
#include "codecs/ogg_abi.h"

namespace kestrune {

enum class VorbisSlot { kOgg = 0, kVorbis = 1, kVorbisEnc = 2, kVorbisFile = 3 };
inline constexpr size_t kVorbisSlotCount = 4;

// The five entry points of the file decoder.
struct VorbisDecodeApi {
  vorbis_abi::OvOpenCallbacksFn ovOpenCallbacks = nullptr;
  vorbis_abi::OvInfoFn ovInfo = nullptr;
  vorbis_abi::OvPcmTotalFn ovPcmTotal = nullptr;
  vorbis_abi::OvReadFn ovRead = nullptr;
  vorbis_abi::OvClearFn ovClear = nullptr;
};

// The 23 entry points of the encoder and the Ogg stream writer.
struct VorbisEncodeApi {
  vorbis_abi::VorbisInfoInitFn vorbisInfoInit = nullptr;
  vorbis_abi::VorbisCommentInitFn vorbisCommentInit = nullptr;
  vorbis_abi::VorbisAnalysisInitFn vorbisAnalysisInit = nullptr;
  vorbis_abi::VorbisCommentAddTagFn vorbisCommentAddTag = nullptr;
  vorbis_abi::VorbisBlockInitFn vorbisBlockInit = nullptr;
  vorbis_abi::VorbisAnalysisHeaderoutFn vorbisAnalysisHeaderout = nullptr;
  vorbis_abi::VorbisAnalysisBufferFn vorbisAnalysisBuffer = nullptr;
  vorbis_abi::VorbisBitrateAddblockFn vorbisBitrateAddblock = nullptr;
  vorbis_abi::VorbisBitrateFlushpacketFn vorbisBitrateFlushpacket = nullptr;
  vorbis_abi::VorbisBlockClearFn vorbisBlockClear = nullptr;
  vorbis_abi::VorbisDspClearFn vorbisDspClear = nullptr;
  vorbis_abi::VorbisCommentClearFn vorbisCommentClear = nullptr;
  vorbis_abi::VorbisInfoClearFn vorbisInfoClear = nullptr;
  vorbis_abi::VorbisAnalysisFn vorbisAnalysis = nullptr;
  vorbis_abi::VorbisAnalysisBlockoutFn vorbisAnalysisBlockout = nullptr;
  vorbis_abi::VorbisAnalysisWroteFn vorbisAnalysisWrote = nullptr;
  vorbis_abi::VorbisEncodeInitVbrFn vorbisEncodeInitVbr = nullptr;
  vorbis_abi::OggStreamPacketinFn oggStreamPacketin = nullptr;
  vorbis_abi::OggStreamFlushFn oggStreamFlush = nullptr;
  vorbis_abi::OggStreamClearFn oggStreamClear = nullptr;
  vorbis_abi::OggStreamPageoutFn oggStreamPageout = nullptr;
  vorbis_abi::OggPageEosFn oggPageEos = nullptr;
  vorbis_abi::OggStreamInitFn oggStreamInit = nullptr;
};

class VorbisLibraries {
 public:
  // Loads the four slots, each from the first of its candidates that loads.
  // folder: where to look besides the system's search ("" for none); a
  // path separator is appended when it has none.
  explicit VorbisLibraries(const std::string& folder);
  VorbisLibraries(const VorbisLibraries&) = delete;
  VorbisLibraries& operator=(const VorbisLibraries&) = delete;

  // The candidates of one slot in the order they are tried: on POSIX the
  // library's soname first, then (on every system) the short and the long
  // name bare and inside the folder, and the Vorbis library as the last
  // resort, bare and inside the folder.
  static std::vector<std::string> CandidateNames(VorbisSlot slot, const std::string& folder);

  bool AllLoaded() const;
  bool IsLoaded(VorbisSlot slot) const { return Handle(slot).IsLoaded(); }

  // Resolves every entry point of the table. False when one is missing; the
  // first missing name is stored in *missing (when given) and the table must
  // not be used.
  bool Bind(VorbisDecodeApi* api, std::string* missing) const;
  bool Bind(VorbisEncodeApi* api, std::string* missing) const;

 private:
  const LibraryHandle& Handle(VorbisSlot slot) const {
    return slots_[static_cast<size_t>(slot)];
  }
  std::array<LibraryHandle, kVorbisSlotCount> slots_;
};

}  // namespace kestrune
