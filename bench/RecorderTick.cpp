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

#include "app/QuorelAppUi.h"
#include "app/RecorderView.h"
#include "app/SearchRecorder.h"
#include "framework/AppRegistry.h"
#include "framework/Resources.h"
#include "platform/gdi/Gdi.h"
#include "platform/testing/TestPlatform.h"
#include "protocol/AppSettings.h"
#include "tools/qrespack/PackWriter.h"

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

class CBenchImage : public IImageSource {
 public:
  CBitmap* Get() override {
    plat::BitmapInfo info;
    info.header.width = 8;
    info.header.height = -8;
    info.header.bitCount = 32;
    void* pBits = nullptr;
    return CBitmap::FromHandle(plat::CreateDIBSection(nullptr, info, plat::DIB_RGB_COLORS, &pBits), false);
  }
};

class CBenchText : public IStringSource {
 public:
  void Get(plat::WString& text) override { text = u"Sing or hum the tune"; }
};

bool WritePack(const std::filesystem::path& root) {
  qrespack::PackWriter w;
  std::string error;
  w.AddString(1, u"Quorel", "b", error);
  w.AddString(2, u"QuorelMainWnd", "b", error);
  w.AddMenu(102, {{40000, u""}, {40001, u""}}, "b", error);
  w.AddAccelerators(2, {}, "b", error);
  std::vector<uint8_t> bytes;
  if (!w.Serialize(bytes, error)) return false;
  std::filesystem::create_directories(root / "fs");
  std::ofstream(root / "fs" / "app.res", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return true;
}

void TickOnRecorder(benchmark::State& state, bool bRecording) {
  plat::TestPlatform tp;
  plat::ModuleHandle hModule = WritePack(tp.DeviceRoot()) ? plat::LoadLibrary(u"\\app.res") : nullptr;
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
    for (int32_t nId = 1; nId < 232; ++nId) CResources::RegisterStringSource(nId, new CBenchText());
    for (int32_t nSlot = 0; nSlot < 390; ++nSlot) CResources::RegisterImageSource(nSlot, new CBenchImage());
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
