// The toolkit's per-frame drawing into its 480 x 736 RGB565 back buffer,
// each against a memcpy of the back buffer's bytes in the same run (the
// counter x_memcpy): an alpha picture of 352 x 630, a full-buffer dim, and
// the frames of an inertia scroll over a root panel of 200 rows, 10 in view.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "bench/MemcpyAnchor.h"
#include "platform/testing/TestPlatform.h"
#include "tests/support/PngMake.h"
#include "vy/BaseGUI.h"
#include "vy/ImageUtil.h"
#include "vy/VyLine.h"
#include "vy/VyPanel.h"

namespace {

constexpr int32_t kWidth = 480, kHeight = 736;
constexpr size_t kFrameBytes = size_t(kWidth) * kHeight * 2;

// A device with a host window and the back buffer made as a paint makes it.
struct TBench {
  plat::TestPlatform device;
  plat::HWND hWnd = nullptr;
  plat::HDC hdcWindow = nullptr;
  plat::HDC hdc = nullptr;
  TBench() {
    plat::WndClass cls;
    cls.proc = &plat::DefWindowProc;
    cls.name = u"VyBench";
    plat::RegisterClass(cls);
    hWnd = plat::CreateWindowEx(0, u"VyBench", u"", plat::WS_VISIBLE, 0, 0, kWidth, kHeight, nullptr, 0, nullptr,
                                nullptr);
    hdcWindow = plat::GetDC(hWnd);
    hdc = CIImage::CreateMemDC(hWnd, hdcWindow);
  }
  ~TBench() {
    CIImage::DeleteMemDC(hdc);
    plat::ReleaseDC(hWnd, hdcWindow);
    plat::DestroyWindow(hWnd);
  }
};

void BM_Vy_DrawAlpha_352x630(benchmark::State& state) {
  TBench b;
  // Opaque, clear and partly transparent bands, as pictures have them.
  std::vector<uint32_t> pixels(352 * 630);
  for (size_t i = 0; i < pixels.size(); ++i) {
    const uint32_t a = (i / 7) % 3 == 0 ? 255 : (i / 7) % 3 == 1 ? 0 : uint32_t(i % 251);
    pixels[i] = uint32_t(i % 256) << 24 | uint32_t((i / 3) % 256) << 16 | 0x4000 | a;
  }
  const std::vector<uint8_t> png = pngmake::MakePng(352, 630, pixels);
  std::filesystem::create_directories(b.device.DeviceRoot() / "fs");
  std::ofstream(b.device.DeviceRoot() / "fs" / "bench.png", std::ios::binary)
      .write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
  CIImage image;
  if (image.Load(u"\\bench.png") < 0) {
    state.SkipWithError("the picture did not load");
    return;
  }
  RECT rc{64, 53, 64 + 352, 53 + 630};
  image.Draw(b.hdc, &rc, nullptr, 1);  // makes and locks the drawing bitmap
  bench::RunAgainstMemcpy(state, kFrameBytes, [&] { image.DrawAlpha(b.hdc, &rc, nullptr); });
}
BENCHMARK(BM_Vy_DrawAlpha_352x630)->Unit(benchmark::kMicrosecond);

void BM_Vy_FillAlphaDim_Frame(benchmark::State& state) {
  TBench b;
  RECT rc{0, 0, kWidth, kHeight};
  CIImage::FillColor(b.hdc, &rc, 0x808080);
  bench::RunAgainstMemcpy(state, kFrameBytes, [&] { CIImage::FillAlpha(b.hdc, &rc, 0xF0000000, 1); });
}
BENCHMARK(BM_Vy_FillAlphaDim_Frame)->Unit(benchmark::kMicrosecond);

void BM_Vy_InertiaScroll_200Rows(benchmark::State& state) {
  TBench b;
  auto gui = std::make_unique<CBaseGUI>();
  gui->Load(b.hWnd);
  gui->Open(0);
  CVyPanel* root = gui->GetRootPanel();
  constexpr int32_t kRow = kHeight / 10;
  for (int32_t i = 0; i < 200; ++i)
    root->AddControl(new CVyLine(0, i * kRow, kWidth, (i + 1) * kRow - 1, i % 2 ? 0x545454 : 0xC0C0C0), -1);
  root->SetContentSize(0, 0);
  root->SetItemHaptic(0);
  int32_t target = -200 * kRow;
  bench::RunAgainstMemcpy(state, kFrameBytes, [&] {
    if (!root->Gesture().IsAnimating()) {
      root->Gesture().ScrollTo(target, 1, 0);
      target = target == 0 ? -200 * kRow : 0;
    }
    root->Draw(b.hdc);
  });
  gui.reset();
}
BENCHMARK(BM_Vy_InertiaScroll_200Rows)->Unit(benchmark::kMicrosecond);

}  // namespace
