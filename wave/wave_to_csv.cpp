#include "wave/wave_to_csv.h"

#include <cstring>
#include <vector>

#include "base/file_stream.h"
#include "base/paths.h"
#include "wave/number_text.h"
#include "wave/wave_file.h"

namespace kestrune {

namespace {

// Collects text and writes it in large pieces.
class TextOutput {
 public:
  static constexpr size_t kCapacity = 1 << 18;

  explicit TextOutput(FileStream& out) : out_(out), buffer_(kCapacity) {}

  // Room for one more value with its separators.
  bool Reserve() { return used_ + kFixedTextCapacity + 4 <= kCapacity || Flush(); }
  void Put(char c) { buffer_[used_++] = c; }
  void PutCrLf() {
    buffer_[used_++] = '\r';
    buffer_[used_++] = '\n';
  }
  void PutValue(double v) { used_ += FormatFixed6(v, buffer_.data() + used_); }
  bool Flush() {
    const bool ok = used_ == 0 || out_.Write(buffer_.data(), used_) == used_;
    used_ = 0;
    return ok;
  }

 private:
  FileStream& out_;
  std::vector<char> buffer_;
  size_t used_ = 0;
};

class RangeScale {
 public:
  RangeScale(double minimum, double maximum)
      : identity_(minimum == -1.0 && maximum == 1.0),
        half_((maximum - minimum) / 2.0),
        center_(maximum - half_) {}
  double operator()(float x) const {
    return identity_ ? static_cast<double>(x) : static_cast<double>(x) * half_ + center_;
  }

 private:
  bool identity_;
  double half_;
  double center_;
};

}  // namespace

WaveToCsv::~WaveToCsv() { StopJob(); }

bool WaveToCsv::SetLayout(int layout) {
  if (layout == layout_) return false;
  layout_ = layout;
  return true;
}

bool WaveToCsv::SetMinimum(double minimum) {
  if (minimum == minimum_) return false;
  minimum_ = minimum;
  return true;
}

bool WaveToCsv::SetMaximum(double maximum) {
  if (maximum == maximum_) return false;
  maximum_ = maximum;
  return true;
}

void WaveToCsv::Run(ConversionJob& job) {
  SetProgress(0.0);
  FileStream out;
  if (!out.Open(OutputPath(), false, true, false, false, WaveFile::kNormalAttribute)) return;
  auto fail = [&] {
    out.Close();
    DeleteFile(OutputPath());
  };

  WaveFile wave;
  if (!wave.Open(InputPath()) || !wave.GetFormat() || !wave.HasData() ||
      (layout_ != 0 && layout_ != 1)) {
    fail();
    return;
  }
  auto data = wave.GetData();
  const int64_t frameCount = data->GetFrameCount();
  const int channels = wave.GetFormat()->GetChannels();
  const RangeScale scale(minimum_, maximum_);
  TextOutput text(out);
  FloatFrames frames;

  // Reads one channel pass (layout 1) or the whole file (layout 0).
  // Returns false when the output must go: a stop, a failed write, or a
  // file whose samples cannot be read at all.
  auto pass = [&](int channel) -> bool {
    int64_t written = 0;
    bool first = true;
    while (frameCount < 0 || written < frameCount) {
      if (job.stopRequested) return false;
      if (!data->ReadFloat(frames, kFramesPerRead)) break;
      const size_t n = frames.Frames();
      if (n == 0) break;
      for (size_t i = 0; i < n; ++i) {
        if (channel < 0) {
          if (!text.Reserve()) return false;
          if (!first) text.PutCrLf();
          for (int c = 0; c < channels; ++c) {
            if (c > 0 && !text.Reserve()) return false;
            if (c > 0) text.Put(',');
            text.PutValue(scale(frames.channels[c][i]));
          }
        } else {
          if (!text.Reserve()) return false;
          if (!first) text.Put(',');
          text.PutValue(scale(frames.channels[channel][i]));
        }
        first = false;
      }
      written += static_cast<int64_t>(n);
      if (frameCount > 0) {
        const double part = static_cast<double>(written) / static_cast<double>(frameCount);
        SetProgress(channel < 0 ? part : (part + channel) / channels);
      }
    }
    // Samples that exist but cannot be read (unsupported width or channel
    // count) give no output rather than an empty one.
    return !(written == 0 && frameCount > 0);
  };

  bool ok = true;
  if (layout_ == 0) {
    ok = pass(-1);
  } else {
    for (int c = 0; c < channels && ok; ++c) {
      data->SetPosition(0);
      ok = pass(c) && text.Reserve();
      if (ok) text.PutCrLf();
    }
  }
  if (!ok || !text.Flush()) {
    fail();
    return;
  }
  out.Close();
  SetProgress(1.0);
}

}  // namespace kestrune
