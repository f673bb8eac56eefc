// The pages about a track and a user: user page, track details and their
// rows, user information.
#include "layouts/LayoutTable.h"
#include "layouts/Layouts.h"

using namespace LayoutOps;

namespace {

// Every row and the footer exist only in keyed variants (keys 5, 6, 9, 11,
// 14); the page selects all five after building. Collapsed rows move the
// rows below them up. #134 carries no control: its size is the size of the
// user image to fetch. #148 and #149 are 0 high in every variant.
constexpr TLayoutOp kUserPageContentLayout[] = {
    ClearFirst,
    Node(126), V(0, P, 0, l(27, 800)), H(0, P, 0, l(17, 800)), Height(l(125, 800)), Width(l(125, 800)), End,  // picture
    Node(127), V(0, P, 0, l(34, 800)), H(0, N(126), 1, l(17, 800)), Height(l(32, 800)), H(1, P, 1), End,      // track
    Node(128), V(0, N(127), 1, l(7, 800)), H(0, N(126), 1, l(17, 800)), Height(l(30, 800)), H(1, P, 1), End,  // artist
    Node(129), V(0, N(128), 1, l(7, 800)), H(0, N(126), 1, l(17, 800)), Height(l(30, 800)), H(1, P, 1), End,  // album
    Node(131),                                                                      // track preview row
      Var(6, 1), H(0, P, 0), H(1, P, 1), V(0, N(126), 1, l(27, 800)), Height(l(88, 800)),
      Var(6, 0), H(0, P, 0), H(1, P, 1), V(0, N(126), 1, l(27, 800)), Height(px(0)), Hid,
    End,
    Node(130),                                                                      // recording row
      Var(5, 1), H(0, P, 0), H(1, P, 1), V(0, N(131), 1), Height(l(88, 800)),
      Var(5, 0), H(0, P, 0), H(1, P, 1), V(0, N(131), 1), Height(px(0)), Hid,
    End,
    Node(132),                                                                      // details toggle row
      Var(5, 1), H(0, P, 0), H(1, P, 1), V(0, N(130), 1), Height(l(88, 800)),
      Var(5, 0), H(0, P, 0), H(1, P, 1), V(0, N(130), 1), Height(px(0)),
    End,
    Node(133),                                                                      // user picture
      Var(9, 0, 1), H(0, P, 0), Width(px(0)), V(0, N(132), 1), Height(px(0)),
      Var(9, 1, 1), H(0, P, 0, l(18, 800)), Width(l(93, 800)), V(0, N(132), 1, l(2, 800)), Height(l(98, 800)),
    End,
    Node(134), H(0, P, 0, l(18, 800)), Width(l(93, 800)), V(0, N(132), 1, l(2, 800)), Height(l(98, 800)), End,
    Node(135),
      Var(9, 0, 1), H(0, N(133), 1), Width(px(0)), V(0, N(133), 0), Height(px(0)),
      Var(9, 1, 1), H(0, N(133), 1, l(18, 800)), H(1, P, 1), V(0, N(133), 0, l(10, 800)), Height(l(39, 800)),
    End,
    Node(136),
      Var(9, 0, 1), H(0, N(133), 1), Width(px(0)), V(0, N(135), 0), Height(px(0)),
      Var(9, 1, 1), H(0, N(133), 1, l(18, 800)), H(1, P, 1), V(0, N(135), 1, l(8, 800)), Height(l(35, 800)),
    End,
    Node(137),                                                                      // user row
      Var(9, 0, 1), H(0, N(133), 1), Width(px(0)), V(0, N(135), 0), Height(px(0)),
      Var(9, 1, 1), H(0, N(133), 1, l(18, 800)), H(1, P, 1), V(0, N(132), 1, l(2, 800)), Height(l(98, 800)),
    End,
    Node(138),                                                                      // recordings button
      Var(9, 0, 1), H(0, P, 0), Width(px(0)), V(0, N(133), 1), Height(px(0)),
      Var(9, 1, 1), H(F(1, 2), P, F(1, 2)), Width(l(454, 800)), V(0, N(133), 1, l(19, 800)), Height(l(62, 800)),
    End,
    Node(139),                                                                      // playlist button
      Var(9, 0, 1), H(F(1, 2), P, F(1, 2)), Width(px(0)), V(0, N(138), 1), Height(px(0)),
      Var(9, 1, 1), H(F(1, 2), P, F(1, 2)), Width(l(454, 800)), V(0, N(138), 1, l(17, 800)), Height(l(62, 800)),
    End,
    Node(140),                                                                      // information button
      Var(9, 0, 1), H(F(1, 2), P, F(1, 2)), Width(px(0)), V(0, N(139), 1), Height(px(0)),
      Var(9, 1, 1), H(F(1, 2), P, F(1, 2)), Width(l(454, 800)), V(0, N(139), 1, l(17, 800)), Height(l(62, 800)),
    End,
    Node(141),                                                                      // video row
      Var(9, 3, 3), H(0, P, 0), H(1, P, 1), V(0, N(140), 1, l(14, 800)), Height(l(88, 800)),
      Var(9, 1, 3), H(0, P, 0), H(1, P, 1), V(0, N(140), 1, l(14, 800)), Height(px(0)), Hid,
      Var(9, 2, 3), H(0, P, 0), H(1, P, 1), V(0, N(140), 1), Height(l(88, 800)),
      Var(9, 0, 3), H(0, P, 0), H(1, P, 1), V(0, N(140), 1), Height(px(0)), Hid,
    End,
    Node(142),                                                                      // buy row
      Var(14, 0), H(0, P, 0), H(1, P, 1), V(0, N(141), 1), Height(px(0)), Hid,
      Var(14, 1), H(0, P, 0), H(1, P, 1), V(0, N(141), 1), Height(l(88, 800)), Vis,
    End,
    Node(143),                                                                      // lyrics row
      Var(9, 4, 4), H(0, P, 0), H(1, P, 1), V(0, N(142), 1), Height(l(88, 800)),
      Var(9, 0, 4), H(0, P, 0), H(1, P, 1), V(0, N(142), 1), Height(px(0)), Hid,
    End,
    Node(145), H(0, P, 0), H(1, P, 1), V(0, N(143), 1), Height(px(1)), End,        // separator
    Node(146),                                                                      // logo
      Var(11, 0), H(F(1, 2), P, F(1, 2), -l(118, 800)), Width(l(110, 800)), V(0, N(143), 1, l(49, 800)), Height(l(32, 800)),
      Var(11, 1), H(0, P, 0, s(10, 320)), Width(s(69, 320)), V(0, N(143), 1, l(49, 800)), Height(s(20, 320)),
    End,
    Node(148),                                                                      // attribution text
      Var(11, 0), H(0, P, 0), Width(px(0)), V(0, P, 0), Height(px(0)), Hid,
      Var(11, 1), H(0, P, 0, s(10, 320)), H(1, P, F(1, 2), -s(10, 320)), V(0, N(146), 1, s(6, 320)), Height(px(0)),
    End,
    Node(147),                                                                      // second logo
      Var(11, 0), H(0, P, 0), Width(px(0)), V(0, P, 0), Height(px(0)), Hid,
      Var(11, 1), H(0, P, F(1, 2), -s(5, 320)), Width(s(48, 320)), V(0, N(143), 1, l(49, 800)), Height(s(16, 320)),
    End,
    Node(149),                                                                      // footer text
      Var(11, 0), H(0, N(146), 1, l(12, 800)), Width(l(240, 800)), V(0, N(146), 0, l(2, 800)), Height(px(0)),
      Var(11, 1), H(0, P, F(1, 2), -s(5, 320)), H(1, P, 1, -s(10, 320)), V(0, N(147), 1, s(6, 320)), Height(px(0)),
    End,
};
static_assert(IsWellFormedLayoutTable(kUserPageContentLayout));

constexpr TLayoutOp kUserPageLayout[] = {
    ClearFirst,
    Node(7), H(0, P, 0), Width(px(0)), V(0, P, 0), Height(px(0)), End,
    Node(8), H(1, P, 1), H(0, P, 0), V(0, P, 0, l(14, 800)), V(1, P, 1, -l(14, 800)), End,  // caption
    Node(9), H(0, P, 0), Width(px(0)), V(0, P, 0), Height(px(0)), Hid, End,
    Node(10), H(0, P, 0), Width(px(0)), V(0, P, 0), Height(px(0)), Hid, End,
};
static_assert(IsWellFormedLayoutTable(kUserPageLayout));

// Rows #141-#143 and the footer exist only in keyed variants (keys 11-14);
// the screen selects all four after building.
constexpr TLayoutOp kTrackDetailsContentLayout[] = {
    ClearFirst,
    Node(126), V(0, P, 0, l(27, 800)), H(0, P, 0, l(17, 800)), Height(l(125, 800)), Width(l(125, 800)), End,  // image
    Node(127), V(0, P, 0, l(34, 800)), H(0, N(126), 1, l(17, 800)), Height(l(32, 800)), H(1, P, 1), End,      // track
    Node(128), V(0, N(127), 1, l(7, 800)), H(0, N(126), 1, l(17, 800)), Height(l(30, 800)), H(1, P, 1), End,  // artist
    Node(129), V(0, N(128), 1, l(7, 800)), H(0, N(126), 1, l(17, 800)), Height(l(30, 800)), H(1, P, 1), End,  // album
    Node(150), H(0, P, 0), H(1, P, 1), V(0, N(126), 1, l(27, 800)), Height(l(88, 800)), End,                  // preview
    Node(141),                                                                      // video row
      Var(12, 0), H(0, P, 0), H(1, P, 1), V(0, N(150), 1), Height(px(0)), Hid,
      Var(12, 1), H(0, P, 0), H(1, P, 1), V(0, N(150), 1), Height(l(88, 800)),
    End,
    Node(142),                                                                      // buy row
      Var(14, 0), H(0, P, 0), H(1, P, 1), V(0, N(141), 1), Height(px(0)), Hid,
      Var(14, 1), H(0, P, 0), H(1, P, 1), V(0, N(141), 1), Height(l(88, 800)), Vis,
    End,
    Node(143),                                                                      // lyrics row
      Var(13, 0), H(0, P, 0), H(1, P, 1), V(0, N(142), 1), Height(px(0)), Hid,
      Var(13, 1), H(0, P, 0), H(1, P, 1), V(0, N(142), 1), Height(l(88, 800)),
    End,
    Node(145), H(0, P, 0), H(1, P, 1), V(0, N(143), 1), Height(px(1)), End,        // separator
    Node(146),                                                                      // logo
      Var(11, 0), H(F(1, 2), P, F(1, 2), -l(118, 800)), Width(l(110, 800)), V(0, N(145), 1, l(49, 800)), Height(l(32, 800)),
      Var(11, 1), H(0, P, 0, s(10, 320)), Width(s(69, 320)), V(0, N(145), 1, l(49, 800)), Height(s(20, 320)),
    End,
    Node(148),                                                                      // attribution text
      Var(11, 0), H(0, P, 0), Width(px(0)), V(0, P, 0), Height(px(0)), Hid,
      Var(11, 1), H(0, P, 0, s(10, 320)), H(1, P, F(1, 2), -s(10, 320)), V(0, N(146), 1, s(6, 320)), Height(px(0)),
    End,
    Node(147),                                                                      // second logo
      Var(11, 0), H(0, P, 0), Width(px(0)), V(0, P, 0), Height(px(0)), Hid,
      Var(11, 1), H(0, P, F(1, 2), -s(5, 320)), Width(s(48, 320)), V(0, N(145), 1, l(49, 800)), Height(s(16, 320)),
    End,
    Node(149),                                                                      // footer text
      Var(11, 0), H(0, N(146), 1, l(12, 800)), Width(l(240, 800)), V(0, N(146), 0, l(2, 800)), Height(px(0)),
      Var(11, 1), H(0, P, F(1, 2), -s(5, 320)), H(1, P, 1, -s(10, 320)), V(0, N(147), 1, s(6, 320)), Height(px(0)),
    End,
};
static_assert(IsWellFormedLayoutTable(kTrackDetailsContentLayout));

// Details row, one caption line (mode 0) or two.
constexpr TLayoutOp kDetailsPartLayoutA0[] = {
    Node(11), H(1, P, 1, -l(77, 800)), H(0, P, 0, l(22, 800)), V(F(1, 2), P, F(1, 2)), Height(l(88, 800)), End,
    Node(12), H(1, P, 1, -l(77, 800)), H(0, P, 0, l(22, 800)), V(1, P, 1, -l(10, 800)), Height(px(0)), Hid, End,
    Node(10), H(1, P, 1, -l(15, 800)), Width(l(62, 800)), V(F(1, 2), P, F(1, 2)), Height(l(62, 800)), End,
    Node(13), H(0, P, 0, l(22, 800)), H(1, N(10), 0, -l(22, 800)), V(0, N(12), 1, l(2, 800)), Height(l(6, 800)), End,
};
static_assert(IsWellFormedLayoutTable(kDetailsPartLayoutA0));

constexpr TLayoutOp kDetailsPartLayoutA1[] = {
    Node(11), H(0, P, 0, l(18, 800)), H(1, P, 1, -l(99, 800)), V(0, P, 0, l(10, 800)), Height(l(42, 800)), End,
    Node(12), H(0, P, 0, l(18, 800)), H(1, P, 1, -l(99, 800)), V(0, N(11), 1), V(1, P, 1, -l(8, 800)), End,
    Node(10), H(1, P, 1, -l(15, 800)), Width(l(62, 800)), V(F(1, 2), P, F(1, 2)), Height(l(62, 800)), End,
    Node(13), H(0, P, 0, l(22, 800)), H(1, N(10), 0, -l(22, 800)), V(0, N(12), 1, l(2, 800)), Height(l(6, 800)), End,
};
static_assert(IsWellFormedLayoutTable(kDetailsPartLayoutA1));

constexpr TLayoutOp kDetailsPartLayoutB[] = {
    Node(11), H(1, P, 1, -l(63, 800)), H(0, P, 0, l(22, 800)), V(F(1, 2), P, F(1, 2)), Height(l(88, 800)), End,
    Node(10), H(1, P, 1, -l(15, 800)), Width(l(62, 800)), V(F(1, 2), P, F(1, 2)), Height(l(62, 800)), End,
};
static_assert(IsWellFormedLayoutTable(kDetailsPartLayoutB));

constexpr TLayoutOp kThinCornerLayout[] = {
    ClearFirst,
    Node(7), H(0, P, 0), Width(px(0)), V(0, P, 0), Height(px(1)), End,
};
static_assert(IsWellFormedLayoutTable(kThinCornerLayout));

// The texts get provisional heights; the view measures them after the user
// information arrives and re-anchors the spacer #194 below the picture or
// the texts. #199 exists only in key-8 variants. #145 and #149 anchor their
// right edge on #129, which this tree does not have: the edge falls back to
// the pass rectangle's right, as designed.
constexpr TLayoutOp kUserInfoContentLayout[] = {
    ClearFirst,
    Node(186), H(0, P, 0), Width(px(0)), V(0, P, 0), Height(l(28, 800)), End,  // font height probes
    Node(187), H(0, P, 0), Width(px(0)), V(0, P, 0), Height(l(22, 800)), End,
    Node(188), H(0, P, 0), Width(px(0)), V(0, P, 0), Height(l(18, 800)), End,
    Node(189), H(0, P, 0), Width(px(0)), V(0, P, 0), Height(l(22, 800)), End,
    Node(185), H(0, R, 0), H(1, R, 1), V(0, P, 0), Height(l(20, 800)), End,   // top strip: the spacing unit
    Node(190), H(0, P, 0, l(20, 800)), Width(l(120, 800)), V(0, N(185), 1), Height(l(160, 800)), End,  // picture
    Node(191), H(0, N(190), 1, l(12, 800)), H(1, P, 1, -l(20, 800)), V(0, N(185), 1, l(20, 800)), Height(l(28, 800)), End,
    Node(192), H(0, N(190), 1, l(12, 800)), H(1, P, 1, -l(20, 800)), V(0, N(191), 1, l(8, 800)), Height(l(22, 800)), End,
    Node(193), H(0, N(190), 1, l(12, 800)), H(1, P, 1, -l(20, 800)), V(0, N(192), 1, l(8, 800)), Height(l(20, 800)), End,
    Node(194), H(0, P, 0), Width(px(0)), V(0, N(193), 1), Height(px(0)), End,  // spacer
    Node(198), H(0, P, 0, l(20, 800)), H(1, P, 1, -l(20, 800)), V(0, N(194), 1, l(25, 800)), Height(l(22, 800)), End,
    Node(),                                                                    // second field's value
      Var(8, 1), Id(199), H(0, P, 0, l(20, 800)), H(1, P, 1, -l(20, 800)), V(0, N(198), 1), Height(px(0)), Vis,
      Var(8, 0), Id(199), H(0, P, 0), H(1, P, 1), V(0, N(198), 1), Height(px(0)), Vis,
    End,
    Node(196), H(0, P, 0, l(20, 800)), H(1, P, 1, -l(20, 800)), V(0, N(199), 1, l(25, 800)), Height(px(0)), End,
    Node(197), H(0, P, 0, l(20, 800)), H(1, P, 1, -l(20, 800)), V(0, N(196), 1), Height(px(0)), End,
    Node(145), H(0, P, 0, s(6, 240)), H(1, N(129), 1), V(0, N(199), 1, s(10, 240)), Height(s(1, 240)), End,
    Node(146), H(0, P, 0, s(6, 240)), Width(s(51, 240)), V(0, N(145), 1, s(10, 240)), Height(s(16, 240)), End,
    Node(147), H(0, P, 0, s(100, 240)), Width(s(31, 240)), V(0, N(145), 1, s(10, 240)), Height(s(11, 240)), End,
    Node(148), H(0, P, 0, s(6, 240)), H(1, P, 0, s(100, 240)), V(0, N(146), 1, s(2, 240)), Height(s(31, 240)), End,
    Node(149), H(0, P, 0, s(100, 240)), H(1, N(129), 1), V(0, N(147), 1, s(2, 240)), Height(s(31, 240)), End,
};
static_assert(IsWellFormedLayoutTable(kUserInfoContentLayout));

}  // namespace

void BuildUserPageContentLayout(CLayoutNode* pNode, int32_t) {
  RunLayoutTable(pNode, kUserPageContentLayout, "BuildUserPageContentLayout");
}

void BuildUserPageLayout(CLayoutNode* pNode) { RunLayoutTable(pNode, kUserPageLayout, "BuildUserPageLayout"); }

void BuildTrackDetailsContentLayout(CLayoutNode* pNode, int32_t) {
  RunLayoutTable(pNode, kTrackDetailsContentLayout, "BuildTrackDetailsContentLayout");
}

void BuildDetailsPartLayoutA(CLayoutNode* pNode, int32_t mode) {
  if (mode == 0)
    RunLayoutTable(pNode, kDetailsPartLayoutA0, "BuildDetailsPartLayoutA");
  else
    RunLayoutTable(pNode, kDetailsPartLayoutA1, "BuildDetailsPartLayoutA");
}

void BuildDetailsPartLayoutB(CLayoutNode* pNode) {
  RunLayoutTable(pNode, kDetailsPartLayoutB, "BuildDetailsPartLayoutB");
}

void BuildThinCornerLayout(CLayoutNode* pNode) { RunLayoutTable(pNode, kThinCornerLayout, "BuildThinCornerLayout"); }

void BuildUserInfoContentLayout(CLayoutNode* pNode) {
  RunLayoutTable(pNode, kUserInfoContentLayout, "BuildUserInfoContentLayout");
}
