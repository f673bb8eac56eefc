// The smallest device: 240 x 320 at 96 dpi (its own binary: metrics never
// change once made). The menu fits the 295-pixel client and uses the small
// screen's colours and no separators.
#include "vy/VyLabel.h"
#include "menu_test_support.h"

namespace {

using vytest::MenuFixture;

class Menu96Test : public MenuFixture {
 protected:
  void SetUp() override {
    plat::TestConfig config;
    config.screenWidth = 240;
    config.screenHeight = 320;
    config.dpi = 96;
    Start(config);
    Prepare(240, 295);
  }
};

TEST_F(Menu96Test, NineCommandsFitTheClient) {
  CBasicMenuEx* m = OpenMenu(Table(9));
  RECT rc;
  m->GetRect(&rc);
  EXPECT_EQ(m->GetItemHeight(), 33);
  // (295 - 16 - 16) / 33 rows a page: 7, and the rest pages.
  EXPECT_EQ(m->GetPageSize(), (295 - 16 - 16) / 33);
  EXPECT_GE(rc.top, 0);
  EXPECT_EQ(rc.bottom, 295);
  EXPECT_LE(rc.right, 240);
  EXPECT_GE(rc.left, 0);
  EXPECT_TRUE(m->FindRole(VYMENU_ROLE_PAGE_DOWN)->IsVisible());
  // Small screen: no separators, a white centre, black item text.
  EXPECT_EQ(m->FindRole(BASICMENU_ROLE_SEPARATOR), nullptr);
  auto* item = dynamic_cast<CBasicMenuItem*>(m->GetChildControl(0));
  auto* label = dynamic_cast<CVyLabel*>(item->Button()->GetChildControlByReservedValue(VYBUTTON_TEXT_NORMAL));
  EXPECT_EQ(label->Unit().Font().Value()->m_colour, 0x000000u);
  Frames(40);
  const POINT p = CentreOf(m->GetChildControl(6));
  Tap(p.x, p.y);
  ASSERT_GT(FramesUntilGone(m), 0);
  EXPECT_EQ(m_posted, (std::vector<std::string>{"run 7", "close 0"}));
}

}  // namespace
