// The message queue: retrieval order, WM_PAINT and WM_TIMER generation,
// filters, failed posts and the queue limit.
#include <gtest/gtest.h>

#include "platform/base/Errors.h"
#include "tests/platform/ui/UiTestUtil.h"

namespace {

using namespace plat;
using namespace uit;

class Queue : public ::testing::Test {
 protected:
  void SetUp() override {
    main = rec.Create("A", nullptr, {0, 0, 480, 800});
    Drain();  // the first paint
    rec.Clear();
  }
  // Takes every ready message in order, dispatching each as a loop would.
  std::vector<uint32_t> TakeAll() {
    std::vector<uint32_t> order;
    Msg m;
    while (PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) {
      order.push_back(m.message);
      if (m.message != WM_QUIT) DispatchMessage(&m);
    }
    return order;
  }

  TestPlatform p;
  Recorder rec;
  HWND main = nullptr;
};

TEST_F(Queue, RetrievalOrderIsPostedQuitInputPaintTimer) {
  SetTimer(main, 7, 50);
  p.Clock()->Advance(60);
  // Queued in the reverse of the order they come out in.
  InvalidateRect(main, nullptr, false);
  InjectPointer(PointerKind::Down, 10, 10);
  InjectKey(VK_RETURN, true);
  PostQuitMessage(5);
  PostMessage(main, WM_APP + 1, 0, 0);
  PostMessage(main, WM_APP + 2, 0, 0);

  std::vector<uint32_t> want = {WM_APP + 1, WM_APP + 2, WM_QUIT, WM_LBUTTONDOWN, WM_KEYDOWN, WM_PAINT, WM_TIMER};
  EXPECT_EQ(TakeAll(), want);
}

TEST_F(Queue, QuitCarriesItsCodeAndComesOnce) {
  PostQuitMessage(3);
  Msg m;
  ASSERT_EQ(GetMessage(&m, nullptr, 0, 0), 0);
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_EQ(static_cast<int>(m.wParam), 3);
  EXPECT_FALSE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
}

// A burst of posts that each post the next: the paint waits for the burst.
TEST_F(Queue, PaintWaitsForPostsThatPostMore) {
  int chain = 0;
  rec.OnMessage(main, [&](uint32_t m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m == WM_APP && ++chain < 3) PostMessage(main, WM_APP, 0, 0);
    return std::nullopt;
  });
  rec.Only({WM_APP, WM_PAINT});
  InvalidateRect(main, nullptr, false);
  PostMessage(main, WM_APP, 0, 0);
  Drain();
  EXPECT_TRUE(Sequence(rec.Records(), {{"A", WM_APP}, {"A", WM_APP}, {"A", WM_APP}, {"A", WM_PAINT}}));
}

TEST_F(Queue, PaintIsPendingUntilTheWindowIsValidated) {
  Msg m;
  EXPECT_FALSE(PeekMessage(&m, nullptr, WM_PAINT, WM_PAINT, PM_NOREMOVE | PM_NOYIELD));
  Rect a{0, 0, 10, 10}, b{100, 100, 120, 120};
  InvalidateRect(main, &a, false);
  InvalidateRect(main, &b, false);
  ASSERT_TRUE(PeekMessage(&m, nullptr, WM_PAINT, WM_PAINT, PM_NOREMOVE | PM_NOYIELD));
  EXPECT_EQ(m.hwnd, main);
  // Neither a peek that removes nor one that does not makes it go away...
  EXPECT_TRUE(PeekMessage(&m, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE));
  EXPECT_TRUE(PeekMessage(&m, nullptr, WM_PAINT, WM_PAINT, PM_NOREMOVE));
  // ...validating does, once all of the area is valid.
  ValidateRect(main, &a);
  EXPECT_TRUE(PeekMessage(&m, nullptr, WM_PAINT, WM_PAINT, PM_NOREMOVE));
  Rect left;
  ASSERT_TRUE(GetUpdateRect(main, &left, false));
  EXPECT_EQ(left, b);
  ValidateRect(main, &b);
  EXPECT_FALSE(PeekMessage(&m, nullptr, WM_PAINT, WM_PAINT, PM_NOREMOVE));
}

// The program's paint loop: peek WM_PAINT without removing, dispatch, until
// none is left. It must end even for a window that does not paint.
TEST_F(Queue, PaintPeekLoopEndsForEveryKindOfHandler) {
  HWND painter = rec.Create("P", main, {0, 0, 50, 50});
  HWND lazy = rec.Create("L", main, {100, 0, 150, 50});
  rec.OnMessage(painter, [&](uint32_t m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m != WM_PAINT) return std::nullopt;
    PaintInfo ps;
    BeginPaint(painter, &ps);
    EndPaint(painter, &ps);
    return 0;
  });
  rec.OnMessage(lazy, [](uint32_t m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    return m == WM_PAINT ? std::optional<LRESULT>(0) : std::nullopt;  // never validates
  });
  // Paints, then asks for one more paint of a corner: that request stands.
  HWND again = rec.Create("G", main, {200, 0, 250, 50});
  int againPaints = 0;
  rec.OnMessage(again, [&](uint32_t m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m != WM_PAINT) return std::nullopt;
    PaintInfo ps;
    BeginPaint(again, &ps);
    EndPaint(again, &ps);
    Rect corner{0, 0, 5, 5};
    if (++againPaints == 1) InvalidateRect(again, &corner, false);
    return 0;
  });
  Drain();
  againPaints = 0;
  for (HWND h : {painter, lazy, again}) InvalidateRect(h, nullptr, false);
  int rounds = 0;
  Msg m;
  while (rounds < 10 && PeekMessage(&m, nullptr, WM_PAINT, WM_PAINT, PM_NOREMOVE | PM_NOYIELD)) {
    DispatchMessage(&m);
    ++rounds;
  }
  EXPECT_EQ(rounds, 4);
  EXPECT_EQ(againPaints, 2);
}

TEST_F(Queue, PaintGoesInTreeOrderToVisibleWindowsOnly) {
  HWND child = rec.Create("A1", main, {0, 0, 50, 50});
  HWND second = rec.Create("B", nullptr, {0, 0, 100, 100});  // on top of A
  HWND hidden = rec.Create("H", main, {60, 0, 90, 30}, 0);
  Drain();
  rec.Clear();
  rec.Only({WM_PAINT});
  for (HWND h : {child, main, second, hidden}) InvalidateRect(h, nullptr, false);
  Drain();
  EXPECT_TRUE(Sequence(rec.Records(), {{"B", WM_PAINT}, {"A", WM_PAINT}, {"A1", WM_PAINT}}));
  // The hidden window keeps its update area until it is shown.
  Rect r;
  EXPECT_TRUE(GetUpdateRect(hidden, &r, false));
}

TEST_F(Queue, TimerTicksCoalesceAndCountFromRetrieval) {
  rec.Only({WM_TIMER});
  SetTimer(main, 1, 100);
  p.Clock()->Advance(350);  // three periods pass with nobody looking
  Drain();
  EXPECT_EQ(rec.Records().size(), 1u);
  rec.Clear();
  p.RunFor(99);
  EXPECT_TRUE(rec.Records().empty());
  p.RunFor(1);
  EXPECT_EQ(rec.Records().size(), 1u);
  rec.Clear();
  p.RunFor(1000);
  EXPECT_EQ(rec.Records().size(), 10u);
}

TEST_F(Queue, KillTimerRemovesThePendingTick) {
  SetTimer(main, 1, 100);
  p.Clock()->Advance(150);
  Msg m;
  ASSERT_TRUE(PeekMessage(&m, nullptr, WM_TIMER, WM_TIMER, PM_NOREMOVE));
  EXPECT_TRUE(KillTimer(main, 1));
  EXPECT_FALSE(PeekMessage(&m, nullptr, WM_TIMER, WM_TIMER, PM_NOREMOVE));
  EXPECT_FALSE(KillTimer(main, 1));
}

TEST_F(Queue, TimerEdgeCases) {
  Msg m;
  // Restarting pushes the tick back.
  SetTimer(main, 1, 100);
  p.Clock()->Advance(80);
  SetTimer(main, 1, 100);
  p.Clock()->Advance(30);
  EXPECT_FALSE(PeekMessage(&m, nullptr, WM_TIMER, WM_TIMER, PM_NOREMOVE));
  p.Clock()->Advance(70);
  EXPECT_TRUE(PeekMessage(&m, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));
  KillTimer(main, 1);

  // Earliest due first; a peek without removal does not re-arm.
  SetTimer(main, 1, 200);
  SetTimer(main, 2, 100);
  p.Clock()->Advance(250);
  ASSERT_TRUE(PeekMessage(&m, nullptr, WM_TIMER, WM_TIMER, PM_NOREMOVE));
  EXPECT_EQ(m.wParam, 2u);
  ASSERT_TRUE(PeekMessage(&m, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));
  EXPECT_EQ(m.wParam, 2u);
  ASSERT_TRUE(PeekMessage(&m, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));
  EXPECT_EQ(m.wParam, 1u);
  EXPECT_FALSE(PeekMessage(&m, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));
  KillTimer(main, 1);
  KillTimer(main, 2);

  // A zero period is the 10 ms minimum.
  SetTimer(main, 3, 0);
  p.Clock()->Advance(9);
  EXPECT_FALSE(PeekMessage(&m, nullptr, WM_TIMER, WM_TIMER, PM_NOREMOVE));
  p.Clock()->Advance(1);
  EXPECT_TRUE(PeekMessage(&m, nullptr, WM_TIMER, WM_TIMER, PM_NOREMOVE));

  // Bad arguments and timers of a destroyed window.
  EXPECT_EQ(SetTimer(main, 0, 10), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SetTimer(nullptr, 4, 10), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  HWND doomed = rec.Create("D", nullptr, {0, 0, 10, 10});
  SetTimer(doomed, 5, 10);
  DestroyWindow(doomed);
  KillTimer(main, 3);
  p.Clock()->Advance(20);
  EXPECT_FALSE(PeekMessage(&m, nullptr, WM_TIMER, WM_TIMER, PM_NOREMOVE));
  EXPECT_FALSE(KillTimer(doomed, 5));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(Queue, FailedPostsAreReported) {
  HWND gone = rec.Create("G", nullptr, {0, 0, 10, 10});
  DestroyWindow(gone);
  HWND reuse = rec.Create("R", nullptr, {0, 0, 10, 10});  // may take the same slot
  EXPECT_NE(reuse, gone);

  struct Case {
    const char* what;
    HWND h;
  } cases[] = {
      {"destroyed", gone},
      {"never issued", reinterpret_cast<HWND>(uintptr_t{0x12340})},
      {"flag bits", reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(main) | 2)},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(PostMessage(c.h, WM_APP, 0, 0)) << c.what;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE) << c.what;
  }
  EXPECT_TRUE(PostMessage(reuse, WM_APP, 0, 0));
}

TEST_F(Queue, MessagesForAWindowDestroyedLaterAreDropped) {
  HWND doomed = rec.Create("D", nullptr, {0, 0, 10, 10});
  Drain();
  rec.Clear();
  rec.Only({WM_APP});
  PostMessage(doomed, WM_APP, 1, 0);
  PostMessage(main, WM_APP, 2, 0);
  DestroyWindow(doomed);
  Drain();
  EXPECT_TRUE(Sequence(rec.Records(), {{"A", WM_APP, 2}}));
}

TEST_F(Queue, PostingBeyondTheLimitFailsWithQuota) {
  for (size_t i = 0; i < kMaxPostedMessages; ++i) ASSERT_TRUE(PostMessage(main, WM_APP, i, 0)) << i;
  SetLastError(0);
  EXPECT_FALSE(PostMessage(main, WM_APP, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_QUOTA);
  Msg m;
  ASSERT_TRUE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.wParam, 0u);  // first in, first out
  EXPECT_TRUE(PostMessage(main, WM_APP, 0, 0));
}

TEST_F(Queue, Filters) {
  HWND child = rec.Create("C", main, {0, 0, 10, 10});
  HWND other = rec.Create("O", nullptr, {0, 0, 10, 10});
  Drain();
  PostMessage(other, WM_APP, 1, 0);
  PostMessage(child, WM_APP + 5, 2, 0);
  PostMessage(main, WM_APP, 3, 0);
  Msg m;
  // A window filter takes the window and its descendants.
  ASSERT_TRUE(PeekMessage(&m, main, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.wParam, 2u);
  // A range filter.
  ASSERT_TRUE(PeekMessage(&m, nullptr, WM_APP, WM_APP, PM_REMOVE));
  EXPECT_EQ(m.wParam, 1u);
  ASSERT_TRUE(PeekMessage(&m, main, WM_APP, WM_APP, PM_REMOVE));
  EXPECT_EQ(m.wParam, 3u);
  // PM_NOREMOVE left the child's message where it was.
  ASSERT_TRUE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.wParam, 2u);

  // WM_QUIT obeys the range too: a WM_PAINT-only peek never sees it, so a
  // paint loop cannot spin on it.
  PostQuitMessage(0);
  EXPECT_FALSE(PeekMessage(&m, nullptr, WM_PAINT, WM_PAINT, PM_NOREMOVE));
  ASSERT_TRUE(PeekMessage(&m, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.message, WM_QUIT);

  // An invalid filter window is an error, not a wait for ever.
  DestroyWindow(other);
  SetLastError(0);
  EXPECT_EQ(GetMessage(&m, other, 0, 0), -1);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_FALSE(PeekMessage(&m, other, 0, 0, PM_REMOVE));
}

// The idle hook gives a test its turn inside an unmodified GetMessage loop.
TEST_F(Queue, IdleHookDrivesTheProgramLoop) {
  rec.Only({WM_LBUTTONDOWN, WM_LBUTTONUP, WM_TIMER});
  SetTimer(main, 9, 100);
  int turns = 0;
  p.SetIdleHook([&] {
    ++turns;
    if (turns == 1) {
      p.Tap(5, 5);
      return true;
    }
    if (turns == 2) return false;  // let the loop block until the timer
    PostQuitMessage(7);
    return true;
  });
  Msg m;
  int result;
  while ((result = GetMessage(&m, nullptr, 0, 0)) > 0) {
    TranslateMessage(&m);
    DispatchMessage(&m);
  }
  EXPECT_EQ(result, 0);
  EXPECT_EQ(static_cast<int>(m.wParam), 7);
  EXPECT_TRUE(Sequence(rec.Records(), {{"A", WM_LBUTTONDOWN}, {"A", WM_LBUTTONUP}, {"A", WM_TIMER, 9}}));
  EXPECT_EQ(turns, 3);
}

}  // namespace
