#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <limits>
#include <optional>

#include "framework/Resources.h"
#include "framework/Theme.h"
#include "framework/VyServices.h"
#include "layouts/Layouts.h"
#include "platform/fs/FileSystem.h"
#include "platform/registry/Registry.h"
#include "tests/framework/appui_test_support.h"
#include "tests/support/Waits.h"

extern char** environ;

using namespace apptest;

namespace {

// --- start, views and switching ---------------------------------------------

TEST_F(AppFixture, StartShowsThePaintedStartViewAboveTheMenuBar) {
  MakeApp();
  RECT rcMain{}, rcView{};
  uint16_t viewPixel = 0, boxPixel = 0;
  int r = Run({[&] {
    rcMain = m_app->GetMainWindowRect();
    rcView = StartView()->ScreenRect();
    viewPixel = m_tp->Pixel(rcView.right - 5, rcView.bottom - 5);
    boxPixel = CentrePixel(StartView()->m_pA);
  }});
  EXPECT_EQ(r, 0);
  EXPECT_EQ(m_app->GetActiveViewId(), -1);  // switched away at shutdown
  int32_t h = plat::GetSystemMetrics(plat::SM_CYSCREEN);
  EXPECT_EQ(rcMain.bottom, h - plat::MenuBarHeight());  // shortened once
  EXPECT_EQ(rcMain.right, plat::GetSystemMetrics(plat::SM_CXSCREEN));
  EXPECT_FALSE(RectEquals(rcView, RECT{}));
  EXPECT_EQ(viewPixel, To565(0xFF808080u));
  EXPECT_EQ(boxPixel, To565(0xFFFF0000u));
}

TEST_F(AppFixture, ViewSwitchRunsItsStepsInOrderAndDeletesTheOldViewLater) {
  MakeApp();
  TView* pFirst = nullptr;
  Run({[&] {
         pFirst = StartView();
         m_log.clear();
         m_app->ActivateView(4);
         // Still alive: its deferred delete has not run yet.
         m_log.push_back("switched");
       },
       [&] { EXPECT_EQ(m_app->PreviousViewId(), 2); }});
  // Bind and apply, tree hook, activation on node 6 before the pass, then
  // the pass moves the view, then the application hook.
  size_t leave = IndexOf("V2 leave 2->4"), apply = IndexOf("V4 apply 6"), tree = IndexOf("app tree"),
         activated = IndexOf("V4 activated 6 laidout=0"), view = IndexOf("app view 4"),
         switched = IndexOf("switched"), dtor = IndexOf("V2 dtor active=4");
  ASSERT_LT(view, m_log.size());
  EXPECT_LT(leave, apply);
  EXPECT_LT(apply, tree);
  EXPECT_LT(tree, activated);
  EXPECT_LT(activated, view);
  EXPECT_LT(switched, dtor);  // deleted by its message, the new view active by then
  ASSERT_LT(dtor, m_log.size());
  EXPECT_NE(pFirst, nullptr);
}

TEST_F(AppFixture, ActivateIgnoresTheActiveViewReactivateRebuildsAndUnknownIdsPanic) {
  MakeApp();
  Run({[&] {
    TView* pBefore = StartView();
    m_app->ActivateView(2);
    EXPECT_EQ(StartView(), pBefore);
    m_app->ReactivateView(2);
    EXPECT_NE(StartView(), pBefore);
    EXPECT_EQ(m_app->GetActiveViewId(), 2);
    try {
      m_app->ActivateView(99);
      ADD_FAILURE() << "no panic";
    } catch (const TPanic& p) {
      EXPECT_EQ(p.line, 1459);
    }
    try {
      m_app->ReactivateView(98);
      ADD_FAILURE() << "no panic";
    } catch (const TPanic& p) {
      EXPECT_EQ(p.line, 1474);
    }
  }});
  EXPECT_EQ(std::count(m_log.begin(), m_log.end(), "V2 ctor"), 2);
  EXPECT_EQ(std::count(m_log.begin(), m_log.end(), "V2 dtor active=2"), 1);
}

TEST_F(AppFixture, UnregisteredStartViewReturnsOneAfterShuttingDown) {
  MakeApp();
  m_app->SetStartView(77);
  EXPECT_EQ(m_app->Run(), 1);
  EXPECT_TRUE(Logged("app shutdown"));
  EXPECT_FALSE(m_app->Queue().IsInitialised());
}

TEST_F(AppFixture, ShutdownDrainsMessagesPostedWhileShuttingDown) {
  MakeApp();
  int nRan = 0;
  m_app->m_onShutdown = [&] {
    // A message that posts another: both must run before the children go.
    (new TCall([&] {
      ++nRan;
      (new TCall([&] { ++nRan; }))->Post();
    }))->Post();
  };
  Run({});
  EXPECT_EQ(nRan, 2);
  EXPECT_TRUE(Logged("V2 dtor active=-1"));
  EXPECT_EQ(m_app->FirstChild(), nullptr);
  EXPECT_TRUE(m_app->Queue().IsEmpty());
}

TEST_F(AppFixture, RotationRebuildsTheTreeAndRebindsTheSameView) {
  SetThemeIndex(1);  // theme 0 turns the screen back on every activation
  MakeApp();
  TView* pView = nullptr;
  CLayoutNode* pOldNode = nullptr;
  Run({[&] {
         pView = StartView();
         pOldNode = pView->m_pNode;
         m_log.clear();
         m_tp->Rotate(90);
       },
       [&] {
         EXPECT_EQ(StartView(), pView);
         EXPECT_EQ(pView->m_pNode, m_app->GetRootLayout()->FindNode(kViewAreaNode, -1));
         RECT rcMain = m_app->GetMainWindowRect();
         EXPECT_EQ(rcMain.right, plat::GetSystemMetrics(plat::SM_CXSCREEN));
         EXPECT_GT(rcMain.right, rcMain.bottom);
         EXPECT_TRUE(RectEquals(pView->ScreenRect(), pView->m_pNode->GetRect(CLayoutNode::SpaceWindow)));
         EXPECT_EQ(CAppUi::GetScreenRotation(), 90);
         EXPECT_EQ(CResources::GetOption(0, -1), 1);  // landscape for theme 1
       }});
  SetThemeIndex(0);
  EXPECT_TRUE(Logged("V2 apply 6"));
  EXPECT_FALSE(Logged("V2 ctor"));
  (void)pOldNode;
}

TEST_F(AppFixture, DisplayChangeTellsControlsTheMainWindowRectangleInBothOrientations) {
  SetThemeIndex(1);  // theme 0 turns the screen back on every activation
  MakeApp();
  auto expected = [] {
    return RECT{0, 0, plat::GetSystemMetrics(plat::SM_CXSCREEN),
                plat::GetSystemMetrics(plat::SM_CYSCREEN) - plat::MenuBarHeight()};
  };
  Run({[&] { m_tp->Rotate(90); },
       [&] {
         RECT rc = StartView()->m_pA->m_rcDisplay;
         EXPECT_TRUE(RectEquals(rc, expected())) << rc.right << "x" << rc.bottom;
         EXPECT_TRUE(RectEquals(rc, m_app->GetMainWindowRect()));
         EXPECT_GT(rc.right, rc.bottom);
         m_tp->Rotate(0);
       },
       [&] {
         RECT rc = StartView()->m_pA->m_rcDisplay;
         EXPECT_TRUE(RectEquals(rc, expected())) << rc.right << "x" << rc.bottom;
         EXPECT_LT(rc.right, rc.bottom);
       }});
  SetThemeIndex(0);
}

TEST_F(AppFixture, ActivationPutsTheWindowBackAndRepaintsItWholeButShortensItOnce) {
  SetThemeIndex(1);  // no rotation on activation: only the activation repaints
  MakeApp();
  RECT rcView{};
  int32_t nFittedBottom = plat::GetSystemMetrics(plat::SM_CYSCREEN) - plat::MenuBarHeight();
  Run({[&] {
         rcView = StartView()->ScreenRect();
         // Something drew over the application while it was away.
         plat::HDC dc = plat::GetDC(nullptr);
         plat::HBRUSH brush = plat::CreateSolidBrush(0x00FF00FF);
         plat::FillRect(dc, rcView, brush);
         plat::DeleteObject(brush);
         plat::ReleaseDC(nullptr, dc);
         m_tp->Activate(false);
         m_tp->Activate(true);
       },
       [&] {
         EXPECT_EQ(m_tp->Pixel(rcView.right - 5, rcView.bottom - 5), To565(0xFF808080u));
         EXPECT_EQ(CentrePixel(StartView()->m_pA), To565(0xFFFF0000u));
         EXPECT_EQ(m_app->GetMainWindowRect().bottom, nFittedBottom);
         m_tp->Activate(false);
         m_tp->Activate(true);
       },
       [&] { EXPECT_EQ(m_app->GetMainWindowRect().bottom, nFittedBottom); }});
  SetThemeIndex(0);
}

TEST_F(AppFixture, SquareScreenFlagFollowsTheScreenAtStart) {
  struct TCase {
    int32_t w, h;
    bool bSquare;
  } cases[] = {{480, 480, true}, {480, 800, false}, {800, 480, false}};
  for (const TCase& c : cases) {
    m_app.reset();
    plat::TestConfig config;
    config.screenWidth = c.w;
    config.screenHeight = c.h;
    MakePlatform(config);
    MakeApp();
    EXPECT_EQ(CAppUi::IsSquareScreen(), c.bSquare) << c.w << "x" << c.h;
  }
}

TEST_F(AppFixture, RegistryFindsRegisteredObjectsAndNullForOthers) {
  try {
    CAppUi::FindObject(5);
    ADD_FAILURE() << "no panic without an application";
  } catch (const TPanic& p) {
    EXPECT_EQ(p.line, 1869);
  }
  try {
    CObject stray;  // stays the caller's: nothing takes it
    CAppUi::AddObject(5, &stray);
    ADD_FAILURE() << "no panic without an application";
  } catch (const TPanic& p) {
    EXPECT_EQ(p.line, 1854);
  }
  MakeApp();
  auto* pObject = new CObject;
  CAppUi::AddObject(7001, pObject);
  EXPECT_EQ(CAppUi::FindObject(7001), pObject);
  EXPECT_EQ(CAppUi::FindObject(7002), nullptr);
  CObject duplicate;
  try {
    CAppUi::AddObject(7001, &duplicate);
    ADD_FAILURE() << "a taken id was accepted";
  } catch (const Env::TSysErrorCode& e) {
    EXPECT_EQ(e.code, Env::ErrAlreadyExists);
  }
  EXPECT_EQ(CAppUi::FindObject(7001), pObject);
}

TEST_F(AppFixture, PostedRelayoutRunsOnceTheCurrentMessageIsDone) {
  MakeApp();
  RECT rcBefore{};
  Run({[&] {
         CLayoutNode* pArea = m_app->GetRootLayout()->FindNode(kViewAreaNode, -1);
         rcBefore = pArea->GetRect(CLayoutNode::SpaceWindow);
         // Someone else moved the tree; the application puts it back later.
         pArea->PinToRect(RECT{0, 0, 10, 10});
         m_app->GetRootLayout()->Update(RECT{0, 0, plat::GetSystemMetrics(plat::SM_CXSCREEN),
                                             plat::GetSystemMetrics(plat::SM_CYSCREEN)});
         m_app->PostRelayout();
         m_app->PostRelayout();
         EXPECT_EQ(pArea->GetRect(CLayoutNode::SpaceWindow).Width(), 10) << "not before the loop runs it";
       },
       [&] {
         CLayoutNode* pArea = m_app->GetRootLayout()->FindNode(kViewAreaNode, -1);
         EXPECT_TRUE(RectEquals(pArea->GetRect(CLayoutNode::SpaceWindow), rcBefore));
       }});
}

TEST_F(AppFixture, RotationRequestWaitsOnlyWhenTheDriverNeverClearsTheAngle) {
  SetThemeIndex(1);
  MakeApp();
  uint32_t t0 = plat::GetTickCount();
  m_app->SetScreenRotation(0);  // the written 0 reads back at once
  EXPECT_EQ(plat::GetTickCount(), t0);
  m_app->SetScreenRotation(90);  // stays 90: every poll fails, one short sleep
  EXPECT_EQ(plat::GetTickCount(), t0 + 10);
  EXPECT_EQ(CAppUi::GetScreenRotation(), 90);
  EXPECT_EQ(plat::ReadDword(plat::HKEY_LOCAL_MACHINE, u"System\\GDI\\ROTATION", u"Angle"), 90u);
  m_app->SetScreenRotation(45);  // not an orientation: back to 0
  EXPECT_EQ(CAppUi::GetScreenRotation(), 0);
  SetThemeIndex(0);
}

TEST_F(AppFixture, SlideOpensToLandscapeAndThemeZeroTurnsBackOnActivation) {
  MakeApp();
  Run({[&] { m_tp->SetSlide(true); },
       [&] {
         EXPECT_EQ(CAppUi::GetScreenRotation(), 90);
         m_tp->Activate(false);
         m_tp->Activate(true);
       },
       [&] { EXPECT_EQ(CAppUi::GetScreenRotation(), 0); }});
}

// --- input and focus ---------------------------------------------------------

TEST_F(AppFixture, TapsReachTheControlUnderThePointer) {
  MakeApp();
  Run({[&] {
         POINT c = Centre(StartView()->m_pB);
         m_log.clear();
         m_tp->Tap(c.x, c.y);
       },
       [&] {
         EXPECT_TRUE(Logged("B input 1 1 50 25"));
         EXPECT_TRUE(Logged("B input 0 1 50 25"));
         EXPECT_FALSE(Logged("A input 1 1 50 25"));
       }});
}

TEST_F(AppFixture, PressInsideReleaseOutsideGoesToTheHolder) {
  MakeApp();
  Run({[&] {
         POINT c = Centre(StartView()->m_pA);
         m_log.clear();
         m_tp->Down(c.x, c.y);
         m_tp->Up(c.x + 200, c.y + 300);
       },
       [&] {
         EXPECT_TRUE(Logged("A input 1 1 50 25"));
         EXPECT_TRUE(Logged("A input 0 1 250 325"));
       }});
}

TEST_F(AppFixture, KeysMoveTheFocusAndUnhandledKeysReachTheApplication) {
  MakeApp();
  Run({[&] {
         StartView()->m_pA->SetFocus();
         m_log.clear();
         m_tp->Key(plat::VK_DOWN);
       },
       [&] {
         // The view's own arrow navigation takes it inside the panel.
         EXPECT_EQ(m_app->FocusedControl(), StartView()->m_pB);
         EXPECT_TRUE(Logged("A input 1 40 0 0"));
         EXPECT_FALSE(Logged("app input 1 40"));
         // Up from the panel's first focusable leaves the panel: unhandled.
         StartView()->m_pA->SetFocus();
         m_log.clear();
         m_tp->Key(plat::VK_UP);
       },
       [&] {
         EXPECT_TRUE(Logged("app input 1 38"));
         // The panel itself comes before its first child in tree order.
         EXPECT_EQ(m_app->FocusedControl(), StartView());
         StartView()->DisableArrowKeys();
         StartView()->m_pA->SetFocus();
         StartView()->m_pA->SetNeighbours(nullptr, nullptr, StartView()->m_pB, nullptr);
         m_log.clear();
         m_tp->Key(plat::VK_RIGHT);
       },
       [&] {
         EXPECT_TRUE(Logged("app input 1 39"));
         EXPECT_EQ(m_app->FocusedControl(), StartView()->m_pB);
         m_tp->Key(plat::VK_UP);
       },
       [&] { EXPECT_EQ(m_app->FocusedControl(), StartView()->m_pA); }});
}

TEST_F(AppFixture, DialogLayerTakesKeysAndFocusReturnsWhenItCloses) {
  MakeApp();
  TBox* pDialog = nullptr;
  TBox* pThrough = nullptr;
  Run({[&] {
         StartView()->m_pB->SetFocus();
         pDialog = new TBox(&m_log, "D", 0xFFFFFF00u);
         pDialog->Create(m_app.get());
         pDialog->MoveTo(RECT{0, 300, 200, 400});
         m_app->SetChildLayer(pDialog, 1);
         EXPECT_EQ(m_app->TopShownLayer(), 1);
         EXPECT_EQ(m_app->FocusedControl(), m_app.get());
         pDialog->SetFocus();
         // Focus asked for a lower layer is only remembered.
         StartView()->m_pA->SetFocus();
         EXPECT_EQ(m_app->FocusedControl(), pDialog);
         m_log.clear();
         m_tp->Key(plat::VK_RETURN);
       },
       [&] {
         EXPECT_TRUE(Logged("D input 1 13 0 0"));
         // A lower-layer control under the pointer gets nothing, unless it
         // lets input through.
         POINT c = Centre(StartView()->m_pB);
         m_log.clear();
         m_tp->Tap(c.x, c.y);
       },
       [&] {
         EXPECT_FALSE(Logged("B input 1 1 50 25"));
         StartView()->m_pB->SetInputThrough(true);
         pThrough = StartView()->m_pB;
         POINT c = Centre(pThrough);
         m_tp->Tap(c.x, c.y);
       },
       [&] {
         EXPECT_TRUE(Logged("B input 1 1 50 25"));
         delete pDialog;
       },
       [&] {
         EXPECT_EQ(m_app->TopShownLayer(), 0);
         EXPECT_EQ(m_app->FocusedControl(), StartView()->m_pA);
       }});
}

TEST_F(AppFixture, InputQueuedBeforeAViewSwitchDoesNotReachTheOldView) {
  MakeApp();
  Run({[&] {
         m_log.clear();
         // A second tap on a row already on its way when the first one
         // switched the screen.
         StartView()->m_pA->PostInput(TInputEvent{0, KeyPointer, 5, 5});
         StartView()->m_pB->PostInput(TInputEvent{1, plat::VK_RETURN, 0, 0});
         m_app->ActivateView(4);
       },
       [&] {
         EXPECT_FALSE(Logged("A input 0 1 5 5"));
         EXPECT_FALSE(Logged("B input 1 13 0 0"));
         EXPECT_TRUE(Logged("V2 dtor active=4"));
       }});
}

TEST_F(AppFixture, RaisingALayerBringsItsChildrenToTheForegroundAboveTheView) {
  MakeApp();
  TBox* pDialog = nullptr;
  Run({[&] {
         pDialog = new TBox(&m_log, "D", 0xFFFFFF00u);
         pDialog->Create(m_app.get());
         pDialog->MoveTo(RECT{0, 300, 200, 400});
         m_app->SetChildLayer(pDialog, 1);
         m_tp->Activate(false);
       },
       [&] {
         ASSERT_EQ(plat::GetForegroundWindow(), nullptr);
         m_app->ActivateView(4);
         EXPECT_EQ(plat::GetForegroundWindow(), m_app->Window());
         m_log.clear();
         m_tp->Tap(100, 350);  // where the dialog lies over the new view
       },
       [&] { EXPECT_TRUE(Logged("D input 1 1 100 50")); }});
}

TEST_F(AppFixture, SoftKeyTextsReachTheBarAndItsCommandBecomesAKeyRelease) {
  MakeApp();
  Run({[&] {
         m_app->SetLeftSoftkeyText(u"Menu");
         m_app->SetRightSoftkeyText(u"");
         m_app->EnableSoftKeys(true, true);
         auto bar = m_tp->MenuBar();
         ASSERT_TRUE(bar);
         EXPECT_EQ(bar->buttons[0].text, u"Menu");
         EXPECT_TRUE(bar->buttons[0].enabled);
         EXPECT_FALSE(bar->buttons[1].enabled);  // no text: never usable
         m_log.clear();
         m_tp->Key(plat::VK_F1);
       },
       [&] {
         EXPECT_TRUE(Logged("app input 0 112"));
         EXPECT_FALSE(Logged("app input 1 112"));
         m_app->EnableSoftKeys(false, true);
         EXPECT_FALSE(m_tp->MenuBar()->buttons[0].enabled);
       }});
}

TEST_F(AppFixture, DeactivationDuringACaptureReleasesAtMinusOne) {
  MakeApp();
  Run({[&] {
         POINT c = Centre(StartView()->m_pA);
         m_tp->Down(c.x, c.y);
       },
       [&] {
         m_log.clear();
         m_tp->Activate(false);
       },
       [&] { EXPECT_TRUE(Logged("A input 0 1 -1 -1")); }});
}

// --- faults in handlers --------------------------------------------------------

TEST_F(AppFixture, PanicInAHandlerShowsRuntimePanicAndQuitsWithOne) {
  MakeApp();
  int r = Run({[&] {
    StartView()->m_pA->m_throwPanic = true;
    POINT c = Centre(StartView()->m_pA);
    m_tp->Tap(c.x, c.y);
  }, Wait(1000), [&] { ADD_FAILURE() << "the loop went on"; }});
  EXPECT_EQ(r, 1);
  auto boxes = m_tp->MessageBoxes();
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes[0].caption, u"Runtime Panic");
  EXPECT_EQ(boxes[0].text, u"Box, 7: ");
  EXPECT_EQ(boxes[0].type & plat::MB_ICONHAND, plat::MB_ICONHAND);
}

TEST_F(AppFixture, ErrorCodeInAHandlerLeavesTheLoopRunning) {
  MakeApp();
  bool bLater = false;
  int r = Run({[&] {
                 StartView()->m_pA->m_throwError = true;
                 POINT c = Centre(StartView()->m_pA);
                 m_tp->Tap(c.x, c.y);
               },
               [&] { bLater = true; }});
  EXPECT_EQ(r, 0);
  EXPECT_TRUE(bLater);
  EXPECT_TRUE(m_tp->MessageBoxes().empty());
}

// --- painting --------------------------------------------------------------------

TEST_F(AppFixture, InvalidatingOneControlRepaintsOnlyItsRectangle) {
  MakeApp();
  Run({[&] {
         // Mark the whole screen behind the framework's back.
         plat::HDC dc = plat::GetDC(nullptr);
         plat::HBRUSH brush = plat::CreateSolidBrush(0x00FF00FF);
         RECT all{0, 0, plat::GetSystemMetrics(plat::SM_CXSCREEN), 600};
         plat::FillRect(dc, all, brush);
         plat::DeleteObject(brush);
         plat::ReleaseDC(nullptr, dc);
         StartView()->m_pA->SetColour(0xFF00FFFFu);
       },
       [&] {
         RECT a = StartView()->m_pA->ScreenRect();
         EXPECT_EQ(CentrePixel(StartView()->m_pA), To565(0xFF00FFFFu));
         EXPECT_EQ(m_tp->Pixel(a.left, a.top), To565(0xFF00FFFFu));
         uint16_t marker = m_tp->Pixel(a.right + 1, a.top);
         EXPECT_NE(marker, To565(0xFF808080u));
         EXPECT_EQ(marker, m_tp->Pixel(400, 500));
         EXPECT_EQ(m_tp->Pixel(a.left, a.bottom), marker);
       }});
}

TEST_F(AppFixture, SeveralInvalidationsFlushOnceWithTheirUnion) {
  MakeApp();
  Run({[&] {
         TBox* pA = StartView()->m_pA;  // painted by the view
         TBox* pB = StartView()->m_pB;
         pA->m_nPaints = pB->m_nPaints = 0;
         pA->Invalidate();
         pB->Invalidate();
         pA->Invalidate(RECT{0, 0, 5, 5});
         RECT d = StartView()->DirtyRect();
         EXPECT_TRUE(RectEquals(d, RECT{10, 10, 110, 150}));
       },
       [&] {
         EXPECT_EQ(StartView()->m_pA->m_nPaints, 1);
         EXPECT_EQ(StartView()->m_pB->m_nPaints, 1);
         EXPECT_TRUE(RectEquals(StartView()->DirtyRect(), RECT{}));
       }});
}

TEST_F(AppFixture, TopLevelWindowAboveTheMainWindowIsNotPaintedOver) {
  MakeApp();
  Run({[&] {
         // The menu bar is such a window; stretch the view's area over it.
         auto bar = m_tp->MenuBar();
         ASSERT_TRUE(bar);
         uint16_t before = m_tp->Pixel(bar->rect.left + 2, bar->rect.top + 2);
         CView* pView = StartView();
         RECT rc = pView->Rect();
         pView->MoveTo(RECT{rc.left, rc.top, rc.right, plat::GetSystemMetrics(plat::SM_CYSCREEN)});
         pView->Invalidate();
         pView->FlushPaint();
         EXPECT_EQ(m_tp->Pixel(bar->rect.left + 2, bar->rect.top + 2), before);
       }});
}

// --- menu mode -------------------------------------------------------------------

class TFakeToolkit : public CVyServices {
 public:
  void ShowMenu(plat::HBITMAP hSnapshot, const plat::Rect& rcClient, const std::vector<TVyMenuItem>& items, int32_t w,
                int32_t h, int32_t itemH, plat::HWND, uint32_t, uint32_t) override {
    m_hSnapshot = hSnapshot;
    m_rcClient = rcClient;
    m_items = items;
    m_w = w, m_h = h, m_itemH = itemH;
  }
  plat::HBITMAP m_hSnapshot = nullptr;
  plat::Rect m_rcClient{};
  std::vector<TVyMenuItem> m_items;
  int32_t m_w = 0, m_h = 0, m_itemH = 0;
};

class TCounter {
 public:
  void Hit() { ++m_n; }
  int m_n = 0;
};

TEST_F(AppFixture, MenuModeNeitherSpinsNorDrawsOverTheSnapshot) {
  TFakeToolkit toolkit;
  SetVyServices(&toolkit);
  MakeApp();
  TCounter first, second;
  TBox* pLate = nullptr;
  uint16_t boxBefore = 0, bBefore = 0;
  Run({[&] {
         m_app->ClearMenuCommands();
         m_app->AddMenuCommand(u"One", true, CDelegate::Member<&TCounter::Hit>(&first));
         m_app->AddMenuCommand(u"Two", false, CDelegate::Member<&TCounter::Hit>(&second));
         boxBefore = CentrePixel(StartView()->m_pA);
         bBefore = CentrePixel(StartView()->m_pB);
         // Already queued when the menu opens.
         StartView()->m_pB->SetColour(0xFF00FF00u);
         m_app->SetMenuMode(true);
         EXPECT_TRUE(m_app->IsMenuMode());
         EXPECT_FALSE(plat::IsWindowVisible(StartView()->Window()));
         EXPECT_TRUE(StartView()->m_pA->IsShown());
       },
       Wait(300),
       [&] {
         EXPECT_EQ(CentrePixel(StartView()->m_pB), bBefore);
         // Work that goes on under the menu: a repaint and a new control.
         StartView()->m_pA->SetColour(0xFF00FFFFu);
         pLate = new TBox(&m_log, "L", 0xFFFFFFFFu);
         pLate->Create(StartView());
         pLate->MoveTo(RECT{200, 10, 260, 60});
         plat::InvalidateRect(StartView()->Window(), nullptr, false);
       },
       Wait(500),
       [&] {
         EXPECT_EQ(CentrePixel(StartView()->m_pA), boxBefore);
         EXPECT_EQ(CentrePixel(StartView()->m_pB), bBefore);
         EXPECT_FALSE(plat::IsWindowVisible(pLate->Window()));
         ASSERT_EQ(toolkit.m_items.size(), 2u);
         EXPECT_EQ(toolkit.m_items[1].nId, 2);
         EXPECT_EQ(toolkit.m_items[1].nFlag, 1);
         EXPECT_EQ(toolkit.m_w, 352);
         EXPECT_EQ(toolkit.m_h, 450);
         EXPECT_EQ(toolkit.m_itemH, 39);
         EXPECT_EQ(toolkit.m_hSnapshot, CControl::OffscreenBitmap());
         // The toolkit reports item 2 chosen, then closed.
         plat::PostMessage(m_app->Window(), WM_QUOREL_MENU_RUN, 0, 2);
         plat::PostMessage(m_app->Window(), WM_QUOREL_MENU_CLOSED, 0, 0);
       },
       [&] {
         EXPECT_FALSE(m_app->IsMenuMode());
         EXPECT_EQ(first.m_n, 0);
         EXPECT_EQ(second.m_n, 1);
         EXPECT_TRUE(plat::IsWindowVisible(StartView()->Window()));
         EXPECT_TRUE(plat::IsWindowVisible(pLate->Window()));
         EXPECT_EQ(CentrePixel(StartView()->m_pA), To565(0xFF00FFFFu));
         EXPECT_EQ(CentrePixel(pLate), To565(0xFFFFFFFFu));
         EXPECT_EQ(CentrePixel(StartView()->m_pB), To565(0xFF00FF00u));
         m_app->SetMenuMode(true);
         plat::PostMessage(m_app->Window(), WM_QUOREL_MENU_CLOSED, 0, 0);
       },
       [&] {
         EXPECT_FALSE(m_app->IsMenuMode());
         EXPECT_EQ(first.m_n + second.m_n, 1);  // closing without a choice runs nothing
       }});
  SetVyServices(nullptr);
}

// Counts what menu mode hands the toolkit.
class TMenuToolkit : public TFakeToolkit {
 public:
  plat::LRESULT ForwardMessage(plat::HWND, uint32_t nMsg, plat::WPARAM wParam, plat::LPARAM) override {
    if (nMsg == plat::WM_ACTIVATE) ++m_nActivations;
    if (nMsg == plat::WM_KEYDOWN || nMsg == plat::WM_KEYUP) ++m_nKeys;
    if (nMsg == plat::WM_COMMAND) m_commands.push_back(plat::LOWORD(wParam));
    return 0;
  }
  void Paint(plat::HDC) override { ++m_nPaints; }
  void ResumeRenderCurrentGUI() override { ++m_nResumes; }
  void CloseMenu() override { ++m_nCloses; }
  int m_nActivations = 0, m_nKeys = 0, m_nPaints = 0, m_nResumes = 0, m_nCloses = 0;
  std::vector<uint16_t> m_commands;
};

TEST_F(AppFixture, MenuModePaintsOnlyWhileActiveAndResumesOnPlainActivation) {
  TMenuToolkit toolkit;
  SetVyServices(&toolkit);
  SetThemeIndex(1);
  MakeApp();
  Run({[&] {
         m_app->SetMenuMode(true);
         m_tp->Activate(false);
       },
       [&] {
         EXPECT_EQ(toolkit.m_nResumes + toolkit.m_nActivations, 0) << "deactivation is neither";
         toolkit.m_nPaints = 0;
         plat::InvalidateRect(m_app->Window(), nullptr, false);
       },
       [&] {
         EXPECT_EQ(toolkit.m_nPaints, 0);
         m_tp->Activate(true);
       },
       [&] {
         EXPECT_EQ(toolkit.m_nResumes, 1);
         EXPECT_EQ(toolkit.m_nActivations, 0);
         plat::InvalidateRect(m_app->Window(), nullptr, false);
       },
       [&] {
         EXPECT_GE(toolkit.m_nPaints, 1);
         m_tp->Activate(false);
         m_tp->Activate(true, true);
       },
       [&] {
         EXPECT_EQ(toolkit.m_nResumes, 1);
         EXPECT_EQ(toolkit.m_nActivations, 1);
       }});
  SetThemeIndex(0);
  SetVyServices(nullptr);
}

TEST_F(AppFixture, SoftKeysInMenuModeReachTheApplicationAfterTheToolkit) {
  TMenuToolkit toolkit;
  SetVyServices(&toolkit);
  MakeApp();
  Run({[&] {
         m_app->SetRightSoftkeyText(u"Close");
         m_app->CloseOptionsMenu();
         EXPECT_EQ(toolkit.m_nCloses, 0) << "no menu to close";
         m_app->SetMenuMode(true);
         m_log.clear();
         m_tp->Key(plat::VK_F2);
       },
       [&] {
         EXPECT_EQ(toolkit.m_nKeys, 2);
         EXPECT_EQ(toolkit.m_commands, std::vector<uint16_t>{kCmdRightSoftKey});
         EXPECT_TRUE(Logged("app input 0 113"));
         EXPECT_FALSE(Logged("A input 0 113 0 0"));
         m_app->CloseOptionsMenu();
         EXPECT_EQ(toolkit.m_nCloses, 1);
       }});
  SetVyServices(nullptr);
}

TEST_F(AppFixture, MenuCommandListsAndTheClientRectangleReachTheToolkit) {
  TFakeToolkit toolkit;
  SetVyServices(&toolkit);
  EXPECT_EQ(CAppUi::AddOptionsMenuCommand(u"None", true, CDelegate()), nullptr);
  MakeApp();
  TCounter own, listed;
  Run({[&] {
         m_app->ClearMenuCommands();
         CAppUi::TMenuCommand* pItem =
             CAppUi::AddOptionsMenuCommand(u"Own", true, CDelegate::Member<&TCounter::Hit>(&own));
         ASSERT_NE(pItem, nullptr);
         pItem->text = u"Renamed";  // the item stays where it was handed out
         CAppUi::AddOptionsMenuCommand(u"Second", true, CDelegate());
         EXPECT_EQ(pItem->text, u"Renamed");
         m_app->SetMenuMode(true);
         ASSERT_EQ(toolkit.m_items.size(), 2u);
         EXPECT_EQ(toolkit.m_items[0].text, u"Renamed");
         RECT rcClient{};
         plat::GetClientRect(m_app->Window(), &rcClient);
         EXPECT_TRUE(RectEquals(toolkit.m_rcClient, rcClient));
         EXPECT_EQ(toolkit.m_rcClient.bottom, m_app->GetMainWindowRect().bottom);
         CAppUi::TMenuCommandList list;
         CAppUi::AddMenuCommand(list, u"A", true, CDelegate());
         CAppUi::AddMenuCommand(list, u"B", true, CDelegate::Member<&TCounter::Hit>(&listed));
         m_app->RunMenuCommand(list, 2);
         EXPECT_EQ(listed.m_n, 1);
         EXPECT_EQ(own.m_n, 0);
         EXPECT_FALSE(m_app->IsMenuMode());
         m_app->RunMenuCommand(list, 3);  // past the end: nothing runs
         EXPECT_EQ(listed.m_n, 1);
       }});
  SetVyServices(nullptr);
}

class TImageToolkit : public CVyServices {
 public:
  void LoadFrameSkin(const std::vector<int32_t>& ids) override { m_frame = ids; }
  void SetMenuItemImageIDs(const std::vector<int32_t>& ids) override { m_items = ids; }
  void SetMenuImageIDs(const std::vector<int32_t>& ids) override { m_menu = ids; }
  void Load(plat::HWND) override { m_bLoaded = !m_frame.empty(); }
  std::vector<int32_t> m_frame, m_items, m_menu;
  bool m_bLoaded = false;
};

TEST_F(AppFixture, ToolkitImagesFollowScreenSizeAndTheme) {
  struct TCase {
    int32_t w, h;
    uint32_t theme;
    int32_t frame0, item0, item5, menu0, menu8;
    size_t items, menus;
  } cases[] = {
      {480, 800, 0, 643, 553, 558, 545, 559, 10, 26},
      {480, 800, 1, 643, 692, 558, 684, 559, 10, 26},
      {480, 800, 2, 643, 0, 0, 0, 0, 0, 0},
      {240, 400, 1, 649, 553, 593, 580, 594, 10, 26},
  };
  for (const TCase& c : cases) {
    m_app.reset();
    plat::TestConfig config;
    config.screenWidth = c.w;
    config.screenHeight = c.h;
    config.dpi = c.w == 240 ? 96 : 192;
    MakePlatform(config);
    SetThemeIndex(c.theme);
    TImageToolkit toolkit;
    SetVyServices(&toolkit);
    MakeApp();
    Run({});
    SetVyServices(nullptr);
    SetThemeIndex(0);
    m_app.reset();
    SCOPED_TRACE(std::to_string(c.w) + " theme " + std::to_string(c.theme));
    ASSERT_EQ(toolkit.m_frame.size(), 6u);
    EXPECT_EQ(toolkit.m_frame[0], c.frame0);
    EXPECT_TRUE(toolkit.m_bLoaded);  // images before the screen is attached
    ASSERT_EQ(toolkit.m_items.size(), c.items);
    ASSERT_EQ(toolkit.m_menu.size(), c.menus);
    if (c.items) {
      EXPECT_EQ(toolkit.m_items[0], c.item0);
      EXPECT_EQ(toolkit.m_items[5], c.item5);
      EXPECT_EQ(toolkit.m_menu[0], c.menu0);
      EXPECT_EQ(toolkit.m_menu[8], c.menu8);
    }
  }
}

// --- ticks, single instance -----------------------------------------------------

class TTickCounter : public CEventListenerFor<TimerTickEvent> {
 public:
  void HandleEvent(const TNoPayload&) override { ++m_n; }
  int m_n = 0;
};

TEST_F(AppFixture, TickComesEveryHundredMillisecondsAndNeverPilesUp) {
  MakeApp();
  TTickCounter ticks;
  Run({[&] {
         ticks.Subscribe();
         ticks.m_n = 0;
       },
       Wait(1000), [&] {
         EXPECT_GE(ticks.m_n, 9);
         EXPECT_LE(ticks.m_n, 11);
         // Timer messages while the tick is still queued add nothing.
         plat::PostMessage(m_app->Window(), plat::WM_TIMER, 1, 0);
         plat::PostMessage(m_app->Window(), plat::WM_TIMER, 1, 0);
         plat::PostMessage(m_app->Window(), plat::WM_TIMER, 1, 0);
         ticks.m_n = 0;
       },
       [&] { EXPECT_EQ(ticks.m_n, 1); }});
}

// The second start runs in a copy of this program that runs only this case.
TEST(AppSecondInstanceChild, Run) {
  const char* root = std::getenv("QUOREL_APPUI_ROOT");
  if (!root) GTEST_SKIP() << "runs only as a child of the single-instance test";
  plat::FileSystemConfig files;
  files.deviceRoot = root;
  plat::ConfigureFileSystem(files);
  plat::ModuleHandle hModule = plat::LoadLibrary(u"\\app.res");
  if (!hModule) _exit(40);
  TLog log;
  int code = RunApplication([&] {
    auto pApp = std::make_unique<TApp>(&log);
    pApp->Init(hModule, plat::SW_SHOW);
    return std::unique_ptr<CAppUi>(std::move(pApp));
  });
  _exit(code);
}

TEST_F(AppFixture, SecondInstanceBringsTheFirstToFrontAndEndsWithZero) {
  plat::TestConfig config;
  config.virtualClock = false;  // the other process lives in real time
  MakePlatform(config);
  MakeApp();
  pid_t pid = 0;
  std::optional<int> childCode;
  // Bounded in real time, not in turns of the loop (its tick comes every
  // 100 ms); a child that failed has asked nothing, so nothing more comes.
  const auto giveUp = std::chrono::steady_clock::now() + support::kHangLimit;
  auto poll = [&] {
    int status = 0;
    if (!childCode && pid > 0 && waitpid(pid, &status, WNOHANG) == pid)
      childCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if ((childCode && *childCode != 0) || std::chrono::steady_clock::now() >= giveUp) return true;
    return childCode.has_value() && plat::GetForegroundWindow() == m_app->Window();
  };
  Run({[&] { m_tp->Activate(false); },
       [&] {
         ASSERT_EQ(plat::GetForegroundWindow(), nullptr);
         std::vector<std::string> env;
         for (char** e = environ; *e; ++e) env.emplace_back(*e);
         env.push_back("QUOREL_APPUI_ROOT=" + m_tp->DeviceRoot().string());
         std::vector<char*> envp;
         for (auto& v : env) envp.push_back(v.data());
         envp.push_back(nullptr);
         std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
         std::string filter = "--gtest_filter=AppSecondInstanceChild.Run";
         char* argv[] = {exe.data(), filter.data(), nullptr};
         ASSERT_EQ(posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv, envp.data()), 0);
       },
       WaitUntil(poll, std::numeric_limits<int>::max())});
  if (!childCode && pid > 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  EXPECT_EQ(childCode, std::optional<int>(0));
  EXPECT_TRUE(Logged("app start"));  // the first one ran on
}

TEST_F(AppFixture, SecondApplicationObjectPanicsAndSeveralAppsRunOneAfterAnother) {
  MakeApp();
  TApp other(&m_log);
  try {
    other.Init(m_hModule, plat::SW_SHOW);
    ADD_FAILURE() << "no panic";
  } catch (const TPanic& p) {
    EXPECT_EQ(p.line, 499);
  }
  EXPECT_EQ(Run({}), 0);
  m_app.reset();
  EXPECT_EQ(CAppUi::Instance(), nullptr);
  MakeApp();  // the control class, resources and bitmap start afresh
  EXPECT_EQ(Run({[&] { EXPECT_EQ(CentrePixel(StartView()->m_pA), To565(0xFFFF0000u)); }}), 0);
}

}  // namespace
