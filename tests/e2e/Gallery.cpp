// quorel-gallery OUT: a picture of every screen for review. Starts the
// program on the roads' fixtures once per theme and orientation, walks it
// through the listed states in order, and writes
// OUT/<theme>/<orientation>/v<id>-<state>.png and OUT/README.md (one linked
// table). Exit code 1 when a picture is blank (one colour over the
// view area), the program panicked or a message box came up.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/QuorelAppUi.h"
#include "app/RecorderView.h"
#include "app/RecordListPanel.h"
#include "app/ResultListView.h"
#include "app/TrackDetailsView.h"
#include "app/UserInfoView.h"
#include "app/UserPageView.h"
#include "app/QuorelModalDialogs.h"
#include "protocol/AppSettings.h"
#include "e2e/Road.h"
#include "framework/CtlScrollPanel.h"
#include "platform/display/Display.h"

namespace {

using e2e::Road;

struct GalleryState {
  int32_t view;
  const char* state;
  bool everyTheme;  // theme 1 pictures one state per view
  // Queues the steps that bring the program from the previous state here.
  void (*drive)(Road& road, int32_t view);
  // Queues the steps that leave the state once it is pictured.
  void (*leave)(Road& road) = nullptr;
};

template <class T>
T* Active() {
  return dynamic_cast<T*>(CAppUi::Instance()->ActiveView());
}

void PickMode(Road& road, int32_t nMode) {
  road.Then([&road, nMode] {
    if (CRecorderView::Current()) road.TapOn(CRecorderView::Current()->ModeButton(nMode));
  });
  road.Wait(600);
}

void IdleGrab(Road& road, int32_t) { PickMode(road, 1); }

void TapRecord(Road& road) {
  road.Then([&road] {
    if (CRecorderView::Current()) road.TapOn(CRecorderView::Current()->RecordButton());
  });
}

// Two seconds into a Sing recording.
void Recording(Road& road, int32_t) {
  PickMode(road, 0);
  TapRecord(road);
  road.Wait(2000);
}

// The right soft key cancels the recording.
void CancelRecording(Road& road) {
  road.Then([&road] { road.Device().Key(plat::VK_F2); });
  road.Wait(600);
}

void Show(Road& road, int32_t view) {
  road.Then([view] { CAppUi::Instance()->ActivateView(view); });
  road.Wait(600);
}

void Start(Road& road, int32_t) { road.Wait(600); }

void OpenSettings(Road& road, int32_t) {
  road.Then([] { CQuorelAppUi::OpenSettings(); });
  road.Wait(600);
}

// One fault of the server's for the next request of that route.
void Inject(Road& road, const std::string& route, const std::string& fault) {
  road.Then([&road, route, fault] { road.Server().Control("/_ctl/inject?route=" + route + "&fault=" + fault); });
}

// A search in that mode stopped at 5.5 s: pictured while the server works
// on it.
void SearchInMode(Road& road, int32_t nMode) {
  PickMode(road, nMode);
  TapRecord(road);
  road.Until("5.5 s recorded", [] {
    CSearchRecorder* pRecorder = CQuorelAppUi::Recorder();
    return pRecorder && pRecorder->GetElapsed() >= 550;
  });
  TapRecord(road);
  road.Until("the searching screen", [&road] { return road.ActiveView() == 12; });
}

void Searching(Road& road, int32_t) { SearchInMode(road, 0); }

void Results(Road& road, int32_t) {
  road.Until("the results", [&road] { return road.ActiveView() == 4; });
  road.Wait(600);
}

// "New search", then a whole search in that mode up to its results.
void SearchAgain(Road& road, int32_t nMode) {
  road.Then([] { CQuorelAppUi::RestartSearch(); });
  road.Until("the recorder", [&road] { return road.ActiveView() == 2 && CRecorderView::Current(); });
  road.Wait(300);
  SearchInMode(road, nMode);
  Results(road, 4);
}

void GrabResults(Road& road, int32_t) { SearchAgain(road, 1); }

// The server finds nothing this time.
void EmptyResults(Road& road, int32_t) {
  Inject(road, "search-post", "empty");
  SearchAgain(road, 0);
}

CRecordListPanel* ListPanel() {
  auto* pView = Active<CRecordListView>();
  return pView ? pView->Panel() : nullptr;
}

// Whether the whole control shows inside the scroll panel that holds it.
bool InSight(CControl* pControl) {
  const RECT rc = pControl->ScreenRect();
  for (CControl* p = pControl->Parent(); p; p = p->Parent())
    if (auto* pScroll = dynamic_cast<CtlScrollPanel*>(p)) {
      const RECT view = pScroll->ScreenRect();
      return rc.top >= view.top && rc.bottom <= view.bottom;
    }
  return true;
}

// The Down key until the control is in sight, as a user reaches what lies
// below the screen's edge.
void BringIntoSight(Road& road, CControl* (*find)()) {
  for (int i = 0; i < 16; ++i) {
    road.Then([&road, find] {
      if (CControl* p = find(); p && !InSight(p)) road.Device().Key(plat::VK_DOWN);
    });
    road.Wait(100);
  }
}

void TapInSight(Road& road, CControl* (*find)()) {
  BringIntoSight(road, find);
  road.Then([&road, find] {
    if (CControl* p = find()) road.TapOn(p);
  });
}

template <size_t kRow>
CControl* ListRow() {
  CRecordListPanel* pPanel = ListPanel();
  return pPanel && pPanel->RowCount() > kRow ? pPanel->Row(kRow).pButton : nullptr;
}

template <CControl* (*kPart)(CUserPageView&)>
CControl* PagePart() {
  auto* pView = Active<CUserPageView>();
  return pView ? kPart(*pView) : nullptr;
}

CControl* SwitchRow(CUserPageView& v) { return v.SwitchRow().pButton; }
CControl* RecordingsButton(CUserPageView& v) { return v.RecordingsButton(); }
CControl* InfoButton(CUserPageView& v) { return v.InfoButton(); }
CControl* FullRow(CUserPageView& v) { return v.FullRow().pButton; }

// The right soft key opens the options menu and closes it again.
void ToggleMenu(Road& road, int32_t) {
  road.Then([&road] { road.Device().Key(plat::VK_F2); });
  road.Wait(600);
}

void CloseMenu(Road& road) { ToggleMenu(road, 0); }

// How long a playing state plays before its picture: long enough for the
// progress bar to have moved.
constexpr uint32_t kPlayedMs = 3000;

// Row 0's preview a few seconds in.
void RowPlaying(Road& road, int32_t) {
  road.Then([&road] {
    if (ListPanel()) road.TapOn(ListPanel()->Row(0).pPlay);
  });
  road.Until("row 0 plays", [] { return ListPanel() && ListPanel()->PlayingRow() == 0 && CQuorelAppUi::GetPreviewState() == 2; });
  road.Wait(kPlayedMs);
}

void StopRow(Road& road) {
  road.Then([&road] {
    if (ListPanel()) road.TapOn(ListPanel()->Row(0).pPlay);
  });
  road.Until("row 0 stopped", [] { return ListPanel() && ListPanel()->PlayingRow() == -1; });
  road.Wait(300);
}

// Row 1's preview is refused by the server: the message over the list.
void PreviewFailed(Road& road, int32_t) {
  Inject(road, "preview", "status&arg=404");
  road.Then([&road] {
    if (ListPanel() && ListPanel()->RowCount() > 1) road.TapOn(ListPanel()->Row(1).pPlay);
  });
  road.Until("message 86", [] { return !CMessageDialog::OpenDialogs().empty(); });
  road.Wait(600);
}

// Its own button closes a message (the soft keys are off under it).
void AnswerMessage(Road& road) {
  road.Then([&road] {
    if (!CMessageDialog::OpenDialogs().empty()) road.TapOn(CMessageDialog::OpenDialogs().back()->RightButton());
  });
  road.Until("the message closed", [] { return CMessageDialog::OpenDialogs().empty(); });
  road.Wait(300);
}

// Row 0 of the results opens its page; the pictures come in.
void UserPage(Road& road, int32_t) {
  road.Then([&road] {
    if (auto* pView = Active<CResultListView>()) road.TapOn(pView->Panel()->Row(0).pButton);
  });
  road.Until("the user page", [&road] { return road.ActiveView() == 13; });
  road.Wait(1000);
}

// Details on: the user's part lights up and the full recording starts.
void DetailsOn(Road& road, int32_t) {
  TapInSight(road, PagePart<SwitchRow>);
  road.Wait(300);
}

void FullRowPlaying(Road& road, int32_t) {
  road.Until("the full row plays", [] {
    auto* pView = Active<CUserPageView>();
    return pView && pView->ActiveRow() == CUserPageView::ERowFull && CQuorelAppUi::GetPreviewState() == 2;
  });
  BringIntoSight(road, PagePart<FullRow>);
  road.Wait(kPlayedMs);
}

void Recordings(Road& road, int32_t) {
  TapInSight(road, PagePart<RecordingsButton>);
  road.Until("the recordings", [&road] { return road.ActiveView() == 10; });
  road.Wait(600);
}

// Row 1 of the recordings: the track details.
void TrackDetails(Road& road, int32_t) {
  TapInSight(road, ListRow<1>);
  road.Until("the track details", [&road] { return road.ActiveView() == 14; });
  road.Wait(1000);
}

void TrackPlaying(Road& road, int32_t) {
  TapInSight(road, [] () -> CControl* {
    auto* pView = Active<CTrackDetailsView>();
    return pView ? pView->PlayRow().pButton : nullptr;
  });
  road.Until("the track plays", [] { return CQuorelAppUi::GetPreviewState() == 2; });
  road.Wait(kPlayedMs);
}

void TrackPaused(Road& road, int32_t) {
  road.Then([] { CQuorelAppUi::PausePreview(); });
  road.Wait(300);
}

void StopPreview(Road& road) {
  road.Then([] { CQuorelAppUi::StopPreview(); });
  road.Wait(300);
}

// The title bar's back button.
void Back(Road& road) {
  road.Then([&road] {
    CView* pView = CAppUi::Instance()->ActiveView();
    if (auto* pPage = dynamic_cast<CTrackPageView*>(pView)) road.TapOn(pPage->Bar().pBack);
    else if (auto* pList = dynamic_cast<CRecordListView*>(pView)) road.TapOn(pList->Bar().pBack);
    else if (auto* pInfo = dynamic_cast<CUserInfoView*>(pView)) road.TapOn(pInfo->Bar().pBack);
  });
  road.Wait(600);
}

// From the track details back to the user page.
void BackTwice(Road& road) {
  StopPreview(road);
  Back(road);
  Back(road);
}

void UserInformation(Road& road, int32_t) {
  TapInSight(road, PagePart<InfoButton>);
  road.Until("the user information", [&road] { return road.ActiveView() == 15; });
  road.Wait(1000);
}

// Back on the results, where row 1's singer turns out to keep an empty
// playlist. No way in leads to an empty playlist (its button stays off),
// so the screen is activated.
void EmptyPlaylist(Road& road, int32_t) {
  StopPreview(road);
  Back(road);
  road.Until("the results again", [&road] { return road.ActiveView() == 4 && ListPanel(); });
  Inject(road, "getUserPlaylist", "empty");
  TapInSight(road, ListRow<1>);
  road.Until("the second user's page", [&road] { return road.ActiveView() == 13; });
  road.Until("the second user's playlist", [&road] { return road.Requests("getUserPlaylist").size() >= 2; });
  road.Wait(600);
  road.Then([] {
    CQuorelAppUi::PushHistory(13);
    CAppUi::Instance()->ActivateView(11);
  });
  road.Wait(600);
}

// The server-message screen waiting for a preview, then carrying each kind
// of message.
void WaitingPage(Road& road, int32_t) {
  road.Then([] {
    *AppSettings::MessagePending() = 0;
    CAppUi::Instance()->ActivateView(16);
  });
  road.Wait(600);
}

template <bool kRequired, bool kLink>
void ServerMessage(Road& road, int32_t) {
  road.Then([&road] {
    const std::string link = kLink ? road.Server().Base() + "/page/update" : "";
    CQuorelAppUi::ShowServerMessageView(u"A new version", u"Version 2.0 brings faster searches and a new look.",
                                        kRequired, plat::FromUtf8(link));
  });
  road.Wait(600);
}

// Along the road a new user takes; states whose way in needs a screen that
// does not drive it yet are reached by activating the view. The index lists
// them by screen, in this order within a screen.
const GalleryState kStates[] = {
    {2, "idle-sing", true, Start},
    {2, "idle-grab", false, IdleGrab},
    {2, "recording", false, Recording, CancelRecording},
    {12, "searching", true, Searching},
    {4, "results", true, Results},
    {4, "options-menu", false, ToggleMenu, CloseMenu},
    {4, "row-playing", false, RowPlaying, StopRow},
    {4, "message-86", false, PreviewFailed, AnswerMessage},
    {13, "details-off", true, UserPage},
    {13, "details-on", false, DetailsOn},
    {13, "full-row-playing", false, FullRowPlaying},
    {10, "recordings", true, Recordings},
    {14, "idle", true, TrackDetails},
    {14, "playing", false, TrackPlaying},
    {14, "paused", false, TrackPaused, BackTwice},
    {15, "user-information", true, UserInformation, Back},
    {11, "empty", true, EmptyPlaylist},
    {16, "waiting-page", true, WaitingPage},
    {16, "optional", false, ServerMessage<false, true>},
    {16, "required-with-link", false, ServerMessage<true, true>},
    {16, "required-without-link", false, ServerMessage<true, false>},
    {18, "help", true, Show},
    {19, "credits", true, Show},
    {6, "terms", true, Show},
    {5, "settings", true, OpenSettings},
    {21, "language", true, Show},
    {8, "search-language", true, Show},
    {22, "network", true, Show},
    {4, "after-grab", false, GrabResults},
    {4, "empty", false, EmptyResults},
};

struct Variant {
  int theme;
  bool landscape;
  std::string Folder() const { return "theme" + std::to_string(theme) + "/" + (landscape ? "landscape" : "portrait"); }
};

// More than one colour over the main window (the view area and its frame).
bool HasPicture(Road& road) {
  const plat::FrameBuffer& screen = road.Device().Screen();
  const RECT r = CAppUi::Instance()->GetMainWindowRect();
  const uint16_t first = screen.Pixel(r.left, r.top);
  for (int32_t y = r.top; y < r.bottom; ++y)
    for (int32_t x = r.left; x < r.right; ++x)
      if (screen.Pixel(x, y) != first) return true;
  return false;
}

struct Outcome {
  std::map<std::string, std::string> cells;  // "v<id>-<state>" → picture path or note
  std::vector<std::string> faults;
};

void RunVariant(const Variant& variant, const std::filesystem::path& out, Outcome& outcome) {
  e2e::RoadConfig config;
  config.theme = variant.theme;
  Road road(config);
  if (!road.Ready()) {
    outcome.faults.push_back(variant.Folder() + ": " + road.Error());
    return;
  }
  const std::filesystem::path folder = out / variant.Folder();
  std::filesystem::create_directories(folder);
  if (variant.landscape) {
    road.Then([&] { road.Device().Rotate(90); });
    road.Wait(600);
  }
  std::set<int32_t> pictured;
  for (const GalleryState& s : kStates) {
    // Every variant walks the whole road; theme 1 pictures one state a view.
    s.drive(road, s.view);
    const bool bPicture = variant.theme == 0 || (s.everyTheme && !pictured.count(s.view));
    const std::string name = "v" + std::to_string(s.view) + "-" + s.state;
    if (bPicture) road.Then([&, s, name] {
      if (road.ActiveView() != s.view) {
        outcome.faults.push_back(variant.Folder() + "/" + name + ": view " + std::to_string(road.ActiveView()) +
                                 " is shown instead; the screen held:\n" + road.Describe());
        return;
      }
      if (!HasPicture(road)) outcome.faults.push_back(variant.Folder() + "/" + name + ": blank");
      const std::filesystem::path file = folder / (name + ".png");
      if (!road.Device().SnapshotPng(file)) outcome.faults.push_back("cannot write " + file.string());
      outcome.cells[variant.Folder() + "|" + name] = variant.Folder() + "/" + name + ".png";
    });
    if (s.leave) s.leave(road);
    if (bPicture) pictured.insert(s.view);
  }
  const int code = road.Run();
  if (code != 0) outcome.faults.push_back(variant.Folder() + ": exit code " + std::to_string(code));
  for (const std::string& miss : road.Misses()) outcome.faults.push_back(variant.Folder() + ": " + miss);
  for (const std::string& line : road.DebugLines())
    if (line.find("Runtime Panic") != std::string::npos) outcome.faults.push_back(variant.Folder() + ": " + line);
  for (const auto& box : road.Device().MessageBoxes())
    outcome.faults.push_back(variant.Folder() + ": message box " + plat::ToUtf8(box.text));
}

void WriteIndex(const std::filesystem::path& out, const std::vector<Variant>& variants, const Outcome& outcome) {
  std::ofstream index(out / "README.md");
  index << "# Screen gallery\n\n"
           "Written by `make gallery` (`quorel-gallery`): the program on the headless device against the\n"
           "local protocol test server, 480 x 800 at 192 dpi, theme 0 (\"Linux\") in every listed state and\n"
           "theme 1 (\"QT-M5180\") in one state per screen, both orientations.\n\n| screen |";
  for (const Variant& v : variants) index << " " << v.Folder() << " |";
  index << "\n|---|";
  for (size_t i = 0; i < variants.size(); ++i) index << "---|";
  index << "\n";
  // By screen, in walking order within a screen.
  std::vector<const GalleryState*> rows;
  for (const GalleryState& s : kStates) rows.push_back(&s);
  std::stable_sort(rows.begin(), rows.end(), [](const GalleryState* a, const GalleryState* b) { return a->view < b->view; });
  for (const GalleryState* pState : rows) {
    const GalleryState& s = *pState;
    const std::string name = "v" + std::to_string(s.view) + "-" + s.state;
    index << "| " << name << " |";
    for (const Variant& v : variants) {
      auto it = outcome.cells.find(v.Folder() + "|" + name);
      if (it == outcome.cells.end()) index << " |";
      else index << " [" << name << "](" << it->second << ") |";
    }
    index << "\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quorel-gallery OUT_FOLDER\n");
    return 2;
  }
  const std::filesystem::path out = argv[1];
  std::error_code ignored;
  for (const char* theme : {"theme0", "theme1"}) std::filesystem::remove_all(out / theme, ignored);
  const std::vector<Variant> variants = {{0, false}, {0, true}, {1, false}, {1, true}};
  Outcome outcome;
  for (const Variant& v : variants) RunVariant(v, out, outcome);
  WriteIndex(out, variants, outcome);
  for (const std::string& fault : outcome.faults) std::fprintf(stderr, "quorel-gallery: %s\n", fault.c_str());
  return outcome.faults.empty() ? 0 : 1;
}
