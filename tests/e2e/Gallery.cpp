// quorel-gallery OUT: a picture of every screen for review. Starts the
// program on the roads' fixtures once per theme and orientation, walks it
// through the listed states in order, and writes
// OUT/<theme>/<orientation>/v<id>-<state>.png and OUT/README.md (one linked
// table). Exit code 1 when a picture is blank (one colour over the
// view area), the program panicked or a message box came up.
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
#include "app/UserPageView.h"
#include "e2e/Road.h"
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


void PickMode(Road& road, int32_t nMode) {
  road.Then([&road, nMode] {
    if (CRecorderView::Current()) road.TapOn(CRecorderView::Current()->ModeButton(nMode));
  });
  road.Wait(600);
}

void IdleGrab(Road& road, int32_t) { PickMode(road, 1); }

// Two seconds into a Sing recording.
void Recording(Road& road, int32_t) {
  PickMode(road, 0);
  road.Then([&road] {
    if (CRecorderView::Current()) road.TapOn(CRecorderView::Current()->RecordButton());
  });
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

template <class T>
T* Active() {
  return dynamic_cast<T*>(CAppUi::Instance()->ActiveView());
}

// A Sing search stopped at 5.5 s: pictured while the server works on it.
void Searching(Road& road, int32_t) {
  PickMode(road, 0);
  road.Then([&road] {
    if (CRecorderView::Current()) road.TapOn(CRecorderView::Current()->RecordButton());
  });
  road.Until("5.5 s recorded", [] {
    CSearchRecorder* pRecorder = CQuorelAppUi::Recorder();
    return pRecorder && pRecorder->GetElapsed() >= 550;
  });
  road.Then([&road] {
    if (CRecorderView::Current()) road.TapOn(CRecorderView::Current()->RecordButton());
  });
  road.Until("the searching screen", [&road] { return road.ActiveView() == 12; });
}

void Results(Road& road, int32_t) {
  road.Until("the results", [&road] { return road.ActiveView() == 4; });
  road.Wait(600);
}

// Row 0 of the results opens its page; the pictures come in.
void UserPage(Road& road, int32_t) {
  road.Then([&road] {
    if (auto* pView = Active<CResultListView>()) road.TapOn(pView->Panel()->Row(0).pButton);
  });
  road.Until("the user page", [&road] { return road.ActiveView() == 13; });
  road.Wait(1000);
}

// Along the road a new user takes; states whose way in needs a screen that
// does not drive it yet are reached by activating the view.
const GalleryState kStates[] = {
    {2, "idle-sing", true, Start},
    {2, "idle-grab", false, IdleGrab},
    {2, "recording", false, Recording, CancelRecording},
    {12, "searching", true, Searching},
    {4, "results", true, Results},
    {13, "user-page", true, UserPage},
    {16, "server-message", true, Show},
    {18, "help", true, Show},
    {19, "credits", true, Show},
    {6, "terms", true, Show},
    {5, "settings", true, OpenSettings},
    {21, "language", true, Show},
    {8, "search-language", true, Show},
    {22, "network", true, Show},
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
    if (variant.theme != 0 && (!s.everyTheme || pictured.count(s.view))) continue;
    const std::string name = "v" + std::to_string(s.view) + "-" + s.state;
    s.drive(road, s.view);
    road.Then([&, s, name] {
      if (road.ActiveView() != s.view) {
        outcome.faults.push_back(variant.Folder() + "/" + name + ": view " + std::to_string(road.ActiveView()) +
                                 " is shown instead");
        return;
      }
      if (!HasPicture(road)) outcome.faults.push_back(variant.Folder() + "/" + name + ": blank");
      const std::filesystem::path file = folder / (name + ".png");
      if (!road.Device().SnapshotPng(file)) outcome.faults.push_back("cannot write " + file.string());
      outcome.cells[variant.Folder() + "|" + name] = variant.Folder() + "/" + name + ".png";
    });
    if (s.leave) s.leave(road);
    pictured.insert(s.view);
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
  for (const GalleryState& s : kStates) {
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
