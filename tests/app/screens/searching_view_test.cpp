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

// The recorder's top row shows under the wait panel: each mode button with
// the search's mode lit, drawn as the screen below the veil; the animation
// and the text still draw on the panel. Both themes, orientations and modes.
TEST_F(SearchingViewTest, TheTopRowShowsUnderTheWaitPanel) {
  const int32_t anIcons[2][2][2] = {{{157, 155}, {328, 155}}, {{158, 154}, {158, 327}}};  // [mode][theme][button]
  auto count = [this](const RECT& rc, TColor colour) {
    int32_t n = 0;
    for (int32_t y = rc.top; y < rc.bottom; ++y)
      for (int32_t x = rc.left; x < rc.right; ++x) n += m_tp->Pixel(x, y) == apptest::To565(colour);
    return n;
  };
  for (const SIZE screen : {SIZE{480, 800}, SIZE{800, 480}}) {
    TearDown();
    m_screen = screen;
    MakeScreens();
    std::vector<TStep> steps;
    for (uint32_t nTheme : {0u, 1u})
      for (int32_t nMode : {0, 1}) {
        steps.push_back([=, this] {
          *AppSettings::ThemeIndex() = int32_t(nTheme);
          RecordAndStop(nMode);
        });
        steps.push_back([&, nTheme, nMode] {
          SCOPED_TRACE(std::to_string(screen.cx) + " theme " + std::to_string(nTheme) + " mode " +
                       std::to_string(nMode));
          CSearchingView* p = CSearchingView::Current();
          ASSERT_NE(p, nullptr);
          for (int32_t nButton : {0, 1}) {
            CtlButton* pButton = p->ModeButton(nButton);
            const int32_t nIcon = anIcons[nMode][nTheme][nButton];
            EXPECT_EQ(pButton->IconId(), nIcon);
            // The picture (8 x 8 here) at its box's corner; the box rises
            // above the button, which clips it.
            const RECT rc = pButton->ScreenRect(), icon = pButton->IconStatic()->ScreenRect();
            EXPECT_EQ(m_tp->Pixel(icon.left + 4, std::max(icon.top, rc.top) + 2), apptest::To565(SlotColour(nIcon)));
            EXPECT_LT(count(rc, ThemeBackgroundColor(nTheme)), (rc.right - rc.left) * (rc.bottom - rc.top) / 2);
          }
          const RECT anim = p->Animation()->ScreenRect();
          EXPECT_EQ(m_tp->Pixel((anim.left + anim.right) / 2, (anim.top + anim.bottom) / 2),
                    apptest::To565(SlotColour(122 + 2 * p->Animation()->CurrentFrame())));
          EXPECT_GT(count(p->WaitText()->ScreenRect(), ThemeSearchingPainterColor(nTheme)), 0);
          m_app->OnInput(TInputEvent{0, plat::VK_F2, 0, 0});  // back
        });
      }
    steps.push_back([&] { ++m_nRan; });
    Run(steps);
  }
  EXPECT_EQ(m_nRan, 2);
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

// Soft keys under the wait panel: the panel's own set shows while it has a
// text or an action on either side, else view 12's Cancel below it; a hidden
// panel never counts.
TEST_F(SearchingViewTest, TheWaitPanelsKeysGiveWayToTheViewsCancel) {
  Run({[&] { RecordAndStop(0); },
       [&] {
         CPanelDialog* pPanel = CSearchingView::Current()->Overlay();
         ASSERT_GT(pPanel->DialogLayer(), 0);
         EXPECT_EQ(m_app->TopShownLayer(), pPanel->DialogLayer());
         const plat::WString cancel = CResources::GetString(9);
         bool bRan = false;
         const CDelegate act(&bRan, nullptr, [](CDelegate*, void* p, void*) { *static_cast<bool*>(p) = true; });
         struct TCase {
           const char16_t* szLeft;
           bool bLeftAction;
           bool bShown;
           const char16_t* szLeftShown;  // null: view 12's keys
         };
         const TCase cases[] = {
             {u"", false, true, nullptr},  // an empty set gives way
             {u"Own", false, true, u"Own"},
             {u"", true, true, u""},        // an action alone holds the layer
             {u"Own", true, false, nullptr},  // hidden: the view's keys
         };
         for (const TCase& c : cases) {
           pPanel->SetLeftSoftKey(c.szLeft, c.bLeftAction ? act : CDelegate{});
           if (c.bShown) pPanel->ShowPanel();
           else pPanel->HidePanel();
           const auto& keys = m_app->DisplayedSoftKeys();
           if (!c.szLeftShown) {
             EXPECT_EQ(keys.right.text, cancel) << (c.szLeft[0] ? "own" : "empty") << c.bShown;
             EXPECT_TRUE(keys.left.text.empty());
           } else {
             EXPECT_EQ(keys.left.text, c.szLeftShown);
             EXPECT_TRUE(keys.right.text.empty());
           }
         }
         pPanel->ShowPanel();
         pPanel->SetLeftSoftKey(u"", CDelegate{});
         // F2 still reaches command 8 through the layer below.
         m_app->OnInput(TInputEvent{0, plat::VK_F2, 0, 0});
         EXPECT_FALSE(bRan);
       },
       [&] {
         EXPECT_EQ(m_app->GetActiveViewId(), 2);
         ++m_nRan;
       }});
  EXPECT_EQ(m_nRan, 1);
}

// A screen that takes the focus as it is created, as the results list does.
class TFocusingView : public CView {
 public:
  void Create(CControl* pParent, plat::WStringView className = {}, plat::WStringView title = {}) override {
    CView::Create(pParent, className, title);
    SetEnableStateRaw(EnableOn);
    SetFocus();
  }
};
class TFocusingFactory : public CViewFactory {
 public:
  CView* CreateView() override { return new TFocusingView(); }
};

// While the wait panel covers the screens, a focus asked below it is only
// remembered and given once the panel goes; the results list that follows
// the searching screen gets its first focus, and the panel, hidden on
// leaving, goes with the searching screen.
TEST_F(SearchingViewTest, TheWaitPanelKeepsTheFocusBelowOnlyRemembered) {
  m_otherViews = [](int32_t nView) -> CViewFactory* { return nView == 4 ? new TFocusingFactory() : nullptr; };
  TearDown();
  MakeScreens();
  int32_t nPanelLayer = 0;
  Run({[&] { RecordAndStop(0); },
       [&] {
         CSearchingView* p = CSearchingView::Current();
         ASSERT_NE(p, nullptr);
         nPanelLayer = p->Overlay()->DialogLayer();
         ASSERT_EQ(m_app->TopShownLayer(), nPanelLayer);
         p->SetFocus();
         EXPECT_NE(CAppUi::GetFocus(), p);
         p->Overlay()->HidePanel();
       },
       [&] {
         CSearchingView* p = CSearchingView::Current();
         EXPECT_EQ(CAppUi::GetFocus(), p);
         p->Overlay()->ShowPanel();
         m_app->ActivateView(4);
         EXPECT_LT(m_app->TopShownLayer(), nPanelLayer);
         EXPECT_EQ(CAppUi::GetFocus(), m_app->ActiveView());
       },
       [&] {
         EXPECT_EQ(m_app->GetActiveViewId(), 4);
         EXPECT_EQ(CAppUi::GetFocus(), m_app->ActiveView());
         EXPECT_LT(m_app->TopLayer(), nPanelLayer);  // the panel went with the screen
         ++m_nRan;
       }});
  EXPECT_EQ(m_nRan, 1);
}

}  // namespace
