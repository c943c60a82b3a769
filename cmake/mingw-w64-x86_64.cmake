# Cross-compiling for 64-bit Windows with Debian's mingw-w64 toolchain.
#
# The "-posix" compilers use the POSIX thread model of the runtime, which
# std::thread and std::mutex need (the "-win32" ones lack them). Everything
# is linked statically, so kestrune.exe imports only system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KESTRUNE_MINGW_TRIPLE x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${KESTRUNE_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${KESTRUNE_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${KESTRUNE_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTRUNE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Hardware faults become C++ exceptions at the faulting instruction (see
# base/platform/win32/faults.cpp); without -fnon-call-exceptions the
# unwinder would skip the destructors of the frames between.
#
# Debian's mingw gcc 12 reports std::vector::push_back at -O3 as writing past
# its region (a known false positive of its -Wstringop-overflow, which the
# Linux gcc 12 with its own library build does not show).
# _USE_MATH_DEFINES: M_PI and its kin, which glibc's <cmath> offers anyway.
set(CMAKE_C_FLAGS_INIT "-fnon-call-exceptions -D_USE_MATH_DEFINES")
set(CMAKE_CXX_FLAGS_INIT "-fnon-call-exceptions -Wno-stringop-overflow -D_USE_MATH_DEFINES")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests run under Wine (64-bit loader).
find_program(KESTRUNE_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT KESTRUNE_WINE)
  find_program(KESTRUNE_WINE NAMES wine64 wine)
endif()
if(KESTRUNE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${KESTRUNE_WINE}")
endif()
