// The pages of a result: the user page (view 13), the track details (view
// 14) and the user information (view 15) — what they ask the user model,
// how replies light them up, how they follow the player, and what a
// rotation keeps. Without a server every request fails at once, so the
// failure replies arrive by themselves; successes are posted by the test.
#include <typeinfo>

#include "ScreensHarness.h"
#include "framework/Theme.h"
#include "layouts/LayoutEdit.h"

namespace screenstest {
namespace {

// The names of the loaded events, in the order they fire.
struct TSeenLog {
  std::vector<std::string> names;
};
template <class E>
class TSeen : public CEventListenerFor<E> {
 public:
  TSeen(TSeenLog* pLog, const char* name) : m_pLog(pLog), m_name(name) { this->Subscribe(); }

 protected:
  void HandleEvent(const typename E::TPayload&) override { m_pLog->names.push_back(m_name); }

 private:
  TSeenLog* m_pLog;
  const char* m_name;
};
struct TRequestLog : TSeenLog {
  TSeen<VideosLoadedEvent> videos{this, "videos"};
  TSeen<BuyLinksLoadedEvent> buy{this, "buy"};
  TSeen<LyricsLinkLoadedEvent> lyrics{this, "lyrics"};
  TSeen<UserInfoLoadedEvent> info{this, "info"};
  TSeen<RecordingsLoadedEvent> recordings{this, "recordings"};
  TSeen<PlaylistLoadedEvent> playlist{this, "playlist"};
  TSeen<UserImageLoadedEvent> userImage{this, "user image"};
  TSeen<TrackImageLoadedEvent> trackImage{this, "track image"};
};

class PagesTest : public ScreensHarness {
 protected:
  // The user model's current record, then view `nView`; `more` runs next.
  void OnPage(int32_t nView, std::vector<TStep> more, const char* user = "anna",
              const std::function<void()>& setup = {}, bool bMatched = true, bool bPreview = true) {
    MakeScreens();
    LoadResults(kResults);
    if (setup) setup();
    std::string name = user;
    std::vector<TStep> steps{[=] {
      StartScreens();
      CHTTPUserModel& users = Users();
      users.SetUserName(plat::Widen(name));
      users.SetImageUrl(name.empty() ? u"" : plat::Widen(name + ".png"));
      users.SetTrackImageUrl(u"album.png");
      users.SetMatchedUrl(bMatched ? u"http://rec/m.mp3" : u"");
      users.SetAudioPreviewUrl(bPreview ? u"http://media/p.mp3" : u"");
      users.SetFullUrl(u"http://rec/f.mp3");
      users.SetTrackName(u"Song"), users.SetArtistName(u"Singer"), users.SetAlbumName(u"Record");
      CAppUi::Instance()->ActivateView(nView);
    }};
    steps.insert(steps.end(), more.begin(), more.end());
    Run(std::move(steps));
  }
  CUserPageView* Page() const { return View<CUserPageView>(); }
  CTrackDetailsView* Details() const { return View<CTrackDetailsView>(); }
  CUserInfoView* Info() const { return View<CUserInfoView>(); }
  static RECT NodeRect(CLayoutNode* pContent, int32_t nId) {
    return pContent->FindNode(nId, -1)->GetRect(CLayoutNode::SpaceWindow);
  }
  // Key 9 from the variants it selected (#133 bit 0, #141 bits 0-1, #143 bit 2).
  static uint32_t Key9(CLayoutNode* pContent) {
    uint32_t n = 0;
    for (int32_t id : {133, 141, 143}) {
      uint32_t v = SelectedKey(pContent->FindNode(id, -1), 9);
      if (v != static_cast<uint32_t>(-1)) n |= v;
    }
    return n;
  }
  static TBuyLinkLoaded Buy(const char16_t* url) { return TBuyLinkLoaded{1, u"Store", url}; }
  static TTextLoaded Text(const char16_t* url) { return TTextLoaded{1, url}; }
  static TResultsLoaded Loaded(CSearchResults* p) { return TResultsLoaded{1, p}; }
};

constexpr TImages kIdle{190, 192, 191}, kPlaying{193, 194, 193};

// --- user page ---------------------------------------------------------------

TEST_F(PagesTest, UserPageFocusesByRecordAndByThePlayingKind) {
  const struct {
    const char* name;
    bool bMatched, bPreview;
    int32_t playingKind;  // -1: nothing plays
    int32_t focusedRow, kind;
  } cases[] = {
      {"matched only", true, false, -1, CUserPageView::ERowMatched, TrackKindMatched},
      {"both: the preview wins", true, true, -1, CUserPageView::ERowPreview, TrackKindPreview},
      {"matched playing", true, true, TrackKindMatched, CUserPageView::ERowMatched, TrackKindMatched},
      {"preview playing", true, true, TrackKindPreview, CUserPageView::ERowPreview, TrackKindPreview},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MakeScreens();
    Run({[&] {
           StartScreens();
           Users().SetUserName(u"anna");
           Users().SetTrackName(u"Song");
           Users().SetMatchedUrl(c.bMatched ? u"http://rec/m.mp3" : u"");
           Users().SetAudioPreviewUrl(c.bPreview ? u"http://media/p.mp3" : u"");
           if (c.playingKind >= 0) {
             Users().SetTrackKind(c.playingKind);
             CQuorelAppUi::PlayPreview();
             PreviewScript().state = 2;
           }
           CAppUi::Instance()->ActivateView(13);
         },
         [&] {
           CUserPageView* p = Page();
           ASSERT_NE(nullptr, p);
           CDetailsRowA& row = c.focusedRow == CUserPageView::ERowMatched ? p->MatchedRow() : p->PreviewRow();
           EXPECT_TRUE(row.pButton->IsFocused());
           EXPECT_EQ(c.kind, Users().TrackKind());
           // A preview that went on playing shows on its row.
           EXPECT_EQ(RowImages(row), c.playingKind >= 0 ? kPlaying : kIdle);
           EXPECT_EQ(row.pBar->IsVisible(), c.playingKind >= 0);
           EXPECT_EQ(c.playingKind >= 0 ? c.focusedRow : -1, p->ActiveRow());
           EXPECT_FALSE(m_app->DisplayedSoftKeys().left.IsSet());
           EXPECT_EQ(u"S15", m_app->DisplayedSoftKeys().right.text);
           EXPECT_TRUE(MenuItem(0).IsVisible());
           EXPECT_EQ(u"Song", p->Bar().pCaption->Text());
         }});
    TearDown();
  }
}

TEST_F(PagesTest, UserPageAsksInOrderOnlyWhatTheSwitchesAllow) {
  const struct {
    bool bVideo, bLyrics;
    std::vector<std::string> order;
  } cases[] = {
      {true, true, {"videos", "buy", "lyrics", "info", "recordings", "playlist"}},
      {false, false, {"buy", "info", "recordings", "playlist"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bVideo);
    std::unique_ptr<TRequestLog> pLog;
    OnPage(13, {[&] {
             std::vector<std::string> requests;
             for (const std::string& n : pLog->names)
               if (n != "user image" && n != "track image") requests.push_back(n);
             EXPECT_EQ(requests, c.order);
             // Every one failed: the recordings say so, the rest stay dark.
             EXPECT_EQ(u"S75", Page()->RecordingsButton()->Caption()->Text());
             EXPECT_EQ(u"S74", Page()->FullRow().pCaption2->Text());
             EXPECT_FALSE(Page()->BuyRow().pButton->IsEnabled());
             EXPECT_FALSE(Page()->PlaylistButton()->IsEnabled());
           }},
           "anna", [&] {
             SetVideoEnabled(c.bVideo), SetLyricsEnabled(c.bLyrics);
             pLog = std::make_unique<TRequestLog>();
           });
    TearDown();
  }
}

TEST_F(PagesTest, UserPageKeysFollowDetailsSwitchesAndName) {
  const struct {
    bool bDetails, bVideo, bLyrics, bPreview;
    const char* user;
    uint32_t key9, key6, key5;
  } cases[] = {
      {true, false, false, true, "anna", 1, 1, 1},
      {false, true, true, false, "anna", 6, 0, 1},
      {false, false, false, true, "", 0, 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key9);
    std::unique_ptr<TRequestLog> pLog;
    OnPage(13,
           {[&] { *AppSettings::ShowDetails() = c.bDetails ? 1 : 0; },
            [&] {
              // The results screen clears the details; the page reads them at
              // its layout step, so rebuild it with the value set.
              CAppUi::Instance()->ActivateView(2);
              CAppUi::Instance()->ActivateView(13);
            },
            [] {},
            [&] {
              CLayoutNode* pContent = Page()->Content();
              EXPECT_EQ(c.key9, Key9(pContent));
              EXPECT_EQ(c.key6, SelectedKey(pContent->FindNode(131, -1), 6));
              EXPECT_EQ(c.key5, SelectedKey(pContent->FindNode(130, -1), 5));
              const bool bRequested =
                  std::find(pLog->names.begin(), pLog->names.end(), "user image") != pLog->names.end();
              EXPECT_EQ(bRequested, c.key5 == 1);  // no name: the user picture is never asked for
              EXPECT_EQ(c.bDetails, Page()->FullRow().pButton->IsEnabled());
              EXPECT_EQ(c.bDetails, Page()->InfoButton()->IsEnabled());
            }},
           c.user, [&] {
             SetVideoEnabled(c.bVideo), SetLyricsEnabled(c.bLyrics), SetPreviewEnabled(c.bPreview);
             pLog = std::make_unique<TRequestLog>();
           });
    TearDown();
  }
}

TEST_F(PagesTest, UserPageLinksLightOnlyForHttpAndABuyLinkMovesTheRowsBelow) {
  for (const char16_t* url : {u"http://shop/x", u"https://shop/x", u"shop"}) {
    SCOPED_TRACE(plat::ToUtf8(url));
    const bool bHttp = plat::WString(url).rfind(u"http:", 0) == 0;
    int32_t nTopBefore = 0;
    OnPage(13, {[] {},
                [&] {
                  nTopBefore = NodeRect(Page()->Content(), 145).top;
                  searchtest::Post<BuyLinksLoadedEvent>(Buy(url));
                  searchtest::Post<VideosLoadedEvent>(Text(url));
                  searchtest::Post<LyricsLinkLoadedEvent>(Text(url));
                },
                [] {},
                [&] {
                  CUserPageView* p = Page();
                  EXPECT_EQ(bHttp, p->BuyRow().pButton->IsEnabled());
                  EXPECT_EQ(bHttp, p->VideoRow().pButton->IsEnabled());
                  EXPECT_EQ(bHttp, p->LyricsRow().pButton->IsEnabled());
                  EXPECT_EQ(bHttp ? 1u : 0u, SelectedKey(p->Content()->FindNode(142, -1), 14));
                  const int32_t nMove = NodeRect(p->Content(), 145).top - nTopBefore;
                  EXPECT_EQ(bHttp ? ScreenLargerSide() * 88 / 800 : 0, nMove);
                  if (bHttp) {
                    Tap(p->BuyRow().pButton);
                  }
                },
                [&] {
                  auto launches = plat::Launches();
                  ASSERT_EQ(bHttp ? 1u : 0u, launches.size());
                  if (bHttp) {
                    EXPECT_EQ(url, launches[0].file);
                  }
                }});
    plat::ClearLaunches();
    TearDown();
  }
}

TEST_F(PagesTest, UserPageRecordingsAndPlaylistRepliesFillTheButtonsWithDetailsOn) {
  for (bool bDetails : {false, true}) {
    SCOPED_TRACE(bDetails);
    OnPage(13, {[&] {
                  if (bDetails) Page()->ToggleDetails();
                  LoadUser("anna", kUserList, kEmptyList);
                  searchtest::Post<RecordingsLoadedEvent>(Loaded(Users().RecordingsResults()));
                  searchtest::Post<PlaylistLoadedEvent>(Loaded(Users().PlaylistResults()));
                },
                [&] {
                  CUserPageView* p = Page();
                  EXPECT_EQ(u"S71(3)", p->RecordingsButton()->Caption()->Text());
                  EXPECT_EQ(bDetails, p->RecordingsButton()->IsEnabled());
                  // A playlist of no records stays disabled and dim.
                  EXPECT_FALSE(p->PlaylistButton()->IsEnabled());
                  EXPECT_EQ(ThemeSecondaryTextColor(0), p->PlaylistButton()->Caption()->TextColor());
                  StringRecord7 info;
                  info.m_nValue = 1;
                  info.m_texts[5] = u"third";
                  searchtest::Post<UserInfoLoadedEvent>(info);
                },
                [&] { EXPECT_EQ(u"third", Page()->FullRow().pCaption2->Text()); }});
    TearDown();
  }
}

TEST_F(PagesTest, UserPagePicturesFallBackAndANamelessOrPicturelessUserAsksNoServer) {
  for (const char* user : {"anna", "nopic", ""}) {
    SCOPED_TRACE(user);
    std::unique_ptr<TRequestLog> pLog;
    OnPage(13,
           {[&] {
              if (std::string(user) == "nopic") Users().SetImageUrl(u".png");
              CAppUi::Instance()->ActivateView(2);
              CAppUi::Instance()->ActivateView(13);
            },
            [] {},
            [&] {
              CUserPageView* p = Page();
              EXPECT_EQ(189, p->TrackPicture()->ImageId());  // its request failed
              // A name: the request failed (slot 152); none: never asked for.
              EXPECT_EQ(*user ? 152 : 211, p->UserPicture()->ImageId());
              const bool bNamed = *user != 0;
              EXPECT_EQ(bNamed, std::find(pLog->names.begin(), pLog->names.end(), "user image") != pLog->names.end());
              EXPECT_EQ(0u, CountCalls("ShowServerMessageView"));
            }},
           user, [&] { pLog = std::make_unique<TRequestLog>(); });
    TearDown();
  }
}

TEST_F(PagesTest, UserPageRowsFollowThePlayerByKind) {
  OnPage(13, {[] {
                Users().SetTrackKind(TrackKindFull);
                CQuorelAppUi::PlayPreview();
                Report(2);
              },
              [this] {
                CUserPageView* p = Page();
                EXPECT_EQ(CUserPageView::ERowFull, p->ActiveRow());
                EXPECT_EQ(RowImages(p->FullRow()), kPlaying);
                EXPECT_EQ(RowImages(p->MatchedRow()), kIdle);
                EXPECT_TRUE(p->FullRow().pBar->IsVisible());
                EXPECT_FALSE(p->PreviewRow().pBar->IsVisible());
                Report(3);
              },
              [this] {
                CUserPageView* p = Page();
                EXPECT_EQ(RowImages(p->FullRow()), kIdle);
                EXPECT_TRUE(p->FullRow().pBar->IsVisible());  // paused: the bars stay
                EXPECT_EQ(CUserPageView::ERowFull, p->ActiveRow());
                Report(4);
              },
              [this] {
                CUserPageView* p = Page();
                EXPECT_EQ(-1, p->ActiveRow());
                EXPECT_TRUE(p->IsPreviewFinished());
                EXPECT_EQ(0, CQuorelAppUi::GetPreviewState());  // stopped
                for (CDetailsRowA* pRow : {&p->MatchedRow(), &p->PreviewRow(), &p->FullRow()}) {
                  EXPECT_FALSE(pRow->pBar->IsVisible());
                  EXPECT_EQ(0, pRow->pBar->ThumbExtent());
                }
              }});
}

TEST_F(PagesTest, PressingThePausedRowOfItsKindResumesWithoutARestart) {
  OnPage(13, {[this] { Tap(Page()->PreviewRow().pButton); },
              [] {
                EXPECT_EQ("play http://media/p.mp3", PreviewScript().LastPlay());
                CQuorelAppUi::PausePreview();
                Report(3);
              },
              [this] { Tap(Page()->PreviewRow().pButton); },
              [] {
                EXPECT_EQ(1u, PreviewScript().Count("play http://media/p.mp3"));
                EXPECT_EQ("resume", PreviewScript().calls.back());
                EXPECT_EQ(2, CQuorelAppUi::GetPreviewState());
              }});
}

TEST_F(PagesTest, InformationKeepsThePreviewAndRecordingsStopIt) {
  size_t nStops = 0;
  OnPage(13, {[this] {
                Page()->ToggleDetails();  // details on: the full recording starts
              },
              [&] {
                EXPECT_EQ("play http://rec/f.mp3", PreviewScript().LastPlay());
                nStops = CountCalls("StopPreview");
              },
              // Down until the button is focused (and scrolled into view).
              Until([this] {
                if (Page()->InfoButton()->IsFocused()) return true;
                Key(plat::VK_DOWN);
                return false;
              }),
              [] { Key(plat::VK_RETURN); },
              [&] {
                EXPECT_EQ(15, m_app->GetActiveViewId());
                EXPECT_EQ(nStops, CountCalls("StopPreview"));
                EXPECT_EQ(1u, m_app->HistorySize());
                CQuorelAppUi::GoBack();
              },
              [&] {
                EXPECT_EQ(13, m_app->GetActiveViewId());
                EXPECT_EQ(0u, m_app->HistorySize());
                EXPECT_EQ(0u, Users().HistoryDepth());
              }});
}

TEST_F(PagesTest, RepliesAfterLeavingChangeNothing) {
  OnPage(13, {[this] {
    CUserPageView* p = Page();
    CAppUi::Instance()->ActivateView(2);
    CEvent::FireEvent<BuyLinksLoadedEvent>(Buy(u"http://shop/x"));
    CEvent::FireEvent<TrackImageLoadedEvent>(TImageLoaded{});
    EXPECT_FALSE(p->BuyRow().pButton->IsEnabled());
    EXPECT_TRUE(p->BuyUrl().empty());
  }});
}

// A row's caption box is as tall as the row: fitting the font to the box
// drew the captions as tall as the rows and cut them off. Every caption,
// both lines of the two-line row included, takes the standard text height
// unless its box is lower, on both pages and in both orientations (with
// every row shown: details on, a buy link, video and lyrics switched on).
TEST_F(PagesTest, DetailsRowCaptionsTakeTheStandardHeightAndFitTheirRows) {
  auto check = [](const char* name, CtlStatic* pCaption, CControl* pRow) {
    SCOPED_TRACE(name);
    ASSERT_NE(nullptr, pCaption);
    ASSERT_NE(nullptr, pCaption->Font());
    RECT box = pCaption->InnerBox();
    RECT row = pRow->Rect();
    int32_t nHeight = pCaption->Font()->PixelHeight();
    int32_t nStandard = CAppUi::Instance()->GetStandardHeight(kRowCaptionHeightIndex);
    EXPECT_EQ(std::min(nStandard, box.bottom - box.top), nHeight);
    EXPECT_LE(nHeight, box.bottom - box.top);
    EXPECT_LT(nHeight * 2, row.bottom - row.top);  // well inside the row, not as tall as it
  };
  using TRows = std::vector<std::pair<const char*, CDetailsLinkRow*>>;
  auto rowsOf = [this](int32_t nView) -> TRows {
    auto* p = dynamic_cast<CTrackPageView*>(m_app->ActiveView());
    if (!p) return {};
    TRows rows{{"video", &p->VideoRow()}, {"buy", &p->BuyRow()}, {"lyrics", &p->LyricsRow()}};
    if (nView == 14) {
      rows.push_back({"play", &Details()->PlayRow()});
    } else {
      for (auto row : TRows{{"preview", &Page()->PreviewRow()},
                            {"matched", &Page()->MatchedRow()},
                            {"switch", &Page()->SwitchRow()},
                            {"full", &Page()->FullRow()}})
        rows.push_back(row);
    }
    return rows;
  };
  for (int32_t nView : {13, 14}) {
    for (bool bLandscape : {false, true}) {
      SCOPED_TRACE(testing::Message() << "view " << nView << (bLandscape ? ", landscape" : ", portrait"));
      OnPage(nView,
             {[this, nView] {
                if (nView == 13) Page()->ToggleDetails();                      // the two-line row gets its size
                searchtest::Post<BuyLinksLoadedEvent>(Buy(u"http://shop/x"));  // and the buy row
              },
              [this, bLandscape] {
                if (bLandscape) m_tp->Rotate(90);
              },
              Until([this] { return m_app->Queue().IsEmpty(); }, 2000),
              [&] {
                TRows rows = rowsOf(nView);
                ASSERT_EQ(nView == 13 ? 7u : 4u, rows.size());
                for (auto [name, pRow] : rows) check(name, pRow->pCaption, pRow->pButton);
                if (nView == 13) check("full, second line", Page()->FullRow().pCaption2, Page()->FullRow().pButton);
              }},
             "anna", [] { SetVideoEnabled(true), SetLyricsEnabled(true); });
      TearDown();
    }
  }
}

// The pages as the user meets them: a preview row with nothing to play stays
// dim (picture 191, secondary caption) at creation and whatever the player
// reports; opened in landscape at 800 x 480 (a screen whose main window is
// lower by the menu bar) the footer notes are 16 px like in portrait; a
// playing row's bar is bright from its left edge over the played share.
TEST_F(PagesTest, PagesDimPreviewRowFooterFontsAndPreviewBarAsDrawn) {
  auto dim = [this] {
    EXPECT_EQ(191, Page()->PreviewRow().pIcon->ImageId());
    EXPECT_EQ(ThemeSecondaryTextColor(0), Page()->PreviewRow().pCaption->TextColor());
  };
  auto notes = [this] {
    auto* p = dynamic_cast<CTrackPageView*>(m_app->ActiveView());
    ASSERT_NE(nullptr, p);
    ASSERT_NE(nullptr, p->AmgNote());
    EXPECT_EQ(16, p->SourceNote()->Font()->PixelHeight());
    EXPECT_EQ(16, p->AmgNote()->Font()->PixelHeight());
  };
  auto barSteps = [this](int32_t nPercent) {
    return std::vector<TStep>{[] {
                                Users().SetTrackKind(TrackKindMatched);
                                CQuorelAppUi::PlayPreview();
                                Report(2);
                              },
                              [this, nPercent] {
                                ASSERT_EQ(CUserPageView::ERowMatched, Page()->ActiveRow());
                                PreviewScript().length = 100;
                                PreviewScript().played = nPercent;
                                Tick();
                              },
                              [this, nPercent] { ExpectFilledFromLeft(Page()->MatchedRow().pBar, 41, nPercent); }};
  };
  const struct {
    const char* name;
    int32_t view;
    SIZE screen;
    bool bPreview;
    std::vector<TStep> steps;
  } cases[] = {
      {"dim preview row",
       13,
       {480, 800},
       false,
       {[=] {
          dim();
          Users().SetTrackKind(TrackKindMatched);  // another row plays
          CQuorelAppUi::PlayPreview();
          Report(2);
        },
        [=] { dim(), Report(3); }, [=] { dim(), Report(4); }, dim}},
      {"user page notes, landscape", 13, {800, 480}, true, {notes}},
      {"track details notes, landscape", 14, {800, 480}, true, {notes}},
      {"bar at 25%", 13, {480, 800}, true, barSteps(25)},
      {"bar at 75%", 13, {480, 800}, true, barSteps(75)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    m_screen = c.screen;
    OnPage(c.view, c.steps, "anna", [] { SetAMGEnabled(true); }, true, c.bPreview);
    TearDown();
  }
  m_screen = {};
}

// --- track details -------------------------------------------------------------

TEST_F(PagesTest, TrackDetailsVariantsFollowTheSwitchesAndAskOnlyForThoseOn) {
  for (bool bOn : {true, false}) {
    SCOPED_TRACE(bOn);
    std::unique_ptr<TRequestLog> pLog;
    OnPage(14, {[&] {
      CTrackDetailsView* p = Details();
      const TSeenLog& log = *pLog;
      ASSERT_NE(nullptr, p);
      CLayoutNode* pContent = p->Content();
      EXPECT_EQ(bOn ? 1u : 0u, SelectedKey(pContent->FindNode(141, -1), 12));
      EXPECT_EQ(bOn ? 1u : 0u, SelectedKey(pContent->FindNode(143, -1), 13));
      EXPECT_EQ(bOn ? 1u : 0u, SelectedKey(pContent->FindNode(146, -1), 11));
      EXPECT_EQ(0u, SelectedKey(pContent->FindNode(142, -1), 14));
      EXPECT_EQ(bOn, p->VideoRow().pButton->IsShown());
      EXPECT_EQ(bOn, p->AmgNote() != nullptr);
      auto has = [&](const char* n) { return std::find(log.names.begin(), log.names.end(), n) != log.names.end(); };
      EXPECT_EQ(bOn, has("videos"));
      EXPECT_EQ(bOn, has("lyrics"));
      EXPECT_TRUE(has("buy"));
      EXPECT_FALSE(has("info"));
      EXPECT_EQ(u"anna", p->Bar().pCaption->Text());
      EXPECT_TRUE(p->PlayRow().pButton->IsFocused());
      EXPECT_EQ(189, p->TrackPicture()->ImageId());  // the default once its request failed
      EXPECT_EQ(u"S15", m_app->DisplayedSoftKeys().right.text);
      // The footer notes got their measured height.
      EXPECT_GT(pContent->FindNode(149, -1)->GetHeight(), 0);
    }},
           "anna", [&] {
             SetVideoEnabled(bOn), SetLyricsEnabled(bOn), SetAMGEnabled(bOn);
             pLog = std::make_unique<TRequestLog>();
           });
    TearDown();
  }
}

TEST_F(PagesTest, TrackDetailsPlayRowFollowsThePlayerAndAZeroLengthCountsAsAThousand) {
  OnPage(14, {[this] {
                Users().SetTrackKind(TrackKindFull);  // as a user's list sets it
                Tap(Details()->PlayRow().pButton);
              },
              [this] {
                EXPECT_EQ("play http://rec/f.mp3", PreviewScript().LastPlay());
                Report(2);
              },
              [this] {
                CTrackDetailsView* p = Details();
                EXPECT_EQ(RowImages(p->PlayRow()), kPlaying);
                EXPECT_TRUE(p->PlayRow().pBar->IsVisible());
                PreviewScript().length = 0;
                PreviewScript().played = 500;
                Tick();
                EXPECT_EQ(50, p->PlayRow().pBar->ThumbExtent());
                Report(4);
              },
              [this] {
                CTrackDetailsView* p = Details();
                EXPECT_EQ(RowImages(p->PlayRow()), kIdle);
                EXPECT_FALSE(p->PlayRow().pBar->IsVisible());
                EXPECT_EQ(0, p->PlayRow().pBar->ThumbExtent());
                EXPECT_TRUE(p->IsPreviewFinished());
                EXPECT_EQ(0, CQuorelAppUi::GetPreviewState());
              }});
}

TEST_F(PagesTest, TrackDetailsDimRowsTakeNoTapAndAnHttpBuyLinkLightsAndRelaysOut) {
  OnPage(14, {[this] {
                Tap(Details()->VideoRow().pButton);  // dim: no link yet
                searchtest::Post<BuyLinksLoadedEvent>(Buy(u"https://shop/x"));
              },
              [this] {
                EXPECT_TRUE(plat::Launches().empty());
                EXPECT_EQ(0u, SelectedKey(Details()->Content()->FindNode(142, -1), 14));
                EXPECT_EQ(0, Details()->Content()->FindNode(142, -1)->GetHeight());
                searchtest::Post<BuyLinksLoadedEvent>(Buy(u"http://shop/x"));
              },
              [] {},
              [this] {
                CTrackDetailsView* p = Details();
                EXPECT_EQ(1u, SelectedKey(p->Content()->FindNode(142, -1), 14));
                EXPECT_GT(p->Content()->FindNode(142, -1)->GetHeight(), 0);
                Tap(p->BuyRow().pButton);
              },
              [] {
                auto launches = plat::Launches();
                ASSERT_EQ(1u, launches.size());
                EXPECT_EQ(u"http://shop/x", launches[0].file);
              }});
}

// --- user information ------------------------------------------------------------

TEST_F(PagesTest, UserInformationFillsLabelsOnlyForTextsThatCame) {
  const struct {
    bool bSuccess;
    const char16_t *first, *second;
    const char16_t *third, *label1, *label2;
    uint32_t key8;
  } cases[] = {
      {false, u"", u"", u"S74", u"", u"", 0},
      {true, u"one", u"", u"t", u"S77", u"", 0},
      {true, u"", u"two", u"t", u"", u"S78", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(plat::ToUtf8(c.label1) + "|" + plat::ToUtf8(c.label2));
    OnPage(15, {[&] {
                  StringRecord7 info;
                  info.m_nValue = c.bSuccess ? 1 : 0;
                  if (c.bSuccess) {
                    info.m_texts[0] = u"anna", info.m_texts[1] = u"anna.png", info.m_texts[3] = u"Anna A";
                    info.m_texts[4] = c.first, info.m_texts[2] = c.second, info.m_texts[5] = u"t";
                  }
                  searchtest::Post<UserInfoLoadedEvent>(info);
                },
                [] {},
                [&] {
                  CUserInfoView* p = Info();
                  EXPECT_EQ(c.third, p->ThirdText()->Text());
                  EXPECT_EQ(c.label1, p->FirstLabel()->Text());
                  EXPECT_EQ(c.label2, p->SecondLabel()->Text());
                  EXPECT_EQ(c.key8, SelectedKey(p->Content()->FindNode(199, -1), 8));
                  EXPECT_EQ(u"S220", p->Bar().pCaption->Text());
                  EXPECT_EQ(152, p->Picture()->ImageId());  // no picture to be had here
                  EXPECT_FALSE(m_app->DisplayedSoftKeys().right.IsSet());
                  for (CControl* pStop : FocusStops()) EXPECT_NE(typeid(*pStop), typeid(CtlPanel));
                }});
    TearDown();
  }
}

TEST_F(PagesTest, UserInformationPutsTheFieldsBelowTheLowerOfPictureAndTexts) {
  for (bool bLong : {false, true}) {
    SCOPED_TRACE(bLong);
    OnPage(15, {[&] {
                  StringRecord7 info;
                  info.m_nValue = 1;
                  info.m_texts[0] = u"anna";
                  plat::WString longName;
                  for (int i = 0; i < 80; ++i) longName += u"name ";
                  info.m_texts[3] = bLong ? longName : u"Anna";
                  info.m_texts[5] = u"t";
                  searchtest::Post<UserInfoLoadedEvent>(info);
                },
                [] {},
                [&] {
                  CLayoutNode* pContent = Info()->Content();
                  const int32_t nSpacer = NodeRect(pContent, 194).top;
                  EXPECT_EQ(nSpacer, NodeRect(pContent, bLong ? 193 : 190).bottom);
                  if (bLong) {
                    EXPECT_GT(pContent->FindNode(192, -1)->GetHeight(), pContent->FindNode(187, -1)->GetHeight());
                  }
                }});
    TearDown();
  }
}

// --- rotation ----------------------------------------------------------------------

TEST_F(PagesTest, RotatingAPageKeepsWhatArrivedAndSettles) {
  // A quarter turn changes the shape; a half turn keeps it.
  const struct {
    int32_t nView, nAngle;
  } cases[] = {{13, 90}, {14, 90}, {15, 90}, {13, 180}, {14, 180}, {15, 180}};
  for (const auto& c : cases) {
    const int32_t nView = c.nView, nAngle = c.nAngle;
    SCOPED_TRACE(testing::Message() << nView << " turned " << nAngle);
    OnPage(nView, {[nView] {
                     if (nView == 15) {
                       StringRecord7 info;
                       info.m_nValue = 1;
                       info.m_texts[2] = u"second";
                       searchtest::Post<UserInfoLoadedEvent>(info);
                     } else {
                       searchtest::Post<BuyLinksLoadedEvent>(TBuyLinkLoaded{1, u"Store", u"http://shop/x"});
                     }
                   },
                   [this, nAngle] { m_tp->Rotate(nAngle); },
                   Until([this] { return m_app->Queue().IsEmpty(); }, 2000),
                   [this, nView] {
                     EXPECT_TRUE(m_app->Queue().IsEmpty());
                     if (nView == 15) {
                       EXPECT_EQ(1u, SelectedKey(Info()->Content()->FindNode(199, -1), 8));
                       EXPECT_EQ(u"second", Info()->SecondText()->Text());
                       EXPECT_GT(Info()->Content()->FindNode(199, -1)->GetHeight(), 0);
                       return;
                     }
                     auto* p = dynamic_cast<CTrackPageView*>(m_app->ActiveView());
                     ASSERT_NE(nullptr, p);
                     EXPECT_EQ(1u, SelectedKey(p->Content()->FindNode(142, -1), 14));
                     EXPECT_TRUE(p->BuyRow().pButton->IsEnabled());
                     EXPECT_GT(p->Content()->FindNode(149, -1)->GetHeight(), 0);
                   }});
    TearDown();
  }
}

}  // namespace
}  // namespace screenstest
