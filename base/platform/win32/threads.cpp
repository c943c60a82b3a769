// Threads created suspended, idle priority, sleeping and recursive locks
// (critical sections) on Windows.
#include <new>

#include "base/platform/win32/windows_api.h"

namespace kestrune::platform {

namespace {

// What the new thread runs; owned by the thread procedure once it starts.
struct StartData {
  ThreadEntry entry;
  void* argument;
};

DWORD WINAPI ThreadProcedure(void* raw) {
  const StartData start = *static_cast<StartData*>(raw);
  delete static_cast<StartData*>(raw);
  start.entry(start.argument);
  return 0;
}

}  // namespace

struct Thread {
  HANDLE handle = nullptr;
  StartData* start = nullptr;  // only until the thread is resumed
};

ThreadHandle CreateSuspendedThread(ThreadEntry entry, void* argument) {
  auto* thread = new (std::nothrow) Thread;
  auto* start = new (std::nothrow) StartData{entry, argument};
  if (!thread || !start) {
    delete thread;
    delete start;
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  thread->handle = ::CreateThread(nullptr, 0, &ThreadProcedure, start, CREATE_SUSPENDED,
                                  nullptr);
  if (!thread->handle) {
    delete start;
    delete thread;
    return nullptr;
  }
  thread->start = start;
  return thread;
}

bool SetThreadPriority(ThreadHandle thread, int priority) {
  return thread && ::SetThreadPriority(thread->handle, priority) != 0;
}

bool ResumeThread(ThreadHandle thread) {
  if (!thread) return false;
  // From the resumption on, the start data belongs to the thread.
  StartData* start = thread->start;
  thread->start = nullptr;
  if (::ResumeThread(thread->handle) == static_cast<DWORD>(-1)) {
    thread->start = start;
    return false;
  }
  return true;
}

void TerminateSuspendedThread(ThreadHandle thread) {
  if (!thread) return;
  DWORD code = 0;
  ::GetExitCodeThread(thread->handle, &code);
  ::TerminateThread(thread->handle, code);
  ::WaitForSingleObject(thread->handle, INFINITE);
  ::CloseHandle(thread->handle);
  delete thread->start;  // the procedure never ran
  delete thread;
}

void CloseThreadHandle(ThreadHandle thread) {
  if (!thread) return;
  ::CloseHandle(thread->handle);
  delete thread;
}

struct ThreadWatch {
  HANDLE handle = nullptr;
};

ThreadWatch* WatchThread(ThreadHandle thread) {
  if (!thread) return nullptr;
  auto* watch = new (std::nothrow) ThreadWatch;
  if (!watch) return nullptr;
  const HANDLE process = ::GetCurrentProcess();
  if (!::DuplicateHandle(process, thread->handle, process, &watch->handle, SYNCHRONIZE, FALSE, 0)) {
    delete watch;
    return nullptr;
  }
  return watch;
}

void AwaitThreadEnd(ThreadWatch* watch) {
  if (!watch) return;
  ::WaitForSingleObject(watch->handle, INFINITE);
  ::CloseHandle(watch->handle);
  delete watch;
}

void Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

// ---------------------------------------------------------------------------
// Recursive locks. A critical section is recursive already, but it stays
// taken for ever when its owner ends without leaving it. So each thread
// keeps the list of the sections it holds: when a fault abandons a body the
// fault layer leaves those that the body entered (faults.cpp), and a thread
// that ends leaves those that it still holds, so the next thread to enter
// takes the lock over as with a robust POSIX mutex.

struct Mutex {
  CRITICAL_SECTION section;
};

namespace {

constexpr size_t kMaxHeld = 64;
struct HeldMutexes {
  Mutex* entries[kMaxHeld];
  size_t count = 0;     // entries in use, one per entering
  size_t overflow = 0;  // enterings that did not fit (not tracked)
  // Runs when the thread ends.
  ~HeldMutexes() {
    while (count > 0) ::LeaveCriticalSection(&entries[--count]->section);
  }
};
thread_local HeldMutexes tHeld;

}  // namespace

Mutex* CreateMutex() {
  auto* mutex = new Mutex;
  ::InitializeCriticalSection(&mutex->section);
  return mutex;
}

void DestroyMutex(Mutex* mutex) {
  if (!mutex) return;
  // A lock destroyed while this thread still holds it is forgotten here.
  size_t kept = 0;
  for (size_t i = 0; i < tHeld.count; ++i) {
    if (tHeld.entries[i] != mutex) tHeld.entries[kept++] = tHeld.entries[i];
  }
  tHeld.count = kept;
  ::DeleteCriticalSection(&mutex->section);
  delete mutex;
}

void EnterMutex(Mutex* mutex) {
  ::EnterCriticalSection(&mutex->section);
  if (tHeld.count < kMaxHeld) {
    tHeld.entries[tHeld.count++] = mutex;
  } else {
    ++tHeld.overflow;
  }
}

void LeaveMutex(Mutex* mutex) {
  // Locks are normally left in the reverse order of entering; search from
  // the top for the rare other case.
  if (tHeld.overflow > 0) {
    --tHeld.overflow;
  } else {
    for (size_t i = tHeld.count; i > 0; --i) {
      if (tHeld.entries[i - 1] == mutex) {
        for (size_t j = i; j < tHeld.count; ++j) tHeld.entries[j - 1] = tHeld.entries[j];
        --tHeld.count;
        break;
      }
    }
  }
  ::LeaveCriticalSection(&mutex->section);
}

namespace win32 {

size_t HeldMutexCount() { return tHeld.count; }

void LeaveMutexesAbove(size_t count) {
  tHeld.overflow = 0;
  while (tHeld.count > count) {
    Mutex* mutex = tHeld.entries[--tHeld.count];
    ::LeaveCriticalSection(&mutex->section);
  }
}

}  // namespace win32

}  // namespace kestrune::platform
