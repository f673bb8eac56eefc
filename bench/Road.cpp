// The product's speed goals on the built program's own loop, headless, on
// the host's clock, against the local protocol test server answering at once
// (the roads' fixtures):
//   - stop to results: from the recorder's capture-finished report after a
//     stop to the first frame presented with the results screen active; the
//     tap-to-paint total and the part after the reply reached the
//     application beside it; anchor: one loopback GET of the same
//     results document through CHTTPRequest, in the same run.
//   - a full repaint of the user page with every row lit (below).
// Five searches per run; the counters give the median and the maximum.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/QuorelAppUi.h"
#include "app/RecorderView.h"
#include "app/RecordListPanel.h"
#include "app/ResultListView.h"
#include "app/UserPageView.h"
#include "bench/HostRoad.h"
#include "bench/MemcpyAnchor.h"
#include "e2e/Road.h"
#include "framework/Events.h"
#include "net/HTTPWrapper.h"
#include "platform/display/Display.h"
#include "protocol/AppSettings.h"
#include "protocol/SearchResults.h"
#include "protocol/UrlBuilder.h"

namespace {

using bench::HostClockRoad;
using bench::Max;
using bench::Median;
using bench::Ms;
using bench::TClock;
using bench::TFrameWatch;

// The first capture-finished report after the stop.
class TCaptureWatch : public CEventListenerFor<RecorderStateEvent> {
 public:
  TCaptureWatch() { Subscribe(); }
  std::optional<TClock::time_point> finished;
  std::optional<TClock::time_point> sent;     // the whole upload handed over
  std::optional<TClock::time_point> replied;  // the reply handed to the application

 protected:
  void HandleEvent(const int32_t& state) override {
    if (state == 1 && !finished) finished = TClock::now();
    if (state == 3 && !sent) sent = TClock::now();
    if (state == 4 && !replied) replied = TClock::now();
  }
};

// One GET through the application's session, timed from Start to its end.
struct TAnchorGet {
  CHTTPRequest request;
  TClock::time_point started;
  std::optional<TClock::time_point> ended;
  void OnStatus() {
    if (request.LastStatus() >= EHttpComplete && !ended) ended = TClock::now();
  }
};

void BM_StopToResultsPainted(benchmark::State& state) {
  constexpr int kRuns = 5;
  for (auto _ : state) {
    std::unique_ptr<e2e::Road> pRoad = HostClockRoad(state, getenv("QUOREL_BENCH_TRACE") != nullptr);
    if (!pRoad) return;
    e2e::Road& road = *pRoad;
    auto watch = std::make_shared<TFrameWatch>();
    plat::InstallDisplayBackend(watch);
    std::vector<double> stopToPaint, tapToPaint, replyToPaint, sentToReply, anchor;
    auto capture = std::make_shared<std::unique_ptr<TCaptureWatch>>();
    auto tapped = std::make_shared<TClock::time_point>();
    auto get = std::make_shared<std::unique_ptr<TAnchorGet>>();
    road.Wait(300);
    for (int run = 0; run < kRuns; ++run) {
      // Each search from the record button on the recorder screen.
      road.Then([] {
        if (CAppUi::Instance()->GetActiveViewId() != 2) CAppUi::Instance()->ActivateView(2);
      });
      road.Until("the recorder screen", [] {
        return CAppUi::Instance()->GetActiveViewId() == 2 && CRecorderView::Current();
      });
      road.Then([&road] {
        road.TapOn(CRecorderView::Current()->RecordButton());
      });
      road.Until("recorded 5.5 s", [] {
        CSearchRecorder* pRecorder = CQuorelAppUi::Recorder();
        return pRecorder && pRecorder->GetElapsed() >= 550;
      });
      road.Then([=, &road] {
        *capture = std::make_unique<TCaptureWatch>();
        watch->Arm(4);
        *tapped = TClock::now();
        if (!CRecorderView::Current()) return;
        road.TapOn(CRecorderView::Current()->RecordButton());
      });
      road.Until("results painted", [=] { return watch->Painted().has_value(); });
      road.Then([=, &road, &stopToPaint, &tapToPaint, &replyToPaint, &sentToReply] {
        if ((*capture)->finished && watch->Painted()) {
          stopToPaint.push_back(Ms(*(*capture)->finished, *watch->Painted()));
          tapToPaint.push_back(Ms(*tapped, *watch->Painted()));
          if ((*capture)->replied) replyToPaint.push_back(Ms(*(*capture)->replied, *watch->Painted()));
          if ((*capture)->sent && (*capture)->replied) sentToReply.push_back(Ms(*(*capture)->sent, *(*capture)->replied));
        }
        capture->reset();
        watch->Arm(-1);
        // The anchor: the same results document, fetched again.
        *get = std::make_unique<TAnchorGet>();
        TAnchorGet* pGet = get->get();
        plat::WString url = CUrlBuilder(plat::FromUtf8(road.Server().Base()), u"search", UrlModeV2)
                                .AddParam(u"search_id", AppSettings::GetResultModel()->SearchId())
                                .GetUrl();
        pGet->request.Open(CQuorelAppUi::HTTPSession(), EHttpGet, url);
        pGet->request.SetCallback(CDelegate::Member<&TAnchorGet::OnStatus>(pGet));
        pGet->started = TClock::now();
        pGet->request.Start();
      });
      road.Until("the anchor GET ended", [=] { return (*get)->ended.has_value(); });
      road.Then([=, &anchor] {
        anchor.push_back(Ms((*get)->started, *(*get)->ended));
        get->reset();
      });
    }
    const int code = road.Run();
    if (code != 0) state.SkipWithError("the program failed");
    for (const std::string& miss : road.Misses()) state.SkipWithError(miss.c_str());
    state.SetIterationTime(Median(stopToPaint) / 1000.0);
    state.counters["stop_to_paint_median_ms"] = Median(stopToPaint);
    state.counters["stop_to_paint_max_ms"] = Max(stopToPaint);
    state.counters["tap_to_paint_median_ms"] = Median(tapToPaint);
    state.counters["tap_to_paint_max_ms"] = Max(tapToPaint);
    state.counters["reply_to_paint_median_ms"] = Median(replyToPaint);
    state.counters["sent_to_reply_median_ms"] = Median(sentToReply);
    state.counters["anchor_get_median_ms"] = Median(anchor);
    state.counters["x_anchor"] = Median(stopToPaint) / Median(anchor);
    state.counters["runs"] = static_cast<double>(stopToPaint.size());
  }
}
BENCHMARK(BM_StopToResultsPainted)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// A full repaint of the user page at 480 x 800 with the details on and
// every link row lit (t1 has videos, buy links and lyrics), reached by a
// real search; anchor: a memcpy of one 480 x 800 frame. Five runs of 50
// repaints; the counters give the median and the maximum of the runs' means.
void BM_UserPageFullRepaint(benchmark::State& state) {
  constexpr int kRuns = 5, kRepaints = 50;
  for (auto _ : state) {
    std::unique_ptr<e2e::Road> pRoad = HostClockRoad(state);
    if (!pRoad) return;
    e2e::Road& road = *pRoad;
    std::vector<double> runs;
    std::string unlit;
    double screens = 0;
    road.Wait(300);
    road.Then([&road] { road.TapOn(CRecorderView::Current()->RecordButton()); });
    road.Until("recorded 5.5 s", [] {
      CSearchRecorder* pRecorder = CQuorelAppUi::Recorder();
      return pRecorder && pRecorder->GetElapsed() >= 550;
    });
    road.Then([&road] { road.TapOn(CRecorderView::Current()->RecordButton()); });
    road.Until("the results", [&road] { return road.ActiveView() == 4; });
    road.Wait(300);
    road.Then([&road] {
      if (auto* pView = dynamic_cast<CResultListView*>(CAppUi::Instance()->ActiveView()))
        road.TapOn(pView->Panel()->Row(0).pButton);
    });
    road.Until("the user page", [&road] { return road.ActiveView() == 13; });
    road.Wait(1500);
    road.Then([&road] {
      if (auto* pView = dynamic_cast<CUserPageView*>(CAppUi::Instance()->ActiveView()))
        road.TapOn(pView->SwitchRow().pButton);
    });
    road.Wait(1500);
    road.Then([&] {
      // What is measured must be the page the goal names.
      auto* pView = dynamic_cast<CUserPageView*>(CAppUi::Instance()->ActiveView());
      if (!pView) {
        unlit = "the user page is not shown";
        return;
      }
      for (auto [name, pButton] : {std::pair<const char*, CControl*>{"video", pView->VideoRow().pButton},
                                   {"buy", pView->BuyRow().pButton},
                                   {"lyrics", pView->LyricsRow().pButton},
                                   {"full recording", pView->FullRow().pButton}}) {
        if (!pButton || !pButton->IsVisible() || !pButton->IsEnabled()) unlit += std::string(" ") + name;
      }
      if (!unlit.empty()) unlit = "rows not lit:" + unlit;
    });
    road.Then([&] {
      CAppUi* pApp = CAppUi::Instance();
      plat::FrameBuffer& frame = plat::ScreenFrameBuffer();
      int64_t nPainted = 0;
      for (int run = 0; run < kRuns; ++run) {
        const auto start = TClock::now();
        for (int i = 0; i < kRepaints; ++i) {
          pApp->Invalidate();
          road.Device().Pump();
          // Taken as presenting would take it: each repaint must cover the
          // whole application window (the menu bar below it is a window of
          // its own, 64 of the 800 rows).
          const plat::Rect damage = frame.TakeDamage();
          nPainted += int64_t{damage.Width()} * damage.Height();
        }
        runs.push_back(Ms(start, TClock::now()) / kRepaints);
      }
      screens = static_cast<double>(nPainted) / (kRuns * kRepaints * 480.0 * 800.0);
    });
    const int code = road.Run();
    if (code != 0) state.SkipWithError("the program failed");
    for (const std::string& miss : road.Misses()) state.SkipWithError(miss.c_str());
    if (!unlit.empty()) state.SkipWithError(unlit.c_str());
    const double memcpyMs = bench::MemcpyNanos(480 * 800 * 2) / 1e6;
    state.SetIterationTime(Median(runs) / 1000.0);
    state.counters["repaint_median_ms"] = Median(runs);
    state.counters["repaint_max_ms"] = Max(runs);
    state.counters["memcpy_ms"] = memcpyMs;
    state.counters["x_memcpy"] = Median(runs) / memcpyMs;
    state.counters["screen_fraction_per_repaint"] = screens;
  }
}
BENCHMARK(BM_UserPageFullRepaint)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
