#include "framework/layout.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <utility>
#include <vector>

#include "framework/layout_test_support.h"

using namespace layout_test;

namespace {

// ---------------------------------------------------------------------------
// Trees a control lays out are pinned to the control's screen rectangle and
// solved against the whole screen, so s/l/h/w fractions measure the screen.

// The edit bar's content tree: back button #60, right-hand button #62 and
// title #61 with the two key-10 variants.
std::unique_ptr<CLayoutNode> EditBarTree() {
  auto root = CLayoutNode::CreateRoot();
  CLayoutBuilder& b = *root;
  b.BeginChild().SetId(60, -1)
      .SetHorizontalEdge(Edge(0, 1, -2, 0, 1, V::MaxSide(12, 800))).SetWidth(Size(V::MaxSide(68, 800)))
      .SetVerticalEdge(Edge(0, 1, -2, 0, 1, V::MaxSide(5, 800))).SetHeight(Size(V::MaxSide(68, 800)))
      .EndChild();
  b.BeginChild().SetId(62, -1)
      .AddVariant(Cond(10, 0))
      .SetHorizontalEdge(Edge(1, 1, -2, 1, 1)).SetWidth(Size(V::Constant(0)))
      .SetVerticalEdge(Edge(0, 1, -2, 0, 1)).SetHeight(Size(V::Constant(0))).SetVisible(false)
      .AddVariant(Cond(10, 1))
      .SetHorizontalEdge(Edge(1, 1, -2, 1, 1, V::MaxSide(12, 800).Negate())).SetWidth(Size(V::MaxSide(84, 800)))
      .SetVerticalEdge(Edge(0, 1, -2, 0, 1, V::MaxSide(5, 800))).SetHeight(Size(V::MaxSide(66, 800)))
      .SetVisible(true)
      .EndChild();
  b.BeginChild().SetId(61, -1)
      .AddVariant(Cond(10, 0))
      .SetHorizontalEdge(Edge(1, 1, -2, 1, 1)).SetHorizontalEdge(Edge(0, 1, 60, 1, 1, V::MaxSide(22, 800)))
      .SetVerticalEdge(Edge(1, 2, -2, 1, 2, V::MaxSide(4, 800))).SetHeight(Size(V::MaxSide(50, 800)))
      .AddVariant(Cond(10, 1))
      .SetHorizontalEdge(Edge(1, 1, 62, 0, 1, V::MaxSide(22, 800).Negate()))
      .SetHorizontalEdge(Edge(0, 1, 60, 1, 1, V::MaxSide(22, 800)))
      .SetVerticalEdge(Edge(1, 2, -2, 1, 2, V::MaxSide(4, 800))).SetHeight(Size(V::MaxSide(50, 800)))
      .EndChild();
  root->SelectVariants(10, 0);
  return root;
}

RECT Window(CLayoutNode* root, int32_t id) { return root->FindNode(id, -1)->GetRect(CLayoutNode::SpaceWindow); }

TEST(LayoutPassRectangle, ControlTreeMeasuresTheScreenNotTheControl) {
  auto bar = EditBarTree();
  for (const RECT& screen : {kPortrait, kLandscape}) {
    SCOPED_TRACE(screen.right);
    RECT rcBar{0, 0, screen.right, 75};
    bar->PinToRect(rcBar);
    bar->Update(screen);
    // l12/800, l5/800 and l68/800 read as pixels in both orientations.
    EXPECT_EQ(Window(bar.get(), 60), (RECT{12, 5, 80, 73}));
    EXPECT_EQ(Window(bar.get(), 61), (RECT{102, 16, screen.right, 66}));
    EXPECT_EQ(bar->GetRect(CLayoutNode::SpaceWindow), rcBar);
  }
  // Against the bar's own rectangle the same tree would shrink to 480/800.
  bar->Update(RECT{0, 0, 480, 75});
  EXPECT_EQ(Window(bar.get(), 60), (RECT{7, 3, 48, 43}));
}

TEST(LayoutPassRectangle, VariantsAndRepinningFollowTheControl) {
  auto bar = EditBarTree();
  bar->SelectVariants(10, 1);
  bar->PinToRect(RECT{0, 0, 480, 75});
  bar->Update(kPortrait);
  EXPECT_EQ(Window(bar.get(), 62), (RECT{384, 5, 468, 71}));
  EXPECT_EQ(Window(bar.get(), 61), (RECT{102, 16, 362, 66}));
  EXPECT_TRUE(bar->FindNode(62, -1)->IsVisible());

  // The control moved: the pin is replaced, not added to.
  bar->PinToRect(RECT{10, 100, 490, 175});
  bar->Update(kPortrait);
  EXPECT_EQ(Window(bar.get(), 60), (RECT{22, 105, 90, 173}));
  EXPECT_EQ(bar->FindNode(60, -1)->GetRect(CLayoutNode::SpaceStored), (RECT{12, 5, 80, 73}));
}

TEST(LayoutPassRectangle, PictureSizeFollowsTheScreensSmallerSide) {
  // Frame #213: 208 px of P wide, half of P high; picture #214: s64/240 square.
  auto panel = CLayoutNode::CreateRoot();
  panel->BeginChild().SetId(213, -1)
      .SetHorizontalEdge(Edge(1, 2, -2, 1, 2)).SetWidth(Size(V::Constant(208), -2))
      .SetVerticalEdge(Edge(0, 1, -2, 0, 1)).SetHeight(Size(V::Height(1, 2), -2))
      .BeginChild().SetId(214, -1)
      .SetHorizontalEdge(Edge(1, 2, -2, 1, 2)).SetWidth(Size(V::MinSide(64, 240)))
      .SetVerticalEdge(Edge(1, 2, -2, 1, 2)).SetHeight(Size(V::MinSide(64, 240)))
      .EndChild().EndChild();
  struct Case {
    RECT screen, panel;
    int32_t side;
  } cases[] = {{kPortrait, {0, 75, 480, 800}, 128}, {kLandscape, {0, 75, 800, 480}, 128},
               {{0, 0, 240, 320}, {0, 30, 240, 320}, 64}, {kPortrait, {0, 0, 150, 300}, 128}};
  for (const Case& c : cases) {
    panel->PinToRect(c.panel);
    panel->Update(c.screen);
    CLayoutNode* frame = panel->FindNode(213, -1);
    EXPECT_EQ(frame->GetWidth(), 208);  // overhangs a panel narrower than 208 px
    EXPECT_EQ(frame->GetRect(CLayoutNode::SpaceStored).left, (c.panel.right - c.panel.left - 208) / 2);
    EXPECT_EQ(panel->FindNode(214, -1)->GetLocalRect(), (RECT{0, 0, c.side, c.side}));
  }
}

// ---------------------------------------------------------------------------
// Values and arithmetic

TEST(LayoutValue, KindsEvaluateAgainstTheReference) {
  const RECT q{10, 20, 110, 320};  // 100 x 300
  EXPECT_EQ(V::Constant(7, 2).Evaluate(q), TFraction(3, 1));
  EXPECT_EQ(V::Constant(-7, 2).Evaluate(q), TFraction(-3, 1));
  EXPECT_EQ(V::Height(1, 3).Evaluate(q), TFraction(100, 1));
  EXPECT_EQ(V::Width(1, 8).Evaluate(q), TFraction(25, 2));
  EXPECT_EQ(V::MinSide(1, 3).Evaluate(q), TFraction(100, 3));
  EXPECT_EQ(V::MaxSide(1, 2).Evaluate(q), TFraction(150, 1));
  EXPECT_EQ(V::Horizontal(1, 4).Evaluate(q), TFraction(35, 1));
  EXPECT_EQ(V::Vertical(1, 2).Evaluate(q), TFraction(170, 1));
  EXPECT_EQ(CLayoutValue(9, TFraction(-9, 4)).Evaluate(q), TFraction(-2, 1));  // unknown kind: a constant
  EXPECT_EQ(V::MaxSide(5, 800).Negate(), V::MaxSide(-1, 160));
}

TEST(LayoutValue, CoordinatesStayExactUntilTruncatedTowardZero) {
  auto root = CLayoutNode::CreateRoot();
  root->PinToRect(RECT{0, 0, 3, 10});
  // Centred, half the width of a 3 px parent: 3/4 .. 9/4 gives 0 .. 2, not a
  // rounded width of 1.
  root->BeginChild().SetId(1, -1)
      .SetHorizontalEdge(Edge(1, 2, -2, 1, 2)).SetWidth(Size(V::Width(1, 2), -2))
      .SetVerticalEdge(Edge(0, 1, -2, 0, 1, V::Width(-5, 6), -2)).SetHeight(Size(V::Constant(7, 2)))
      .EndChild();
  // Thirds of 100 added back up: 100/3 .. 200/3.
  root->BeginChild().SetId(2, -1)
      .SetHorizontalEdge(Edge(0, 1, -1, 1, 3)).SetHorizontalEdge(Edge(1, 1, -1, 2, 3))
      .SetVerticalEdge(Edge(0, 1, -1, 0, 1)).SetHeight(Size(V::Constant(-7, 2)))
      .EndChild();
  root->Update(RECT{0, 0, 100, 100});
  // Top at -10/4 truncates to -2 and bottom at -10/4 + 3 = 1/2 to 0.
  EXPECT_EQ(root->FindNode(1, -1)->GetRect(CLayoutNode::SpaceStored), (RECT{0, -2, 2, 0}));
  // A negative height is normalised: the rectangle spans -3 .. 0.
  EXPECT_EQ(root->FindNode(2, -1)->GetRect(CLayoutNode::SpaceWindow), (RECT{33, -3, 66, 0}));
}

TEST(LayoutValue, ResultsOutsideThirtyTwoBitsPanicInsteadOfWrapping) {
  auto solve = [](CLayoutValue offset, CLayoutValue width) {
    auto root = CLayoutNode::CreateRoot();
    root->SetHorizontalEdge(Edge(0, 1, -1, 0, 1, offset)).SetWidth(Size(width));
    root->SetVerticalEdge(Edge(0, 1, -1, 0, 1)).SetHeight(Size(V::Constant(1)));
    root->Update(kPortrait);
    return root->GetRect(CLayoutNode::SpaceWindow);
  };
  EXPECT_EQ(solve(V::Constant(INT32_MAX - 10), V::Constant(10)).right, INT32_MAX);
  EXPECT_EQ(PanicLine([&] { solve(V::MaxSide(INT32_MAX, 1), V::Constant(1)); }), 1350);
  // 1/p + 1/q for large coprime p, q has a denominator beyond 32 bits.
  EXPECT_EQ(PanicLine([&] { solve(V::Width(1, INT32_MAX), V::Width(1, INT32_MAX - 1)); }), 1350);
  EXPECT_EQ(PanicLine([&] { solve(V::Constant(INT32_MAX), V::Constant(1)); }), 1350);
  EXPECT_EQ(PanicLine([] { V::Constant(INT32_MIN).Negate(); }), 1350);
  try {
    V::MaxSide(5, 0);
    ADD_FAILURE() << "a zero denominator was accepted";
  } catch (const TPanic& p) {
    EXPECT_EQ(std::u16string(p.source), u"basetypes");
  }
}

// ---------------------------------------------------------------------------
// Solving

TEST(LayoutSolve, AnchorsAndOffsetReferences) {
  auto root = CLayoutNode::CreateRoot();
  // #48 turns 15/480 of the smaller side into a length used as an offset.
  root->BeginChild().SetId(48, -1)
      .SetHorizontalEdge(Edge(0, 1, -1, 0, 1)).SetWidth(Size(V::MinSide(15, 480)))
      .SetVerticalEdge(Edge(0, 1, -1, 0, 1)).SetHeight(Size(V::MinSide(15, 480)))
      .EndChild();
  root->BeginChild().SetId(43, -1)
      .SetHorizontalEdge(Edge(1, 2, -2, 1, 2)).SetWidth(Size(V::MaxSide(424, 800)))
      .SetVerticalEdge(Edge(0, 1, -2, 0, 1, V::Height(1, 1), 48))
      .SetVerticalEdge(Edge(1, 1, -2, 1, 1, V::Height(-1, 1), 48))
      .EndChild();
  root->BeginChild().SetId(44, -1)  // left and right edges given directly, on #43
      .SetHorizontalEdge(Edge(0, 1, 43, 1, 1)).SetHorizontalEdge(Edge(1, 1, -2, 1, 1))
      .SetVerticalEdge(Edge(0, 1, 43, 0, 1)).SetVerticalEdge(Edge(1, 1, 43, 1, 2))
      .EndChild();
  root->PinToRect(kPortrait);
  root->Update(kPortrait);
  EXPECT_EQ(Window(root.get(), 43), (RECT{28, 15, 452, 785}));
  EXPECT_EQ(Window(root.get(), 44), (RECT{452, 15, 480, 400}));
  root->PinToRect(kLandscape);
  root->Update(kLandscape);
  EXPECT_EQ(Window(root.get(), 43), (RECT{188, 15, 612, 465}));
}

TEST(LayoutSolve, InconsistentTreesPanicWithTheirLine) {
  auto root = CLayoutNode::CreateRoot();
  root->PinToRect(kPortrait);
  root->BeginChild().SetId(1, -1).EndChild();
  CLayoutNode* n = root->FindNode(1, -1);  // a node is its own builder too
  auto update = [&] { root->Update(kPortrait); };
  EXPECT_EQ(PanicLine(update), 876);  // no variant at all
  n->AddVariant(Cond(3, 1));
  EXPECT_EQ(PanicLine(update), 876);  // only a keyed variant, never selected
  n->SelectVariants(3, 1);
  n->SetHorizontalEdge(Edge(0, 1, -2, 0, 1));
  EXPECT_EQ(PanicLine(update), 894);  // edge 1 alone
  n->SetWidth(Size(V::Constant(5)));
  EXPECT_EQ(PanicLine(update), 926);  // nothing vertical
  n->SetVerticalEdge(Edge(0, 1, -2, 0, 1)).SetVerticalEdge(Edge(1, 1, -2, 1, 1));
  EXPECT_NO_THROW(update());

  // What the builder never produces, a corrupted variant still must not solve.
  CLayoutVariant* v = n->GetCurrentVariant();
  v->m_x.m_bEdge2 = true;  // two edges and a size
  EXPECT_EQ(PanicLine(update), 894);
  v->m_x.m_bSize = false;  // edge 2 keeps own fraction 0, like edge 1
  EXPECT_EQ(PanicLine(update), 908);
  v->m_x.m_bEdge2 = false;
  v->m_x.m_bSize = true;
  v->m_y.m_edge2.m_ownFraction = TFraction(0, 1);
  EXPECT_EQ(PanicLine(update), 940);
  // The pass stopped: nothing reads as laid out.
  EXPECT_EQ(PanicLine([&] { n->GetWidth(); }), 1265);

  // Anchoring to a sibling that is solved later.
  auto other = CLayoutNode::CreateRoot();
  other->PinToRect(kPortrait);
  other->BeginChild().EndChild().BeginChild();
  Fill(*other).EndChild();
  CLayoutNode* first = other->GetFirstChild();
  CLayoutEdgeSpec below = Edge(0, 1, -1, 1, 1);
  below.m_pAnchor = first->GetNextSibling();
  first->SetHorizontalEdge(Edge(0, 1, -2, 0, 1)).SetWidth(Size(V::Constant(1)));
  first->SetVerticalEdge(below).SetHeight(Size(V::Constant(1)));
  EXPECT_EQ(PanicLine([&] { other->Update(kPortrait); }), 61);
}

// ---------------------------------------------------------------------------
// Variants

TEST(LayoutVariants, SelectionLeavesNodesWithoutTheKeyAlone) {
  auto root = CLayoutNode::CreateRoot();
  root->PinToRect(kPortrait);
  auto sized = [&](int32_t w) -> CLayoutBuilder& {
    return root->SetHorizontalEdge(Edge(0, 1, -2, 0, 1)).SetWidth(Size(V::Constant(w)))
        .SetVerticalEdge(Edge(0, 1, -2, 0, 1)).SetVerticalEdge(Edge(1, 1, -2, 1, 1));
  };
  CLayoutCondition orientation;
  orientation.Set(0).Set(1).Set(1);
  root->BeginChild().SetId(1, -1);  // default 480 wide; key 0 (value 1, mask 1): 10
  Fill(*root).AddVariant(orientation);
  sized(10).EndChild();
  root->BeginChild().SetId(2, -1);  // default; key 5 = 1: 20
  Fill(*root).AddVariant(Cond(5, 1));
  sized(20).EndChild();
  root->BeginChild().SetId(3, -1);  // default; key 5 = 1: 30; key 0 = 1: 40
  Fill(*root).AddVariant(Cond(5, 1));
  sized(30).AddVariant(Cond(0, 1));
  sized(40).EndChild();
  auto widths = [&] {
    root->Update(kPortrait);
    std::vector<int32_t> w;
    for (int32_t id : {1, 2, 3}) w.push_back(root->FindNode(id, -1)->GetWidth());
    return w;
  };
  EXPECT_EQ(widths(), (std::vector<int32_t>{480, 480, 480}));
  root->SelectVariants(0, 1);
  EXPECT_EQ(widths(), (std::vector<int32_t>{10, 480, 40}));
  // Key 5: #1 has no such variant and keeps its keyed one; on #3 two variants
  // are active now and the first in list order wins.
  root->SelectVariants(5, 1);
  EXPECT_EQ(widths(), (std::vector<int32_t>{10, 20, 30}));
  // 3 AND 1 = 1 still matches #1's mask; on #3 no key-0 variant matches, so
  // its default comes back and, being first in the list, is used.
  root->SelectVariants(0, 3);
  EXPECT_EQ(widths(), (std::vector<int32_t>{10, 20, 480}));
  root->SelectVariants(0, 2);
  EXPECT_EQ(widths(), (std::vector<int32_t>{480, 20, 480}));

  // Only nodes whose used variant changed need a pass before they are read.
  root->SelectVariants(5, 0);
  EXPECT_TRUE(root->FindNode(1, -1)->IsLaidOut());
  EXPECT_EQ(PanicLine([&] { root->FindNode(2, -1)->GetRect(CLayoutNode::SpaceWindow); }), 1239);
  root->ResetVariants();
  EXPECT_FALSE(root->IsLaidOut());
  EXPECT_EQ(widths(), (std::vector<int32_t>{480, 480, 480}));
}

// ---------------------------------------------------------------------------
// Extent, visibility, scrolling

TEST(LayoutExtent, DeepExtentLetsALaterSiblingUseAnEarlierSiblingsChild) {
  for (bool bDeep : {true, false}) {
    SCOPED_TRACE(bDeep);
    auto root = CLayoutNode::CreateRoot();
    root->PinToRect(kPortrait);
    CLayoutNode* inner = nullptr;
    root->BeginChild();
    Fill(*root).BeginChild().StoreNode(&inner)
        .SetHorizontalEdge(Edge(0, 1, -2, 0, 1)).SetHorizontalEdge(Edge(1, 1, -2, 1, 1))
        .SetVerticalEdge(Edge(0, 1, -2, 0, 1, V::Constant(100))).SetHeight(Size(V::Constant(50)))
        .EndChild().EndChild();
    CLayoutEdgeSpec below = Edge(0, 1, -1, 1, 1);
    below.m_ppAnchorVar = &inner;
    root->BeginChild().SetId(3, -1)
        .SetHorizontalEdge(Edge(0, 1, -2, 0, 1)).SetWidth(Size(V::Constant(5)))
        .SetVerticalEdge(below).SetHeight(Size(V::Constant(10)));
    root->SetDeepExtent(bDeep);  // the description's node, not the cursor (#3)
    root->EndChild();
    if (bDeep) {
      root->Update(kPortrait);
      EXPECT_EQ(Window(root.get(), 3), (RECT{0, 150, 5, 160}));
    } else {
      EXPECT_EQ(PanicLine([&] { root->Update(kPortrait); }), 61);
    }
  }
}

TEST(LayoutVisibility, ALayoutHiddenParentHidesItsSubtree) {
  auto root = CLayoutNode::CreateRoot();
  root->PinToRect(kPortrait);
  root->BeginChild().SetId(1, -1);
  Fill(*root).SetVisible(false)
      .BeginChild().SetId(2, -1);
  Fill(*root).SetVisible(true)
      .BeginChild().SetId(3, -1);
  Fill(*root).EndChild().EndChild().EndChild();
  root->BeginChild().SetId(4, -1);
  Fill(*root).SetVisible(false).ClearVisible()
      .BeginChild().SetId(5, -1);
  Fill(*root).SetVisible(false).EndChild()
      .BeginChild().SetId(6, -1);
  Fill(*root).EndChild().EndChild();
  root->Update(kPortrait);
  struct Expect {
    int32_t id;
    bool bVisible, bFree;
  } expects[] = {{1, false, false}, {2, false, false}, {3, false, false},
                 {4, false, true},  {5, false, false}, {6, true, true}};
  for (const Expect& e : expects) {
    SCOPED_TRACE(e.id);
    EXPECT_EQ(root->FindNode(e.id, -1)->IsVisible(), e.bVisible);
    EXPECT_EQ(root->FindNode(e.id, -1)->IsVisibilityFree(), e.bFree);
  }
}

TEST(LayoutScroll, ClampsToTheContentAndTellsOnlyOnChange) {
  std::vector<int> log;
  Recorder rRoot(&log, 1), rTall(&log, 2);
  auto root = CLayoutNode::CreateRoot();
  root->PinToRect(RECT{0, 0, 480, 600});
  root->BeginChild().SetId(2, -1)
      .SetHorizontalEdge(Edge(0, 1, -2, 0, 1)).SetWidth(Size(V::Constant(100)))
      .SetVerticalEdge(Edge(0, 1, -2, 0, 1)).SetHeight(Size(V::Constant(1000)))
      .BeginChild().SetId(3, -1);  // content smaller than the node
  Fill(*root).EndChild().EndChild();
  CLayoutNode* tall = root->FindNode(2, -1);
  CLayoutNode* small = root->FindNode(3, -1);
  root->SetObserver(&rRoot);
  tall->SetObserver(&rTall);
  EXPECT_EQ(PanicLine([&] { root->SetScrollPos(0, 1); }), 1310);
  root->Update(kPortrait);
  EXPECT_EQ(root->GetContentRect(CLayoutNode::SpaceOwn), (RECT{0, 0, 480, 1000}));
  EXPECT_EQ(small->GetContentRect(CLayoutNode::SpaceOwn), small->GetLocalRect());
  small->SetScrollPos(30, 30);
  EXPECT_EQ(small->GetScrollY(), 0);

  log.clear();
  root->SetScrollPos(50, 5000);  // beyond the end: content - size
  EXPECT_EQ(root->GetScrollX(), 0);
  EXPECT_EQ(root->GetScrollY(), 400);
  EXPECT_EQ(log, (std::vector<int>{1, 2}));
  EXPECT_EQ(tall->GetRect(CLayoutNode::SpaceWindow).top, -400);
  EXPECT_EQ(tall->GetRect(CLayoutNode::SpaceStored).top, 0);
  log.clear();
  root->SetScrollPos(0, 9999);  // clamps to where it already is
  root->SetScrollPos(0, 400);
  EXPECT_TRUE(log.empty());
  root->SetScrollPos(0, -3);
  EXPECT_EQ(root->GetScrollY(), 0);
  EXPECT_EQ(log, (std::vector<int>{1, 2}));
  // A pass keeps the position, clamped to the new content.
  root->SetScrollPos(0, 250);
  root->PinToRect(RECT{0, 0, 480, 900});
  root->Update(kPortrait);
  EXPECT_EQ(root->GetScrollY(), 100);
}

// ---------------------------------------------------------------------------
// Observers, notifications, offsets

TEST(LayoutNotify, EveryObserverRunsAndTheFirstCodeIsThrownAfterwards) {
  std::vector<int> log;
  Recorder r1(&log, 1), r2(&log, 2, 7), r3(&log, 3, 5), r4(&log, 4);
  auto root = CLayoutNode::CreateRoot();
  root->PinToRect(kPortrait);
  root->BeginChild().SetId(2, -1);
  Fill(*root).EndChild().BeginChild().SetId(3, -1);
  Fill(*root).BeginChild().SetId(4, -1);
  Fill(*root).EndChild().EndChild();
  root->SetObserver(&r1);
  root->FindNode(2, -1)->SetObserver(&r2);
  root->FindNode(3, -1)->SetObserver(&r3);
  root->FindNode(4, -1)->SetObserver(&r4);
  auto code = [](auto&& f) {
    try {
      f();
    } catch (const Env::TSysErrorCode& e) {
      return e.code;
    }
    return 0;
  };
  EXPECT_EQ(code([&] { root->Update(kPortrait); }), 7);
  EXPECT_EQ(log, (std::vector<int>{1, 2, 3, 4}));
  log.clear();
  EXPECT_EQ(code([&] { root->FindNode(3, -1)->Update(kPortrait); }), 5);  // whole pass, subtree told
  EXPECT_EQ(log, (std::vector<int>{3, 4}));
  EXPECT_TRUE(root->FindNode(2, -1)->IsLaidOut());

  log.clear();
  root->EnableNotifications(false);
  EXPECT_EQ(code([&] { root->Update(kPortrait); }), 0);
  EXPECT_EQ(code([&] { root->Notify(); }), 0);
  EXPECT_EQ(code([&] { root->SetOffset(1, 1); }), 0);
  EXPECT_TRUE(log.empty());
  root->EnableNotifications(true);
  EXPECT_EQ(code([&] { root->Notify(); }), 7);
  EXPECT_EQ(log, (std::vector<int>{1, 2, 3, 4}));

  // Deleting tells each observer first, in tree order.
  log.clear();
  root.reset();
  EXPECT_EQ(log, (std::vector<int>{-1, -2, -3, -4}));
}

TEST(LayoutNotify, OffsetTellsAtOnceAndMovesTheSubtreeAtTheNextPass) {
  std::vector<int> log;
  Recorder r1(&log, 1), r2(&log, 2);
  auto root = CLayoutNode::CreateRoot();
  root->PinToRect(kPortrait);
  root->BeginChild().SetId(1, -1)
      .SetHorizontalEdge(Edge(0, 1, -2, 0, 1, V::Constant(10))).SetWidth(Size(V::Constant(100)))
      .SetVerticalEdge(Edge(0, 1, -2, 0, 1, V::Constant(20))).SetHeight(Size(V::Constant(100)))
      .BeginChild().SetId(2, -1);
  Fill(*root).EndChild().EndChild();
  CLayoutNode* n1 = root->FindNode(1, -1);
  CLayoutNode* n2 = root->FindNode(2, -1);
  n1->SetObserver(&r1);
  n2->SetObserver(&r2);
  n1->SetOffset(3, 4);  // not laid out yet: nobody to tell
  EXPECT_TRUE(log.empty());
  root->Update(kPortrait);
  EXPECT_EQ(n2->GetRect(CLayoutNode::SpaceWindow), (RECT{13, 24, 113, 124}));
  log.clear();
  n1->SetOffset(3, 4);
  EXPECT_TRUE(log.empty());
  n1->SetOffset(-10, 0);
  EXPECT_EQ(log, (std::vector<int>{1, 2}));
  EXPECT_EQ(n2->GetRect(CLayoutNode::SpaceWindow), (RECT{13, 24, 113, 124}));
  root->Update(kPortrait);
  EXPECT_EQ(n2->GetRect(CLayoutNode::SpaceWindow), (RECT{0, 20, 100, 120}));
}

// ---------------------------------------------------------------------------
// Measuring, conversions, reads

struct Measurer {
  RECT rcSeen{-1, -1, -1, -1};
  void* pSeen = nullptr;
  RECT rcAnswer;
  RECT Measure(const RECT& rc, void* pArgument) {
    rcSeen = rc;
    pSeen = pArgument;
    return rcAnswer;
  }
};

TEST(LayoutMeasure, TheAnswerIsPlacedAtTheSolvedCorner) {
  auto root = CLayoutNode::CreateRoot();
  root->PinToRect(kPortrait);
  root->BeginChild().SetId(1, -1)
      .SetHorizontalEdge(Edge(0, 1, -2, 0, 1, V::Constant(10))).SetWidth(Size(V::Constant(100)))
      .SetVerticalEdge(Edge(0, 1, -2, 0, 1, V::Constant(20))).SetHeight(Size(V::Constant(0)))
      .EndChild()
      .BeginChild().SetId(2, -1)  // follows the measured text
      .SetHorizontalEdge(Edge(0, 1, -2, 0, 1)).SetWidth(Size(V::Constant(5)))
      .SetVerticalEdge(Edge(0, 1, 1, 1, 1)).SetHeight(Size(V::Constant(5)))
      .EndChild();
  CLayoutNode* text = root->FindNode(1, -1);
  Measurer m;
  int tag = 0;
  m.rcAnswer = RECT{0, 0, 100, 37};
  text->SetMeasureHandler(LayoutMeasureDelegate<&Measurer::Measure>(&m, &tag));
  root->Update(kPortrait);
  EXPECT_EQ(m.rcSeen, (RECT{0, 0, 100, 0}));
  EXPECT_EQ(m.pSeen, &tag);
  EXPECT_EQ(text->GetMeasureRect(), m.rcSeen);
  EXPECT_EQ(text->GetRect(CLayoutNode::SpaceWindow), (RECT{10, 20, 110, 57}));
  EXPECT_EQ(Window(root.get(), 2).top, 57);
  m.rcAnswer = RECT{5, 6, 50, 16};
  root->Update(kPortrait);
  EXPECT_EQ(text->GetRect(CLayoutNode::SpaceWindow), (RECT{15, 26, 60, 36}));
  text->SetMeasureHandler(CDelegate(&m, nullptr, nullptr));  // no function: all zeros
  root->Update(kPortrait);
  EXPECT_EQ(text->GetRect(CLayoutNode::SpaceWindow), (RECT{10, 20, 10, 20}));
  text->SetMeasureHandler(CDelegate());
  root->Update(kPortrait);
  EXPECT_EQ(text->GetRect(CLayoutNode::SpaceWindow), (RECT{10, 20, 110, 20}));
}

TEST(LayoutConvert, SpacesRoundTripThroughScrollPositions) {
  auto root = CLayoutNode::CreateRoot();
  root->PinToRect(RECT{100, 50, 580, 850});
  root->BeginChild().SetId(1, -1)
      .SetHorizontalEdge(Edge(0, 1, -2, 0, 1, V::Constant(10))).SetWidth(Size(V::Constant(200)))
      .SetVerticalEdge(Edge(0, 1, -2, 0, 1, V::Constant(20))).SetHeight(Size(V::Constant(300)))
      .BeginChild().SetId(2, -1)
      .SetHorizontalEdge(Edge(0, 1, -2, 0, 1)).SetWidth(Size(V::Constant(200)))
      .SetVerticalEdge(Edge(0, 1, -2, 0, 1)).SetHeight(Size(V::Constant(1000)))
      .EndChild().EndChild()
      .BeginChild()  // makes the root's content taller than the root
      .SetHorizontalEdge(Edge(0, 1, -2, 0, 1)).SetWidth(Size(V::Constant(1)))
      .SetVerticalEdge(Edge(0, 1, -2, 0, 1)).SetHeight(Size(V::Constant(1200)))
      .EndChild();
  root->Update(RECT{0, 0, 1000, 1000});
  CLayoutNode* n1 = root->FindNode(1, -1);
  CLayoutNode* n2 = root->FindNode(2, -1);
  n1->SetScrollPos(0, 40);
  root->SetScrollPos(0, 7);
  EXPECT_EQ(n2->GetRect(CLayoutNode::SpaceWindow), (RECT{110, 23, 310, 1023}));
  EXPECT_EQ(n1->ConvertRect(RECT{0, 0, 1, 1}, CLayoutNode::SpaceContent, CLayoutNode::SpaceOwn),
            (RECT{0, -40, 1, -39}));
  const RECT rc{3, 4, 30, 40};
  for (CLayoutNode* n : {root.get(), n1, n2})
    for (int32_t a = 0; a <= 4; ++a)
      for (int32_t b = 0; b <= 4; ++b)
        EXPECT_EQ(n->ConvertRect(n->ConvertRect(rc, a, b), b, a), rc) << a << "->" << b;
  // At the root, the stored space is its own and the parent content its content.
  EXPECT_EQ(root->ConvertRect(rc, CLayoutNode::SpaceStored, CLayoutNode::SpaceOwn), rc);
  EXPECT_EQ(root->ConvertRect(rc, CLayoutNode::SpaceParentContent, CLayoutNode::SpaceContent), rc);
  EXPECT_EQ(n1->ConvertRect(rc, CLayoutNode::SpaceOwn, 9), RECT{});
  EXPECT_EQ(n1->ConvertRect(rc, 9, CLayoutNode::SpaceWindow), RECT{});
  EXPECT_EQ(n1->ConvertRect(rc, -1, CLayoutNode::SpaceOwn), (RECT{-110, -63, -110, -63}));
}

TEST(LayoutRead, EveryReadBeforeAPassPanicsWithItsLine) {
  auto root = CLayoutNode::CreateRoot();
  Fill(*root);
  const CLayoutNode* n = root.get();
  std::pair<int32_t, std::function<void()>> reads[] = {
      {1239, [&] { n->GetRect(0); }},       {1252, [&] { n->GetContentRect(0); }},
      {1265, [&] { n->GetWidth(); }},       {1274, [&] { n->GetHeight(); }},
      {1283, [&] { n->GetLocalRect(); }},   {1292, [&] { n->IsVisible(); }},
      {1301, [&] { n->IsVisibilityFree(); }}, {1197, [&] { n->ConvertRect(RECT{}, 0, 1); }},
      {1310, [&] { root->SetScrollPos(0, 0); }},
  };
  for (auto& [line, read] : reads) EXPECT_EQ(PanicLine(read), line);
  EXPECT_EQ(root->GetMeasureRect(), RECT{});  // no check: handlers read it mid-pass
}

// ---------------------------------------------------------------------------
// Tree operations

TEST(LayoutTree, FindNodeSearchesChildrenBeforeGrandchildren) {
  auto root = CLayoutNode::CreateRoot();
  root->BeginChild().SetId(1, -1).BeginChild().SetId(7, 0).EndChild().EndChild();
  root->BeginChild().SetId(7, 1).EndChild();
  for (int32_t i = 0; i < 3; ++i) root->BeginChild().SetId(119, i).EndChild();
  root->SetId(5, -1);
  EXPECT_EQ(root->FindNode(5, -1), root.get());
  EXPECT_EQ(root->FindNode(7, -1)->GetSubId(), 1);
  EXPECT_EQ(root->FindNode(7, 0)->GetParent()->GetId(), 1);
  EXPECT_EQ(root->FindNode(119, 2)->GetSubId(), 2);
  EXPECT_EQ(root->FindNode(119, 3), nullptr);
  EXPECT_TRUE(CLayoutNode::IsSelfOrAncestor(root->FindNode(7, 0), root.get()));
  EXPECT_FALSE(CLayoutNode::IsSelfOrAncestor(root->FindNode(7, 0), root->FindNode(7, 1)));
  EXPECT_TRUE(CLayoutNode::IsSelfOrAncestor(root.get(), nullptr));
}

TEST(LayoutTree, ClearDropsTheSubtreeWithoutLeavingDanglingReferences) {
  std::vector<int> log;
  Recorder r2(&log, 2), r3(&log, 3);
  auto root = CLayoutNode::CreateRoot();
  root->PinToRect(kPortrait);
  root->SetDeepExtent(true);
  root->BeginChild().SetId(1, -1);
  Fill(*root).BeginChild().SetId(2, -1);
  Fill(*root).BeginChild().SetId(3, -1);
  Fill(*root).EndChild().EndChild().EndChild();
  root->BeginChild().SetId(4, -1);  // anchored inside what is cleared
  Fill(*root).SetVerticalEdge(Edge(0, 1, 3, 1, 1)).SetHeight(Size(V::Constant(1))).EndChild();
  root->FindNode(2, -1)->SetObserver(&r2);
  root->FindNode(3, -1)->SetObserver(&r3);
  root->Update(kPortrait);

  CLayoutNode* n1 = root->FindNode(1, -1);
  CLayoutVariant* pVariant = n1->GetFirstVariant();
  n1->BeginChild().BeginChild();  // a description on #1 that stopped half-way
  log.clear();
  n1->Clear();
  EXPECT_EQ(log, (std::vector<int>{-2, -3}));
  EXPECT_EQ(n1->GetFirstChild(), nullptr);
  EXPECT_EQ(n1->GetFirstVariant(), pVariant);
  EXPECT_EQ(n1->GetCursor(), n1);
  // #4's anchor is gone: a reference not laid out, not freed memory.
  EXPECT_EQ(PanicLine([&] { root->Update(kPortrait); }), 61);
  root->FindNode(4, -1)->SetVerticalEdge(Edge(0, 1, -2, 0, 1)).SetHeight(Size(V::Constant(1)));
  EXPECT_NO_THROW(root->Update(kPortrait));

  // An ancestor's cursor inside the cleared part returns to the cleared node.
  auto tree = CLayoutNode::CreateRoot();
  tree->BeginChild().SetId(1, -1).BeginChild().BeginChild();
  CLayoutNode* a = tree->FindNode(1, -1);
  a->Clear();
  EXPECT_EQ(tree->GetCursor(), a);
  tree->BeginChild().EndChild().EndChild();
  EXPECT_EQ(a->GetFirstChild()->GetParent(), a);
  EXPECT_EQ(tree->GetCursor(), tree.get());
}

}  // namespace
