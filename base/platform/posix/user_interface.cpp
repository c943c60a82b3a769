// Message boxes, opening addresses and the user's language on POSIX.
//
// A message box is written to standard error: the caption on a line of its
// own, then the text with each CR LF as a line break. A yes/no box asks on
// the terminal when standard input is one and answers "no" at once
// otherwise, so that scripts never wait. Addresses open through xdg-open.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/platform/platform.h"

namespace kestrune::platform {

namespace {

std::string WithLineBreaks(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 1);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      out += '\n';
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

void WriteError(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

int AskYesNo() {
  for (;;) {
    WriteError("[y/n] ");
    char line[256];
    if (!std::fgets(line, sizeof line, stdin)) return kIdNo;
    if (line[0] == 'y' || line[0] == 'Y') return kIdYes;
    if (line[0] == 'n' || line[0] == 'N') return kIdNo;
  }
}

// The full path of a program found in PATH, or "".
std::string FindInPath(const char* program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    if (dir.empty()) dir = ".";
    std::string candidate = dir + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return std::string();
}

class PosixUserInterface final : public UserInterface {
 public:
  int MessageBox(const std::string& text, const std::string& caption,
                 unsigned style, bool /*owned*/) override {
    WriteError(caption + "\n" + WithLineBreaks(text) + "\n");
    if ((style & 0xF) == kMbYesNo) {
      return ::isatty(STDIN_FILENO) ? AskYesNo() : kIdNo;
    }
    return kIdOk;
  }

  void ShellOpen(const std::string& address, int /*showCommand*/) override {
    const std::string opener = FindInPath("xdg-open");
    if (opener.empty()) return;
    // Fork twice so that the opener is not our child and needs no wait;
    // only the short-lived middle process is reaped.
    pid_t middle = ::fork();
    if (middle < 0) return;
    if (middle == 0) {
      if (::fork() == 0) {
        char* const argv[] = {const_cast<char*>(opener.c_str()),
                              const_cast<char*>(address.c_str()), nullptr};
        ::execv(opener.c_str(), argv);
      }
      ::_exit(0);
    }
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
  }

  uint16_t GetUserDefaultLangID() override {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
      const char* value = std::getenv(name);
      if (value && *value) {
        return std::strncmp(value, "ja", 2) == 0 ? 1041 : 1033;
      }
    }
    return 1033;
  }
};

PosixUserInterface gSystemInterface;
std::atomic<UserInterface*> gInterface{nullptr};

}  // namespace

UserInterface& SystemUserInterface() { return gSystemInterface; }

UserInterface& CurrentUserInterface() {
  UserInterface* ui = gInterface.load(std::memory_order_acquire);
  return ui ? *ui : gSystemInterface;
}

void SetUserInterface(UserInterface* ui) {
  gInterface.store(ui, std::memory_order_release);
}

}  // namespace kestrune::platform
