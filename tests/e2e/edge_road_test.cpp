// The edge road: the built program against the test server's edge catalogue,
// whose tracks carry ids that must never become file names, resource URLs
// that fail on purpose and a user without a picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "app/QuorelAppUi.h"
#include "app/QuorelModalDialogs.h"
#include "app/RecordListPanel.h"
#include "app/RecorderView.h"
#include "app/ResultListView.h"
#include "app/UserPageView.h"
#include "e2e/RoadTest.h"
#include "framework/Resources.h"
#include "protocol/AppSettings.h"
#include "protocol/HTTPUserModel.h"
#include "protocol/PreviewStore.h"
#include "protocol/SearchResults.h"
#include "platform/fs/FileSystem.h"
#include "platform/shell/DeviceServices.h"
#include "platform/shell/Launch.h"

namespace {

using e2e::Field;
using e2e::Road;

template <class T>
T* Active() {
  return dynamic_cast<T*>(CAppUi::Instance()->ActiveView());
}

CRecordListPanel* ResultsPanel() {
  auto* pView = Active<CResultListView>();
  return pView ? pView->Panel() : nullptr;
}

// The result row showing that track name, -1 when none does.
int32_t RowNamed(const char16_t* name) {
  CSearchResults* pModel = AppSettings::GetResultModel();
  CRecordListPanel* pPanel = ResultsPanel();
  if (!pModel || !pPanel) return -1;
  for (size_t i = 0; i < pPanel->RowCount(); ++i)
    if (pModel->TrackName(static_cast<int32_t>(i)) == name) return static_cast<int32_t>(i);
  return -1;
}

// The server's log targets of one route, space separated.
std::string Targets(const Road& road, const std::string& route) {
  std::string out;
  for (const std::string& entry : road.Requests(route)) out += Field(entry, "target") + " ";
  return out;
}

size_t CallsSince(size_t from, const std::string& call) {
  const auto& calls = CQuorelAppUi::OutwardCalls();
  return static_cast<size_t>(std::count(calls.begin() + static_cast<std::ptrdiff_t>(std::min(from, calls.size())),
                                        calls.end(), call));
}

// A Sing search of the tone, stopped at 5.5 s, up to the results.
void SingUpToResults(Road& road) {
  road.Until("the update check reached the server", [&] { return !road.Requests("checkForUpdate").empty(); });
  road.Then([&] { road.TapOn(CRecorderView::Current()->RecordButton()); });
  road.Until("5.5 s recorded", [] {
    CSearchRecorder* pRecorder = CQuorelAppUi::Recorder();
    return pRecorder && pRecorder->GetElapsed() >= 550;
  });
  road.Then([&] { road.TapOn(CRecorderView::Current()->RecordButton()); });
  road.Until("the results", [&] { return road.ActiveView() == 4 && ResultsPanel(); });
  road.Wait(300);
}

// Walks the focus down the results with the key until the row named `name`
// is focused (the list scrolls it into sight), as a user would.
void FocusRow(Road& road, const char16_t* name) {
  for (int i = 0; i < 12; ++i) {
    road.Then([&road, name] {
      CRecordListPanel* pPanel = ResultsPanel();
      if (!pPanel || pPanel->SelectedRow() == RowNamed(name)) return;
      road.Device().Key(pPanel->SelectedRow() < RowNamed(name) ? plat::VK_DOWN : plat::VK_UP);
    });
    road.Wait(100);
  }
  road.Then([name] {
    ASSERT_NE(ResultsPanel(), nullptr);
    ASSERT_GE(RowNamed(name), 0);
    EXPECT_EQ(ResultsPanel()->SelectedRow(), RowNamed(name));
  });
}

// The files of a folder of the device, also once the program has ended.
std::vector<std::string> FolderFiles(const plat::WString& folder) {
  std::vector<std::string> names;
  if (auto host = plat::HostPath(folder))
    for (const auto& entry : std::filesystem::directory_iterator(*host)) names.push_back(entry.path().filename());
  return names;
}

std::vector<uint16_t> ScreenPixels(Road& road) {
  const auto& screen = road.Device().Screen();
  std::vector<uint16_t> pixels;
  for (int32_t y = 0; y < screen.Height(); ++y) pixels.insert(pixels.end(), screen.Row(y), screen.Row(y) + screen.Width());
  return pixels;
}

// The screen as the loop left it must be what a full repaint of the same
// state draws; a miss names the box of the pixels that differ.
void ExpectAsRepaintedAfresh(Road& road, const char* what) {
  auto left = std::make_shared<std::vector<uint16_t>>();
  road.Then([&road, left] {
    *left = ScreenPixels(road);
    CQuorelAppUi::App()->Invalidate();
  });
  road.Then([&road, left, what] {
    const std::vector<uint16_t> fresh = ScreenPixels(road);
    const auto width = static_cast<size_t>(road.Device().Screen().Width());
    size_t first = fresh.size(), last = 0;
    for (size_t i = 0; i < fresh.size(); ++i)
      if (fresh[i] != (*left)[i]) first = std::min(first, i), last = i;
    EXPECT_EQ(first, fresh.size()) << what << ": stale paint from (" << first % width << "," << first / width
                                   << ") to (" << last % width << "," << last / width << ")";
  });
}

void BackToResults(Road& road) {
  road.Then([&] {
    if (auto* pView = Active<CUserPageView>()) road.TapOn(pView->Bar().pBack);
  });
  road.Until("back on the results", [&] { return road.ActiveView() == 4 && ResultsPanel(); });
  road.Wait(300);
}

TEST(EdgeRoad, FaultyIdsPicturesAndPreviewsFailSafely) {
  e2e::RoadConfig config = e2e::TestRoadConfig();
  config.catalogue = "edge";
  Road road(config);
  ASSERT_TRUE(road.Ready()) << road.Error();
  const size_t callsFrom = CQuorelAppUi::OutwardCalls().size();

  SingUpToResults(road);
  road.Then([&] {
    // The three ranked tracks, then the edge catalogue's five.
    ASSERT_NE(ResultsPanel(), nullptr);
    EXPECT_EQ(ResultsPanel()->RowCount(), 8u);
    EXPECT_EQ(RowNamed(u"Café Nights & Days"), 0);
    for (const char16_t* name : {u"Parent <Folder> Id", u"Upper-case Id", u"Less < More"})
      EXPECT_GE(RowNamed(name), 0) << plat::ToUtf8(name);
    EXPECT_TRUE(road.StoreFiles().empty());
  });

  // "../x": its preview answers 404 — message 86, nothing kept.
  FocusRow(road, u"Parent <Folder> Id");
  road.Then([&] { road.TapOn(ResultsPanel()->Row(static_cast<size_t>(RowNamed(u"Parent <Folder> Id"))).pPlay); });
  road.Until("message 86", [] { return !CMessageDialog::OpenDialogs().empty(); });
  road.Then([&] {
    EXPECT_NE(Targets(road, "preview").find("preview-..%2Fx.mp3"), std::string::npos) << Targets(road, "preview");
    EXPECT_EQ(CallsSince(callsFrom, "ShowMessage 86 152"), 1u);
    ASSERT_EQ(CMessageDialog::OpenDialogs().size(), 1u);
    EXPECT_EQ(CMessageDialog::OpenDialogs()[0]->Text(), CResources::GetString(86));
    EXPECT_EQ(CQuorelAppUi::GetPreviewState(), 0);
    EXPECT_EQ(ResultsPanel()->PlayingRow(), -1);
    EXPECT_TRUE(road.StoreFiles().empty()) << road.StoreFiles().front();
    EXPECT_EQ(plat::CurrentPowerRecord().audioHeld, 0);
    // The soft keys are off while the message is up: its own button answers.
    EXPECT_FALSE(CQuorelAppUi::App()->IsRightSoftKeyEnabled());
    road.TapOn(CMessageDialog::OpenDialogs()[0]->RightButton());
  });
  road.Until("the message closed", [] { return CMessageDialog::OpenDialogs().empty(); });

  // Its page: the videos are behind an https URL, which this client does not
  // fetch, so the video row stays dim; the other links are still asked for.
  auto videosBefore = std::make_shared<size_t>(0);
  road.Then([&, videosBefore] {
    const int32_t row = RowNamed(u"Parent <Folder> Id");
    const plat::WString video = AppSettings::GetResultModel()->VideoUrl(row);
    EXPECT_EQ(video.rfind(u"https://", 0), 0u) << plat::ToUtf8(video);
    *videosBefore = road.Requests("videos").size();
    road.TapOn(ResultsPanel()->Row(static_cast<size_t>(row)).pButton);
  });
  road.Until("the page of ../x", [&] { return road.ActiveView() == 13; });
  road.Until("its lyrics link asked for", [&] {
    return Targets(road, "getTrackLyricsLink").find("track_id=..%2Fx") != std::string::npos;
  });
  road.Wait(500);
  road.Then([&, videosBefore] {
    auto* pView = Active<CUserPageView>();
    ASSERT_NE(pView, nullptr);
    EXPECT_EQ(road.Requests("videos").size(), *videosBefore);
    EXPECT_TRUE(pView->VideoUrl().empty()) << plat::ToUtf8(pView->VideoUrl());
    EXPECT_FALSE(pView->VideoRow().pButton->IsEnabled());
    road.TapOn(pView->VideoRow().pButton);
  });
  road.Wait(300);
  road.Then([&] { EXPECT_TRUE(plat::Launches().empty()); });
  BackToResults(road);

  // "T1": plays, but an upper-case id names no cached file.
  FocusRow(road, u"Upper-case Id");
  road.Then([&] { road.TapOn(ResultsPanel()->Row(static_cast<size_t>(RowNamed(u"Upper-case Id"))).pPlay); });
  road.Until("T1 plays", [] {
    CRecordListPanel* pPanel = ResultsPanel();
    return pPanel && pPanel->PlayingRow() == RowNamed(u"Upper-case Id") && plat::CurrentPowerRecord().audioHeld > 0;
  });
  road.Until("T1 ended", [] { return ResultsPanel() && ResultsPanel()->PlayingRow() == -1; }, 30000);
  road.Then([&] {
    EXPECT_NE(Targets(road, "preview").find("preview-T1.mp3"), std::string::npos) << Targets(road, "preview");
    EXPECT_FALSE(road.Device().Speaker().empty());
    EXPECT_EQ(CallsSince(callsFrom, "ShowMessage 86 152"), 1u) << "only the 404 failed";
    EXPECT_TRUE(road.StoreFiles().empty()) << road.StoreFiles().front();
    plat::WString cached;
    EXPECT_FALSE(CQuorelAppUi::PreviewStore()->IsCached(AppSettings::GetUserModel()->CurrentTrack(), cached));
  });

  // Its page: the album picture is a corrupt PNG, so the default one stays.
  road.Then([&] { road.TapOn(ResultsPanel()->Row(static_cast<size_t>(RowNamed(u"Upper-case Id"))).pButton); });
  road.Until("the page of T1", [&] { return road.ActiveView() == 13; });
  road.Until("its album picture was fetched", [&] { return Targets(road, "image").find("e1.png") != std::string::npos; });
  road.Wait(500);
  road.Then([&] {
    auto* pView = Active<CUserPageView>();
    ASSERT_NE(pView, nullptr);
    EXPECT_EQ(pView->Bar().pCaption->Text(), u"Upper-case Id");
    EXPECT_EQ(pView->TrackPicture()->ImageId(), 189);
  });
  BackToResults(road);

  // "Less < More" by nopic, who has no picture: nothing is asked for it.
  FocusRow(road, u"Less < More");
  auto imagesBefore = std::make_shared<size_t>(0);
  road.Then([&, imagesBefore] {
    *imagesBefore = road.Requests("image").size();
    road.TapOn(ResultsPanel()->Row(static_cast<size_t>(RowNamed(u"Less < More"))).pButton);
  });
  road.Until("the page of t3", [&] { return road.ActiveView() == 13; });
  road.Until("nopic's information", [&] {
    return !road.Requests("getUserInformation").empty() &&
           Targets(road, "getUserInformation").find("nopic") != std::string::npos;
  });
  road.Then([&] {
    if (auto* pView = Active<CUserPageView>()) road.TapOn(pView->SwitchRow().pButton);  // details on
  });
  road.Wait(1000);
  road.Then([&, imagesBefore] {
    auto* pView = Active<CUserPageView>();
    ASSERT_NE(pView, nullptr);
    EXPECT_EQ(pView->UserPicture()->ImageId(), 152);
    std::string since;
    const auto images = road.Requests("image");
    for (size_t i = *imagesBefore; i < images.size(); ++i) since += Field(images[i], "target") + " ";
    EXPECT_EQ(since.find("nopic"), std::string::npos) << since;
    EXPECT_NE(since.find("al2.png"), std::string::npos) << "the album picture is still asked for: " << since;
  });

  EXPECT_EQ(road.Run(), 0);
  for (const std::string& miss : road.Misses()) ADD_FAILURE() << "missed: " << miss;
  const auto& seen = road.ViewsSeen();
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 16), 0) << "no server-message screen";
  const auto& calls = CQuorelAppUi::OutwardCalls();
  for (size_t i = callsFrom; i < calls.size(); ++i)
    EXPECT_EQ(calls[i].rfind("ShowServerMessageView", 0), std::string::npos) << calls[i];
  for (const std::string& line : road.DebugLines()) EXPECT_EQ(line.find("Runtime Panic"), std::string::npos) << line;
  EXPECT_TRUE(road.Device().MessageBoxes().empty());
  for (const plat::LaunchRecord& launch : plat::Launches()) ADD_FAILURE() << "launched " << plat::ToUtf8(launch.file);
}

// A dialog that goes leaves the screen as a full repaint draws it: the
// update's "could not be saved", which replaces the offer in one turn, and
// the failed preview that opens while the details switch lays the page out.
TEST(EdgeRoad, ClosedDialogsLeaveNothingPaintedBehind) {
  e2e::RoadConfig config = e2e::TestRoadConfig();
  config.serverOptions = {"--update", "info", "--fault", "checkForUpdate:offer-bad-url:https", "--fault",
                          "search-post:file-full-url"};
  Road road(config);
  ASSERT_TRUE(road.Ready()) << road.Error();

  // The options menu's toolkit repaints the whole window on every frame for
  // ten seconds after the start or its last input, which would hide the
  // fault; a user who reads the offer sees the window at rest.
  road.Until("the update offer", [] { return CMessageDialog::OpenDialogs().size() == 1; });
  road.Wait(11000);
  road.Then([&] { road.TapOn(CMessageDialog::OpenDialogs()[0]->LeftButton()); });
  road.Until("could not be saved", [] {
    const auto& open = CMessageDialog::OpenDialogs();
    return open.size() == 1 && open[0]->Text() == CResources::GetString(58);
  });
  road.Wait(300);
  road.Then([&] { road.TapOn(CMessageDialog::OpenDialogs()[0]->RightButton()); });
  road.Until("the message closed", [] { return CMessageDialog::OpenDialogs().empty(); });
  road.Wait(300);
  ExpectAsRepaintedAfresh(road, "after the update's message");

  SingUpToResults(road);
  road.Then([&] { road.TapOn(ResultsPanel()->Row(0).pButton); });
  road.Until("the user page", [&] { return road.ActiveView() == 13; });
  road.Until("its user's information", [&] { return !road.Requests("getUserInformation").empty(); });
  road.Wait(11000);
  road.Then([&] { road.TapOn(Active<CUserPageView>()->SwitchRow().pButton); });  // details on: a file: preview
  road.Until("message 86", [] { return CMessageDialog::OpenDialogs().size() == 1; });
  road.Wait(300);
  road.Then([&] {
    EXPECT_EQ(CMessageDialog::OpenDialogs()[0]->Text(), CResources::GetString(86));
    // What a miss here would report: the view, the message and its text.
    const std::string report = road.Describe();
    for (const std::string& part : {std::string("view 13,"), "\"" + plat::ToUtf8(CResources::GetString(86)) + "\"",
                                    std::string("preview state "), std::string("pointer capture: none")})
      EXPECT_NE(report.find(part), std::string::npos) << part << " not in:\n" << report;
    road.TapOn(CMessageDialog::OpenDialogs()[0]->RightButton());
  });
  road.Until("the message closed", [] { return CMessageDialog::OpenDialogs().empty(); });
  road.Wait(300);
  ExpectAsRepaintedAfresh(road, "after the failed preview's message");

  EXPECT_EQ(road.Run(), 0);
  for (const std::string& miss : road.Misses()) ADD_FAILURE() << "missed: " << miss;
}

// No download file outlives its reason: a failed update download leaves no
// package, quitting while a preview streams leaves no download file, and
// closing the window while a preview that arrived in full plays keeps it.
TEST(EdgeRoad, NoDownloadFileOutlivesItsReason) {
  e2e::RoadConfig config = e2e::TestRoadConfig();
  config.serverOptions = {"--update", "info", "--fault", "checkForUpdate:offer-bad-url:https", "--fault",
                          "preview:stall:60"};
  Road road(config);
  ASSERT_TRUE(road.Ready()) << road.Error();
  plat::WString folder;
  road.Until("the update offer", [] { return CMessageDialog::OpenDialogs().size() == 1; });
  road.Then([&] {
    folder = CQuorelAppUi::PreviewStore()->Directory();
    road.TapOn(CMessageDialog::OpenDialogs()[0]->LeftButton());
  });
  road.Until("could not be saved", [] {
    const auto& open = CMessageDialog::OpenDialogs();
    return open.size() == 1 && open[0]->Text() == CResources::GetString(58);
  });
  road.Then([&] {
    EXPECT_TRUE(road.StoreFiles().empty()) << road.StoreFiles().front();
    road.TapOn(CMessageDialog::OpenDialogs()[0]->RightButton());
  });
  SingUpToResults(road);
  // The preview's reply stalls: F4 while it streams.
  road.Then([&] { road.TapOn(ResultsPanel()->Row(0).pPlay); });
  road.Until("its download under way", [&] {
    const auto files = road.StoreFiles();
    return CQuorelAppUi::GetPreviewState() == 1 && std::count(files.begin(), files.end(), "buffer.dat") == 1;
  });
  road.Then([&] { road.Device().Key(plat::VK_F4); });
  EXPECT_EQ(road.Run(), 0);
  EXPECT_EQ(FolderFiles(folder), std::vector<std::string>{});
  road.Server().Control("/_ctl/reset");  // the stall may not have been met yet

  // Again on the same device: the preview arrives in full and plays when the
  // window closes.
  SingUpToResults(road);
  road.Then([&] { road.TapOn(ResultsPanel()->Row(0).pPlay); });
  auto body = std::make_shared<size_t>(0);
  road.Until("its download complete", [&, body] {
    // The same preview fetched again tells its length.
    const auto previews = road.Requests("preview");
    if (*body == 0 && !previews.empty()) *body = road.Server().Control(Field(previews.back(), "target")).size();
    std::error_code ec;
    const auto buffer = plat::HostPath(CQuorelAppUi::PreviewStore()->BufferPath());
    return *body > 0 && buffer && std::filesystem::file_size(*buffer, ec) == *body && CQuorelAppUi::GetPreviewState() == 2;
  });
  std::string kept;
  road.Then([&] {
    plat::WString name;
    ASSERT_TRUE(CQuorelAppUi::PreviewStore()->CacheFileName(AppSettings::GetUserModel()->CurrentTrack(), name));
    kept = plat::ToUtf8(name.substr(name.rfind(u'\\') + 1));
    road.Device().Close();
  });
  EXPECT_EQ(road.Run(), 0);
  EXPECT_EQ(FolderFiles(folder), std::vector<std::string>{kept});
  for (const std::string& miss : road.Misses()) ADD_FAILURE() << "missed: " << miss;
}

}  // namespace
