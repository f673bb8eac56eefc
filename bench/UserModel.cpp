// The user model's costs on the UI thread: rescaling a downloaded picture for
// another size from memory (against the bare smooth scaler in the same run),
// and filling the settings at start-up with all 22 interface languages
// loaded (well inside the 150 ms cold start).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "framework/Events.h"
#include "framework/ObjectRegistry.h"
#include "framework/Resources.h"
#include "platform/base/Debug.h"
#include "protocol/AppServices.h"
#include "protocol/AppSettings.h"
#include "protocol/HTTPUserModel.h"
#include "tests/framework/png_test_util.h"

namespace {

// What a running application provides: the registry and the posted queue.
struct TBenchApp {
  CObjectRegistry registry;
  CEventQueue queue{[] { return true; }};
  TBenchApp() {
    plat::SetDebugSink([](plat::WStringView) {});
    queue.SetInitialised(true);
  }
};

std::vector<uint8_t> Picture800() {
  return pngt::Encode(pngt::MakePicture(800, 800, PNG_COLOR_TYPE_RGB, 8, false, 17));
}

// Alternating heights so that every step scales anew.
RECT Target(int64_t step) { return RECT{0, 0, 120, 120 + static_cast<int32_t>(step & 1)}; }

void BM_RequestImageRescale800To120(benchmark::State& state) {
  TBenchApp app;
  std::unique_ptr<CHTTPUserModel> model(CHTTPUserModel::Create());
  InstallAppServices(nullptr);
  model->SetImageUrl(u"http://bench.test/img/u.png");
  model->RequestImage(Target(0));  // no session: fails, keeps the rectangle
  const std::vector<uint8_t> png = Picture800();
  model->HandleBody(EUserImageRequest, reinterpret_cast<const char*>(png.data()), png.size());
  if (!model->ScaledUserImage()) state.SkipWithError("the picture did not load");
  int64_t step = 1;
  for (auto _ : state) model->RequestImage(Target(step++));
  app.queue.RunEvents();
}
BENCHMARK(BM_RequestImageRescale800To120)->Unit(benchmark::kMicrosecond);

// The anchor: the scaler alone on the same picture and sizes.
void BM_NewScaledSmooth800To120(benchmark::State& state) {
  const std::vector<uint8_t> png = Picture800();
  // Both come with one reference, dropped here.
  CBitmap* pSource = CBitmap::FromPngData(png.data(), png.size());
  int64_t step = 1;
  for (auto _ : state) {
    CBitmap* pScaled = CBitmap::NewScaledSmooth(pSource, Target(step++), EScaleProportional);
    benchmark::DoNotOptimize(pScaled);
    pScaled->removeReference();
  }
  pSource->removeReference();
}
BENCHMARK(BM_NewScaledSmooth800To120)->Unit(benchmark::kMicrosecond);

class NumberedText : public IStringSource {
 public:
  explicit NumberedText(int32_t id) : m_text(u"Language name " + plat::Widen(std::to_string(id))) {}
  void Get(plat::WString& text) override { text = m_text; }

 private:
  plat::WString m_text;
};

void BM_AppSettingsInit22Languages(benchmark::State& state) {
  TBenchApp app;
  CResources::Create();
  for (int32_t id = 0; id <= 230; ++id) CResources::RegisterStringSource(id, new NumberedText(id));
  SetLanguageLoadedSource([](int32_t) { return true; });
  for (auto _ : state) {
    AppSettings settings;
    settings.Init();
    benchmark::DoNotOptimize(AppSettings::UiLanguages()->size());
  }
  SetLanguageLoadedSource({});
  CResources::Destroy();
}
BENCHMARK(BM_AppSettingsInit22Languages)->Unit(benchmark::kMicrosecond);

}  // namespace
