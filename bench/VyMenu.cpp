// Every frame of the options menu opening at 480 x 800 with nine commands on
// the generated art, from the open call until the slide has come to rest:
// the paint's own time (the pacing sleep passes on the virtual clock), its
// maximum and median per frame, and both against a memcpy of the frame's
// bytes in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <vector>

#include "bench/MemcpyAnchor.h"
#include "platform/testing/TestPlatform.h"
#include "vy/BaseGUI.h"
#include "vy/BasicMenu.h"
#include "vy/FrameSkin.h"
#include "vy/ImageUtil.h"
#include "vy/VyGesture.h"
#include "vy/VyPanel.h"
#include "vy/VyPicture.h"

namespace {

constexpr int32_t kWidth = 480, kHeight = 800;
constexpr size_t kFrameBytes = size_t(kWidth) * kHeight * 2;

void BM_VyMenu_OpenFrames_9Items(benchmark::State& state) {
  plat::TestConfig config;
  config.screenWidth = kWidth;
  config.screenHeight = kHeight;
  plat::TestPlatform device(config);
  std::filesystem::create_directories(device.DeviceRoot() / "fs");
  std::filesystem::copy_file(MAIN_PACK, device.DeviceRoot() / "fs" / "Quorel.res",
                             std::filesystem::copy_options::overwrite_existing);
  plat::ModuleHandle hModule = plat::LoadLibrary(u"\\Quorel.res");
  if (!hModule) {
    state.SkipWithError("no main pack");
    return;
  }
  SetResourceInstance(hModule);
  SetMenuImageIDs(kMenuImageIdsTheme0);
  SetMenuItemImageIDs(kMenuItemImageIdsTheme0);
  plat::WndClass cls;
  cls.proc = &plat::DefWindowProc;
  cls.name = u"VyMenuBench";
  plat::RegisterClass(cls);
  plat::HWND hWnd =
      plat::CreateWindowEx(0, u"VyMenuBench", u"", plat::WS_VISIBLE, 0, 0, kWidth, kHeight, nullptr, 0, nullptr, nullptr);
  std::vector<BasicMenuItemInfo> table(9);
  for (int32_t i = 0; i < 9; ++i) {
    table[size_t(i)].label = u"Command " + plat::FromUtf8(std::to_string(i + 1));
    table[size_t(i)].nId = i + 1;
  }
  const double memcpyNs = bench::MemcpyNanos(kFrameBytes);
  std::vector<double> frames;
  {
    auto gui = std::make_unique<CBaseGUI>();
    gui->Load(hWnd);
    gui->Open(0);
    const RECT rc{0, 0, kWidth, kHeight};
    auto* pBack = new CVyPicture(&rc);
    pBack->SetBackColor(0x808080);
    gui->GetRootPanel()->AddControl(pBack, -1);
    for (auto _ : state) {
      auto* pMenu = new CBasicMenuEx(table.data(), 9, 352, 450, 66);
      pMenu->CreateControls(nullptr);
      pMenu->SetRect(0, 0, kWidth, kHeight, 0);
      pMenu->Open(gui->GetRootPanel(), 0, nullptr, nullptr);
      for (int i = 0; i < 60; ++i) {
        POINT off{};
        pMenu->GetOffset(&off);
        if (pMenu->GetState() == CVyMenu::kStateOpen && off.y == 0 && CVyMenu::DimLevel() == 115) break;
        gui->OnTimer(TIMERID_RENDER, 0);
        plat::HDC hdc = plat::GetDC(hWnd);
        const auto start = bench::Clock::now();
        gui->OnPaint(hWnd, hdc);
        frames.push_back(std::chrono::duration<double, std::nano>(bench::Clock::now() - start).count());
        plat::ReleaseDC(hWnd, hdc);
      }
      pMenu->RemoveFromParent();
      pMenu->Destroy();
    }
  }
  plat::DestroyWindow(hWnd);
  SetResourceInstance(nullptr);
  plat::FreeLibrary(hModule);
  if (frames.empty()) return;
  std::sort(frames.begin(), frames.end());
  const double median = frames[frames.size() / 2], worst = frames.back();
  state.counters["frames"] = double(frames.size()) / double(state.iterations());
  state.counters["median_us"] = median / 1000;
  state.counters["max_us"] = worst / 1000;
  state.counters["median_x_memcpy"] = median / memcpyNs;
  state.counters["max_x_memcpy"] = worst / memcpyNs;
}
BENCHMARK(BM_VyMenu_OpenFrames_9Items)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
