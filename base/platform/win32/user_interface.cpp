// Message boxes, opening addresses and the user's language on Windows.
#include <atomic>
#include <cstdio>

#include "base/platform/win32/windows_api.h"

namespace kestrune::platform {

namespace {

// ShellExecuteA lives in shell32, which pulls in much of the shell when a
// program loads; it is bound on first use instead, since only the search
// page offers of the message boxes need it.
using ShellExecuteFunction = HINSTANCE(WINAPI*)(HWND, const char*, const char*,
                                                const char*, const char*, int);

// A box that could not be shown is written to standard error instead, in
// the form the POSIX side uses: the caption on a line of its own, then the
// text with each CR LF as a line break. The bytes go out unchanged.
void WriteBoxToStandardError(const std::string& text, const std::string& caption) {
  std::string out = caption + "\n";
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      out += '\n';
      ++i;
    } else {
      out += text[i];
    }
  }
  out += '\n';
  std::fflush(stderr);
  HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
  if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
  size_t done = 0;
  WriteFile(reinterpret_cast<FileHandle>(error), out.data(), out.size(), &done);
}

class Win32UserInterface final : public UserInterface {
 public:
  int MessageBox(const std::string& text, const std::string& caption, unsigned style,
                 bool owned) override {
    const int answer = ::MessageBoxA(owned ? ::GetDesktopWindow() : nullptr, text.c_str(),
                                     caption.c_str(), style);
    if (answer > 0) return answer;
    // No desktop to show it on (a service, a session without a window
    // station, Wine without a display): the call fails at once. The text
    // still reaches the user, and a question is answered "no", as nobody
    // can be asked.
    WriteBoxToStandardError(text, caption);
    return (style & 0xF) == kMbYesNo ? kIdNo : kIdOk;
  }

  void ShellOpen(const std::string& address, int showCommand) override {
    HMODULE shell = ::LoadLibraryA("shell32.dll");
    if (!shell) return;
    auto execute =
        reinterpret_cast<ShellExecuteFunction>(
        reinterpret_cast<void*>(::GetProcAddress(shell, "ShellExecuteA")));
    if (execute) {
      execute(::GetDesktopWindow(), "open", address.c_str(), nullptr, nullptr, showCommand);
    }
    // shell32 stays loaded: the browser may still be talking to it.
  }

  uint16_t GetUserDefaultLangID() override { return ::GetUserDefaultLangID(); }
};

Win32UserInterface gSystemInterface;
std::atomic<UserInterface*> gInterface{nullptr};

}  // namespace

UserInterface& SystemUserInterface() { return gSystemInterface; }

UserInterface& CurrentUserInterface() {
  UserInterface* ui = gInterface.load(std::memory_order_acquire);
  return ui ? *ui : gSystemInterface;
}

void SetUserInterface(UserInterface* ui) { gInterface.store(ui, std::memory_order_release); }

}  // namespace kestrune::platform
