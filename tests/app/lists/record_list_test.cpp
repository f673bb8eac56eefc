// The record list panel behind views 4, 10 and 11: rows and their play
// pictures, the player's reports and ticks, focus moves during playback,
// leaving and coming back, the openers and their history entries.
#include "ScreensHarness.h"

namespace screenstest {
namespace {

class RecordListTest : public ScreensHarness {
 protected:
  // Results on view 4, with `more` running next.
  void OnResults(std::vector<TStep> more, uint32_t nTheme = 0, const char* xml = kResults, int32_t nMode = 0) {
    MakeScreens(nTheme);
    LoadResults(xml);
    *AppSettings::SavedSearchMode() = nMode;
    std::vector<TStep> steps{[] {
      StartScreens();
      CAppUi::Instance()->ActivateView(4);
    }};
    steps.insert(steps.end(), more.begin(), more.end());
    Run(std::move(steps));
  }
  struct TIndexes {
    int32_t playing, paused, selected;
    friend bool operator==(const TIndexes&, const TIndexes&) = default;
  };
  TIndexes Indexes() const { return {Panel()->PlayingRow(), Panel()->PausedRow(), Panel()->SelectedRow()}; }
};

constexpr TImages kIdle0{190, 190, 192}, kIdle1{190, 190, 323}, kNoPreview{191, 191, 191};
constexpr TImages kPlaying0{193, 193, 194}, kPlaying1{193, 193, 319};

TEST_F(RecordListTest, PlayerReportsDriveTheRowPicturesBarAndIndexes) {
  struct TStepCheck {
    int32_t report;  // -1: tap the playing row's play button instead
    TIndexes indexes;
    bool bPlayingLook;
  };
  const struct {
    const char* name;
    std::vector<TStepCheck> steps;
  } cases[] = {
      {"play, pause, resume, finish",
       {{2, {0, -1, 0}, true}, {3, {-1, 0, 0}, false}, {2, {0, -1, 0}, true}, {4, {-1, -1, 0}, false}}},
      {"error", {{7, {-1, -1, 0}, false}}},
      {"stopped by its own button", {{-1, {-1, -1, 0}, false}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<TStep> steps{[this] {
      ASSERT_EQ(Indexes(), (TIndexes{-1, -1, 0}));
      EXPECT_EQ(PlayImages(Panel()->Row(0)), kIdle0);
      Panel()->OnPlayPressed(0);
      EXPECT_EQ(Indexes(), (TIndexes{0, -1, 0}));
      EXPECT_EQ(PlayImages(Panel()->Row(0)), kPlaying0);
      EXPECT_TRUE(Panel()->Row(0).pBar->IsVisible());
    }};
    for (const TStepCheck& s : c.steps) {
      steps.push_back([s] {
        if (s.report == 7)
          searchtest::Post<PlayerStateEvent>(7);  // the application stops the failed player
        else if (s.report >= 0)
          Report(s.report);
      });
      steps.push_back([this, s] {
        if (s.report == -1) Panel()->OnPlayPressed(0);
        EXPECT_EQ(Indexes(), s.indexes);
        EXPECT_EQ(PlayImages(Panel()->Row(0)), s.bPlayingLook ? kPlaying0 : kIdle0);
        EXPECT_EQ(Panel()->Row(0).pBar->IsVisible(), s.bPlayingLook);
        if (!s.bPlayingLook && s.report != 3) {
          EXPECT_EQ(0, Panel()->Row(0).pBar->ThumbExtent());
        }
      });
    }
    OnResults(std::move(steps));
    TearDown();
  }
}

TEST_F(RecordListTest, PicturesFollowThemeAndPreviewPresence) {
  const struct {
    uint32_t theme;
    TImages idle, playing;
  } cases[] = {{0, kIdle0, kPlaying0}, {1, kIdle1, kPlaying1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.theme);
    OnResults({[this, c] {
                 EXPECT_EQ(PlayImages(Panel()->Row(0)), c.idle);
                 EXPECT_EQ(PlayImages(Panel()->Row(1)), kNoPreview);  // no preview: in every theme
                 Panel()->OnPlayPressed(0);
                 EXPECT_EQ(PlayImages(Panel()->Row(0)), c.playing);
               }},
              c.theme);
    TearDown();
  }
}

TEST_F(RecordListTest, TicksAdvanceThePlayingRowsBarAndAShortLengthCountsAsAThousand) {
  OnResults({[this] {
               Panel()->OnPlayPressed(2);
               PreviewScript().length = 10;
               PreviewScript().played = 5;
             },
             [this] {
               Tick();
               EXPECT_EQ(50, Panel()->Row(2).pBar->ThumbExtent());
               PreviewScript().length = 0;
               PreviewScript().played = 500;
               Tick();
               EXPECT_EQ(50, Panel()->Row(2).pBar->ThumbExtent());
               PreviewScript().played = 5000;  // capped at the length
               Tick();
               EXPECT_EQ(100, Panel()->Row(2).pBar->ThumbExtent());
               EXPECT_EQ(0, Panel()->Row(0).pBar->ThumbExtent());
             }});
}

TEST_F(RecordListTest, FocusMovingDuringPlaybackKeepsThePreviewOnItsRow) {
  size_t nStops = 0;
  OnResults({[this] { Panel()->OnPlayPressed(0), Report(2); },
             [&] {
               nStops = CountCalls("StopPreview");
               Key(plat::VK_DOWN);
             },
             [&] {
               // A row has two stops: its button and its play button.
               EXPECT_EQ(m_app->FocusedControl(), Panel()->Row(0).pPlay);
               Key(plat::VK_DOWN);
             },
             [&] {
               EXPECT_TRUE(Panel()->Row(1).pButton->IsFocused());
               EXPECT_EQ(Indexes(), (TIndexes{0, -1, 1}));
               EXPECT_EQ(PlayImages(Panel()->Row(0)), kPlaying0);
               EXPECT_TRUE(Panel()->Row(0).pBar->IsVisible());
               EXPECT_TRUE(Panel()->Row(1).pTitle->MarqueeFlag());
               EXPECT_EQ(nStops, CountCalls("StopPreview"));
             }});
}

TEST_F(RecordListTest, PausedRowThenFocusElsewhereStopsThePreview) {
  size_t nStopsBefore = 0;
  OnResults({[this] { Panel()->OnPlayPressed(0), Report(2); },
             [] { Report(3); },
             [&] {
               EXPECT_EQ(Indexes(), (TIndexes{-1, 0, 0}));
               nStopsBefore = CountCalls("StopPreview");
               Key(plat::VK_DOWN), Key(plat::VK_DOWN);
             },
             [&] {
               EXPECT_GT(CountCalls("StopPreview"), nStopsBefore);
               EXPECT_EQ(0, CQuorelAppUi::GetPreviewState());
               // Nothing is selected yet: the next preview that starts
               // selects the focused row and plays it instead.
               EXPECT_EQ(Indexes(), (TIndexes{-1, 0, 1}));
               EXPECT_EQ(u"anna", Users().UserName());
               CQuorelAppUi::PlayPreview();
             },
             [&] {
               EXPECT_EQ(u"ben", Users().UserName());
               EXPECT_EQ("play http://rec/r2m.mp3", PreviewScript().LastPlay());
               EXPECT_EQ(-1, Panel()->PausedRow());
               EXPECT_EQ(1, Panel()->SelectedRow());
             }});
}

TEST_F(RecordListTest, LeavingRemembersThePlayingRowWithoutStoppingElseTheSelectedRow) {
  size_t nStops = 0;
  OnResults({[this] { Panel()->OnPlayPressed(2), Report(2); },
             [&] {
               nStops = CountCalls("StopPreview");
               CAppUi::Instance()->ActivateView(2);
               EXPECT_EQ(2, *AppSettings::CurrentItem());
               EXPECT_EQ(nStops, CountCalls("StopPreview"));
               CAppUi::Instance()->ActivateView(4);
             },
             [&] {
               // Still playing: the row shows it again.
               EXPECT_EQ(Indexes(), (TIndexes{2, -1, 2}));
               EXPECT_EQ(PlayImages(Panel()->Row(2)), kPlaying0);
               CQuorelAppUi::StopPreview();
               Report(0);
             },
             [&] {
               EXPECT_EQ(Indexes(), (TIndexes{-1, -1, 2}));
               EXPECT_TRUE(Panel()->Row(2).pButton->IsFocused());
               Key(plat::VK_UP), Key(plat::VK_UP);
             },
             [&] {
               nStops = CountCalls("StopPreview");
               CAppUi::Instance()->ActivateView(2);
               EXPECT_EQ(1, *AppSettings::CurrentItem());
               EXPECT_EQ(nStops + 1, CountCalls("StopPreview"));
             }});
}

TEST_F(RecordListTest, AStaleOrUnsetStoredRowFocusesTheFirstRow) {
  for (int32_t stored : {-1, 3, 99}) {
    SCOPED_TRACE(stored);
    OnResults({[this, stored] {
                 *AppSettings::CurrentItem() = stored;
                 CAppUi::Instance()->ActivateView(2);
                 *AppSettings::CurrentItem() = stored;  // leaving stored its own row
                 CAppUi::Instance()->ActivateView(4);
               },
               [this] {
                 EXPECT_EQ(0, Panel()->SelectedRow());
                 EXPECT_TRUE(Panel()->Row(0).pButton->IsFocused());
               }});
    TearDown();
  }
}

TEST_F(RecordListTest, AnEmptyModelShowsTheEmptyTextAndDisablesThePanel) {
  OnResults({[this] {
               ASSERT_NE(nullptr, Panel());
               EXPECT_EQ(0u, Panel()->RowCount());
               EXPECT_FALSE(Panel()->IsEnabled());
               EXPECT_EQ(u"S60", Panel()->EmptyText()->Text());
               EXPECT_EQ(EAlignCenter, Panel()->EmptyText()->Alignment());
               EXPECT_TRUE(Panel()->EmptyText()->IsVisible());
               EXPECT_FALSE(Panel()->ScrollPanel()->IsVisible());
               EXPECT_EQ(Indexes(), (TIndexes{-1, -1, -1}));
               // Reports with nothing focused select nothing.
               Report(2);
             },
             [this] { EXPECT_EQ(Indexes(), (TIndexes{-1, -1, -1})); }},
            0, kEmptyList);
}

TEST_F(RecordListTest, SelectRecordCopiesTheRowAndSetsKindAndPreviewEntry) {
  OnResults({[this] {
    const struct {
      int32_t row;
      const char16_t *user, *track, *preview;
      int32_t kind;
      bool bEntry0;
    } rows[] = {
        {0, u"anna", u"Alpha", u"http://media/t1.mp3", TrackKindPreview, true},
        {1, u"ben", u"Beta", u"", TrackKindMatched, true},  // the matched recording plays
        {2, u"cleo", u"Gamma", u"http://media/t3.mp3", TrackKindPreview, true},
    };
    for (const auto& r : rows) {
      SCOPED_TRACE(r.row);
      Panel()->SelectRecord(r.row);
      EXPECT_EQ(r.user, Users().UserName());
      EXPECT_EQ(r.track, Users().TrackName());
      EXPECT_EQ(r.preview, Users().AudioPreviewUrl());
      EXPECT_EQ(r.kind, Users().TrackKind());
      EXPECT_EQ(r.bEntry0, MenuItem(0).IsVisible());
    }
    Panel()->SelectRecord(0);
    EXPECT_EQ(u"http://rec/r1m.mp3", Users().MatchedUrl());
    EXPECT_EQ(u"http://rec/r1.mp3", Users().CurrentTrack().m_fullUrl);
    EXPECT_EQ(u"t1", Users().TrackId());
    EXPECT_EQ(u"r1", Users().RecordingId());
    EXPECT_EQ(u"Artist A", Users().ArtistName());
    EXPECT_EQ(u"Album A", Users().AlbumName());
    EXPECT_EQ(u"http://v/t1", Users().VideoUrl());
    // Outside the rows nothing changes.
    for (int32_t bad : {-1, 3}) {
      Panel()->SelectRecord(bad);
      EXPECT_EQ(u"anna", Users().UserName());
    }
  }});
}

TEST_F(RecordListTest, RowsCarryKey16TextsAndFeedback) {
  for (bool bPreview : {true, false}) {
    SCOPED_TRACE(bPreview);
    OnResults({[this, bPreview] {
                 SetPreviewEnabled(bPreview);
                 CAppUi::Instance()->ActivateView(2);
                 CAppUi::Instance()->ActivateView(4);
               },
               [this, bPreview] {
                 const CRecordListItem& row = Panel()->Row(0);
                 EXPECT_EQ(bPreview ? 1u : 0u, SelectedKey(row.pButton->GetChildLayout()->FindNode(20, -1), 16));
                 EXPECT_EQ(u"Alpha", row.pTitle->Text());
                 EXPECT_EQ(u"Artist A", row.pSubtitle->Text());
                 EXPECT_EQ(13, row.pButton->ReleaseFeedback());
               }});
    TearDown();
  }
}

// The results screen as the user meets it: a tap or Enter on a play button
// gives one feedback, at the press; the title bar looks the same after a
// Sing search (right button shown) as after a Grab search outside that
// button; a playing row's bar is bright from its left edge over the played
// share.
TEST_F(RecordListTest, ResultsScreenFeedbackTitleBarAndPreviewBarAsDrawn) {
  const std::vector<std::string> kNine{"v \\Windows\\press.ivt", "s 09_Play,Pause.wav"};
  // A press and a release on the first row's play button: Enter once the
  // focus moved there, or the pointer at its middle.
  auto input = [this](bool bKey, bool bDown) {
    RECT rc = Panel()->Row(0).pPlay->ScreenRect();
    if (bKey)
      plat::InjectKey(plat::VK_RETURN, bDown);
    else
      plat::InjectPointer(bDown ? plat::PointerKind::Down : plat::PointerKind::Up, (rc.left + rc.right) / 2,
                          (rc.top + rc.bottom) / 2);
  };
  auto tapSteps = [&, this](bool bKey) {
    return std::vector<TStep>{[=] {
                                if (bKey) Key(plat::VK_DOWN);
                              },
                              [=, this] {
                                ASSERT_EQ(bKey, Panel()->Row(0).pPlay->IsFocused());
                                MakeFeedbackFiles();
                                plat::ResetDeviceServices();
                                input(bKey, true);
                              },
                              [=] {
                                EXPECT_EQ(kNine, Played());
                                input(bKey, false);
                              },
                              [=, this] {
                                EXPECT_EQ(kNine, Played());
                                EXPECT_EQ(0, Panel()->PlayingRow());
                              }};
  };
  // The title bar's pixels, those inside `mask` zeroed: after a Grab search
  // they must equal those after a Sing search outside its right button.
  RECT singButton{};
  std::vector<uint16_t> singPixels;
  auto barPixels = [this](const RECT& mask) {
    const RECT rc = View<CResultListView>()->Bar().Bar()->ScreenRect();
    std::vector<uint16_t> out;
    for (int32_t y = rc.top; y < rc.bottom; ++y)
      for (int32_t x = rc.left; x < rc.right; ++x)
        out.push_back(x >= mask.left && x < mask.right && y >= mask.top && y < mask.bottom ? 0 : m_tp->Pixel(x, y));
    return out;
  };
  auto barSteps = [this](int32_t nPercent, int32_t nBright) {
    return std::vector<TStep>{[this, nPercent] {
                                Panel()->OnPlayPressed(0);
                                PreviewScript().length = 100;
                                PreviewScript().played = nPercent;
                                Tick();
                              },
                              [=, this] { ExpectFilledFromLeft(Panel()->Row(0).pBar, nBright, nPercent); }};
  };
  const struct {
    const char* name;
    uint32_t theme;
    int32_t mode;  // of the search that led here: 0 Sing, 1 Grab
    std::vector<TStep> steps;
  } cases[] = {
      {"tap on play", 0, 0, tapSteps(false)},
      {"Enter on play", 0, 0, tapSteps(true)},
      {"title bar after Sing", 0, 0,
       {[&] {
         singButton = View<CResultListView>()->Bar().pButton->ScreenRect();
         ASSERT_GT(singButton.right, singButton.left);
         singPixels = barPixels(singButton);
       }}},
      {"title bar after Grab", 0, 1, {[&] { EXPECT_TRUE(barPixels(singButton) == singPixels); }}},
      {"bar at 25%", 0, 0, barSteps(25, 41)},
      {"bar at 75%, theme 1", 1, 0, barSteps(75, 44)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OnResults(c.steps, c.theme, kResults, c.mode);
    TearDown();
  }
}

}  // namespace
}  // namespace screenstest
