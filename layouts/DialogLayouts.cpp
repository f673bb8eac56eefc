// The message and progress dialogs.
#include "layouts/LayoutTable.h"
#include "layouts/Layouts.h"

using namespace LayoutOps;

namespace {

// The buttons #50/#51 exist only in key-15 variants: the dialog selects 15
// right after building (1 when it has a single button) and must select it
// again after any reset of its variants. The text area starts after the
// zero-wide icon column, so the text sits s1/10 from the left and s1/20 from
// the right: as designed.
constexpr TLayoutOp kMessageDialogLayout[] = {
    ClearFirst,
    Node(), Store(1), H(0, P, 0), H(1, P, 1), V(0, P, 0), Height(s(64, 480)),                  // caption strip
      Node(44), H(0, P, 0), H(1, P, 1), V(F(1, 2), P, F(1, 2)), Height(s(18, 240)), End,
    End,
    Node(), Store(2), H(0, P, 0), H(1, P, 0, s(1, 20)), V(0, P, 0), V(1, P, 1), End,           // left margin
    Node(), Store(3), H(0, S(2), 1), H(1, P, 1, -s(1, 20)), V(0, P, 1, -s(108, 480)), V(1, P, 1),  // buttons
      Node(50),                                                                                 // first button
        Var(15, 0), H(0, P, 0), H(1, P, F(1, 2), -s(6, 480)), V(0, P, 0, s(21, 480)), V(1, P, 1, -s(21, 480)),
        Var(15, 1), H(0, P, 0), Width(px(0)), V(0, P, 0), Height(px(0)), Hid,
      End,
      Node(51),                                                                                 // second button
        Var(15, 0), H(0, P, F(1, 2), s(6, 480)), H(1, P, 1), V(0, P, 0, s(21, 480)), V(1, P, 1, -s(21, 480)),
        Var(15, 1), H(0, P, 0), H(1, P, 1), V(0, P, 0, s(21, 480)), V(1, P, 1, -s(21, 480)),
      End,
    End,
    Node(), Store(4), H(0, S(2), 1), Width(px(0)), V(0, S(1), 1), V(1, S(3), 0), Hid,          // icon column
      Node(45), H(0, P, 0), H(1, P, 1), V(F(1, 2), P, F(1, 2)), Height(h(1, 1), P), End,
    End,
    Node(), H(0, S(4), 1), H(1, P, 1), V(0, S(1), 1), V(1, S(3), 0),                           // text area
      Node(46), H(0, P, 0, s(1, 20)), H(1, P, 1, -s(1, 20)), V(0, P, 0, s(1, 20)), V(1, P, 1, -s(1, 20)), End,
    End,
};
static_assert(IsWellFormedLayoutTable(kMessageDialogLayout));

constexpr TLayoutOp kProgressDialogLayout[] = {
    ClearFirst,
    Node(), Store(1), H(0, P, 0), H(1, P, 1), V(0, P, 0), V(1, P, 1),                          // wrapper
      Node(), Store(2), H(0, P, 0), H(1, P, 1), V(0, P, 0), Height(s(64, 480)),                // caption strip
        Node(44), H(0, P, 0), H(1, P, 1), V(F(1, 2), P, F(1, 2)), Height(s(36, 480)), End,
      End,
      Node(), Store(3), H(0, P, 0), H(1, P, 0, s(1, 20)), V(0, P, 0), V(1, P, 1), End,         // left margin
      Node(), Store(4), H(0, S(3), 1), H(1, P, 1, -s(1, 20)), V(0, P, 1, -s(108, 480)), V(1, P, 1),  // buttons
        Node(50),                                                                                 // first button
          Var(15, 0), H(0, P, 0), H(1, P, F(1, 2), -s(6, 480)), V(0, P, 0, s(21, 480)), V(1, P, 1, -s(21, 480)),
          Var(15, 1), H(0, P, 0), Width(px(0)), V(0, P, 0), Height(px(0)), Hid,
        End,
        Node(51),                                                                                 // second button
          Var(15, 0), H(0, P, F(1, 2), s(6, 480)), H(1, P, 1), V(0, P, 0, s(21, 480)), V(1, P, 1, -s(21, 480)),
          Var(15, 1), H(0, P, 0), H(1, P, 1), V(0, P, 0, s(21, 480)), V(1, P, 1, -s(21, 480)),
        End,
      End,
      Node(), Store(5), H(0, P, 0), H(1, P, 1), V(1, S(4), 0), Height(l(32, 800)),             // progress row
        Node(47), H(0, P, 0, s(1, 20)), H(1, P, 1, -s(1, 20)), V(F(1, 2), P, F(1, 2)), Height(l(20, 800)), End,
      End,
      Node(), Store(6), H(0, S(3), 1), Width(px(0)), V(0, S(2), 1), V(1, S(5), 0), Hid,        // icon column
        Node(45), H(0, P, 0), H(1, P, 1), V(F(1, 2), P, F(1, 2)), Height(h(1, 1), P), End,
      End,
      Node(), H(0, S(6), 1), H(1, P, 1), V(0, S(2), 1), V(1, S(5), 0),                         // text area
        Node(46), H(0, P, 0, s(1, 20)), H(1, P, 1, -s(1, 20)), V(0, P, 0, s(1, 20)), V(1, P, 1, -s(1, 20)), End,
      End,
    End,
};
static_assert(IsWellFormedLayoutTable(kProgressDialogLayout));

}  // namespace

void BuildMessageDialogLayout(CLayoutNode* pNode) {
  RunLayoutTable(pNode, kMessageDialogLayout, "BuildMessageDialogLayout");
}

void BuildProgressDialogLayout(CLayoutNode* pNode) {
  RunLayoutTable(pNode, kProgressDialogLayout, "BuildProgressDialogLayout");
}
