// The main road: the built program as a new user meets it, against the local
// protocol test server's default catalogue.
#include <gtest/gtest.h>

#include "app/QuorelAppUi.h"
#include "app/QuorelModalDialogs.h"
#include "app/RecorderView.h"
#include "app/SearchingView.h"
#include "app/RecordListPanel.h"
#include "app/ResultListView.h"
#include "app/UserPageView.h"
#include "protocol/AppSettings.h"
#include "protocol/HTTPUserModel.h"
#include "protocol/PreviewStore.h"
#include "protocol/SearchResults.h"
#include "app/ChoiceListView.h"
#include "app/SettingsView.h"
#include "e2e/Road.h"
#include "framework/Resources.h"
#include "platform/shell/DeviceServices.h"
#include "platform/shell/Launch.h"

namespace {

using e2e::Field;
using e2e::Road;

// Every trace line that tells of a panic or an error box.
std::vector<std::string> Panics(const Road& road) {
  std::vector<std::string> out;
  for (const std::string& line : road.DebugLines())
    if (line.find("Runtime Panic") != std::string::npos) out.push_back(line);
  return out;
}

plat::WString Ui(int32_t id) { return CResources::GetString(id); }

// The soft keys as the menu bar shows them, as UI string ids (-1: a text that
// is none of the two asked for, 0: empty).
std::pair<plat::WString, plat::WString> SoftKeys() {
  const auto& keys = CQuorelAppUi::App()->DisplayedSoftKeys();
  return {keys.left.text, keys.right.text};
}


// The file names of the feedback played since `from`.
std::vector<std::string> FeedbackSince(size_t from) {
  std::vector<std::string> out;
  const auto events = plat::FeedbackEvents();
  for (size_t i = from; i < events.size(); ++i) out.push_back(events[i].file.filename().string());
  return out;
}

// The options menu as (command, shown, enabled) for the shown items.
std::vector<std::tuple<int32_t, bool>> ShownMenu() {
  std::vector<std::tuple<int32_t, bool>> out;
  for (const CListDialogItem* pItem : CQuorelAppUi::App()->MenuDialog()->Items())
    if (pItem->IsVisible()) out.emplace_back(pItem->Id(), pItem->IsEnabled());
  return out;
}

TEST(MainRoad, StartRecordStopResults) {
  Road road;
  ASSERT_TRUE(road.Ready()) << road.Error();

  // 1. Start: the recorder screen, idle in Sing.
  road.Until("the update check reached the server", [&] { return !road.Requests("checkForUpdate").empty(); });
  road.Then([&] {
    EXPECT_EQ(road.ActiveView(), 2);
    EXPECT_TRUE(road.History().empty());
    CRecorderView* pView = CRecorderView::Current();
    ASSERT_NE(pView, nullptr);
    EXPECT_FALSE(pView->IsRecording());
    EXPECT_EQ(pView->Headline()->Text(), Ui(23));
    EXPECT_EQ(pView->Part().pCaption->Text(), Ui(32));
    EXPECT_TRUE(pView->Part().pCaption->IsVisible());
    EXPECT_FALSE(pView->Elapsed()->IsVisible());
    EXPECT_FALSE(pView->Limit()->IsVisible());
    EXPECT_FALSE(pView->Progress()->IsVisible());
    EXPECT_EQ(SoftKeys(), std::make_pair(Ui(16), Ui(15)));
    EXPECT_EQ(road.AppString(u"app_language"), "EN");
    EXPECT_TRUE(road.Traced("[QUOREL] Language id is 0x0409/0x0000 Will be used Quorel.exe.0409.mui"));
    const std::vector<std::tuple<int32_t, bool>> menu = {{3, true}, {5, false}, {6, true}, {7, true},
                                                         {9, true}, {8, true},  {10, true}};
    EXPECT_EQ(ShownMenu(), menu);
    const auto checks = road.Requests("checkForUpdate");
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_EQ(Field(checks[0], "method"), "GET");
    EXPECT_NE(Field(checks[0], "headers").find("LANG=EN"), std::string::npos) << checks[0];
    EXPECT_EQ(Field(checks[0], "violations"), "[]") << checks[0];
    EXPECT_TRUE(road.Device().MessageBoxes().empty());
    EXPECT_EQ(plat::CurrentPowerRecord().backlightHeld, 0);
  });

  // 2. Record: a tap on the record button.
  size_t feedbackFrom = 0;
  road.Then([&] {
    feedbackFrom = plat::FeedbackEvents().size();
    road.TapOn(CRecorderView::Current()->RecordButton());
  });
  road.Until("recording", [] { return CRecorderView::Current() && CRecorderView::Current()->IsRecording(); });
  road.Then([&] {
    // Feedback 9 on the press, 3 on the release.
    EXPECT_EQ(FeedbackSince(feedbackFrom), (std::vector<std::string>{"press.ivt", "09_Play,Pause.wav", "release.ivt"}));
    CRecorderView* pView = CRecorderView::Current();
    EXPECT_TRUE(pView->Part().IsRecording());
    EXPECT_EQ(pView->Elapsed()->Text(), u"00:00");
    EXPECT_EQ(pView->Limit()->Text(), u"00:30");
    EXPECT_TRUE(pView->Progress()->IsVisible());
    EXPECT_EQ(SoftKeys(), std::make_pair(plat::WString(), Ui(9)));
    EXPECT_EQ(plat::CurrentPowerRecord().backlightHeld, 1);
  });
  // A tap half a second in is refused.
  road.Until("half a second recorded", [] {
    CSearchRecorder* pRecorder = CQuorelAppUi::Recorder();
    return pRecorder && pRecorder->GetElapsed() >= 50;
  });
  road.Then([&] { road.TapOn(CRecorderView::Current()->RecordButton()); });
  road.Wait(100);
  road.Then([&] {
    EXPECT_EQ(road.ActiveView(), 2);
    EXPECT_TRUE(CRecorderView::Current()->IsRecording());
  });
  road.Until("5.5 s recorded", [] {
    CSearchRecorder* pRecorder = CQuorelAppUi::Recorder();
    return pRecorder && pRecorder->GetElapsed() >= 550;
  });
  road.Wait(150);  // the screen's tick shows the length
  road.Then([&] {
    CRecorderView* pView = CRecorderView::Current();
    EXPECT_EQ(pView->Elapsed()->Text(), u"00:05");
    EXPECT_EQ(pView->Progress()->ThumbExtent(), 16);
    // The microphone was opened as the recorder asks: 8 kHz, 16-bit mono.
    EXPECT_FALSE(road.Device().MicrophoneLog().empty());
  });

  // 3. Stop: the searching screen.
  road.Then([&] { road.TapOn(CRecorderView::Current()->RecordButton()); });
  road.Until("the searching screen", [&] { return road.ActiveView() == 12; });
  road.Then([&] {
    EXPECT_TRUE(road.Traced("[QUOREL] User stoped recorder"));
    EXPECT_EQ(road.History(), std::vector<int32_t>{2});
    EXPECT_EQ(plat::CurrentPowerRecord().backlightHeld, 0);
    CSearchingView* pView = CSearchingView::Current();
    ASSERT_NE(pView, nullptr);
    EXPECT_EQ(pView->WaitText()->Text(), Ui(59));
    EXPECT_TRUE(pView->Animation()->IsVisible());
    EXPECT_EQ(SoftKeys(), std::make_pair(plat::WString(), Ui(9)));
  });

  // 4. Results: the server judged the upload.
  road.Until("the search reply", [&] { return road.ActiveView() != 12; });
  road.Then([&] {
    EXPECT_EQ(road.ActiveView(), 4);
    // The upload as the server logged it once it was complete.
    const auto uploads = road.Requests("search-post");
    ASSERT_EQ(uploads.size(), 1u);
    const std::string& upload = uploads[0];
    EXPECT_NE(Field(upload, "target").find("method=search&type=singing&lang=" + plat::ToUtf8(Ui(88))),
              std::string::npos)
        << upload;
    EXPECT_NE(Field(upload, "headers").find("Content-Type: binary/octet-stream"), std::string::npos) << upload;
    EXPECT_NE(Field(upload, "headers").find("LANG=EN"), std::string::npos) << upload;
    EXPECT_EQ(Field(upload, "violations"), "[]") << upload;
    EXPECT_EQ(Field(upload, "valid"), "true") << upload;
    EXPECT_EQ(Field(upload, "framing"), "chunked") << upload;
    const double seconds = std::stod(Field(upload, "duration_s"));
    EXPECT_GT(seconds, 5.4);
    EXPECT_LT(seconds, 7.0);
    EXPECT_NEAR(std::stod(Field(upload, "frequency_hz")), 262, 8);
  });
  road.Wait(300);
  road.Then([&] {
    auto* pView = dynamic_cast<CResultListView*>(CAppUi::Instance()->ActiveView());
    ASSERT_NE(pView, nullptr);
    EXPECT_EQ(pView->Bar().pCaption->Text(), Ui(219));
    CRecordListPanel* pPanel = pView->Panel();
    ASSERT_EQ(pPanel->RowCount(), 3u);
    EXPECT_EQ(pPanel->SelectedRow(), 0);
    EXPECT_EQ(pPanel->PlayingRow(), -1);
    EXPECT_EQ(CSearchingView::Current(), nullptr) << "the wait panel is gone";
    // The ranked catalogue: the track nearest the tone first.
    EXPECT_EQ(AppSettings::GetResultModel()->TrackName(0), u"Café Nights & Days");
    EXPECT_TRUE(road.Device().Speaker().empty());
    // Play row 0's preview.
    road.TapOn(pPanel->Row(0).pPlay);
  });
  road.Until("the preview plays", [] {
    auto* pView = dynamic_cast<CResultListView*>(CAppUi::Instance()->ActiveView());
    return pView && pView->Panel()->PlayingRow() == 0 && plat::CurrentPowerRecord().audioHeld > 0;
  });
  road.Until("the preview ended", [] {
    auto* pView = dynamic_cast<CResultListView*>(CAppUi::Instance()->ActiveView());
    return pView && pView->Panel()->PlayingRow() == -1;
  }, 30000);
  road.Then([&] {
    // The server logs a download once it has answered it.
    const auto previews = road.Requests("preview");
    ASSERT_EQ(previews.size(), 1u);
    EXPECT_NE(Field(previews[0], "target").find("preview-t1.mp3"), std::string::npos) << previews[0];
    const auto speaker = road.Device().Speaker();
    ASSERT_FALSE(speaker.empty());
    EXPECT_EQ(speaker[0].format.nSamplesPerSec, 44100u);
    EXPECT_EQ(speaker[0].format.nChannels, 1u);
    EXPECT_EQ(plat::CurrentPowerRecord().audioHeld, 0);
    plat::WString cached;
    EXPECT_TRUE(CQuorelAppUi::PreviewStore()->IsCached(AppSettings::GetUserModel()->CurrentTrack(), cached));
  });

  // 5. The user page of row 0: the track and the user who sang it.
  road.Then([&] {
    auto* pView = dynamic_cast<CResultListView*>(CAppUi::Instance()->ActiveView());
    ASSERT_NE(pView, nullptr);
    road.TapOn(pView->Panel()->Row(0).pButton);
  });
  road.Until("the user page", [&] { return road.ActiveView() == 13; });
  road.Until("the user's pages arrived", [&] {
    return !road.Requests("getUserPlaylist").empty() && !road.Requests("getUserRecordings").empty() &&
           !road.Requests("getUserInformation").empty();
  });
  road.Wait(500);
  road.Then([&] {
    EXPECT_EQ(road.History(), (std::vector<int32_t>{2, 4}));
    auto* pView = dynamic_cast<CUserPageView*>(CAppUi::Instance()->ActiveView());
    ASSERT_NE(pView, nullptr);
    EXPECT_EQ(pView->Bar().pCaption->Text(), u"Café Nights & Days");
    for (const char* route : {"videos", "getTrackBuyLinks", "getTrackLyricsLink", "getUserInformation",
                              "getUserRecordings", "getUserPlaylist"}) {
      const auto requests = road.Requests(route);
      ASSERT_EQ(requests.size(), 1u) << route;
      EXPECT_EQ(Field(requests[0], "violations"), "[]") << requests[0];
    }
    std::string images;
    for (const std::string& entry : road.Requests("image")) images += Field(entry, "target") + " ";
    EXPECT_NE(images.find("al1.png"), std::string::npos) << images;
    EXPECT_NE(images.find("anna.png"), std::string::npos) << images;
    EXPECT_FALSE(pView->RecordingsButton()->IsEnabled());
    // 6. Details on.
    road.TapOn(pView->SwitchRow().pButton);
  });
  road.Wait(500);
  road.Then([&] {
    auto* pView = dynamic_cast<CUserPageView*>(CAppUi::Instance()->ActiveView());
    ASSERT_NE(pView, nullptr);
    EXPECT_TRUE(pView->RecordingsButton()->IsEnabled());
    EXPECT_TRUE(pView->PlaylistButton()->IsEnabled());
    // 7. Her recordings.
    road.TapOn(pView->RecordingsButton());
  });
  road.Until("her recordings", [&] { return road.ActiveView() == 10; });
  road.Wait(300);
  road.Then([&] {
    EXPECT_EQ(road.History(), (std::vector<int32_t>{2, 4, 13}));
    auto* pView = dynamic_cast<CUserListView*>(CAppUi::Instance()->ActiveView());
    ASSERT_NE(pView, nullptr);
    EXPECT_EQ(pView->Panel()->RowCount(), 3u);
    EXPECT_EQ(pView->Bar().pCaption->Text(), u"anna's recordings (3)");
  });

  // 13. Exit.
  EXPECT_EQ(road.Run(), 0);
  for (const std::string& miss : road.Misses()) ADD_FAILURE() << "missed: " << miss;
  EXPECT_TRUE(Panics(road).empty()) << Panics(road).front();
  EXPECT_TRUE(road.Device().MessageBoxes().empty());
  for (const plat::LaunchRecord& launch : plat::Launches()) ADD_FAILURE() << "launched " << plat::ToUtf8(launch.file);
}

}  // namespace

namespace {

// Settings reached as the harness reaches them (no key or menu item opens
// them), the interface language changed there, the recorder turned with the
// slide, a cancelled recording, and a second start that follows the phone's
// language again.
TEST(MainRoad, LanguageSlideCancelAndRestart) {
  Road road;
  ASSERT_TRUE(road.Ready()) << road.Error();
  road.Until("the update check reached the server", [&] { return !road.Requests("checkForUpdate").empty(); });

  // 11. Settings and the interface language.
  road.Then([] { CQuorelAppUi::OpenSettings(); });
  road.Until("the settings screen", [&] { return road.ActiveView() == 5; });
  road.Wait(300);
  auto* pSettings = new CSettingsView*(nullptr);
  std::unique_ptr<CSettingsView*> settingsOwner(pSettings);
  road.Then([&, pSettings] {
    *pSettings = dynamic_cast<CSettingsView*>(CAppUi::Instance()->ActiveView());
    ASSERT_NE(*pSettings, nullptr);
    CSettingsView* pView = *pSettings;
    EXPECT_EQ(pView->UpdateText()->Text(), Ui(14));
    EXPECT_EQ(pView->UpdateButton().pCaption->Text(), Ui(46));
    EXPECT_EQ(pView->LanguageText()->Text(), Ui(210));
    EXPECT_EQ(pView->LanguageButton().pCaption->Text(), u"English");
    road.TapOn(pView->LanguageButton().pButton);
  });
  road.Until("the language screen", [&] { return road.ActiveView() == 21; });
  road.Wait(300);
  road.Then([&] {
    auto* pView = dynamic_cast<CChoiceListView*>(CAppUi::Instance()->ActiveView());
    ASSERT_NE(pView, nullptr);
    int32_t german = -1;
    for (int32_t i = 0; i < pView->RowCount(); ++i)
      if (pView->Row(i).pCaption->Text() == u"German") german = i;
    ASSERT_GE(german, 0) << "no row says German";
    road.TapOn(pView->Row(german).pButton);
  });
  road.Until("back on the settings screen", [&] { return road.ActiveView() == 5; });
  road.Wait(300);
  road.Then([&] {
    EXPECT_EQ(road.AppString(u"app_language"), "DE");
    auto* pView = dynamic_cast<CSettingsView*>(CAppUi::Instance()->ActiveView());
    ASSERT_NE(pView, nullptr);
    EXPECT_EQ(pView->LanguageButton().pCaption->Text(), u"Deutsch");
    EXPECT_EQ(SoftKeys().second, Ui(15));
    // "New search": the recorder screen with an empty history.
    CQuorelAppUi::RestartSearch();
  });

  // 12. The recorder with the slide open, recording, closed, cancelled.
  road.Until("the recorder screen", [&] { return road.ActiveView() == 2 && CRecorderView::Current(); });
  road.Wait(300);
  road.Then([&] {
    EXPECT_TRUE(road.History().empty());
    road.Device().SetSlide(true);
  });
  road.Wait(300);
  road.Then([&] {
    EXPECT_TRUE(CRecorderView::Current()->IsLandscape());
    road.TapOn(CRecorderView::Current()->RecordButton());
  });
  road.Until("recording again", [] { return CRecorderView::Current() && CRecorderView::Current()->IsRecording(); });
  road.Wait(300);
  road.Then([&] {
    CRecorderView* pView = CRecorderView::Current();
    EXPECT_TRUE(pView->IsLandscape());
    EXPECT_FALSE(pView->PictureB()->IsVisible());
    road.Device().SetSlide(false);
  });
  road.Wait(300);
  auto feedbackFrom = std::make_shared<size_t>(0);
  road.Then([&, feedbackFrom] {
    CRecorderView* pView = CRecorderView::Current();
    EXPECT_FALSE(pView->IsLandscape());
    EXPECT_TRUE(pView->PictureB()->IsVisible());
    EXPECT_EQ(plat::CurrentPowerRecord().backlightHeld, 1);
    *feedbackFrom = plat::FeedbackEvents().size();
    road.Device().Key(plat::VK_F2);
  });
  road.Until("idle again", [] { return CRecorderView::Current() && !CRecorderView::Current()->IsRecording(); });
  road.Then([&, feedbackFrom] {
    EXPECT_TRUE(road.Traced("[QUOREL] User cancel recorder"));
    EXPECT_EQ(FeedbackSince(*feedbackFrom), (std::vector<std::string>{"button.ivt", "22_Cancel.wav"}));
    EXPECT_EQ(plat::CurrentPowerRecord().backlightHeld, 0);
    EXPECT_EQ(CQuorelAppUi::Recorder(), nullptr);
  });
  // The cancelled upload spoke German.
  road.Until("the cancelled upload in the server's log", [&] { return !road.Requests("search-post").empty(); });
  road.Then([&] {
    const auto uploads = road.Requests("search-post");
    ASSERT_FALSE(uploads.empty());
    EXPECT_NE(Field(uploads.back(), "headers").find("LANG=DE"), std::string::npos) << uploads.back();
  });

  // 13. Exit, and a second start on the same device.
  EXPECT_EQ(road.Run(), 0);
  for (const std::string& miss : road.Misses()) ADD_FAILURE() << "missed: " << miss;
  EXPECT_TRUE(Panics(road).empty()) << Panics(road).front();
  EXPECT_TRUE(road.Device().MessageBoxes().empty());
  EXPECT_FALSE(plat::Launches().size()) << plat::ToUtf8(plat::Launches().front().file);

  road.Wait(300);
  EXPECT_EQ(road.Run(), 0);
  EXPECT_EQ(road.AppString(u"app_language"), "EN");
}

}  // namespace
