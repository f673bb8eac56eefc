// The help and credits pages: scroll contents whose text nodes are sized by
// the text they hold, after a pass.
#include "layouts/LayoutTable.h"
#include "layouts/Layouts.h"

using namespace LayoutOps;

namespace {

// #173 anchors on #171 inside the earlier sibling #163, so the content root
// solves each child's subtree before the next sibling (deep extent). The
// paragraphs are 0 high until their measure handlers size them; the view
// re-anchors the spacers #167 and #170 after a pass. #162 is placed on the
// pass rectangle, in screen coordinates, as designed.
constexpr TLayoutOp kView18ContentLayout[] = {
    ClearFirst,
    Node(162), H(F(1, 2), R, F(1, 2)), Width(s(272, 480)), V(F(1, 2), R, 0, s(200, 480)), Height(s(134, 480)), End,
    Node(163), H(F(1, 2), P, F(1, 2)), Width(w(1, 1)), V(0, N(162), 1), Height(px(0)), Deep,  // paragraph block
      Node(164), H(F(1, 2), P, F(1, 2)), Width(w(436, 480)), V(0, N(162), 1), Height(px(0)), End,
      Node(165), Width(s(55, 480)), H(1, P, F(1, 5), -s(24, 480)), Height(s(55, 480)), V(0, N(164), 1, s(35, 480)), End,
      Node(166), H(0, P, F(1, 5)), Width(w(357, 480)), Height(px(0)), V(0, N(164), 1, s(35, 480)), End,
      Node(167), H(0, P, 0), H(1, P, 1), V(0, N(166), 1), Height(px(0)), End,  // spacer
      Node(168), Width(s(55, 480)), H(1, P, F(1, 5), -s(24, 480)), Height(s(55, 480)), V(0, N(167), 1, s(35, 480)), End,
      Node(169), H(0, P, F(1, 5)), Width(w(357, 480)), Height(px(0)), V(0, N(167), 1, s(25, 480)), End,
      Node(170), H(0, P, 0), H(1, P, 1), V(0, N(169), 1), Height(px(0)), End,  // spacer
      Node(171), H(F(1, 2), P, F(1, 2)), Width(s(400, 480)), V(0, N(170), 1, s(25, 480)), Height(px(0)), End,
    End,
    Node(173), H(1, R, F(1, 2), s(35, 480)), Width(s(200, 480)), V(0, N(171), 1, s(1, 24)), Height(s(50, 480)), End,
    Node(172), H(0, N(173), 1, w(8, 240)), Width(s(110, 480)), V(F(1, 2), N(173), F(1, 2)), Height(s(32, 480)), End,
};
static_assert(IsWellFormedLayoutTable(kView18ContentLayout));

// The sections are 0 high with h1/50 gaps until the view measures them and
// re-sets their tops (h1/30 gaps) and heights. The title's right inset is
// h1/25 where its left inset is w1/25: as designed.
constexpr TLayoutOp kCreditsContentLayout[] = {
    ClearFirst,
    Node(177), H(0, P, 0), H(1, P, 1), V(0, P, 0), Height(px(100)), End,  // picture
    Node(178), H(0, P, 0, w(1, 25)), H(1, P, 1, -h(1, 25)), V(0, N(177), 1, s(1, 40)), Height(s(1, 14)), End,  // title
    Node(179), H(0, P, 0, w(1, 25)), H(1, P, 1, -w(1, 25)), V(0, N(178), 1, h(1, 50)), Height(px(0)), End,
    Node(180), H(0, P, 0, w(1, 25)), H(1, P, 1, -w(1, 25)), V(0, N(179), 1), Height(px(0)), End,
    Node(181), H(0, P, 0, w(1, 25)), H(1, P, 1, -w(1, 25)), V(0, N(180), 1, h(1, 50)), Height(px(0)), End,
    Node(182), H(0, P, 0, w(1, 25)), H(1, P, 1, -w(1, 25)), V(0, N(181), 1), Height(px(0)), End,
    Node(183), H(0, P, 0, w(1, 25)), H(1, P, 1, -w(1, 25)), V(0, N(182), 1, h(1, 50)), Height(px(0)), End,
    Node(184), H(0, P, 0, w(1, 25)), H(1, P, 1, -w(1, 25)), V(0, N(183), 1), Height(px(0)), End,
};
static_assert(IsWellFormedLayoutTable(kCreditsContentLayout));

}  // namespace

void BuildView18ContentLayout(CLayoutNode* pNode) {
  RunLayoutTable(pNode, kView18ContentLayout, "BuildView18ContentLayout");
}

void BuildCreditsContentLayout(CLayoutNode* pNode) {
  RunLayoutTable(pNode, kCreditsContentLayout, "BuildCreditsContentLayout");
}
