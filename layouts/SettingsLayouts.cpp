// The settings screen with two labelled buttons, portrait and landscape, and
// the trees of its two buttons.
#include "layouts/LayoutTable.h"
#include "layouts/Layouts.h"

using namespace LayoutOps;

namespace {

// The labels' right edges lie 22/800 beyond the content's right edge, and
// the second button is 452/800 wide where the first is 454/800: both as
// designed.
constexpr TLayoutOp kTwoButtonPortraitLayout[] = {
    ClearFirst,
    Node(114), H(1, P, 1), H(0, P, 0), V(0, P, 0), Height(l(75, 800)), End,                        // title bar
    Node(101), H(1, P, 1), H(0, P, 0), V(0, N(114), 1), V(1, P, 1),                                // content
      Node(108), H(0, P, 0), Width(px(0)), V(0, P, 0), Height(l(4, 800)), End,                     // spacer
      Node(102), H(1, P, 1, l(22, 800)), H(0, P, 0, l(22, 800)), V(0, N(108), 0), Height(l(73, 800)), End,
      Node(103), H(F(1, 2), P, F(1, 2)), Width(l(454, 800)), V(0, N(102), 1, l(2, 800)), Height(l(62, 800)), End,
      Node(106), H(F(1, 2), P, F(1, 2)), Width(l(800, 800)), V(0, N(103), 1, l(10, 800)), Height(px(1)), End,
      Node(109), H(0, P, 0), Width(px(0)), V(0, N(106), 1), Height(l(4, 800)), End,                // spacer
      Node(104), H(1, P, 1, l(22, 800)), H(0, P, 0, l(22, 800)), V(0, N(109), 1, l(2, 800)), Height(l(73, 800)), End,
      Node(105), H(F(1, 2), P, F(1, 2)), Width(l(452, 800)), V(0, N(104), 1, l(2, 800)), Height(l(62, 800)), End,
      Node(107), H(F(1, 2), P, F(1, 2)), Width(l(800, 800)), V(0, N(105), 1, l(10, 800)), Height(px(1)), End,
    End,
};
static_assert(IsWellFormedLayoutTable(kTwoButtonPortraitLayout));

constexpr TLayoutOp kTwoButtonLandscapeLayout[] = {
    ClearFirst,
    Node(114), H(1, P, 1), H(0, P, 0), V(0, P, 0), Height(l(75, 800)), End,
    Node(101), H(1, P, 1), H(0, P, 0), V(0, N(114), 1), V(1, P, 1),
      Node(108), H(0, P, 0), Width(px(0)), V(0, P, 0), Height(l(4, 800)), End,
      Node(102), H(1, P, F(1, 2), -l(22, 800)), H(0, P, 0, l(22, 800)), V(0, N(108), 0), Height(l(73, 800)), End,
      Node(103), H(1, P, 1, -l(22, 800)), H(0, P, F(1, 2), l(22, 800)), V(0, N(108), 1, l(2, 800)), Height(l(62, 800)), End,
      Node(106), H(F(1, 2), P, F(1, 2)), Width(l(800, 800)), V(0, N(103), 1, l(10, 800)), Height(px(1)), End,
      Node(109), H(0, P, 0), Width(px(0)), V(0, N(106), 1), Height(l(4, 800)), End,
      Node(104), H(1, P, F(1, 2), -l(22, 800)), H(0, P, 0, l(22, 800)), V(0, N(109), 1, l(2, 800)), Height(l(73, 800)), End,
      Node(105), H(1, P, 1, -l(22, 800)), H(0, P, F(1, 2), l(22, 800)), V(0, N(109), 1, l(2, 800)), Height(l(62, 800)), End,
      Node(107), H(F(1, 2), P, F(1, 2)), Width(l(800, 800)), V(0, N(105), 1, l(10, 800)), Height(px(1)), End,
    End,
};
static_assert(IsWellFormedLayoutTable(kTwoButtonLandscapeLayout));

constexpr TLayoutOp kTwoButtonPartLayoutA[] = {
    Node(61), H(F(1, 2), P, F(1, 2)), H(0, P, 0, s(1, 3), P), V(0, P, 0, l(5, 800)), Height(l(62, 800)), End,
};
static_assert(IsWellFormedLayoutTable(kTwoButtonPartLayoutA));

// Caps left and right only.
constexpr TLayoutOp kCapCornerLayout[] = {
    ClearFirst,
    Node(7), H(0, P, 0), Width(px(26)), V(0, P, 0), Height(px(0)), End,
};
static_assert(IsWellFormedLayoutTable(kCapCornerLayout));

constexpr TLayoutOp kTwoButtonPartLayoutB[] = {
    Node(61), H(F(1, 2), P, F(1, 2)), Width(l(424, 800)), V(0, P, 0, l(5, 800)), Height(l(62, 800)), End,
};
static_assert(IsWellFormedLayoutTable(kTwoButtonPartLayoutB));

}  // namespace

void BuildTwoButtonPortraitLayout(CLayoutNode* pNode) {
  RunLayoutTable(pNode, kTwoButtonPortraitLayout, "BuildTwoButtonPortraitLayout");
}

void BuildTwoButtonLandscapeLayout(CLayoutNode* pNode) {
  RunLayoutTable(pNode, kTwoButtonLandscapeLayout, "BuildTwoButtonLandscapeLayout");
}

void BuildTwoButtonPartLayoutA(CLayoutNode* pNode) {
  RunLayoutTable(pNode, kTwoButtonPartLayoutA, "BuildTwoButtonPartLayoutA");
}

void BuildCapCornerLayout(CLayoutNode* pNode) { RunLayoutTable(pNode, kCapCornerLayout, "BuildCapCornerLayout"); }

void BuildTwoButtonPartLayoutB(CLayoutNode* pNode) {
  RunLayoutTable(pNode, kTwoButtonPartLayoutB, "BuildTwoButtonPartLayoutB");
}
