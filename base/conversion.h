// The worker thread of a conversion and the protocol shared by the six
// conversion objects (start, progress, running state, output path, stop).
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "base/lock.h"

namespace kestrune {

class Conversion;

class ConversionJob {
 public:
  using WorkFunction = void (Conversion::*)(ConversionJob& job);

  // The thread exists and runs (or its start has failed) on return.
  ConversionJob(Conversion* owner, WorkFunction work, int priority);
  ~ConversionJob();  // Stop()s first
  ConversionJob(const ConversionJob&) = delete;
  ConversionJob& operator=(const ConversionJob&) = delete;

  bool IsRunning();
  // Sets stopRequested and returns when the worker has ended.
  void Stop();

  std::atomic<bool> stopRequested{false};

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Base of Mp3ToWave, WaveToMp3, OggToWave, WaveToOgg, CsvToWave, WaveToCsv.
// A derived class implements Run (the body) and, where it has one, the
// precondition CanStart. Its destructor must call StopJob() before its own
// members go away, since the worker may still be using them.
class Conversion {
 public:
  static constexpr int kIdlePriority = -15;

  virtual ~Conversion();

  bool SetInputPath(const std::string& path);   // false when unchanged
  bool SetOutputPath(const std::string& path);  // false when unchanged
  bool Start();
  bool IsRunning();
  // Whether the run-time libraries the conversion needs are all loaded; the
  // entry point asks right after construction (the Ogg Vorbis conversions).
  virtual bool LibrariesLoaded() const { return true; }
  double GetProgress() const { return progress_.load(std::memory_order_relaxed); }
  std::string GetOutputPath() const { return outputPath_; }

 protected:
  virtual bool CanStart() const { return true; }
  // The conversion body: runs on the worker, writes progress, polls
  // job.stopRequested in its main loop, reports its own failures.
  virtual void Run(ConversionJob& job) = 0;
  void SetProgress(double value) { progress_.store(value, std::memory_order_relaxed); }
  void StopJob();  // stops and frees the current job, if any

  const std::string& InputPath() const { return inputPath_; }
  const std::string& OutputPath() const { return outputPath_; }

 private:
  void RunBody(ConversionJob& job) { Run(job); }

  std::string inputPath_;
  std::string outputPath_;
  std::atomic<double> progress_{0.0};
  std::unique_ptr<ConversionJob> job_;
};

}  // namespace kestrune
