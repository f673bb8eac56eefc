// The queue with other threads: posts wake a blocked loop at once, sends
// from workers run on the UI thread, many posters keep their own order.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/base/Errors.h"
#include "platform/kernel/Kernel.h"
#include "tests/platform/ui/UiTestUtil.h"
#include "tests/support/Waits.h"

namespace {

using namespace plat;
using namespace uit;

uint32_t Join(Handle thread) {
  WaitForSingleObject(thread, INFINITE);
  uint32_t code = 0;
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  return code;
}

class UiThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    main = rec.Create("A", nullptr, {0, 0, 480, 800});
    Drain();
    rec.Clear();
  }
  TestPlatform p;
  Recorder rec;
  HWND main = nullptr;
};

// The loop sleeps in GetMessage with a timer 10 s away; a worker posts after
// 300 ms. The post ends the wait then, not when the timer falls due.
TEST_F(UiThreads, PostFromAWorkerWakesABlockedLoopAtOnce) {
  SetTimer(main, 1, 10000);
  const ClockTime start = ClockNow();
  HWND target = main;
  Handle worker = CreateThread([target] {
    Sleep(300);
    return PostMessage(target, WM_APP, 42, 0) ? 0u : 1u;
  });
  Msg m;
  ASSERT_EQ(GetMessage(&m, nullptr, 0, 0), 1);
  EXPECT_EQ(m.message, static_cast<uint32_t>(WM_APP));
  EXPECT_EQ(m.wParam, 42u);
  EXPECT_EQ((ClockNow() - start) / kClockNsPerMs, 300);
  EXPECT_EQ(Join(worker), 0u);
}

// The same on the host clock, where nothing but the post can end the wait
// early: the timer is five hang bounds away, and the wait may take one.
TEST(UiThreadsRealClock, PostWakesTheLoopWithoutWaitingForTheTimer) {
  TestConfig config;
  config.virtualClock = false;
  TestPlatform p(config);
  Recorder rec;
  HWND main = rec.Create("A", nullptr, {0, 0, 10, 10});
  Drain();
  SetTimer(main, 1, 5 * support::kHangMs);
  std::thread poster([main] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    PostMessage(main, WM_APP, 0, 0);
  });
  const auto start = std::chrono::steady_clock::now();
  Msg m;
  ASSERT_EQ(GetMessage(&m, nullptr, 0, 0), 1);
  EXPECT_EQ(m.message, static_cast<uint32_t>(WM_APP));
  EXPECT_LT(std::chrono::steady_clock::now() - start, support::kHangLimit);
  poster.join();
}

TEST_F(UiThreads, SendFromAWorkerRunsOnTheUiThread) {
  uint32_t uiThread = GetCurrentThreadId();
  uint32_t ranOn = 0;
  rec.OnMessage(main, [&](uint32_t m, WPARAM w, LPARAM) -> std::optional<LRESULT> {
    if (m != WM_APP) return std::nullopt;
    ranOn = GetCurrentThreadId();
    return static_cast<LRESULT>(w * 2);
  });
  HWND target = main;
  std::atomic<LRESULT> result{0};
  Handle worker = CreateThread([&, target] {
    result = SendMessage(target, WM_APP, 21, 0);
    return 0u;
  });
  p.RunUntil([&] { return result.load() != 0; }, 1000);
  Join(worker);
  EXPECT_EQ(result.load(), 42);
  EXPECT_EQ(ranOn, uiThread);
}

// A worker's send to a window that goes away before the UI thread gets to
// it returns 0 instead of waiting for ever.
TEST_F(UiThreads, SendToAWindowDestroyedMeanwhileReturns) {
  HWND doomed = rec.Create("D", nullptr, {0, 0, 10, 10});
  std::atomic<bool> done{false};
  std::atomic<LRESULT> result{-1};
  Handle worker = CreateThread([&, doomed] {
    result = SendMessage(doomed, WM_APP, 0, 0);
    done = true;
    return 0u;
  });
  // Let the worker queue its send, then destroy the window without pumping.
  p.Settle();
  DestroyWindow(doomed);
  Join(worker);
  EXPECT_TRUE(done.load());
  EXPECT_EQ(result.load(), 0);
}

// Four threads post 500 numbered messages each: all arrive, each thread's in
// its own order, and none is lost when the UI thread sleeps in between.
TEST_F(UiThreads, ManyPostersKeepTheirOwnOrder) {
  constexpr int kThreads = 4;
  constexpr int kEach = 500;
  HWND target = main;
  std::vector<Handle> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.push_back(CreateThread([target, t] {
      for (int i = 0; i < kEach; ++i) {
        if (!PostMessage(target, WM_APP + static_cast<uint32_t>(t), static_cast<WPARAM>(i), 0)) return 1u;
        if (i % 100 == 0) Sleep(5);
      }
      return 0u;
    }));
  }
  std::vector<int> next(kThreads, 0);
  int total = 0;
  bool inOrder = true;
  rec.OnMessage(main, [&](uint32_t m, WPARAM w, LPARAM) -> std::optional<LRESULT> {
    if (m < WM_APP || m >= WM_APP + kThreads) return std::nullopt;
    int t = static_cast<int>(m - WM_APP);
    inOrder &= static_cast<int>(w) == next[t];
    next[t] = static_cast<int>(w) + 1;
    ++total;
    return 0;
  });
  EXPECT_TRUE(p.RunUntil([&] { return total == kThreads * kEach; }, 60000));
  for (Handle w : workers) EXPECT_EQ(Join(w), 0u);
  EXPECT_TRUE(inOrder);
}

}  // namespace
