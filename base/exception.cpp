#include "base/exception.h"

#include <atomic>
#include <cinttypes>
#include <cstdio>

#include "base/translation.h"

namespace kestrune {

namespace {

constexpr uint32_t kNoMemoryStatus = 0xC0000017u;
constexpr uint32_t kIllegalInstructionStatus = 0xC000001Du;
constexpr uint32_t kNonContinuable = 1;

constexpr const char* kErrorTexts[] = {
    "It ended normally.",
    "The memory allocating error occurred.",
    "The memory unlawful computer access error occurred.",
    "The operation result error occurred.",
    "The algorithm error occurred.",
    "OS error occurred.",
    "An undefined error occurred.",
};

// Which faults become which code; the rest go on untranslated.
struct Translation {
  uint32_t status;
  Exception::ExceptionProcessor2Error code;
};
constexpr Translation kTranslations[] = {
    {0x80000001u, Exception::OsError},          // guard page violation
    {0x80000002u, Exception::MemoryAccess},     // data type misalignment
    {0xC0000005u, Exception::MemoryAccess},     // access violation
    {0xC0000006u, Exception::OsError},          // in-page error
    {0xC0000008u, Exception::MemoryAccess},     // invalid handle
    {0xC000001Du, Exception::OsError},          // illegal instruction
    {0xC0000025u, Exception::Algorithm},        // non-continuable exception
    {0xC0000026u, Exception::OsError},          // invalid disposition
    {0xC000008Cu, Exception::MemoryAccess},     // array bounds exceeded
    {0xC000008Eu, Exception::OperationResult},  // float divide by zero
    {0xC000008Fu, Exception::OperationResult},  // float inexact result
    {0xC0000090u, Exception::Undefined},        // float invalid operation
    {0xC0000091u, Exception::OperationResult},  // float overflow
    {0xC0000092u, Exception::OperationResult},  // float stack check
    {0xC0000094u, Exception::OperationResult},  // integer divide by zero
    {0xC0000095u, Exception::OperationResult},  // integer overflow
    {0xC00000FDu, Exception::Algorithm},        // stack overflow
    {0xC0000194u, Exception::Algorithm},        // possible deadlock
};

// The last-fault record: process-wide, written by whichever thread's
// translator runs, never cleared.
struct LastFault {
  std::atomic<bool> present{false};
  std::atomic<uint32_t> code{0};
  std::atomic<uint32_t> flags{0};
  std::atomic<uintptr_t> address{0};
  std::atomic<uint32_t> numberParameters{0};
};
LastFault gLastFault;

// The fault translator of this thread (installed by ExceptionScope).
thread_local ExceptionScope::Translator tTranslator = nullptr;

// Hands a fault to the thread's translator; what it leaves alone goes on as
// an untranslated fault.
[[noreturn]] void Deliver(const platform::FaultRecord& record) {
  if (tTranslator) tTranslator(record.code, &record);
  throw UntranslatedFault{record.code};
}

void ShowReport(uint32_t lastError, const std::string& first) {
  std::string text = first;
  text += "\r\n";
  text += TranslateText(
      "Immediately save the date with another name and restart the application.");
  text += "\r\n";
  text += Exception::GetSystemErrorText(lastError);
  platform::CurrentUserInterface().MessageBox(
      text, "Exception", platform::kMbOk | platform::kMbIconExclamation, true);
}

struct GuardedCall {
  platform::FaultBody body;
  void* context;
};

}  // namespace

namespace Exception {

std::string GetErrorText(int code) {
  if (code < 0 || code > Undefined) code = Undefined;
  return kErrorTexts[code];
}

std::string GetSystemErrorText() { return GetSystemErrorText(platform::GetLastError()); }

std::string GetSystemErrorText(uint32_t lastError) {
  std::string text = platform::GetErrorMessage(lastError);
  platform::FaultRecord record;
  if (GetLastFault(&record)) {
    // Pointer-width hexadecimal, as the Windows runtime prints "%p".
    char buffer[160];
    std::snprintf(buffer, sizeof buffer,
                  "\nExceptionCode: %016" PRIXPTR ", ExceptionFlags: %016" PRIXPTR
                  ", ExceptionAddress: %016" PRIXPTR ", NumberParameters: %016" PRIXPTR "\n",
                  static_cast<uintptr_t>(record.code), static_cast<uintptr_t>(record.flags),
                  record.address, static_cast<uintptr_t>(record.numberParameters));
    text += buffer;
  }
  return text;
}

bool GetLastFault(platform::FaultRecord* record) {
  if (!gLastFault.present.load(std::memory_order_acquire)) return false;
  record->code = gLastFault.code.load(std::memory_order_relaxed);
  record->flags = gLastFault.flags.load(std::memory_order_relaxed);
  record->address = gLastFault.address.load(std::memory_order_relaxed);
  record->numberParameters = gLastFault.numberParameters.load(std::memory_order_relaxed);
  return true;
}

void TranslateStructured(uint32_t code, const platform::FaultRecord* record) {
  gLastFault.code.store(code, std::memory_order_relaxed);
  if (record) {
    gLastFault.flags.store(record->flags, std::memory_order_relaxed);
    gLastFault.address.store(record->address, std::memory_order_relaxed);
    gLastFault.numberParameters.store(record->numberParameters, std::memory_order_relaxed);
    gLastFault.present.store(true, std::memory_order_release);
  }
  for (const Translation& t : kTranslations) {
    if (t.status == code) throw t.code;
  }
}

void OnAllocationFailure() { throw MemoryAllocation; }

}  // namespace Exception

ExceptionScope::ExceptionScope()
    : previousTranslator_(tTranslator),
      previousHandler_(platform::SetAllocationFailureHandler(&Exception::OnAllocationFailure)) {
  tTranslator = &Exception::TranslateStructured;
}

ExceptionScope::~ExceptionScope() {
  tTranslator = previousTranslator_;
  platform::SetAllocationFailureHandler(previousHandler_);
}

void RaiseFault(uint32_t hresult) {
  platform::FaultRecord record;
  record.code = hresult == kHresultOutOfMemory ? kNoMemoryStatus : kIllegalInstructionStatus;
  record.flags = kNonContinuable;
  record.address = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
  record.numberParameters = 0;
  Deliver(record);
}

void RaiseLastError() {
  const uint32_t error = platform::GetLastError();
  const auto asSigned = static_cast<int32_t>(error);
  const uint32_t hresult = asSigned <= 0 ? error : (0x80070000u | (error & 0xFFFFu));
  RaiseFault(hresult);
}

void RunGuardedBody(platform::FaultBody body, void* context) {
  GuardedCall call{body, context};
  try {
    ExceptionScope scope;
    platform::FaultRecord fault;
    const bool completed = platform::RunWithFaultRecovery(
        [](void* raw) {
          auto* c = static_cast<GuardedCall*>(raw);
          c->body(c->context);
        },
        &call, &fault);
    if (!completed) Deliver(fault);
  } catch (Exception::ExceptionProcessor2Error code) {
    const uint32_t lastError = platform::GetLastError();
    ShowReport(lastError, TranslateText(Exception::GetErrorText(code)));
  } catch (...) {
    const uint32_t lastError = platform::GetLastError();
    ShowReport(lastError,
               TranslateText("An error has occurred. The command will be cancelled.\r\n"));
  }
}

}  // namespace kestrune
