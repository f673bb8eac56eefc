// The widget set at 480 x 800 on the generated art: a full repaint of the
// busiest arrangement (a title-bar button with a scrolling caption over a
// scroll panel of list rows, each with two texts, an icon and a progress
// bar, and both soft-key bars) with warm caches, the same first paint with
// cold caches, and one 8 px drag frame of the panel (scroll and repaint).
#include <benchmark/benchmark.h>

#include "bench/BenchApp.h"
#include "framework/Theme.h"
#include "tests/framework/widget_scene.h"

namespace {

constexpr int32_t kRows = 20;

class CSceneView : public CView {
 public:
  void ApplyLayout(CLayoutNode*) override { SetColor(ThemeBackgroundColor(GetThemeIndex())); }
};

class CSceneFactory : public CViewFactory {
 public:
  CView* CreateView() override { return new CSceneView; }
};

// Runs `body` with the scene built on the art; skips without the pack.
void WithScene(benchmark::State& state, const std::function<void(CView*, widgetscene::TScene&)>& body) {
  WithRunningApp(state, new CSceneFactory, [&](CAppUi& app, plat::TestPlatform& tp) {
    plat::ModuleHandle hPack = widgetscene::RegisterArt(tp.DeviceRoot(), QUOREL_MAIN_PACK);
    if (!hPack) {
      state.SkipWithError("no main pack");
      return;
    }
    widgetscene::TScene scene;
    widgetscene::BuildScene(app.ActiveView(), scene, kRows);
    body(app.ActiveView(), scene);
  });
}

void Repaint(CView* pView) {
  pView->Invalidate();
  pView->FlushPaint();
}

void BM_WidgetsFullRepaintWarm(benchmark::State& state) {
  WithScene(state, [&](CView* pView, widgetscene::TScene&) {
    Repaint(pView);
    for (auto _ : state) Repaint(pView);
  });
}
BENCHMARK(BM_WidgetsFullRepaintWarm)->Unit(benchmark::kMicrosecond);

// Every picture decoded, scaled and every text measured again: the scene is
// rebuilt on empty image caches outside the timing, then painted once.
void BM_WidgetsFirstPaintCold(benchmark::State& state) {
  WithScene(state, [&](CView* pView, widgetscene::TScene& first) {
    first = widgetscene::TScene{};
    while (pView->FirstChild()) delete pView->FirstChild();
    for (auto _ : state) {
      state.PauseTiming();
      while (pView->FirstChild()) delete pView->FirstChild();
      CResources::ClearCaches();
      widgetscene::TScene scene;
      widgetscene::BuildScene(pView, scene, kRows);
      state.ResumeTiming();
      Repaint(pView);
      state.PauseTiming();
      while (pView->FirstChild()) delete pView->FirstChild();
      state.ResumeTiming();
    }
  });
}
BENCHMARK(BM_WidgetsFirstPaintCold)->Unit(benchmark::kMicrosecond);

// One drag step of 8 px on the panel and the repaint it causes; the
// direction turns at either end of the content.
void BM_WidgetsDragFrame(benchmark::State& state) {
  WithScene(state, [&](CView* pView, widgetscene::TScene& scene) {
    Repaint(pView);
    CLayoutNode* pContent = scene.pPanel->GetContentLayout();
    int32_t nStep = 8;
    for (auto _ : state) {
      int32_t nBefore = pContent->GetScrollY();
      scene.pPanel->OnDrag(nStep);
      pView->FlushPaint();
      if (pContent->GetScrollY() == nBefore || pContent->GetScrollY() == 0) nStep = -nStep;
    }
  });
}
BENCHMARK(BM_WidgetsDragFrame)->Unit(benchmark::kMicrosecond);

}  // namespace
