// The searching screen (view 12) after a recording stopped on view 2.
#include <gtest/gtest.h>

#include "ScreenHarness.h"
#include "app/QuorelAppUi.h"
#include "app/RecorderView.h"
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

}  // namespace
