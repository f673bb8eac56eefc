// The popup menu driven by render frames on the headless screen: the phase
// machine and the dim, paging, the key and touch rules, the order of its
// messages, closing (also laid out again on the way out), and a menu
// destroyed while it is still open.
#include "menu_test_support.h"

namespace {

using vytest::MenuFixture;

class MenuTest : public MenuFixture {
 protected:
  CVyControl* Item(CVyMenu* m, int32_t i) { return m->GetChildControl(i); }
  // Opened and slid in.
  CBasicMenuEx* OpenShown(int32_t n, std::vector<int32_t> disabled = {}, const plat::WChar* title = nullptr) {
    CBasicMenuEx* m = OpenMenu(Table(n, std::move(disabled)), title);
    Frames(40);
    return m;
  }
};

TEST_F(MenuTest, PhasesFrameByFrameWithTheDimOnTheBackground) {
  FeedbackOn();
  CVyPanel* pPanel = m_gui->GetRootPanel();
  CBasicMenuEx* m = OpenMenu(Table(3));
  EXPECT_EQ(Played(), (std::vector<std::string>{"v windows\\press.ivt", "s 12_List Popup.wav"}));
  EXPECT_EQ(CVyMenu::s_nMenuPhase, 0);
  EXPECT_EQ(m->GetParent(), pPanel);
  EXPECT_EQ(pPanel->GetFocusIndex(), pPanel->GetChildCount() - 1);
  Frame();
  EXPECT_EQ(CVyMenu::s_nMenuPhase, 1);
  EXPECT_EQ(pPanel->GetModalControl(), nullptr);
  EXPECT_EQ(Red(ScreenPixel(5, 5)), 200 & 0xF8);  // the screen as it was
  Frame();
  EXPECT_EQ(CVyMenu::s_nMenuPhase, 2);
  EXPECT_EQ(pPanel->GetModalControl(), m);
  EXPECT_EQ(m->GetState(), CVyMenu::kStateOpening);
  Frame();  // the slide starts, the dim first falls
  EXPECT_EQ(m->GetState(), CVyMenu::kStateOpen);
  EXPECT_EQ(CVyMenu::DimLevel(), 235);
  RECT rc;
  m->GetRect(&rc);
  POINT off;
  m->GetOffset(&off);
  EXPECT_EQ(off.y, rc.Height());
  // 235, 215 ... 115, then it stays; the background darkens with it.
  int32_t last = Red(ScreenPixel(5, 5));
  for (int32_t level = 215; level >= 115; level -= 20) {
    Frame();
    EXPECT_EQ(CVyMenu::DimLevel(), level);
    const int32_t r = Red(ScreenPixel(5, 5));
    EXPECT_LT(r, last) << level;
    EXPECT_NEAR(r, 200 * level / 255, 9) << level;
    last = r;
  }
  Frames(30);
  EXPECT_EQ(CVyMenu::DimLevel(), 115);
  EXPECT_NEAR(Red(ScreenPixel(5, 5)), 200 * 115 / 255, 9);
  m->GetOffset(&off);
  EXPECT_EQ(off.y, 0);  // slid in
  EXPECT_EQ(m_posted.size(), 0u);
}

TEST_F(MenuTest, ChoosingPostsRunThenCloseOnlyAfterTheSlideOut) {
  FeedbackOn();
  CBasicMenuEx* m = OpenShown(5);
  const POINT p = CentreOf(Item(m, 1));
  Tap(p.x, p.y);
  Frame();  // the deferred release runs with the frame
  EXPECT_TRUE(m->IsRunPending());
  EXPECT_EQ(m->GetState(), CVyMenu::kStateClosing);
  // A second tap while closing chooses nothing more.
  const POINT q = CentreOf(Item(m, 3));
  Tap(q.x, q.y);
  int frames = 0;
  while (CVyMenu::s_nMenuPhase != CVyMenu::kPhaseClosed && frames < 100) {
    EXPECT_TRUE(m_posted.empty());
    Frame();
    ++frames;
  }
  EXPECT_GT(frames, 3);
  EXPECT_TRUE(m_posted.empty());  // the slide has ended; the event runs next frame
  Frame();
  EXPECT_EQ(m_posted, (std::vector<std::string>{"run 2", "close 0"}));
  EXPECT_EQ(m->GetParent(), nullptr);
  EXPECT_EQ(m_gui->GetRootPanel()->GetModalControl(), nullptr);
  EXPECT_FALSE(m->IsRunPending());
}

// A finger that leaves the row it pressed has given it up: lifted on
// another row or back on its own, nothing is chosen.
TEST_F(MenuTest, OnlyAPressThatStaysOnItsRowChoosesIt) {
  const struct {
    const char* name;
    std::vector<int32_t> path;  // the rows the finger moves over, then lifts on
    std::vector<std::string> posted;
  } cases[] = {
      {"lifted on the row", {1}, {"run 2", "close 0"}},
      {"slid off, lifted on another row", {2, 3}, {"close 0"}},
      {"slid off and back", {3, 1}, {"close 0"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    m_posted.clear();
    CBasicMenuEx* m = OpenShown(5);
    const POINT press = CentreOf(Item(m, 1));
    m_gui->OnLButtonDown(0, plat::MAKELPARAM(uint32_t(press.x), uint32_t(press.y)));
    POINT at = press;
    for (int32_t nRow : c.path) {
      at = CentreOf(Item(m, nRow));
      m_gui->OnMouseMove(0, plat::MAKELPARAM(uint32_t(at.x), uint32_t(at.y)));
    }
    m_gui->OnLButtonUp(0, plat::MAKELPARAM(uint32_t(at.x), uint32_t(at.y)));
    Frames(3);
    if (m->GetState() != CVyMenu::kStateClosing) m->Close(0, 1);
    EXPECT_GT(FramesUntilGone(m), 0);
    EXPECT_EQ(m_posted, c.posted);
  }
}

TEST_F(MenuTest, TapOutsideClosesWithTheSoundAndASecondCloseOnlySounds) {
  FeedbackOn();
  CBasicMenuEx* m = OpenShown(3);
  plat::ResetDeviceServices();
  Tap(240, 20);
  EXPECT_EQ(m->GetState(), CVyMenu::kStateClosing);
  EXPECT_EQ(Played(), (std::vector<std::string>{"v windows\\press.ivt", "s 12_List Popup.wav"}));
  plat::ResetDeviceServices();
  m->Close(0, 0);
  EXPECT_EQ(Played(), (std::vector<std::string>{"v windows\\press.ivt", "s 12_List Popup.wav"}));
  EXPECT_GT(FramesUntilGone(m), 0);
  EXPECT_EQ(m_posted, (std::vector<std::string>{"close 0"}));
  // The dim rose again while the menu slid out.
  EXPECT_GT(CVyMenu::DimLevel(), 115);
}

TEST_F(MenuTest, Paging) {
  // Ten items by eight (with a title), then fewer than a page.
  CBasicMenuEx* m = OpenShown(10, {}, u"Title");
  ASSERT_EQ(m->GetPageSize(), 8);
  CVyControl* up = m->FindRole(VYMENU_ROLE_PAGE_UP);
  CVyControl* down = m->FindRole(VYMENU_ROLE_PAGE_DOWN);
  EXPECT_TRUE(up->IsVisible() && down->IsVisible());
  EXPECT_FALSE(up->IsEnabled());
  m->GoToPage(1);
  EXPECT_EQ(m->GetTopIndex(), 2);
  EXPECT_FALSE(down->IsEnabled());
  EXPECT_TRUE(up->IsEnabled());
  EXPECT_FALSE(Item(m, 1)->IsVisible());
  EXPECT_TRUE(Item(m, 9)->IsVisible());
  m->GoToPage(0);
  EXPECT_EQ(m->GetTopIndex(), 0);
  EXPECT_FALSE(up->IsEnabled());
  EXPECT_TRUE(down->IsEnabled());
  m->GoToPage(3);
  EXPECT_EQ(m->GetTopIndex(), 2);
  m->GoToPage(2);
  EXPECT_EQ(m->GetTopIndex(), 0);
  // The page-down button pages; the disabled page-up never chooses the row
  // behind it.
  Frames(2);
  POINT p = CentreOf(up);
  Tap(p.x, p.y);
  Frame();
  EXPECT_EQ(m->GetState(), CVyMenu::kStateOpen);
  EXPECT_FALSE(m->IsRunPending());
  for (int32_t i = 0; i < 10; ++i) EXPECT_FALSE(Item(m, i)->IsVisible() && Item(m, i)->HitTest(p.x, p.y)) << i;
  p = CentreOf(down);
  Tap(p.x, p.y);
  Frame();
  EXPECT_EQ(m->GetTopIndex(), 2);
  EXPECT_FALSE(m->IsRunPending());
  // Fewer items than a page: page down leaves the top at 0.
  m->RemoveFromParent();
  CBasicMenuEx* small = OpenShown(3, {}, u"Title");
  small->GoToPage(1);
  EXPECT_EQ(small->GetTopIndex(), 0);
}

TEST_F(MenuTest, KeyRules) {
  FeedbackOn();
  CBasicMenuEx* m = OpenShown(12, {4, 5});
  ASSERT_EQ(m->GetPageSize(), 9);
  auto focus = [&] { return m->GetFocusIndex(); };
  Key(plat::VK_UP);  // no focus, no back button: the last visible item
  EXPECT_EQ(focus(), 8);
  Key(plat::VK_DOWN);
  EXPECT_EQ(focus(), 9);  // below the page: one page down
  EXPECT_EQ(m->GetTopIndex(), 3);
  Key(plat::VK_DOWN);
  Key(plat::VK_DOWN);
  EXPECT_EQ(focus(), 11);
  Key(plat::VK_DOWN);  // wraps to the first item and the first page
  EXPECT_EQ(focus(), 0);
  EXPECT_EQ(m->GetTopIndex(), 0);
  Key(plat::VK_UP);  // wraps to the last item on the last page
  EXPECT_EQ(focus(), 11);
  EXPECT_EQ(m->GetTopIndex(), 3);
  m->GoToPage(2);
  m->GetChildControl(focus())->SetFocus(0, 1);
  Key(plat::VK_UP);
  Key(plat::VK_DOWN);
  Key(plat::VK_DOWN);
  // 3 -> Down skips the disabled 4 and 5; Right onto a plain item does nothing.
  for (int32_t i = focus(); i < 3; ++i) Key(plat::VK_DOWN);
  EXPECT_EQ(focus(), 3);
  Key(plat::VK_DOWN);
  EXPECT_EQ(focus(), 6);
  Key(plat::VK_UP);
  EXPECT_EQ(focus(), 3);
  // Only one item shows the focus at a time, and a press clears it.
  int focused = 0;
  for (int32_t i = 0; i < 12; ++i) focused += Item(m, i)->IsFocused();
  EXPECT_EQ(focused, 1);
  const POINT p = CentreOf(Item(m, 1));
  m_gui->OnLButtonDown(0, plat::MAKELPARAM(uint32_t(p.x), uint32_t(p.y)));
  EXPECT_EQ(focus(), -1);
  EXPECT_FALSE(Item(m, 3)->IsFocused());
  m_gui->OnLButtonUp(0, plat::MAKELPARAM(uint32_t(p.x + 400), uint32_t(p.y)));
  Frame();
  EXPECT_FALSE(m->IsRunPending());  // released outside: nothing chosen
  Key(plat::VK_DOWN);
  Key(plat::VK_DOWN);
  EXPECT_EQ(focus(), 1);
  focused = 0;
  for (int32_t i = 0; i < 12; ++i) focused += Item(m, i)->IsFocused();
  EXPECT_EQ(focused, 1);
  // Return down and up chooses the focused item.
  Key(plat::VK_RETURN);
  EXPECT_TRUE(m->IsRunPending());
  EXPECT_GT(FramesUntilGone(m), 0);
  EXPECT_EQ(m_posted, (std::vector<std::string>{"run 2", "close 0"}));
}

TEST_F(MenuTest, AllDisabledEndsWithoutFocusAndBackCloses) {
  FeedbackOn();
  CBasicMenuEx* m = OpenShown(4, {0, 1, 2, 3});
  for (uint32_t key : {plat::VK_DOWN, plat::VK_UP, plat::VK_RIGHT}) {
    Key(key);
    EXPECT_EQ(m->GetFocusIndex(), -1) << key;
  }
  plat::ResetDeviceServices();
  Key(plat::VK_ESCAPE);  // Back: as Left, closes with the sound
  EXPECT_EQ(m->GetState(), CVyMenu::kStateClosing);
  EXPECT_EQ(Played(), (std::vector<std::string>{"v windows\\press.ivt", "s 12_List Popup.wav"}));
  EXPECT_GT(FramesUntilGone(m), 0);
  EXPECT_EQ(m_posted, (std::vector<std::string>{"close 0"}));
  // Left does the same.
  CBasicMenuEx* m2 = OpenShown(2);
  Key(plat::VK_LEFT);
  EXPECT_EQ(m2->GetState(), CVyMenu::kStateClosing);
}

// The screen turns while the menu slides out and a page key lays it out
// again, taller or shorter: the slide still ends, the panel is given back
// and the close message arrives.
TEST_F(MenuTest, AMenuLaidOutAgainWhileSlidingOutStillCloses) {
  for (const int32_t oldBottom : {400, 800}) {
    SCOPED_TRACE(oldBottom);
    m_posted.clear();
    CBasicMenuEx* m = OpenMenu(Table(12));
    m->SetRect(0, 0, 480, oldBottom, 0);
    Frames(40);
    RECT rcBefore;
    m->GetRect(&rcBefore);
    m->Close(0, 1);
    Frames(3);
    ASSERT_EQ(m->GetState(), CVyMenu::kStateClosing);
    m->SetRect(0, 0, 480, 1200 - oldBottom, 0);
    RECT rcAfter;
    m->GetRect(&rcAfter);
    ASSERT_NE(rcAfter.Height(), rcBefore.Height());
    EXPECT_GT(FramesUntilGone(m), 0);
    EXPECT_EQ(m_posted, (std::vector<std::string>{"close 0"}));
    EXPECT_EQ(CVyMenu::s_nMenuPhase, CVyMenu::kPhaseClosed);
    EXPECT_EQ(m_gui->GetRootPanel()->GetModalControl(), nullptr);
  }
}

TEST_F(MenuTest, DestroyedWhileOpenGivesThePanelBack) {
  CVyPanel* pPanel = m_gui->GetRootPanel();
  pPanel->SetFocusIndex(0);
  CBasicMenuEx* m = OpenShown(3);
  ASSERT_EQ(pPanel->GetModalControl(), m);
  // The framework drops it without closing (menu mode ended under it).
  m->RemoveFromParent();
  m->Destroy();
  m_menus.clear();
  EXPECT_EQ(pPanel->GetModalControl(), nullptr);
  EXPECT_EQ(pPanel->GetFocusIndex(), 0);
  EXPECT_EQ(pPanel->GetSavedFocusIndex(), -1);
  // The next menu opens, chooses and closes cleanly; a tap then reaches the
  // panel's own controls.
  CBasicMenuEx* m2 = OpenShown(3);
  const POINT p = CentreOf(Item(m2, 2));
  Tap(p.x, p.y);
  EXPECT_GT(FramesUntilGone(m2), 0);
  EXPECT_EQ(m_posted, (std::vector<std::string>{"run 3", "close 0"}));
  EXPECT_EQ(pPanel->GetModalControl(), nullptr);
  auto* pProbe = new vytest::TProbe(nullptr, "probe", RECT{0, 0, 100, 100});
  std::vector<std::string> log;
  pProbe->m_pLog = &log;
  pPanel->AddControl(pProbe, -1);
  Tap(50, 50);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log[0], "probe down");
}

TEST_F(MenuTest, RunEventWithoutBindingsGoesToTheParent) {
  CVyMenu bare;
  EXPECT_EQ(bare.FireRunEvent(3, 0), E_FAIL);
  EXPECT_FALSE(bare.IsRunPending());
  bare.SetControl(13, nullptr);
  EXPECT_EQ(CountLines("Error CBR(nType >= 0 && nType < VYMENU_MAX_CONTROL)"), 1);
  EXPECT_EQ(CVyMenuItem::SetControl(&bare, 6, nullptr), S_OK);
  EXPECT_EQ(CountLines("Error CBR(nType >= 0 && nType < VYMENUITEM_MAX_PRESS_CONTROL)"), 1);
  bare.Open(nullptr, 0, nullptr, nullptr);
  EXPECT_EQ(CountLines("Error CPR(pMainPanel)"), 1);
}

}  // namespace
