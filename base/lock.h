// A recursive lock (the system's critical section) and its holder, which
// releases it on every return path.
#pragma once

#include <memory>

namespace kestrune {

class CriticalSection {
 public:
  CriticalSection();
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  void Enter();
  void Leave();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class LockHolder {
 public:
  explicit LockHolder(CriticalSection& lock) : lock_(lock) { lock_.Enter(); }
  ~LockHolder() { lock_.Leave(); }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

 private:
  CriticalSection& lock_;
};

}  // namespace kestrune
