// What the screen benchmarks give the program's application object: a
// minimal resource pack, an 8 x 8 picture for every slot and one text for
// every UI string.
#pragma once

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/QuorelAppUi.h"
#include "framework/AppRegistry.h"

#include "framework/Graphics.h"
#include "framework/Resources.h"
#include "platform/gdi/Gdi.h"
#include "platform/testing/TestPlatform.h"
#include "protocol/AppSettings.h"
#include "tools/qrespack/PackWriter.h"

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
  explicit CBenchText(const char16_t* pText) : m_text(pText) {}
  void Get(plat::WString& text) override { text = m_text; }

 private:
  plat::WString m_text;
};

// The window's names, the menu bar and no accelerators, as "app.res".
inline bool WriteBenchPack(const std::filesystem::path& root) {
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

// Every UI string and picture slot the screens may ask for.
inline void RegisterBenchResources(const char16_t* pText) {
  for (int32_t nId = 1; nId < 232; ++nId) CResources::RegisterStringSource(nId, new CBenchText(pText));
  for (int32_t nSlot = 0; nSlot < 390; ++nSlot) CResources::RegisterImageSource(nSlot, new CBenchImage());
}

// The program's application object on a headless device with the bench
// resources, its own settings and no network services: `setup` registers
// the views (view 2 starts), `measure` runs once the loop has started.
inline void InBenchApp(benchmark::State& state, const char16_t* pText,
                       const std::function<void(CQuorelAppUi&, AppSettings&)>& setup,
                       const std::function<void(CQuorelAppUi&, plat::TestPlatform&)>& measure) {
  plat::TestPlatform tp;
  plat::ModuleHandle hModule = WriteBenchPack(tp.DeviceRoot()) ? plat::LoadLibrary(u"\\app.res") : nullptr;
  if (!hModule) {
    state.SkipWithError("no resource pack");
    return;
  }
  RegOpenAppKey();
  CQuorelAppUi::SetStartStepHook([](EStartStep step) {
    if (step == EStartStep::Options || step == EStartStep::UiStrings || step == EStartStep::Images ||
        step == EStartStep::Settings)
      return false;
    return step < EStartStep::Settings || step > EStartStep::AudioBuffer;
  });
  CQuorelAppUi::SetUpdateCheckOnStart(false);
  {
    auto pApp = std::make_unique<CQuorelAppUi>();
    pApp->Init(hModule, plat::SW_SHOW);
    RegisterBenchResources(pText);
    auto pSettings = std::make_unique<AppSettings>();
    setup(*pApp, *pSettings);
    pApp->SetStartView(2);
    bool bDone = false;
    tp.SetIdleHook([&] {
      if (!bDone) {
        bDone = true;
        tp.Pump();
        measure(*pApp, tp);
        plat::PostQuitMessage(0);
      }
      return true;
    });
    if (pApp->Run() != 0) state.SkipWithError("the application failed");
    tp.SetIdleHook({});
    pApp.reset();
  }
  CQuorelAppUi::SetStartStepHook({});
  CQuorelAppUi::SetUpdateCheckOnStart(true);
  RegCloseAppKey();
  plat::FreeLibrary(hModule);
}
