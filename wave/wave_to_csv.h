// WAVE to CSV text: every sample printed with "%f", one line per frame
// (layout 0) or one line per channel (layout 1), scaled to a chosen range.
#pragma once

#include "base/conversion.h"

namespace kestrune {

class WaveToCsv : public Conversion {
 public:
  static constexpr int64_t kFramesPerRead = 1024;

  WaveToCsv() = default;
  ~WaveToCsv() override;

  // Setters return true only when the value changed.
  bool SetLayout(int layout);
  bool SetMinimum(double minimum);
  bool SetMaximum(double maximum);

 protected:
  void Run(ConversionJob& job) override;

 private:
  int layout_ = 0;
  double minimum_ = -1.0;
  double maximum_ = 1.0;
};

}  // namespace kestrune
