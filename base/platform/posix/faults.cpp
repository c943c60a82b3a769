// Processor faults on POSIX: the signals of a hardware fault are turned into
// the Win32 status codes that the rest of the program knows.
//
// A fault inside RunWithFaultRecovery jumps (siglongjmp) from the signal
// handler back to the recovery point, and the caller raises the C++
// exception from ordinary code. Throwing straight out of a signal handler
// would need every frame that can fault compiled with -fnon-call-exceptions
// and unwind tables that are exact at every instruction; gcc and clang do not
// promise that together with the sanitizers, while the jump works the same
// under all of them. The price is that destructors of the abandoned frames
// do not run; locks are robust (see threads.cpp) so that nothing deadlocks.
#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <new>

#include "base/platform/platform.h"

namespace kestrune::platform {

namespace {

constexpr uint32_t kAccessViolation = 0xC0000005u;
constexpr uint32_t kIllegalInstruction = 0xC000001Du;
constexpr uint32_t kArrayBoundsExceeded = 0xC000008Cu;
constexpr uint32_t kFloatDivideByZero = 0xC000008Eu;
constexpr uint32_t kFloatInexactResult = 0xC000008Fu;
constexpr uint32_t kFloatInvalidOperation = 0xC0000090u;
constexpr uint32_t kFloatOverflow = 0xC0000091u;
constexpr uint32_t kFloatUnderflow = 0xC0000093u;
constexpr uint32_t kIntegerDivideByZero = 0xC0000094u;
constexpr uint32_t kIntegerOverflow = 0xC0000095u;
constexpr uint32_t kStackOverflow = 0xC00000FDu;

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr size_t kAltStackSize = 256 * 1024;

struct RecoveryPoint {
  sigjmp_buf env;
  FaultRecord fault;
  uintptr_t stackLow = 0;  // lowest usable address of this thread's stack
  RecoveryPoint* previous = nullptr;
};

// The innermost recovery point of each thread (initial-exec TLS, which is
// safe to read in a signal handler).
thread_local RecoveryPoint* tRecovery = nullptr;

// The handlers that were installed before ours, for faults outside any
// recovery point. Written once, before our handlers go in.
struct sigaction gPrevious[NSIG];
std::once_flag gInstallOnce;

uint32_t FpeCode(int siCode) {
  switch (siCode) {
    case FPE_INTDIV: return kIntegerDivideByZero;
    case FPE_INTOVF: return kIntegerOverflow;
    case FPE_FLTDIV: return kFloatDivideByZero;
    case FPE_FLTOVF: return kFloatOverflow;
    case FPE_FLTUND: return kFloatUnderflow;
    case FPE_FLTRES: return kFloatInexactResult;
    case FPE_FLTSUB: return kArrayBoundsExceeded;
    default: return kFloatInvalidOperation;  // FPE_FLTINV and the unknown
  }
}

uintptr_t InstructionAddress(const siginfo_t* info, void* context) {
  const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
  if (uc) return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
  if (uc) return static_cast<uintptr_t>(uc->uc_mcontext.pc);
#else
  (void)uc;
#endif
  return reinterpret_cast<uintptr_t>(info->si_addr);
}

FaultRecord Describe(int signal, const siginfo_t* info, void* context,
                     const RecoveryPoint& point) {
  FaultRecord fault;
  fault.address = InstructionAddress(info, context);
  switch (signal) {
    case SIGSEGV:
    case SIGBUS: {
      const auto data = reinterpret_cast<uintptr_t>(info->si_addr);
      // A touch of the guard area just below the stack is a stack overflow.
      const bool nearStackEnd = point.stackLow != 0 &&
                                data + 256 * 1024 >= point.stackLow &&
                                data < point.stackLow + 64 * 1024;
      fault.code = (signal == SIGSEGV && nearStackEnd) ? kStackOverflow
                                                       : kAccessViolation;
      fault.numberParameters = 2;  // read/write flag and data address
      break;
    }
    case SIGFPE:
      fault.code = FpeCode(info->si_code);
      break;
    default:
      fault.code = kIllegalInstruction;
      break;
  }
  return fault;
}

void ChainToPrevious(int signal, siginfo_t* info, void* context) {
  const struct sigaction& previous = gPrevious[signal];
  if ((previous.sa_flags & SA_SIGINFO) && previous.sa_sigaction) {
    previous.sa_sigaction(signal, info, context);
    return;
  }
  if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN &&
      previous.sa_handler) {
    previous.sa_handler(signal);
    return;
  }
  // Default action: put it back and let the faulting instruction run again,
  // which ends the process as if we had never been here.
  struct sigaction reset {};
  reset.sa_handler = SIG_DFL;
  sigemptyset(&reset.sa_mask);
  sigaction(signal, &reset, nullptr);
}

void FaultHandler(int signal, siginfo_t* info, void* context) {
  RecoveryPoint* point = tRecovery;
  if (!point) {
    ChainToPrevious(signal, info, context);
    return;
  }
  point->fault = Describe(signal, info, context, *point);
  siglongjmp(point->env, 1);
}

void InstallHandlers() {
  for (int signal : kFaultSignals) {
    struct sigaction action {};
    action.sa_sigaction = &FaultHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, &gPrevious[signal]);
  }
}

uintptr_t CurrentStackLow() {
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return 0;
  void* address = nullptr;
  size_t size = 0;
  pthread_attr_getstack(&attr, &address, &size);
  pthread_attr_destroy(&attr);
  return reinterpret_cast<uintptr_t>(address);
}

// Gives the thread an alternate signal stack, so that a stack overflow can
// still be handled; removes it again at the end unless one was there before.
class AlternateStack {
 public:
  AlternateStack() {
    stack_t current{};
    if (sigaltstack(nullptr, &current) != 0 || !(current.ss_flags & SS_DISABLE)) {
      return;  // one is installed already (by an outer call or a sanitizer)
    }
    void* memory = mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return;
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = kAltStackSize;
    if (sigaltstack(&stack, nullptr) != 0) {
      munmap(memory, kAltStackSize);
      return;
    }
    memory_ = memory;
  }
  ~AlternateStack() {
    if (!memory_) return;
    stack_t disable{};
    disable.ss_flags = SS_DISABLE;
    sigaltstack(&disable, nullptr);
    munmap(memory_, kAltStackSize);
  }
  AlternateStack(const AlternateStack&) = delete;
  AlternateStack& operator=(const AlternateStack&) = delete;

 private:
  void* memory_ = nullptr;
};

// Kept apart so that the frame holding the jump buffer has no objects with
// destructors and stays alive while the body runs.
__attribute__((noinline)) bool Attempt(RecoveryPoint* point, FaultBody body,
                                       void* context) {
  if (sigsetjmp(point->env, 1) != 0) return false;
  tRecovery = point;
  body(context);
  return true;
}

}  // namespace

bool RunWithFaultRecovery(FaultBody body, void* context, FaultRecord* fault) {
  std::call_once(gInstallOnce, &InstallHandlers);
  AlternateStack alternateStack;
  RecoveryPoint point;
  point.previous = tRecovery;
  point.stackLow = CurrentStackLow();
  struct Restore {
    RecoveryPoint* previous;
    ~Restore() { tRecovery = previous; }
  } restore{point.previous};
  if (Attempt(&point, body, context)) return true;
  *fault = point.fault;
  return false;
}

AllocationFailureHandler SetAllocationFailureHandler(AllocationFailureHandler handler) {
  return std::set_new_handler(handler);
}

}  // namespace kestrune::platform
