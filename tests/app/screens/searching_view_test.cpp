// The searching screen (view 12) after a recording stopped on view 2.
#include <gtest/gtest.h>

#include "ScreenHarness.h"
#include "app/QuorelAppUi.h"
#include "app/RecorderView.h"
#include "app/EditBar.h"
#include "app/SearchingView.h"
#include "framework/Resources.h"
#include "framework/Theme.h"
#include "platform/ui/Ui.h"
#include "protocol/AppSettings.h"
#include "tests/framework/widgets_test_support.h"

using namespace searchtest;

namespace {

class SearchingViewTest : public screentest::ScreenHarness {
 protected:
  void SetUp() override { MakeScreens(); }
  // A recording in the mode, stopped: view 12 follows.
  void RecordAndStop(int32_t nMode) {
    CRecorderView* p = CRecorderView::Current();
    p->SelectMode(nMode);
    p->StartRecording();
    m_script.elapsed = 300;
    Tick(3);
    p->StopRecording();
  }
};

TEST_F(SearchingViewTest, ModeLookAnimationSoftKeyAndLeaving) {
  Run({[&] { RecordAndStop(1); },
       [&] {
         ASSERT_EQ(m_app->GetActiveViewId(), 12);
         CSearchingView* p = CSearchingView::Current();
         ASSERT_NE(p, nullptr);
         uint32_t nTheme = GetThemeIndex();
         EXPECT_EQ(p->ModeButton(1)->Caption()->TextColor(), ThemeButtonCaptionColor(nTheme));
         EXPECT_EQ(p->ModeButton(0)->Caption()->TextColor(), ThemeButtonCaptionDimColor(nTheme));
         EXPECT_FALSE(p->ModeButton(0)->IsEnabled());
         EXPECT_EQ(p->WaitText()->Text(), CResources::GetString(59));
         EXPECT_EQ(m_app->DisplayedSoftKeys().right.text, CResources::GetString(9));
         // One frame every five ticks.
         int32_t nFirst = p->Animation()->CurrentFrame();
         Tick(4);
         EXPECT_EQ(p->Animation()->CurrentFrame(), nFirst);
         Tick(1);
         EXPECT_EQ(p->Animation()->CurrentFrame(), (nFirst + 1) % 9);
         // Placed on the wait panel's own tree.
         EXPECT_NE(p->Animation()->LayoutNode(), nullptr);
         EXPECT_GT(p->Animation()->Rect().right - p->Animation()->Rect().left, 0);
         EXPECT_TRUE(p->Overlay()->IsVisible());
         *AppSettings::CurrentItem() = 4;
         m_app->OnInput(TInputEvent{0, plat::VK_F2, 0, 0});  // back
       },
       [&] {
         EXPECT_EQ(m_app->GetActiveViewId(), 2);
         EXPECT_EQ(*AppSettings::CurrentItem(), -1);
         EXPECT_EQ(CQuorelAppUi::Recorder(), nullptr);
         ++m_nRan;
       }});
  EXPECT_EQ(m_nRan, 1);
}

// A display turned by 180 degrees rebuilds the screen's layout on the same
// view: the wait panel is laid out again and its controls keep their places.
TEST_F(SearchingViewTest, AHalfTurnKeepsTheWaitPanelPlaced) {
  RECT before{};
  Run({[&] { RecordAndStop(0); },
       [&] {
         CSearchingView* p = CSearchingView::Current();
         ASSERT_NE(p, nullptr);
         before = p->Animation()->Rect();
         EXPECT_GT(before.right - before.left, 0);
         Tick(5);
         m_tp->Rotate(180);
       },
       [&] {
         CSearchingView* p = CSearchingView::Current();
         ASSERT_NE(p, nullptr);
         RECT after = p->Animation()->Rect();
         EXPECT_EQ(after.right - after.left, before.right - before.left);
         EXPECT_EQ(after.bottom - after.top, before.bottom - before.top);
         EXPECT_GT(p->WaitText()->Rect().right - p->WaitText()->Rect().left, 0);
         int32_t nFrame = p->Animation()->CurrentFrame();
         Tick(5);
         EXPECT_NE(p->Animation()->CurrentFrame(), nFrame);
         ++m_nRan;
       }});
  EXPECT_EQ(m_nRan, 1);
}

// The title bar's back button goes back, by a tap and by Enter.
TEST_F(SearchingViewTest, TheTitleBarsBackButtonGoesBack) {
  CEditBar bar;
  Run({[&] { RecordAndStop(0); },
       [&] {
         // On the wait panel, which covers the view.
         BuildEditBar(bar, CSearchingView::Current()->Overlay(), 0);
         bar.Bar()->MoveTo(RECT{0, 0, 480, 75});
         RECT rc = bar.pBack->ScreenRect();
         m_tp->Tap((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
       },
       [&] {
         EXPECT_EQ(m_app->GetActiveViewId(), 2);
         RecordAndStop(0);
       },
       [&] {
         ASSERT_EQ(m_app->GetActiveViewId(), 12);
         CEditBar second;
         BuildEditBar(second, CSearchingView::Current()->Overlay(), 0);
         second.Bar()->MoveTo(RECT{0, 0, 480, 75});
         second.pBack->SetFocus();
         second.pBack->OnInput(TInputEvent{1, plat::VK_RETURN, 0, 0});
         second.pBack->OnInput(TInputEvent{0, plat::VK_RETURN, 0, 0});
       },
       [&] {
         EXPECT_EQ(m_app->GetActiveViewId(), 2);
         ++m_nRan;
       }});
  EXPECT_EQ(m_nRan, 1);
}

}  // namespace
