#include "base/exception.h"

#include <cfenv>
#include <cerrno>
#ifdef _WIN32
#include <xmmintrin.h>
#endif
#include <gtest/gtest.h>

#include <new>
#include <regex>
#include <stdexcept>
#include <string>

#include "base/contract.h"
#include "base/translation.h"
#include "tests/base/worker_body.h"
#include "tests/support/recording_ui.h"

#if defined(__SANITIZE_ADDRESS__)
#define KESTRUNE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTRUNE_ASAN 1
#endif
#endif

// The faulting functions must really fault: no sanitizer check may catch
// the fault first, and the optimiser must not see through the operands.
#define FAULTING __attribute__((noinline, no_sanitize("undefined", "address")))

namespace kestrune {
namespace {

// The system's texts for "no error" and "file not found".
#ifdef _WIN32
// The system's message table words them ("The operation completed
// successfully." on Windows, "Success." under Wine), with CR LF at the end.
const std::string kSuccessText = kestrune::platform::GetErrorMessage(0);
#else
const std::string kSuccessText = "Success";
constexpr const char* kNotFoundText = "No such file or directory";
#endif

// Unmasks one floating-point exception of the calling thread.
void EnableFloatTrap(int exception) {
#ifdef _WIN32
  // mingw's runtime has no feenableexcept; the FE_ bits are the SSE status
  // register's flag bits, whose mask bits lie 7 places higher.
  _mm_setcsr(_mm_getcsr() & ~(static_cast<unsigned>(exception) << 7));
#else
  feenableexcept(exception);
#endif
}

using testing::BodyConversion;
using testing::RecordingUserInterface;

constexpr const char* kSaveAdvice =
    "Immediately save the date with another name and restart the application.";

FAULTING void WriteThroughNull() {
  volatile int* volatile pointer = nullptr;
  *pointer = 1;
}

FAULTING int DivideByZero() {
  volatile int numerator = 7;
  volatile int denominator = 0;
  volatile int quotient = numerator / denominator;
  return quotient;
}

FAULTING double InvalidFloatOperation() {
  EnableFloatTrap(FE_INVALID);
  volatile double zero = 0.0;
  volatile double result = zero / zero;
  return result;
}

FAULTING double FloatUnderflow() {
  EnableFloatTrap(FE_UNDERFLOW);
  volatile double tiny = 1e-300;
  volatile double result = tiny * tiny;
  return result;
}

volatile bool gNeverTrue = false;
FAULTING int Recurse(int depth) {
  volatile char pad[512];
  pad[0] = static_cast<char>(depth);
  if (gNeverTrue) return pad[0];
  return Recurse(depth + 1) + pad[0];
}

void FailHugeAllocation() {
#ifdef KESTRUNE_ASAN
  // The sanitizer's allocator ends the process on a failed allocation
  // instead of calling the handler; call the installed handler the way the
  // runtime's operator new would.
  std::new_handler handler = std::get_new_handler();
  ASSERT_NE(handler, nullptr);
  handler();
#else
  volatile size_t size = size_t{1} << 62;
  void* memory = ::operator new(size);
  ::operator delete(memory);
#endif
}

// Runs body on a conversion worker and returns the boxes it showed.
std::vector<RecordingUserInterface::Box> BoxesOfWorker(std::function<void()> body) {
  RecordingUserInterface ui;
  {
    BodyConversion conversion([&](ConversionJob&) { body(); });
    EXPECT_TRUE(conversion.Start());
    testing::WaitUntilEnded(conversion);
  }
  return ui.Boxes();
}

std::string Hex16(uint32_t value) {
  char buffer[17];
  std::snprintf(buffer, sizeof buffer, "%016X", value);
  return buffer;
}

// Checks one "Exception" box and returns the fault address it shows.
uintptr_t ExpectFaultReport(const std::vector<RecordingUserInterface::Box>& boxes,
                            const std::string& first, uint32_t code, uint32_t flags,
                            uint32_t parameters) {
  EXPECT_EQ(boxes.size(), 1u);
  if (boxes.empty()) return 0;
  const auto& box = boxes[0];
  EXPECT_EQ(box.caption, "Exception");
  EXPECT_EQ(box.style, 0x30u);
  EXPECT_TRUE(box.owned);
  const std::string head = first + "\r\n" + kSaveAdvice + "\r\n";
  EXPECT_EQ(box.text.substr(0, head.size()), head);
  const std::regex tail("[^\n]*(\r\n)?\nExceptionCode: " + Hex16(code) + ", ExceptionFlags: " +
                        Hex16(flags) + ", ExceptionAddress: ([0-9A-F]{16}), NumberParameters: " +
                        Hex16(parameters) + "\n");
  std::smatch match;
  const std::string rest = box.text.substr(std::min(head.size(), box.text.size()));
  EXPECT_TRUE(std::regex_match(rest, match, tail)) << box.text;
  return match.empty() ? 0 : std::stoull(match[2].str(), nullptr, 16);
}

void ExpectAddressIn(uintptr_t address, const void* function) {
  const auto start = reinterpret_cast<uintptr_t>(function);
  EXPECT_GE(address, start);
  EXPECT_LT(address, start + 512);
}

TEST(Faults, EachKindOfFaultOnAWorkerIsReported) {
  const std::string catchAll = "An error has occurred. The command will be cancelled.\r\n";
  struct Case {
    const char* name;
    void (*body)();
    std::string first;  // the first line of the box
    uint32_t code, flags, parameters;
    const void* faultingFunction;  // where the fault address must lie, if known
  };
  const Case cases[] = {
      {"null write", [] { WriteThroughNull(); },
       "The memory unlawful computer access error occurred.", 0xC0000005u, 0, 2,
       reinterpret_cast<const void*>(&WriteThroughNull)},
      {"integer division by zero", [] { DivideByZero(); }, "The operation result error occurred.",
       0xC0000094u, 0, 0, reinterpret_cast<const void*>(&DivideByZero)},
      {"invalid float operation", [] { InvalidFloatOperation(); }, "An undefined error occurred.",
       0xC0000090u, 0, 0, nullptr},
      // Underflow is not translated: it reaches the catch-all clause.
      {"float underflow", [] { FloatUnderflow(); }, catchAll, 0xC0000093u, 0, 0, nullptr},
      {"illegal instruction", [] { __builtin_trap(); }, "OS error occurred.", 0xC000001Du, 0, 0,
       nullptr},
      {"stack overflow", [] { Recurse(0); }, "The algorithm error occurred.", 0xC00000FDu, 0, 2,
       nullptr},
      // Broken contracts raise "illegal instruction", translated to OsError.
      {"negative length", [] { MakeText("abc", -1); }, "OS error occurred.", 0xC000001Du, 1, 0,
       nullptr},
      {"size overflow", [] { CheckedAddSize(0x7FFFFFF0, 0x10); }, "OS error occurred.",
       0xC000001Du, 1, 0, nullptr},
      // Out of memory raised by a helper is not translated: catch-all clause.
      {"raised out of memory", [] { RaiseFault(kHresultOutOfMemory); }, catchAll, 0xC0000017u, 1,
       0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const uintptr_t address =
        ExpectFaultReport(BoxesOfWorker(c.body), c.first, c.code, c.flags, c.parameters);
    EXPECT_NE(address, 0u);
    if (c.faultingFunction) ExpectAddressIn(address, c.faultingFunction);
    platform::FaultRecord record;
    ASSERT_TRUE(Exception::GetLastFault(&record));
    EXPECT_EQ(record.code, c.code);
    EXPECT_EQ(record.address, address);
  }
  EXPECT_EQ(CheckedAddSize(0x7FFFFFF0, 0xF), 0x7FFFFFFF);

  auto boxes = BoxesOfWorker([] { FailHugeAllocation(); });
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text.substr(0, 39), "The memory allocating error occurred.\r\n");
  // Any other exception thrown by a body also lands in the catch-all.
  boxes = BoxesOfWorker([] { throw std::runtime_error("x"); });
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text.substr(0, 57), catchAll + "\r\n");
  EXPECT_NE(boxes[0].text.find("ExceptionCode: 00000000C0000017"), std::string::npos);
}

TEST(Faults, ReportTextsGoThroughTheTranslatorAndBodiesRunAgainAfterAFault) {
  SetTranslator([](const std::string& text) -> std::string {
    if (text == "The operation result error occurred.") return "RESULT";
    if (text == kSaveAdvice) return "SAVE";
    return text;
  });
  RecordingUserInterface ui;
  int completed = 0;
  {
    BodyConversion conversion([&](ConversionJob&) {
      if (completed++ == 0) DivideByZero();
    });
    ASSERT_TRUE(conversion.Start());
    testing::WaitUntilEnded(conversion);
    ASSERT_TRUE(conversion.Start());  // the same object runs again
    testing::WaitUntilEnded(conversion);
  }
  SetTranslator(nullptr);
  EXPECT_EQ(completed, 2);
  const auto boxes = ui.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text.substr(0, 14), "RESULT\r\nSAVE\r\n");

  // Two faults in a row on one thread are both recovered.
  int faults = 0;
  for (int i = 0; i < 2; ++i) {
    RunGuardedBody([](void* count) { ++*static_cast<int*>(count); WriteThroughNull(); },
                   &faults);
  }
  EXPECT_EQ(faults, 2);
  EXPECT_EQ(ui.Boxes().size(), 3u);
}

TEST(Faults, TranslationTableAndSystemText) {
  // Before any fault was translated the system text stands alone. The
  // record is process-wide, so look at it in a process of its own.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        platform::SetLastError(0);
        std::exit(Exception::GetSystemErrorText() == kSuccessText ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
#ifdef _WIN32
  const std::string notFound = platform::GetErrorMessage(2);
  ASSERT_GT(notFound.size(), 2u);
  EXPECT_EQ(notFound.substr(notFound.size() - 2), "\r\n");
  EXPECT_EQ(Exception::GetSystemErrorText(2).substr(0, notFound.size()), notFound);
#else
  EXPECT_EQ(Exception::GetSystemErrorText(2).substr(0, 25), kNotFoundText);
#endif

  const std::pair<uint32_t, int> table[] = {
      {0x80000001u, 5}, {0x80000002u, 2}, {0xC0000005u, 2}, {0xC0000006u, 5},
      {0xC0000008u, 2}, {0xC000001Du, 5}, {0xC0000025u, 4}, {0xC0000026u, 5},
      {0xC000008Cu, 2}, {0xC000008Eu, 3}, {0xC000008Fu, 3}, {0xC0000090u, 6},
      {0xC0000091u, 3}, {0xC0000092u, 3}, {0xC0000094u, 3}, {0xC0000095u, 3},
      {0xC00000FDu, 4}, {0xC0000194u, 4}};
  for (const auto& [code, value] : table) {
    try {
      Exception::TranslateStructured(code, nullptr);
      ADD_FAILURE() << std::hex << code << " not translated";
    } catch (Exception::ExceptionProcessor2Error caught) {
      EXPECT_EQ(static_cast<int>(caught), value) << std::hex << code;
    }
  }
  for (uint32_t code : {0xC0000017u, 0xC000008Du, 0xC0000093u, 0x40010005u}) {
    EXPECT_NO_THROW(Exception::TranslateStructured(code, nullptr)) << std::hex << code;
  }
  platform::FaultRecord given{0xC0000005u, 0, 0xABCDu, 2};
  EXPECT_THROW(Exception::TranslateStructured(given.code, &given),
               Exception::ExceptionProcessor2Error);
  EXPECT_EQ(Exception::GetSystemErrorText(0),
            kSuccessText + "\nExceptionCode: 00000000C0000005, ExceptionFlags: 0000000000000000, "
            "ExceptionAddress: 000000000000ABCD, NumberParameters: 0000000000000002\n");

  EXPECT_EQ(Exception::GetErrorText(0), "It ended normally.");
  EXPECT_EQ(Exception::GetErrorText(1), "The memory allocating error occurred.");
  EXPECT_EQ(Exception::GetErrorText(4), "The algorithm error occurred.");
  EXPECT_EQ(Exception::GetErrorText(6), "An undefined error occurred.");
  EXPECT_EQ(Exception::GetErrorText(7), "An undefined error occurred.");
  EXPECT_EQ(Exception::GetErrorText(-1), "An undefined error occurred.");
}

TEST(Faults, ScopeInstallsAndRestoresAndOutsideAGuardFaultsStayFatal) {
  std::new_handler before = std::get_new_handler();
  {
    ExceptionScope scope;
    EXPECT_NE(std::get_new_handler(), before);
    EXPECT_THROW(RaiseFault(kHresultInvalidArgument), Exception::ExceptionProcessor2Error);
    platform::SetLastError(2);
    try {
      RaiseLastError();
    } catch (Exception::ExceptionProcessor2Error code) {
      EXPECT_EQ(code, Exception::OsError);
    }
  }
  EXPECT_EQ(std::get_new_handler(), before);
  // Without a scope the translator is not installed.
  EXPECT_THROW(RaiseFault(kHresultInvalidArgument), UntranslatedFault);

  // Once the handlers are in, a fault outside any guard still ends the
  // process as before.
  RunGuardedBody([](void*) {}, nullptr);
  EXPECT_DEATH(WriteThroughNull(), "");
}

}  // namespace
}  // namespace kestrune
