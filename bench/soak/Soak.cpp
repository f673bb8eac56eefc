// The real-clock soak: the built program's own loop on the headless device,
// on the host's clock, against the local protocol test server (a process of
// its own), searching again and again as a person would: record 6 s, stop,
// the results, a preview played for two seconds, the first result's user
// page, the title bar's back arrow to the results and to the recorder. The microphone plays
// its WAV file in real time. The process's figures (memory, descriptors,
// threads, kernel and GDI objects) are taken after the warm-up cycles and
// at the end, and the time of every cycle is kept.
//
//   quorel-soak [--cycles N] [--warm-up N] [--trace]
//
// Exits 1 when a step did not come true in time or the program failed.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/QuorelAppUi.h"
#include "app/RecordListPanel.h"
#include "app/RecorderView.h"
#include "app/ResultListView.h"
#include "app/UserPageView.h"
#include "e2e/Road.h"
#include "platform/audio/HeadlessAudio.h"
#include "protocol/AppSettings.h"
#include "protocol/HTTPUserModel.h"
#include "protocol/PreviewStore.h"
#include "support/ProcessFigures.h"

namespace {

using TClock = std::chrono::steady_clock;

struct TSoakOptions {
  int cycles = 200;
  // Long enough for the program's bounded records (touch feedback) and
  // caches to fill.
  int warmUp = 30;
  bool trace = false;
};

bool ParseArgs(int argc, char** argv, TSoakOptions& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if ((a == "--cycles" || a == "--warm-up") && i + 1 < argc) {
      const int n = std::atoi(argv[++i]);
      if (n <= 0) return false;
      (a == "--cycles" ? o.cycles : o.warmUp) = n;
    } else if (a == "--trace") {
      o.trace = true;
    } else {
      return false;
    }
  }
  o.warmUp = std::min(o.warmUp, o.cycles);
  return true;
}

CResultListView* Results() { return dynamic_cast<CResultListView*>(CAppUi::Instance()->ActiveView()); }

// The back arrow of the title bar, on the two screens that go back here.
CControl* BackArrow() {
  CView* pView = CAppUi::Instance()->ActiveView();
  if (auto* pResults = dynamic_cast<CResultListView*>(pView)) return pResults->Bar().pBack;
  if (auto* pPage = dynamic_cast<CUserPageView*>(pView)) return pPage->Bar().pBack;
  return nullptr;
}

double Ratio(long end, long warm) { return warm > 0 ? static_cast<double>(end) / static_cast<double>(warm) : 0; }

struct TSoak {
  TSoakOptions options;
  std::vector<double> cycleSeconds;
  TClock::time_point cycleStart;
  support::TProcessFigures warm, end;
  int backByHand = 0;  // cycles whose Back keys did not reach the recorder

  // The figures of the program, not of the test device: the device keeps
  // the debug output and every sound it played for the tests to read, so
  // each cycle drops them.
  void DropDeviceRecords(e2e::Road& road) {
    road.Device().ClearDebugLines();
    plat::headless_audio::ClearCaptures();
  }

  void Queue(e2e::Road& road, int cycle) {
    road.Then([this] { cycleStart = TClock::now(); });
    road.Until("the recorder screen", [] {
      return CAppUi::Instance()->GetActiveViewId() == 2 && CRecorderView::Current() && !CQuorelAppUi::Recorder();
    });
    road.Then([&road] { road.TapOn(CRecorderView::Current()->RecordButton()); });
    road.Until("recorded 6 s", [] {
      CSearchRecorder* pRecorder = CQuorelAppUi::Recorder();
      return pRecorder && pRecorder->GetElapsed() >= 600;
    });
    road.Then([&road] {
      if (CRecorderView::Current()) road.TapOn(CRecorderView::Current()->RecordButton());
    });
    road.Until("the results", [&road] { return road.ActiveView() == 4 && Results(); }, 30000);
    road.Wait(300);
    // Each preview downloads afresh, as a new track's would: the copy the
    // last cycle cached is dropped first.
    road.Then([&road] {
      CResultListView* pView = Results();
      if (!pView || pView->Panel()->RowCount() == 0) return;
      if (CQuorelAppUi::PreviewStore()) CQuorelAppUi::PreviewStore()->Discard(AppSettings::GetUserModel()->CurrentTrack());
      road.TapOn(pView->Panel()->Row(0).pPlay);
    });
    road.Until("the preview plays", [] {
      CResultListView* pView = Results();
      return pView && pView->Panel()->PlayingRow() == 0 && CQuorelAppUi::GetPreviewState() == 2;
    });
    road.Wait(2000);
    road.Then([&road] {
      if (CResultListView* pView = Results()) road.TapOn(pView->Panel()->Row(0).pButton);
    });
    road.Until("the user page", [&road] { return road.ActiveView() == 13; });
    road.Wait(1000);
    road.Then([&road] {
      if (CControl* pBack = BackArrow()) road.TapOn(pBack);
    });
    road.Until("back on the results", [&road] { return road.ActiveView() == 4; });
    road.Wait(200);
    road.Then([&road] {
      if (CControl* pBack = BackArrow()) road.TapOn(pBack);
    });
    road.Until("", [&road] { return road.ActiveView() == 2; }, 3000);
    road.Then([this, cycle, &road] {
      if (road.ActiveView() != 2) {
        ++backByHand;
        CQuorelAppUi::GoBackTo(2);
      }
      cycleSeconds.push_back(std::chrono::duration<double>(TClock::now() - cycleStart).count());
      DropDeviceRecords(road);
      const support::TProcessFigures now = support::SampleProcessFigures();
      if (cycle + 1 == options.warmUp) warm = now;
      if (cycle + 1 == options.cycles) end = now;
      if (options.trace || (cycle + 1) % 10 == 0)
        std::printf("cycle %d: %.2f s; %s\n", cycle + 1, cycleSeconds.back(), support::FormatFigures(now).c_str());
      std::fflush(stdout);
    });
  }
};

}  // namespace

int main(int argc, char** argv) {
  TSoak soak;
  if (!ParseArgs(argc, argv, soak.options)) {
    std::fprintf(stderr, "usage: %s [--cycles N] [--warm-up N] [--trace]\n", argv[0]);
    return 2;
  }
  e2e::RoadConfig config;
  config.virtualClock = false;
  config.unpacedAudio = false;
  // The catalogue's own pitch, so every search ends in results.
  config.micHz = 262;
  config.echoDebugOutput = soak.options.trace;
  // The server ends itself after its lifetime: longer than the whole run.
  config.serverOptions.push_back("--lifetime");
  config.serverOptions.push_back(std::to_string(600 + 60 * soak.options.cycles));
  e2e::Road road(config);
  if (!road.Ready()) {
    std::fprintf(stderr, "quorel-soak: %s\n", road.Error().c_str());
    return 1;
  }
  const auto started = TClock::now();
  road.Wait(500);
  for (int cycle = 0; cycle < soak.options.cycles; ++cycle) soak.Queue(road, cycle);
  const int code = road.Run();
  const double total = std::chrono::duration<double>(TClock::now() - started).count();

  std::vector<double> sorted = soak.cycleSeconds;
  std::sort(sorted.begin(), sorted.end());
  const double median = sorted.empty() ? 0 : sorted[sorted.size() / 2];
  const double longest = sorted.empty() ? 0 : sorted.back();
  std::printf("%zu cycles of %d in %.0f s; per cycle: median %.2f s, longest %.2f s\n", soak.cycleSeconds.size(),
              soak.options.cycles, total, median, longest);
  std::printf("after %d warm-up cycles: %s\n", soak.options.warmUp, support::FormatFigures(soak.warm).c_str());
  std::printf("at the end:              %s\n", support::FormatFigures(soak.end).c_str());
  std::printf("end / warm-up: RSS x%.3f, heap live x%.3f, fds %+d, threads %+d, handles %+ld, GDI objects %+ld\n",
              Ratio(soak.end.rssKb, soak.warm.rssKb), Ratio(soak.end.heapLiveKb, soak.warm.heapLiveKb),
              soak.end.fds - soak.warm.fds, soak.end.threads - soak.warm.threads, soak.end.handles - soak.warm.handles,
              soak.end.gdiObjects - soak.warm.gdiObjects);
  if (soak.backByHand) std::printf("%d cycles needed the recorder screen brought back by hand\n", soak.backByHand);
  for (const std::string& miss : road.Misses()) std::printf("missed: %s\n", miss.c_str());
  if (code != 0) std::printf("the program ended with %d\n", code);
  return code == 0 && road.Misses().empty() ? 0 : 1;
}
