// Title bars and the screens that are a title bar over a list or a text:
// shared frames, edit bar, terms, the language and message screens, choice
// and network rows, and the small part layouts of rows and dialog buttons.
#include "layouts/LayoutTable.h"
#include "layouts/Layouts.h"

using namespace LayoutOps;

namespace {

constexpr TLayoutOp kFrameLayout[] = {
    ClearFirst,
    Node(114), H(1, P, 1), H(0, P, 0), V(0, P, 0), Height(l(75, 800)), End,  // title bar
    Node(69), H(0, P, 0), H(1, P, 1), V(0, N(114), 1), V(1, P, 1), End,      // content
};
static_assert(IsWellFormedLayoutTable(kFrameLayout));

constexpr TLayoutOp kView18Layout[] = {
    ClearFirst,
    Node(114), H(1, P, 1), H(0, P, 0), V(0, P, 0), Height(l(75, 800)), End,
    Node(160), H(0, P, 0), H(1, P, 1), V(1, P, 1), V(0, N(114), 1), End,
};
static_assert(IsWellFormedLayoutTable(kView18Layout));

// The credits bar is hidden and 0 high: the content fills the screen.
constexpr TLayoutOp kCreditsLayout[] = {
    ClearFirst,
    Node(176), H(0, P, 0), H(1, P, 1), V(0, P, 0), Height(px(0), P), Hid, End,
    Node(175), H(0, P, 0), H(1, P, 1), V(1, P, 1), V(0, N(176), 1), End,
};
static_assert(IsWellFormedLayoutTable(kCreditsLayout));

// #61 and #62 exist only in key-10 variants; the bar's factory selects 10
// right after building.
constexpr TLayoutOp kEditBarLayout[] = {
    Node(60), H(0, P, 0, l(12, 800)), Width(l(68, 800)), V(0, P, 0, l(5, 800)), Height(l(68, 800)), End,  // back
    Node(62),                                                                     // right-hand button
      Var(10, 0), H(1, P, 1), Width(px(0)), V(0, P, 0), Height(px(0)), Hid,
      Var(10, 1), H(1, P, 1, -l(12, 800)), Width(l(84, 800)), V(0, P, 0, l(5, 800)), Height(l(66, 800)), Vis,
    End,
    Node(61),                                                                     // title
      Var(10, 0), H(1, P, 1), H(0, N(60), 1, l(22, 800)), V(F(1, 2), P, F(1, 2), l(4, 800)), Height(l(50, 800)),
      Var(10, 1), H(1, N(62), 0, -l(22, 800)), H(0, N(60), 1, l(22, 800)), V(F(1, 2), P, F(1, 2), l(4, 800)),
                  Height(l(50, 800)),
    End,
};
static_assert(IsWellFormedLayoutTable(kEditBarLayout));

constexpr TLayoutOp kEditBarPartLayout[] = {
    ClearFirst,
    Node(7), H(0, P, 0), Width(l(10, 800)), V(0, P, 0), Height(l(10, 800)), End,
    Node(8), H(1, P, 1), H(0, P, 0), V(0, P, 0, l(19, 800)), V(1, P, 1, -l(19, 800)), End,  // caption
    Node(9), H(0, P, 0), Width(px(0)), V(0, P, 0), Height(px(0)), Hid, End,
    Node(10), H(0, P, 0), Width(px(0)), V(0, P, 0), Height(px(0)), Hid, End,
};
static_assert(IsWellFormedLayoutTable(kEditBarPartLayout));

constexpr TLayoutOp kTermsLayout[] = {
    ClearFirst,
    Node(114), H(1, P, 1), H(0, P, 0), V(0, P, 0), Height(l(75, 800)), End,
    Node(110), H(0, P, 0), H(1, P, 1), V(0, N(114), 1), V(1, P, 1), End,  // scroll panel
};
static_assert(IsWellFormedLayoutTable(kTermsLayout));

// The link's height is 86/480 of the screen's height: as designed.
constexpr TLayoutOp kTermsContentLayout[] = {
    ClearFirst,
    Node(112), H(F(1, 2), P, F(1, 2)), Width(w(436, 480), P), V(0, P, 0, h(22, 800)), Height(h(215, 800)), End,
    Node(113), H(F(1, 2), P, F(1, 2)), Width(w(400, 480), P), V(0, N(112), 1, h(140, 800)), Height(h(86, 480)), End,
};
static_assert(IsWellFormedLayoutTable(kTermsContentLayout));

constexpr TLayoutOp kView8Layout[] = {
    ClearFirst,
    Node(200), H(1, P, 1), H(0, P, 0), V(0, P, 0), Height(l(75, 800)), End,  // title bar
    Node(201), H(0, P, 0), H(1, P, 1), V(1, P, 1), V(0, N(200), 1), End,     // scroll panel
};
static_assert(IsWellFormedLayoutTable(kView8Layout));

constexpr TLayoutOp kView21Layout[] = {
    ClearFirst,
    Node(114), H(1, P, 1), H(0, P, 0), V(0, P, 0), Height(l(75, 800)), End,
    Node(228), H(1, P, 1), H(0, P, 0), V(0, N(114), 1), V(1, P, 1), End,
};
static_assert(IsWellFormedLayoutTable(kView21Layout));

// The picture frame #213 keeps its 208 px on any screen, overhanging the
// panel on one narrower than that.
constexpr TLayoutOp kView16Layout[] = {
    ClearFirst,
    Node(209), H(0, P, 0), H(1, P, 1), V(0, P, 0), Height(px(0)), Hid, End,  // title bar: not shown
    Node(210), H(0, P, 0), H(1, P, 1), V(1, P, 1), V(0, N(209), 1),          // content panel
      Node(213), H(F(1, 2), P, F(1, 2)), Width(px(208), P), V(0, P, 0), Height(h(1, 2), P),  // picture frame
        Node(214), H(F(1, 2), P, F(1, 2)), Width(s(64, 240)), V(F(1, 2), P, F(1, 2)), Height(s(64, 240)), End,
      End,
      Node(211), H(0, P, 0, w(1, 8), P), H(1, P, 1, -w(1, 8), P), V(0, N(213), 1), Height(s(45, 240), P), End,
      Node(212), H(0, P, 0, w(1, 20), P), H(1, P, 1, -w(1, 20), P), V(0, N(211), 1), V(1, P, 1), End,
    End,
};
static_assert(IsWellFormedLayoutTable(kView16Layout));

constexpr TLayoutOp kView8PartLayout[] = {
    Node(60), H(0, P, 0, l(22, 800)), Width(l(24, 800)), V(0, P, 0, l(32, 800)), Height(l(24, 800)), End,  // check
    Node(61), H(1, P, 1), H(0, N(60), 1, l(22, 800)), V(0, P, 0, l(8, 800)), Height(l(79, 800)), End,       // caption
};
static_assert(IsWellFormedLayoutTable(kView8PartLayout));

constexpr TLayoutOp kNetworkSelectLayout[] = {
    ClearFirst,
    Node(114), H(1, P, 1), H(0, P, 0), V(0, P, 0), Height(l(75, 800)), End,
    Node(231), H(1, P, 1), H(0, P, 0), V(0, N(114), 1), V(1, P, 1), End,
};
static_assert(IsWellFormedLayoutTable(kNetworkSelectLayout));

constexpr TLayoutOp kNoCornerLayout[] = {
    ClearFirst,
    Node(7), H(0, P, 0), Width(px(0)), V(0, P, 0), Height(px(0)), End,
};
static_assert(IsWellFormedLayoutTable(kNoCornerLayout));

constexpr TLayoutOp kListItemPartLayout[] = {
    Node(11), H(1, P, 1, -s(8, 480)), H(0, P, 0, s(8, 480)), V(F(1, 2), P, F(1, 2)), Height(s(32, 480)), End,
};
static_assert(IsWellFormedLayoutTable(kListItemPartLayout));

constexpr TLayoutVal kChoiceRowHeight = l(88, 800);

}  // namespace

void BuildFrameLayout(CLayoutNode* pNode) { RunLayoutTable(pNode, kFrameLayout, "BuildFrameLayout"); }

void BuildView18Layout(CLayoutNode* pNode) { RunLayoutTable(pNode, kView18Layout, "BuildView18Layout"); }

void BuildCreditsLayout(CLayoutNode* pNode) { RunLayoutTable(pNode, kCreditsLayout, "BuildCreditsLayout"); }

void BuildEditBarLayout(CLayoutNode* pNode) { RunLayoutTable(pNode, kEditBarLayout, "BuildEditBarLayout"); }

void BuildEditBarPartLayout(CLayoutNode* pNode) {
  RunLayoutTable(pNode, kEditBarPartLayout, "BuildEditBarPartLayout");
}

void BuildTermsLayout(CLayoutNode* pNode) { RunLayoutTable(pNode, kTermsLayout, "BuildTermsLayout"); }

void BuildTermsContentLayout(CLayoutNode* pNode) {
  RunLayoutTable(pNode, kTermsContentLayout, "BuildTermsContentLayout");
}

void BuildView8Layout(CLayoutNode* pNode) { RunLayoutTable(pNode, kView8Layout, "BuildView8Layout"); }

void BuildView21Layout(CLayoutNode* pNode) { RunLayoutTable(pNode, kView21Layout, "BuildView21Layout"); }

void BuildView16Layout(CLayoutNode* pNode) { RunLayoutTable(pNode, kView16Layout, "BuildView16Layout"); }

void BuildView8PartLayout(CLayoutNode* pNode) { RunLayoutTable(pNode, kView8PartLayout, "BuildView8PartLayout"); }

void BuildChoiceRowsLayout(CLayoutNode* pNode, int32_t count) {
  RunLayoutRows(pNode, 229, count, -2, kChoiceRowHeight, "BuildChoiceRowsLayout");
}

void BuildNetworkSelectLayout(CLayoutNode* pNode) {
  RunLayoutTable(pNode, kNetworkSelectLayout, "BuildNetworkSelectLayout");
}

void BuildNetworkRowsLayout(CLayoutNode* pNode, int32_t count) {
  RunLayoutRows(pNode, 232, count, -2, kChoiceRowHeight, "BuildNetworkRowsLayout");
}

void BuildNoCornerLayout(CLayoutNode* pNode) { RunLayoutTable(pNode, kNoCornerLayout, "BuildNoCornerLayout"); }

void BuildListItemPartLayout(CLayoutNode* pNode) {
  RunLayoutTable(pNode, kListItemPartLayout, "BuildListItemPartLayout");
}
