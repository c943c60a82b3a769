// Message boxes, opening addresses and the user's language on Windows.
#include <atomic>

#include "base/platform/win32/windows_api.h"

namespace kestrune::platform {

namespace {

// ShellExecuteA lives in shell32, which pulls in much of the shell when a
// program loads; it is bound on first use instead, since only the search
// page offers of the message boxes need it.
using ShellExecuteFunction = HINSTANCE(WINAPI*)(HWND, const char*, const char*,
                                                const char*, const char*, int);

class Win32UserInterface final : public UserInterface {
 public:
  int MessageBox(const std::string& text, const std::string& caption, unsigned style,
                 bool owned) override {
    // Without a desktop to show it on (a service, or Wine without a
    // display) the call fails at once with 0 or -1: the answer is then
    // "no" for questions and "OK" otherwise, as the POSIX side answers when
    // nobody can be asked.
    const int answer = ::MessageBoxA(owned ? ::GetDesktopWindow() : nullptr, text.c_str(),
                                     caption.c_str(), style);
    if (answer > 0) return answer;
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
