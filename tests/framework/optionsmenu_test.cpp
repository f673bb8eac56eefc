// The options menu on the real toolkit, driven through the application
// object: the menu over the snapshot, choosing, closing by soft key, Back
// and a tap outside, menu mode left under an open menu, a rotation (also
// while the menu slides out), and shutting down with the menu open.
#include "appui_test_support.h"
#include "framework/VyServices.h"
#include "platform/shell/DeviceServices.h"
#include "vy/BasicMenu.h"
#include "vy/FrameSkin.h"
#include "vy/ImageUtil.h"
#include "vy/OptionsMenuGUI.h"
#include "vy/VyGesture.h"
#include "vy/VyPanel.h"
#include "vy/VyPicture.h"

namespace {

using apptest::AppFixture;

class TCounter {
 public:
  void Hit() { ++m_n; }
  int m_n = 0;
};

// The application closes its menu with the right soft key.
class TMenuApp : public apptest::TApp {
 public:
  using TApp::TApp;
  bool OnInput(const TInputEvent& e) override {
    if (e.bPressed == 0 && e.nKey == plat::VK_F2 && IsMenuMode()) {
      m_pLog->push_back("app closes the menu");
      CloseOptionsMenu();
      return true;
    }
    return TApp::OnInput(e);
  }
};

class OptionsMenuTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    ResetToolkit();
    SetVyServices(&ToolkitServices());
  }
  void TearDown() override {
    m_app.reset();
    SetVyServices(nullptr);
    ResetToolkit();
    AppFixture::TearDown();
  }
  static void ResetToolkit() {
    CBaseGUI::ResetStaticsForTests();
    CVyMenu::ResetStaticsForTests();
    ResetBasicMenuSharedForTests();
    CIImage::ResetForTests();
    ResetMenuImageIDsForTests();
    SetResourceInstance(nullptr);
  }
  void MakeMenuApp() {
    m_app = std::make_unique<TMenuApp>(&m_log);
    m_app->Init(m_hModule, plat::SW_SHOW);
    m_pStart = new apptest::TFactory(&m_log, "V2", 0xFF808080u, true);
    m_pOther = new apptest::TFactory(&m_log, "V4", 0xFF00FF00u, false);
    m_app->RegisterView(2, m_pStart);
    m_app->RegisterView(4, m_pOther);
    m_app->SetStartView(2);
  }
  void AddCommands() {
    m_app->ClearMenuCommands();
    m_app->AddMenuCommand(u"One", true, CDelegate::Member<&TCounter::Hit>(&m_one));
    m_app->AddMenuCommand(u"Two", true, CDelegate::Member<&TCounter::Hit>(&m_two));
    m_app->AddMenuCommand(u"Three", true, CDelegate::Member<&TCounter::Hit>(&m_three));
  }
  static CBasicMenuEx* Menu() { return ToolkitServices().Screen() ? ToolkitServices().Screen()->GetMenu() : nullptr; }
  // The screen point of a menu item's centre once the menu has slid in.
  POINT ItemPoint(int32_t i) {
    RECT rc;
    Menu()->GetChildControl(i)->GetOffsetRect(&rc);
    const RECT win = m_app->ScreenRect();
    return POINT{win.left + (rc.left + rc.right) / 2, win.top + (rc.top + rc.bottom) / 2};
  }
  TStep Open() {
    return [this] {
      AddCommands();
      m_app->SetRightSoftkeyText(u"Close");
      m_app->SetMenuMode(true);
    };
  }
  // Slid in: the menu is open and at rest.
  TStep UntilOpen() {
    return WaitUntil([] {
      POINT off{};
      if (Menu()) Menu()->GetOffset(&off);
      return Menu() && Menu()->GetState() == CVyMenu::kStateOpen && off.y == 0 && CVyMenu::DimLevel() == 115;
    });
  }
  TStep UntilClosed() {
    return WaitUntil([this] { return !m_app->IsMenuMode(); });
  }

  TCounter m_one, m_two, m_three;
};

TEST_F(OptionsMenuTest, TheMenuOpensOverTheSnapshotAndItemTwoRunsCommandTwo) {
  MakeMenuApp();
  uint16_t boxBefore = 0;
  Run({[&] {
         boxBefore = CentrePixel(StartView()->m_pA);
         AddCommands();
         m_app->SetMenuMode(true);
       },
       WaitUntil([] { return CVyMenu::s_nMenuPhase >= CVyMenu::kPhaseFirstFrame; }),
       [&] {
         // The first toolkit frame shows the screen as it was, not black.
         EXPECT_EQ(CentrePixel(StartView()->m_pA), boxBefore);
         ASSERT_NE(Menu(), nullptr);
         EXPECT_EQ(Menu()->GetItemCount(), 3);
       },
       UntilOpen(),
       [&] {
         // Dimmed, not gone: the red box shows darker.
         const uint16_t v = CentrePixel(StartView()->m_pA);
         EXPECT_NE(v, boxBefore);
         EXPECT_GT(v >> 11, 8);
         const POINT p = ItemPoint(1);
         m_tp->Tap(p.x, p.y);
       },
       UntilClosed(),
       [&] {
         EXPECT_EQ(m_two.m_n, 1);
         EXPECT_EQ(m_one.m_n + m_three.m_n, 0);
       }});
}

TEST_F(OptionsMenuTest, TheToolkitRepaintsTheApplicationForTenSecondsAfterStart) {
  MakeMenuApp();
  int paints = 0;
  Run({[&] {
         ASSERT_NE(ToolkitServices().Screen(), nullptr);
         EXPECT_TRUE(ToolkitServices().Screen()->IsRendering());
         paints = StartView()->m_pA->m_nPaints;
       },
       Wait(1000),
       [&] {
         EXPECT_GT(StartView()->m_pA->m_nPaints, paints + 10);
       },
       Wait(10000),
       [&] {
         EXPECT_FALSE(ToolkitServices().Screen()->IsRendering());
         paints = StartView()->m_pA->m_nPaints;
       },
       Wait(1000), [&] { EXPECT_EQ(StartView()->m_pA->m_nPaints, paints); }});
}

TEST_F(OptionsMenuTest, BackTheSoftKeyAndATapOutsideCloseWithoutAChoice) {
  MakeMenuApp();
  RECT rcBar{};
  Run({Open(), UntilOpen(), [&] { m_tp->Key(plat::VK_ESCAPE); }, UntilClosed(),
       [&] { EXPECT_FALSE(m_app->IsMenuMode()); },
       Open(), UntilOpen(), [&] { m_tp->Key(plat::VK_F2); }, UntilClosed(),
       [&] {
         EXPECT_TRUE(Logged("app closes the menu"));
       },
       Open(), UntilOpen(),
       [&] {
         // The bar's right half: the soft key's command, then its input.
         m_log.clear();
         ASSERT_TRUE(plat::FindMenuBar(m_app->Window()));
         plat::GetWindowRect(plat::FindMenuBar(m_app->Window()), &rcBar);
         m_tp->Tap(rcBar.right - 10, (rcBar.top + rcBar.bottom) / 2);
       },
       UntilClosed(), [&] { EXPECT_TRUE(Logged("app closes the menu")); },
       Open(), UntilOpen(),
       [&] {
         const RECT win = m_app->ScreenRect();
         m_tp->Tap(win.left + 5, win.top + 5);  // outside the menu
       },
       UntilClosed(),
       [&] { EXPECT_EQ(m_one.m_n + m_two.m_n + m_three.m_n, 0); }});
}

TEST_F(OptionsMenuTest, MenuModeLeftUnderAnOpenMenuThenATapArrives) {
  MakeMenuApp();
  auto boxTapped = [this] {
    for (const auto& l : m_log)
      if (l.rfind("A input 1", 0) == 0) return true;
    return false;
  };
  auto tapBox = [this] {
    m_log.clear();
    const POINT a = Centre(StartView()->m_pA);
    m_tp->Tap(a.x, a.y);
  };
  Run({Open(), UntilOpen(),
       // A view switch leaves menu mode without closing the toolkit menu;
       // the next open drops it.
       [&] { m_app->SetMenuMode(false); }, Wait(100), Open(), UntilOpen(),
       [&] {
         const POINT p = ItemPoint(2);
         m_tp->Tap(p.x, p.y);
       },
       UntilClosed(),
       [&] {
         EXPECT_EQ(m_three.m_n, 1);
         tapBox();
       },
       Wait(100),
       [&] {
         EXPECT_TRUE(boxTapped());
       },
       // Menu mode ends between the pen going down on the menu and up: the
       // toolkit's capture must not swallow the next tap.
       Open(), UntilOpen(),
       [&] {
         const POINT p = ItemPoint(0);
         m_tp->Down(p.x, p.y);
       },
       Wait(50),
       [&] {
         m_app->SetMenuMode(false);
         const POINT p = ItemPoint(0);
         m_tp->Up(p.x, p.y);
       },
       Wait(100), [&] { tapBox(); }, Wait(100),
       [&] {
         EXPECT_TRUE(boxTapped());
         EXPECT_EQ(m_one.m_n, 0);
       }});
}

// Back on the landscape screen, the screen turns upright while the menu
// slides out and the arrow keys page it (laid out again, taller): menu mode
// still ends, and taps reach the views again.
TEST_F(OptionsMenuTest, TheMenuClosesWhenTurnedAndPagedWhileSlidingOut) {
  MakeMenuApp();
  auto openLong = [this] {
    AddCommands();
    for (int i = 0; i < 9; ++i) m_app->AddMenuCommand(u"More", true, CDelegate::Member<&TCounter::Hit>(&m_three));
    m_app->SetMenuMode(true);
  };
  int32_t nHeightBefore = 0;
  Run({[&] { m_tp->Rotate(90); }, Wait(500), openLong, UntilOpen(),
       [&] {
         RECT rc;
         Menu()->GetRect(&rc);
         nHeightBefore = rc.Height();
         m_tp->Key(plat::VK_ESCAPE);
         m_tp->Rotate(0);
         for (int i = 0; i < 12; ++i) m_tp->Key(plat::VK_DOWN);
       },
       Wait(3000),
       [&] {
         EXPECT_FALSE(m_app->IsMenuMode());
         if (Menu()) {
           RECT rc;
           Menu()->GetRect(&rc);
           EXPECT_GT(rc.Height(), nHeightBefore);  // the layout that used to strand it
         }
         EXPECT_EQ(m_one.m_n + m_two.m_n + m_three.m_n, 0);
       }});
}

TEST_F(OptionsMenuTest, ARotationWhileOpenAndShutdownWithTheMenuOpen) {
  MakeMenuApp();
  Run({Open(), UntilOpen(), [&] { m_tp->Rotate(90); }, Wait(500),
       [&] {
         // Still open over the old picture; Back closes it.
         EXPECT_TRUE(m_app->IsMenuMode());
         m_tp->Key(plat::VK_ESCAPE);
       },
       UntilClosed(), Open(), UntilOpen(),
       [&] {
         // The menu opened again in the new orientation takes the new client
         // size, its background too.
         RECT rcRoot;
         ToolkitServices().Screen()->GetRootPanel()->GetRect(&rcRoot);
         RECT rcClient;
         plat::GetClientRect(m_app->Window(), &rcClient);
         EXPECT_EQ(rcRoot.Width(), rcClient.right - rcClient.left);
         RECT rcBack;
         ToolkitServices().Screen()->GetBackground()->GetRect(&rcBack);
         EXPECT_EQ(rcBack, rcRoot);
         RECT rcMenu;
         Menu()->GetRect(&rcMenu);
         EXPECT_EQ(rcMenu.bottom, rcClient.bottom);
         EXPECT_EQ(rcMenu.left + rcMenu.right, 800);  // centred on the wide screen
         m_tp->Rotate(0);
       },
       Wait(500), Open(), UntilOpen()});
  // The application goes with the menu open.
  m_app.reset();
  EXPECT_EQ(ToolkitServices().Screen(), nullptr);
}

}  // namespace
