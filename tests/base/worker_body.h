// A conversion whose body is any callable, for running code on a real
// conversion worker in tests.
#pragma once

#include <functional>
#include <thread>
#include <utility>

#include "base/conversion.h"

namespace kestrune::testing {

class BodyConversion final : public Conversion {
 public:
  explicit BodyConversion(std::function<void(ConversionJob&)> body, bool canStart = true)
      : body_(std::move(body)), canStart_(canStart) {}
  ~BodyConversion() override { StopJob(); }
  using Conversion::SetProgress;

 protected:
  bool CanStart() const override { return canStart_; }
  void Run(ConversionJob& job) override { body_(job); }

 private:
  std::function<void(ConversionJob&)> body_;
  bool canStart_;
};

inline void WaitUntilEnded(Conversion& conversion) {
  while (conversion.IsRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace kestrune::testing
