// Classes, creation and destruction, properties, geometry messages, z-order
// and the invalidation of exposed areas.
#include <gtest/gtest.h>

#include "platform/base/Errors.h"
#include "tests/platform/ui/UiTestUtil.h"

namespace {

using namespace plat;
using namespace uit;

class Windows : public ::testing::Test {
 protected:
  TestPlatform p;
  Recorder rec;
};

LRESULT PlainProc(HWND h, uint32_t m, WPARAM w, LPARAM l) { return DefWindowProc(h, m, w, l); }

TEST_F(Windows, ClassRegistration) {
  WndClass c;
  c.proc = PlainProc;
  c.name = u"Plain";
  EXPECT_NE(RegisterClass(c), 0);
  c.name = u"PLAIN";
  EXPECT_EQ(RegisterClass(c), 0);
  EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);
  WndClass noProc;
  noProc.name = u"X";
  EXPECT_EQ(RegisterClass(noProc), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  HWND w = CreateWindowEx(0, u"plain", u"", 0, 0, 0, 10, 10, nullptr, 0, nullptr, nullptr);
  ASSERT_NE(w, nullptr);
  EXPECT_FALSE(UnregisterClass(u"Plain", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_CLASS_HAS_WINDOWS);
  DestroyWindow(w);
  EXPECT_TRUE(UnregisterClass(u"Plain", nullptr));
  EXPECT_FALSE(UnregisterClass(u"Plain", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_CLASS_DOES_NOT_EXIST);
  EXPECT_EQ(CreateWindowEx(0, u"Plain", u"", 0, 0, 0, 10, 10, nullptr, 0, nullptr, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CLASS_DOES_NOT_EXIST);
}

struct SeenCreate {
  bool called = false;
  bool hadProperty = false;
  void* param = nullptr;
  HWND parent = nullptr;
  int32_t x = -1, y = -1, cx = -1, cy = -1;
  std::u16string name, className;
};
SeenCreate g_seen;

LRESULT ProbeProc(HWND h, uint32_t m, WPARAM w, LPARAM l) {
  if (m == WM_CREATE) {
    auto* cs = reinterpret_cast<const CreateStruct*>(l);
    g_seen = {true, GetProp(h, u"THIS") != nullptr, cs->createParams, cs->parent, cs->x, cs->y, cs->cx, cs->cy,
              std::u16string(cs->name), std::u16string(cs->className)};
    return 0;
  }
  return DefWindowProc(h, m, w, l);
}

TEST_F(Windows, CreationSendsCreateWithTheRequestAndPlacesTheWindow) {
  WndClass c;
  c.name = u"Probe";
  c.proc = ProbeProc;
  RegisterClass(c);
  int param = 7;
  HWND top = CreateWindowEx(0, u"PROBE", u"Title", WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                            CW_USEDEFAULT, nullptr, 0, nullptr, &param);
  ASSERT_NE(top, nullptr);
  EXPECT_TRUE(g_seen.called);
  EXPECT_FALSE(g_seen.hadProperty);
  EXPECT_EQ(g_seen.param, &param);
  EXPECT_EQ(g_seen.name, u"Title");
  EXPECT_EQ(g_seen.className, u"PROBE");
  // The default top-level rectangle is the whole screen, bar band included.
  EXPECT_EQ((Rect{g_seen.x, g_seen.y, g_seen.x + g_seen.cx, g_seen.y + g_seen.cy}), (Rect{0, 0, 480, 800}));
  Rect r;
  GetWindowRect(top, &r);
  EXPECT_EQ(r, (Rect{0, 0, 480, 800}));

  HWND child = CreateWindowEx(0, u"Probe", u"", WS_CHILD | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, top, 768, nullptr, nullptr);
  EXPECT_EQ(g_seen.parent, top);
  GetWindowRect(child, &r);
  EXPECT_EQ(r, (Rect{0, 0, 0, 0}));
  EXPECT_EQ(GetParent(child), top);

  EXPECT_EQ(CreateWindowEx(0, u"Probe", u"", WS_CHILD, 0, 0, 1, 1, nullptr, 0, nullptr, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  DestroyWindow(child);
  EXPECT_EQ(CreateWindowEx(0, u"Probe", u"", WS_CHILD, 0, 0, 1, 1, child, 0, nullptr, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(Windows, CreateRefusedByTheProcedureLeavesNoWindow) {
  HWND parent = rec.Create("P", nullptr, {0, 0, 100, 100});
  // The next window refuses its creation.
  WndClass c;
  c.name = u"Refuse";
  c.proc = [](HWND h, uint32_t m, WPARAM w, LPARAM l) -> LRESULT {
    return m == WM_CREATE ? -1 : DefWindowProc(h, m, w, l);
  };
  RegisterClass(c);
  EXPECT_EQ(CreateWindowEx(0, u"Refuse", u"", WS_CHILD, 0, 0, 5, 5, parent, 0, nullptr, nullptr), nullptr);
  // No window of the class is left behind.
  EXPECT_TRUE(UnregisterClass(u"Refuse", nullptr));
}

TEST_F(Windows, DestroySendsDestroyParentFirstAndReleasesEverything) {
  rec.Only({WM_DESTROY});
  HWND top = rec.Create("T", nullptr, {0, 0, 100, 100});
  HWND a = rec.Create("A", top, {0, 0, 50, 50});
  HWND a1 = rec.Create("A1", a, {0, 0, 10, 10});
  HWND b = rec.Create("B", top, {50, 0, 100, 50});  // created last: first in z-order
  SetFocus(a1);
  SetCapture(b);
  ASSERT_TRUE(DestroyWindow(top));
  EXPECT_TRUE(Sequence(rec.Records(), {{"T", WM_DESTROY}, {"B", WM_DESTROY}, {"A", WM_DESTROY}, {"A1", WM_DESTROY}}));
  for (HWND h : {top, a, a1, b}) EXPECT_FALSE(IsWindow(h));
  EXPECT_EQ(GetFocus(), nullptr);
  EXPECT_EQ(GetCapture(), nullptr);
  EXPECT_EQ(GetForegroundWindow(), nullptr);
  EXPECT_FALSE(DestroyWindow(top));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

// A parent's WM_DESTROY handler that destroys its children itself (as the
// framework's control destructors do): each child hears WM_DESTROY once,
// and nothing reaches a child after its own destruction finished.
TEST_F(Windows, ChildrenDestroyedDuringTheParentsDestroyHearItOnce) {
  rec.Only({WM_DESTROY});
  HWND top = rec.Create("T", nullptr, {0, 0, 100, 100});
  HWND a = rec.Create("A", top, {0, 0, 50, 50});
  HWND b = rec.Create("B", top, {50, 0, 100, 50});
  rec.OnMessage(top, [&](uint32_t m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m == WM_DESTROY) {
      DestroyWindow(a);
      DestroyWindow(b);
      DestroyWindow(top);  // again, from inside: no effect
    }
    return std::nullopt;
  });
  DestroyWindow(top);
  EXPECT_TRUE(Sequence(rec.Records(), {{"T", WM_DESTROY}, {"A", WM_DESTROY}, {"B", WM_DESTROY}}));
  EXPECT_FALSE(IsWindow(top));
}

TEST_F(Windows, Properties) {
  HWND w = rec.Create("W", nullptr, {0, 0, 10, 10});
  int a = 1, b = 2;
  EXPECT_TRUE(SetProp(w, u"THIS", &a));
  EXPECT_EQ(GetProp(w, u"this"), &a);
  EXPECT_TRUE(SetProp(w, u"This", &b));  // replaces, whatever the case
  EXPECT_EQ(GetProp(w, u"THIS"), &b);
  EXPECT_EQ(GetProp(w, u"other"), nullptr);
  EXPECT_EQ(RemoveProp(w, u"THIS"), &b);
  EXPECT_EQ(GetProp(w, u"THIS"), nullptr);
  EXPECT_EQ(RemoveProp(w, u"THIS"), nullptr);
  EXPECT_FALSE(SetProp(w, u"", &a));
  SetProp(w, u"THIS", &a);
  DestroyWindow(w);
  EXPECT_FALSE(SetProp(w, u"THIS", &a));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_EQ(GetProp(w, u"THIS"), nullptr);
}

TEST_F(Windows, GeometryMessages) {
  HWND top = rec.Create("T", nullptr, {0, 0, 480, 800});
  HWND c = rec.Create("C", top, {10, 20, 30, 40});
  HWND d = rec.Create("D", top, {0, 0, 5, 5});
  rec.Only({WM_WINDOWPOSCHANGED, WM_MOVE, WM_SIZE});
  uint32_t flags = 0;
  rec.OnMessage(c, [&](uint32_t m, WPARAM, LPARAM l) -> std::optional<LRESULT> {
    if (m == WM_WINDOWPOSCHANGED) flags = reinterpret_cast<const WindowPos*>(l)->flags;
    return std::nullopt;
  });
  constexpr uint32_t kStack = SWP_NOZORDER | SWP_NOACTIVATE;
  struct Step {
    const char* what;
    std::function<void()> act;
    std::vector<Expect> want;
    uint32_t flagsSet;  // flags WM_WINDOWPOSCHANGED must carry
  } steps[] = {
      {"move and size", [&] { MoveWindow(c, 50, 60, 100, 40, true); },
       {{"C", WM_WINDOWPOSCHANGED}, {"C", WM_MOVE, 0, MAKELPARAM(50, 60)}, {"C", WM_SIZE, 0, MAKELPARAM(100, 40)}},
       kStack},
      {"move only", [&] { MoveWindow(c, 55, 60, 100, 40, true); },
       {{"C", WM_WINDOWPOSCHANGED}, {"C", WM_MOVE, 0, MAKELPARAM(55, 60)}}, kStack | SWP_NOSIZE},
      {"size only", [&] { SetWindowPos(c, nullptr, 0, 0, 10, 10, SWP_NOMOVE | SWP_NOZORDER); },
       {{"C", WM_WINDOWPOSCHANGED}, {"C", WM_SIZE, 0, MAKELPARAM(10, 10)}}, SWP_NOMOVE | SWP_NOZORDER},
      {"the same rectangle again", [&] { MoveWindow(c, 55, 60, 10, 10, false); }, {}, 0},
      {"restack only", [&] { SetWindowPos(c, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE); },
       {{"C", WM_WINDOWPOSCHANGED}}, SWP_NOMOVE | SWP_NOSIZE},
      {"restack to where it is", [&] { SetWindowPos(c, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE); }, {}, 0},
      {"hide", [&] { ShowWindow(c, SW_HIDE); }, {{"C", WM_WINDOWPOSCHANGED}},
       SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER},
      {"hide again", [&] { ShowWindow(c, SW_HIDE); }, {}, 0},
      {"show without activating", [&] { ShowWindow(c, SW_SHOWNA); }, {{"C", WM_WINDOWPOSCHANGED}},
       SWP_SHOWWINDOW | SWP_NOMOVE | SWP_NOSIZE},
  };
  for (const Step& s : steps) {
    rec.Clear();
    flags = 0;
    s.act();
    EXPECT_TRUE(Sequence(rec.Records(), s.want)) << s.what;
    EXPECT_EQ(flags & s.flagsSet, s.flagsSet) << s.what;
  }
  // Negative sizes are none.
  MoveWindow(d, 1, 1, -5, -5, false);
  Rect r;
  GetClientRect(d, &r);
  EXPECT_EQ(r, (Rect{0, 0, 0, 0}));
  GetWindowRect(c, &r);
  EXPECT_EQ(r, (Rect{55, 60, 65, 70}));
}

TEST_F(Windows, ExposedAreasAreInvalidated) {
  HWND top = rec.Create("T", nullptr, {0, 0, 480, 800});
  HWND parent = rec.Create("P", top, {100, 100, 300, 300});
  HWND mover = rec.Create("M", parent, {10, 10, 60, 60});
  HWND near = rec.Create("N", parent, {100, 100, 150, 150});
  HWND far = rec.Create("F", parent, {150, 0, 200, 50});
  auto validateAll = [&] {
    for (HWND h : {top, parent, mover, near, far}) ValidateRect(h, nullptr);
  };
  auto update = [](HWND h) {
    Rect r;
    return GetUpdateRect(h, &r, false) ? r : Rect{};
  };

  validateAll();
  MoveWindow(mover, 80, 80, 50, 50, true);  // old (10,10)-(60,60), new (80,80)-(130,130)
  EXPECT_EQ(update(parent), (Rect{10, 10, 130, 130}));
  EXPECT_EQ(update(mover), (Rect{0, 0, 50, 50}));
  EXPECT_EQ(update(near), (Rect{0, 0, 30, 30}));  // where the new rectangle lies over it
  EXPECT_EQ(update(far), (Rect{}));
  EXPECT_EQ(update(top), (Rect{110, 110, 230, 230}));  // the parent's client area is open to it

  validateAll();
  MoveWindow(mover, 10, 10, 50, 50, false);
  for (HWND h : {top, parent, mover, near, far}) EXPECT_EQ(update(h), (Rect{})) << "no redraw";

  validateAll();
  ShowWindow(near, SW_HIDE);
  EXPECT_EQ(update(parent), (Rect{100, 100, 150, 150}));
  EXPECT_EQ(update(mover), (Rect{}));

  validateAll();
  ShowWindow(near, SW_SHOWNA);
  EXPECT_EQ(update(near), (Rect{0, 0, 50, 50}));

  validateAll();
  DestroyWindow(far);
  EXPECT_EQ(update(parent), (Rect{150, 0, 200, 50}));

  // A window cut by its parent is invalidated only where it can be seen.
  validateAll();
  MoveWindow(mover, 180, 180, 50, 50, true);
  EXPECT_EQ(update(mover), (Rect{0, 0, 20, 20}));
}

TEST_F(Windows, UpdateAreasCollapseIntoTheirBoundingBox) {
  HWND w = rec.Create("W", nullptr, {0, 0, 480, 800});
  ValidateRect(w, nullptr);
  for (int i = 0; i < 8; ++i) {
    Rect r{i * 20, 0, i * 20 + 10, 10};
    InvalidateRect(w, &r, false);
  }
  // Eight separate rectangles: validating the gaps changes nothing.
  Rect gap{10, 0, 20, 10};
  ValidateRect(w, &gap);
  Rect first{0, 0, 10, 10};
  ValidateRect(w, &first);
  Rect r;
  GetUpdateRect(w, &r, false);
  EXPECT_EQ(r, (Rect{20, 0, 150, 10}));
  // A ninth collapses the list into one box that covers the gaps too.
  for (int i = 0; i < 2; ++i) {
    Rect more{200 + i * 20, 0, 210 + i * 20, 10};
    InvalidateRect(w, &more, false);
  }
  Rect inner{40, 0, 100, 10};
  ValidateRect(w, &inner);
  Rect probe{30, 0, 40, 10};
  ValidateRect(w, &probe);
  GetUpdateRect(w, &r, false);
  EXPECT_EQ(r, (Rect{20, 0, 230, 10}));
  // Invalidation is clipped to the client area; outside is nothing.
  ValidateRect(w, nullptr);
  Rect outside{500, 0, 600, 10};
  EXPECT_TRUE(InvalidateRect(w, &outside, false));
  EXPECT_FALSE(GetUpdateRect(w, &r, false));
}

TEST_F(Windows, ZOrderAndTheWindowsAbove) {
  HWND main = rec.Create("M", nullptr, {0, 0, 480, 736});
  HWND popup = rec.Create("P", nullptr, {0, 736, 480, 800}, WS_VISIBLE, WS_EX_TOPMOST);
  HWND later = rec.Create("L", nullptr, {0, 0, 100, 100});  // created after, still below the topmost one
  HWND hidden = rec.Create("H", nullptr, {0, 0, 10, 10}, 0, WS_EX_TOPMOST);
  HWND child = rec.Create("C", main, {0, 0, 10, 10});
  EXPECT_EQ(VisibleTopLevelWindowsAbove(main), (std::vector<HWND>{popup, later}));
  EXPECT_EQ(VisibleTopLevelWindowsAbove(child), (std::vector<HWND>{popup, later}));
  EXPECT_EQ(VisibleTopLevelWindowsAbove(popup), (std::vector<HWND>{}));
  // Raising the main window cannot take it above the topmost one.
  SetWindowPos(main, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_EQ(VisibleTopLevelWindowsAbove(main), (std::vector<HWND>{popup}));
  SetWindowPos(main, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_EQ(VisibleTopLevelWindowsAbove(main), (std::vector<HWND>{popup, later}));
  // Restacking after a window that is not a sibling is refused.
  EXPECT_FALSE(SetWindowPos(child, later, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  (void)hidden;
}

TEST_F(Windows, SiblingRestackingDecidesWhoIsHit) {
  HWND main = rec.Create("M", nullptr, {0, 0, 480, 800});
  HWND a = rec.Create("A", main, {0, 0, 100, 100});
  HWND b = rec.Create("B", main, {0, 0, 100, 100});  // on top
  HWND c = rec.Create("C", main, {0, 0, 100, 100});  // on top of B
  rec.Only({WM_LBUTTONDOWN});
  auto hit = [&] {
    rec.Clear();
    InjectPointer(PointerKind::Down, 5, 5);
    InjectPointer(PointerKind::Up, 5, 5);
    Drain();
    return rec.Records().empty() ? std::string() : rec.Records()[0].window;
  };
  EXPECT_EQ(hit(), "C");
  SetWindowPos(a, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_EQ(hit(), "A");
  SetWindowPos(a, c, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);  // directly below C
  EXPECT_EQ(hit(), "C");
  SetWindowPos(c, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_EQ(hit(), "A");
  (void)b;
}

}  // namespace
