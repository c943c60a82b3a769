#include "base/lock.h"

#include "base/platform/platform.h"

namespace kestrune {

struct CriticalSection::Impl {
  platform::Mutex* mutex;
};

CriticalSection::CriticalSection() : impl_(new Impl{platform::CreateMutex()}) {}
CriticalSection::~CriticalSection() { platform::DestroyMutex(impl_->mutex); }
void CriticalSection::Enter() { platform::EnterMutex(impl_->mutex); }
void CriticalSection::Leave() { platform::LeaveMutex(impl_->mutex); }

}  // namespace kestrune
