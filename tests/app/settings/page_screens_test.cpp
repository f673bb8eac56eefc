// The help, server message, credits and terms screens in the running
// application: measured pages, their one-shot relayouts, links and keys.
#include <gtest/gtest.h>

#include <string>
#include <typeinfo>

#include "ScreensHarness.h"
#include "app/CreditsView.h"
#include "app/HelpView.h"
#include "app/MessageView.h"
#include "app/PreviewControl.h"
#include "app/ScreenSupport.h"
#include "app/TermsView.h"
#include "framework/AppRegistry.h"
#include "platform/shell/DeviceServices.h"
#include "platform/shell/Launch.h"
#include "net/HTTPParser.h"
#include "protocol/AppSettings.h"
#include "protocol/HTTPUserModel.h"

namespace screenstest {
namespace {

const std::u16string kLong =
    u"A paragraph long enough to wrap over many lines at any width the page can have, so that it is taller than "
    u"the picture beside it on every screen this test uses, in portrait and in landscape alike, and then some.";

class PageScreensTest : public ScreensHarness {
 protected:
  static CLayoutNode* Content(CtlScrollPanel* pPanel) { return pPanel->GetContentLayout(); }
  // The spacers sit below the taller of each picture and its paragraph
  // (the picture on a tie).
  static void ExpectTies(CLayoutNode* pContent) {
    for (const auto [nPicture, nParagraph, nSpacer] : {std::array{165, 166, 167}, std::array{168, 169, 170}}) {
      const RECT picture = NodeRect(pContent, nPicture), paragraph = NodeRect(pContent, nParagraph);
      const int32_t nBelow = Height(paragraph) > Height(picture) ? paragraph.bottom : picture.bottom;
      EXPECT_EQ(nBelow, NodeRect(pContent, nSpacer).top) << nSpacer;
      EXPECT_EQ(0, Height(NodeRect(pContent, nSpacer))) << nSpacer;
    }
  }
  // A server message as the application stores it.
  static void SetMessage(bool bRequired, const std::u16string& url) {
    CQuorelAppUi::ShowServerMessageView(u"Title", u"Text", bRequired, url);
  }
  // A finger put down at *pAt (read as the drag starts), moved by dy in
  // `moves` steps and lifted there.
  std::vector<TStep> DragBy(const POINT* pAt, int32_t dy, int32_t moves = 3) {
    std::vector<TStep> steps{[this, pAt] { m_tp->Down(pAt->x, pAt->y); }};
    for (int32_t i = 1; i <= moves; ++i)
      steps.push_back([this, pAt, dy, i, moves] { m_tp->Move(pAt->x, pAt->y + dy * i / moves); });
    steps.push_back([this, pAt, dy] { m_tp->Up(pAt->x, pAt->y + dy); });
    return steps;
  }
  // The drag's start (feedback 2) and end (feedback 3) as the device played
  // them, with the files they need.
  void MakeDragFeedbackFiles() { apptest::WriteFeedbackFiles(m_tp->DeviceRoot(), {"02_List Enter.wav", "release.ivt"}); }
  static POINT Centre(const RECT& rc) { return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2}; }
  static std::pair<int32_t, int32_t> DragFeedback() {
    std::pair<int32_t, int32_t> n{0, 0};
    for (const plat::FeedbackEvent& e : plat::FeedbackEvents()) {
      n.first += e.name == u"02_List Enter.wav";
      n.second += e.name == u"\\Windows\\release.ivt";
    }
    return n;
  }
};

// --- Help (view 18) ------------------------------------------------------------

TEST_F(PageScreensTest, HelpRowsFollowTheTallerOfPictureAndParagraph) {
  struct Case {
    const char* name;
    std::u16string text206, text207;
    bool bParagraphWins166, bParagraphWins169;
  } cases[] = {
      {"long first", kLong, u"x", true, false},
      {"long second", u"x", kLong, false, true},
      // An empty paragraph keeps its 0 px: the picture is taller.
      {"empty", u"", u"", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StartScreens(480, 800, {{206, c.text206}, {207, c.text207}});
    Run({[] { CQuorelAppUi::OpenHelp(); },
         [&] {
           CHelpView* pView = Active<CHelpView>();
           ASSERT_NE(pView, nullptr);
           CLayoutNode* pContent = Content(pView->Panel());
           ExpectTies(pContent);
           EXPECT_EQ(c.bParagraphWins166,
                     Height(NodeRect(pContent, 166)) > Height(NodeRect(pContent, 165)));
           EXPECT_EQ(c.bParagraphWins169,
                     Height(NodeRect(pContent, 169)) > Height(NodeRect(pContent, 168)));
           // The next picture starts below the tie.
           EXPECT_GT(NodeRect(pContent, 168).top, NodeRect(pContent, 167).top);
           // A measured paragraph is as tall as its text.
           const TFontDesc font{m_app->GetStandardHeight(2)};
           const RECT r205 = NodeRect(pContent, 164);
           EXPECT_EQ(MeasureTextHeight(pView->Paragraph(0), Text(205), font, r205.right - r205.left, EAlignCenter),
                     Height(r205));
           EXPECT_EQ(1, pView->TieRuns());
           EXPECT_TRUE(m_app->DisplayedSoftKeys().left.text.empty());
           EXPECT_TRUE(m_app->DisplayedSoftKeys().right.text.empty());
           EXPECT_TRUE(pView->Panel()->IsFocused());
         }});
    TearDown();
  }
}

TEST_F(PageScreensTest, HelpMeasuresAndTiesAgainAfterATurn) {
  StartScreens(480, 800, {{206, kLong}});
  int32_t nPortrait = 0, nLandscape = 0, nTurned = 0;
  int32_t nRunsBefore = 0;
  Run({[] { CQuorelAppUi::OpenHelp(); },
       [&] {
         nPortrait = Height(NodeRect(Content(Active<CHelpView>()->Panel()), 166));
         m_tp->Rotate(90);
       },
       [&] {
         CHelpView* pView = Active<CHelpView>();
         nLandscape = Height(NodeRect(Content(pView->Panel()), 166));
         ExpectTies(Content(pView->Panel()));
         nRunsBefore = pView->TieRuns();
         m_tp->Rotate(270);  // 180° from here: same size, a rebuilt tree
       },
       [&] {
         CHelpView* pView = Active<CHelpView>();
         nTurned = Height(NodeRect(Content(pView->Panel()), 166));
         ExpectTies(Content(pView->Panel()));
         EXPECT_EQ(nRunsBefore + 1, pView->TieRuns());
       }});
  EXPECT_GT(nPortrait, nLandscape);
  EXPECT_EQ(nLandscape, nTurned);
}

TEST_F(PageScreensTest, HelpsBackButtonGoesBack) {
  StartScreens();
  int32_t nView = -1;
  Run({[] { CQuorelAppUi::OpenHelp(); }, [&] { TapOn(Active<CHelpView>()->TitleBarBack()); },
       [&] { nView = m_app->GetActiveViewId(); }});
  EXPECT_EQ(2, nView);
}

// --- Server message (view 16) --------------------------------------------------

TEST_F(PageScreensTest, MessageSoftKeysFollowTheMessage) {
  struct Case {
    const char* name;
    bool bRequired;
    std::u16string url;
    int32_t nLeftLabel, nRightLabel;  // 0: empty
  } cases[] = {
      {"required with a link", true, u"http://quorel.test/news", 13, 3},
      {"required without a link", true, u"", 0, 3},
      {"optional", false, u"http://quorel.test/news", 5, 15},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StartScreens();
    CQuorelAppUi::TSoftKeySet keys;
    std::u16string title, text;
    bool bPicture = false, bWait = true;
    int32_t nQuiet = -1;
    bool bBusyShown = true;
    Run({[&] {
           BeginBusy();
           SetMessage(c.bRequired, c.url);
         },
         [&] {
           CMessageView* pView = Active<CMessageView>();
           ASSERT_NE(pView, nullptr);
           keys = m_app->DisplayedSoftKeys();
           title = pView->TitleLabel()->Text();
           text = pView->TextLabel()->Text();
           bPicture = pView->LinkPicture() != nullptr;
           bWait = pView->WaitAnimation() != nullptr;
           nQuiet = m_app->QuietCount();
           bBusyShown = m_app->IsBusyIndicatorShown();
           EndBusy();
         }});
    EXPECT_EQ(u"Title", title);
    EXPECT_EQ(u"Text", text);
    EXPECT_TRUE(bPicture);
    EXPECT_FALSE(bWait);
    EXPECT_EQ(1, nQuiet);
    EXPECT_FALSE(bBusyShown);
    EXPECT_EQ(c.nLeftLabel ? Text(c.nLeftLabel) : u"", keys.left.text);
    EXPECT_EQ(Text(c.nRightLabel), keys.right.text);
    TearDown();
  }
}

TEST_F(PageScreensTest, TheMessageCommandOpensTheLinkThenQuitsOrGoesBack) {
  for (int32_t nPayload : {1, 0}) {
    SCOPED_TRACE(nPayload);
    StartScreens();
    plat::ClearLaunches();
    int32_t nView = -1, nQuiet = -1;
    const int result = Run({[] { SetMessage(true, u"http://quorel.test/news"); },
                            [&] { searchtest::Post<MessageCommandEvent>(nPayload); },
                            [&] {
                              nView = m_app->GetActiveViewId();
                              nQuiet = m_app->QuietCount();
                            }});
    ASSERT_EQ(1u, plat::Launches().size());
    EXPECT_EQ(u"http://quorel.test/news", plat::Launches()[0].file);
    EXPECT_EQ(0, result);
    if (nPayload == 0) {
      EXPECT_EQ(2, nView);
      EXPECT_EQ(0, nQuiet);
    } else {
      EXPECT_EQ(-1, nView);  // the loop ended before the last step
    }
    TearDown();
  }
}

TEST_F(PageScreensTest, TheWaitingPageReportsAFailedPreviewAndShowsTheNewerMessage) {
  StartScreens();
  CQuorelAppUi::TSoftKeySet keys;
  bool bWait = false;
  int32_t nView = -1;
  std::u16string newer;
  Run({[&] {
         *AppSettings::MessagePending() = 0;
         m_app->ActivateView(16);
       },
       [&] {
         keys = m_app->DisplayedSoftKeys();
         bWait = Active<CMessageView>()->WaitAnimation() != nullptr;
         searchtest::Post<PlayerStateEvent>(7);
       },
       [&] {
         nView = m_app->GetActiveViewId();
         SetMessage(false, u"");
       },
       [&] { CQuorelAppUi::ShowServerMessageView(u"Newer", u"Second", false, u""); },
       [&] { newer = Active<CMessageView>()->TextLabel()->Text(); }});
  EXPECT_TRUE(bWait);
  EXPECT_EQ(Text(5), keys.left.text);
  EXPECT_TRUE(keys.right.text.empty());
  EXPECT_EQ(1u, CountCalls("ShowMessage 86 152"));
  EXPECT_EQ(2, nView);
  EXPECT_EQ(u"Second", newer);
}

// A stream player that starts at once and then reports a fixed state.
class TStatePlayer : public IPreviewPlayer {
 public:
  explicit TStatePlayer(int32_t nState) : m_nState(nState) {}
  int32_t Play(plat::WStringView) override { return 1; }
  void Pause() override {}
  void Resume() override {}
  int32_t GetState() override { return m_nState; }
  int32_t GetPlayedSeconds() override { return 0; }
  int32_t GetLengthSeconds() override { return -1; }
  bool IsComplete() override { return false; }
  bool HasFailed() override { return false; }

 private:
  int32_t m_nState;
};

TEST_F(PageScreensTest, TheWaitingPageShowsTheTrackOnceThePreviewIsUnderWay) {
  // The page reads the player's own state, not the event's.
  for (const auto [nPlayerState, nView] : {std::array{1, 16}, std::array{2, 13}, std::array{0, 16}}) {
    SCOPED_TRACE(nPlayerState);
    StartScreens();
    int32_t nActive = -1;
    Run({[&] {
           *AppSettings::MessagePending() = 0;
           m_app->ActivateView(16);
         },
         [&] {
           CHTTPUserModel* pUsers = AppSettings::GetUserModel();
           pUsers->SetTrackId(u"trk1");
           pUsers->SetAudioPreviewUrl(u"http://quorel.test/preview");
           pUsers->SetTrackKind(TrackKindPreview);
           CQuorelAppUi::Preview()->Services().makeStreamPlayer = [nPlayerState] {
             return std::make_unique<TStatePlayer>(nPlayerState);
           };
           CQuorelAppUi::PlayPreview();
         },
         [&] { nActive = m_app->GetActiveViewId(); }});
    EXPECT_EQ(nView, nActive);
    TearDown();
  }
}

TEST_F(PageScreensTest, AUserModelErrorShowsTheNetworkMessage) {
  StartScreens();
  int32_t nView = -1;
  std::u16string title, text;
  Run({[] { CHTTPUserModel::ShowRequestError(EHttpNetworkLost); },
       [&] {
         nView = m_app->GetActiveViewId();
         title = Active<CMessageView>()->TitleLabel()->Text();
         text = Active<CMessageView>()->TextLabel()->Text();
       }});
  EXPECT_EQ(16, nView);
  EXPECT_EQ(Text(82), title);
  EXPECT_EQ(Text(50), text);
}

TEST_F(PageScreensTest, MessageFontsFollowTheStandardHeight) {
  StartScreens(480, 800);
  TFontDesc title{}, text{};
  int32_t nStandard = 0;
  Run({[] { SetMessage(false, u""); },
       [&] {
         title = Active<CMessageView>()->TitleLabel()->Font()->Desc();
         text = Active<CMessageView>()->TextLabel()->Font()->Desc();
         nStandard = m_app->GetStandardHeight(2);
       }});
  EXPECT_EQ(nStandard, title.nPixelHeight);
  EXPECT_TRUE(title.bBold);
  EXPECT_EQ(nStandard, text.nPixelHeight);
  EXPECT_FALSE(text.bBold);
}

// --- Credits (view 19) -----------------------------------------------------------

TEST_F(PageScreensTest, CreditsSectionsTakeTheirMeasuredHeightsOnceAndEscapeGoesBack) {
  StartScreens();
  int32_t anHeights[6] = {}, anTurned[6] = {};
  int32_t nRuns = 0, nRunsTurned = 0, nView = -1;
  auto read = [&](int32_t (&out)[6], int32_t& nRunsOut) {
    CCreditsView* pView = Active<CCreditsView>();
    ASSERT_NE(pView, nullptr);
    for (int32_t i = 0; i < 6; ++i) out[i] = Height(NodeRect(Content(pView->Panel()), 179 + i));
    nRunsOut = pView->SizingRuns();
  };
  Run({[&] { m_app->ActivateView(19); },
       [&] {
         read(anHeights, nRuns);
         CCreditsView* pView = Active<CCreditsView>();
         EXPECT_EQ(u"SPEEX 2008", pView->SectionText(2)->Text());
         EXPECT_EQ(u"ZLIB 2007", pView->SectionText(4)->Text());
         const int32_t nInset = (pView->Panel()->Rect().right - pView->Panel()->Rect().left) / 12;
         for (int32_t i = 0; i < 6; ++i) {
           const RECT rc = NodeRect(Content(pView->Panel()), 179 + i);
           EXPECT_EQ(MeasureTextHeight(pView->SectionText(i), pView->SectionText(i)->Text(),
                                       pView->SectionText(i)->Font()->Desc(), rc.right - rc.left - nInset, EAlignLeft),
                     anHeights[i])
               << i;
         }
         EXPECT_EQ(Text(5), m_app->DisplayedSoftKeys().left.text);
         EXPECT_TRUE(m_app->DisplayedSoftKeys().right.text.empty());
         m_tp->Rotate(180);
       },
       [&] {
         read(anTurned, nRunsTurned);
         m_tp->Key(plat::VK_ESCAPE);
       },
       [&] { nView = m_app->GetActiveViewId(); }});
  for (int32_t i = 0; i < 6; ++i) {
    EXPECT_GT(anHeights[i], 0) << i;
    EXPECT_EQ(anHeights[i], anTurned[i]) << i;
  }
  EXPECT_GT(anHeights[1], anHeights[0]);
  EXPECT_EQ(1, nRuns);
  EXPECT_EQ(2, nRunsTurned);
  EXPECT_EQ(2, nView);
}

// --- Terms (view 6) ----------------------------------------------------------------

TEST_F(PageScreensTest, TermsFontFollowsTheSmallerSide) {
  EXPECT_EQ(30, CTermsView::FontHeight(480, 800));
  EXPECT_EQ(30, CTermsView::FontHeight(800, 480));
  EXPECT_EQ(15, CTermsView::FontHeight(240, 400));
  // Landscape too: the main window is lower than the screen by the menu bar.
  for (const auto [w, h, nFont] : {std::array{480, 800, 30}, std::array{800, 480, 30}, std::array{240, 400, 15}}) {
    StartScreens(w, h);
    int32_t nText = 0, nLink = 0;
    int32_t anBefore[2] = {}, anTurned[2] = {}, nRuns = 0;
    auto heights = [this](int32_t (&out)[2]) {
      CLayoutNode* pContent = Content(Active<CTermsView>()->Panel());
      out[0] = Height(NodeRect(pContent, 112));
      out[1] = Height(NodeRect(pContent, 113));
    };
    Run({[] { CQuorelAppUi::OpenTerms(); },
         [&] {
           nText = Active<CTermsView>()->Text()->Font()->PixelHeight();
           nLink = Active<CTermsView>()->Link()->Font()->PixelHeight();
           heights(anBefore);
           m_tp->Rotate(180);  // the same size: a rebuilt tree measured again
         },
         [&] {
           heights(anTurned);
           nRuns = Active<CTermsView>()->SizingRuns();
         }});
    EXPECT_EQ(nFont, nText);
    EXPECT_EQ(nFont, nLink);
    EXPECT_GT(anBefore[0], 0);
    EXPECT_GT(anBefore[1], 0);
    EXPECT_EQ(anBefore[0], anTurned[0]);
    EXPECT_EQ(anBefore[1], anTurned[1]);
    EXPECT_EQ(2, nRuns);
    TearDown();
  }
}

TEST_F(PageScreensTest, TheTermsLinkOpensTheStoredAddressAndTheMenuEntryReturns) {
  for (const char16_t* szUrl : {u"http://quorel.test/terms", u""}) {
    SCOPED_TRACE(plat::ToUtf8(szUrl));
    StartScreens(480, 800, {{217, kLong + kLong + kLong + kLong}});
    plat::ClearLaunches();
    bool bHiddenWhileShown = false, bShownAfter = false;
    int32_t nRuns = 0, nExtent = 0, nPanel = 0;
    Run({[&] {
           if (*szUrl) RegSetAppString(u"terms_and_conditions_url", szUrl);
           CQuorelAppUi::OpenTerms();
         },
         [&] {
           CTermsView* pView = Active<CTermsView>();
           bHiddenWhileShown = !m_app->FindMenuItem(8)->IsVisible();
           nRuns = pView->SizingRuns();
           nExtent = NodeRect(Content(pView->Panel()), 113).bottom - pView->Panel()->ScreenRect().top;
           nPanel = Height(pView->Panel()->ScreenRect());
           pView->Link()->SetFocus();
           m_tp->Key(plat::VK_RETURN);
         },
         [] { CQuorelAppUi::GoBack(); },
         [&] { bShownAfter = m_app->FindMenuItem(8)->IsVisible(); }});
    EXPECT_TRUE(bHiddenWhileShown);
    EXPECT_TRUE(bShownAfter);
    EXPECT_EQ(1, nRuns);
    EXPECT_GT(nExtent, nPanel);  // the long text scrolls
    // An empty address reaches nothing.
    ASSERT_EQ(*szUrl ? 1u : 0u, plat::Launches().size());
    if (*szUrl) {
      EXPECT_EQ(szUrl, plat::Launches()[0].file);
    }
    TearDown();
  }
}

TEST_F(PageScreensTest, PanelsOfTextsAndPicturesAreNoFocusStops) {
  for (int32_t nView : {16, 18, 19}) {
    StartScreens();
    Run({[&] {
           if (nView == 16) SetMessage(true, u"http://quorel.test/");
           else m_app->ActivateView(nView);
         },
         [&] {
           EXPECT_EQ(nView, m_app->GetActiveViewId());
           for (CControl* p : FocusStops()) EXPECT_NE(typeid(*p), typeid(CtlPanel)) << nView;
         }});
    TearDown();
  }
}

TEST_F(PageScreensTest, EveryDragOnAPageEndsItsGestureAndADragOnTheLinkOpensNothing) {
  // Help: each drag plays its start and its end.
  StartScreens(480, 800, {{206, kLong}});
  MakeDragFeedbackFiles();
  POINT at{};
  std::vector<TStep> steps{[] { CQuorelAppUi::OpenHelp(); },
                           [&] {
                             at = Centre(Active<CHelpView>()->Panel()->ScreenRect());
                             plat::ResetDeviceServices();
                           }};
  for (int32_t dy : {-90, 90, -90})
    for (TStep& step : DragBy(&at, dy)) steps.push_back(std::move(step));
  Run(std::move(steps));
  EXPECT_EQ(DragFeedback(), (std::pair<int32_t, int32_t>{3, 3}));
  TearDown();

  // Terms: down to the link, the page's end. A drag that starts on it and
  // ends on it scrolls the page back and opens nothing; a tap on what still
  // shows of it then opens it.
  StartScreens(480, 800, {{217, kLong + kLong + kLong + kLong}});
  int32_t nBottom = 0, nDragged = 0;
  size_t nAfterDrag = 9;
  const POINT text{240, 650};
  steps = {[] {
    RegSetAppString(u"terms_and_conditions_url", u"http://quorel.test/terms");
    CQuorelAppUi::OpenTerms();
  }};
  for (TStep& step : DragBy(&text, -450)) steps.push_back(std::move(step));
  steps.push_back([&] {
    CTermsView* pView = Active<CTermsView>();
    nBottom = Content(pView->Panel())->GetScrollY();
    at = Centre(pView->Link()->ScreenRect());
  });
  for (TStep& step : DragBy(&at, 24, 1)) steps.push_back(std::move(step));
  steps.push_back([&] {
    CTermsView* pView = Active<CTermsView>();
    nDragged = Content(pView->Panel())->GetScrollY();
    nAfterDrag = plat::Launches().size();
    const POINT shown = Centre(RectIntersect(pView->Link()->ScreenRect(), pView->Panel()->ScreenRect()));
    m_tp->Tap(shown.x, shown.y);
  });
  steps.push_back([] {});
  Run(std::move(steps));
  EXPECT_GT(nBottom, 0);
  EXPECT_EQ(nBottom - 24, nDragged);
  EXPECT_EQ(0u, nAfterDrag);
  ASSERT_EQ(1u, plat::Launches().size());
  EXPECT_EQ(u"http://quorel.test/terms", plat::Launches()[0].file);
}

}  // namespace
}  // namespace screenstest

namespace screenstest {
namespace {

// With QUOREL_SCREEN_SNAPSHOTS set to a folder, writes each screen of this
// family as a PNG there (solid pictures, the test texts), for a look by eye.
TEST_F(PageScreensTest, SnapshotsForALookByEye) {
  const char* szFolder = getenv("QUOREL_SCREEN_SNAPSHOTS");
  if (!szFolder) GTEST_SKIP() << "QUOREL_SCREEN_SNAPSHOTS not set";
  for (int32_t nView : {5, 6, 8, 16, 18, 19, 21, 22}) {
    StartScreens(480, 800, {{206, kLong}, {217, kLong}});
    bool bWritten = false;
    Run({[&] {
           FillLists();
           if (nView == 16) CQuorelAppUi::ShowServerMessageView(u"Title", kLong, true, u"http://quorel.test/");
           else if (nView == 5) CQuorelAppUi::OpenSettings();
           else m_app->ActivateView(nView);
         },
         [&] {
           bWritten = m_tp->SnapshotPng(std::filesystem::path(szFolder) / ("view" + std::to_string(nView) + ".png"));
         }});
    EXPECT_TRUE(bWritten) << nView;
    TearDown();
  }
}

}  // namespace
}  // namespace screenstest
