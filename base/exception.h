// Fatal faults: the enum thrown for them, its texts, the translation of
// processor and system faults into it, and the guard that runs a worker's
// body and reports what it caught.
//
// Ordinary failures are results checked by the caller. Only faults that no
// caller can handle (failed allocation, invalid memory access, arithmetic
// faults, broken argument contracts in the low-level helpers) end the body:
// the guard catches them and shows a message box titled "Exception".
#pragma once

#include <cstdint>
#include <string>

#include "base/platform/platform.h"

namespace kestrune {

namespace Exception {

enum ExceptionProcessor2Error {
  Normal = 0,
  MemoryAllocation = 1,
  MemoryAccess = 2,
  OperationResult = 3,
  Algorithm = 4,
  OsError = 5,
  Undefined = 6,
};

// The English text of a code ("An undefined error occurred." above 6).
std::string GetErrorText(int code);

// The system's text for the calling thread's last error, followed by the
// data of the last translated fault when there was one.
std::string GetSystemErrorText();
std::string GetSystemErrorText(uint32_t lastError);

// The fault translator: stores the fault in the last-fault record, then
// throws the ExceptionProcessor2Error that the code stands for; returns for
// codes that it leaves alone.
void TranslateStructured(uint32_t code, const platform::FaultRecord* record);

// The allocation-failure handler: throws MemoryAllocation, never returns.
[[noreturn]] void OnAllocationFailure();

// The last translated fault of the process (false before the first).
bool GetLastFault(platform::FaultRecord* record);

}  // namespace Exception

// A fault that no translator turned into ExceptionProcessor2Error. It is
// what a guarded body's catch-all clause receives for such faults; never
// thrown for anything else.
struct UntranslatedFault {
  uint32_t code;
};

// Installs TranslateStructured as this thread's fault translator and
// OnAllocationFailure as the allocation-failure handler; puts the previous
// ones back when destroyed (translator first).
class ExceptionScope {
 public:
  using Translator = void (*)(uint32_t code, const platform::FaultRecord* record);
  ExceptionScope();
  ~ExceptionScope();
  ExceptionScope(const ExceptionScope&) = delete;
  ExceptionScope& operator=(const ExceptionScope&) = delete;

 private:
  Translator previousTranslator_;
  platform::AllocationFailureHandler previousHandler_;
};

// HRESULTs that the helpers pass to RaiseFault.
inline constexpr uint32_t kHresultOutOfMemory = 0x8007000Eu;
inline constexpr uint32_t kHresultInvalidArgument = 0x80070057u;
inline constexpr uint32_t kHresultFail = 0x80004005u;
inline constexpr uint32_t kHresultArithmeticOverflow = 0x80070216u;

// Raises a non-continuable fault for a broken contract: code 0xC0000017 (no
// memory) for kHresultOutOfMemory, else 0xC000001D (illegal instruction).
// It goes through the thread's translator like a processor fault.
[[noreturn]] void RaiseFault(uint32_t hresult);
// RaiseFault with the thread's last error as an HRESULT.
[[noreturn]] void RaiseLastError();

// Runs body(context) the way a conversion worker runs its body: inside an
// ExceptionScope and a fault recovery point, with the two catch clauses that
// report a fault in the "Exception" message box. Returns after the report.
void RunGuardedBody(platform::FaultBody body, void* context);

}  // namespace kestrune
