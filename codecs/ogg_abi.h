// The binary interface of the Ogg and Vorbis libraries as far as Kestrune
// uses it. The libraries are loaded at run time and never linked, and the
// program builds without their development headers, so the few types that
// cross the interface are declared here:
//   - structures whose fields we read (ogg_page, vorbis_info, ov_callbacks)
//     with the published C layout, using the same C types (long stays long,
//     so the layout follows the platform's C ABI as the libraries' does);
//   - structures that only the libraries look into (stream, analysis and
//     block state, packets, comments, the file decoder state) as suitably
//     aligned opaque storage at least as large as the real one.
// The tests check every layout and every function type against the
// libraries' own headers when those are installed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrune::vorbis_abi {

using OggInt64 = int64_t;

// One Ogg page as ogg_stream_pageout / ogg_stream_flush hand it out: the
// header and body point into the stream state and stay valid until the
// next call on that stream.
struct OggPage {
  unsigned char* header;
  long headerLen;
  unsigned char* body;
  long bodyLen;
};

// The stream parameters of one logical Vorbis bitstream.
struct VorbisInfo {
  int version;
  int channels;
  long rate;
  long bitrateUpper;
  long bitrateNominal;
  long bitrateLower;
  long bitrateWindow;
  void* codecSetup;
};

// The data-source callbacks of the file decoder; passed by value.
struct OvCallbacks {
  size_t (*read)(void* ptr, size_t size, size_t count, void* source);
  int (*seek)(void* source, OggInt64 offset, int whence);
  int (*close)(void* source);
  long (*tell)(void* source);
};

// Opaque state, sized with room to spare. The libraries initialise it; we
// zero it first so that the clear functions are safe on every path.
template <size_t Bytes>
struct alignas(16) Opaque {
  unsigned char bytes[Bytes];
};
using OggPacket = Opaque<64>;               // ogg_packet
using OggStreamState = Opaque<512>;         // ogg_stream_state
using VorbisComment = Opaque<64>;           // vorbis_comment
using VorbisDspState = Opaque<256>;         // vorbis_dsp_state
using VorbisBlock = Opaque<256>;            // vorbis_block
using OggVorbisFile = Opaque<2048>;         // OggVorbis_File

// Function types, one per entry point bound by name.
// Vorbis file library (decoding).
using OvOpenCallbacksFn = int (*)(void* source, OggVorbisFile* vf, const char* initial,
                                  long initialBytes, OvCallbacks callbacks);
using OvInfoFn = VorbisInfo* (*)(OggVorbisFile* vf, int link);
using OvPcmTotalFn = OggInt64 (*)(OggVorbisFile* vf, int link);
using OvReadFn = long (*)(OggVorbisFile* vf, char* buffer, int length, int bigEndian,
                          int wordSize, int isSigned, int* section);
using OvClearFn = int (*)(OggVorbisFile* vf);

// Vorbis library (encoding).
using VorbisInfoInitFn = void (*)(VorbisInfo* vi);
using VorbisCommentInitFn = void (*)(VorbisComment* vc);
using VorbisAnalysisInitFn = int (*)(VorbisDspState* vd, VorbisInfo* vi);
using VorbisCommentAddTagFn = void (*)(VorbisComment* vc, const char* tag,
                                       const char* contents);
using VorbisBlockInitFn = int (*)(VorbisDspState* vd, VorbisBlock* vb);
using VorbisAnalysisHeaderoutFn = int (*)(VorbisDspState* vd, VorbisComment* vc,
                                          OggPacket* identification, OggPacket* comment,
                                          OggPacket* codebooks);
using VorbisAnalysisBufferFn = float** (*)(VorbisDspState* vd, int frames);
using VorbisBitrateAddblockFn = int (*)(VorbisBlock* vb);
using VorbisBitrateFlushpacketFn = int (*)(VorbisDspState* vd, OggPacket* op);
using VorbisBlockClearFn = int (*)(VorbisBlock* vb);
using VorbisDspClearFn = void (*)(VorbisDspState* vd);
using VorbisCommentClearFn = void (*)(VorbisComment* vc);
using VorbisInfoClearFn = void (*)(VorbisInfo* vi);
using VorbisAnalysisFn = int (*)(VorbisBlock* vb, OggPacket* op);
using VorbisAnalysisBlockoutFn = int (*)(VorbisDspState* vd, VorbisBlock* vb);
using VorbisAnalysisWroteFn = int (*)(VorbisDspState* vd, int frames);

// Vorbis encoder library.
using VorbisEncodeInitVbrFn = int (*)(VorbisInfo* vi, long channels, long rate,
                                      float quality);

// Ogg library (encoding).
using OggStreamPacketinFn = int (*)(OggStreamState* os, OggPacket* op);
using OggStreamFlushFn = int (*)(OggStreamState* os, OggPage* og);
using OggStreamClearFn = int (*)(OggStreamState* os);
using OggStreamPageoutFn = int (*)(OggStreamState* os, OggPage* og);
using OggPageEosFn = int (*)(const OggPage* og);
using OggStreamInitFn = int (*)(OggStreamState* os, int serial);

}  // namespace kestrune::vorbis_abi
