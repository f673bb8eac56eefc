// The record lists (search results, the user's recordings and playlist) and
// the dialog buttons' inner layout.
#include "layouts/LayoutTable.h"
#include "layouts/Layouts.h"

using namespace LayoutOps;

namespace {

// The header #115 exists only in key-3 variants; the panel selects 3 = 0
// right after building, so the body fills the panel.
constexpr TLayoutOp kUserListInitLayout[] = {
    ClearFirst,
    Node(115),                                                                     // header band
      Var(3, 1), H(0, P, 0), H(1, P, 1), V(0, P, 0), Height(s(1, 10)), Vis,
      Var(3, 0), H(0, P, 0), H(1, P, 1), V(0, P, 0), Height(px(0)), Hid,
      Node(116), H(0, P, 0), Width(h(1, 5), P), V(0, P, 0), Height(h(1, 5), P), End,
    End,
    Node(), H(0, P, 0), H(1, P, 1), V(0, N(115), 1), V(1, P, 1),                  // body
      Node(117), H(0, P, 0), H(1, P, 1), V(0, P, 0), V(1, P, 1), End,             // scroll panel
      Node(118), H(0, P, 0), H(1, P, 1), V(F(1, 2), P, F(1, 2)), Height(l(15, 320)), End,  // "empty list"
    End,
};
static_assert(IsWellFormedLayoutTable(kUserListInitLayout));

// A row button's skin: corner 0 x 1 px, so the content box is inset 1 px at
// the top, right and bottom and not at the left.
constexpr TLayoutOp kUserListLayout[] = {
    ClearFirst,
    Node(7), Store(1), H(0, P, 0), Width(px(0)), V(0, P, 0), Height(px(1)), End,
    Node(), Store(2), H(0, P, 0, w(1, 1), S(1)), H(1, P, 1, -h(1, 1), S(1)),
                      V(0, P, 0, h(1, 1), S(1)), V(1, P, 1, -h(1, 1), S(1)),        // content box
      Node(), Store(3), H(0, P, 0), Width(h(1, 2), P), V(0, P, 0), Height(h(1, 1), P),  // icon cell
        Node(10), H(F(1, 2), P, F(1, 2)), Width(s(2, 3), P), V(F(1, 2), P, F(1, 2)), Height(s(2, 3), P), End,
      End,
      Node(), Store(4), H(0, S(3), 1), H(1, S(3), 1, w(1, 1), S(1)), V(0, P, 0), V(1, P, 1), End,  // gap
      Node(8), H(0, S(4), 1), H(1, P, 1), Height(h(1, 2), P), V(0, P, 0), End,
      Node(9), H(0, S(4), 1), H(1, P, 1), Height(h(1, 2), P), V(1, P, 1), End,
    End,
};
static_assert(IsWellFormedLayoutTable(kUserListLayout));

// A row's attached children; #20 exists only in key-16 variants. #19's right
// inset is h23/800 where the others use l23/800: as designed.
constexpr TLayoutOp kUserListItemLayout[] = {
    ClearFirst,
    Node(20),                                                                      // preview button
      Var(16, 1), H(1, P, 1, -l(13, 800)), Width(l(62, 800)), V(F(1, 2), P, F(1, 2)), Height(l(62, 800)),
      Var(16, 0), H(1, P, 1), Width(px(0)), V(F(1, 2), P, F(1, 2)), Height(px(0)), Hid,
    End,
    Node(18), H(0, P, 0, l(22, 800)), V(0, P, 0, l(16, 800)), Height(l(40, 800)), H(1, N(20), 0, -l(23, 800)), End,
    Node(19), H(0, P, 0, l(22, 800)), V(0, N(18), 1, l(8, 800)), Height(l(32, 800)), H(1, N(20), 0, -h(23, 800)), End,
    Node(21), H(0, P, 0, l(22, 800)), V(1, P, 1, -l(2, 800)), Height(l(6, 800)), H(1, N(20), 0, -l(23, 800)), End,
};
static_assert(IsWellFormedLayoutTable(kUserListItemLayout));

constexpr TLayoutOp kListItemLayout[] = {
    ClearFirst,
    Node(7), H(0, P, 0), Width(s(14, 480)), V(0, P, 0), Height(s(14, 480)), End,
    Node(10), H(0, P, 0), H(1, P, 0), V(0, P, 0), V(1, P, 0), Hid, End,
    Node(9), H(0, P, 0), H(1, P, 0), V(0, P, 0), V(1, P, 0), Hid, End,
    Node(8), H(0, P, 0, w(1, 1), N(7)), H(1, P, 1, -w(1, 1), N(7)), V(F(1, 2), P, F(1, 2)), Height(h(5, 9), P), End,
};
static_assert(IsWellFormedLayoutTable(kListItemLayout));

}  // namespace

void BuildUserListInitLayout(CLayoutNode* pNode) {
  RunLayoutTable(pNode, kUserListInitLayout, "BuildUserListInitLayout");
}

void BuildListRowsLayout(CLayoutNode* pNode, int32_t id, int32_t count, int32_t anchorId) {
  RunLayoutRows(pNode, id, count, anchorId, s(3, 14), "BuildListRowsLayout");
}

void BuildUserListLayout(CLayoutNode* pNode) { RunLayoutTable(pNode, kUserListLayout, "BuildUserListLayout"); }

void BuildUserListItemLayout(CLayoutNode* pNode) {
  RunLayoutTable(pNode, kUserListItemLayout, "BuildUserListItemLayout");
}

void BuildListItemLayout(CLayoutNode* pNode) { RunLayoutTable(pNode, kListItemLayout, "BuildListItemLayout"); }
