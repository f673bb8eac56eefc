// One 100 ms tick on the recorder screen while a recording runs (elapsed
// label, progress bar, marquee), against an idle tick of the same screen in
// the same run: the program's application object with a scripted recorder,
// no network services.
#include <benchmark/benchmark.h>

#include <memory>

#include "BenchScreens.h"
#include "app/QuorelAppUi.h"
#include "app/RecorderView.h"
#include "app/SearchRecorder.h"

namespace {

// Captures a little more sound at every look.
class CBenchRecorder : public CSearchRecorder {
 public:
  int32_t Start(plat::WStringView) override { return 0; }
  void RequestStop() override {}
  void Stop() override {}
  void TakeResponse(CHTTPSink*& pSink) override { pSink = nullptr; }
  int32_t GetResponseStatus() override { return 0; }
  int32_t GetLevel() override { return 0; }
  int32_t GetElapsed() override { return m_nElapsed = (m_nElapsed + 10) % 2500; }

 private:
  int32_t m_nElapsed = 0;
};

void TickOnRecorder(benchmark::State& state, bool bRecording) {
  SetSearchRecorderFactory([] { return std::make_unique<CBenchRecorder>(); });
  InBenchApp(
      state, u"Sing or hum the tune",
      [](CQuorelAppUi& app, AppSettings&) { app.RegisterView(2, new CRecorderViewFactory()); },
      [&](CQuorelAppUi& app, plat::TestPlatform& tp) {
        if (bRecording && CRecorderView::Current()) CRecorderView::Current()->StartRecording();
        tp.Pump();
        for (auto _ : state) {
          plat::SendMessage(app.Window(), plat::WM_TIMER, 1, 0);
          tp.Pump();
        }
        if (bRecording && CRecorderView::Current()) CRecorderView::Current()->CancelRecording();
      });
  SetSearchRecorderFactory(nullptr);
}

void BM_RecorderIdleTick(benchmark::State& state) { TickOnRecorder(state, false); }
BENCHMARK(BM_RecorderIdleTick)->Unit(benchmark::kMicrosecond);

void BM_RecorderRecordingTick(benchmark::State& state) { TickOnRecorder(state, true); }
BENCHMARK(BM_RecorderRecordingTick)->Unit(benchmark::kMicrosecond);

}  // namespace
