// <windows.h> for the Win32 platform sources, with the macros that would
// rename the platform interface's own functions (DeleteFile to DeleteFileA,
// MessageBox to MessageBoxA, ...) taken back. The sources call the ANSI
// functions by their full names.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef CreateDirectory
#undef CreateMutex
#undef DeleteFile
#undef FindFirstFile
#undef FindNextFile
#undef GetFileAttributes
#undef GetFullPathName
#undef GetLongPathName
#undef GetModuleFileName
#undef GetTempPath
#undef LoadLibrary
#undef MessageBox
#undef SetDllDirectory

#include "base/platform/platform.h"

namespace kestrune::platform::win32 {

// Bookkeeping of the critical sections that the calling thread holds, so
// that a body abandoned by a fault can leave those it entered (threads.cpp).
size_t HeldMutexCount();
void LeaveMutexesAbove(size_t count);

}  // namespace kestrune::platform::win32
