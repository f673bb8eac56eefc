// The main road: the built program as a new user meets it, against the local
// protocol test server's default catalogue.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>

#include "app/QuorelAppUi.h"
#include "app/QuorelModalDialogs.h"
#include "app/RecorderView.h"
#include "app/SearchingView.h"
#include "app/RecordListPanel.h"
#include "app/ResultListView.h"
#include "app/TrackDetailsView.h"
#include "app/UserPageView.h"
#include "protocol/AppSettings.h"
#include "protocol/HTTPUserModel.h"
#include "protocol/PreviewStore.h"
#include "protocol/SearchResults.h"
#include "app/ChoiceListView.h"
#include "app/SettingsView.h"
#include "e2e/RoadTest.h"
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

template <class V>
V* Active() {
  return CAppUi::Instance() ? dynamic_cast<V*>(CAppUi::Instance()->ActiveView()) : nullptr;
}

// Play pictures {normal, focused or pressed, pressed or released} of a list
// row and of a page's row.
using Images = std::array<int32_t, 3>;
constexpr Images kListIdle{190, 190, 192}, kListPlaying{193, 193, 194};
constexpr Images kRowIdle{190, 192, 191}, kRowPlaying{193, 194, 193};
Images ListImages(const CRecordListItem& row) {
  return {row.pPlay->ImageSlot(0), row.pPlay->ImageSlot(1), row.pPlay->ImageSlot(2)};
}
Images RowImages(const CDetailsLinkRow& row) {
  return {row.anStateImages[0], row.anStateImages[1], row.anStateImages[2]};
}
bool Lit(const CDetailsLinkRow& row) { return row.pButton->IsEnabled() && row.pIcon->ImageId() == row.nOnImage; }
bool Dim(const CDetailsLinkRow& row) { return !row.pButton->IsEnabled() && row.pIcon->ImageId() == row.nOffImage; }

// The value a content node's active variant of `nKey` was chosen with (-1:
// none), and the details key of a user page from the nodes it moves.
uint32_t SelectedKey(CLayoutNode* pContent, int32_t nNode, int32_t nKey) {
  CLayoutNode* pNode = pContent ? pContent->FindNode(nNode, -1) : nullptr;
  for (CLayoutVariant* v = pNode ? pNode->GetFirstVariant() : nullptr; v; v = v->m_pNext)
    if (v->m_bActive && v->m_nKey == nKey) return v->m_nValue;
  return static_cast<uint32_t>(-1);
}
uint32_t Key9(CLayoutNode* pContent) {
  uint32_t n = 0;
  for (int32_t id : {133, 141, 143})
    if (uint32_t v = SelectedKey(pContent, id, 9); v != static_cast<uint32_t>(-1)) n |= v;
  return n;
}

// A mode button's look: the first slice of its focused, normal and pressed
// skins, and its icon.
using ModeLookT = std::array<int32_t, 4>;
ModeLookT ModeLook(const CtlButton* pButton) {
  return {pButton->Skin(ESkinFocused).anSlice[0], pButton->Skin(ESkinNormal).anSlice[0],
          pButton->Skin(ESkinPressed).anSlice[0], pButton->IconId()};
}

CListDialogItem* MenuItem(int32_t nId) { return CQuorelAppUi::App()->FindMenuItem(nId); }
void ExpectMenuItem(int32_t nId, bool bShown, bool bEnabled, int32_t nLabel = -1) {
  CListDialogItem* pItem = MenuItem(nId);
  ASSERT_NE(pItem, nullptr);
  EXPECT_EQ(pItem->IsVisible(), bShown) << "menu item " << nId;
  EXPECT_EQ(pItem->IsEnabled(), bEnabled) << "menu item " << nId;
  if (nLabel >= 0) {
    EXPECT_EQ(pItem->LabelId(), nLabel) << "menu item " << nId;
  }
}
// The position of a command in the open options menu (-1: not there).
int32_t MenuPosition(const plat::WString& text) {
  const auto& commands = CAppUi::Instance()->MenuCommands();
  for (size_t i = 0; i < commands.size(); ++i)
    if (commands[i].text == text) return static_cast<int32_t>(i);
  return -1;
}
void ExpectSoftKeys(const plat::WString& left, const plat::WString& right) {
  EXPECT_EQ(SoftKeys(), std::make_pair(left, right));
  EXPECT_TRUE(CQuorelAppUi::App()->IsLeftSoftKeyEnabled());
  EXPECT_TRUE(CQuorelAppUi::App()->IsRightSoftKeyEnabled());
}

// Opens the options menu with F2 and lets it slide in: the toolkit drops a
// close asked for while it slides.
void OpenMenu(Road& road) {
  road.Then([&road] { road.Device().Key(plat::VK_F2); });
  road.Until("the options menu", [] { return CAppUi::Instance()->IsMenuMode(); });
  road.Wait(500);
}
std::vector<plat::WString> MenuTexts() {
  std::vector<plat::WString> out;
  for (const CAppUi::TMenuCommand& command : CAppUi::Instance()->MenuCommands()) out.push_back(command.text);
  return out;
}
std::vector<plat::WString> UiTexts(const std::vector<int32_t>& ids) {
  std::vector<plat::WString> out;
  for (int32_t id : ids) out.push_back(Ui(id));
  return out;
}
// The results' options menu, and the settings screen's title, texts and
// update button, as UI ids.
const std::vector<int32_t> kResultsMenu = {20, 22, 25, 26, 46, 29, 30, 31};
const std::vector<int32_t> kSettingsTexts = {45, 14, 46, 210};
std::vector<plat::WString> SettingsTexts() {
  auto* pView = dynamic_cast<CSettingsView*>(CAppUi::Instance()->ActiveView());
  if (!pView) return {};
  return {pView->Bar().pCaption->Text(), pView->UpdateText()->Text(), pView->UpdateButton().pCaption->Text(),
          pView->LanguageText()->Text()};
}
// The orientation the recorder screen chose for its own nodes.
uint32_t RecorderKey0() {
  CRecorderView* pView = CRecorderView::Current();
  return pView ? SelectedKey(pView->LayoutNode(), 75, 0) : static_cast<uint32_t>(-1);
}

// The preview store's file name for a track or recording id, and the files
// of a device folder.
std::string CacheName(const PreviewStore& store, int32_t nKind, const plat::WString& id) {
  TrackRecord track;
  track.m_nKind = nKind;
  (nKind == TrackKindFull ? track.m_recordingId : track.m_trackId) = id;
  plat::WString name;
  if (!store.CacheFileName(track, name)) return "?";
  return plat::ToUtf8(name.substr(name.rfind(u'\\') + 1));
}
std::vector<std::string> FolderFiles(const plat::WString& folder) {
  std::vector<std::string> out;
  plat::FindData entry;
  plat::Handle hFind = plat::FindFirstFile(folder + u"\\*", &entry);
  if (hFind == plat::INVALID_HANDLE_VALUE) return out;
  do {
    if ((entry.attributes & plat::FILE_ATTRIBUTE_DIRECTORY) == 0) out.push_back(plat::ToUtf8(entry.name));
  } while (plat::FindNextFile(hFind, &entry));
  plat::FindClose(hFind);
  return out;
}

// The server's log: targets of one route, the media files downloaded, and
// how often each of some routes was asked.
std::vector<std::string> Targets(const Road& road, const std::string& route) {
  std::vector<std::string> out;
  for (const std::string& entry : road.Requests(route)) out.push_back(Field(entry, "target"));
  return out;
}
std::vector<std::string> Downloads(const Road& road) {
  std::vector<std::string> out;
  for (const std::string& target : Targets(road, "preview")) out.push_back(target.substr(target.rfind('/') + 1));
  return out;
}
const std::vector<std::string> kPageRoutes = {"videos", "getTrackBuyLinks", "getTrackLyricsLink",
                                              "getUserInformation", "getUserRecordings", "getUserPlaylist"};
std::vector<size_t> RouteCounts(Road& road, const std::vector<std::string>& routes) {
  const std::vector<std::string> log = road.Server().Log();
  std::vector<size_t> out;
  for (const std::string& route : routes) out.push_back(e2e::Entries(log, route).size());
  return out;
}

size_t SpeakerBytes(Road& road) {
  size_t n = 0;
  for (const plat::SpeakerStream& stream : road.Device().Speaker()) n += stream.pcm.size();
  return n;
}
// The user model's current track is in the preview store.
bool Cached() {
  plat::WString name;
  return CQuorelAppUi::PreviewStore()->IsCached(AppSettings::GetUserModel()->CurrentTrack(), name);
}
// Counts an event's deliveries while subscribed (inside the program's run).
template <class E>
class Loaded : public CEventListenerFor<E> {
 public:
  int n = 0;

 protected:
  void HandleEvent(const typename E::TPayload&) override { ++n; }
};

CEditBar* BarOf(CView* pView) {
  if (auto* p = dynamic_cast<CTrackPageView*>(pView)) return &p->Bar();
  if (auto* p = dynamic_cast<CRecordListView*>(pView)) return &p->Bar();
  return nullptr;
}

// A tap on a control of the active page's scroll panel; when the control
// lies outside the panel, a finger first drags the content until it shows.
void TapScrolled(Road& road, std::function<CControl*()> control) {
  auto drag = std::make_shared<std::pair<POINT, POINT>>();
  road.Then([control, drag] {
    const RECT view = Active<CTrackPageView>()->ScrollPanel()->ScreenRect();
    const RECT rc = control()->ScreenRect();
    const int32_t x = (view.left + view.right) / 2;
    const int32_t margin = (view.bottom - view.top) / 8;
    const int32_t mid = (rc.top + rc.bottom) / 2;
    int32_t d = 0;
    if (mid > view.bottom - margin) d = std::max(mid - (view.bottom - margin), margin);
    if (mid < view.top + margin) d = -std::max(view.top + margin - mid, margin);
    const int32_t from = d > 0 ? view.bottom - margin / 2 : view.top + margin / 2;
    *drag = {POINT{x, from}, POINT{x, from - d}};
  });
  for (int step = 0; step <= 4; ++step) {
    road.Then([&road, drag, step] {
      const auto [from, to] = *drag;
      if (from.y == to.y) return;
      const int32_t y = from.y + (to.y - from.y) * step / 4;
      if (step == 0) road.Device().Down(from.x, y);
      else if (step < 4) road.Device().Move(from.x, y);
      else road.Device().Up(to.x, to.y);
    });
    road.Wait(30);
  }
  road.Wait(300);
  road.Then([&road, control] { road.TapOn(control()); });
}

TEST(MainRoad, StartRecordStopResults) {
  Road road(e2e::TestRoadConfig());
  ASSERT_TRUE(road.Ready()) << road.Error();
  Loaded<BuyLinksLoadedEvent> buyLoaded;
  Loaded<LyricsLinkLoadedEvent> lyricsLoaded;

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
    EXPECT_EQ(pView->Part().pIcon->ImageId(), 245);
    // Sing is the current mode (skin A), Grab the other (skin B).
    EXPECT_EQ(ModeLook(pView->ModeButton(0)), (ModeLookT{171, 171, 171, 157}));
    EXPECT_EQ(ModeLook(pView->ModeButton(1)), (ModeLookT{162, 180, 162, 155}));
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
    // The microphone was opened as the recorder asks, 8000 Hz 16-bit mono:
    // it hands over the file's own samples unconverted, 16000 bytes a second.
    const auto log = road.Device().MicrophoneLog();
    ASSERT_GE(log.size(), 2u);
    uint64_t bytes = 0;
    for (size_t i = 1; i < log.size(); ++i) bytes += log[i].bytes;
    const double seconds = static_cast<double>(log.back().time - log.front().time) / 1e9;
    EXPECT_NEAR(static_cast<double>(bytes) / seconds, 16000, 400);
    const auto wav = plat::ReadWavFile(road.Microphone());
    const std::vector<uint8_t> delivered = road.Device().MicrophoneDelivered();
    ASSERT_TRUE(wav && delivered.size() >= 16000u && wav->pcm.size() >= delivered.size());
    EXPECT_TRUE(std::equal(delivered.begin(), delivered.end(), wav->pcm.begin()));
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
    EXPECT_EQ(Field(upload, "valid"), "true") << upload;
    EXPECT_EQ(Field(upload, "framing"), "chunked") << upload;
    const double seconds = std::stod(Field(upload, "duration_s"));
    EXPECT_GT(seconds, 5.4);
    EXPECT_LT(seconds, 7.0);
    EXPECT_NEAR(std::stod(Field(upload, "frequency_hz")), 262, 8);
  });
  road.Wait(300);
  road.Then([&] {
    auto* pView = Active<CResultListView>();
    ASSERT_NE(pView, nullptr);
    EXPECT_EQ(pView->Bar().pCaption->Text(), Ui(219));
    EXPECT_EQ(pView->Bar().pButton->Caption()->Text(), Ui(10));
    EXPECT_TRUE(pView->Bar().pButton->IsVisible());
    CRecordListPanel* pPanel = pView->Panel();
    ASSERT_EQ(pPanel->RowCount(), 3u);
    EXPECT_EQ(pPanel->SelectedRow(), 0);
    EXPECT_TRUE(pPanel->Row(0).pButton->IsFocused());
    EXPECT_EQ(pPanel->PlayingRow(), -1);
    for (size_t i = 0; i < pPanel->RowCount(); ++i) EXPECT_EQ(ListImages(pPanel->Row(i)), kListIdle) << "row " << i;
    EXPECT_EQ(CSearchingView::Current(), nullptr) << "the wait panel is gone";
    ExpectSoftKeys({}, Ui(15));
    ExpectMenuItem(0, true, true, 20);
    ExpectMenuItem(1, true, true);
    ExpectMenuItem(5, true, true);
    ExpectMenuItem(7, false, true);
    // The ranked catalogue: the track nearest the tone first.
    EXPECT_EQ(AppSettings::GetResultModel()->TrackName(0), u"Café Nights & Days");
    EXPECT_TRUE(road.Device().Speaker().empty());
    // Play row 0's preview.
    road.TapOn(pPanel->Row(0).pPlay);
  });
  road.Until("the preview plays", [] {
    auto* pView = Active<CResultListView>();
    return pView && pView->Panel()->PlayingRow() == 0 && plat::CurrentPowerRecord().audioHeld > 0;
  });
  auto barAt = std::make_shared<int32_t>(0);
  road.Wait(500);
  road.Then([&, barAt] {
    const CRecordListItem& row = Active<CResultListView>()->Panel()->Row(0);
    EXPECT_EQ(ListImages(row), kListPlaying);
    EXPECT_TRUE(row.pBar->IsVisible());
    EXPECT_EQ(MenuItem(0)->LabelId(), 21);
    EXPECT_EQ(plat::CurrentPowerRecord().audioHeld, 1);
    *barAt = row.pBar->ThumbExtent();
  });
  road.Until("the bar advances", [barAt] {
    auto* pView = Active<CResultListView>();
    return pView && pView->Panel()->Row(0).pBar->ThumbExtent() > *barAt;
  }, 3000);
  road.Until("the preview ended", [] {
    auto* pView = Active<CResultListView>();
    return pView && pView->Panel()->PlayingRow() == -1;
  }, 30000);
  road.Wait(200);
  road.Then([&] {
    EXPECT_EQ(Downloads(road), std::vector<std::string>{"preview-t1.mp3"});
    const auto speaker = road.Device().Speaker();
    ASSERT_FALSE(speaker.empty());
    EXPECT_EQ(speaker[0].format.nSamplesPerSec, 44100u);
    EXPECT_EQ(speaker[0].format.nChannels, 1u);
    EXPECT_EQ(plat::CurrentPowerRecord().audioHeld, 0);
    const CRecordListItem& row = Active<CResultListView>()->Panel()->Row(0);
    EXPECT_EQ(ListImages(row), kListIdle);
    EXPECT_FALSE(row.pBar->IsVisible());
    EXPECT_EQ(MenuItem(0)->LabelId(), 20);
    EXPECT_TRUE(Cached());
  });

  // 5. The user page of row 0: the track and the user who sang it.
  road.Then([&] { road.TapOn(Active<CResultListView>()->Panel()->Row(0).pButton); });
  road.Until("the user page", [&] { return road.ActiveView() == 13; });
  road.Until("the user page filled", [&] {
    auto* pView = Active<CUserPageView>();
    const std::vector<size_t> counts = RouteCounts(road, kPageRoutes);
    return pView && Lit(pView->VideoRow()) && Lit(pView->BuyRow()) && Lit(pView->LyricsRow()) &&
           pView->RecordingsButton()->Caption()->Text() != Ui(71) &&
           std::count(counts.begin(), counts.end(), 0) == 0 && Targets(road, "image").size() >= 2;
  });
  road.Then([&] {
    EXPECT_EQ(road.History(), (std::vector<int32_t>{2, 4}));
    auto* pView = Active<CUserPageView>();
    ASSERT_NE(pView, nullptr);
    EXPECT_EQ(pView->Bar().pCaption->Text(), u"Café Nights & Days");
    EXPECT_TRUE(pView->PreviewRow().pButton->IsFocused());
    EXPECT_EQ(pView->MatchedRow().pCaption->Text(), u"anna");
    ExpectSoftKeys({}, Ui(15));
    ExpectMenuItem(0, true, true, 20);
    ExpectMenuItem(5, true, true);
    EXPECT_EQ(RouteCounts(road, kPageRoutes), (std::vector<size_t>{1, 1, 1, 1, 1, 1}));
    std::string images;
    for (const std::string& target : Targets(road, "image")) images += target + " ";
    EXPECT_NE(images.find("al1.png"), std::string::npos) << images;
    EXPECT_NE(images.find("anna.png"), std::string::npos) << images;
    EXPECT_EQ(SelectedKey(pView->Content(), 142, 14), 1u);
    EXPECT_EQ(pView->RecordingsButton()->Caption()->Text(), Ui(71) + u"(3)");
    EXPECT_FALSE(pView->RecordingsButton()->IsEnabled()) << "details are off";
    EXPECT_TRUE(plat::Launches().empty());
  });
  TapScrolled(road, [] { return Active<CUserPageView>()->LyricsRow().pButton; });
  road.Wait(200);
  road.Then([&] {
    const auto launches = plat::Launches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(plat::ToUtf8(launches[0].file), road.Server().Base() + "/page/lyrics-t1");
  });

  // 6. Details on: the user's part, and her full recording plays.
  TapScrolled(road, [] { return Active<CUserPageView>()->SwitchRow().pButton; });
  road.Until("her full recording plays", [] { return CQuorelAppUi::GetPreviewState() == 2; });
  road.Until("its download answered", [&] { return Downloads(road).size() == 2; });
  road.Wait(300);
  road.Then([&] {
    auto* pView = Active<CUserPageView>();
    ASSERT_NE(pView, nullptr);
    EXPECT_TRUE(*AppSettings::ShowDetails());
    EXPECT_EQ(Key9(pView->Content()), 7u);
    EXPECT_EQ(RowImages(pView->SwitchRow()), (Images{277, 278, 277}));
    EXPECT_TRUE(pView->RecordingsButton()->IsEnabled());
    EXPECT_TRUE(pView->PlaylistButton()->IsEnabled());
    EXPECT_EQ(Downloads(road), (std::vector<std::string>{"preview-t1.mp3", "full-r1.mp3"}));
    EXPECT_EQ(pView->ActiveRow(), CUserPageView::ERowFull);
    EXPECT_EQ(RowImages(pView->FullRow()), kRowPlaying);
    EXPECT_EQ(MenuItem(0)->LabelId(), 21);
    // The slide opens: the page is laid out again across.
    road.Device().SetSlide(true);
  });
  road.Wait(500);
  road.Then([&] {
    EXPECT_EQ(road.ActiveView(), 13);
    auto* pView = Active<CUserPageView>();
    ASSERT_NE(pView, nullptr);
    const RECT rc = pView->ScreenRect();
    EXPECT_GT(rc.right - rc.left, rc.bottom - rc.top) << "landscape";
    EXPECT_TRUE(Lit(pView->BuyRow()));
    EXPECT_EQ(SelectedKey(pView->Content(), 142, 14), 1u);
    EXPECT_EQ(Key9(pView->Content()), 7u);
    EXPECT_GT(pView->Content()->FindNode(149, -1)->GetHeight(), 0);
    EXPECT_EQ(CQuorelAppUi::GetPreviewState(), 2);
    EXPECT_EQ(pView->ActiveRow(), CUserPageView::ERowFull);
    road.Device().SetSlide(false);
  });
  road.Wait(500);
  road.Then([&] {
    const RECT rc = Active<CUserPageView>()->ScreenRect();
    EXPECT_LT(rc.right - rc.left, rc.bottom - rc.top) << "portrait";
    EXPECT_EQ(CQuorelAppUi::GetPreviewState(), 2);
  });

  // 7. Her recordings.
  TapScrolled(road, []() -> CControl* { return Active<CUserPageView>()->RecordingsButton(); });
  road.Until("her recordings", [&] { return road.ActiveView() == 10; });
  road.Wait(300);
  road.Then([&] {
    EXPECT_EQ(CQuorelAppUi::GetPreviewState(), 0) << "leaving for the list stops the preview";
    EXPECT_EQ(road.History(), (std::vector<int32_t>{2, 4, 13}));
    auto* pView = Active<CUserListView>();
    ASSERT_NE(pView, nullptr);
    EXPECT_EQ(pView->Panel()->RowCount(), 3u);
    EXPECT_EQ(pView->Bar().pCaption->Text(), u"anna's recordings (3)");
    ExpectSoftKeys({}, {});
    ExpectMenuItem(0, false, true);
    // 8. The second of them: "Less < More", which has no links at all.
    buyLoaded.Subscribe();
    lyricsLoaded.Subscribe();
    road.TapOn(pView->Panel()->Row(1).pButton);
  });
  road.Until("the track details", [&] { return road.ActiveView() == 14; });
  road.Until("its links answered", [&] { return buyLoaded.n > 0 && lyricsLoaded.n > 0; });
  auto launched = std::make_shared<size_t>(0);
  road.Then([&, launched] {
    buyLoaded.Unsubscribe();
    lyricsLoaded.Unsubscribe();
    EXPECT_EQ(RouteCounts(road, {"getTrackBuyLinks", "getTrackLyricsLink"}), (std::vector<size_t>{2, 2}));
    auto* pView = Active<CTrackDetailsView>();
    ASSERT_NE(pView, nullptr);
    EXPECT_EQ(road.History(), (std::vector<int32_t>{2, 4, 13, 10}));
    EXPECT_EQ(pView->Bar().pCaption->Text(), u"anna");
    EXPECT_EQ(pView->TrackName()->Text(), u"Less < More");
    EXPECT_TRUE(pView->PlayRow().pButton->IsFocused());
    EXPECT_EQ(road.Requests("videos").size(), 1u) << "no video link, nothing asked";
    for (CDetailsLinkRow* pRow : {&pView->VideoRow(), &pView->BuyRow(), &pView->LyricsRow()}) EXPECT_TRUE(Dim(*pRow));
    EXPECT_EQ(SelectedKey(pView->Content(), 142, 14), 0u);
    ExpectSoftKeys({}, Ui(15));
    ExpectMenuItem(0, true, true, 20);
    *launched = plat::Launches().size();
  });
  TapScrolled(road, [] { return Active<CTrackDetailsView>()->VideoRow().pButton; });
  road.Wait(200);
  road.Then([&, launched] {
    EXPECT_EQ(plat::Launches().size(), *launched) << "a dim row opens nothing";
    // 9. Play her recording of it. The server holds its answer back for
    // three seconds of real time, as a loaded machine may starve it; virtual
    // time must not race through the program's time-out meanwhile.
    road.Server().Control("/_ctl/inject?route=preview&fault=delay&arg=3000");
    road.TapOn(Active<CTrackDetailsView>()->PlayRow().pButton);
  });
  road.Until("the recording plays", [] { return CQuorelAppUi::GetPreviewState() == 2; });
  road.Until("its download answered", [&] { return Downloads(road).size() == 3; });
  road.Wait(300);
  road.Then([&] {
    auto* pView = Active<CTrackDetailsView>();
    EXPECT_EQ(Downloads(road).back(), "full-ua2.mp3");
    EXPECT_EQ(RowImages(pView->PlayRow()), kRowPlaying);
    EXPECT_TRUE(pView->PlayRow().pBar->IsVisible());
    EXPECT_EQ(plat::CurrentPowerRecord().audioHeld, 1);
    // Pause through the options menu, as the toolkit chooses an item.
    road.Device().Key(plat::VK_F2);
  });
  road.Until("the options menu", [] { return CAppUi::Instance()->IsMenuMode(); });
  road.Then([&] {
    EXPECT_FALSE(CQuorelAppUi::App()->IsLeftSoftKeyEnabled());
    EXPECT_TRUE(CQuorelAppUi::App()->IsRightSoftKeyEnabled());
    const int32_t n = MenuPosition(Ui(21));
    ASSERT_GE(n, 0) << "no \"Pause preview\" in the menu";
    plat::PostMessage(CAppUi::Instance()->Window(), WM_QUOREL_MENU_RUN, 0, n + 1);
  });
  auto pcmAt = std::make_shared<size_t>(0);
  road.Until("paused", [] { return CQuorelAppUi::GetPreviewState() == 3; });
  road.Wait(300);
  road.Then([&, pcmAt] {
    EXPECT_FALSE(CAppUi::Instance()->IsMenuMode());
    EXPECT_EQ(RowImages(Active<CTrackDetailsView>()->PlayRow()), kRowIdle);
    *pcmAt = SpeakerBytes(road);
  });
  road.Wait(1000);
  road.Then([&, pcmAt] {
    EXPECT_EQ(SpeakerBytes(road), *pcmAt) << "no sound while paused";
    // Resume with the row.
    road.TapOn(Active<CTrackDetailsView>()->PlayRow().pButton);
  });
  road.Until("playing again", [] { return CQuorelAppUi::GetPreviewState() == 2; });
  road.Wait(300);
  road.Then([&, pcmAt] {
    EXPECT_GT(SpeakerBytes(road), *pcmAt);
    EXPECT_EQ(RowImages(Active<CTrackDetailsView>()->PlayRow()), kRowPlaying);
  });
  road.Until("the recording ended", [] { return CQuorelAppUi::GetPreviewState() == 0; }, 30000);
  road.Wait(200);
  road.Then([&] {
    auto* pView = Active<CTrackDetailsView>();
    EXPECT_EQ(Downloads(road).size(), 3u) << "resuming fetched nothing";
    EXPECT_EQ(RowImages(pView->PlayRow()), kRowIdle);
    EXPECT_FALSE(pView->PlayRow().pBar->IsVisible());
    EXPECT_EQ(plat::CurrentPowerRecord().audioHeld, 0);
    EXPECT_EQ(MenuItem(0)->LabelId(), 20);
    EXPECT_TRUE(Cached()) << "her recording is kept";
  });

  // 10. Back three times with the title bar's button; Escape does nothing here.
  struct BackStep {
    int32_t from, to;
  };
  for (const BackStep& back : {BackStep{14, 10}, BackStep{10, 13}, BackStep{13, 4}}) {
    road.Then([&road] { road.Device().Key(plat::VK_ESCAPE); });
    road.Wait(200);
    road.Then([&road, back] {
      EXPECT_EQ(road.ActiveView(), back.from) << "Escape";
      road.TapOn(BarOf(CAppUi::Instance()->ActiveView())->pBack);
    });
    road.Until("back on view " + std::to_string(back.to), [&road, back] { return road.ActiveView() == back.to; });
    road.Wait(300);
    if (back.to == 10) {
      road.Then([] {
        CRecordListPanel* pPanel = Active<CUserListView>()->Panel();
        EXPECT_EQ(pPanel->SelectedRow(), 1);
        EXPECT_TRUE(pPanel->Row(1).pButton->IsFocused());
      });
    } else if (back.to == 13) {
      road.Until("its links again", [&] {
        return RouteCounts(road, {"videos", "getTrackBuyLinks", "getTrackLyricsLink"}) == std::vector<size_t>{2, 3, 3};
      });
      road.Wait(300);
      road.Then([&] {
        auto* pView = Active<CUserPageView>();
        ASSERT_NE(pView, nullptr);
        EXPECT_EQ(road.History(), (std::vector<int32_t>{2, 4}));
        EXPECT_EQ(Key9(pView->Content()), 7u);
        EXPECT_EQ(RouteCounts(road, kPageRoutes), (std::vector<size_t>{2, 3, 3, 1, 1, 1}))
            << "links again, the user's pages kept";
        EXPECT_EQ(CQuorelAppUi::GetPreviewState(), 0) << "no auto-play";
        EXPECT_EQ(Downloads(road).size(), 3u);
      });
    }
  }
  road.Then([&] {
    CRecordListPanel* pPanel = Active<CResultListView>()->Panel();
    EXPECT_EQ(pPanel->SelectedRow(), 0);
    EXPECT_TRUE(pPanel->Row(0).pButton->IsFocused());
    EXPECT_EQ(road.History(), std::vector<int32_t>{2});
    EXPECT_EQ(AppSettings::GetUserModel()->HistoryDepth(), 0u);
    ExpectSoftKeys({}, Ui(15));
  });

  // 11. The options menu on the results, then settings and the language.
  OpenMenu(road);
  road.Then([&] {
    EXPECT_EQ(MenuTexts(), UiTexts(kResultsMenu));
    road.Device().Key(plat::VK_F2);
  });
  road.Until("the menu closed", [] { return !CAppUi::Instance()->IsMenuMode(); });

  // Settings are reached as the harness reaches them: no key or item opens them.
  std::map<int32_t, plat::WString> english;
  road.Then([&] {
    EXPECT_EQ(road.ActiveView(), 4);
    for (int32_t id : kSettingsTexts) english[id] = Ui(id);
    for (int32_t id : kResultsMenu) english[id] = Ui(id);
    CQuorelAppUi::OpenSettings();
  });
  road.Until("the settings screen", [&] { return road.ActiveView() == 5; });
  road.Wait(300);
  road.Then([&] {
    EXPECT_EQ(SettingsTexts(), UiTexts(kSettingsTexts));
    EXPECT_EQ(Active<CSettingsView>()->LanguageButton().pCaption->Text(), u"English");
    road.TapOn(Active<CSettingsView>()->LanguageButton().pButton);
  });
  road.Until("the language screen", [&] { return road.ActiveView() == 21; });
  road.Wait(300);
  road.Then([&] {
    auto* pView = Active<CChoiceListView>();
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
    EXPECT_EQ(SettingsTexts(), UiTexts(kSettingsTexts));
    for (int32_t id : kSettingsTexts) EXPECT_NE(Ui(id), english[id]) << "UI " << id << " is not German";
    EXPECT_EQ(Active<CSettingsView>()->LanguageButton().pCaption->Text(), u"Deutsch");
    road.TapOn(Active<CSettingsView>()->Bar().pBack);
  });
  road.Until("back on the results", [&] { return road.ActiveView() == 4; });
  road.Wait(300);
  road.Then([&] {
    EXPECT_EQ(road.History(), std::vector<int32_t>{2});
    EXPECT_EQ(Active<CResultListView>()->Bar().pCaption->Text(), Ui(219));
    EXPECT_NE(Ui(219), english[219]);
    ExpectSoftKeys({}, Ui(15));
  });
  OpenMenu(road);
  road.Then([&] {
    EXPECT_EQ(MenuTexts(), UiTexts(kResultsMenu));
    for (int32_t id : kResultsMenu) EXPECT_NE(Ui(id), english[id]) << "UI " << id << " is not German";
    // 12. New search, chosen as the toolkit chooses it.
    const int32_t n = MenuPosition(Ui(25));
    ASSERT_GE(n, 0);
    plat::PostMessage(CAppUi::Instance()->Window(), WM_QUOREL_MENU_RUN, 0, n + 1);
  });
  road.Until("the recorder screen", [&] { return road.ActiveView() == 2 && CRecorderView::Current(); });
  road.Wait(300);
  road.Then([&] {
    EXPECT_TRUE(road.History().empty());
    EXPECT_FALSE(CAppUi::Instance()->IsMenuMode());
    EXPECT_EQ(RecorderKey0(), 0u);
    road.Device().SetSlide(true);
  });
  road.Wait(300);
  road.Then([&] {
    EXPECT_TRUE(CRecorderView::Current()->IsLandscape());
    EXPECT_EQ(RecorderKey0(), 1u);
    road.TapOn(CRecorderView::Current()->RecordButton());
  });
  road.Until("recording again", [] { return CRecorderView::Current() && CRecorderView::Current()->IsRecording(); });
  road.Wait(300);
  road.Then([&] {
    EXPECT_FALSE(CRecorderView::Current()->PictureB()->IsVisible());
    road.Device().SetSlide(false);
  });
  road.Wait(300);
  road.Then([&] {
    CRecorderView* pView = CRecorderView::Current();
    EXPECT_FALSE(pView->IsLandscape());
    EXPECT_EQ(RecorderKey0(), 0u);
    EXPECT_TRUE(pView->PictureB()->IsVisible());
    EXPECT_TRUE(pView->IsRecording());
    EXPECT_EQ(plat::CurrentPowerRecord().backlightHeld, 1);
    feedbackFrom = plat::FeedbackEvents().size();
    road.Device().Key(plat::VK_F2);
  });
  road.Until("idle again", [] { return CRecorderView::Current() && !CRecorderView::Current()->IsRecording(); });
  road.Then([&] {
    EXPECT_EQ(road.ActiveView(), 2);
    EXPECT_TRUE(road.Traced("[QUOREL] User cancel recorder"));
    EXPECT_EQ(FeedbackSince(feedbackFrom), (std::vector<std::string>{"button.ivt", "22_Cancel.wav"}));
    EXPECT_EQ(plat::CurrentPowerRecord().backlightHeld, 0);
    EXPECT_EQ(CQuorelAppUi::Recorder(), nullptr);
  });
  road.Until("the cancelled upload in the server's log", [&] { return road.Requests("search-post").size() == 2; });
  // What the store should hold, named by the store itself.
  plat::WString storeFolder;
  std::vector<std::string> kept, partial;
  road.Then([&] {
    const auto uploads = road.Requests("search-post");
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_NE(Field(uploads.back(), "headers").find("LANG=DE"), std::string::npos) << uploads.back();
    const PreviewStore& store = *CQuorelAppUi::PreviewStore();
    storeFolder = store.Directory();
    kept = {CacheName(store, TrackKindPreview, u"t1"), CacheName(store, TrackKindFull, u"ua2")};
    partial = {CacheName(store, TrackKindFull, u"r1")};
  });

  // 13. Exit.
  EXPECT_EQ(road.Run(), 0);
  for (const std::string& miss : road.Misses()) ADD_FAILURE() << "missed: " << miss;
  EXPECT_TRUE(Panics(road).empty()) << Panics(road).front();
  EXPECT_TRUE(road.Device().MessageBoxes().empty());
  // The one link opened is the lyrics row's.
  ASSERT_EQ(plat::Launches().size(), 1u);
  // Every request well formed; the cancelled upload was cut off, not ended
  // as if complete.
  const auto uploads = road.Requests("search-post");
  ASSERT_EQ(uploads.size(), 2u);
  const std::string& cancelled = uploads.back();
  for (const std::string& entry : road.Server().Log()) {
    if (entry != cancelled) {
      EXPECT_EQ(Field(entry, "violations"), "[]") << entry;
    }
  }
  EXPECT_EQ(Field(cancelled, "body_complete"), "false") << cancelled;
  // The store keeps the previews heard to their end, her full recording
  // only if its download completed before it was stopped, and no buffer.
  std::vector<std::string> files = FolderFiles(storeFolder);
  for (const std::string& name : kept) EXPECT_NE(std::find(files.begin(), files.end(), name), files.end()) << name;
  std::erase_if(files, [&](const std::string& name) {
    return std::find(kept.begin(), kept.end(), name) != kept.end() || name == partial[0];
  });
  EXPECT_TRUE(files.empty()) << files.front();

  // A second start follows the phone's language again.
  road.Wait(300);
  EXPECT_EQ(road.Run(), 0);
  EXPECT_EQ(road.AppString(u"app_language"), "EN");
  EXPECT_TRUE(Panics(road).empty()) << Panics(road).front();
}

}  // namespace
