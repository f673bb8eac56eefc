#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "KernelTestUtil.h"
#include "platform/base/Errors.h"
#include "platform/kernel/Clock.h"
#include "platform/kernel/Kernel.h"
#include "tests/support/Waits.h"

using namespace plat;
using kt::HandleGuard;
using kt::Join;

namespace {

TEST(KernelThreads, HandleSignalsAtExitAndStaysSignalled) {
  HandleGuard gate(CreateEvent(false, false));
  HandleGuard t(CreateThread([&] {
    WaitForSingleObject(gate, INFINITE);
    return 42u;
  }));
  ASSERT_NE(t.h, nullptr);
  uint32_t code = 0;
  ASSERT_TRUE(GetExitCodeThread(t, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_TIMEOUT);

  SetEvent(gate);
  EXPECT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
  ASSERT_TRUE(GetExitCodeThread(t, &code));
  EXPECT_EQ(code, 42u);
  // Stays signalled for every later wait, and is never "consumed".
  EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_OBJECT_0);
  HandleGuard other(CreateEvent(false, true));
  const Handle list[] = {t, other};
  EXPECT_EQ(WaitForMultipleObjects(list, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForMultipleObjects(list, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(other, 0), WAIT_OBJECT_0) << "the lower thread handle won, so other stayed set";
  // A thread handle is not an event.
  EXPECT_FALSE(SetEvent(t));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(KernelThreads, IdsAreNonZeroDistinctAndMatchTheCreatorsView) {
  uint32_t mine = GetCurrentThreadId();
  EXPECT_NE(mine, 0u);
  EXPECT_EQ(GetCurrentThreadId(), mine);
  std::atomic<uint32_t> inside{0};
  uint32_t reported = 0;
  HandleGuard t(CreateThread([&] {
    inside = GetCurrentThreadId();
    return 0u;
  }, &reported));
  Join(t);
  EXPECT_EQ(inside.load(), reported);
  EXPECT_NE(reported, 0u);
  EXPECT_NE(reported, mine);
  uint32_t host = 0;
  std::thread([&] { host = GetCurrentThreadId(); }).join();
  EXPECT_NE(host, 0u);
  EXPECT_NE(host, mine);
  EXPECT_NE(host, reported);
}

TEST(KernelThreads, BodyStateIsReleasedBeforeTheHandleSignals) {
  // A creator that waits for the thread may then free what the body used.
  auto resource = std::make_shared<int>(7);
  std::weak_ptr<int> watch = resource;
  HandleGuard t(CreateThread([r = std::move(resource)] { return static_cast<uint32_t>(*r); }));
  EXPECT_EQ(Join(t), 7u);
  EXPECT_TRUE(watch.expired());
}

TEST(KernelThreads, ManyThreadsReportTheirOwnExitCodes) {
  std::vector<Handle> threads;
  for (uint32_t i = 0; i < 32; ++i) threads.push_back(CreateThread([i] { return i * 3 + 1; }));
  for (uint32_t i = 0; i < threads.size(); ++i) {
    EXPECT_EQ(Join(threads[i]), i * 3 + 1);
    EXPECT_TRUE(CloseHandle(threads[i]));
  }
}

TEST(KernelThreads, BadArguments) {
  SetLastError(0);
  EXPECT_EQ(CreateThread(nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  HandleGuard e(CreateEvent(false, false));
  uint32_t code;
  EXPECT_FALSE(GetExitCodeThread(e, &code));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(SetThreadPriority(e, THREAD_PRIORITY_NORMAL));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  HandleGuard t(CreateThread([] { return 0u; }));
  EXPECT_FALSE(GetExitCodeThread(t, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  SetLastError(0);
  EXPECT_FALSE(SetThreadPriority(t, 7));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  Join(t);
}

TEST(KernelThreads, PriorityIsBestEffortWithOneLineWhenRefused) {
  kt::DebugCapture capture;
  HandleGuard gate(CreateEvent(true, false)), running(CreateEvent(true, false));
  HandleGuard t(CreateThread([&] {
    SetEvent(running);
    return WaitForSingleObject(gate, INFINITE);
  }));
  ASSERT_EQ(WaitForSingleObject(running, INFINITE), WAIT_OBJECT_0);  // so the priority applies at once
  // Lowering is always allowed on the host; raising may be refused.
  EXPECT_TRUE(SetThreadPriority(t, THREAD_PRIORITY_BELOW_NORMAL));
  EXPECT_TRUE(capture.Lines().empty());
  EXPECT_TRUE(SetThreadPriority(t, THREAD_PRIORITY_TIME_CRITICAL));
  std::vector<std::string> lines = capture.Lines();
  EXPECT_LE(lines.size(), 1u);
  if (!lines.empty()) {
    EXPECT_NE(lines[0].find("priority"), std::string::npos) << lines[0];
  }
  SetEvent(gate);
  Join(t);
  EXPECT_TRUE(SetThreadPriority(t, THREAD_PRIORITY_HIGHEST)) << "an ended thread is not an error";
  EXPECT_EQ(capture.Lines().size(), lines.size());
}

TEST(KernelCriticalSection, IsReentrantAndExcludesOtherThreads) {
  CriticalSection cs;
  cs.Enter();
  cs.Enter();
  EXPECT_TRUE(cs.TryEnter());
  auto otherTries = [&] {
    std::atomic<bool> got{false};
    std::thread([&] {
      if (cs.TryEnter()) {
        got = true;
        cs.Leave();
      }
    }).join();
    return got.load();
  };
  EXPECT_FALSE(otherTries());
  cs.Leave();
  cs.Leave();
  EXPECT_FALSE(otherTries()) << "released after the second of three leaves";
  // A leave from a thread that does not own it changes nothing.
  std::thread([&] { cs.Leave(); }).join();
  EXPECT_FALSE(otherTries());
  cs.Leave();
  EXPECT_TRUE(otherTries());
}

TEST(KernelCriticalSection, MutualExclusionUnderContention) {
  CriticalSection cs;
  long counter = 0;  // plain on purpose: the lock alone must protect it
  constexpr int kThreads = 4, kRounds = 20000;
  std::vector<Handle> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.push_back(CreateThread([&] {
      for (int i = 0; i < kRounds; ++i) {
        cs.Enter();
        cs.Enter();
        long v = counter;
        counter = v + 1;
        cs.Leave();
        cs.Leave();
      }
      return 0u;
    }));
  }
  for (Handle t : threads) {
    Join(t);
    CloseHandle(t);
  }
  EXPECT_EQ(counter, long{kThreads} * kRounds);
}

// A thread holding a lock across a long time-out while another thread waits
// for that lock: the waiting thread must count as blocked, or virtual time
// would never reach the time-out.
TEST(KernelCriticalSection, WaitingForALockDoesNotStopVirtualTime) {
  kt::RealStopwatch real;
  VirtualClock clock;
  CriticalSection cs;
  HandleGuard held(CreateEvent(false, false)), never(CreateEvent(false, false));
  uint32_t start = GetTickCount();
  std::atomic<uint32_t> gotLockAt{0};
  Handle holder = CreateThread([&] {
    cs.Enter();
    SetEvent(held);
    uint32_t r = WaitForSingleObject(never, 3600000);
    cs.Leave();
    return r;
  });
  ASSERT_EQ(WaitForSingleObject(held, INFINITE), WAIT_OBJECT_0);
  Handle contender = CreateThread([&] {
    cs.Enter();
    gotLockAt = GetTickCount();
    cs.Leave();
    return 0u;
  });
  EXPECT_EQ(Join(holder), WAIT_TIMEOUT);
  Join(contender);
  EXPECT_EQ(gotLockAt.load() - start, 3600000u);
  EXPECT_LT(real.Ms(), support::kHangMs);
  CloseHandle(holder);
  CloseHandle(contender);
}

}  // namespace
