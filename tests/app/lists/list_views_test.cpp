// Views 4, 10 and 11 around the record list: the results screen's title
// bar, menu entries and soft keys, the user lists' titles, and the openers
// with the history entries they push, walked forth and back.
#include "ScreensHarness.h"

namespace screenstest {
namespace {

class ListViewsTest : public ScreensHarness {
 protected:
  void Start(std::vector<TStep> more) {
    std::vector<TStep> steps{[] { StartScreens(); }};
    steps.insert(steps.end(), more.begin(), more.end());
    Run(std::move(steps));
  }
  static void Go(int32_t nView) { CAppUi::Instance()->ActivateView(nView); }
  size_t History() const { return m_app->HistorySize(); }
};

TEST_F(ListViewsTest, ResultsTitleBarOpensTheSearchLanguagesAfterSingOnly) {
  for (int32_t nMode : {0, 1}) {
    SCOPED_TRACE(nMode);
    MakeScreens();
    LoadResults(kResults);
    *AppSettings::SavedSearchMode() = nMode;
    *AppSettings::ShowDetails() = 1;
    Start({[] { Go(4); },
           [this, nMode] {
             auto* pView = View<CResultListView>();
             ASSERT_NE(nullptr, pView);
             EXPECT_EQ(0, *AppSettings::ShowDetails());
             EXPECT_EQ(u"S219", pView->Bar().pCaption->Text());
             EXPECT_EQ(nMode == 0 ? u"S10" : u"", pView->Bar().pButton->Caption()->Text());
             CLayoutNode* pBarTree = pView->Bar().Bar()->GetChildLayout();
             EXPECT_EQ(nMode == 0 ? 1u : 0u, SelectedKey(pBarTree->FindNode(62, -1), 10));
             // The focused first row has a preview: the preview entry shows.
             EXPECT_TRUE(MenuItem(0).IsVisible());
             EXPECT_FALSE(m_app->DisplayedSoftKeys().left.IsSet());
             EXPECT_EQ(u"S15", m_app->DisplayedSoftKeys().right.text);
             if (nMode == 0) Tap(pView->Bar().pButton);
           },
           [this, nMode] { EXPECT_EQ(nMode == 0 ? 8 : 4, m_app->GetActiveViewId()); }});
    TearDown();
  }
}

TEST_F(ListViewsTest, SearchLanguageEntryFollowsModeTotalAndLanguageAndResultsEntryThePage) {
  const struct {
    int32_t mode;
    const char* xml;  // null: no page
    int32_t langIndex;
    bool bEntry1, bEntry5;
  } cases[] = {
      {0, kResults, 0, true, true},     {0, kEmptyList, 2, true, true}, {0, kEmptyList, 0, false, true},
      {1, kResults, 0, false, true},    {0, nullptr, 0, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.mode << " " << (c.xml == kResults) << " " << c.langIndex);
    MakeScreens();
    if (c.xml) LoadResults(c.xml);
    *AppSettings::SavedSearchMode() = c.mode;
    *AppSettings::LangIndex() = c.langIndex;
    Start({[] { Go(4); },
           [this, c] {
             EXPECT_EQ(c.bEntry1, MenuItem(1).IsVisible());
             EXPECT_EQ(c.bEntry5, MenuItem(5).IsEnabled());
             Go(2);
             EXPECT_FALSE(MenuItem(1).IsVisible());
             EXPECT_FALSE(MenuItem(0).IsVisible());
           }});
    TearDown();
  }
}

TEST_F(ListViewsTest, UserListsTitleTheUserAndCountWithoutOwnSoftKeys) {
  const struct {
    int32_t view;
    const char *user, *recordings, *playlist;
    const char16_t* title;
  } cases[] = {
      {10, "anna", kUserList, kEmptyList, u"anna's recordings (3)"},
      {11, "empty", kUserList, kEmptyList, u"empty's playlist (0)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.view);
    MakeScreens();
    LoadResults(kResults);
    LoadUser(c.user, c.recordings, c.playlist);
    Start({[c] { Go(c.view); },
           [this, c] {
             auto* pView = View<CUserListView>();
             ASSERT_NE(nullptr, pView);
             EXPECT_EQ(c.title, pView->Panel()->Title());
             EXPECT_EQ(c.title, pView->Bar().pCaption->Text());
             EXPECT_FALSE(MenuItem(0).IsVisible());
             EXPECT_TRUE(MenuItem(5).IsEnabled());
             EXPECT_FALSE(m_app->DisplayedSoftKeys().left.IsSet());
             EXPECT_FALSE(m_app->DisplayedSoftKeys().right.IsSet());
             EXPECT_EQ(1u, Users().HistoryDepth());
           }});
    TearDown();
  }
}

TEST_F(ListViewsTest, ASeventeenthUserGivesMessage49AndNothingElse) {
  MakeScreens();
  LoadUser("anna", kUserList, kEmptyList);
  Start({[] {
           for (int i = 0; i < 16; ++i) Users().PushHistory();
           Go(10);
         },
         [this] {
           ASSERT_EQ(17u, Users().HistoryDepth());
           Tap(Panel()->Row(0).pButton);
         },
         [this] {
           EXPECT_EQ(1u, CountCalls("ShowMessage 49 152"));
           EXPECT_EQ(10, m_app->GetActiveViewId());
           EXPECT_EQ(0u, History());
           EXPECT_EQ(17u, Users().HistoryDepth());
         }});
}

TEST_F(ListViewsTest, OpeningAResultKeepsItsPreviewAndBackStopsIt) {
  MakeScreens();
  LoadResults(kResults);
  size_t nStops = 0;
  Start({[] { Go(4); },
         [&] {
           Panel()->OnPlayPressed(2);
           Report(2);
         },
         [&] {
           nStops = CountCalls("StopPreview");
           Tap(Panel()->Row(2).pButton);
           Tap(Panel()->Row(2).pButton);  // the second tap reaches a closing view
         },
         [&] {
           EXPECT_EQ(13, m_app->GetActiveViewId());
           EXPECT_EQ(1u, History());
           EXPECT_EQ(2, *AppSettings::CurrentItem());
           EXPECT_EQ(nStops, CountCalls("StopPreview"));
           EXPECT_EQ(u"cleo", Users().UserName());
           CQuorelAppUi::GoBack();
         },
         [&] {
           EXPECT_EQ(4, m_app->GetActiveViewId());
           EXPECT_EQ(0u, History());
           EXPECT_GT(CountCalls("StopPreview"), nStops);
           EXPECT_TRUE(Panel()->Row(2).pButton->IsFocused());
         }});
}

// The user page's Recordings or Playlist button, a row of that list, then a
// way back.
TEST_F(ListViewsTest, EveryWayBackFromTrackDetailsBalancesTheUserHistory) {
  enum EWay { EBack, EGoBackTo4, ERestart };
  const struct {
    EWay way;
    int32_t list;
  } cases[] = {{EBack, 10}, {EGoBackTo4, 10}, {ERestart, 10}, {EBack, 11}};
  for (const auto& c : cases) {
    const EWay way = c.way;
    const int32_t nList = c.list;
    SCOPED_TRACE(testing::Message() << way << " from " << nList);
    MakeScreens();
    LoadResults(kResults);
    auto listButton = [this, nList] {
      CUserPageView* p = View<CUserPageView>();
      return nList == 10 ? p->RecordingsButton() : p->PlaylistButton();
    };
    Start({[] { Go(4); },
           [this] { Tap(Panel()->Row(0).pButton); },
           [&] {
             ASSERT_EQ(13, m_app->GetActiveViewId());
             if (nList == 10)
               LoadUser("anna", kUserList, kEmptyList);
             else
               LoadUser("anna", kEmptyList, kUserList);
             View<CUserPageView>()->ToggleDetails();
             // Its reply failed (no server here); the user has records.
             listButton()->SetEnabled(true);
           },
           // Down until the button is focused (and scrolled into view).
           Until([&] {
             if (listButton()->IsFocused()) return true;
             Key(plat::VK_DOWN);
             return false;
           }),
           [] { Key(plat::VK_RETURN); },
           [this, nList] {
             ASSERT_EQ(nList, m_app->GetActiveViewId());
             EXPECT_EQ(1u, Users().HistoryDepth());
             Tap(Panel()->Row(1).pButton);
           },
           [this, way] {
             ASSERT_EQ(14, m_app->GetActiveViewId());
             EXPECT_EQ(3u, History());
             EXPECT_EQ(u"Two", Users().TrackName());
             if (way == EBack) CQuorelAppUi::GoBack();
             if (way == EGoBackTo4) CQuorelAppUi::GoBackTo(4);
             if (way == ERestart) CQuorelAppUi::RestartSearch();
           },
           [this, way, nList] {
             if (way != EBack) return;
             EXPECT_EQ(nList, m_app->GetActiveViewId());
             EXPECT_EQ(1u, Users().HistoryDepth());
             EXPECT_TRUE(Panel()->Row(1).pButton->IsFocused());  // the row it left
             CQuorelAppUi::GoBack();
           },
           [this, way] {
             if (way != EBack) return;
             EXPECT_EQ(13, m_app->GetActiveViewId());
             CQuorelAppUi::GoBack();
           },
           [this, way] {
             EXPECT_EQ(way == ERestart ? 2 : 4, m_app->GetActiveViewId());
             EXPECT_EQ(0u, History());
             EXPECT_EQ(0u, Users().HistoryDepth());
           }});
    TearDown();
  }
}

}  // namespace
}  // namespace screenstest
