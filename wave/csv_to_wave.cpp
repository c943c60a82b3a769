#include "wave/csv_to_wave.h"

#include <algorithm>

#include "base/paths.h"
#include "wave/csv_scanner.h"
#include "wave/text_form.h"
#include "wave/wave_file.h"

namespace kestrune {

namespace {

constexpr size_t kReadSize = 1 << 16;
constexpr size_t kFlushValues = 1 << 14;

}  // namespace

// One temporary file of floats: written during parsing, read during saving.
struct CsvToWave::TempChannel {
  std::string path;
  FileStream stream;
  std::vector<float> pending;
  uint64_t values = 0;

  bool Flush() {
    const size_t bytes = pending.size() * sizeof(float);
    const bool ok = bytes == 0 || stream.Write(pending.data(), bytes) == bytes;
    pending.clear();
    return ok;
  }
  bool Put(double value) {
    pending.push_back(static_cast<float>(value));
    ++values;
    return pending.size() < kFlushValues || Flush();
  }
};

// Layout 0: each line is one frame. Values beyond the channel count of the
// first line are dropped; a short line is completed with silence.
class CsvToWave::RowSink : public CsvScanner::Sink {
 public:
  RowSink(CsvToWave& job, TempChannel& out) : job_(job), out_(out) {}
  bool Value(double value) override {
    if (count_ < job_.rowBuffer_.size()) job_.rowBuffer_[count_++] = value;
    return true;
  }
  bool LineEnd(bool) override {
    const double silence = job_.maximum_ - (job_.maximum_ - job_.minimum_) / 2.0;
    for (size_t c = 0; c < job_.rowBuffer_.size(); ++c) {
      if (!out_.Put(c < count_ ? job_.rowBuffer_[c] : silence)) return false;
    }
    count_ = 0;
    return true;
  }

 private:
  CsvToWave& job_;
  TempChannel& out_;
  size_t count_ = 0;
};

// Layout 1: each line is one channel, in its own temporary file.
class CsvToWave::LineSink : public CsvScanner::Sink {
 public:
  explicit LineSink(CsvToWave& job) : job_(job) {}
  bool Value(double value) override { return job_.temporaries_.back()->Put(value); }
  bool LineEnd(bool last) override {
    if (last) return true;
    if (job_.temporaries_.size() > static_cast<size_t>(kMaxChannels)) return false;
    TempChannel& done = *job_.temporaries_.back();
    const bool ok = done.Flush();
    done.stream.Close();
    return ok && job_.OpenNewTemporary();
  }

 private:
  CsvToWave& job_;
};

CsvToWave::CsvToWave() = default;

CsvToWave::~CsvToWave() {
  StopJob();
  DeleteTemporaries();
}

bool CsvToWave::SetLayout(int layout) {
  if ((layout != 0 && layout != 1) || layout == layout_) return false;
  layout_ = layout;
  return true;
}

bool CsvToWave::SetMinimum(double minimum) {
  if (minimum == minimum_) return false;
  minimum_ = minimum;
  return true;
}

bool CsvToWave::SetMaximum(double maximum) {
  if (maximum == maximum_) return false;
  maximum_ = maximum;
  return true;
}

bool CsvToWave::SetBitsPerSample(int bits) {
  if ((bits != 8 && bits != 16 && bits != 24) || bits == bitsPerSample_) return false;
  bitsPerSample_ = bits;
  return true;
}

bool CsvToWave::SetSampleRate(int sampleRate) {
  if (sampleRate < 1 || sampleRate > 192000 || sampleRate == sampleRate_) return false;
  sampleRate_ = sampleRate;
  return true;
}

bool CsvToWave::OpenNewTemporary() {
  auto channel = std::make_unique<TempChannel>();
  channel->path = MakeUniqueFileName("", "", "dat", "");
  if (channel->path.empty()) return false;
  const bool opened = channel->stream.Open(channel->path, false, true, false, false);
  temporaries_.push_back(std::move(channel));  // deleted later even when not opened
  return opened;
}

bool CsvToWave::FlushAll() {
  bool ok = true;
  for (auto& t : temporaries_) ok = t->Flush() && ok;
  return ok;
}

void CsvToWave::DeleteTemporaries() {
  for (auto& t : temporaries_) {
    t->stream.Close();
    DeleteFile(t->path);
  }
  temporaries_.clear();
}

bool CsvToWave::Parse(ConversionJob& job) {
  FileStream input;
  if (!input.Open(InputPath(), true, false, true, false)) return false;
  if (!OpenNewTemporary()) return false;
  const double inputSize = static_cast<double>(input.Size());

  std::vector<char> piece(kReadSize);
  size_t got = input.Read(piece.data(), piece.size());
  // A UTF-8 byte order mark (as spreadsheet programs write) is no value.
  if (got >= 3 && std::equal(piece.begin(), piece.begin() + 3, "\xEF\xBB\xBF")) {
    piece.erase(piece.begin(), piece.begin() + 3);
    got -= 3;
    piece.resize(kReadSize);
  }
  if (layout_ == 0) {
    // The channel count is 1 + the commas of the first line, which must end
    // (in CR LF) within the first piece of 2048 bytes.
    const size_t window = std::min(got, kPieceSize);
    const auto first = std::search(piece.begin(), piece.begin() + window,
                                   std::begin("\r\n"), std::begin("\r\n") + 2);
    if (first == piece.begin() + window) return false;
    channels_ = 1 + static_cast<int>(std::count(piece.begin(), first, ','));
    if (channels_ > kMaxChannels) return false;
    rowBuffer_.assign(static_cast<size_t>(channels_), 0.0);
  }

  CsvScanner scanner;
  RowSink rows(*this, *temporaries_.front());
  LineSink lines(*this);
  CsvScanner::Sink& sink = layout_ == 0 ? static_cast<CsvScanner::Sink&>(rows) : lines;
  uint64_t position = 0;
  while (got > 0) {
    if (job.stopRequested) {
      stopped_ = true;
      return false;
    }
    if (!scanner.Feed(piece.data(), got, sink)) return false;
    position += got;
    if (inputSize > 0) SetProgress(static_cast<double>(position) / inputSize * 0.5);
    got = input.Read(piece.data(), piece.size());
  }
  if (!scanner.Finish(sink) || !FlushAll()) return false;

  if (layout_ == 1) {
    // Files that received nothing (the one opened after the last LF) go.
    for (auto it = temporaries_.begin(); it != temporaries_.end();) {
      if ((*it)->values == 0) {
        (*it)->stream.Close();
        DeleteFile((*it)->path);
        it = temporaries_.erase(it);
      } else {
        ++it;
      }
    }
    channels_ = static_cast<int>(temporaries_.size());
  }
  if (channels_ < 1 || channels_ > kMaxChannels) return false;

  for (auto& t : temporaries_) {
    t->stream.Close();
    if (!t->stream.Open(t->path, true, false, true, false, WaveFile::kReadFlags)) return false;
  }
  return true;
}

void CsvToWave::Run(ConversionJob& job) {
  job_ = &job;
  stopped_ = false;
  channels_ = 0;
  DeleteTemporaries();
  SetProgress(0.0);

  if (Parse(job)) {
    WaveFile wave;
    const bool saved =
        wave.LoadText(MakeTextHeader(sampleRate_, channels_, bitsPerSample_), this) &&
        wave.SaveAs(OutputPath());
    if (!saved || stopped_) DeleteFile(OutputPath());
  }
  DeleteTemporaries();
  job_ = nullptr;
}

double CsvToWave::Unscale(float value) const {
  if (minimum_ == -1.0 && maximum_ == 1.0) return value;
  const double half = (maximum_ - minimum_) / 2.0;
  return (static_cast<double>(value) - (maximum_ - half)) / half;
}

size_t CsvToWave::ReadFloats(TempChannel& channel, float* dst, size_t count) {
  size_t bytes = 0;
  const size_t wanted = count * sizeof(float);
  auto* raw = reinterpret_cast<uint8_t*>(dst);
  while (bytes < wanted) {
    const size_t n = channel.stream.Read(raw + bytes, wanted - bytes);
    if (n == 0) break;
    bytes += n;
  }
  return bytes / sizeof(float);
}

bool CsvToWave::Fill(FloatFrames& frames) {
  if (job_ != nullptr && job_->stopRequested) {
    stopped_ = true;
    return false;
  }
  const size_t channels = static_cast<size_t>(channels_);
  const size_t capacity = frames.Frames();
  if (channels == 0 || capacity == 0 || temporaries_.size() < (layout_ == 0 ? 1 : channels)) {
    return false;
  }
  frames.Resize(channels, capacity);
  size_t delivered = 0;
  if (layout_ == 0) {
    std::vector<float> interleaved(capacity * channels);
    delivered = ReadFloats(*temporaries_[0], interleaved.data(), interleaved.size()) / channels;
    for (size_t i = 0; i < delivered; ++i) {
      for (size_t c = 0; c < channels; ++c) {
        frames.channels[c][i] = static_cast<float>(Unscale(interleaved[i * channels + c]));
      }
    }
  } else {
    // Channels of unequal length: the shorter ones are completed with
    // silence up to the longest.
    for (size_t c = 0; c < channels; ++c) {
      float* dst = frames.channels[c].data();
      const size_t n = ReadFloats(*temporaries_[c], dst, capacity);
      for (size_t i = 0; i < n; ++i) dst[i] = static_cast<float>(Unscale(dst[i]));
      std::fill(dst + n, dst + capacity, 0.0f);
      delivered = std::max(delivered, n);
    }
  }
  TempChannel& first = *temporaries_[0];
  const double size = static_cast<double>(first.stream.Size());
  if (size > 0) SetProgress(0.5 + static_cast<double>(first.stream.Tell()) / size * 0.5);
  frames.Resize(channels, delivered);
  frames.silence = false;
  return delivered > 0;
}

}  // namespace kestrune
