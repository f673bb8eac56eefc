// The settings screen and the three choice screens (network, search
// language, interface language) in the running application.
#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "ScreensHarness.h"
#include "ReplyDocuments.h"
#include "search/E2eHarness.h"
#include "app/ChoiceListView.h"
#include "app/LanguageView.h"
#include "app/NetworkSelectView.h"
#include "app/ScreenSupport.h"
#include "app/SearchingView.h"
#include "app/SettingsView.h"
#include "framework/AppRegistry.h"
#include "framework/DeviceIdentity.h"
#include "platform/phone/ConnMgr.h"
#include "platform/registry/Registry.h"
#include "protocol/AppSettings.h"

namespace screenstest {
namespace {

class SettingsScreensTest : public ScreensHarness {
 protected:
  void TearDown() override {
    ScreensHarness::TearDown();
    m_connMgr.reset();
  }
  // The choice screens with a simulated connection manager.
  void StartWithConnMgr(const std::function<void()>& arrange = {}) {
    StartScreens(480, 800, {}, [&] {
      m_connMgr = std::make_unique<plat::SimConnMgr>();
      RegSetAppString(u"url", u"http://quorel.test/");
      if (arrange) arrange();
    });
  }
  std::unique_ptr<plat::SimConnMgr> m_connMgr;
};

// --- Settings (view 5) -------------------------------------------------------

TEST_F(SettingsScreensTest, SettingsPicksItsLayoutByShapeAndSizesItsTexts) {
  struct Case {
    int32_t w, h;
    bool bLandscape;
    int32_t nMargin;
  } cases[] = {{480, 800, false, 15}, {800, 480, true, 15}, {480, 480, true, 9}, {240, 400, false, 7}};
  // 15/800 of the larger side, truncated.
  EXPECT_EQ(14, CSettingsView::TextMargin(480, 799));
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
    StartScreens(c.w, c.h, {{14, u"Update"}, {210, u"Interface language"}});
    CSettingsView* pView = nullptr;
    Run({[] { CQuorelAppUi::OpenSettings(); },
         [&] {
           pView = Active<CSettingsView>();
           ASSERT_NE(pView, nullptr);
           // The main window (the menu bar shortens it) decides.
           const int32_t nWidth = MainWindowWidth(), nHeight = MainWindowHeight();
           EXPECT_EQ(c.bLandscape, nWidth >= nHeight);
           EXPECT_EQ(c.bLandscape, pView->IsLandscapeLayout());
           const int32_t nMargin = CSettingsView::TextMargin(nWidth, nHeight);
           EXPECT_EQ(nMargin, pView->UpdateText()->Margins().x);
           EXPECT_EQ(nMargin, pView->LanguageText()->Margins().y);
           // Update = the centred part with the larger-side caption font;
           // language = the capped part.
           EXPECT_EQ(std::max(nWidth, nHeight) * 36 / 748, pView->UpdateButton().pCaption->Font()->PixelHeight());
           EXPECT_EQ(Text(46), pView->UpdateButton().pCaption->Text());
           EXPECT_EQ(Text(14), pView->UpdateText()->Text());
           EXPECT_EQ(Text(210), pView->LanguageText()->Text());
           // Each text on one line, at the largest font up to the box's
           // height that fits the box's width.
           for (CtlStatic* pText : {pView->UpdateText(), pView->LanguageText()}) {
             const RECT box = pText->InnerBox();
             const int32_t nFont = pText->Font()->PixelHeight();
             auto width = [&](int32_t nHeight) {
               std::unique_ptr<CWindowGraphics> g = pText->CreateGraphics();
               g->SetFont(TFontDesc{nHeight});
               const RECT rc = g->DrawText(pText->Text(), RECT{0, 0, 100000, 100000}, EAlignLeftSingle);
               return rc.right - rc.left;
             };
             EXPECT_LE(width(nFont), box.right - box.left);
             EXPECT_LE(nFont, Height(box));
             EXPECT_TRUE(nFont == Height(box) || width(nFont + 1) > box.right - box.left) << nFont;
             const int32_t nInner = box.right - box.left;
             EXPECT_EQ(MeasureTextHeight(pText, pText->Text(), TFontDesc{nFont}, nInner, EAlignLeft),
                       MeasureTextHeight(pText, u"I", TFontDesc{nFont}, nInner, EAlignLeft))
                 << plat::ToUtf8(pText->Text());
           }
           EXPECT_TRUE(pView->UpdateButton().pButton->IsFocused());
           EXPECT_FALSE(pView->LanguageButton().pButton->Rect().right == 0);
           EXPECT_TRUE(m_app->DisplayedSoftKeys().left.text.empty());
           EXPECT_EQ(Text(15), m_app->DisplayedSoftKeys().right.text);
         }});
    EXPECT_EQ(CSettingsView::TextMargin(c.w, c.h), c.nMargin);
    TearDown();
  }
}

TEST_F(SettingsScreensTest, TheLanguageButtonNamesTheCurrentLanguageOrNothing) {
  for (int32_t nCurrent : {0, 3, 5}) {
    SCOPED_TRACE(nCurrent);
    StartScreens();
    std::u16string caption = u"?";
    std::u16string expected;
    Run({[&] {
           FillLists();
           if (nCurrent != 5) SetLanguage(nCurrent);
           else *CurrentLanguageIndex() = 5;  // not loaded
           expected = nCurrent == 5 ? u"" : (*AppSettings::UiLanguages())[nCurrent == 0 ? 0 : 2];
           CQuorelAppUi::OpenSettings();
         },
         [&] { caption = Active<CSettingsView>()->LanguageButton().pCaption->Text(); }});
    EXPECT_EQ(expected, caption);
    if (nCurrent != 5) {
      EXPECT_FALSE(caption.empty());
    }
    TearDown();
  }
}

TEST_F(SettingsScreensTest, TheLanguageTapOpensTheListAndBackShowsTheNewName) {
  StartScreens();
  std::vector<int32_t> views;
  std::u16string before, after, frName;
  size_t nHistory = 0;
  Run({[&] {
         FillLists();
         CQuorelAppUi::OpenSettings();
       },
       [&] {
         before = Active<CSettingsView>()->LanguageButton().pCaption->Text();
         TapOn(Active<CSettingsView>()->LanguageButton().pButton);
       },
       [&] {
         views.push_back(m_app->GetActiveViewId());
         nHistory = m_app->HistorySize();
         // Two taps on the French row before the loop runs: the second one
         // meets a screen that is gone.
         CLanguageView* pList = Active<CLanguageView>();
         ASSERT_NE(pList, nullptr);
         ASSERT_EQ(3, pList->RowCount());
         TapOn(pList->Row(1).pButton);
         TapOn(pList->Row(1).pButton);
       },
       [&] {
         views.push_back(m_app->GetActiveViewId());
         after = Active<CSettingsView>()->LanguageButton().pCaption->Text();
         frName = (*AppSettings::UiLanguages())[1];
       }});
  EXPECT_EQ((std::vector<int32_t>{21, 5}), views);
  EXPECT_EQ(nHistory, m_app->HistorySize() + 1);
  EXPECT_EQ(frName, after);
  EXPECT_NE(before, after);
  plat::WString stored;
  RegGetAppString(u"app_language", stored);
  EXPECT_EQ(u"FR", stored);
}

// The update button against the protocol test server's "no update" reply.
class SettingsUpdateTest : public TScreensHarness<searchtest::E2eHarness> {
 protected:
  // The search language screen over a flat result, then Enter on the last
  // language (pt_BR), which starts the follow-up search; `then` runs after.
  std::vector<TStep> ChooseTheLastSearchLanguage(std::vector<TStep> then) {
    std::vector<TStep> steps{[] {
                               FillLists();
                               SetLangCodes({u"all", u"en", u"de", u"fr", u"ja", u"pt_BR"});
                               AppSettings::GetResultModel()->LoadText(replydocs::kFlatSearch);
                               CQuorelAppUi::OpenSearchLanguages();
                             },
                             [this] {
                               Active<CSearchLanguageView>()->Row(5).pButton->SetFocus();
                               m_tp->Key(plat::VK_RETURN);
                             }};
    steps.insert(steps.end(), then.begin(), then.end());
    return steps;
  }
};

TEST_F(SettingsUpdateTest, TheUpdateTapReportsThatThereIsNoUpdate) {
  PrepareScreens(480, 800);
  StartApp();
  FinishScreens({});
  Control("/_ctl/set?update=none");
  Run({[] { CQuorelAppUi::OpenSettings(); }, [&] { TapOn(Active<CSettingsView>()->UpdateButton().pButton); },
       Until([] { return CountCalls("ShowMessage 52 121") > 0; }), [] {}});
  EXPECT_EQ(1u, CountCalls("ShowMessage 52 121"));
  EXPECT_EQ(222, DialogKindStringId(121));
  EXPECT_EQ(1u, CountRequests("checkForUpdate"));
  ExpectNoViolation();
}

TEST_F(SettingsUpdateTest, TheChosenNetworkCarriesTheNextRequest) {
  PrepareScreens(480, 800);
  StartApp();
  FinishScreens({});
  Control("/_ctl/set?update=none");
  size_t nOpenBefore = 99, nOpenAfter = 99;
  Run({[] { CQuorelAppUi::CheckForUpdate(1); }, Until([] { return CountCalls("ShowMessage 52 121") == 1; }),
       [&] {
         DismissDialogs();
         nOpenBefore = m_connMgr->OpenConnections();
         CQuorelAppUi::OpenNetworkSelection();
       },
       [&] {
         m_tp->ClearDebugLines();
         TapOn(Active<CNetworkSelectView>()->Row(1).pButton);
       },
       [&] {
         nOpenAfter = m_connMgr->OpenConnections();
         CQuorelAppUi::CheckForUpdate(1);
       },
       Until([] { return CountCalls("ShowMessage 52 121") == 2; }), [] {}});
  EXPECT_EQ(1u, nOpenBefore);
  EXPECT_EQ(0u, nOpenAfter);  // the choice released the connection
  const std::vector<std::string> used = LinesWith("[QUOREL] Network GUID used: ");
  ASSERT_EQ(1u, used.size());
  EXPECT_NE(std::string::npos, used[0].find("68,e9,22,70,97,5a,51,40,bc,1c,c5,78,e2,fb,a5,d9"));
}

TEST_F(SettingsUpdateTest, TheSearchLanguageTapFetchesTheResultsInThatLanguage) {
  PrepareScreens(480, 800);
  StartApp();
  FinishScreens({});
  Run(ChooseTheLastSearchLanguage({
       Until([] { return !Requests().empty(); }), [] {}}));
  ASSERT_TRUE(WaitForRequests(1));
  EXPECT_EQ(1u, CountRequests("[\"search_id\",\"s-1001\"]"));
  EXPECT_EQ(1u, CountRequests("[\"lang\",\"pt_BR\"]"));
}

// The searching screen's right soft key while the follow-up still waits for
// its reply: the request is closed and the languages show again.
TEST_F(SettingsUpdateTest, TheRightSoftKeyDuringTheFollowUpClosesItAndShowsTheLanguages) {
  PrepareScreens(480, 800);
  m_makeFactory = [settingsScreens = m_makeFactory](int32_t nView) -> CViewFactory* {
    return nView == 12 ? new CSearchingViewFactory() : settingsScreens(nView);
  };
  StartApp();
  FinishScreens({});
  // Held far longer than the steps take on a busy machine.
  Inject("search-get", "delay", "10000");
  Run(ChooseTheLastSearchLanguage({
       Until([this] { return m_app->GetActiveViewId() == 12; }),
       [&] {
         EXPECT_TRUE(m_app->IsFollowUpRunning());
         EXPECT_EQ(1, CQuorelAppUi::HTTPSession()->OpenCount());
         m_tp->Key(plat::VK_F2);
       },
       Until([this] { return m_app->GetActiveViewId() != 12; }),
       [&] {
         EXPECT_NE(nullptr, Active<CSearchLanguageView>());
         EXPECT_FALSE(m_app->IsFollowUpRunning());
         EXPECT_EQ(0, CQuorelAppUi::HTTPSession()->OpenCount());
       }}));
}

// --- Network choice (view 22) --------------------------------------------------

constexpr std::array<uint8_t, 16> kGuidBytes[4] = {
    {0x44, 0xf1, 0x6e, 0x43, 0xfb, 0xb4, 0x63, 0x48, 0xa0, 0x41, 0x8f, 0x90, 0x5a, 0x62, 0xc5, 0x72},
    {0x68, 0xe9, 0x22, 0x70, 0x97, 0x5a, 0x51, 0x40, 0xbc, 0x1c, 0xc5, 0x78, 0xe2, 0xfb, 0xa5, 0xd9},
    {0x88, 0x29, 0x18, 0xa1, 0x73, 0x0d, 0x9e, 0x43, 0x87, 0xad, 0x2a, 0x5b, 0x36, 0x9f, 0x80, 0x8b},
    {0x74, 0x1f, 0x8d, 0xf2, 0xbe, 0x72, 0x94, 0x43, 0xa4, 0xa7, 0x4e, 0x29, 0x62, 0x19, 0x39, 0x0c},
};
constexpr uint32_t kTypes[4] = {1, 3, 2, 4};

TEST_F(SettingsScreensTest, TheNetworkTickIsWhatTheClientWouldSelectNow) {
  struct Case {
    const char* name;
    std::function<void(plat::SimConnMgr&)> arrange;
    int32_t nTicked;
  } cases[] = {
      {"stored WAP", [](plat::SimConnMgr&) { RegSetAppDword(u"quorelGUIDType", 3); }, 1},
      {"stored secure WAP", [](plat::SimConnMgr&) { RegSetAppDword(u"quorelGUIDType", 4); }, 3},
      {"Wi-Fi maps the URL",
       [](plat::SimConnMgr& cm) {
         RegSetAppDword(u"quorelGUIDType", 1);
         cm.SetMapUrlResult(plat::IID_DestNetCorp);
         plat::SimConnMgr::SetWifi(0x10);
       },
       2},
      {"nothing selectable",
       [](plat::SimConnMgr& cm) {
         cm.SetMapUrlResult(std::nullopt);
         plat::SimConnMgr::SetWifi(0x10);
       },
       -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StartWithConnMgr([&] { c.arrange(*m_connMgr); });
    int32_t nTicked = -2;
    std::vector<bool> ticks;
    Run({[] { CQuorelAppUi::OpenNetworkSelection(); },
         [&] {
           CNetworkSelectView* pView = Active<CNetworkSelectView>();
           ASSERT_NE(pView, nullptr);
           nTicked = pView->TickedRow();
           for (int32_t i = 0; i < pView->RowCount(); ++i) {
             ticks.push_back(pView->Row(i).pTick->IsVisible());
             EXPECT_EQ(Text(kNetworkChoices[i].nTextId), pView->Row(i).pCaption->Text());
           }
         }});
    EXPECT_EQ(c.nTicked, nTicked);
    ASSERT_EQ(4u, ticks.size());
    for (int32_t i = 0; i < 4; ++i) EXPECT_EQ(i == c.nTicked, ticks[size_t(i)]) << i;
    TearDown();
  }
}

TEST_F(SettingsScreensTest, ANetworkTapStoresTheChoiceTracesItAndGoesBack) {
  EXPECT_EQ(plat::WString(u"[QUOREL] Network GUID set from options: "
                          u"68,e9,22,70,97,5a,51,40,bc,1c,c5,78,e2,fb,a5,d9\n"),
            NetworkChoiceTrace(plat::IID_DestNetWAP));
  for (int32_t nRow = 0; nRow < 4; ++nRow) {
    SCOPED_TRACE(nRow);
    // Row 1 is the ticked one: choosing it writes again.
    StartWithConnMgr([] {
      RegSetAppDword(u"quorelGUIDType", 3);
      const uint8_t stale[16] = {};
      RegSetAppBinary(u"quorelGUID", stale, 16);
    });
    int32_t nViewAfter = -1;
    Run({[] { CQuorelAppUi::OpenNetworkSelection(); },
         [&] {
           m_tp->ClearDebugLines();
           TapOn(Active<CNetworkSelectView>()->Row(nRow).pButton);
         },
         [&] { nViewAfter = m_app->GetActiveViewId(); }});
    EXPECT_EQ(2, nViewAfter);
    EXPECT_EQ(std::vector<uint8_t>(kGuidBytes[nRow].begin(), kGuidBytes[nRow].end()),
              plat::ReadBinary(plat::HKEY_CURRENT_USER, u"SOFTWARE\\Orlamet\\Quorel", u"quorelGUID"));
    EXPECT_EQ(kTypes[nRow], RegGetAppDword(u"quorelGUIDType"));
    EXPECT_EQ(1u, LinesWith("Network GUID set from options").size());
    std::string trace = plat::ToUtf8(NetworkChoiceTrace(*kNetworkChoices[nRow].pGuid));
    trace.pop_back();  // the line feed
    EXPECT_EQ(1u, LinesWith(trace).size());
    TearDown();
  }
}

// --- Choice rows (views 8, 21, 22) ---------------------------------------------

// A choice row's caption box is nearly as tall as the row: fitting the font
// to the box drew the captions as tall as the rows and cut them off. Every
// caption of the three choice screens takes the standard text height unless
// its box is lower, in both orientations.
TEST_F(SettingsScreensTest, ChoiceRowCaptionsTakeTheStandardHeightAndFitTheirRows) {
  struct Case {
    int32_t nView;
    TStep open;
  } cases[] = {{8, [] { CQuorelAppUi::OpenSearchLanguages(); }},
               {21, [] { CQuorelAppUi::App()->ActivateView(21); }},
               {22, [] { CQuorelAppUi::OpenNetworkSelection(); }}};
  for (const Case& c : cases) {
    for (SIZE screen : {SIZE{480, 800}, SIZE{800, 480}}) {
      SCOPED_TRACE(testing::Message() << "view " << c.nView << ", " << screen.cx << "x" << screen.cy);
      StartScreens(screen.cx, screen.cy, {}, [this] {
        m_connMgr = std::make_unique<plat::SimConnMgr>();
        RegSetAppString(u"url", u"http://quorel.test/");
      });
      int32_t nChecked = 0;
      Run({[&] {
             FillLists();
             c.open();
           },
           [&] {
             auto* pView = dynamic_cast<CChoiceListView*>(m_app->ActiveView());
             ASSERT_NE(nullptr, pView);
             const int32_t nStandard = m_app->GetStandardHeight(kRowCaptionHeightIndex);
             for (int32_t i = 0; i < pView->RowCount(); ++i, ++nChecked) {
               SCOPED_TRACE(i);
               CtlStatic* pCaption = pView->Row(i).pCaption;
               ASSERT_NE(nullptr, pCaption->Font());
               const int32_t nBox = Height(pCaption->InnerBox()), nFont = pCaption->Font()->PixelHeight();
               EXPECT_EQ(std::min(nStandard, nBox), nFont);
               EXPECT_LT(nFont * 2, Height(pView->Row(i).pButton->Rect()));  // well inside the row
             }
           }});
      EXPECT_GE(nChecked, 3);
      TearDown();
    }
  }
}

// --- Search language (view 8) ------------------------------------------------

TEST_F(SettingsScreensTest, TheSearchLanguageTapStoresTheIndexFirstAndTakesOneChoice) {
  StartScreens();
  std::vector<int32_t> seenAtEvent;
  struct TSeen : CEventListenerFor<FollowUpSearchEvent> {
    std::vector<int32_t>* pSeen = nullptr;
    void HandleEvent(const TNoPayload&) override { pSeen->push_back(*AppSettings::LangIndex()); }
  } seen;
  seen.pSeen = &seenAtEvent;
  int32_t nRows = 0, nTicked = -1;
  bool bFocused = false;
  Run({[&] {
         FillLists();
         *AppSettings::LangIndex() = 2;
         seen.Subscribe();
         CQuorelAppUi::OpenSearchLanguages();
       },
       [&] {
         CSearchLanguageView* pView = Active<CSearchLanguageView>();
         ASSERT_NE(pView, nullptr);
         nRows = pView->RowCount();
         nTicked = pView->TickedRow();
         bFocused = pView->Row(2).pButton->IsFocused();
         EXPECT_EQ((*AppSettings::LangLabels())[7], pView->Row(7).pCaption->Text());
         // Enter on the focused row, twice before the posted event runs
         // (taps would land where the panel scrolled to).
         pView->Row(5).pButton->SetFocus();
         m_tp->Key(plat::VK_RETURN);
         m_tp->Key(plat::VK_RETURN);
       },
       [&] {
         CSearchLanguageView* pView = Active<CSearchLanguageView>();
         if (!pView) return;
         EXPECT_EQ(5, pView->Chosen());
         EXPECT_TRUE(pView->Row(5).pTick->IsVisible());
         EXPECT_FALSE(pView->Row(2).pTick->IsVisible());
       }});
  seen.Unsubscribe();
  EXPECT_EQ(int32_t(AppSettings::LangLabels() ? kSearchLanguageCount : 0), nRows);
  EXPECT_EQ(2, nTicked);
  EXPECT_TRUE(bFocused);
  EXPECT_EQ((std::vector<int32_t>{5}), seenAtEvent);
}

// --- Interface language (view 21) -----------------------------------------------

TEST_F(SettingsScreensTest, TheInterfaceLanguageListShowsTheLoadedLanguagesAndSwitches) {
  StartScreens();
  std::vector<std::u16string> captions, names;
  int32_t nTicked = -2;
  plat::WString identity;
  std::u16string title;
  Run({[&] {
         FillLists();
         SetLanguage(3);
         CQuorelAppUi::OpenSettings();
       },
       [] { CQuorelAppUi::App()->ActivateView(21); },
       [&] {
         CLanguageView* pView = Active<CLanguageView>();
         ASSERT_NE(pView, nullptr);
         for (int32_t i = 0; i < pView->RowCount(); ++i) captions.push_back(pView->Row(i).pCaption->Text());
         nTicked = pView->TickedRow();
         names = *AppSettings::UiLanguages();
         EXPECT_TRUE(pView->Row(2).pButton->IsFocused());
         pView->Row(1).pButton->SetFocus();
         m_tp->Key(plat::VK_RETURN);
       },
       [&] {
         identity = CurrentIdentityLine();
         title = Text(45);
       }});
  EXPECT_EQ(names, captions);
  EXPECT_EQ(3u, captions.size());
  EXPECT_EQ(2, nTicked);
  EXPECT_EQ(1, *CurrentLanguageIndex());
  plat::WString stored;
  RegGetAppString(u"app_language", stored);
  EXPECT_EQ(u"FR", stored);
  EXPECT_EQ(u"FR 45", title);
  EXPECT_NE(plat::WString::npos, identity.find(u"FR")) << plat::ToUtf8(identity);
}

TEST_F(SettingsScreensTest, TheInterfaceLanguageListTicksNothingForAnUnloadedOrEmptyList) {
  for (bool bEmpty : {false, true}) {
    SCOPED_TRACE(bEmpty);
    StartScreens();
    int32_t nRows = -1, nTicked = -2;
    bool bAnyFocus = true;
    Run({[&] {
           FillLists();
           *CurrentLanguageIndex() = 5;  // not loaded
           if (bEmpty) AppSettings::UiLanguages()->clear();
           m_app->ActivateView(21);
         },
         [&] {
           CLanguageView* pView = Active<CLanguageView>();
           ASSERT_NE(pView, nullptr);
           nRows = pView->RowCount();
           nTicked = pView->TickedRow();
           bAnyFocus = false;
           for (int32_t i = 0; i < nRows; ++i) bAnyFocus = bAnyFocus || pView->Row(i).pButton->IsFocused();
         }});
    EXPECT_EQ(bEmpty ? 0 : 3, nRows);
    EXPECT_EQ(-1, nTicked);
    EXPECT_FALSE(bAnyFocus);
    TearDown();
  }
}

}  // namespace
}  // namespace screenstest
