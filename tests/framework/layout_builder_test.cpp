#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/layout.h"
#include "framework/layout_test_support.h"
#include "platform/base/Debug.h"

using namespace layout_test;

namespace {

TEST(LayoutRecords, EdgeSpecFillsOwnSideThenAnchorSide) {
  CLayoutEdgeSpec spec;
  spec.SetFraction(1, 2).SetOffset(V::MaxSide(5, 800)).SetNodeId(48).SetNodeId(3);
  EXPECT_EQ(spec.m_ownFraction, TFraction(1, 2));
  EXPECT_EQ(spec.m_nOffsetRefId, 48);
  EXPECT_EQ(spec.m_nOffsetRefSubId, 3);
  spec.BeginAnchor().BeginAnchor().SetFraction(2, 4).SetNodeId(119).SetNodeId(7).SetNodeId(8);
  EXPECT_EQ(spec.m_anchorFraction, TFraction(1, 2));
  EXPECT_EQ(spec.m_nAnchorId, 119);
  EXPECT_EQ(spec.m_nAnchorSubId, 8);
  EXPECT_EQ(spec.m_ownFraction, TFraction(1, 2));
  EXPECT_EQ(spec.m_nOffsetRefSubId, 3);

  // Offsets belong to the own side; a late one is refused and loses nothing.
  EXPECT_EQ(PanicLine([&] { spec.SetOffset(V::Constant(9)); }), 515);
  EXPECT_EQ(PanicLine([&] { spec.SetOffsetV(V::Constant(9)); }), 587);
  EXPECT_EQ(spec.m_offset, V::MaxSide(5, 800));

  spec.Reset();
  EXPECT_EQ(spec.m_nStage, 0);
  EXPECT_EQ(spec.m_nAnchorId, -1);
  EXPECT_EQ(spec.m_offset, V::Constant(0));
  EXPECT_NO_THROW(spec.SetOffsetV(V::Constant(1)));

  CLayoutCondition cond;
  cond.Set(0).Set(1);
  EXPECT_EQ(cond.m_nKey, 0);
  EXPECT_EQ(cond.m_nValue, 1u);
  EXPECT_EQ(cond.m_nMask, 0xFFFFFFFFu);
  cond.Set(4);
  EXPECT_EQ(cond.m_nMask, 4u);
  EXPECT_EQ(cond.m_nValue, 1u);
}

TEST(LayoutBuilder, ChildrenNestAndEndChildOnAnEmptyStackDoesNothing) {
  auto root = CLayoutNode::CreateRoot();
  root->EndChild();
  EXPECT_EQ(root->GetCursor(), root.get());
  root->BeginChild().SetId(1, -1).BeginChild().SetId(2, -1).EndChild().BeginChild().SetId(3, -1);
  EXPECT_EQ(root->GetCursor()->GetId(), 3);
  root->EndChild().EndChild().EndChild().EndChild();
  EXPECT_EQ(root->GetCursor(), root.get());
  CLayoutNode* n1 = root->GetFirstChild();
  ASSERT_NE(n1, nullptr);
  EXPECT_EQ(n1->GetNextSibling(), nullptr);
  EXPECT_EQ(n1->GetFirstChild()->GetId(), 2);
  EXPECT_EQ(n1->GetFirstChild()->GetNextSibling()->GetId(), 3);
  EXPECT_EQ(n1->GetFirstChild()->GetRoot(), root.get());
  EXPECT_EQ(n1->GetFirstVariant(), nullptr);  // BeginChild adds no variant
}

TEST(LayoutBuilder, VariantsAreCreatedLazilyAndFoundByCondition) {
  auto root = CLayoutNode::CreateRoot();
  root->BeginChild().SetVisible(false);  // the first call creates the default
  CLayoutNode* n = root->GetCursor();
  CLayoutVariant* pDefault = n->GetFirstVariant();
  ASSERT_NE(pDefault, nullptr);
  EXPECT_EQ(pDefault->m_nKey, -1);
  EXPECT_TRUE(pDefault->m_bActive);
  EXPECT_FALSE(pDefault->m_bVisibilityFree);

  root->AddVariant(Cond(0, 1)).SetWidth(Size(V::Constant(10)));
  CLayoutVariant* pKeyed = n->GetCurrentVariant();
  EXPECT_FALSE(pKeyed->m_bActive);
  root->AddVariant(Cond(0, 0)).AddVariant(Cond(0, 1)).SetWidth(Size(V::Constant(20)));
  EXPECT_EQ(n->GetCurrentVariant(), pKeyed);
  EXPECT_EQ(pKeyed->m_x.m_size.m_value, V::Constant(20));
  root->AddVariant(CLayoutCondition{});  // the default's own condition
  EXPECT_EQ(n->GetCurrentVariant(), pDefault);
  int count = 0;
  for (CLayoutVariant* v = n->GetFirstVariant(); v; v = v->m_pNext) ++count;
  EXPECT_EQ(count, 3);
  EXPECT_FALSE(pDefault->m_x.m_bSize);  // variants never share constraints
}

TEST(LayoutBuilder, EdgeStoringKeepsAtMostTwoConstraintsPerAxis) {
  auto root = CLayoutNode::CreateRoot();
  root->BeginChild().SetId(1, -1).EndChild().BeginChild();
  CLayoutNode* n = root->GetCursor();
  auto x = [&]() -> const CLayoutAxis& { return n->GetCurrentVariant()->m_x; };
  auto flags = [&] { return std::vector<bool>{x().m_bEdge1, x().m_bEdge2, x().m_bSize}; };

  root->SetHorizontalEdge(Edge(0, 1, -2, 0, 1)).SetHorizontalEdge(Edge(1, 1, -2, 1, 1));
  root->SetWidth(Size(V::Constant(30)));  // after both edges: only the size
  EXPECT_EQ(flags(), (std::vector<bool>{false, false, true}));
  root->SetHorizontalEdge(Edge(1, 2, -2, 1, 2));
  EXPECT_EQ(flags(), (std::vector<bool>{true, false, true}));
  EXPECT_EQ(x().m_edge1.m_ownFraction, TFraction(1, 2));

  // Same own fraction and anchor: edge 1 is replaced and the size stays.
  root->SetHorizontalEdge(Edge(1, 2, -2, 1, 2, V::Constant(7)));
  EXPECT_EQ(flags(), (std::vector<bool>{true, false, true}));
  EXPECT_EQ(x().m_edge1.m_offset, V::Constant(7));
  // Same own fraction, another anchor: the axis starts over.
  root->SetHorizontalEdge(Edge(1, 2, 1, 1, 2));
  EXPECT_EQ(flags(), (std::vector<bool>{true, false, false}));
  EXPECT_EQ(x().m_edge1.m_pAnchor, root->FindNode(1, -1));

  root->SetHorizontalEdge(Edge(1, 1, 1, 1, 1)).SetWidth(Size(V::Constant(5)));
  EXPECT_EQ(flags(), (std::vector<bool>{false, false, true}));
  root->SetHorizontalEdge(Edge(0, 1, -2, 0, 1)).SetHorizontalEdge(Edge(1, 1, -2, 1, 1));
  // Edge 1 plus a size, then another own fraction: the axis starts over.
  EXPECT_EQ(flags(), (std::vector<bool>{true, false, false}));
  EXPECT_EQ(x().m_edge1.m_ownFraction, TFraction(1, 1));
  root->SetHorizontalEdge(Edge(0, 1, -2, 0, 1));
  EXPECT_EQ(flags(), (std::vector<bool>{true, true, false}));
  root->SetHorizontalEdge(Edge(0, 1, -2, 0, 1, V::Constant(3)));  // edge 2 matches: replaced
  EXPECT_EQ(flags(), (std::vector<bool>{true, true, false}));
  EXPECT_EQ(x().m_edge2.m_offset, V::Constant(3));
  root->SetHorizontalEdge(Edge(1, 2, -2, 1, 2));  // fits neither edge
  EXPECT_EQ(flags(), (std::vector<bool>{true, false, false}));
  EXPECT_FALSE(n->GetCurrentVariant()->m_y.m_bEdge1);  // the other axis untouched
}

TEST(LayoutBuilder, NodesResolveByVariableThenDirectThenId) {
  std::vector<std::u16string> traces;
  plat::DebugSink previous = plat::SetDebugSink([&](plat::WStringView t) { traces.emplace_back(t); });
  auto root = CLayoutNode::CreateRoot();
  root->PinToRect(RECT{0, 0, 100, 100});
  CLayoutNode* stored = nullptr;
  CLayoutNode* none = nullptr;
  root->BeginChild().SetId(1, -1).StoreNode(&stored)
      .SetHorizontalEdge(Edge(0, 1, -2, 0, 1, V::Constant(40))).SetWidth(Size(V::Constant(10)))
      .SetVerticalEdge(Edge(0, 1, -2, 0, 1, V::Constant(40))).SetHeight(Size(V::Constant(10)))
      .EndChild();
  auto place = [&](CLayoutEdgeSpec spec) {
    root->BeginChild().SetHorizontalEdge(spec).SetWidth(Size(V::Constant(1)))
        .SetVerticalEdge(Edge(0, 1, -2, 0, 1)).SetHeight(Size(V::Constant(1))).EndChild();
  };
  CLayoutEdgeSpec byVar = Edge(0, 1, 77, 1, 1);  // the variable wins over the id
  byVar.m_ppAnchorVar = &stored;
  place(byVar);
  CLayoutEdgeSpec byNullVar = Edge(0, 1, 1, 1, 1);  // ...even when it holds none
  byNullVar.m_ppAnchorVar = &none;
  byNullVar.m_pAnchor = stored;
  place(byNullVar);
  CLayoutEdgeSpec direct = Edge(0, 1, -1, 1, 1);
  direct.m_pAnchor = stored;
  place(direct);
  place(Edge(0, 1, 1, 0, 1));
  EXPECT_TRUE(traces.empty());
  place(Edge(0, 1, 77, 1, 1));  // a typo: measures the pass rectangle, leaves a trace
  plat::SetDebugSink(previous);
  ASSERT_EQ(traces.size(), 1u);
  EXPECT_NE(traces[0].find(u"77"), std::u16string::npos);

  root->PinToRect(RECT{0, 0, 200, 100});
  root->Update(RECT{0, 0, 100, 100});
  std::vector<int32_t> lefts;
  for (CLayoutNode* c = root->GetFirstChild()->GetNextSibling(); c; c = c->GetNextSibling())
    lefts.push_back(c->GetRect(CLayoutNode::SpaceStored).left);
  EXPECT_EQ(lefts, (std::vector<int32_t>{50, 100, 50, 40, 100}));
}

// A row 5/800 below the parent's top, centred, 424 x 62 of the larger side,
// and three generated rows sharing id 119 stacked below it by sub-id.
TEST(LayoutBuilder, TypicalRowsSolveInBothOrientations) {
  auto root = CLayoutNode::CreateRoot();
  CLayoutBuilder& b = *root;
  CLayoutEdgeSpec top;
  top.Reset().SetFraction(0, 1).SetOffsetV(V::MaxSide(5, 800)).BeginAnchor().SetFraction(0, 1).SetNodeId(-2);
  CLayoutEdgeSpec centre;
  centre.Reset().SetFraction(1, 2).BeginAnchor().SetFraction(1, 2).SetNodeId(-2);
  b.BeginChild().SetId(61, -1).SetVerticalEdge(top).SetHorizontalEdge(centre)
      .SetWidth(Size(V::MaxSide(424, 800))).SetHeight(Size(V::MaxSide(62, 800))).EndChild();
  for (int32_t i = 0; i < 3; ++i) {
    b.BeginChild().SetId(119, i).SetHorizontalEdge(Edge(0, 1, -2, 0, 1)).SetHorizontalEdge(Edge(1, 1, -2, 1, 1));
    CLayoutEdgeSpec below = Edge(0, 1, i == 0 ? 61 : 119, 1, 1);
    if (i > 0) below.SetNodeId(i - 1);
    b.SetVerticalEdge(below).SetHeight(Size(V::MaxSide(88, 800))).EndChild();
  }
  struct Case {
    RECT screen, row;
  } cases[] = {{kPortrait, {28, 5, 452, 67}}, {kLandscape, {188, 5, 612, 67}}};
  for (const Case& c : cases) {
    root->PinToRect(c.screen);
    root->Update(c.screen);
    EXPECT_EQ(root->FindNode(61, -1)->GetRect(CLayoutNode::SpaceWindow), c.row);
    for (int32_t i = 0; i < 3; ++i)
      EXPECT_EQ(root->FindNode(119, i)->GetRect(CLayoutNode::SpaceWindow),
                (RECT{0, 67 + 88 * i, c.screen.right, 67 + 88 * (i + 1)}));
  }
}

}  // namespace
