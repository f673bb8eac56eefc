#include <gtest/gtest.h>

#include <atomic>
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

TEST(KernelEvents, AutoResetIsBinaryAndTakenByOneWait) {
  HandleGuard e(CreateEvent(false, false));
  ASSERT_NE(e.h, nullptr);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  ASSERT_TRUE(SetEvent(e));
  ASSERT_TRUE(SetEvent(e));  // already set: changes nothing
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT) << "two sets must not count as two signals";

  HandleGuard initially(CreateEvent(false, true));
  EXPECT_EQ(WaitForSingleObject(initially, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(initially, 0), WAIT_TIMEOUT);

  ASSERT_TRUE(SetEvent(e));
  ASSERT_TRUE(ResetEvent(e));
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
}

TEST(KernelEvents, ManualResetStaysSetAndWakesEveryWaiter) {
  VirtualClock clock;
  HandleGuard e(CreateEvent(true, false));
  constexpr int kWaiters = 5;
  std::vector<Handle> threads;
  for (int i = 0; i < kWaiters; ++i) threads.push_back(CreateThread([&] { return WaitForSingleObject(e, 10000); }));
  clock.RunFor(100);  // time moved, so every waiter is blocked by now
  ASSERT_TRUE(SetEvent(e));
  for (Handle t : threads) {
    EXPECT_EQ(Join(t), WAIT_OBJECT_0);
    CloseHandle(t);
  }
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  ASSERT_TRUE(ResetEvent(e));
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
}

TEST(KernelEvents, OneSetReleasesExactlyOneOfTwoBlockedWaiters) {
  VirtualClock clock;
  HandleGuard e(CreateEvent(false, false));
  Handle a = CreateThread([&] { return WaitForSingleObject(e, 5000); });
  Handle b = CreateThread([&] { return WaitForSingleObject(e, 5000); });
  clock.RunFor(100);
  ASSERT_TRUE(SetEvent(e));
  uint32_t ra = Join(a), rb = Join(b);
  EXPECT_EQ((ra == WAIT_OBJECT_0) + (rb == WAIT_OBJECT_0), 1);
  EXPECT_EQ((ra == WAIT_TIMEOUT) + (rb == WAIT_TIMEOUT), 1);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT) << "the set was handed to a waiter, so nothing is left";
  CloseHandle(a);
  CloseHandle(b);
}

TEST(KernelWaits, LowestSignalledIndexWinsAndOnlyItIsConsumed) {
  HandleGuard a(CreateEvent(false, false)), b(CreateEvent(false, false)), c(CreateEvent(false, false));
  const Handle list[] = {a, b, c};
  SetEvent(c);
  SetEvent(b);
  EXPECT_EQ(WaitForMultipleObjects(list, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(list, 0), WAIT_OBJECT_0 + 2) << "c must survive the wait that took b";
  EXPECT_EQ(WaitForMultipleObjects(list, 0), WAIT_TIMEOUT);

  // A manual-reset object in front keeps winning and is never consumed.
  HandleGuard m(CreateEvent(true, true));
  const Handle mixed[] = {m, a};
  SetEvent(a);
  EXPECT_EQ(WaitForMultipleObjects(mixed, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForMultipleObjects(mixed, 0), WAIT_OBJECT_0);
  ResetEvent(m);
  EXPECT_EQ(WaitForMultipleObjects(mixed, 0), WAIT_OBJECT_0 + 1) << "a was consumed while m won";

  // The same object twice: the lower index is reported.
  const Handle twice[] = {b, a, b};
  SetEvent(b);
  EXPECT_EQ(WaitForMultipleObjects(twice, 0), WAIT_OBJECT_0);
}

TEST(KernelWaits, BlockedMultiWaitIsReleasedByALaterIndexAlone) {
  VirtualClock clock;
  HandleGuard a(CreateEvent(false, false)), b(CreateEvent(false, false));
  Handle t = CreateThread([&] {
    const Handle list[] = {a, b};
    return WaitForMultipleObjects(list, INFINITE);
  });
  clock.RunFor(10);
  SetEvent(b);
  EXPECT_EQ(Join(t), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_TIMEOUT);
  CloseHandle(t);
}

TEST(KernelWaits, BadArgumentsFailBeforeAnythingIsConsumed) {
  HandleGuard e(CreateEvent(false, true));
  Handle closed = CreateEvent(false, true);
  CloseHandle(closed);

  const Handle withStale[] = {e, closed};
  SetLastError(0);
  EXPECT_EQ(WaitForMultipleObjects(withStale, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0) << "a failed wait must not consume a valid object";

  SetLastError(0);
  EXPECT_EQ(WaitForMultipleObjects(std::span<const Handle>(), 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  std::vector<HandleGuard> many;
  std::vector<Handle> list;
  for (uint32_t i = 0; i <= MAXIMUM_WAIT_OBJECTS; ++i) {
    many.emplace_back(CreateEvent(false, false));
    list.push_back(many.back());
  }
  SetEvent(list[MAXIMUM_WAIT_OBJECTS - 1]);
  SetLastError(0);
  EXPECT_EQ(WaitForMultipleObjects(list, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  list.pop_back();
  EXPECT_EQ(WaitForMultipleObjects(list, 0), WAIT_OBJECT_0 + MAXIMUM_WAIT_OBJECTS - 1);
}

TEST(KernelWaits, TimeOutsRunInVirtualTime) {
  kt::RealStopwatch real;
  VirtualClock clock(1000);
  HandleGuard a(CreateEvent(false, false)), b(CreateEvent(true, false));
  const Handle pair[] = {a, b};

  uint32_t t0 = GetTickCount();
  EXPECT_EQ(WaitForSingleObject(a, 5000), WAIT_TIMEOUT);
  EXPECT_EQ(GetTickCount() - t0, 5000u);
  EXPECT_EQ(WaitForMultipleObjects(pair, 60000), WAIT_TIMEOUT);
  EXPECT_EQ(GetTickCount() - t0, 65000u);
  Sleep(3600000);
  EXPECT_EQ(GetTickCount() - t0, 3665000u);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_TIMEOUT);
  EXPECT_EQ(GetTickCount() - t0, 3665000u) << "a zero time-out only polls";
  EXPECT_LT(real.Ms(), support::kHangMs) << "virtual time-outs must not cost real time";
}

TEST(KernelWaits, SignalBeforeTheTimeOutWinsAtItsOwnTime) {
  VirtualClock clock;
  HandleGuard e(CreateEvent(false, false));
  std::atomic<uint32_t> wokeAt{0};
  uint32_t start = GetTickCount();
  Handle t = CreateThread([&] {
    uint32_t r = WaitForSingleObject(e, 5000);
    wokeAt = GetTickCount();
    return r;
  });
  clock.RunFor(3000);
  SetEvent(e);
  EXPECT_EQ(Join(t), WAIT_OBJECT_0);
  EXPECT_EQ(wokeAt.load() - start, 3000u);
  CloseHandle(t);
}

TEST(KernelWaits, ClosingAHandleDuringAWaitKeepsTheObjectAlive) {
  VirtualClock clock;
  // An event closed under a waiter: nobody can set it any more, so the wait
  // simply runs into its time-out.
  Handle e = CreateEvent(false, false);
  Handle waiter = CreateThread([e] { return WaitForSingleObject(e, 5000); });
  clock.RunFor(10);
  ASSERT_TRUE(CloseHandle(e));
  EXPECT_EQ(Join(waiter), WAIT_TIMEOUT);
  CloseHandle(waiter);

  // A thread handle closed under a waiter still signals when the thread ends.
  HandleGuard gate(CreateEvent(true, false));
  Handle worker = CreateThread([&] { return WaitForSingleObject(gate, INFINITE); });
  Handle watcher = CreateThread([worker] { return WaitForSingleObject(worker, INFINITE); });
  clock.RunFor(10);
  ASSERT_TRUE(CloseHandle(worker));
  SetEvent(gate);
  EXPECT_EQ(Join(watcher), WAIT_OBJECT_0);
  CloseHandle(watcher);
}

// Hand-over stress with real threads: every set must be taken by exactly one
// consumer. A lost wake-up hangs the test; a double take makes the count run
// past the number of sets.
TEST(KernelWaits, EverySetIsConsumedExactlyOnceUnderContention) {
  HandleGuard work(CreateEvent(false, false)), ack(CreateEvent(false, false)), quit(CreateEvent(true, false));
  constexpr int kSets = 3000, kConsumers = 4;
  std::atomic<int> taken{0};
  std::vector<Handle> consumers;
  for (int i = 0; i < kConsumers; ++i) {
    consumers.push_back(CreateThread([&] {
      const Handle list[] = {quit, work};
      for (;;) {
        uint32_t r = WaitForMultipleObjects(list, INFINITE);
        if (r != WAIT_OBJECT_0 + 1) return r;
        ++taken;
        SetEvent(ack);
      }
    }));
  }
  for (int i = 0; i < kSets; ++i) {
    SetEvent(work);
    ASSERT_EQ(WaitForSingleObject(ack, INFINITE), WAIT_OBJECT_0);
  }
  SetEvent(quit);
  for (Handle c : consumers) {
    EXPECT_EQ(Join(c), WAIT_OBJECT_0);
    CloseHandle(c);
  }
  EXPECT_EQ(taken.load(), kSets);
  EXPECT_EQ(WaitForSingleObject(ack, 0), WAIT_TIMEOUT);
}

// Setters racing with a consumer: sets may merge, but the last one is never
// lost, and a wake never happens without a set.
TEST(KernelWaits, RacingSetsNeverLoseTheLastSignal) {
  HandleGuard e(CreateEvent(false, false)), quit(CreateEvent(true, false));
  constexpr int kSetters = 3, kPerSetter = 2000;
  std::atomic<int> produced{0}, consumed{0};
  Handle consumer = CreateThread([&] {
    const Handle list[] = {e, quit};
    int wakes = 0;
    for (;;) {
      uint32_t r = WaitForMultipleObjects(list, INFINITE);
      if (r == WAIT_OBJECT_0) {
        ++wakes;
        consumed = produced.load();
      } else {
        return static_cast<uint32_t>(wakes);
      }
    }
  });
  std::vector<Handle> setters;
  for (int s = 0; s < kSetters; ++s) {
    setters.push_back(CreateThread([&] {
      for (int i = 0; i < kPerSetter; ++i) {
        ++produced;
        SetEvent(e);
      }
      return 0u;
    }));
  }
  for (Handle s : setters) {
    Join(s);
    CloseHandle(s);
  }
  // Wait until the consumer has seen everything, then stop it.
  support::PollUntil([&] { return consumed.load() == kSetters * kPerSetter; }, 0, std::chrono::milliseconds(1));
  EXPECT_EQ(consumed.load(), kSetters * kPerSetter);
  SetEvent(quit);
  uint32_t wakes = Join(consumer);
  EXPECT_GE(wakes, 1u);
  EXPECT_LE(wakes, static_cast<uint32_t>(kSetters * kPerSetter));
  CloseHandle(consumer);
}

}  // namespace
