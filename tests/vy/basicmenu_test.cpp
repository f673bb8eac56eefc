// Menus from item tables: the layout on the large portrait and landscape
// screens, widening, the page buttons and separators, nested tables,
// disabled records, the ids delivered and menus without art.
#include "vy/VyLabel.h"
#include "menu_test_support.h"

namespace {

using vytest::MenuFixture;

class BasicMenuTest : public MenuFixture {
 protected:
  static RECT RectOf(CVyControl* p) {
    RECT rc;
    p->GetRect(&rc);
    return rc;
  }
  static int32_t LabelExtent(CVyControl* pItem) {
    auto* pButton = dynamic_cast<CVyButton*>(pItem->GetChildControl(0));
    auto* pLabel = dynamic_cast<CVyLabel*>(pButton->GetChildControlByReservedValue(VYBUTTON_TEXT_NORMAL));
    plat::Size s{};
    pLabel->GetTextExtent(&s);
    return s.cx;
  }
  int32_t Separators(CVyMenu* m, std::vector<int32_t>* pShown) {
    int32_t n = 0;
    for (int32_t i = m->GetItemCount(); i < m->GetChildCount(); ++i) {
      CVyControl* c = m->GetChildControl(i);
      if (c->GetReservedValue() != BASICMENU_ROLE_SEPARATOR) continue;
      ++n;
      if (c->IsVisible()) pShown->push_back(c->GetData());
    }
    return n;
  }
};

TEST_F(BasicMenuTest, PortraitRectanglesWithAndWithoutPaging) {
  // 480 x 800 at 192 dpi: 9 a page, rows of S(66) = 66.
  struct Case {
    int32_t n;
    bool paging;
  } cases[] = {{9, false}, {12, true}};
  for (const Case& c : cases) {
    CBasicMenuEx* m = OpenMenu(Table(c.n));
    EXPECT_EQ(m->GetPageSize(), 9);
    EXPECT_EQ(m->GetItemHeight(), 66);
    const int32_t w = 480 * 352 / 480;
    EXPECT_EQ(m->GetWidth(), w) << c.n;  // the labels fit: no widening
    const int32_t e = c.paging ? S(9) + S(9) + 44 : 0;
    const RECT rc = RectOf(m);
    EXPECT_EQ(rc.Width(), w + e) << c.n;
    EXPECT_EQ(rc.left, (480 - w - e) / 2);
    EXPECT_EQ(rc.bottom, 800);  // the client's bottom
    EXPECT_EQ(rc.top, 800 - 16 - 9 * 66 - 16);
    CVyControl* up = m->FindRole(VYMENU_ROLE_PAGE_UP);
    CVyControl* down = m->FindRole(VYMENU_ROLE_PAGE_DOWN);
    EXPECT_EQ(up->IsVisible() != 0, c.paging);
    EXPECT_EQ(down->IsVisible() != 0, c.paging);
    if (c.paging) {
      const RECT ru = RectOf(up), rd = RectOf(down);
      EXPECT_EQ(ru, (RECT{rc.right - 16 - S(9) - 44, rc.top + 16 + S(11), rc.right - 16 - S(9), rc.top + 16 + S(11) + 44}));
      EXPECT_EQ(rd.bottom, 800 - 16 - S(11));
      // The rows end before the page column.
      EXPECT_LE(RectOf(m->GetChildControl(0)).right, ru.left);
    }
    // Rows: S(2) inside the frame, from S(4) below the items top.
    EXPECT_EQ(RectOf(m->GetChildControl(0)), (RECT{rc.left + 16 + S(2), rc.top + 16 + S(4),
                                                    rc.right - 16 - e - S(2), rc.top + 16 + S(4) + 66}));
    m->RemoveFromParent();
  }
}

TEST_F(BasicMenuTest, LongLabelsWidenInEvenStepsUpToTheCap) {
  // A label a little too long, then one far too long.
  const int32_t w0 = 480 * 352 / 480, cap = 480 * 450 / 480;
  const int32_t room = w0 - 2 * S(2) - S(25) - S(22);
  // The first label, growing a letter at a time, that is too long but
  // within the cap.
  auto table = Table(3);
  CBasicMenuEx* m = nullptr;
  int32_t excess = 0;
  for (int32_t len = 10; len < 40 && excess <= 0; ++len) {
    if (m) m->RemoveFromParent();
    table[1].label = plat::WString(size_t(len), u'n');
    m = OpenMenu(table);
    excess = LabelExtent(m->GetChildControl(1)) - room;
  }
  ASSERT_GT(excess, 0);
  ASSERT_LT(w0 + excess + 1, cap);
  EXPECT_EQ(m->GetWidth(), w0 + excess + (excess & 1));
  EXPECT_EQ(m->GetWidth() % 2, 0);
  EXPECT_EQ(RectOf(m).Width(), m->GetWidth());
  m->RemoveFromParent();
  table[1].label = plat::WString(200, u'W');
  CBasicMenuEx* wide = OpenMenu(table);
  EXPECT_EQ(wide->GetWidth(), cap);
  EXPECT_EQ(RectOf(wide).left, (480 - cap) / 2);
  wide->RemoveFromParent();
  // While paging the column must fit too: 450 + the page column overruns 480.
  auto many = Table(12);
  many[0].label = plat::WString(200, u'W');
  CBasicMenuEx* paged = OpenMenu(many);
  const int32_t e = S(9) + S(9) + 44;
  EXPECT_EQ(paged->GetWidth(), std::min(cap, 480 - e));
  EXPECT_EQ(paged->GetWidth(), 418);
  EXPECT_LE(RectOf(paged).right, 480);
  EXPECT_GE(RectOf(paged).left, 0);
}

TEST_F(BasicMenuTest, NestedTableAndDisabledRecords) {
  std::vector<BasicMenuItemInfo> sub = Table(2);
  auto table = Table(3, {2});
  table[0].pSubItems = sub.data();
  table[0].nSubCount = 2;
  CBasicMenuEx* m = OpenMenu(table);
  auto* item = dynamic_cast<CBasicMenuItem*>(m->GetChildControl(0));
  ASSERT_NE(item->GetSubMenu(), nullptr);
  EXPECT_EQ(item->GetSubMenu()->GetParent(), m);
  EXPECT_EQ(item->GetSubMenu()->GetItemCount(), 2);
  CVyControl* pressed = item->Button()->GetChildControlByReservedValue(VYBUTTON_PICTURE_PRESSED);
  ASSERT_NE(pressed->GetChildControlByReservedValue(4), nullptr);  // the arrow
  EXPECT_EQ(PictureWidth(pressed->GetChildControlByReservedValue(4)), 12);
  EXPECT_EQ(dynamic_cast<CBasicMenuItem*>(m->GetChildControl(1))->Button()->GetChildControlByReservedValue(
                VYBUTTON_PICTURE_PRESSED)->GetChildControlByReservedValue(4),
            nullptr);
  // The label room gives way to the arrow.
  EXPECT_EQ(item->GetLabelWidth(), dynamic_cast<CBasicMenuItem*>(m->GetChildControl(1))->GetLabelWidth() - 12);
  Frames(40);
  // Releasing it opens the nested menu.
  const POINT p = CentreOf(item);
  Tap(p.x, p.y);
  Frame();
  EXPECT_EQ(m->GetCurrentMenu(), item->GetSubMenu());
  EXPECT_EQ(m->GetState(), CVyMenu::kStateSubOpening);
  EXPECT_FALSE(m->IsRunPending());
  // The disabled record: built disabled, grey text, never chosen.
  CVyControl* off = m->GetChildControl(2);
  EXPECT_FALSE(off->IsEnabled());
  auto* grey = dynamic_cast<CVyLabel*>(
      dynamic_cast<CBasicMenuItem*>(off)->Button()->GetChildControlByReservedValue(VYBUTTON_TEXT_DISABLED));
  EXPECT_EQ(grey->Unit().Font().Value()->m_colour, 0xA5A5A5u);
  off->OnRelease(CentreOf(off).x, CentreOf(off).y, 0);
  EXPECT_FALSE(m->IsRunPending());
}

TEST_F(BasicMenuTest, IdsArePositionPlusOne) {
  for (int32_t i : {0, 4}) {
    CBasicMenuEx* m = OpenMenu(Table(5));
    Frames(40);
    const POINT p = CentreOf(m->GetChildControl(i));
    Tap(p.x, p.y);
    ASSERT_GT(FramesUntilGone(m), 0);
    EXPECT_EQ(m_posted, (std::vector<std::string>{"run " + std::to_string(i + 1), "close 0"}));
    m_posted.clear();
  }
}

TEST_F(BasicMenuTest, SeparatorsOnTheLargeScreenFollowThePage) {
  CBasicMenuEx* m = OpenMenu(Table(5));
  std::vector<int32_t> shown;
  EXPECT_EQ(Separators(m, &shown), 4);
  EXPECT_EQ(shown, (std::vector<int32_t>{0, 1, 2, 3}));
  CVyControl* line = m->FindRole(BASICMENU_ROLE_SEPARATOR);
  const RECT rl = RectOf(line), r0 = RectOf(m->GetChildControl(0));
  EXPECT_EQ(rl.top, r0.bottom);
  EXPECT_EQ(rl.Height(), 1);
  EXPECT_EQ(rl.left, RectOf(m).left + 1);
}

TEST_F(BasicMenuTest, LandscapePagesWithSeparators) {
  Restart(800, 480);
  CBasicMenuEx* m = OpenMenu(Table(7));
  EXPECT_EQ(m->GetPageSize(), 6);
  EXPECT_EQ(m->GetItemHeight(), S(56));
  auto visible = [&] {
    std::vector<int32_t> v;
    for (int32_t i = 0; i < 7; ++i)
      if (m->GetChildControl(i)->IsVisible()) v.push_back(i);
    return v;
  };
  std::vector<int32_t> shown;
  EXPECT_EQ(visible(), (std::vector<int32_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(Separators(m, &shown), 6);
  EXPECT_EQ(shown, (std::vector<int32_t>{0, 1, 2, 3, 4}));
  Frames(40);
  // The page-down button: pages 1 to 6, nothing chosen.
  const POINT p = CentreOf(m->FindRole(VYMENU_ROLE_PAGE_DOWN));
  Tap(p.x, p.y);
  Frame();
  EXPECT_EQ(m->GetTopIndex(), 1);
  EXPECT_FALSE(m->IsRunPending());
  EXPECT_EQ(visible(), (std::vector<int32_t>{1, 2, 3, 4, 5, 6}));
  shown.clear();
  Separators(m, &shown);
  EXPECT_EQ(shown, (std::vector<int32_t>{1, 2, 3, 4, 5}));
  // Now disabled, the page-down button leaves a tap to nothing.
  Tap(p.x, p.y);
  Frame();
  EXPECT_EQ(m->GetTopIndex(), 1);
  EXPECT_FALSE(m->IsRunPending());
}

TEST_F(BasicMenuTest, AFocusedRowStopsBeforeThePageButtons) {
  Restart(800, 480);
  CBasicMenuEx* m = OpenMenu(Table(7));
  Frames(40);
  for (int i = 0; i < 3; ++i) Key(plat::VK_DOWN);  // a row clear of both buttons
  Frame();
  ASSERT_GE(m->GetFocusIndex(), 0);
  RECT row, up;
  m->GetChildControl(m->GetFocusIndex())->GetOffsetRect(&row);
  m->FindRole(VYMENU_ROLE_PAGE_UP)->GetOffsetRect(&up);
  const int32_t y = (row.top + row.bottom) / 2;
  int32_t nLast = -1;  // the focus background's last column on that line
  for (int32_t x = row.left; x < up.right; ++x)
    if (ScreenPixel(x, y) == vytest::To565(0x20, 0xA0, 0x20)) nLast = x;
  EXPECT_GE(nLast, row.left);
  EXPECT_LT(nLast, up.left);
}

TEST_F(BasicMenuTest, NoArtMeansNoSizesAndNoLogSpam) {
  ResetMenuImageIDsForTests();  // every id "none"
  const size_t before = Lines().size();
  CBasicMenuEx* m = OpenMenu(Table(3));
  Frames(40);
  const RECT rc = RectOf(m);
  EXPECT_EQ(rc.top, 800 - 3 * 66);  // no frame pieces
  EXPECT_EQ(RectOf(m->FindRole(0)).Width(), 0);
  // Nothing is loaded, so nothing fails and retries frame after frame.
  const auto lines = Lines();
  for (size_t i = before; i < lines.size(); ++i) EXPECT_EQ(lines[i].find("CIImage"), std::string::npos) << lines[i];
  const size_t settled = Lines().size();
  Frames(20);
  EXPECT_EQ(Lines().size(), settled);
}

}  // namespace

namespace {

class BasicMenuMoreTest : public vytest::MenuFixture {};

TEST_F(BasicMenuMoreTest, ASubMenuFadesInAndItsChoiceGoesThroughTheOuterBindings) {
  FeedbackOn();
  std::vector<BasicMenuItemInfo> sub = Table(2);
  sub[0].nId = 21;
  sub[1].nId = 22;
  auto table = Table(3);
  table[1].pSubItems = sub.data();
  table[1].nSubCount = 2;
  CBasicMenuEx* m = OpenMenu(table);
  Frames(40);
  Key(plat::VK_DOWN);
  Key(plat::VK_DOWN);
  Key(plat::VK_RIGHT);  // opens the nested menu, its first item focused
  CVyMenu* pSub = m->GetCurrentMenu();
  ASSERT_NE(pSub, nullptr);
  EXPECT_EQ(pSub->GetFocusIndex(), 0);
  EXPECT_TRUE(dynamic_cast<CBasicMenu*>(pSub)->HasTitle());
  // The outer items fade out 60 a frame, then the nested menu slides in.
  Frames(6);
  EXPECT_EQ(m->GetState(), CVyMenu::kStateWaiting);
  Frames(40);
  EXPECT_EQ(pSub->GetState(), CVyMenu::kStateOpen);
  plat::ResetDeviceServices();
  Key(plat::VK_DOWN);
  Key(plat::VK_RETURN);
  ASSERT_GT(FramesUntilGone(m), 0);
  EXPECT_EQ(m_posted, (std::vector<std::string>{"run 22", "close 0"}));
  // The chosen item's button clicked once.
  const auto played = Played();
  EXPECT_EQ(std::count(played.begin(), played.end(), "s 02_List Enter.wav"), 1);
}

TEST_F(BasicMenuMoreTest, ThePageButtonsRunFeedbackPlaysOnce) {
  FeedbackOn();
  CBasicMenuEx* m = OpenMenu(Table(12));
  Frames(40);
  plat::ResetDeviceServices();
  const POINT p = CentreOf(m->FindRole(VYMENU_ROLE_PAGE_DOWN));
  Tap(p.x, p.y);
  Frame();
  EXPECT_EQ(m->GetTopIndex(), 3);
  const auto played = Played();
  EXPECT_EQ(std::count(played.begin(), played.end(), "s 02_List Enter.wav"), 1);
}

TEST_F(BasicMenuMoreTest, TheBackButtonWithACaptionAndATitle) {
  SetBasicMenuBackCaption(u"Back");
  CBasicMenuEx* m = OpenMenu(Table(3), u"Title");
  EXPECT_TRUE(m->HasBackButton());
  CVyControl* back = m->FindRole(VYMENU_ROLE_BACK);
  ASSERT_NE(back, nullptr);
  RECT rb, rm;
  back->GetRect(&rb);
  m->GetRect(&rm);
  EXPECT_EQ(rb.bottom, rm.bottom - 16);
  EXPECT_EQ(rb.Height(), 66);
  Frames(40);
  Key(plat::VK_UP);  // the back button is the first stop going up
  EXPECT_EQ(m->GetFocusIndex(), m->GetChildIndex(back));
  Key(plat::VK_LEFT);  // slides out without closing the chain
  EXPECT_EQ(m->GetState(), CVyMenu::kStateSlidingOut);
  SetBasicMenuBackCaption(nullptr);
  CBasicMenuEx* plain = OpenMenu(Table(3), u"Title");
  EXPECT_FALSE(plain->HasBackButton());
}

TEST_F(BasicMenuMoreTest, AnAnchorPlacesTheMenuAboveOrBelowIt) {
  struct Case {
    RECT anchor;
    bool fromBelow;
  } cases[] = {{{0, 100, 480, 150}, false}, {{0, 600, 480, 650}, true}};
  for (const Case& c : cases) {
    auto* m = new CBasicMenuEx(Table(3).data(), 3, 352, 450, 66);
    m_menus.push_back(m);
    m->CreateControls(nullptr);
    m->Open(m_gui->GetRootPanel(), 1, &c.anchor, nullptr);
    RECT rc;
    m->GetRect(&rc);
    const int32_t a = c.anchor.bottom - c.anchor.top;
    if (c.fromBelow)
      EXPECT_EQ(rc.top, c.anchor.top + a / 5 - rc.Height());
    else
      EXPECT_EQ(rc.top, c.anchor.bottom - a / 5);
    Frames(40);
    POINT off;
    m->GetOffset(&off);
    EXPECT_EQ(off.y, 0);
    m->RemoveFromParent();
  }
}

}  // namespace
