// One full layout pass over a 300-node tree shaped like the program's screens:
// a root pinned to the screen, 23 stacked panels, each with 12 rows that are
// centred, proportionally sized and anchored below one another by sub-id.
#include <benchmark/benchmark.h>

#include "framework/layout.h"

namespace {

using V = CLayoutValue;

CLayoutEdgeSpec Edge(int32_t ownNum, int32_t ownDen, int32_t anchorId, int32_t anchorSubId, int32_t atNum,
                     int32_t atDen, CLayoutValue offset = {}) {
  CLayoutEdgeSpec edgeSpec;
  edgeSpec.SetFraction(ownNum, ownDen).SetOffset(offset).BeginAnchor().SetFraction(atNum, atDen);
  if (anchorId != -1) edgeSpec.SetNodeId(anchorId).SetNodeId(anchorSubId);
  return edgeSpec;
}

std::unique_ptr<CLayoutNode> BuildTree() {
  constexpr int32_t kPanels = 23, kRows = 12;
  auto root = CLayoutNode::CreateRoot();
  root->PinToRect(RECT{0, 0, 480, 800});
  CLayoutBuilder& b = *root;
  for (int32_t p = 0; p < kPanels; ++p) {
    b.BeginChild().SetId(100, p)
        .SetHorizontalEdge(Edge(0, 1, -2, -1, 0, 1, V::MinSide(15, 480)))
        .SetHorizontalEdge(Edge(1, 1, -2, -1, 1, 1, V::MinSide(-15, 480)))
        .SetVerticalEdge(p == 0 ? Edge(0, 1, -2, -1, 0, 1) : Edge(0, 1, 100, p - 1, 1, 1))
        .SetHeight(CLayoutAnchorRef(V::MaxSide(780, 800)));
    for (int32_t r = 0; r < kRows; ++r) {
      b.BeginChild().SetId(119, p * kRows + r)
          .SetHorizontalEdge(Edge(1, 2, -2, -1, 1, 2))
          .SetWidth(CLayoutAnchorRef(V::MaxSide(424, 800)))
          .SetVerticalEdge(r == 0 ? Edge(0, 1, -2, -1, 0, 1, V::MaxSide(5, 800))
                                  : Edge(0, 1, 119, p * kRows + r - 1, 1, 1, V::MaxSide(2, 800)))
          .SetHeight(CLayoutAnchorRef(V::MaxSide(62, 800)))
          .SetVisible(r % 3 != 0)
          .EndChild();
    }
    b.EndChild();
  }
  return root;
}

void BM_LayoutFullPass300(benchmark::State& state) {
  auto root = BuildTree();
  const RECT screens[2] = {{0, 0, 480, 800}, {0, 0, 800, 480}};
  int i = 0;
  for (auto _ : state) {
    const RECT& screen = screens[i++ & 1];
    root->PinToRect(screen);
    root->Update(screen);
    benchmark::DoNotOptimize(root->GetContentRect(CLayoutNode::SpaceOwn));
  }
  state.SetItemsProcessed(state.iterations() * 300);
}
BENCHMARK(BM_LayoutFullPass300);

}  // namespace
