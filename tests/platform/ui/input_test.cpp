// Activation, focus, capture and input routing.
#include <gtest/gtest.h>

#include "platform/base/Debug.h"
#include "platform/base/Errors.h"
#include "tests/platform/ui/UiTestUtil.h"

namespace {

using namespace plat;
using namespace uit;

class Input : public ::testing::Test {
 protected:
  TestPlatform p;
  Recorder rec;
};

LPARAM Pos(int x, int y) { return MAKELPARAM(static_cast<uint16_t>(x), static_cast<uint16_t>(y)); }

// The program's start, step by step: the window is created visible (and
// activated inside CreateWindowEx, before it has its "THIS" property), shown,
// given a menu bar and children that are made "the foreground window" as
// layers are raised; then the program posts its own WM_ACTIVATE. Only that
// one may reach the application.
TEST_F(Input, ANormalStartDeliversExactlyOneActivateToTheApplication) {
  static int appActivates;
  appActivates = 0;
  rec.Only({WM_ACTIVATE});
  HWND main = rec.Create("M", nullptr, {0, 0, 480, 800});
  rec.OnMessage(main, [&](uint32_t m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m == WM_ACTIVATE && GetProp(main, u"THIS")) ++appActivates;
    return std::nullopt;
  });
  int app = 0;
  SetProp(main, u"THIS", &app);
  ShowWindow(main, SW_SHOW);
  HWND layer = rec.Create("L", main, {0, 0, 480, 700});
  SetForegroundWindow(layer);
  SetFocus(main);
  PostMessage(main, WM_ACTIVATE, WA_ACTIVE, 0);
  Drain();
  EXPECT_EQ(appActivates, 1);
  EXPECT_TRUE(Sequence(rec.Records(), {{"M", WM_ACTIVATE, WA_ACTIVE}, {"M", WM_ACTIVATE, WA_ACTIVE}}));
  EXPECT_EQ(GetForegroundWindow(), main);
}

TEST_F(Input, ForegroundAppliesToTopLevelWindows) {
  rec.Only({WM_ACTIVATE});
  HWND one = rec.Create("1", nullptr, {0, 0, 100, 100});
  HWND child = rec.Create("1c", one, {0, 0, 10, 10});
  HWND two = rec.Create("2", nullptr, {0, 0, 100, 100});
  ASSERT_EQ(GetForegroundWindow(), two);
  rec.Clear();
  // A child stands for its top-level window; the lowest bit is a flag.
  EXPECT_TRUE(SetForegroundWindow(reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(child) | 1)));
  EXPECT_EQ(GetForegroundWindow(), one);
  EXPECT_TRUE(SetForegroundWindow(child));  // already active: nothing
  EXPECT_TRUE(Sequence(rec.Records(), {{"2", WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(one)},
                                       {"1", WM_ACTIVATE, WA_ACTIVE, reinterpret_cast<LPARAM>(two)}}));
  EXPECT_EQ(p.Backend().Stats().raises, 1);
  // ...and comes to the top of the z-order.
  EXPECT_TRUE(VisibleTopLevelWindowsAbove(one).empty());
  EXPECT_FALSE(SetForegroundWindow(reinterpret_cast<HWND>(uintptr_t{0x999990})));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(Input, ActivationFromTheDesktopGoesInOrderWithInput) {
  HWND main = rec.Create("M", nullptr, {0, 0, 480, 800});
  Drain();
  rec.Clear();
  rec.Only({WM_ACTIVATE, WM_KEYDOWN});
  p.KeyDown(VK_UP);
  p.Activate(false);
  p.Activate(false);  // no change: nothing
  p.Activate(true, true);
  p.Activate(true);  // no change either
  p.Pump();
  EXPECT_TRUE(Sequence(rec.Records(), {{"M", WM_KEYDOWN, VK_UP},
                                       {"M", WM_ACTIVATE, WA_INACTIVE},
                                       {"M", WM_ACTIVATE, WA_CLICKACTIVE}}));
  EXPECT_EQ(GetForegroundWindow(), main);
}

TEST_F(Input, HidingTheActiveWindowDeactivatesIt) {
  rec.Only({WM_ACTIVATE});
  HWND main = rec.Create("M", nullptr, {0, 0, 480, 800});
  ShowWindow(main, SW_HIDE);
  EXPECT_EQ(GetForegroundWindow(), nullptr);
  ShowWindow(main, SW_SHOWNA);  // shown, not activated
  EXPECT_EQ(GetForegroundWindow(), nullptr);
  ShowWindow(main, SW_SHOW);
  EXPECT_EQ(GetForegroundWindow(), main);
  EXPECT_TRUE(Sequence(rec.Records(), {{"M", WM_ACTIVATE, WA_ACTIVE},
                                       {"M", WM_ACTIVATE, WA_INACTIVE},
                                       {"M", WM_ACTIVATE, WA_ACTIVE}}));
  EXPECT_FALSE(ShowWindow(main, 3));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(Input, FocusMessages) {
  HWND main = rec.Create("M", nullptr, {0, 0, 480, 800});
  HWND a = rec.Create("A", main, {0, 0, 10, 10});
  HWND b = rec.Create("B", main, {0, 0, 10, 10});
  rec.Only({WM_SETFOCUS, WM_KILLFOCUS});
  EXPECT_EQ(SetFocus(a), nullptr);
  EXPECT_EQ(SetFocus(b), a);
  EXPECT_EQ(SetFocus(b), b);  // no change, no messages
  EXPECT_EQ(SetFocus(nullptr), b);
  EXPECT_TRUE(Sequence(rec.Records(), {{"A", WM_SETFOCUS, 0},
                                       {"A", WM_KILLFOCUS, reinterpret_cast<WPARAM>(b)},
                                       {"B", WM_SETFOCUS, reinterpret_cast<WPARAM>(a)},
                                       {"B", WM_KILLFOCUS, 0}}));
  // A WM_KILLFOCUS handler that moves the focus on wins. The focus had
  // already passed to B when A heard of it, so B loses it without having
  // heard that it had it.
  SetFocus(a);
  rec.OnMessage(a, [&](uint32_t m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m == WM_KILLFOCUS) SetFocus(main);
    return std::nullopt;
  });
  rec.Clear();
  SetFocus(b);
  EXPECT_EQ(GetFocus(), main);
  EXPECT_TRUE(Sequence(rec.Records(), {{"A", WM_KILLFOCUS, reinterpret_cast<WPARAM>(b)},
                                       {"B", WM_KILLFOCUS, reinterpret_cast<WPARAM>(main)},
                                       {"M", WM_SETFOCUS, reinterpret_cast<WPARAM>(b)}}));
  EXPECT_EQ(SetFocus(reinterpret_cast<HWND>(uintptr_t{0x777770})), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

// Tap targets: the deepest visible window under the point, top of the
// z-order first, at each level.
TEST_F(Input, PointerGoesToTheDeepestVisibleWindowUnderIt) {
  HWND main = rec.Create("M", nullptr, {0, 0, 480, 800});
  HWND panel = rec.Create("P", main, {100, 100, 300, 300});
  HWND q = rec.Create("Q", panel, {10, 10, 100, 100});
  HWND r = rec.Create("R", panel, {50, 50, 150, 150});  // created later: above Q
  rec.Only({WM_LBUTTONDOWN});
  struct Case {
    Point at;
    const char* window;
    Point client;
  } cases[] = {
      {{160, 160}, "R", {10, 10}},  // where Q and R overlap
      {{120, 120}, "Q", {10, 10}},
      {{290, 290}, "P", {190, 190}},
      {{5, 5}, "M", {5, 5}},
  };
  for (const Case& c : cases) {
    rec.Clear();
    p.Tap(c.at.x, c.at.y);
    p.Pump();
    ASSERT_EQ(rec.Records().size(), 1u) << c.window;
    EXPECT_EQ(rec.Records()[0].window, c.window);
    EXPECT_EQ(rec.Records()[0].lParam, Pos(c.client.x, c.client.y)) << c.window;
  }
  ShowWindow(r, SW_HIDE);
  rec.Clear();
  p.Tap(160, 160);
  p.Pump();
  EXPECT_TRUE(Sequence(rec.Records(), {{"Q", WM_LBUTTONDOWN, MK_LBUTTON, Pos(50, 50)}}));
  (void)q;
}

TEST_F(Input, CaptureTakesEveryPointerMessage) {
  HWND main = rec.Create("M", nullptr, {0, 0, 480, 800});
  HWND q = rec.Create("Q", main, {100, 100, 200, 200});
  rec.OnMessage(q, [&](uint32_t m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m == WM_LBUTTONDOWN) SetCapture(q);
    if (m == WM_LBUTTONUP) ReleaseCapture();
    return std::nullopt;
  });
  rec.Only({WM_LBUTTONDOWN, WM_MOUSEMOVE, WM_LBUTTONUP});
  // Queued before anything ran: where each goes is decided when it is taken.
  p.Down(150, 150);
  p.Move(400, 700);
  p.Pump();
  p.Move(95, 95);  // left of and above Q: the client position wraps
  p.Up(10, 10);
  p.Pump();
  EXPECT_TRUE(Sequence(rec.Records(), {{"Q", WM_LBUTTONDOWN, MK_LBUTTON, Pos(50, 50)},
                                       {"Q", WM_MOUSEMOVE, MK_LBUTTON, Pos(300, 600)},
                                       {"Q", WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(0xFFFB, 0xFFFB)},
                                       {"Q", WM_LBUTTONUP, 0, MAKELPARAM(0xFFA6, 0xFFA6)}}));
  EXPECT_EQ(GetCapture(), nullptr);
  // The position is two unsigned words: the window reads 65531, not -5.
  EXPECT_EQ(LOWORD(static_cast<uintptr_t>(rec.Records()[2].lParam)), 65531);
  EXPECT_EQ(SetCapture(q), nullptr);
  EXPECT_EQ(SetCapture(main), q);
  DestroyWindow(main);
  EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(Input, MovesComeOnlyWhileDownAndMerge) {
  rec.Create("M", nullptr, {0, 0, 480, 800});
  rec.Only({WM_LBUTTONDOWN, WM_MOUSEMOVE, WM_LBUTTONUP});
  p.Move(10, 10);  // nothing touches the screen: no position
  p.Up(10, 10);    // nor a release
  p.Down(20, 20);
  p.Move(21, 21);
  p.Move(22, 22);
  p.Move(23, 23);  // three moves the loop has not seen yet: one message
  p.Up(24, 24);
  p.Move(25, 25);
  p.Pump();
  EXPECT_TRUE(Sequence(rec.Records(), {{"M", WM_LBUTTONDOWN, MK_LBUTTON, Pos(20, 20)},
                                       {"M", WM_MOUSEMOVE, MK_LBUTTON, Pos(23, 23)},
                                       {"M", WM_LBUTTONUP, 0, Pos(24, 24)}}));
}

// The harness's drag: moves in even steps with the loop running between
// them, so timers keep time with the finger.
TEST_F(Input, DragMovesInStepsWhileTimeRuns) {
  HWND main = rec.Create("M", nullptr, {0, 0, 480, 800});
  SetTimer(main, 1, 25);
  rec.Only({WM_LBUTTONDOWN, WM_MOUSEMOVE, WM_LBUTTONUP, WM_TIMER});
  const ClockTime start = ClockNow();
  p.Drag({10, 10}, {110, 210}, 4, 100);
  p.Pump();
  EXPECT_EQ((ClockNow() - start) / kClockNsPerMs, 100);
  EXPECT_TRUE(Sequence(rec.Records(), {{"M", WM_LBUTTONDOWN, MK_LBUTTON, Pos(10, 10)},
                                       {"M", WM_TIMER, 1},
                                       {"M", WM_MOUSEMOVE, MK_LBUTTON, Pos(35, 60)},
                                       {"M", WM_TIMER, 1},
                                       {"M", WM_MOUSEMOVE, MK_LBUTTON, Pos(60, 110)},
                                       {"M", WM_TIMER, 1},
                                       {"M", WM_MOUSEMOVE, MK_LBUTTON, Pos(85, 160)},
                                       {"M", WM_TIMER, 1},
                                       {"M", WM_MOUSEMOVE, MK_LBUTTON, Pos(110, 210)},
                                       {"M", WM_LBUTTONUP, 0, Pos(110, 210)}}));
}

TEST_F(Input, KeysGoToTheFocusElseTheActiveWindow) {
  HWND main = rec.Create("M", nullptr, {0, 0, 480, 800});
  HWND a = rec.Create("A", main, {0, 0, 10, 10});
  rec.Only({WM_KEYDOWN, WM_KEYUP});
  p.Key(VK_RETURN);
  p.Pump();
  SetFocus(a);
  p.Key(VK_DOWN);
  p.Pump();
  EXPECT_TRUE(Sequence(rec.Records(), {{"M", WM_KEYDOWN, VK_RETURN, 1},
                                       {"M", WM_KEYUP, VK_RETURN, static_cast<LPARAM>(0xC0000001u)},
                                       {"A", WM_KEYDOWN, VK_DOWN},
                                       {"A", WM_KEYUP, VK_DOWN}}));
  // Without focus or an active window a key has nowhere to go.
  SetFocus(nullptr);
  p.Activate(false);
  p.Pump();
  rec.Clear();
  p.Key(VK_LEFT);
  EXPECT_EQ(p.Pump(), 0);
  EXPECT_TRUE(rec.Records().empty());
}

TEST_F(Input, CloseGoesToTheMainWindowAndDestroysIt) {
  HWND main = rec.Create("M", nullptr, {0, 0, 480, 800});
  rec.Create("Other", nullptr, {0, 0, 10, 10});
  rec.Only({WM_CLOSE, WM_DESTROY});
  p.Close();
  p.Pump();
  EXPECT_TRUE(Sequence(rec.Records(), {{"M", WM_CLOSE}, {"M", WM_DESTROY}}));
  EXPECT_FALSE(IsWindow(main));
}

TEST_F(Input, AcceleratorsTurnListedKeyPressesIntoCommands) {
  HWND main = rec.Create("M", nullptr, {0, 0, 480, 800});
  Accelerators table;
  table.entries = {{FVIRTKEY | FCONTROL, VK_F4, 70}, {FVIRTKEY, VK_F4, 77}, {0, 'A', 78}};
  rec.Only({WM_COMMAND});
  Msg down{main, WM_KEYDOWN, VK_F4, 1, 0, {}};
  Msg up{main, WM_KEYUP, VK_F4, 1, 0, {}};
  Msg other{main, WM_KEYDOWN, 'A', 1, 0, {}};
  EXPECT_EQ(TranslateAccelerator(main, table, &down), 1);
  EXPECT_EQ(TranslateAccelerator(main, table, &up), 0);
  EXPECT_EQ(TranslateAccelerator(main, table, &other), 0);
  EXPECT_TRUE(Sequence(rec.Records(), {{"M", WM_COMMAND, MAKEWPARAM(77, 1), 0}}));
  EXPECT_EQ(TranslateAccelerator(main, Accelerators{}, &down), 0);
}

TEST_F(Input, MessageBoxesAreLoggedRecordedAndReturnAtOnce) {
  HWND main = rec.Create("M", nullptr, {0, 0, 480, 800});
  EXPECT_EQ(MessageBox(main, u"AppUi.cpp, 1459: ", u"Runtime Panic", MB_ICONHAND), IDOK);
  auto boxes = p.MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, u"Runtime Panic");
  EXPECT_EQ(boxes[0].text, u"AppUi.cpp, 1459: ");
  EXPECT_EQ(boxes[0].type, MB_ICONHAND);
  EXPECT_EQ(boxes[0].owner, main);
  auto lines = p.DebugLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "[MessageBox] Runtime Panic: AppUi.cpp, 1459: "), lines.end());
  EXPECT_EQ(p.Backend().Stats().messageBoxes, 1);
}

}  // namespace
