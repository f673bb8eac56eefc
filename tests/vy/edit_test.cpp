// The edit support without an edit: the entry points reduce to their null
// cases.
#include "vy_test_support.h"

namespace {

using vytest::VyFixture;

TEST_F(VyFixture, EditEntryPointsWithoutAnEdit) {
  CVyEdit::s_bActive = 1;
  EXPECT_EQ(CVyEdit::KillFocus(), 0);
  EXPECT_EQ(CVyEdit::s_bActive, 0);
  CVyEdit::s_bActive = 1;
  CVyEdit::s_bLocked = 1;
  EXPECT_EQ(CVyEdit::KillFocus(), 0);
  EXPECT_EQ(CVyEdit::s_bActive, 1);  // locked: untouched
  CVyEdit::s_bLocked = 0;
  CVyEdit::MovePanelForEdit(0);
  CVyEdit::OnScreenResize(480, 800);
  EXPECT_EQ(CVyEdit::s_nScreenHeight, 0);
  CVyEdit::HideEditWindow();
  EXPECT_TRUE(Lines().empty());
  // A control press ends any edit focus first.
  CVyControl c;
  c.SetRect(0, 0, 10, 10, 0);
  CVyEdit::s_bActive = 1;
  c.OnLButtonDown(5, 5);
  EXPECT_EQ(CVyEdit::s_bActive, 0);
}

}  // namespace
