// The result screens at 480 x 800 against a full-screen repaint of an empty
// view in the same run: the results list with 100 rows (creation, layout,
// first paint), and the switches from the results to a record's page and
// from a user's recordings to a track's details. The program's application
// object with its test settings, solid pictures and no network services
// (every request fails at once).
#include <benchmark/benchmark.h>

#include <functional>
#include <string>
#include <vector>

#include "BenchScreens.h"
#include "app/ResultListView.h"
#include "app/SettingsScreens.h"
#include "app/TrackDetailsView.h"
#include "app/UserPageView.h"
#include "protocol/AppSettings.h"
#include "protocol/HTTPUserModel.h"
#include "protocol/SearchResults.h"

namespace {

class CEmptyView : public CView {};

// A reply of `n` tracks, one recording each, every other one with a preview.
std::string Reply(int n) {
  std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?><orlamet total_records=")" + std::to_string(n) +
                    R"("><tracks>)";
  for (int i = 0; i < n; ++i) {
    std::string id = std::to_string(i);
    xml += R"(<track track_id="t)" + id + R"(" track_name="Track number )" + id + R"(" album_name="Album")" +
           (i % 2 ? std::string() : R"( audio_preview_url="http://media/t)" + id + R"(.mp3")") +
           R"(><artists><artist artist_name="Artist )" + id + R"("/></artists><recordings><recording recording_id="r)" +
           id + R"(" full_url="http://rec/r)" + id + R"(.mp3" matched_url="http://rec/m)" + id +
           R"(.mp3"><users><user username="user)" + id + R"("/></users></recording></recordings></track>)";
  }
  return xml + "</tracks></orlamet>";
}

// Runs `measure` in the running application: views 2 (empty), 4, 10, 13, 14;
// 100 results and a user with 20 recordings.
void InScreens(benchmark::State& state, const std::function<void(CQuorelAppUi&, plat::TestPlatform&)>& measure) {
  InBenchApp(
      state, u"Listen again",
      [](CQuorelAppUi& app, AppSettings& settings) {
        struct CEmptyFactory : CViewFactory {
          CView* CreateView() override { return new CEmptyView(); }
        };
        app.RegisterView(2, new CEmptyFactory());
        app.RegisterView(4, new CNewViewFactory(&CResultListView::NewView));
        app.RegisterView(10, new CNewViewFactory(&CUserListView::NewRecordingsView));
        app.RegisterView(13, new CNewViewFactory(&CUserPageView::NewView));
        app.RegisterView(14, new CNewViewFactory(&CTrackDetailsView::NewView));
        settings.Init();
        AppSettings::GetResultModel()->LoadText(Reply(100).c_str());
        AppSettings::GetUserModel()->SetUserName(u"user0");
        AppSettings::GetUserModel()->RecordingsResults()->LoadText(Reply(20).c_str());
      },
      measure);
}

// Activates `from` untimed, then times the switch to `to` and its first paint.
void Switch(benchmark::State& state, int32_t nFrom, int32_t nTo) {
  InScreens(state, [&](CQuorelAppUi& app, plat::TestPlatform& tp) {
    for (auto _ : state) {
      state.PauseTiming();
      app.ActivateView(nFrom);
      tp.Pump();
      state.ResumeTiming();
      app.ActivateView(nTo);
      tp.Pump();
    }
  });
}

// The anchor: the whole screen painted again over an empty view.
void BM_EmptyViewRepaint(benchmark::State& state) {
  InScreens(state, [&](CQuorelAppUi& app, plat::TestPlatform& tp) {
    for (auto _ : state) {
      app.Invalidate();
      tp.Pump();
    }
  });
}
BENCHMARK(BM_EmptyViewRepaint)->Unit(benchmark::kMicrosecond);

void BM_ResultsWith100Rows(benchmark::State& state) { Switch(state, 2, 4); }
BENCHMARK(BM_ResultsWith100Rows)->Unit(benchmark::kMicrosecond);

void BM_ResultsToUserPage(benchmark::State& state) { Switch(state, 4, 13); }
BENCHMARK(BM_ResultsToUserPage)->Unit(benchmark::kMicrosecond);

void BM_RecordingsToTrackDetails(benchmark::State& state) { Switch(state, 10, 14); }
BENCHMARK(BM_RecordingsToTrackDetails)->Unit(benchmark::kMicrosecond);

}  // namespace
