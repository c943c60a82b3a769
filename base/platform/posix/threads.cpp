// Threads with a start gate, idle priority, sleeping and recursive locks on
// POSIX threads.
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "base/platform/platform.h"

namespace kestrune::platform {

namespace {

enum class Gate { kHeld, kOpen, kCancelled };

}  // namespace

struct Thread {
  pthread_t id{};
  ThreadEntry entry = nullptr;
  void* argument = nullptr;
  pthread_mutex_t gateLock = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t gateSignal = PTHREAD_COND_INITIALIZER;
  Gate gate = Gate::kHeld;
  bool lowestNice = false;  // SCHED_IDLE was refused: renice at start
  bool watched = false;     // joined through a ThreadWatch, not detached
};

struct ThreadWatch {
  pthread_t id{};
};

namespace {

void* ThreadStart(void* raw) {
  auto* thread = static_cast<Thread*>(raw);
  pthread_mutex_lock(&thread->gateLock);
  while (thread->gate == Gate::kHeld) {
    pthread_cond_wait(&thread->gateSignal, &thread->gateLock);
  }
  const Gate gate = thread->gate;
  const bool lowestNice = thread->lowestNice;
  ThreadEntry entry = thread->entry;
  void* argument = thread->argument;
  pthread_mutex_unlock(&thread->gateLock);
  // From here on the handle may be closed (and freed) by anyone: the
  // thread touches it no more.
  if (gate == Gate::kCancelled) return nullptr;
  if (lowestNice) {
    // On Linux the nice value is per thread when set by thread id.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 19);
  }
  entry(argument);
  return nullptr;
}

void OpenGate(Thread* thread, Gate gate) {
  pthread_mutex_lock(&thread->gateLock);
  thread->gate = gate;
  pthread_cond_signal(&thread->gateSignal);
  pthread_mutex_unlock(&thread->gateLock);
}

}  // namespace

ThreadHandle CreateSuspendedThread(ThreadEntry entry, void* argument) {
  auto* thread = new (std::nothrow) Thread;
  if (!thread) {
    errno = ENOMEM;
    return nullptr;
  }
  thread->entry = entry;
  thread->argument = argument;
  int rc = pthread_create(&thread->id, nullptr, &ThreadStart, thread);
  if (rc != 0) {
    delete thread;
    errno = rc;
    return nullptr;
  }
  return thread;
}

bool SetThreadPriority(ThreadHandle thread, int priority) {
  if (!thread) return false;
  if (priority != -15) return true;
  sched_param param{};
  param.sched_priority = 0;
  if (pthread_setschedparam(thread->id, SCHED_IDLE, &param) == 0) return true;
  pthread_mutex_lock(&thread->gateLock);
  thread->lowestNice = true;
  pthread_mutex_unlock(&thread->gateLock);
  return true;
}

bool ResumeThread(ThreadHandle thread) {
  if (!thread) return false;
  OpenGate(thread, Gate::kOpen);
  return true;
}

void TerminateSuspendedThread(ThreadHandle thread) {
  if (!thread) return;
  OpenGate(thread, Gate::kCancelled);
  pthread_join(thread->id, nullptr);
  delete thread;
}

void CloseThreadHandle(ThreadHandle thread) {
  if (!thread) return;
  if (!thread->watched) pthread_detach(thread->id);
  delete thread;
}

ThreadWatch* WatchThread(ThreadHandle thread) {
  if (!thread) return nullptr;
  auto* watch = new (std::nothrow) ThreadWatch;
  if (!watch) return nullptr;
  watch->id = thread->id;
  thread->watched = true;  // the join is now the watch's
  return watch;
}

void AwaitThreadEnd(ThreadWatch* watch) {
  if (!watch) return;
  pthread_join(watch->id, nullptr);
  delete watch;
}

void Sleep(uint32_t milliseconds) {
  timespec request{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&request, &request) != 0 && errno == EINTR) {
  }
}

struct Mutex {
  pthread_mutex_t mutex;
};

Mutex* CreateMutex() {
  auto* m = new Mutex;
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  // A worker that faults is abandoned in the middle of its body and may
  // still hold a lock when it ends; a robust mutex lets the owner of the
  // object take it over afterwards instead of deadlocking.
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  pthread_mutex_init(&m->mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  return m;
}

void DestroyMutex(Mutex* mutex) {
  if (!mutex) return;
  pthread_mutex_destroy(&mutex->mutex);
  delete mutex;
}

void EnterMutex(Mutex* mutex) {
  int rc = pthread_mutex_lock(&mutex->mutex);
  if (rc == EOWNERDEAD) pthread_mutex_consistent(&mutex->mutex);
}

void LeaveMutex(Mutex* mutex) { pthread_mutex_unlock(&mutex->mutex); }

}  // namespace kestrune::platform
