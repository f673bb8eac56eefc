// The application tree, the widgets' own interiors and the list dialog.
#include "layouts/LayoutTable.h"
#include "layouts/Layouts.h"

using namespace LayoutOps;

namespace {

// Root form: constrains the new root itself, then its children.
constexpr TLayoutOp kAppRootLayout[] = {
    H(0, R, 0), H(1, R, 1), V(0, R, 0), V(1, R, 1), Vis,                                          // the screen
    Node(0), H(0, R, 0), H(1, R, 1), V(1, R, 1), Height(h(2, 25)), End,                           // bottom band
    Node(1), H(0, R, 0), H(1, R, 1), V(0, R, 0), Height(h(2, 25)), End,                           // top band
    Node(2), H(0, R, 0), H(1, R, 1), V(0, R, 0), Height(px(0)), Hid, End,                         // panel 1
    Node(3), H(0, R, 0), H(1, R, 1), V(0, R, 1), Height(px(0)), Hid, End,                         // panel 2
    Node(4), H(0, N(0), 0), H(1, N(0), F(1, 2)), V(0, N(0), 0), V(1, N(0), 1), Hid, End,          // left soft key
    Node(5), H(0, N(0), F(1, 2)), H(1, N(0), 1), V(0, N(0), 0), V(1, N(0), 1), Hid, End,          // right soft key
    Node(6), Vis, End,  // view area: LayoutToWindow gives it its edges before every pass
    Node(34), H(0, R, 0), H(1, R, 1), V(0, R, 0), Height(s(10, 240)), End,                        // standard heights
    Node(35), H(0, R, 0), H(1, R, 1), V(0, R, 0), Height(s(12, 240)), End,
    Node(36), H(0, R, 0), H(1, R, 1), V(0, R, 0), Height(s(15, 240)), End,
    Node(37), H(0, R, 0), H(1, R, 1), V(0, R, 0), Height(s(18, 240)), End,
    Node(38), H(0, R, 0), H(1, R, 1), V(0, R, 0), Height(s(24, 240)), End,
};
static_assert(IsWellFormedLayoutTable(kAppRootLayout));

constexpr TLayoutOp kAppFrameLayout[] = {
    Node(42), H(0, R, 0), H(1, R, 1), V(F(1, 2), R, F(1, 2)), Height(h(1, 2)), Free,  // dialog band
      Node(48), H(0, R, 0), Width(s(15, 480)), V(0, R, 0), Height(s(15, 480)), End,  // the cell's inset
      Node(49), H(0, R, 0), Width(s(65, 480)), V(0, R, 0), Height(s(65, 480)), End,  // frame corner size
      Node(43), H(F(1, 2), P, F(1, 2)), Width(s(450, 480)),
                V(0, P, 0, h(1, 1), N(48)), V(1, P, 1, -h(1, 1), N(48)), Free, End,  // modal dialog cell
    End,
    Node(52), H(0, N(6), 0), H(1, N(6), 1), V(1, N(6), 1), V(0, N(6), 0), Free, End,  // panel dialog cell
    Node(53), H(0, N(6), 0), H(1, N(6), 1), V(1, N(6), 1), V(0, N(6), 0), Free, End,  // list dialog cell
    Node(59), H(0, N(6), 0), H(1, N(6), 1), V(1, N(6), 1), V(0, N(6), 0), Free, End,
    Node(41), H(1, R, 1), Width(px(0)), V(0, R, 0), Height(px(0)), Hid, End,          // busy indicator
};
static_assert(IsWellFormedLayoutTable(kAppFrameLayout));

// Arguments of the button layout: 1 shows a part, 0 collapses and hides it.
enum : int32_t { kArgCaption, kArgSubCaption, kArgIcon, kButtonArgs };

constexpr TLayoutOp kButtonLayout[] = {
    ClearFirst,
    Node(7), Store(1), H(0, P, 0), Width(s(1, 40)), V(0, P, 0), Height(s(1, 40)), End,  // corner size
    Node(), Store(2), H(0, P, 0, w(1, 1), S(1)), H(1, P, 1, -h(1, 1), S(1)),
                      V(0, P, 0, h(1, 1), S(1)), V(1, P, 1, -h(1, 1), S(1)),  // inner box
      Node(10), Store(3), H(0, P, 0),                                         // icon
        If(kArgIcon, 1), Width(h(1, 1), P), Else, Width(px(0)), EndIf,
        V(0, P, 0), Height(h(1, 1), P),
        If(kArgIcon, 1), Vis, Else, Hid, EndIf,
      End,
      Node(), Store(4), H(0, S(3), 1),                                        // gap after the icon
        If(kArgIcon, 1), H(1, S(3), 1, w(1, 1), S(1)), Else, Width(px(0)), EndIf,
        V(0, P, 0), V(1, P, 1),
        If(kArgIcon, 1), Vis, Else, Hid, EndIf,
      End,
      Node(8), H(0, S(4), 1), H(1, P, 1),                                     // caption: upper half
        If(kArgCaption, 1),
          If(kArgSubCaption, 1), Height(h(1, 2), P), Else, Height(h(1, 1), P), EndIf,
        Else, Height(px(0)), EndIf,
        V(0, P, 0),
        If(kArgCaption, 1), Vis, Else, Hid, EndIf,
      End,
      Node(9), H(0, S(4), 1), H(1, P, 1),                                     // sub-caption: lower half
        If(kArgSubCaption, 1),
          If(kArgCaption, 1), Height(h(1, 2), P), Else, Height(h(1, 1), P), EndIf,
        Else, Height(px(0)), EndIf,
        V(1, P, 1),
        If(kArgSubCaption, 1), Vis, Else, Hid, EndIf,
      End,
    End,
};
static_assert(IsWellFormedLayoutTable(kButtonLayout, kButtonArgs));

constexpr TLayoutOp kScrollPanelLayout[] = {
    ClearFirst,
    Node(27), H(1, P, 1), Width(s(15, 480)), V(0, P, 0), V(1, P, 1), Free, End,  // scroll bar
    Node(28), H(0, P, 0), H(1, P, 1), V(0, P, 0), V(1, P, 1), End,              // content cell
};
static_assert(IsWellFormedLayoutTable(kScrollPanelLayout));

constexpr TLayoutOp kSoftKeyBarLayout[] = {
    ClearFirst,
    Node(40), H(0, P, 0, h(1, 3), P), H(1, P, 1, -h(1, 3), P),
              V(0, P, 0, h(1, 3), P), V(1, P, 1, -h(1, 3), P), End,  // text area
};
static_assert(IsWellFormedLayoutTable(kSoftKeyBarLayout));

constexpr TLayoutOp kListDialogLayout[] = {
    ClearFirst,
    Node(58), H(0, R, 0), Width(l(20, 800)), V(0, R, 0), Height(l(20, 800)), End,  // frame reference square
    Node(54), H(0, P, 0), H(1, P, 1), V(0, P, 0), V(1, P, 1), End,                // list area: the rows
};
static_assert(IsWellFormedLayoutTable(kListDialogLayout));

}  // namespace

std::unique_ptr<CLayoutNode> BuildAppRootLayout() {
  std::unique_ptr<CLayoutNode> pRoot = CLayoutNode::CreateRoot();
  RunLayoutTable(pRoot.get(), kAppRootLayout, "BuildAppRootLayout");
  return pRoot;
}

void BuildAppFrameLayout(CLayoutNode* pRoot) { RunLayoutTable(pRoot, kAppFrameLayout, "BuildAppFrameLayout"); }

void BuildButtonLayout(CLayoutNode* pNode, bool bCaption, bool bSubCaption, bool bIcon) {
  const int32_t args[kButtonArgs] = {bCaption, bSubCaption, bIcon};
  RunLayoutTable(pNode, kButtonLayout, "BuildButtonLayout", args);
}

void BuildScrollPanelLayout(CLayoutNode* pNode) {
  RunLayoutTable(pNode, kScrollPanelLayout, "BuildScrollPanelLayout");
}

void BuildSoftKeyBarLayout(CLayoutNode* pNode) { RunLayoutTable(pNode, kSoftKeyBarLayout, "BuildSoftKeyBarLayout"); }

void BuildListDialogLayout(CLayoutNode* pNode, int32_t n) {
  RunLayoutTable(pNode, kListDialogLayout, "BuildListDialogLayout");
  // Rows stack upwards from the list area's bottom, half a frame corner above
  // it; the separator under row 0 is hidden, so lines show only between rows.
  CLayoutNode* pList = pNode->FindNode(54, -1);
  for (int32_t i = 0; i < n; ++i) {
    const TLayoutOp bottom = i == 0 ? V(1, P, 1, -h(1, 2), N(58)) : V(1, N(55, i - 1), 0);
    const TLayoutOp lineBottom = i == 0 ? V(1, P, 1, -h(1, 1), N(58)) : V(1, N(55, i - 1), 0);
    const TLayoutOp row[] = {
        Node(55, i), Width(s(5, 6)), H(F(1, 2), R, F(1, 2)), Height(s(1, 8)), bottom, Free,
          Node(57, i), H(0, N(55, i), 0, -px(1)), H(F(1, 2), R, F(1, 2)), Height(px(1)), lineBottom,
                       i == 0 ? Hid : Free, End,
        End,
    };
    RunLayoutTable(pList, row, "BuildListDialogLayout");
  }
}
