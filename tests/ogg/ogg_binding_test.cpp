// The binding layer: our declarations against the libraries' own headers
// and the candidate names of the four library slots. Binding every entry
// point from the installed libraries is asserted by the bodies' tests.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <type_traits>

#include "codecs/ogg_abi.h"
#include "codecs/ogg_libraries.h"

#if __has_include(<vorbis/vorbisfile.h>) && __has_include(<vorbis/vorbisenc.h>)
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <ogg/ogg.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>
#define HAVE_VORBIS_HEADERS 1
#endif

namespace kestrune {
namespace {

using namespace vorbis_abi;

#if HAVE_VORBIS_HEADERS
// The call shape of a function type: for the result and each parameter,
// its kind (pointer, floating, integer, void, structure) and size.
template <typename T>
constexpr std::array<int, 2> Describe() {
  if constexpr (std::is_void_v<T>) {
    return {4, 0};
  } else {
    const int kind = std::is_pointer_v<T>          ? 1
                     : std::is_floating_point_v<T> ? 2
                     : std::is_integral_v<T>       ? 3
                                                   : 5;
    return {kind, static_cast<int>(sizeof(T))};
  }
}
template <typename F>
struct Shape;
template <typename R, typename... A>
struct Shape<R (*)(A...)> {
  static constexpr std::array<std::array<int, 2>, sizeof...(A) + 1> value{Describe<R>(),
                                                                        Describe<A>()...};
};
#define SAME_SHAPE(ours, theirs) \
  static_assert(Shape<ours>::value == Shape<decltype(&::theirs)>::value, #theirs)

SAME_SHAPE(OvOpenCallbacksFn, ov_open_callbacks);
SAME_SHAPE(OvInfoFn, ov_info);
SAME_SHAPE(OvPcmTotalFn, ov_pcm_total);
SAME_SHAPE(OvReadFn, ov_read);
SAME_SHAPE(OvClearFn, ov_clear);
SAME_SHAPE(VorbisInfoInitFn, vorbis_info_init);
SAME_SHAPE(VorbisCommentInitFn, vorbis_comment_init);
SAME_SHAPE(VorbisAnalysisInitFn, vorbis_analysis_init);
SAME_SHAPE(VorbisCommentAddTagFn, vorbis_comment_add_tag);
SAME_SHAPE(VorbisBlockInitFn, vorbis_block_init);
SAME_SHAPE(VorbisAnalysisHeaderoutFn, vorbis_analysis_headerout);
SAME_SHAPE(VorbisAnalysisBufferFn, vorbis_analysis_buffer);
SAME_SHAPE(VorbisBitrateAddblockFn, vorbis_bitrate_addblock);
SAME_SHAPE(VorbisBitrateFlushpacketFn, vorbis_bitrate_flushpacket);
SAME_SHAPE(VorbisBlockClearFn, vorbis_block_clear);
SAME_SHAPE(VorbisDspClearFn, vorbis_dsp_clear);
SAME_SHAPE(VorbisCommentClearFn, vorbis_comment_clear);
SAME_SHAPE(VorbisInfoClearFn, vorbis_info_clear);
SAME_SHAPE(VorbisAnalysisFn, vorbis_analysis);
SAME_SHAPE(VorbisAnalysisBlockoutFn, vorbis_analysis_blockout);
SAME_SHAPE(VorbisAnalysisWroteFn, vorbis_analysis_wrote);
SAME_SHAPE(VorbisEncodeInitVbrFn, vorbis_encode_init_vbr);
SAME_SHAPE(OggStreamPacketinFn, ogg_stream_packetin);
SAME_SHAPE(OggStreamFlushFn, ogg_stream_flush);
SAME_SHAPE(OggStreamClearFn, ogg_stream_clear);
SAME_SHAPE(OggStreamPageoutFn, ogg_stream_pageout);
SAME_SHAPE(OggPageEosFn, ogg_page_eos);
SAME_SHAPE(OggStreamInitFn, ogg_stream_init);

// Structures whose fields we read: same size and same offsets.
static_assert(sizeof(OggPage) == sizeof(ogg_page));
static_assert(offsetof(OggPage, header) == offsetof(ogg_page, header));
static_assert(offsetof(OggPage, headerLen) == offsetof(ogg_page, header_len));
static_assert(offsetof(OggPage, body) == offsetof(ogg_page, body));
static_assert(offsetof(OggPage, bodyLen) == offsetof(ogg_page, body_len));
static_assert(sizeof(VorbisInfo) == sizeof(vorbis_info));
static_assert(offsetof(VorbisInfo, channels) == offsetof(vorbis_info, channels));
static_assert(offsetof(VorbisInfo, rate) == offsetof(vorbis_info, rate));
static_assert(offsetof(VorbisInfo, codecSetup) == offsetof(vorbis_info, codec_setup));
static_assert(sizeof(OvCallbacks) == sizeof(ov_callbacks));
static_assert(offsetof(OvCallbacks, seek) == offsetof(ov_callbacks, seek_func));
static_assert(offsetof(OvCallbacks, close) == offsetof(ov_callbacks, close_func));
static_assert(offsetof(OvCallbacks, tell) == offsetof(ov_callbacks, tell_func));

// Opaque state: room and alignment enough for the real structure.
template <typename Ours, typename Theirs>
constexpr bool Holds() {
  return sizeof(Ours) >= sizeof(Theirs) && alignof(Ours) >= alignof(Theirs);
}
static_assert(Holds<OggPacket, ogg_packet>());
static_assert(Holds<OggStreamState, ogg_stream_state>());
static_assert(Holds<VorbisComment, vorbis_comment>());
static_assert(Holds<VorbisDspState, vorbis_dsp_state>());
static_assert(Holds<VorbisBlock, vorbis_block>());
static_assert(Holds<OggVorbisFile, OggVorbis_File>());
#endif

TEST(OggBinding, DeclarationsAreCheckedAgainstTheLibrariesHeaders) {
#if !HAVE_VORBIS_HEADERS
  FAIL() << "libogg-dev and libvorbis-dev are needed to check the declarations";
#endif
}

TEST(OggBinding, CandidatesOfEachSlotInOrder) {
  using V = std::vector<std::string>;
  EXPECT_EQ(VorbisLibraries::CandidateNames(VorbisSlot::kOgg, ""),
            (V{"libogg.so.0", "ogg.so", "libogg.so", "ogg.so", "libogg.so", "libvorbis.so",
               "libvorbis.so"}));
  EXPECT_EQ(VorbisLibraries::CandidateNames(VorbisSlot::kOgg, "/opt/v"),
            (V{"libogg.so.0", "ogg.so", "libogg.so", "/opt/v/ogg.so", "/opt/v/libogg.so",
               "libvorbis.so", "/opt/v/libvorbis.so", "/opt/v/libogg.so.0"}));
  // A trailing separator is not doubled.
  EXPECT_EQ(VorbisLibraries::CandidateNames(VorbisSlot::kVorbis, "/opt/v/"),
            (V{"libvorbis.so.0", "vorbis.so", "libvorbis.so", "/opt/v/vorbis.so",
               "/opt/v/libvorbis.so", "libvorbis.so", "/opt/v/libvorbis.so",
               "/opt/v/libvorbis.so.0"}));
  EXPECT_EQ(VorbisLibraries::CandidateNames(VorbisSlot::kVorbisEnc, "lib"),
            (V{"libvorbisenc.so.2", "vorbisenc.so", "libvorbis.so", "lib/vorbisenc.so",
               "lib/libvorbis.so", "libvorbis.so", "lib/libvorbis.so", "lib/libvorbisenc.so.2"}));
  EXPECT_EQ(VorbisLibraries::CandidateNames(VorbisSlot::kVorbisFile, "lib"),
            (V{"libvorbisfile.so.3", "vorbisfile.so", "libvorbisfile.so", "lib/vorbisfile.so",
               "lib/libvorbisfile.so", "libvorbis.so", "lib/libvorbis.so",
               "lib/libvorbisfile.so.3"}));
}

}  // namespace
}  // namespace kestrune
