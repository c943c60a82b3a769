// The one interface through which Kestrune talks to the operating system.
// base/platform/posix implements it for Linux, base/platform/win32 for
// Windows; every other folder uses only these declarations and never
// includes a system header of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrune::platform {

// ---------------------------------------------------------------------------
// Last error of the calling thread (errno on POSIX, the thread's last-error
// value on Windows).
uint32_t GetLastError();
void SetLastError(uint32_t code);
// The system's message text for an error code ("Success" for 0 on POSIX;
// on Windows the system message table's text, with its line break).
std::string GetErrorMessage(uint32_t code);

// ---------------------------------------------------------------------------
// Files. Positions and sizes are 64-bit.
using FileHandle = intptr_t;
inline constexpr FileHandle kInvalidFile = -1;

// write && !read: write access, created or truncated. read: open existing,
// read or read/write access. Directories never open. The sharing flags are
// advisory on POSIX and have no effect.
FileHandle OpenFile(const std::string& path, bool read, bool write,
                    bool shareRead, bool shareWrite, uint32_t flagsAndAttributes);
void CloseFile(FileHandle file);
// Transfers up to count bytes, retrying short transfers; false on error.
bool ReadFile(FileHandle file, void* buffer, size_t count, size_t* done);
bool WriteFile(FileHandle file, const void* buffer, size_t count, size_t* done);
// origin: 0 start, 1 current, 2 end. newPosition may be null.
bool SeekFile(FileHandle file, int64_t offset, int origin, uint64_t* newPosition);
bool GetFileSize(FileHandle file, uint64_t* size);
// Sets the end of the file at the current position.
bool SetEndOfFile(FileHandle file);

// File attributes as the Win32 bit set (0x10 directory, 0x01 read-only,
// 0x80 normal); 0xFFFFFFFF when the path does not exist.
uint32_t GetFileAttributes(const std::string& path);
bool DeleteFile(const std::string& path);
bool CreateDirectory(const std::string& path);
bool GetFullPathName(const std::string& path, std::string* full);
bool GetLongPathName(const std::string& path, std::string* longPath);
std::string GetTempPath();        // with a trailing separator
std::string GetModuleFileName();  // the running program's own file
bool IsPathSeparator(char c);     // '/' on POSIX, '\\' and '/' on Windows

// Directory enumeration. pattern: a folder path and a file name with the
// wildcards "*" and "?" ("*.*" matches every name). The entries "." and
// ".." are not reported. Null when nothing matches or the folder cannot be
// read (last error set).
struct FindHandle;
struct FoundFile {
  std::string name;
  uint32_t attributes = 0;
};
FindHandle* FindFirstFile(const std::string& pattern, FoundFile* found);
bool FindNextFile(FindHandle* handle, FoundFile* found);  // false at the end
void FindClose(FindHandle* handle);
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// ---------------------------------------------------------------------------
// Threads. A thread is created held at a start gate ("suspended") so that
// its creator can store the handle and set the priority first.
struct Thread;
using ThreadHandle = Thread*;
using ThreadEntry = void (*)(void* argument);

ThreadHandle CreateSuspendedThread(ThreadEntry entry, void* argument);
// priority -15 is the idle class (SCHED_IDLE, or the lowest nice value when
// that is refused); other values leave the default scheduling.
bool SetThreadPriority(ThreadHandle thread, int priority);
bool ResumeThread(ThreadHandle thread);
// Ends a thread that was never resumed (its entry does not run) and frees
// the handle.
void TerminateSuspendedThread(ThreadHandle thread);
// Releases the handle of a resumed thread; the thread runs on. Safe to call
// from the thread itself.
void CloseThreadHandle(ThreadHandle thread);
// A second, independent reference to a resumed thread, for whoever must know
// that it has really ended: its entry returned and the system has finished
// with it (thread-local destructors, runtime detach). A thread that is still
// in that tail when the process exits can be killed inside a runtime lock
// on Windows, and the exit then waits for that lock for ever. Take the
// watch before the thread can call CloseThreadHandle on itself.
struct ThreadWatch;
ThreadWatch* WatchThread(ThreadHandle thread);
// Waits until the watched thread has ended, then frees the watch.
void AwaitThreadEnd(ThreadWatch* watch);
void Sleep(uint32_t milliseconds);

// A recursive mutex. A lock whose owner thread ended while holding it is
// taken over by the next thread that enters it.
struct Mutex;
Mutex* CreateMutex();
void DestroyMutex(Mutex* mutex);
void EnterMutex(Mutex* mutex);
void LeaveMutex(Mutex* mutex);

// ---------------------------------------------------------------------------
// Processor and system faults. Hardware faults (invalid memory access,
// arithmetic faults, illegal instructions, stack overflow) that happen inside
// RunWithFaultRecovery end the body there and are described by a FaultRecord
// with the Win32 status code of the fault.
struct FaultRecord {
  uint32_t code = 0;             // e.g. 0xC0000005 access violation
  uint32_t flags = 0;            // 1: non-continuable
  uintptr_t address = 0;         // instruction that faulted
  uint32_t numberParameters = 0;
};

using FaultBody = void (*)(void* context);
// Runs body(context). Returns true when it returned (or threw: C++
// exceptions pass through unchanged); false when a hardware fault stopped it,
// with *fault filled. Objects in the frames between the fault and this call
// are abandoned without their destructors running; the fault report that
// follows tells the user to save and restart. Calls may nest.
bool RunWithFaultRecovery(FaultBody body, void* context, FaultRecord* fault);

using AllocationFailureHandler = void (*)();
// The runtime's allocation-failure handler (std::set_new_handler); returns
// the previous one.
AllocationFailureHandler SetAllocationFailureHandler(AllocationFailureHandler handler);

// ---------------------------------------------------------------------------
// Run-time loaded libraries.
using ModuleHandle = void*;
ModuleHandle LoadLibrary(const std::string& name);  // null on failure
void* GetProcAddress(ModuleHandle module, const char* name);
void FreeLibrary(ModuleHandle module);
// Takes the current directory out of the library search order. POSIX never
// searches it for bare names, so this has nothing to do there.
void SetDllDirectory(const char* path);

// ---------------------------------------------------------------------------
// User interface and shell. Tests replace these with a recording fake.
inline constexpr unsigned kMbOk = 0x0;
inline constexpr unsigned kMbYesNo = 0x4;
inline constexpr unsigned kMbIconExclamation = 0x30;
inline constexpr int kIdOk = 1;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;
inline constexpr int kSwShow = 5;

class UserInterface {
 public:
  virtual ~UserInterface() = default;
  // owned: the box is owned by the desktop window (else no owner window).
  virtual int MessageBox(const std::string& text, const std::string& caption,
                         unsigned style, bool owned) = 0;
  // ShellExecute with the verb "open"; the result is not reported.
  virtual void ShellOpen(const std::string& address, int showCommand) = 0;
  virtual uint16_t GetUserDefaultLangID() = 0;
};

// The system's own user interface.
UserInterface& SystemUserInterface();
// The interface in use; SetUserInterface(nullptr) goes back to the system's.
UserInterface& CurrentUserInterface();
void SetUserInterface(UserInterface* ui);

// ---------------------------------------------------------------------------
// Console.
void WriteStandardOutput(const std::string& text);  // unchanged, flushed

}  // namespace kestrune::platform
