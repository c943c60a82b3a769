// The decoder's hot loops (matrixing, window, IMDCT) are plain C++ that the
// compiler turns into vector instructions. On x86-64 with GCC or clang they
// are compiled a second time for AVX2, eight floats per instruction instead
// of four, and that build is chosen at run time when the processor and the
// operating system support it. Both builds perform the same operations in
// the same order for every value (no fused multiply-add), so they give
// bit-identical output.
//
// Not on Windows: there the compilers cannot rely on 32-byte stack
// alignment for AVX spills, so the baseline build alone is used.
#pragma once

#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__) && !defined(_WIN32)
#define MP3DEC_WIDE_VECTORS 1
#define MP3DEC_TARGET_WIDE __attribute__((target("avx2")))
#else
#define MP3DEC_WIDE_VECTORS 0
#define MP3DEC_TARGET_WIDE
#endif

#if defined(__GNUC__) || defined(__clang__)
// Inlines every call of the function body, so that a wide build of a
// function also compiles everything it calls for the wide target.
#define MP3DEC_FLATTEN __attribute__((flatten))
#else
#define MP3DEC_FLATTEN
#endif

namespace mp3dec {

// True when the wide build can run here (decided once).
bool WideVectorsAvailable();

}  // namespace mp3dec
