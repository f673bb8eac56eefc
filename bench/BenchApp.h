// The running application the framework benchmarks measure in: a headless
// device, a minimal resource pack, one start view made by the factory.
#pragma once

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "framework/AppUi.h"
#include "platform/testing/TestPlatform.h"
#include "tools/qrespack/PackWriter.h"

// Runs `body` inside the application's loop once it has started; the
// application takes the factory.
inline void WithRunningApp(benchmark::State& state, CViewFactory* pFactory,
                           const std::function<void(CAppUi&, plat::TestPlatform&)>& body) {
  plat::TestPlatform tp;
  qrespack::PackWriter w;
  std::string error;
  w.AddString(1, u"Quorel", "b", error);
  w.AddString(2, u"QuorelMainWnd", "b", error);
  w.AddMenu(102, {{40000, u""}, {40001, u""}}, "b", error);
  std::vector<uint8_t> bytes;
  w.Serialize(bytes, error);
  std::filesystem::create_directories(tp.DeviceRoot() / "fs");
  std::ofstream(tp.DeviceRoot() / "fs" / "app.res", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  plat::ModuleHandle hModule = plat::LoadLibrary(u"\\app.res");
  if (!hModule) {
    delete pFactory;
    state.SkipWithError("no resource pack");
    return;
  }
  {
    CAppUi app;
    app.Init(hModule, plat::SW_SHOW);
    app.RegisterView(2, pFactory);
    app.SetStartView(2);
    bool bDone = false;
    tp.SetIdleHook([&] {
      if (!bDone) {
        bDone = true;
        body(app, tp);
        plat::PostQuitMessage(0);
      }
      return true;
    });
    if (app.Run() != 0) state.SkipWithError("the application failed");
    tp.SetIdleHook({});
  }
  plat::FreeLibrary(hModule);
}
