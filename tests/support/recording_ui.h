// A user interface that records message boxes and opened addresses instead
// of showing them; installed for its lifetime.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "base/platform/platform.h"

namespace kestrune::testing {

class RecordingUserInterface final : public platform::UserInterface {
 public:
  struct Box {
    std::string text;
    std::string caption;
    unsigned style;
    bool owned;
  };
  struct Opened {
    std::string address;
    int showCommand;
  };

  RecordingUserInterface() { platform::SetUserInterface(this); }
  ~RecordingUserInterface() override { platform::SetUserInterface(nullptr); }

  int MessageBox(const std::string& text, const std::string& caption, unsigned style,
                 bool owned) override {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      boxes_.push_back({text, caption, style, owned});
    }
    if (whileOpen) whileOpen();  // the user reading the box
    return answer;
  }
  void ShellOpen(const std::string& address, int showCommand) override {
    std::lock_guard<std::mutex> hold(mutex_);
    opened_.push_back({address, showCommand});
  }
  uint16_t GetUserDefaultLangID() override { return languageId; }

  std::vector<Box> Boxes() {
    std::lock_guard<std::mutex> hold(mutex_);
    return boxes_;
  }
  std::vector<Opened> OpenedAddresses() {
    std::lock_guard<std::mutex> hold(mutex_);
    return opened_;
  }

  int answer = platform::kIdNo;
  std::function<void()> whileOpen;
  uint16_t languageId = 1033;

 private:
  std::mutex mutex_;
  std::vector<Box> boxes_;
  std::vector<Opened> opened_;
};

}  // namespace kestrune::testing
