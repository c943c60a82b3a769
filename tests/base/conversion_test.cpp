#include "base/conversion.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sched.h>
#include <sys/resource.h>
#endif

#include <atomic>
#include <chrono>
#include <thread>

#include "base/lock.h"
#include "tests/base/worker_body.h"

namespace kestrune {
namespace {

using testing::BodyConversion;

TEST(ConversionJob, OneJobAtATimeStopOnDestructionAndRunAgain) {
  std::atomic<int> runs{0};
  std::atomic<bool> ended{false};
  {
    BodyConversion conversion([&](ConversionJob& job) {
      ++runs;
      while (!job.stopRequested) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      ended = true;
    });
    EXPECT_FALSE(conversion.IsRunning());
    ASSERT_TRUE(conversion.Start());
    EXPECT_TRUE(conversion.IsRunning());
    EXPECT_FALSE(conversion.Start());  // refused, the running job stays
    EXPECT_TRUE(conversion.IsRunning());
    while (runs == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // The destructor asked the body to stop and returned only after it ended.
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(ended);

  std::atomic<int> count{0};
  BodyConversion quick([&](ConversionJob&) { ++count; });
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(quick.Start());
    testing::WaitUntilEnded(quick);
  }
  EXPECT_EQ(count, 2);

  BodyConversion refused([&](ConversionJob&) { ++count; }, false);
  EXPECT_FALSE(refused.Start());
  EXPECT_FALSE(refused.IsRunning());
  EXPECT_EQ(count, 2);
}

// Set by the destructor of a worker's thread-local object, which runs after
// the worker has cleared its handle, while its thread is ending.
std::atomic<bool> gThreadEnded{false};
struct EndOfThread {
  bool armed = false;
  ~EndOfThread() {
    if (!armed) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    gThreadEnded = true;
  }
};

TEST(ConversionJob, StopReturnsOnlyWhenTheWorkerThreadHasEnded) {
  for (int run = 0; run < 3; ++run) {
    gThreadEnded = false;
    {
      BodyConversion conversion([](ConversionJob&) {
        thread_local EndOfThread end;
        end.armed = true;
      });
      ASSERT_TRUE(conversion.Start());
    }
    EXPECT_TRUE(gThreadEnded) << "run " << run;
  }
}

TEST(ConversionJob, WorkerRunsAtIdlePriority) {
#ifdef _WIN32
  std::atomic<int> priority{0};
  BodyConversion conversion([&](ConversionJob&) {
    priority = GetThreadPriority(GetCurrentThread());
  });
  ASSERT_TRUE(conversion.Start());
  testing::WaitUntilEnded(conversion);
  EXPECT_EQ(priority, THREAD_PRIORITY_IDLE);
#else
  std::atomic<int> policy{-1};
  std::atomic<int> nice{-100};
  BodyConversion conversion([&](ConversionJob&) {
    policy = sched_getscheduler(0);
    nice = getpriority(PRIO_PROCESS, 0);
  });
  ASSERT_TRUE(conversion.Start());
  testing::WaitUntilEnded(conversion);
  EXPECT_TRUE(policy == SCHED_IDLE || nice == 19) << policy << " " << nice;
#endif
}

TEST(CriticalSection, IsRecursiveAndSurvivesAnOwnerThatEnded) {
  CriticalSection lock;
  {
    LockHolder outer(lock);
    LockHolder inner(lock);
  }
  // A thread that ends holding the lock (as a faulting worker may) does not
  // leave it locked for ever.
  std::thread([&] { lock.Enter(); }).join();
  std::atomic<bool> taken{false};
  std::thread([&] {
    LockHolder hold(lock);
    taken = true;
  }).join();
  EXPECT_TRUE(taken);
}

}  // namespace
}  // namespace kestrune
