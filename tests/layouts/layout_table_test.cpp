// The table form: each op replays as the builder call it stands for, the
// row generators, the compile-time and run-time rules of a stream, and the
// capture of ids that name no node.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <type_traits>
#include <vector>

#include "layouts/LayoutTable.h"
#include "layouts/Layouts.h"
#include "tests/layouts/layout_golden_support.h"

using namespace layouts_test;
using namespace LayoutOps;

namespace {

// Every builder keeps its name and signature.
using TNodeBuilder = void (*)(CLayoutNode*);
static_assert(std::is_same_v<decltype(&BuildAppRootLayout), std::unique_ptr<CLayoutNode> (*)()>);
static_assert(std::is_same_v<decltype(&BuildButtonLayout), void (*)(CLayoutNode*, bool, bool, bool)>);
static_assert(std::is_same_v<decltype(&BuildListDialogLayout), void (*)(CLayoutNode*, int32_t)>);
static_assert(std::is_same_v<decltype(&BuildListRowsLayout), void (*)(CLayoutNode*, int32_t, int32_t, int32_t)>);
static_assert(std::is_same_v<decltype(&BuildDetailsPartLayoutA), void (*)(CLayoutNode*, int32_t)>);
static_assert(std::is_same_v<decltype(&BuildChoiceRowsLayout), void (*)(CLayoutNode*, int32_t)>);
static_assert(std::is_same_v<decltype(&BuildNetworkRowsLayout), void (*)(CLayoutNode*, int32_t)>);
static_assert(std::is_same_v<decltype(&BuildUserPageContentLayout), void (*)(CLayoutNode*, int32_t)>);
static_assert(std::is_same_v<decltype(&BuildTrackDetailsContentLayout), void (*)(CLayoutNode*, int32_t)>);
[[maybe_unused]] constexpr TNodeBuilder kNodeBuilders[] = {
    BuildAppFrameLayout, BuildScrollPanelLayout, BuildSoftKeyBarLayout, BuildTwoButtonPortraitLayout,
    BuildTwoButtonLandscapeLayout, BuildTwoButtonPartLayoutA, BuildCapCornerLayout, BuildTwoButtonPartLayoutB,
    BuildRecorderLayout, BuildRecorderPartLayoutA, BuildSquareCornerLayout, BuildRecordButtonLayout,
    BuildSearchingLayout, BuildMessageDialogLayout, BuildProgressDialogLayout, BuildEditBarLayout,
    BuildEditBarPartLayout, BuildTermsLayout, BuildTermsContentLayout, BuildUserListInitLayout,
    BuildUserListLayout, BuildUserListItemLayout, BuildListItemLayout, BuildFrameLayout, BuildView18Layout,
    BuildCreditsLayout, BuildView18ContentLayout, BuildCreditsContentLayout, BuildUserPageLayout,
    BuildDetailsPartLayoutB, BuildThinCornerLayout, BuildUserInfoContentLayout, BuildView8Layout,
    BuildView21Layout, BuildView16Layout, BuildView8PartLayout, BuildNetworkSelectLayout, BuildNoCornerLayout,
    BuildListItemPartLayout};
static_assert(std::size(kNodeBuilders) + 9 == 48);

// What makes a stream ill-formed is found when it is compiled.
constexpr TLayoutOp kOpenNode[] = {Node(1)};
constexpr TLayoutOp kExtraEnd[] = {Node(1), End, End};
constexpr TLayoutOp kLateClear[] = {Node(1), End, ClearFirst};
constexpr TLayoutOp kStoredAfterUse[] = {Node(1), H(0, S(1), 1), Store(1), End};
constexpr TLayoutOp kZeroDenominator[] = {Node(1), Height(l(1, 0)), End};
constexpr TLayoutOp kArgument1[] = {If(1, 0), EndIf};
constexpr TLayoutOp kStrayElse[] = {Else};
constexpr TLayoutOp kKeyless[] = {Node(1), Var(-1, 0), End};
static_assert(!IsWellFormedLayoutTable(kOpenNode) && !IsWellFormedLayoutTable(kExtraEnd));
static_assert(!IsWellFormedLayoutTable(kLateClear) && !IsWellFormedLayoutTable(kStoredAfterUse));
static_assert(!IsWellFormedLayoutTable(kZeroDenominator) && !IsWellFormedLayoutTable(kStrayElse));
static_assert(!IsWellFormedLayoutTable(kArgument1, 1) && IsWellFormedLayoutTable(kArgument1, 2));
static_assert(!IsWellFormedLayoutTable(kKeyless));

// The whole tree as text: ids, variants with their conditions and
// visibility, every constraint with its fractions, values and references
// (as preorder numbers of nodes, R for none).
void Index(const CLayoutNode* n, std::vector<const CLayoutNode*>& order) {
  order.push_back(n);
  for (const CLayoutNode* c = n->GetFirstChild(); c; c = c->GetNextSibling()) Index(c, order);
}

std::string Describe(const CLayoutNode* pRoot) {
  std::vector<const CLayoutNode*> order;
  Index(pRoot, order);
  auto ref = [&](const CLayoutNode* p) {
    if (!p) return std::string("R");
    auto it = std::find(order.begin(), order.end(), p);
    return it == order.end() ? std::string("?") : "n" + std::to_string(it - order.begin());
  };
  auto frac = [](const TFraction& f) { return std::to_string(f.Num()) + "/" + std::to_string(f.Den()); };
  auto value = [&](const CLayoutValue& v) { return "k" + std::to_string(v.Kind()) + ":" + frac(v.Value()); };
  std::string s;
  for (const CLayoutNode* n : order) {
    s += "node " + std::to_string(n->GetId()) + "." + std::to_string(n->GetSubId()) + " parent " +
         ref(n->GetParent()) + "\n";
    for (const CLayoutVariant* v = n->GetFirstVariant(); v; v = v->m_pNext) {
      s += " variant " + std::to_string(v->m_nKey) + "=" + std::to_string(v->m_nValue) + "/" +
           std::to_string(v->m_nMask) + (v->m_bActive ? " active" : "") +
           (v->m_bVisibilityFree ? " free" : v->m_bVisible ? " vis" : " hid") + "\n";
      for (const CLayoutAxis* a : {&v->m_x, &v->m_y}) {
        for (auto [bSet, e] : {std::pair{a->m_bEdge1, &a->m_edge1}, std::pair{a->m_bEdge2, &a->m_edge2}})
          if (bSet)
            s += "  edge " + frac(e->m_ownFraction) + "->" + ref(e->m_pAnchor) + ":" + frac(e->m_anchorFraction) +
                 " + " + value(e->m_offset) + " of " + ref(e->m_pOffsetRef) + "\n";
        if (a->m_bSize) s += "  size " + value(a->m_size.m_value) + " of " + ref(a->m_size.m_pRef) + "\n";
        s += "  --\n";
      }
    }
  }
  return s;
}

CLayoutEdgeSpec StoredEdge(int32_t own, CLayoutNode** ppAnchor, int32_t at, CLayoutValue offset,
                           CLayoutNode** ppOffsetRef) {
  CLayoutEdgeSpec e;
  e.SetFraction(own, 1).SetOffset(offset);
  e.m_ppOffsetRefVar = ppOffsetRef;
  e.BeginAnchor().SetFraction(at, 1);
  e.m_ppAnchorVar = ppAnchor;
  return e;
}

constexpr TLayoutOp kSample[] = {
    ClearFirst,
    Node(5), Store(1), H(0, R, 0), Width(s(15, 480)), V(F(1, 2), R, F(1, 2)), Height(h(2, 4)), Free, End,
    Node(7, 2), H(0, S(1), 1, -w(1, 1), S(1)), H(1, P, 1), V(0, N(5), 1, l(22, 800), P), Height(px(3, 2), P), Hid,
      Node(), Var(9, 1, 1), Id(8), H(0, P, 0), Width(h(1, 1), P), V(0, P, 0), Height(px(0)), Vis,
              Var(9, 0, 1), Id(8), H(0, P, 0), Width(px(0)), V(0, P, 0), Height(px(0)),
      End,
      If(0, 1), Node(20), H(0, P, 0), H(1, N(7, 2), 1), V(0, P, 0), V(1, P, 1), End,
      Else, Node(21), H(0, P, 0), H(1, P, 1), V(0, P, 0), V(1, P, 1), End, EndIf,
    End,
};
static_assert(IsWellFormedLayoutTable(kSample, 1));

TEST(LayoutTable, EachOpReplaysAsItsBuilderCall) {
  using layout_test::Edge;
  using layout_test::Size;
  using V = CLayoutValue;
  for (int32_t arg : {0, 1}) {
    SCOPED_TRACE(arg);
    auto table = CLayoutNode::CreateRoot();
    table->BeginChild().SetId(99, -1).EndChild();  // cleared first
    const int32_t args[] = {arg};
    RunLayoutTable(table.get(), kSample, "sample", args);

    auto hand = CLayoutNode::CreateRoot();
    CLayoutNode* s1 = nullptr;
    hand->BeginChild().SetId(5, -1).StoreNode(&s1);
    hand->SetHorizontalEdge(Edge(0, 1, -1, 0, 1)).SetWidth(Size(V::MinSide(15, 480)));
    hand->SetVerticalEdge(Edge(1, 2, -1, 1, 2)).SetHeight(Size(V::Height(2, 4))).ClearVisible().EndChild();
    hand->BeginChild().SetId(7, 2);
    hand->SetHorizontalEdge(StoredEdge(0, &s1, 1, V::Width(-1, 1), &s1)).SetHorizontalEdge(Edge(1, 1, -2, 1, 1));
    hand->SetVerticalEdge(Edge(0, 1, 5, 1, 1, V::MaxSide(22, 800), -2)).SetHeight(Size(V::Constant(3, 2), -2));
    hand->SetVisible(false);
    CLayoutCondition on, off;
    on.Set(9).Set(1).Set(1);
    off.Set(9).Set(0).Set(1);
    hand->BeginChild().AddVariant(on).SetId(8, -1);
    hand->SetHorizontalEdge(Edge(0, 1, -2, 0, 1)).SetWidth(Size(V::Height(1, 1), -2));
    hand->SetVerticalEdge(Edge(0, 1, -2, 0, 1)).SetHeight(Size(V::Constant(0))).SetVisible(true);
    hand->AddVariant(off).SetId(8, -1);
    hand->SetHorizontalEdge(Edge(0, 1, -2, 0, 1)).SetWidth(Size(V::Constant(0)));
    hand->SetVerticalEdge(Edge(0, 1, -2, 0, 1)).SetHeight(Size(V::Constant(0))).EndChild();
    if (arg == 1) {
      hand->BeginChild().SetId(20, -1).SetHorizontalEdge(Edge(0, 1, -2, 0, 1));
      CLayoutEdgeSpec toRow = Edge(1, 1, 7, 1, 1);
      toRow.SetNodeId(2);  // the anchor's sub-id
      hand->SetHorizontalEdge(toRow);
    } else {
      hand->BeginChild().SetId(21, -1).SetHorizontalEdge(Edge(0, 1, -2, 0, 1)).SetHorizontalEdge(Edge(1, 1, -2, 1, 1));
    }
    hand->SetVerticalEdge(Edge(0, 1, -2, 0, 1)).SetVerticalEdge(Edge(1, 1, -2, 1, 1)).EndChild().EndChild();

    EXPECT_EQ(Describe(table.get()), Describe(hand.get()));
    EXPECT_EQ(table->GetCursor(), table.get());  // the builder is back at the description's node
  }
}

TEST(LayoutTable, FullDescriptionsRebuildTheSameTree) {
  // Screens rebuild on every rotation: a second run must not add to the first.
  auto root = CLayoutNode::CreateRoot();
  BuildUserPageContentLayout(root.get());
  std::string first = Describe(root.get());
  BuildUserPageContentLayout(root.get(), 1);  // a trailing mode changes nothing
  EXPECT_EQ(Describe(root.get()), first);
  int count = 0;
  for (CLayoutNode* c = root->GetFirstChild(); c; c = c->GetNextSibling()) ++count;
  EXPECT_EQ(count, 23);
}

TEST(LayoutTable, EveryModeButZeroIsTheTwoLineRow) {
  // The second caption #12 hangs at the bottom in mode 0 and spans between
  // the caption and the bottom otherwise.
  for (int32_t mode : {0, 1, 2, -1}) {
    auto root = CLayoutNode::CreateRoot();
    BuildDetailsPartLayoutA(root.get(), mode);
    EXPECT_EQ(root->FindNode(12, -1)->GetFirstVariant()->m_y.m_bEdge2, mode != 0) << mode;
  }
}

TEST(LayoutRows, CountAnchorAndIdRules) {
  auto root = CLayoutNode::CreateRoot();
  for (int32_t count : {0, -3}) BuildListRowsLayout(root.get(), 119, count, -2);
  BuildChoiceRowsLayout(root.get(), 0);
  EXPECT_EQ(root->GetFirstChild(), nullptr);

  // One row at the parent's top, or at the anchor node's bottom.
  root->BeginChild().SetId(50, -1);
  layout_test::Box(*root, 0, 0, 480, 100).EndChild();
  BuildListRowsLayout(root.get(), 119, 1, -2);
  BuildListRowsLayout(root.get(), 120, 2, 50);
  // Id -1 numbers rows by id, chained on the previous id.
  auto byId = CLayoutNode::CreateRoot();
  BuildListRowsLayout(byId.get(), -1, 3, -2);
  for (CLayoutNode* pTree : {root.get(), byId.get()}) {
    pTree->PinToRect(layout_test::kPortrait);
    pTree->Update(layout_test::kPortrait);
  }
  EXPECT_EQ(LayoutRectOf(root.get(), 119, 0), Rc(0, 0, 480, 102));
  EXPECT_EQ(root->FindNode(119, 1), nullptr);
  EXPECT_EQ(LayoutRectOf(root.get(), 120, 0), Rc(0, 100, 480, 102));
  EXPECT_EQ(LayoutRectOf(root.get(), 120, 1), Rc(0, 202, 480, 102));
  for (int32_t i = 0; i < 3; ++i) {
    CLayoutNode* pRow = byId->FindNode(i, -1);
    ASSERT_NE(pRow, nullptr);
    EXPECT_EQ(pRow->GetSubId(), -1);
    EXPECT_EQ(pRow->GetRect(CLayoutNode::SpaceWindow), Rc(0, 102 * i, 480, 102));  // truncated rows, no gaps
  }
}

struct TPanicAt {
  std::u16string unit;
  int32_t line = -1;
  bool operator==(const TPanicAt&) const = default;
};

template <class F>
TPanicAt PanicOf(F&& f) {
  try {
    f();
  } catch (const TPanic& p) {
    return {p.source, p.line};
  }
  return {};
}

TEST(LayoutTable, RunTimeFaultsOfAStreamPanic) {
  auto root = CLayoutNode::CreateRoot();
  const TLayoutOp zeroDen[] = {Node(1), H(0, P, 0, px(1, 0)), End};
  const TLayoutOp ifWithoutArgs[] = {If(0, 1), EndIf};
  const TLayoutOp unstored[] = {Node(1), H(0, S(2), 1), End};
  const TLayoutOp open[] = {Node(1)};
  const TLayoutOp extraEnd[] = {End};
  const TLayoutOp strayEndIf[] = {EndIf};
  EXPECT_EQ(PanicOf([&] { RunLayoutTable(root.get(), zeroDen, "t"); }), (TPanicAt{u"basetypes", 38}));
  EXPECT_EQ(PanicOf([&] { RunLayoutTable(root.get(), ifWithoutArgs, "t"); }),
            (TPanicAt{u"layouts", kLayoutLineMissingArgument}));
  EXPECT_EQ(PanicOf([&] { RunLayoutTable(root.get(), unstored, "t"); }),
            (TPanicAt{u"layouts", kLayoutLineUnstoredNode}));
  for (auto* ops : {&open, &extraEnd, &strayEndIf}) {
    auto fresh = CLayoutNode::CreateRoot();
    EXPECT_EQ(PanicOf([&] { RunLayoutTable(fresh.get(), *ops, "t"); }), (TPanicAt{u"layouts", kLayoutLineUnbalanced}));
  }
}

TEST(LayoutRefCapture, RecordsIdsThatNameNoNodeAndNests) {
  auto root = CLayoutNode::CreateRoot();
  const TLayoutOp ops[] = {Node(1), H(0, N(1), 0), H(1, N(998), 1), V(0, R, 0), Height(px(1), N(997, 4)), End};
  RunLayoutTable(root.get(), ops, "before");  // nothing listens
  CLayoutRefCapture outer;
  RunLayoutTable(root.get(), ops, "outer");
  {
    CLayoutRefCapture inner;
    EXPECT_EQ(CLayoutRefCapture::Current(), &inner);
    RunLayoutTable(root.get(), ops, "inner");
    ASSERT_EQ(inner.Missing().size(), 2u);
    EXPECT_STREQ(inner.Missing()[0].pszDescription, "inner");
    EXPECT_EQ(inner.Missing()[1].nSubId, 4);
  }
  EXPECT_EQ(CLayoutRefCapture::Current(), &outer);
  ASSERT_EQ(outer.Missing().size(), 2u);  // #1 exists; R and P are never missing
  EXPECT_EQ(outer.Missing()[0].nId, 998);
  EXPECT_EQ(outer.Missing()[1].nId, 997);
}

}  // namespace
