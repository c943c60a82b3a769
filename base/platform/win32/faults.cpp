// Processor faults on Windows: structured exceptions raised by the processor
// inside RunWithFaultRecovery end the body there.
//
// MinGW has no per-thread structured-exception translator, so a vectored
// exception handler does the translation. For a fault in the program's own
// code it makes the faulting thread "call" a small routine from the
// faulting instruction, and that routine throws a C++ exception: the
// unwinder then walks the faulting frame and every frame above it like any
// other throw, running their destructors (every translation unit is built
// with -fnon-call-exceptions, so that an instruction that faults is covered
// by its function's cleanup table). RunWithFaultRecovery catches it.
//
// Where unwinding cannot work, the body is abandoned instead and the thread
// jumps back to the recovery point (as the POSIX side always does): after a
// stack overflow (no room left to unwind), for a fault inside a system DLL
// that none of the DLL's own handlers wanted, and when the unwinder gives up
// half-way (std::terminate: a fault in a noexcept function or in library
// code built without non-call exceptions). The critical sections that the
// abandoned frames held are left then, so that no lock stays taken.
#include <cxxabi.h>

#include <atomic>
#include <exception>
#include <mutex>
#include <new>

#include "base/platform/win32/windows_api.h"

// The routine that the faulting thread is sent to. It is entered like a
// function called from the faulting instruction, but with the stack pointer
// of that instruction, which need not be aligned: it realigns the stack
// behind a frame pointer (described by its unwind data, so that the unwinder
// finds the faulting frame above it) and calls the thrower.
extern "C" void kestrune_throw_pending_fault();
extern "C" [[noreturn]] void KestruneThrowPendingFault();
asm(R"(
    .text
    .globl kestrune_throw_pending_fault
    .def kestrune_throw_pending_fault; .scl 2; .type 32; .endef
    .seh_proc kestrune_throw_pending_fault
kestrune_throw_pending_fault:
    pushq %rbp
    .seh_pushreg %rbp
    movq %rsp, %rbp
    .seh_setframe %rbp, 0
    .seh_endprologue
    andq $-16, %rsp
    subq $32, %rsp
    call KestruneThrowPendingFault
    int3
    .seh_endproc
)");

namespace kestrune::platform {

namespace {

constexpr DWORD kFloatMultipleFaults = 0xC00002B4u;
constexpr DWORD kFloatMultipleTraps = 0xC00002B5u;

struct RecoveryPoint {
  void* jump[5];  // __builtin_setjmp buffer: frame, resume address, stack
  FaultRecord fault;
  size_t heldMutexes = 0;
  RecoveryPoint* previous = nullptr;
};

// The fault on its way to the recovery point as a C++ exception.
struct HardwareFault {
  FaultRecord record;
};

thread_local RecoveryPoint* tRecovery = nullptr;
thread_local FaultRecord tPending;
thread_local bool tThrowing = false;  // a HardwareFault is being thrown

// The program's own image (the executable), where faults are thrown.
uintptr_t gImageStart = 0;
uintptr_t gImageEnd = 0;
LPTOP_LEVEL_EXCEPTION_FILTER gPreviousFilter = nullptr;
std::terminate_handler gPreviousTerminate = nullptr;
std::once_flag gInstallOnce;

bool IsProcessorFault(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_STACK_OVERFLOW:
    case kFloatMultipleFaults:
    case kFloatMultipleTraps:
      return true;
    default:
      return false;
  }
}

// SSE faults come as "multiple traps"; the status register tells which
// unmasked exception it was, in the order of precedence of the x86 manuals.
DWORD SseFaultCode(DWORD mxcsr) {
  const DWORD raised = mxcsr & 0x3F;
  const DWORD unmasked = ~(mxcsr >> 7) & 0x3F;
  const DWORD pending = (raised & unmasked) ? (raised & unmasked) : raised;
  if (pending & 0x01) return EXCEPTION_FLT_INVALID_OPERATION;
  if (pending & 0x02) return EXCEPTION_FLT_DENORMAL_OPERAND;
  if (pending & 0x04) return EXCEPTION_FLT_DIVIDE_BY_ZERO;
  if (pending & 0x08) return EXCEPTION_FLT_OVERFLOW;
  if (pending & 0x10) return EXCEPTION_FLT_UNDERFLOW;
  if (pending & 0x20) return EXCEPTION_FLT_INEXACT_RESULT;
  return EXCEPTION_FLT_INVALID_OPERATION;
}

FaultRecord Describe(const EXCEPTION_RECORD& record, CONTEXT& context) {
  FaultRecord fault;
  fault.code = record.ExceptionCode;
  fault.flags = record.ExceptionFlags;
  fault.address = reinterpret_cast<uintptr_t>(record.ExceptionAddress);
  fault.numberParameters = record.NumberParameters;
  if (fault.code == kFloatMultipleFaults || fault.code == kFloatMultipleTraps) {
    fault.code = SseFaultCode(context.MxCsr);
  }
  if (fault.code >= EXCEPTION_FLT_DENORMAL_OPERAND &&
      fault.code <= EXCEPTION_FLT_UNDERFLOW) {
    // Windows and Wine attach different private parameters to these; the
    // report shows none, as for the x87 faults of the same names.
    fault.numberParameters = 0;
    // The raised flags are sticky: clear them, so that the code after the
    // recovery does not see this fault's flags as its own.
    context.MxCsr &= ~0x3Fu;
    context.FltSave.MxCsr &= ~0x3Fu;
  }
  return fault;
}

bool IsInsideProgram(uintptr_t address) {
  return address >= gImageStart && address < gImageEnd;
}

// Jumps back to the recovery point, abandoning the frames in between.
[[noreturn]] void ReturnToRecoveryPoint() {
  tThrowing = false;
  __builtin_longjmp(tRecovery->jump, 1);
}

// Sends the thread to ReturnToRecoveryPoint, on the part of the stack just
// below the recovery point, which only abandoned frames use.
void Abandon(RecoveryPoint& point, const FaultRecord& fault, CONTEXT& context) {
  point.fault = fault;
  const auto recoveryStack = reinterpret_cast<uintptr_t>(point.jump[2]);
  context.Rsp = ((recoveryStack - 1024) & ~uintptr_t{15}) - 8;
  context.Rip = reinterpret_cast<uintptr_t>(&ReturnToRecoveryPoint);
}

LONG CALLBACK OnException(EXCEPTION_POINTERS* info) {
  RecoveryPoint* point = tRecovery;
  const EXCEPTION_RECORD& record = *info->ExceptionRecord;
  if (!point || !IsProcessorFault(record.ExceptionCode)) return EXCEPTION_CONTINUE_SEARCH;
  CONTEXT& context = *info->ContextRecord;
  if (record.ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
    Abandon(*point, Describe(record, context), context);
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  // System DLLs fault on purpose inside their own handlers (probing
  // pointers): leave those alone; the unhandled-fault filter below gets
  // what nobody handles.
  if (!IsInsideProgram(reinterpret_cast<uintptr_t>(record.ExceptionAddress)) ||
      tThrowing) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  tPending = Describe(record, context);
  // A return address one byte into the faulting instruction: the unwinder
  // looks up the instruction before a return address, which is then the
  // faulting one itself.
  context.Rsp -= 8;
  *reinterpret_cast<DWORD64*>(context.Rsp) = context.Rip + 1;
  context.Rip = reinterpret_cast<uintptr_t>(&kestrune_throw_pending_fault);
  return EXCEPTION_CONTINUE_EXECUTION;
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* info) {
  RecoveryPoint* point = tRecovery;
  if (point && IsProcessorFault(info->ExceptionRecord->ExceptionCode)) {
    Abandon(*point, Describe(*info->ExceptionRecord, *info->ContextRecord),
            *info->ContextRecord);
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  return gPreviousFilter ? gPreviousFilter(info) : EXCEPTION_CONTINUE_SEARCH;
}

// The unwinder could not carry the fault to the recovery point: abandon the
// frames that it has not unwound yet.
void OnTerminate() {
  if (tThrowing && tRecovery) {
    tRecovery->fault = tPending;
    // The runtime took the exception as caught before calling here.
    abi::__cxa_end_catch();
    ReturnToRecoveryPoint();
  }
  if (gPreviousTerminate) gPreviousTerminate();
  std::abort();
}

void Install() {
  const auto base = reinterpret_cast<uintptr_t>(::GetModuleHandleA(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  gImageStart = base;
  gImageEnd = base + nt->OptionalHeader.SizeOfImage;
  gPreviousTerminate = std::set_terminate(&OnTerminate);
  gPreviousFilter = ::SetUnhandledExceptionFilter(&OnUnhandledException);
  ::AddVectoredExceptionHandler(1, &OnException);
}

// Kept apart so that the frame holding the jump buffer stays alive while
// the body runs and has nothing to destroy when the jump comes back.
__attribute__((noinline)) bool Attempt(RecoveryPoint* point, FaultBody body, void* context) {
  if (__builtin_setjmp(point->jump) != 0) return false;
  tRecovery = point;
  body(context);
  return true;
}

}  // namespace

bool RunWithFaultRecovery(FaultBody body, void* context, FaultRecord* fault) {
  std::call_once(gInstallOnce, &Install);
  RecoveryPoint point;
  point.previous = tRecovery;
  point.heldMutexes = win32::HeldMutexCount();
  struct Restore {
    RecoveryPoint* previous;
    ~Restore() { tRecovery = previous; }
  } restore{point.previous};
  try {
    if (Attempt(&point, body, context)) return true;
  } catch (const HardwareFault& thrown) {
    tThrowing = false;
    *fault = thrown.record;
    return false;
  }
  // Abandoned: leave the locks that the abandoned frames held.
  win32::LeaveMutexesAbove(point.heldMutexes);
  *fault = point.fault;
  return false;
}

AllocationFailureHandler SetAllocationFailureHandler(AllocationFailureHandler handler) {
  return std::set_new_handler(handler);
}

}  // namespace kestrune::platform

extern "C" void KestruneThrowPendingFault() {
  using namespace kestrune::platform;
  tThrowing = true;
  throw HardwareFault{tPending};
}
