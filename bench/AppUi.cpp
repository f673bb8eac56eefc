// The framework's painting and tick: a full-screen repaint of a view holding
// 50 controls (one flush through the off-screen bitmap and one blit), and one
// 100 ms tick when nothing is dirty (the timer message, the posted tick, its
// wake-up and the empty paint batch), and one render tick of the toolkit
// screen outside menu mode (it repaints the application for ten seconds
// after start) against a memcpy of the frame.
#include <benchmark/benchmark.h>

#include "bench/BenchApp.h"
#include "bench/MemcpyAnchor.h"
#include "framework/VyServices.h"
#include "vy/OptionsMenuGUI.h"

namespace {

class CBenchBox : public CControl {
 public:
  explicit CBenchBox(TColor colour) : m_colour(colour) { SetEnableStateRaw(EnableOn); }
  void Paint(CGraphics& g, const POINT& origin, const RECT&) override {
    g.SetFillColor(m_colour, EColorSolid);
    g.SetLineColor(0xFFFFFFFFu, EColorSolid);
    RECT rc = LocalRect();
    g.DrawRectangle(RECT{origin.x, origin.y, origin.x + rc.right, origin.y + rc.bottom});
  }

 private:
  TColor m_colour;
};

class CBenchView : public CView {
 public:
  void ApplyLayout(CLayoutNode*) override { SetColor(0xFF202020u); }
  void OnRectChanged(const RECT& rcNew, const RECT&) override {
    if (FirstChild()) return;
    int32_t w = rcNew.right - rcNew.left, h = rcNew.bottom - rcNew.top;
    for (int i = 0; i < 50; ++i) {
      auto* p = new CBenchBox(0xFF000000u | static_cast<uint32_t>(i * 0x050301));
      p->Create(this);
      int32_t col = i % 5, row = i / 5;
      p->MoveTo(RECT{col * w / 5, row * h / 10, (col + 1) * w / 5, (row + 1) * h / 10});
    }
  }
};

class CBenchFactory : public CViewFactory {
 public:
  CView* CreateView() override { return new CBenchView; }
};

void BM_FullScreenRepaint50Controls(benchmark::State& state) {
  WithRunningApp(state, new CBenchFactory, [&](CAppUi& app, plat::TestPlatform&) {
    CView* pView = app.ActiveView();
    for (auto _ : state) {
      pView->Invalidate();
      pView->FlushPaint();
    }
    state.SetItemsProcessed(state.iterations() * 50);
  });
}
BENCHMARK(BM_FullScreenRepaint50Controls)->Unit(benchmark::kMicrosecond);

void BM_IdleTick(benchmark::State& state) {
  WithRunningApp(state, new CBenchFactory, [&](CAppUi& app, plat::TestPlatform& tp) {
    tp.Pump();
    for (auto _ : state) {
      plat::SendMessage(app.Window(), plat::WM_TIMER, 1, 0);
      tp.Pump();
    }
  });
}
BENCHMARK(BM_IdleTick)->Unit(benchmark::kMicrosecond);

void BM_ToolkitRenderTick50Controls(benchmark::State& state) {
  SetVyServices(&ToolkitServices());
  WithRunningApp(state, new CBenchFactory, [&](CAppUi& app, plat::TestPlatform& tp) {
    tp.Pump();
    RECT rc{};
    plat::GetClientRect(app.Window(), &rc);
    bench::RunAgainstMemcpy(state, size_t(rc.right - rc.left) * size_t(rc.bottom - rc.top) * 2, [&] {
      plat::SendMessage(app.Window(), plat::WM_TIMER, TIMERID_RENDER, 0);
      tp.Pump();
    });
  });
  SetVyServices(nullptr);
}
BENCHMARK(BM_ToolkitRenderTick50Controls)->Unit(benchmark::kMicrosecond);

}  // namespace
