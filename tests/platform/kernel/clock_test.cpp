#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "KernelTestUtil.h"
#include "platform/base/Errors.h"
#include "platform/kernel/Clock.h"
#include "platform/kernel/Kernel.h"
#include "tests/support/Waits.h"

using namespace plat;
using kt::HandleGuard;
using kt::Join;

namespace {

int64_t Counter() {
  int64_t c = 0;
  EXPECT_TRUE(QueryPerformanceCounter(&c));
  return c;
}

TEST(KernelClock, TickCountWrapsAndSignedDifferencesSurvive) {
  VirtualClock clock(0xFFFFFFF0u);
  uint32_t before = GetTickCount();
  EXPECT_EQ(before, 0xFFFFFFF0u);
  clock.Advance(32);
  uint32_t after = GetTickCount();
  EXPECT_EQ(after, 0x10u);
  EXPECT_EQ(static_cast<int32_t>(after - before), 32);

  // Time-outs do not go through the 32-bit tick, so one that spans the wrap
  // lasts exactly as long as asked.
  clock.SetStartTick(0xFFFFFFC0u);
  HandleGuard e(CreateEvent(false, false));
  EXPECT_EQ(WaitForSingleObject(e, 100), WAIT_TIMEOUT);
  EXPECT_EQ(GetTickCount(), 0x24u);
}

TEST(KernelClock, PerformanceCounterDefaultsTo32768HzAndNeverRunsBack) {
  VirtualClock clock;
  int64_t f = 0;
  ASSERT_TRUE(QueryPerformanceFrequency(&f));
  EXPECT_EQ(f, 32768);
  EXPECT_EQ(Counter(), 0);
  clock.Advance(1000);
  EXPECT_EQ(Counter(), 32768);
  clock.Advance(1);
  EXPECT_EQ(Counter(), 32768 + 32);  // 32.768 ticks per ms, truncated

  clock.SetQpcFrequency(1'000'000);
  int64_t atSwitch = Counter();
  EXPECT_GE(atSwitch, 32768 + 32);
  clock.Advance(2);
  EXPECT_EQ(Counter(), atSwitch + 2000);
  ASSERT_TRUE(QueryPerformanceFrequency(&f));
  EXPECT_EQ(f, 1'000'000);

  SetLastError(0);
  EXPECT_FALSE(SetPerformanceFrequency(0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(QueryPerformanceCounter(nullptr));
}

TEST(KernelClock, ConfiguredFrequencyAppliesFromTheStart) {
  VirtualClock clock(5, 1000);
  int64_t f = 0;
  ASSERT_TRUE(QueryPerformanceFrequency(&f));
  EXPECT_EQ(f, 1000);
  EXPECT_EQ(GetTickCount(), 5u);
  clock.Advance(250);
  EXPECT_EQ(Counter(), 250);
  EXPECT_EQ(GetTickCount(), 255u);
}

// A worker paced by absolute deadlines runs exactly once per period, however
// long each round takes in real time.
TEST(KernelClock, PeriodicWorkerRunsOncePerPeriodDeterministically) {
  constexpr uint32_t kPeriodMs = 60000;
  kt::RealStopwatch real;
  VirtualClock clock;
  HandleGuard quit(CreateEvent(true, false));
  std::atomic<int> rounds{0};
  Handle worker = CreateThread([&] {
    ClockTime next = ClockNow();
    for (;;) {
      next += kPeriodMs * kClockNsPerMs;
      const Handle list[] = {quit};
      if (WaitForMultipleObjectsUntil(list, next) != WAIT_TIMEOUT) return 0u;
      ++rounds;
    }
  });
  clock.RunFor(10 * kPeriodMs + kPeriodMs / 2);
  EXPECT_EQ(rounds.load(), 10);
  clock.RunFor(2 * kPeriodMs);
  EXPECT_EQ(rounds.load(), 12);
  SetEvent(quit);
  Join(worker);
  CloseHandle(worker);
  EXPECT_LT(real.Ms(), support::kHangMs);
}

// The worker's idle loop: 25 quiet periods of five minutes cost milliseconds.
TEST(KernelClock, LongIdleLoopCostsNoRealTime) {
  kt::RealStopwatch real;
  VirtualClock clock;
  HandleGuard command(CreateEvent(false, false));
  uint32_t start = GetTickCount();
  Handle worker = CreateThread([&] {
    uint32_t quiet = 0;
    while (quiet < 25) {
      if (WaitForSingleObject(command, 300000) == WAIT_TIMEOUT) ++quiet;
    }
    return quiet;
  });
  EXPECT_EQ(Join(worker), 25u);
  EXPECT_EQ(GetTickCount() - start, 7500000u);
  EXPECT_LT(real.Ms(), support::kHangMs);
  CloseHandle(worker);
}

TEST(KernelClock, SleepUntilAndEmptyWaitsFollowTheClock) {
  VirtualClock clock;
  ClockTime start = clock.Now();
  SleepUntil(start + 750 * kClockNsPerMs);
  EXPECT_EQ(clock.Now() - start, 750 * kClockNsPerMs);
  EXPECT_EQ(WaitForMultipleObjectsUntil({}, start + 1000 * kClockNsPerMs), WAIT_TIMEOUT);
  EXPECT_EQ(clock.Now() - start, 1000 * kClockNsPerMs);
  SleepUntil(start);  // in the past: returns at once
  EXPECT_EQ(clock.Now() - start, 1000 * kClockNsPerMs);
  EXPECT_EQ(ClockDeadlineAfter(INFINITE), kClockForever);
}

// A host thread the clock does not watch holds time still while it works.
TEST(KernelClock, BusyScopeHoldsVirtualTime) {
  VirtualClock clock;
  std::atomic<bool> released{false};
  std::mutex m;
  std::condition_variable cv;
  bool holding = false;
  std::thread backend([&] {
    ClockBusyScope busy;
    {
      std::lock_guard<std::mutex> g(m);
      holding = true;
    }
    cv.notify_one();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    released = true;
  });
  {
    std::unique_lock<std::mutex> g(m);
    cv.wait(g, [&] { return holding; });
  }
  Handle worker = CreateThread([&] {
    HandleGuard e(CreateEvent(false, false));
    WaitForSingleObject(e, 10);
    return released.load() ? 1u : 0u;
  });
  EXPECT_EQ(Join(worker), 1u) << "the time-out fired while the busy scope was held";
  backend.join();
  CloseHandle(worker);
}

// While a pace is held a sleep past its margin waits out the rest in real
// time, and the pacer, not a waking thread, makes the jump; once the pace
// ends time jumps again.
TEST(KernelClock, PaceScopeKeepsVirtualTimeWithinItsMarginOfRealTime) {
  VirtualClock clock;
  ClockTime start = clock.Now();
  {
    kt::RealStopwatch real;  // started before the pace's anchor, so it never reads less
    ClockPaceScope pace(200);
    Sleep(1000);
    EXPECT_EQ(clock.Now() - start, 1000 * kClockNsPerMs);
    EXPECT_GE(real.Ms(), 800);
  }
  kt::RealStopwatch real;
  Sleep(60000);
  EXPECT_EQ(clock.Now() - start, 61000 * kClockNsPerMs);
  EXPECT_LT(real.Ms(), 60000) << "the ended pace still held time back";
}

// A host thread that joins the clock counts as running until it blocks.
TEST(KernelClock, ParticipatingHostThreadIsWaitedFor) {
  VirtualClock clock;
  HandleGuard e(CreateEvent(false, false));
  std::mutex m;
  std::condition_variable cv;
  bool joined = false;
  std::thread host([&] {
    ClockThreadScope participate;
    {
      std::lock_guard<std::mutex> g(m);
      joined = true;
    }
    cv.notify_one();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // busy in host code
    SetEvent(e);
  });
  {
    std::unique_lock<std::mutex> g(m);
    cv.wait(g, [&] { return joined; });
  }
  EXPECT_EQ(WaitForSingleObject(e, 10), WAIT_OBJECT_0);
  host.join();
}

TEST(KernelClock, SettleWaitsForWorkersWithoutMovingTime) {
  VirtualClock clock(100);
  HandleGuard go(CreateEvent(false, false)), quit(CreateEvent(false, false));
  std::atomic<int> stage{0};
  Handle worker = CreateThread([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // host work the clock cannot see
    stage = 1;
    WaitForSingleObject(go, 30000);
    while (stage.load() != 3) {  // spins without blocking until told to stop
    }
    return WaitForSingleObject(quit, INFINITE);
  });
  ASSERT_TRUE(clock.Settle());
  EXPECT_EQ(stage.load(), 1);
  EXPECT_EQ(GetTickCount(), 100u);
  SetEvent(go);
  stage = 2;
  EXPECT_FALSE(clock.Settle(30)) << "a spinning participant is not settled";
  stage = 3;
  EXPECT_TRUE(clock.Settle());
  EXPECT_EQ(GetTickCount(), 100u);
  SetEvent(quit);
  EXPECT_EQ(Join(worker), WAIT_OBJECT_0);
  CloseHandle(worker);
}

TEST(KernelClock, RealClockMovesAndResumesAfterTheVirtualOne) {
  EXPECT_FALSE(ClockIsVirtual());
  kt::RealStopwatch real;
  uint32_t t0 = GetTickCount();
  Sleep(20);
  EXPECT_GE(real.Ms(), 20);
  EXPECT_GE(GetTickCount() - t0, 19u);
  HandleGuard e(CreateEvent(false, false));
  kt::RealStopwatch wait;
  EXPECT_EQ(WaitForSingleObject(e, 15), WAIT_TIMEOUT);
  EXPECT_GE(wait.Ms(), 15);

  ClockTime before;
  int64_t counterBefore = Counter();
  {
    VirtualClock clock;
    EXPECT_TRUE(ClockIsVirtual());
    clock.Advance(3'600'000);
    before = ClockNow();
  }
  EXPECT_FALSE(ClockIsVirtual());
  EXPECT_GE(ClockNow(), before) << "the clock ran back when the virtual one was removed";
  EXPECT_GE(Counter(), counterBefore);
  int64_t f = 0;
  QueryPerformanceFrequency(&f);
  EXPECT_EQ(f, kDefaultPerformanceFrequency);
  // The real tick count carries on from its own reading, not from the
  // virtual hour.
  EXPECT_LT(GetTickCount() - t0, support::kHangMs);
}

}  // namespace
