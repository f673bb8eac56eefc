// The recorder screen, its record and mode buttons, and the searching screen
// that keeps the recorder's top row.
#include "layouts/LayoutTable.h"
#include "layouts/Layouts.h"

using namespace LayoutOps;

namespace {

// #75, #76, #77 and #74 live only in key-0 variants tested against 0
// (portrait) and 1 (landscape): the application's rotation index alone
// (0, 3, 2, 1) would leave them unplaced at 90 and 180 degrees, so the
// screen selects key 0 again on its own node after the application did.
constexpr TLayoutOp kRecorderLayout[] = {
    ClearFirst,
    Node(114), H(0, P, 0), H(1, P, 1), V(0, P, 0), Height(px(0)), Hid, End,  // edit bar: none here
    Node(73), H(0, P, 0), H(1, P, 1), V(1, P, 1), V(0, N(114), 1),           // content panel
      Node(83), H(0, P, 0), H(1, P, F(1, 2)), V(0, P, 0), Height(s(100, 480)), End,  // Sing button
      Node(84), H(0, P, F(1, 2)), H(1, P, 1), V(0, P, 0), Height(s(100, 480)), End,  // Grab button
      Node(85), H(0, P, 0), H(1, P, 1), V(0, N(84), 1), Height(px(1)), End,          // divider
      Node(75),                                                                      // record button
        Var(0, 0), H(F(1, 2), R, F(1, 2)), Width(l(454, 800)), V(1, P, 1, -h(13, 800)), Height(s(120, 480)),
        Var(0, 1), H(F(1, 2), R, F(1, 2)), Width(l(454, 800)), V(1, P, 1, -h(13, 800)), Height(s(90, 480)),
      End,
      Node(86), H(1, P, 1, -l(15, 800)), H(0, P, 0, l(15, 800)), Height(s(12, 480)), V(1, N(75), 0, -s(20, 480)), End,
      Node(87), H(1, P, F(1, 2)), H(0, P, 0, l(15, 800)), Height(s(30, 480)), V(1, N(86), 0, -s(12, 480)), End,
      Node(88), H(0, P, F(1, 2)), H(1, P, 1, -l(15, 800)), Height(s(30, 480)), V(1, N(86), 0, -s(12, 480)), End,
      Node(76),                                                                      // the two mode texts
        Var(0, 0), H(F(1, 2), P, F(1, 2)), H(0, P, 0, l(28, 800)), V(0, N(84), 1, h(22, 480)), V(1, N(88), 0),
        Var(0, 1), H(F(1, 2), P, F(1, 2)), H(0, P, 0, l(28, 800)), V(0, N(84), 1), V(1, N(88), 0),
        Node(77),                                                                    // headline
          Var(0, 0), H(0, P, 0), H(1, P, 1), V(0, P, 0), Height(s(30, 480)),
          Var(0, 1), H(0, P, 0), H(1, P, 1), V(0, P, 0), Height(s(30, 480)),
        End,
        Node(78), H(0, P, 0), H(1, P, 1), V(0, N(77), 1, h(10, 800)), V(1, P, 1), End,  // description
      End,
      Node(74),                                                                      // picture
        Var(0, 0), H(F(1, 2), P, F(1, 2)), Width(h(480, 800), P), V(1, N(88), 0, -h(13, 800)), Height(s(40, 480)),
        Var(0, 1), H(F(1, 2), P, F(1, 2)), Width(h(480, 800), P), V(0, N(88), 0), Height(s(40, 480)),
      End,
    End,
};
static_assert(IsWellFormedLayoutTable(kRecorderLayout));

// The record button's attached children. The caption box is 2.34 times the
// text column's height, centred on it; its font height is #234's height.
constexpr TLayoutOp kRecorderPartLayoutA[] = {
    ClearFirst,
    Node(7), Store(1), H(0, P, 0), Width(s(15, 480)), V(0, P, 0), Height(s(15, 480)), End,
    Node(10), Store(2), H(0, P, 0, w(1, 1), S(1)), Width(l(115, 800)), V(F(1, 2), P, F(1, 2)), Height(l(95, 800)), Vis, End,
    Node(), Store(3), H(0, P, 0, w(1, 1), S(1)), H(1, P, 1, -h(1, 1), S(1)), V(0, P, 0), V(1, P, 1),  // text column
      Node(), Store(4), H(0, S(2), 1), H(1, S(2), 1, w(1, 1), S(1)), V(0, P, 0), V(1, P, 1), Vis, End,  // spacer
      Node(234), H(0, S(2), 1), H(1, P, 1), Height(s(4800, 76800)), V(F(1, 2), P, F(1, 2)), End,      // font size
      Node(8), H(0, S(4), 1), H(1, P, 1), Height(h(234, 100), P), V(F(1, 2), P, F(1, 2)), End,        // caption
      Node(226), H(0, S(4), 1), H(1, P, 1), V(F(1, 2), P, 0, h(1, 3), P), Height(s(15, 240)), End,
      Node(227), H(0, S(4), 1), H(1, P, 1), V(F(1, 2), P, 1, -h(1, 3), P), Height(s(15, 240)), End,
    End,
};
static_assert(IsWellFormedLayoutTable(kRecorderPartLayoutA));

constexpr TLayoutOp kSquareCornerLayout[] = {
    ClearFirst,
    Node(7), H(0, P, 0), Width(s(15, 480)), V(0, P, 0), Height(s(15, 480)), End,
};
static_assert(IsWellFormedLayoutTable(kSquareCornerLayout));

constexpr TLayoutOp kRecordButtonLayout[] = {
    ClearFirst,
    Node(7), H(0, P, 0), Width(s(10, 480)), V(0, P, 0), Height(s(10, 480)), End,
    Node(10), H(F(1, 2), P, F(1, 2)), Width(s(36, 240)), V(F(1, 2), P, F(1, 3)), Height(s(36, 240)), End,  // icon
    Node(), H(F(1, 2), P, F(1, 2)), H(0, P, 0), V(0, N(10), 1), V(1, P, 1),  // under the icon
      Node(8), H(F(1, 2), P, F(1, 2)), H(0, P, 0), V(0, P, 0), Height(h(3, 4), P), End,
    End,
    Node(9), H(0, P, 0), Width(px(0)), V(0, P, 0), Height(px(0)), Hid, End,
};
static_assert(IsWellFormedLayoutTable(kRecordButtonLayout));

// Run on the screen's node and again on the wait panel's root: the panel
// covers the view area, so its animation and text sit under the mode buttons.
constexpr TLayoutOp kSearchingLayout[] = {
    ClearFirst,
    Node(114), H(0, P, 0), H(1, P, 1), V(0, P, 0), Height(px(0), P), Hid, End,
    Node(96), H(0, P, 0), H(1, P, 1), V(1, P, 1), V(0, N(114), 1),
      Node(83), H(0, P, 0), H(1, P, F(1, 2)), V(0, P, 0), Height(s(100, 480)), End,
      Node(84), H(0, P, F(1, 2)), H(1, P, 1), V(0, P, 0), Height(s(100, 480)), End,
      Node(85), H(0, P, 0), H(1, P, 1), V(0, N(84), 1), Height(px(1)), End,
      Node(100), H(F(1, 2), P, F(1, 2)), Width(w(1, 1)), V(0, N(84), 1, h(30, 800)), Height(l(44, 800)), End,
      Node(99), H(F(1, 2), P, F(1, 2)), Width(h(360, 800)), V(0, N(100), 1, h(20, 800)), Height(h(270, 800)), End,
    End,
};
static_assert(IsWellFormedLayoutTable(kSearchingLayout));

}  // namespace

void BuildRecorderLayout(CLayoutNode* pNode) { RunLayoutTable(pNode, kRecorderLayout, "BuildRecorderLayout"); }

void BuildRecorderPartLayoutA(CLayoutNode* pNode) {
  RunLayoutTable(pNode, kRecorderPartLayoutA, "BuildRecorderPartLayoutA");
}

void BuildSquareCornerLayout(CLayoutNode* pNode) {
  RunLayoutTable(pNode, kSquareCornerLayout, "BuildSquareCornerLayout");
}

void BuildRecordButtonLayout(CLayoutNode* pNode) {
  RunLayoutTable(pNode, kRecordButtonLayout, "BuildRecordButtonLayout");
}

void BuildSearchingLayout(CLayoutNode* pNode) { RunLayoutTable(pNode, kSearchingLayout, "BuildSearchingLayout"); }
