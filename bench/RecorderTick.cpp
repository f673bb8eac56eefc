// One 100 ms tick on the recorder screen while a recording runs (elapsed
// label, progress bar, marquee), against an idle tick of the same screen in
// the same run: the program's application object with a scripted recorder,
// no network services.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BenchScreens.h"
#include "app/QuorelAppUi.h"
#include "app/RecorderView.h"
#include "app/SearchRecorder.h"
#include "framework/AppRegistry.h"
#include "framework/Resources.h"
#include "platform/gdi/Gdi.h"
#include "platform/testing/TestPlatform.h"
#include "protocol/AppSettings.h"

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
  plat::TestPlatform tp;
  plat::ModuleHandle hModule = WriteBenchPack(tp.DeviceRoot()) ? plat::LoadLibrary(u"\\app.res") : nullptr;
  if (!hModule) {
    state.SkipWithError("no resource pack");
    return;
  }
  RegOpenAppKey();
  // The test's own texts, pictures and settings; no network services.
  CQuorelAppUi::SetStartStepHook([](EStartStep step) {
    if (step == EStartStep::Options || step == EStartStep::UiStrings || step == EStartStep::Images ||
        step == EStartStep::Settings)
      return false;
    return step < EStartStep::Settings || step > EStartStep::AudioBuffer;
  });
  CQuorelAppUi::SetUpdateCheckOnStart(false);
  SetSearchRecorderFactory([] { return std::make_unique<CBenchRecorder>(); });
  {
    auto pApp = std::make_unique<CQuorelAppUi>();
    pApp->Init(hModule, plat::SW_SHOW);
    RegisterBenchResources(u"Sing or hum the tune");
    pApp->RegisterView(2, new CRecorderViewFactory());
    pApp->SetStartView(2);
    auto pSettings = std::make_unique<AppSettings>();
    bool bDone = false;
    tp.SetIdleHook([&] {
      if (!bDone) {
        bDone = true;
        if (bRecording && CRecorderView::Current()) CRecorderView::Current()->StartRecording();
        tp.Pump();
        for (auto _ : state) {
          plat::SendMessage(pApp->Window(), plat::WM_TIMER, 1, 0);
          tp.Pump();
        }
        if (bRecording && CRecorderView::Current()) CRecorderView::Current()->CancelRecording();
        plat::PostQuitMessage(0);
      }
      return true;
    });
    if (pApp->Run() != 0) state.SkipWithError("the application failed");
    tp.SetIdleHook({});
    pApp.reset();
  }
  SetSearchRecorderFactory(nullptr);
  CQuorelAppUi::SetStartStepHook({});
  CQuorelAppUi::SetUpdateCheckOnStart(true);
  RegCloseAppKey();
  plat::FreeLibrary(hModule);
}

void BM_RecorderIdleTick(benchmark::State& state) { TickOnRecorder(state, false); }
BENCHMARK(BM_RecorderIdleTick)->Unit(benchmark::kMicrosecond);

void BM_RecorderRecordingTick(benchmark::State& state) { TickOnRecorder(state, true); }
BENCHMARK(BM_RecorderRecordingTick)->Unit(benchmark::kMicrosecond);

}  // namespace
