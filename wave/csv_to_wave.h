// CSV text to WAVE: the values are parsed into temporary files of 32-bit
// floats (one per channel line in layout 1), then a chunk tree described by
// the text header form is saved, its data chunk drawing the samples back
// from those files through Fill.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/conversion.h"
#include "base/file_stream.h"
#include "wave/samples.h"

namespace kestrune {

class CsvToWave : public Conversion, public SampleSource {
 public:
  static constexpr int kMaxChannels = 8;
  static constexpr size_t kPieceSize = 2048;  // the first piece holds the first line

  CsvToWave();
  ~CsvToWave() override;

  // Setters return true only when the value changed.
  bool SetLayout(int layout);          // 0 rows, 1 lines per channel
  bool SetMinimum(double minimum);
  bool SetMaximum(double maximum);
  bool SetBitsPerSample(int bits);     // 8, 16 or 24
  bool SetSampleRate(int sampleRate);  // 1 ... 192000

  int GetLayout() const { return layout_; }
  int GetBitsPerSample() const { return bitsPerSample_; }
  int GetSampleRate() const { return sampleRate_; }

  bool Fill(FloatFrames& frames) override;

 protected:
  void Run(ConversionJob& job) override;

 private:
  struct TempChannel;
  class RowSink;
  class LineSink;

  bool Parse(ConversionJob& job);
  bool OpenNewTemporary();
  bool FlushAll();
  void DeleteTemporaries();
  double Unscale(float value) const;
  size_t ReadFloats(TempChannel& channel, float* dst, size_t count);

  int layout_ = 0;
  double minimum_ = -1.0;
  double maximum_ = 1.0;
  int bitsPerSample_ = 16;
  int sampleRate_ = 44100;
  int channels_ = 0;
  std::vector<std::unique_ptr<TempChannel>> temporaries_;
  std::vector<float> rowBuffer_;
  ConversionJob* job_ = nullptr;
  bool stopped_ = false;
};

}  // namespace kestrune
