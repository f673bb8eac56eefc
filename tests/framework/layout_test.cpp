#include "framework/layout.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <utility>
#include <vector>

#include "framework/layout_test_support.h"

using namespace layout_test;

namespace {

using N = CLayoutNode;

// Trees a control lays out are pinned to its screen rectangle and solved
// against the whole screen, so s/l/h/w fractions measure the screen. The edit
// bar's content tree: back button #60, right-hand button #62, title #61.
std::unique_ptr<N> EditBarTree() {
  auto root = N::CreateRoot();
  CLayoutBuilder& b = *root;
  b.BeginChild().SetId(60, -1)
      .SetHorizontalEdge(Edge(0, 1, -2, 0, 1, V::MaxSide(12, 800))).SetWidth(Size(V::MaxSide(68, 800)))
      .SetVerticalEdge(Edge(0, 1, -2, 0, 1, V::MaxSide(5, 800))).SetHeight(Size(V::MaxSide(68, 800)))
      .EndChild();
  b.BeginChild().SetId(62, -1).AddVariant(Cond(10, 0));
  b.SetHorizontalEdge(Edge(1, 1, -2, 1, 1)).SetWidth(Size(V::Constant(0)))
      .SetVerticalEdge(Edge(0, 1, -2, 0, 1)).SetHeight(Size(V::Constant(0)))
      .SetVisible(false).AddVariant(Cond(10, 1))
      .SetHorizontalEdge(Edge(1, 1, -2, 1, 1, V::MaxSide(12, 800).Negate())).SetWidth(Size(V::MaxSide(84, 800)))
      .SetVerticalEdge(Edge(0, 1, -2, 0, 1, V::MaxSide(5, 800))).SetHeight(Size(V::MaxSide(66, 800)))
      .SetVisible(true).EndChild();
  b.BeginChild().SetId(61, -1);
  for (int32_t key : {0, 1}) {
    b.AddVariant(Cond(10, key))
        .SetHorizontalEdge(key ? Edge(1, 1, 62, 0, 1, V::MaxSide(22, 800).Negate()) : Edge(1, 1, -2, 1, 1))
        .SetHorizontalEdge(Edge(0, 1, 60, 1, 1, V::MaxSide(22, 800)))
        .SetVerticalEdge(Edge(1, 2, -2, 1, 2, V::MaxSide(4, 800))).SetHeight(Size(V::MaxSide(50, 800)));
  }
  b.EndChild();
  root->SelectVariants(10, 0);
  return root;
}

TEST(LayoutPassRectangle, ControlTreesMeasureTheScreenNotTheControl) {
  auto bar = EditBarTree();
  for (const RECT& screen : {kPortrait, kLandscape}) {
    bar->PinToRect(RECT{0, 100, screen.right, 175});
    bar->Update(screen);
    EXPECT_EQ(Win(bar, 60), (RECT{12, 105, 80, 173}));  // l12/800 etc. read as pixels
    EXPECT_EQ(Win(bar, 61), (RECT{102, 116, screen.right, 166}));
  }
  bar->SelectVariants(10, 1);
  bar->PinToRect(RECT{10, 0, 490, 75});  // the control moved: the pin is replaced
  bar->Update(kPortrait);
  EXPECT_EQ(Win(bar, 62), (RECT{394, 5, 478, 71}));
  EXPECT_EQ(Win(bar, 61), (RECT{112, 16, 372, 66}));
  EXPECT_EQ(bar->FindNode(60, -1)->GetRect(N::SpaceStored), (RECT{12, 5, 80, 73}));
  bar->Update(RECT{0, 0, 480, 75});  // against a bar-sized rectangle everything shrinks
  EXPECT_EQ(Win(bar, 60), (RECT{17, 3, 58, 43}));
}

TEST(LayoutPassRectangle, PictureFollowsTheScreensSmallerSide) {
  // Frame #213: 208 px of P wide, half of P high; picture #214: s64/240 square.
  auto panel = N::CreateRoot();
  panel->BeginChild().SetId(213, -1)
      .SetHorizontalEdge(Edge(1, 2, -2, 1, 2)).SetWidth(Size(V::Constant(208), -2))
      .SetVerticalEdge(Edge(0, 1, -2, 0, 1)).SetHeight(Size(V::Height(1, 2), -2))
      .BeginChild().SetId(214, -1)
      .SetHorizontalEdge(Edge(1, 2, -2, 1, 2)).SetWidth(Size(V::MinSide(64, 240)))
      .SetVerticalEdge(Edge(1, 2, -2, 1, 2)).SetHeight(Size(V::MinSide(64, 240)));
  struct {
    RECT screen, panel;
    int32_t frameLeft, side;
  } cases[] = {{kPortrait, {0, 75, 480, 800}, 136, 128}, {kLandscape, {0, 75, 800, 480}, 296, 128},
               {{0, 0, 240, 320}, {0, 30, 240, 320}, 16, 64}, {kPortrait, {0, 0, 150, 300}, -29, 128}};
  for (const auto& c : cases) {
    panel->PinToRect(c.panel);
    panel->Update(c.screen);
    EXPECT_EQ(panel->FindNode(213, -1)->GetRect(N::SpaceStored).left, c.frameLeft);  // may overhang
    EXPECT_EQ(panel->FindNode(213, -1)->GetWidth(), 208);
    EXPECT_EQ(panel->FindNode(214, -1)->GetLocalRect(), (RECT{0, 0, c.side, c.side}));
  }
}

TEST(LayoutValue, ExactUntilEachCoordinateTruncatesTowardZero) {
  const RECT q{10, 20, 110, 320};  // 100 x 300
  EXPECT_EQ(V::Constant(7, 2).Evaluate(q), TFraction(3, 1));
  EXPECT_EQ(V::Constant(-7, 2).Evaluate(q), TFraction(-3, 1));
  EXPECT_EQ(V::MinSide(1, 3).Evaluate(q), TFraction(100, 3));
  EXPECT_EQ(V::Horizontal(1, 4).Evaluate(q), TFraction(35, 1));
  EXPECT_EQ(V::Vertical(1, 2).Evaluate(q), TFraction(170, 1));
  EXPECT_EQ(CLayoutValue(9, TFraction(-9, 4)).Evaluate(q), TFraction(-2, 1));  // unknown kind
  EXPECT_EQ(V::MaxSide(5, 800).Negate(), V::MaxSide(-1, 160));

  auto root = N::CreateRoot();
  root->PinToRect(RECT{0, 0, 3, 10});
  // Centred at half the width of a 3 px parent: 3/4 .. 9/4 gives 0 .. 2 (a
  // rounded width would give 1); the top at -5/2 truncates to -2, the bottom
  // at 1/2 to 0.
  root->BeginChild().SetId(1, -1)
      .SetHorizontalEdge(Edge(1, 2, -2, 1, 2)).SetWidth(Size(V::Width(1, 2), -2))
      .SetVerticalEdge(Edge(0, 1, -2, 0, 1, V::Width(-5, 6), -2)).SetHeight(Size(V::Constant(7, 2)))
      .EndChild();
  // Thirds of the pass rectangle; a negative height is normalised.
  root->BeginChild().SetId(2, -1)
      .SetHorizontalEdge(Edge(0, 1, -1, 1, 3)).SetHorizontalEdge(Edge(1, 1, -1, 2, 3))
      .SetVerticalEdge(Edge(0, 1, -1, 0, 1)).SetHeight(Size(V::Constant(-7, 2)));
  root->Update(RECT{0, 0, 100, 100});
  EXPECT_EQ(Win(root, 1), (RECT{0, -2, 2, 0}));
  EXPECT_EQ(Win(root, 2), (RECT{33, -3, 66, 0}));
}

TEST(LayoutValue, ResultsBeyondThirtyTwoBitsPanicInsteadOfWrapping) {
  auto solve = [](CLayoutValue offset, CLayoutValue width) {
    auto root = N::CreateRoot();
    root->SetHorizontalEdge(Edge(0, 1, -1, 0, 1, offset)).SetWidth(Size(width));
    root->SetVerticalEdge(Edge(0, 1, -1, 0, 1)).SetHeight(Size(V::Constant(1)));
    root->Update(kPortrait);
    return root->GetRect(N::SpaceWindow).right;
  };
  EXPECT_EQ(solve(V::Constant(INT32_MAX - 10), V::Constant(10)), INT32_MAX);
  EXPECT_EQ(PanicLine([&] { solve(V::Constant(INT32_MAX), V::Constant(1)); }), 1350);
  // 1/p + 1/q for large coprime p, q: the denominator leaves 32 bits.
  EXPECT_EQ(PanicLine([&] { solve(V::Width(1, INT32_MAX), V::Width(1, INT32_MAX - 1)); }), 1350);
  EXPECT_EQ(PanicLine([] { V::Constant(INT32_MIN).Negate(); }), 1350);
}

TEST(LayoutSolve, InconsistentTreesAndEarlyReadsPanicWithTheirLine) {
  auto root = N::CreateRoot();
  N* n = root.get();  // a node is its own builder too
  std::pair<int32_t, std::function<void()>> reads[] = {
      {1239, [&] { n->GetRect(0); }},       {1252, [&] { n->GetContentRect(0); }},
      {1265, [&] { n->GetWidth(); }},       {1274, [&] { n->GetHeight(); }},
      {1283, [&] { n->GetLocalRect(); }},   {1292, [&] { n->IsVisible(); }},
      {1301, [&] { n->IsVisibilityFree(); }}, {1197, [&] { n->ConvertRect(RECT{}, 0, 1); }},
      {1310, [&] { n->SetScrollPos(0, 0); }},
  };
  for (auto& [line, read] : reads) EXPECT_EQ(PanicLine(read), line);
  EXPECT_EQ(root->GetMeasureRect(), RECT{});  // no check: handlers read it mid-pass

  root->PinToRect(kPortrait);
  root->BeginChild().EndChild();
  n = root->GetFirstChild();
  auto update = [&] { root->Update(kPortrait); };
  EXPECT_EQ(PanicLine(update), 876);  // no variant at all
  n->AddVariant(Cond(3, 1));
  EXPECT_EQ(PanicLine(update), 876);  // a keyed variant never selected
  n->SelectVariants(3, 1);
  n->SetHorizontalEdge(Edge(0, 1, -2, 0, 1));
  EXPECT_EQ(PanicLine(update), 894);  // edge 1 alone
  n->SetWidth(Size(V::Constant(5)));
  EXPECT_EQ(PanicLine(update), 926);  // nothing vertical
  n->SetVerticalEdge(Edge(0, 1, -2, 0, 1)).SetVerticalEdge(Edge(1, 1, -2, 1, 1));
  EXPECT_NO_THROW(update());
  // States the builder never produces must not solve either.
  CLayoutVariant* v = n->GetCurrentVariant();
  v->m_x.m_bEdge2 = true;  // two edges and a size
  EXPECT_EQ(PanicLine(update), 894);
  v->m_x.m_bSize = false;  // edge 2 kept own fraction 0, like edge 1
  EXPECT_EQ(PanicLine(update), 908);
  v->m_x.m_bEdge2 = false;
  v->m_x.m_bSize = true;
  v->m_y.m_edge2.m_ownFraction = TFraction(0, 1);
  EXPECT_EQ(PanicLine(update), 940);
  EXPECT_EQ(PanicLine([&] { n->GetWidth(); }), 1265);  // the pass stopped
}

TEST(LayoutVariants, SelectionLeavesNodesWithoutTheKeyAlone) {
  auto root = N::CreateRoot();
  root->PinToRect(kPortrait);
  CLayoutCondition orientation;
  orientation.Set(0).Set(1).Set(1);
  // Each node fills its parent by default; its keyed variants are w px wide.
  auto node = [&](int32_t id, std::vector<std::pair<CLayoutCondition, int32_t>> variants) {
    Fill(root->BeginChild().SetId(id, -1));
    for (auto& [cond, w] : variants) Box(root->AddVariant(cond), 0, 0, w, 1);
    root->EndChild();
  };
  node(1, {{orientation, 10}});
  node(2, {{Cond(5, 1), 20}});
  node(3, {{Cond(5, 1), 30}, {Cond(0, 1), 40}});
  auto widths = [&] {
    root->Update(kPortrait);
    std::vector<int32_t> w;
    for (N* c = root->GetFirstChild(); c; c = c->GetNextSibling()) w.push_back(c->GetWidth());
    return w;
  };
  using W = std::vector<int32_t>;
  EXPECT_EQ(widths(), (W{480, 480, 480}));
  root->SelectVariants(0, 1);
  EXPECT_EQ(widths(), (W{10, 480, 40}));
  root->SelectVariants(5, 1);  // #1 keeps its state; on #3 the first active wins
  EXPECT_EQ(widths(), (W{10, 20, 30}));
  root->SelectVariants(0, 3);  // 3 AND 1 still matches #1; #3's default returns first
  EXPECT_EQ(widths(), (W{10, 20, 480}));
  root->SelectVariants(0, 2);
  EXPECT_EQ(widths(), (W{480, 20, 480}));
  root->SelectVariants(5, 0);  // only a node whose used variant changed needs a pass
  EXPECT_TRUE(root->FindNode(1, -1)->IsLaidOut());
  EXPECT_FALSE(root->FindNode(2, -1)->IsLaidOut());
  root->ResetVariants();
  EXPECT_FALSE(root->IsLaidOut());
  EXPECT_EQ(widths(), (W{480, 480, 480}));
}

TEST(LayoutExtent, DeepExtentLetsALaterSiblingUseAnEarlierSiblingsChild) {
  for (bool bDeep : {true, false}) {
    auto root = N::CreateRoot();
    root->PinToRect(kPortrait);
    Fill(root->BeginChild());
    Box(root->BeginChild().SetId(2, -1), 0, 100, 480, 50).EndChild().EndChild();
    root->BeginChild().SetId(3, -1).SetHorizontalEdge(Edge(0, 1, -2, 0, 1)).SetWidth(Size(V::Constant(5)))
        .SetVerticalEdge(Edge(0, 1, 2, 1, 1)).SetHeight(Size(V::Constant(10)));
    root->SetDeepExtent(bDeep);  // the description's node, not the cursor (#3)
    if (bDeep) {
      root->Update(kPortrait);
      EXPECT_EQ(Win(root, 3), (RECT{0, 150, 5, 160}));
    } else {
      EXPECT_EQ(PanicLine([&] { root->Update(kPortrait); }), 61);
    }
  }
}

TEST(LayoutVisibility, ALayoutHiddenParentHidesItsSubtree) {
  auto root = N::CreateRoot();
  root->PinToRect(kPortrait);
  Fill(root->BeginChild().SetId(1, -1)).SetVisible(false);
  Fill(root->BeginChild().SetId(2, -1)).SetVisible(true);
  Fill(root->BeginChild().SetId(3, -1)).EndChild().EndChild().EndChild();
  Fill(root->BeginChild().SetId(4, -1)).SetVisible(false).ClearVisible();
  Fill(root->BeginChild().SetId(5, -1)).SetVisible(false).EndChild();
  Fill(root->BeginChild().SetId(6, -1)).EndChild().EndChild();
  root->Update(kPortrait);
  const bool expected[][2] = {{false, false}, {false, false}, {false, false},
                              {false, true},  {false, false}, {true, true}};
  for (int32_t id = 1; id <= 6; ++id) {
    EXPECT_EQ(root->FindNode(id, -1)->IsVisible(), expected[id - 1][0]) << id;
    EXPECT_EQ(root->FindNode(id, -1)->IsVisibilityFree(), expected[id - 1][1]) << id;
  }
}

TEST(LayoutScroll, ClampsToTheContentAndTellsOnlyOnChange) {
  std::vector<int> log;
  Recorder rRoot(&log, 1), rTall(&log, 2);
  auto root = N::CreateRoot();
  root->PinToRect(RECT{0, 0, 480, 600});
  Fill(Box(root->BeginChild().SetId(2, -1), 0, 0, 100, 1000).BeginChild().SetId(3, -1)).EndChild().EndChild();
  N* tall = root->FindNode(2, -1);
  N* small = root->FindNode(3, -1);  // content no larger than itself
  root->SetObserver(&rRoot);
  tall->SetObserver(&rTall);
  root->Update(kPortrait);
  EXPECT_EQ(root->GetContentRect(N::SpaceOwn), (RECT{0, 0, 480, 1000}));
  EXPECT_EQ(small->GetContentRect(N::SpaceOwn), small->GetLocalRect());
  small->SetScrollPos(30, 30);
  EXPECT_EQ(small->GetScrollY(), 0);
  log.clear();
  root->SetScrollPos(50, 5000);  // beyond the end: content - size
  EXPECT_EQ(std::make_pair(root->GetScrollX(), root->GetScrollY()), std::make_pair(0, 400));
  EXPECT_EQ(log, (std::vector<int>{1, 2}));
  EXPECT_EQ(tall->GetRect(N::SpaceWindow).top, -400);
  EXPECT_EQ(tall->GetRect(N::SpaceStored).top, 0);
  root->SetScrollPos(0, 9999);  // clamps to where it already is
  root->SetScrollPos(0, 400);
  EXPECT_EQ(log.size(), 2u);
  root->SetScrollPos(0, -3);
  EXPECT_EQ(root->GetScrollY(), 0);
  EXPECT_EQ(log.size(), 4u);
}

int32_t CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Env::TSysErrorCode& e) {
    return e.code;
  }
  return 0;
}

TEST(LayoutNotify, EveryObserverRunsAndTheFirstCodeIsThrownAfterwards) {
  std::vector<int> log;
  Recorder r1(&log, 1), r2(&log, 2, 7), r3(&log, 3, 5), r4(&log, 4);
  auto root = N::CreateRoot();
  root->PinToRect(kPortrait);
  Fill(root->BeginChild().SetId(2, -1)).EndChild();
  Fill(Fill(root->BeginChild().SetId(3, -1)).BeginChild().SetId(4, -1)).EndChild().EndChild();
  root->SetObserver(&r1);
  root->FindNode(2, -1)->SetObserver(&r2);
  root->FindNode(3, -1)->SetObserver(&r3);
  root->FindNode(4, -1)->SetObserver(&r4);
  EXPECT_EQ(CodeOf([&] { root->Update(kPortrait); }), 7);
  EXPECT_EQ(log, (std::vector<int>{1, 2, 3, 4}));
  log.clear();
  EXPECT_EQ(CodeOf([&] { root->FindNode(3, -1)->Update(kPortrait); }), 5);  // whole pass, subtree told
  EXPECT_EQ(log, (std::vector<int>{3, 4}));
  log.clear();
  root->EnableNotifications(false);
  EXPECT_EQ(CodeOf([&] { root->Update(kPortrait); }), 0);
  EXPECT_EQ(CodeOf([&] { root->Notify(); }), 0);
  EXPECT_EQ(CodeOf([&] { root->SetOffset(1, 1); }), 0);
  EXPECT_TRUE(log.empty());
  root->EnableNotifications(true);
  EXPECT_EQ(CodeOf([&] { root->Notify(); }), 7);
}

TEST(LayoutNotify, OffsetTellsAtOnceAndMovesTheSubtreeAtTheNextPass) {
  std::vector<int> log;
  Recorder r1(&log, 1), r2(&log, 2);
  auto root = N::CreateRoot();
  root->PinToRect(kPortrait);
  Fill(Box(root->BeginChild().SetId(1, -1), 10, 20, 100, 100).BeginChild().SetId(2, -1));
  N* n1 = root->FindNode(1, -1);
  n1->SetObserver(&r1);
  root->FindNode(2, -1)->SetObserver(&r2);
  n1->SetOffset(3, 4);  // not laid out yet: nobody to tell
  EXPECT_TRUE(log.empty());
  root->Update(kPortrait);
  EXPECT_EQ(Win(root, 2), (RECT{13, 24, 113, 124}));
  log.clear();
  n1->SetOffset(3, 4);
  EXPECT_TRUE(log.empty());
  n1->SetOffset(-10, 0);
  EXPECT_EQ(log, (std::vector<int>{1, 2}));
  EXPECT_EQ(Win(root, 2), (RECT{13, 24, 113, 124}));
  root->Update(kPortrait);
  EXPECT_EQ(Win(root, 2), (RECT{0, 20, 100, 120}));
}

struct Measurer {
  RECT rcSeen, rcAnswer;
  void* pSeen = nullptr;
  RECT Measure(const RECT& rc, void* pArgument) {
    rcSeen = rc;
    pSeen = pArgument;
    return rcAnswer;
  }
};

TEST(LayoutMeasure, TheAnswerIsPlacedAtTheSolvedCorner) {
  auto root = N::CreateRoot();
  root->PinToRect(kPortrait);
  Box(root->BeginChild().SetId(1, -1), 10, 20, 100, 0).EndChild();
  root->BeginChild().SetId(2, -1).SetHorizontalEdge(Edge(0, 1, -2, 0, 1)).SetWidth(Size(V::Constant(5)))
      .SetVerticalEdge(Edge(0, 1, 1, 1, 1)).SetHeight(Size(V::Constant(5)));  // follows the text
  N* text = root->FindNode(1, -1);
  Measurer m;
  int tag = 0;
  m.rcAnswer = RECT{0, 0, 100, 37};
  text->SetMeasureHandler(LayoutMeasureDelegate<&Measurer::Measure>(&m, &tag));
  root->Update(kPortrait);
  EXPECT_EQ(m.rcSeen, (RECT{0, 0, 100, 0}));
  EXPECT_EQ(m.pSeen, &tag);
  EXPECT_EQ(text->GetMeasureRect(), m.rcSeen);
  EXPECT_EQ(Win(root, 1), (RECT{10, 20, 110, 57}));
  EXPECT_EQ(Win(root, 2).top, 57);
  m.rcAnswer = RECT{5, 6, 50, 16};
  root->Update(kPortrait);
  EXPECT_EQ(Win(root, 1), (RECT{15, 26, 60, 36}));
  text->SetMeasureHandler(CDelegate(&m, nullptr, nullptr));  // no function: all zeros
  root->Update(kPortrait);
  EXPECT_EQ(Win(root, 1), (RECT{10, 20, 10, 20}));
}

TEST(LayoutConvert, SpacesRoundTripThroughScrollPositions) {
  auto root = N::CreateRoot();
  root->PinToRect(RECT{100, 50, 580, 850});
  Box(Box(root->BeginChild().SetId(1, -1), 10, 20, 200, 300).BeginChild(), 0, 0, 200, 1000).EndChild().EndChild();
  Box(root->BeginChild(), 0, 0, 1, 1200).EndChild();  // the root's content is taller than the root
  root->Update(RECT{0, 0, 1000, 1000});
  N* n1 = root->FindNode(1, -1);
  N* n2 = n1->GetFirstChild();
  n1->SetScrollPos(0, 40);
  root->SetScrollPos(0, 7);
  EXPECT_EQ(n2->GetRect(N::SpaceWindow), (RECT{110, 23, 310, 1023}));
  EXPECT_EQ(n1->ConvertRect(RECT{0, 0, 1, 1}, N::SpaceContent, N::SpaceOwn), (RECT{0, -40, 1, -39}));
  const RECT rc{3, 4, 30, 40};
  for (N* n : {root.get(), n1, n2})
    for (int32_t a = 0; a <= 4; ++a)
      for (int32_t b = 0; b <= 4; ++b) EXPECT_EQ(n->ConvertRect(n->ConvertRect(rc, a, b), b, a), rc);
  // At the root the stored space is its own and the parent content its content.
  EXPECT_EQ(root->ConvertRect(rc, N::SpaceStored, N::SpaceOwn), rc);
  EXPECT_EQ(root->ConvertRect(rc, N::SpaceParentContent, N::SpaceContent), rc);
  EXPECT_EQ(n1->ConvertRect(rc, N::SpaceOwn, 9), RECT{});
  EXPECT_EQ(n1->ConvertRect(rc, -1, N::SpaceOwn), (RECT{-110, -63, -110, -63}));
}

TEST(LayoutTree, FindNodeSearchesChildrenBeforeGrandchildren) {
  auto root = N::CreateRoot();
  root->SetId(5, -1).BeginChild().SetId(1, -1).BeginChild().SetId(7, 0).EndChild().EndChild();
  root->BeginChild().SetId(7, 1).EndChild();
  EXPECT_EQ(root->FindNode(5, -1), root.get());
  EXPECT_EQ(root->FindNode(7, -1)->GetSubId(), 1);
  EXPECT_EQ(root->FindNode(7, 0)->GetParent()->GetId(), 1);
  EXPECT_EQ(root->FindNode(7, 2), nullptr);
}

TEST(LayoutTree, ClearLeavesNoDanglingReferencesOrCursors) {
  std::vector<int> log;
  Recorder r2(&log, 2), r3(&log, 3);
  auto root = N::CreateRoot();
  root->PinToRect(kPortrait);
  root->SetDeepExtent(true);
  Fill(Fill(Fill(root->BeginChild().SetId(1, -1)).BeginChild().SetId(2, -1)).BeginChild().SetId(3, -1));
  root->EndChild().EndChild().EndChild();
  Fill(root->BeginChild().SetId(4, -1)).SetVerticalEdge(Edge(0, 1, 3, 1, 1)).SetHeight(Size(V::Constant(1)));
  root->EndChild();
  root->FindNode(2, -1)->SetObserver(&r2);
  root->FindNode(3, -1)->SetObserver(&r3);
  root->Update(kPortrait);
  N* n1 = root->FindNode(1, -1);
  CLayoutVariant* pVariant = n1->GetFirstVariant();
  n1->BeginChild().BeginChild();  // a description on #1 that stopped half-way
  log.clear();
  n1->Clear();
  EXPECT_EQ(log, (std::vector<int>{-2, -3}));
  EXPECT_EQ(n1->GetFirstChild(), nullptr);
  EXPECT_EQ(n1->GetFirstVariant(), pVariant);
  EXPECT_EQ(n1->GetCursor(), n1);
  EXPECT_EQ(PanicLine([&] { root->Update(kPortrait); }), 61);  // #4's anchor is gone
  root->FindNode(4, -1)->SetVerticalEdge(Edge(0, 1, -2, 0, 1)).SetHeight(Size(V::Constant(1)));
  EXPECT_NO_THROW(root->Update(kPortrait));

  auto tree = N::CreateRoot();  // an ancestor's cursor inside the cleared part
  tree->BeginChild().SetId(1, -1).BeginChild().BeginChild();
  N* a = tree->FindNode(1, -1);
  a->Clear();
  ASSERT_EQ(tree->GetCursor(), a);
  tree->BeginChild().EndChild().EndChild();
  EXPECT_EQ(tree->GetCursor(), tree.get());
}

}  // namespace
