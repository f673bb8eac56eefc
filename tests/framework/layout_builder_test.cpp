#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "framework/layout.h"
#include "framework/layout_test_support.h"
#include "platform/base/Debug.h"

using namespace layout_test;

namespace {

TEST(LayoutRecords, EdgeSpecFillsOwnSideThenAnchorSide) {
  CLayoutEdgeSpec edgeSpec;
  edgeSpec.SetFraction(1, 2).SetOffset(V::MaxSide(5, 800)).SetNodeId(48).SetNodeId(3);
  edgeSpec.BeginAnchor().BeginAnchor().SetFraction(2, 4).SetNodeId(119).SetNodeId(7).SetNodeId(8);
  EXPECT_EQ(edgeSpec.m_ownFraction, TFraction(1, 2));
  EXPECT_EQ(edgeSpec.m_anchorFraction, TFraction(1, 2));
  EXPECT_EQ(std::make_pair(edgeSpec.m_nOffsetRefId, edgeSpec.m_nOffsetRefSubId), std::make_pair(48, 3));
  EXPECT_EQ(std::make_pair(edgeSpec.m_nAnchorId, edgeSpec.m_nAnchorSubId), std::make_pair(119, 8));
  // Offsets belong to the own side; a late one is refused and loses nothing.
  EXPECT_EQ(PanicLine([&] { edgeSpec.SetOffset(V::Constant(9)); }), 515);
  EXPECT_EQ(PanicLine([&] { edgeSpec.SetOffsetV(V::Constant(9)); }), 587);
  EXPECT_EQ(edgeSpec.m_offset, V::MaxSide(5, 800));
  EXPECT_NO_THROW(edgeSpec.Reset().SetOffsetV(V::Constant(1)));

  CLayoutCondition cond;  // key, then value, then mask
  cond.Set(0).Set(1);
  EXPECT_EQ(cond.m_nMask, 0xFFFFFFFFu);
  cond.Set(4);
  EXPECT_EQ(std::make_tuple(cond.m_nKey, cond.m_nValue, cond.m_nMask), std::make_tuple(0, 1u, 4u));
}

TEST(LayoutBuilder, ChildrenNestAndEndChildOnAnEmptyStackDoesNothing) {
  auto root = CLayoutNode::CreateRoot();
  root->EndChild();
  EXPECT_EQ(root->GetCursor(), root.get());
  root->BeginChild().SetId(1, -1).BeginChild().SetId(2, -1).EndChild().BeginChild().SetId(3, -1);
  root->EndChild().EndChild().EndChild().EndChild();
  EXPECT_EQ(root->GetCursor(), root.get());
  CLayoutNode* n3 = root->FindNode(3, -1);
  EXPECT_EQ(n3->GetParent(), root->GetFirstChild());
  EXPECT_EQ(n3->GetRoot(), root.get());
  EXPECT_EQ(n3->GetFirstVariant(), nullptr);  // BeginChild adds no variant
}

TEST(LayoutBuilder, VariantsAreCreatedLazilyAndFoundByCondition) {
  auto root = CLayoutNode::CreateRoot();
  CLayoutNode* n = root->BeginChild().SetVisible(false).GetCursor();  // creates the default
  CLayoutVariant* pDefault = n->GetFirstVariant();
  ASSERT_NE(pDefault, nullptr);
  EXPECT_TRUE(pDefault->m_nKey == -1 && pDefault->m_bActive && !pDefault->m_bVisibilityFree);
  root->AddVariant(Cond(0, 1)).SetWidth(Size(V::Constant(10)));
  CLayoutVariant* pKeyed = n->GetCurrentVariant();
  EXPECT_FALSE(pKeyed->m_bActive);
  root->AddVariant(Cond(0, 0)).AddVariant(Cond(0, 1)).SetWidth(Size(V::Constant(20)));
  EXPECT_EQ(n->GetCurrentVariant(), pKeyed);
  EXPECT_EQ(pKeyed->m_x.m_size.m_value, V::Constant(20));
  root->AddVariant(CLayoutCondition{});  // the default's own condition
  EXPECT_EQ(n->GetCurrentVariant(), pDefault);
  EXPECT_EQ(pDefault->m_pNext->m_pNext->m_pNext, nullptr);  // three variants
  EXPECT_FALSE(pDefault->m_x.m_bSize);                    // none inherits
}

TEST(LayoutBuilder, EachAxisKeepsAtMostTwoConstraints) {
  auto root = CLayoutNode::CreateRoot();
  root->BeginChild().SetId(1, -1).EndChild().BeginChild();
  const CLayoutAxis* x = nullptr;
  auto flags = [&] {
    x = &root->GetCursor()->GetCurrentVariant()->m_x;
    return std::vector<bool>{x->m_bEdge1, x->m_bEdge2, x->m_bSize};
  };
  using F = std::vector<bool>;
  root->SetHorizontalEdge(Edge(0, 1, -2, 0, 1)).SetHorizontalEdge(Edge(1, 1, -2, 1, 1));
  root->SetWidth(Size(V::Constant(30)));  // after both edges only the size stays
  EXPECT_EQ(flags(), (F{false, false, true}));
  root->SetHorizontalEdge(Edge(1, 2, -2, 1, 2));
  EXPECT_EQ(flags(), (F{true, false, true}));
  root->SetHorizontalEdge(Edge(1, 2, -2, 1, 2, V::Constant(7)));  // same own and anchor: replaced
  EXPECT_EQ(flags(), (F{true, false, true}));
  EXPECT_EQ(x->m_edge1.m_offset, V::Constant(7));
  root->SetHorizontalEdge(Edge(1, 2, 1, 1, 2));  // same own, another anchor: starts over
  EXPECT_EQ(flags(), (F{true, false, false}));
  EXPECT_EQ(x->m_edge1.m_pAnchor, root->FindNode(1, -1));
  root->SetWidth(Size(V::Constant(5))).SetHorizontalEdge(Edge(1, 1, -2, 1, 1));  // edge 1 + size, other own
  EXPECT_EQ(flags(), (F{true, false, false}));
  root->SetHorizontalEdge(Edge(0, 1, -2, 0, 1)).SetHorizontalEdge(Edge(0, 1, -2, 0, 1, V::Constant(3)));
  EXPECT_EQ(flags(), (F{true, true, false}));  // the second one replaced edge 2
  EXPECT_EQ(x->m_edge2.m_offset, V::Constant(3));
  root->SetHorizontalEdge(Edge(1, 2, -2, 1, 2));  // fits neither edge
  EXPECT_EQ(flags(), (F{true, false, false}));
  EXPECT_FALSE(root->GetCursor()->GetCurrentVariant()->m_y.m_bEdge1);
}

TEST(LayoutBuilder, NodesResolveByVariableThenDirectThenId) {
  std::vector<std::u16string> traces;
  plat::DebugSink previous = plat::SetDebugSink([&](plat::WStringView t) { traces.emplace_back(t); });
  auto root = CLayoutNode::CreateRoot();
  CLayoutNode *stored = nullptr, *none = nullptr;
  Box(root->BeginChild().SetId(1, -1).StoreNode(&stored), 40, 0, 10, 10).EndChild();
  auto place = [&](CLayoutEdgeSpec edgeSpec) {
    root->BeginChild().SetHorizontalEdge(edgeSpec).SetWidth(Size(V::Constant(1)))
        .SetVerticalEdge(Edge(0, 1, -2, 0, 1)).SetHeight(Size(V::Constant(1))).EndChild();
  };
  CLayoutEdgeSpec byVar = Edge(0, 1, 77, 1, 1);
  byVar.m_ppAnchorVar = &stored;
  CLayoutEdgeSpec byEmptyVar = Edge(0, 1, 1, 1, 1);
  byEmptyVar.m_ppAnchorVar = &none;
  byEmptyVar.m_pAnchor = stored;
  CLayoutEdgeSpec direct = Edge(0, 1, 77, 1, 1);
  direct.m_pAnchor = stored;
  for (const CLayoutEdgeSpec& edgeSpec : {byVar, byEmptyVar, direct, Edge(0, 1, 1, 0, 1)}) place(edgeSpec);
  EXPECT_TRUE(traces.empty());
  place(Edge(0, 1, 77, 1, 1));  // a typo: measures the pass rectangle, leaves a trace
  plat::SetDebugSink(previous);
  ASSERT_EQ(traces.size(), 1u);
  EXPECT_NE(traces[0].find(u"77"), std::u16string::npos);

  root->PinToRect(RECT{0, 0, 200, 100});
  root->Update(RECT{0, 0, 100, 100});
  std::vector<int32_t> lefts;
  for (CLayoutNode* c = stored->GetNextSibling(); c; c = c->GetNextSibling()) lefts.push_back(c->GetRect(0).left);
  EXPECT_EQ(lefts, (std::vector<int32_t>{50, 100, 50, 40, 100}));
}

// A row 5/800 below the parent's top, centred, 424 x 62 of the larger side,
// and three generated rows sharing id 119 stacked below it by sub-id.
TEST(LayoutBuilder, TypicalRowsSolveInBothOrientations) {
  auto root = CLayoutNode::CreateRoot();
  CLayoutEdgeSpec top, centre;
  top.Reset().SetFraction(0, 1).SetOffsetV(V::MaxSide(5, 800)).BeginAnchor().SetFraction(0, 1).SetNodeId(-2);
  centre.Reset().SetFraction(1, 2).BeginAnchor().SetFraction(1, 2).SetNodeId(-2);
  root->BeginChild().SetId(61, -1).SetVerticalEdge(top).SetHorizontalEdge(centre)
      .SetWidth(Size(V::MaxSide(424, 800))).SetHeight(Size(V::MaxSide(62, 800))).EndChild();
  for (int32_t i = 0; i < 3; ++i) {
    CLayoutEdgeSpec below = Edge(0, 1, i == 0 ? 61 : 119, 1, 1);
    if (i > 0) below.SetNodeId(i - 1);
    root->BeginChild().SetId(119, i).SetHorizontalEdge(Edge(0, 1, -2, 0, 1)).SetHorizontalEdge(Edge(1, 1, -2, 1, 1))
        .SetVerticalEdge(below).SetHeight(Size(V::MaxSide(88, 800))).EndChild();
  }
  for (auto [screen, left] : {std::make_pair(kPortrait, 28), std::make_pair(kLandscape, 188)}) {
    root->PinToRect(screen);
    root->Update(screen);
    EXPECT_EQ(Win(root, 61), (RECT{left, 5, left + 424, 67}));
    for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(Win(root, 119, i), (RECT{0, 67 + 88 * i, screen.right, 155 + 88 * i}));
  }
}

}  // namespace
