// The recorder screen (view 2) on the program's application object with a
// scripted recorder: idle and recording, the stop rules and the hand-over at
// the limit, the time and limit labels, every way back to idle, the mode keys
// and the orientation.
#include <gtest/gtest.h>

#include "ScreenHarness.h"
#include "app/QuorelAppUi.h"
#include "app/RecorderView.h"
#include "framework/AppRegistry.h"
#include "framework/Resources.h"
#include "layouts/Layouts.h"
#include "framework/Theme.h"
#include "platform/ui/Ui.h"
#include "protocol/AppSettings.h"
#include "protocol/ReplyDocuments.h"
#include "tests/framework/widgets_test_support.h"

using namespace searchtest;

namespace {

class RecorderViewTest : public screentest::ScreenHarness {
 protected:
  void Make() { MakeScreens(); }
  static CRecorderView* View() { return CRecorderView::Current(); }
  const CQuorelAppUi::TSoftKeySet& Keys() const { return m_app->DisplayedSoftKeys(); }
  static plat::WString Text(CtlStatic* p) { return p->Text(); }
  void TapRecord() { View()->RecordButton()->OnInput(TInputEvent{0, plat::VK_RETURN, 0, 0}); }
  // Starts a recording through the record button (Enter on it).
  void Start() {
    View()->RecordButton()->SetFocus();
    View()->RecordButton()->OnInput(TInputEvent{1, plat::VK_RETURN, 0, 0});
    TapRecord();
  }
  size_t Logged(const std::string& line) const {
    return static_cast<size_t>(std::count(m_log.begin(), m_log.end(), line));
  }
};

TEST_F(RecorderViewTest, IdleToRecordingAndTheStopRules) {
  Make();
  plat::WString idleRight, idleLeft;
  Run({[&] {
         ASSERT_NE(View(), nullptr);
         EXPECT_FALSE(View()->Elapsed()->IsVisible());
         EXPECT_FALSE(View()->Progress()->IsVisible());
         EXPECT_TRUE(View()->ModeButton(0)->IsActiveWhenDisabled());
         idleRight = Keys().right.text;
         idleLeft = Keys().left.text;
         EXPECT_FALSE(idleLeft.empty());
         Start();
         EXPECT_TRUE(View()->IsRecording());
         EXPECT_EQ(Text(View()->Elapsed()), u"00:00");
         EXPECT_EQ(Text(View()->Limit()), u"00:30");
         EXPECT_TRUE(View()->Progress()->IsVisible());
         EXPECT_EQ(View()->Progress()->ThumbExtent(), 0);
         EXPECT_FALSE(View()->ModeButton(0)->IsActiveWhenDisabled());
         EXPECT_FALSE(View()->ModeButton(1)->IsActiveWhenDisabled());
         EXPECT_TRUE(Keys().left.text.empty());
         EXPECT_NE(Keys().right.text, idleRight);
         EXPECT_TRUE(m_app->IsBacklightHeld());
         EXPECT_TRUE(View()->Part().IsRecording());
         EXPECT_NE(CQuorelAppUi::Recorder(), nullptr);
         // Refused: within two ticks, then with one second or less of sound.
         m_script.elapsed = 500;
         Tick();
         TapRecord();
         EXPECT_EQ(m_app->GetActiveViewId(), 2);
         m_script.elapsed = 100;
         Tick(2);
         TapRecord();
         EXPECT_EQ(m_app->GetActiveViewId(), 2);
         EXPECT_EQ(Logged("recorder request stop"), 0u);
         m_script.elapsed = 101;
         TapRecord();
       },
       [&] {
         EXPECT_EQ(Logged("recorder request stop"), 1u);
         EXPECT_EQ(m_app->GetActiveViewId(), 12);
         EXPECT_EQ(CQuorelAppUi::CountHistory(2), 1);
         EXPECT_FALSE(m_app->IsBacklightHeld());
       }});
  EXPECT_EQ(m_lastView, 12);
}

// The recorder ends a recording at the mode's limit (Sing 30 s, Grab the
// stored limit): the screen hands over as a stop does, and the reply opens
// the results.
TEST_F(RecorderViewTest, ARecordingAtItsLimitHandsOverAndTheReplyOpensTheResults) {
  Make();
  RegSetAppDword(kMaximumSearchLength, 20);
  m_script.reply = replydocs::kFlatSearch;
  std::vector<TStep> steps;
  for (const int32_t nLimit : {30, 20}) {
    steps.push_back([this, nLimit] {
      View()->SelectMode(nLimit == 30 ? 0 : 1);
      Start();
      m_script.elapsed = nLimit * 100;
      Tick();
      Post<RecorderStateEvent>(1);
    });
    steps.push_back([this, nLimit] {
      EXPECT_EQ(m_app->GetActiveViewId(), 12) << nLimit;
      EXPECT_EQ(Logged("recorder request stop"), 1u);
      EXPECT_EQ(Logged("recorder stop"), 0u);
      Post<RecorderStateEvent>(4);
    });
    steps.push_back([this, nLimit] {
      EXPECT_EQ(m_app->GetActiveViewId(), 4) << nLimit;
      EXPECT_EQ(CQuorelAppUi::Recorder(), nullptr);
      m_log.clear();
      CQuorelAppUi::GoBackTo(2);
      ++m_nRan;
    });
  }
  Run(steps);
  EXPECT_EQ(m_nRan, 2);
}

TEST_F(RecorderViewTest, ElapsedTimeRoundsAtFiftyOneAndFillsAgainstTheLimit) {
  Make();
  struct {
    int32_t nMode;
    int64_t nStored;  // -1: absent
    int32_t nElapsed;
    const char16_t* pElapsed;
    const char16_t* pLimit;
    int32_t nLimit;
  } cases[] = {{0, 20, 150, u"00:01", u"00:30", 30}, {0, 20, 151, u"00:02", u"00:30", 30},
               {1, 20, 2000, u"00:20", u"00:20", 20}, {1, -1, 900, u"00:09", u"00:30", 30},
               {1, 3, 420, u"00:04", u"00:05", 5},    {1, 45, 6000, u"01:00", u"00:30", 30}};
  Run({[&] {
    for (auto& c : cases) {
      // Absent reads as 0.
      RegSetAppDword(kMaximumSearchLength, static_cast<uint32_t>(c.nStored < 0 ? 0 : c.nStored));
      View()->SelectMode(c.nMode);
      m_script.elapsed = 0;
      Start();
      m_script.elapsed = c.nElapsed;
      Tick();
      EXPECT_EQ(Text(View()->Elapsed()), c.pElapsed) << c.nElapsed;
      EXPECT_EQ(Text(View()->Limit()), c.pLimit) << c.nStored;
      int32_t nSeconds = c.nElapsed / 100 + (c.nElapsed % 100 >= 51);
      EXPECT_EQ(View()->Progress()->ThumbExtent(), 100 * std::min(nSeconds, c.nLimit) / c.nLimit);
      View()->CancelRecording();
      ++m_nRan;
    }
  }});
  EXPECT_EQ(m_nRan, 6);
}

// Every way out of a recording but the stop ends idle, with the recorder gone.
TEST_F(RecorderViewTest, EveryCancelPathEndsIdle) {
  Make();
  struct TPath {
    const char* pName;
    std::function<void()> act;
  };
  std::vector<TPath> paths = {
      {"state 8", [] { Post<RecorderStateEvent>(8); }},
      {"state 7", [] { Post<RecorderStateEvent>(7); }},
      {"aborted", [] { Post<SearchAbortedEvent>(); }},
      {"deactivated", [] { Post<AppActivatedEvent>(0); }},
      {"recorder gone", [] {
         CQuorelAppUi::StopRecorder();
         Tick();
       }},
      {"stop without recorder", [this] {
         CQuorelAppUi::StopRecorder();
         TapRecord();
       }},
      {"cancel key", [this] { m_app->OnInput(TInputEvent{0, plat::VK_F2, 0, 0}); }},
  };
  std::vector<TStep> steps;
  for (auto& path : paths) {
    steps.push_back([&] {
      DismissDialogs();  // the message a failure showed
      Start();
      ASSERT_TRUE(View()->IsRecording()) << path.pName;
      path.act();
    });
    steps.push_back([&] {
      EXPECT_FALSE(View()->IsRecording()) << path.pName;
      EXPECT_EQ(CQuorelAppUi::Recorder(), nullptr) << path.pName;
      EXPECT_FALSE(View()->Elapsed()->IsVisible()) << path.pName;
      EXPECT_FALSE(View()->Part().IsRecording()) << path.pName;
      EXPECT_FALSE(m_app->IsBacklightHeld()) << path.pName;
      EXPECT_TRUE(View()->ModeButton(1)->IsActiveWhenDisabled()) << path.pName;
      EXPECT_EQ(m_app->GetActiveViewId(), 2) << path.pName;
    });
  }
  // A search that cannot start (no recorder for it) comes back as 8.
  steps.push_back([&] {
    SetSearchRecorderFactory(nullptr);
    Start();
  });
  steps.push_back([&] {
    EXPECT_FALSE(View()->IsRecording());
    ++m_nRan;
  });
  Run(steps);
  EXPECT_EQ(m_nRan, 1);
}

// Input queued for the recorder screen when a tap switched to view 12 does
// not reach it: a double tap stops once.
TEST_F(RecorderViewTest, ADoubleTapOnTheRecordButtonStopsOnce) {
  Make();
  Run({[&] {
         Start();
         m_script.elapsed = 300;
         Tick(3);
         RECT rc = View()->RecordButton()->ScreenRect();
         int32_t x = (rc.left + rc.right) / 2, y = (rc.top + rc.bottom) / 2;
         m_tp->Tap(x, y);
         m_tp->Tap(x, y);
       },
       [&] {
         EXPECT_EQ(m_app->GetActiveViewId(), 12);
         EXPECT_EQ(Logged("recorder request stop"), 1u);
         EXPECT_EQ(CQuorelAppUi::CountHistory(2), 1);
         ++m_nRan;
       }});
  EXPECT_EQ(m_nRan, 1);
}

TEST_F(RecorderViewTest, ArrowsChooseTheModeOnlyWhileIdle) {
  Make();
  Run({[&] {
    View()->SelectMode(0);
    struct {
      uint32_t nKey;
      int32_t nMode;
    } keys[] = {{plat::VK_LEFT, 0}, {plat::VK_RIGHT, 1}, {plat::VK_RIGHT, 1}, {plat::VK_LEFT, 0}};
    for (auto& k : keys) {
      EXPECT_TRUE(View()->OnInput(TInputEvent{1, k.nKey, 0, 0}));
      EXPECT_EQ(*AppSettings::SearchMode(), k.nMode);
      EXPECT_EQ(Text(View()->Headline()), CResources::GetString(k.nMode == 0 ? 23 : 24));
    }
    plat::WString singLeft = Keys().left.text;
    View()->SelectMode(1);
    EXPECT_NE(Keys().left.text, singLeft);
    Start();
    EXPECT_FALSE(View()->OnInput(TInputEvent{1, plat::VK_LEFT, 0, 0}));
    EXPECT_EQ(*AppSettings::SearchMode(), 1);
    View()->CancelRecording();
    ++m_nRan;
  }});
  EXPECT_EQ(m_nRan, 1);
}

TEST_F(RecorderViewTest, LandscapeSelectsItsOwnKeyAndHidesPictureBWhileRecording) {
  m_screen = SIZE{800, 480};
  Make();
  Run({[&] {
         EXPECT_TRUE(View()->IsLandscape());
         RECT rc = View()->RecordButton()->Rect();
         EXPECT_EQ(rc.bottom - rc.top, 90);
         EXPECT_TRUE(View()->PictureB()->IsVisible());
         Start();
         EXPECT_FALSE(View()->PictureB()->IsVisible());
         m_tp->Rotate(90);  // to portrait
       },
       [&] {
         EXPECT_FALSE(View()->IsLandscape());
         EXPECT_TRUE(View()->PictureB()->IsVisible());
         EXPECT_TRUE(View()->IsRecording());
         m_tp->Rotate(180);  // upside down landscape: the screen's own key, no panic
       },
       [&] {
         EXPECT_TRUE(View()->IsLandscape());
         EXPECT_FALSE(View()->PictureB()->IsVisible());
         View()->CancelRecording();
         EXPECT_TRUE(View()->PictureB()->IsVisible());
         ++m_nRan;
       }});
  EXPECT_EQ(m_nRan, 1);
}

TEST_F(RecorderViewTest, ASquareScreenIsPortraitWithACentredHeadline) {
  m_screen = SIZE{480, 480};
  Make();
  Run({[&] {
    EXPECT_FALSE(View()->IsLandscape());
    EXPECT_EQ(View()->Headline()->Alignment(), EAlignCenter);
    ++m_nRan;
  }});
  EXPECT_EQ(m_nRan, 1);
}

// The left soft key switches the mode and starts nothing, in both themes.
TEST_F(RecorderViewTest, ModeCommandsSwitchTheLookOnly) {
  Make();
  std::vector<TStep> steps;
  for (int32_t nTheme : {0, 1}) {
    steps.push_back([&, nTheme] {
      *AppSettings::ThemeIndex() = nTheme;
      View()->SelectMode(0);
      m_app->OnInput(TInputEvent{0, plat::VK_F1, 0, 0});
    });
    steps.push_back([&, nTheme] {
      EXPECT_EQ(*AppSettings::SearchMode(), 1) << nTheme;
      EXPECT_FALSE(View()->IsRecording());
      EXPECT_EQ(CQuorelAppUi::Recorder(), nullptr);
      EXPECT_EQ(View()->ModeButton(1)->Caption()->TextColor(), ThemeButtonCaptionColor(nTheme));
      EXPECT_EQ(View()->ModeButton(0)->Caption()->TextColor(), ThemeButtonCaptionDimColor(nTheme));
      EXPECT_EQ(Text(View()->Part().pCaption), CResources::GetString(34));
      m_app->OnInput(TInputEvent{0, plat::VK_F1, 0, 0});
    });
    steps.push_back([&, nTheme] {
      EXPECT_EQ(*AppSettings::SearchMode(), 0) << nTheme;
      EXPECT_EQ(View()->ModeButton(0)->Caption()->TextColor(), ThemeButtonCaptionColor(nTheme));
      ++m_nRan;
    });
  }
  Run(steps);
  EXPECT_EQ(m_nRan, 2);
}

// The instruction under the headline reads at the headline's fitted height
// and wraps whole inside its own box, in both orientations (after a turn)
// and both modes.
TEST_F(RecorderViewTest, TheInstructionIsDrawnWholeAtTheHeadlinesHeight) {
  const std::map<int32_t, plat::WString> languages[] = {
      {{23, u"Sing or hum a song"}, {24, u"Let your phone listen"},
       {39, u"Sing or hum the melody for at least 10 seconds."},
       {40, u"Hold your phone close to the music that is playing."}},
      {{23, u"Chantez ou fredonnez"}, {24, u"Faites écouter la musique"},
       {39, u"Chantez ou fredonnez la mélodie pendant au moins 10 secondes."},
       {40, u"Tenez votre téléphone près de la musique diffusée."}}};
  for (const auto& texts : languages) {
    m_texts = texts;
    Make();
    auto check = [&] {
      for (int32_t nMode : {0, 1}) {
        SCOPED_TRACE(plat::ToUtf8(texts.at(23)) + (View()->IsLandscape() ? " landscape " : " portrait ") +
                     std::to_string(nMode));
        View()->SelectMode(nMode);
        CtlStatic* pHeadline = View()->Headline();
        CtlStatic* pSub = View()->SubHeadline();
        EXPECT_EQ(pSub->Text(), texts.at(nMode == 0 ? 39 : 40));
        EXPECT_EQ(pHeadline->Font()->PixelHeight(), pHeadline->Rect().bottom - pHeadline->Rect().top);
        EXPECT_EQ(pSub->Font()->PixelHeight(), pHeadline->Font()->PixelHeight());
        // Wrapped at the box's width, every line lies inside the box.
        const RECT drawn = pSub->Measure(), box = pSub->Rect();
        EXPECT_LE(drawn.right, box.right);
        EXPECT_LE(drawn.bottom, box.bottom);
      }
    };
    Run({[&] {
           check();
           m_tp->Rotate(90);
         },
         [&] {
           EXPECT_TRUE(View()->IsLandscape());
           check();
           ++m_nRan;
         }});
    TearDown();
  }
  EXPECT_EQ(m_nRan, 2);
}

TEST_F(RecorderViewTest, EscapeOnTheIdleStartScreenQuits) {
  Make();
  int nResult = Run({[&] { m_app->OnInput(TInputEvent{0, plat::VK_ESCAPE, 0, 0}); }});
  EXPECT_EQ(nResult, 0);
}

}  // namespace
