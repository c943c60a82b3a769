#include "base/conversion.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "base/lock.h"
#include "tests/base/worker_body.h"

namespace kestrune {
namespace {

using testing::BodyConversion;

TEST(ConversionJob, StartIsRefusedWhileRunningAndStopIsHonoured) {
  std::atomic<int> runs{0};
  std::atomic<bool> sawStop{false};
  BodyConversion conversion([&](ConversionJob& job) {
    ++runs;
    while (!job.stopRequested) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    sawStop = true;
  });
  EXPECT_FALSE(conversion.IsRunning());
  ASSERT_TRUE(conversion.Start());
  EXPECT_TRUE(conversion.IsRunning());
  EXPECT_FALSE(conversion.Start());  // refused, the running job stays
  EXPECT_TRUE(conversion.IsRunning());
  while (runs == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(runs, 1);
  // Destruction stops the job and waits for the worker.
}

TEST(ConversionJob, StopWaitsForTheWorkerAndObjectsRunAgain) {
  std::atomic<int> runs{0};
  std::atomic<bool> ended{false};
  {
    BodyConversion conversion([&](ConversionJob& job) {
      ++runs;
      while (!job.stopRequested) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      ended = true;
    });
    ASSERT_TRUE(conversion.Start());
  }
  EXPECT_TRUE(ended);  // the destructor returned only after the body ended

  std::atomic<int> count{0};
  BodyConversion quick([&](ConversionJob&) { ++count; });
  ASSERT_TRUE(quick.Start());
  testing::WaitUntilEnded(quick);
  ASSERT_TRUE(quick.Start());
  testing::WaitUntilEnded(quick);
  EXPECT_EQ(count, 2);

  BodyConversion refused([&](ConversionJob&) { ++count; }, false);
  EXPECT_FALSE(refused.Start());
  EXPECT_FALSE(refused.IsRunning());
  EXPECT_EQ(count, 2);
}

TEST(ConversionJob, WorkerRunsAtIdlePriorityAndProgressIsShared) {
  std::atomic<int> policy{-1};
  std::atomic<int> nice{-100};
  BodyConversion conversion([&](ConversionJob&) {
    policy = sched_getscheduler(0);
    nice = getpriority(PRIO_PROCESS, 0);
  });
  ASSERT_TRUE(conversion.Start());
  testing::WaitUntilEnded(conversion);
  EXPECT_TRUE(policy == SCHED_IDLE || nice == 19) << policy << " " << nice;

  EXPECT_DOUBLE_EQ(conversion.GetProgress(), 0.0);
  conversion.SetProgress(0.25);
  EXPECT_DOUBLE_EQ(conversion.GetProgress(), 0.25);

  EXPECT_TRUE(conversion.SetInputPath("in.wav"));
  EXPECT_FALSE(conversion.SetInputPath("in.wav"));
  EXPECT_TRUE(conversion.SetInputPath("in.WAV"));
  EXPECT_TRUE(conversion.SetOutputPath("out.csv"));
  EXPECT_FALSE(conversion.SetOutputPath("out.csv"));
  EXPECT_EQ(conversion.GetOutputPath(), "out.csv");
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
