#include "base/conversion.h"

#include "base/exception.h"
#include "base/platform/platform.h"

namespace kestrune {

struct ConversionJob::Impl {
  ConversionJob* job = nullptr;
  Conversion* owner = nullptr;
  WorkFunction work = nullptr;
  CriticalSection lock;  // guards thread
  platform::ThreadHandle thread = nullptr;
  // Kept by the creator: Stop waits on it until the thread has really gone,
  // after the worker has cleared `thread`.
  platform::ThreadWatch* watch = nullptr;

  static void Body(void* raw) {
    auto* impl = static_cast<Impl*>(raw);
    (impl->owner->*(impl->work))(*impl->job);
  }
  static void Procedure(void* raw);
};

void ConversionJob::Impl::Procedure(void* raw) {
  auto* impl = static_cast<Impl*>(raw);
  RunGuardedBody(&Body, impl);
  LockHolder hold(impl->lock);
  platform::CloseThreadHandle(impl->thread);
  impl->thread = nullptr;
  // Nothing of the job may be touched after this point: the creator may
  // free it as soon as it sees the thread gone.
}

ConversionJob::ConversionJob(Conversion* owner, WorkFunction work, int priority)
    : impl_(new Impl) {
  impl_->job = this;
  impl_->owner = owner;
  impl_->work = work;
  // The lock is held until the handle is stored, so that the worker's last
  // step cannot run before it.
  LockHolder hold(impl_->lock);
  impl_->thread = platform::CreateSuspendedThread(&Impl::Procedure, impl_.get());
  if (impl_->thread) {
    platform::SetThreadPriority(impl_->thread, priority);
    if (platform::ResumeThread(impl_->thread)) {
      // Still under the lock: the worker cannot have closed its handle yet.
      impl_->watch = platform::WatchThread(impl_->thread);
    } else {
      platform::TerminateSuspendedThread(impl_->thread);
      impl_->thread = nullptr;
    }
  }
}

ConversionJob::~ConversionJob() { Stop(); }

bool ConversionJob::IsRunning() {
  LockHolder hold(impl_->lock);
  return impl_->thread != nullptr;
}

void ConversionJob::Stop() {
  stopRequested.store(true);
  while (IsRunning()) platform::Sleep(1);
  // The worker has cleared its handle but may still be leaving the lock and
  // ending (thread-local destructors, runtime detach). Wait for its very
  // end, so that neither the lock's deletion nor the process's exit can
  // overtake it.
  platform::AwaitThreadEnd(impl_->watch);
  impl_->watch = nullptr;
}

Conversion::~Conversion() { StopJob(); }

bool Conversion::SetInputPath(const std::string& path) {
  if (path == inputPath_) return false;
  inputPath_ = path;
  return true;
}

bool Conversion::SetOutputPath(const std::string& path) {
  if (path == outputPath_) return false;
  outputPath_ = path;
  return true;
}

bool Conversion::Start() {
  if (!CanStart()) return false;
  if (job_ && job_->IsRunning()) return false;
  job_.reset();
  job_ = std::make_unique<ConversionJob>(this, &Conversion::RunBody, kIdlePriority);
  return true;
}

bool Conversion::IsRunning() { return job_ && job_->IsRunning(); }

void Conversion::StopJob() { job_.reset(); }

}  // namespace kestrune
