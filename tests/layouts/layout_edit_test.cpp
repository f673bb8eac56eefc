// The run-time edits owners make to built trees: re-anchoring with a
// different anchor (the axis starts over), with the same anchor (the size
// stays), heights in pixels on the variant in use, managed visibility.
#include <gtest/gtest.h>

#include "layouts/LayoutEdit.h"
#include "tests/layouts/layout_golden_support.h"

using namespace layouts_test;

namespace {

TEST(LayoutEditHelp, SpacersGoBelowTheTallerOfPictureAndParagraph) {
  CLayoutHarness h(480, 800);
  // Short paragraphs (30 px) under 55-px pictures: both spacers move from
  // their paragraph to their picture, a different anchor.
  CLayoutNode* pContent = RunScene(h, "help.content", {{"text", 30}});
  ASSERT_TRUE(ReanchorHelpSpacers(pContent));
  h.Relayout(pContent);
  // #164 [22,267 436x30]; #165 at 332, 55 high; #168 35 below #165's bottom.
  ExpectGoldens(pContent, {{165, -1, Rc(17, 332, 55, 55)},
                           {167, -1, Rc(0, 387, 480, 0)},
                           {168, -1, Rc(17, 422, 55, 55)},
                           {169, -1, Rc(96, 412, 357, 30)},
                           {170, -1, Rc(0, 477, 480, 0)},
                           {171, -1, Rc(40, 502, 400, 30)}});

  // Tall paragraphs keep the spacers where they are.
  CLayoutNode* pTall = RunScene(h, "help.content", {{"text", 60}});
  std::string before = DumpLayoutTree(pTall);
  ASSERT_TRUE(ReanchorHelpSpacers(pTall));
  h.Relayout(pTall);
  EXPECT_EQ(DumpLayoutTree(pTall), before);

  // Why the height is set again: the new edge alone leaves the axis with
  // one edge and no size.
  CLayoutNode* pBare = RunScene(h, "help.content", {{"text", 30}});
  CLayoutNode* pSpacer = pBare->FindNode(167, -1);
  pSpacer->SetVerticalEdge(LayoutEdgeTo(TFraction(0, 1), pBare->FindNode(165, -1), TFraction(1, 1)));
  EXPECT_EQ(layout_test::PanicLine([&] { h.Relayout(pBare); }), 926);
}

TEST(LayoutEditUserInfo, SpacerFollowsTheLowerOfPictureAndMeasuredTexts) {
  // At 480 x 800 the picture ends at 255, the text column starts at 115
  // with 8-px gaps: the texts end lower once h191 + h192 + h193 > 124.
  struct TCase {
    int32_t h191, h192, h193;
    int32_t nAnchor, nSpacerTop;
  };
  const TCase cases[] = {
      {28, 22, 20, 190, 255},  // short texts: below the picture
      {50, 40, 34, 193, 255},  // a tie goes to the texts, which end there too
      {50, 40, 35, 193, 256},  // one pixel more: below the texts
      {60, 45, 40, 193, 276},  // the provisional #193 (ending at 201) would have said "picture"
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.h193);
    CLayoutHarness h(480, 800);
    CLayoutNode* pContent = RunScene(h, "userinfo.content", {{"h191", c.h191}, {"h192", c.h192}, {"h193", c.h193}});
    EXPECT_EQ(LayoutRectOf(pContent, 193).bottom, 115 + c.h191 + 8 + c.h192 + 8 + c.h193);
    EXPECT_EQ(LayoutRectOf(pContent, 194), Rc(0, c.nSpacerTop, 0, 0));
    EXPECT_EQ(LayoutRectOf(pContent, 198).top, c.nSpacerTop + 25);
    // The anchor the spacer ended on.
    const CLayoutVariant* v = pContent->FindNode(194, -1)->GetFirstVariant();
    EXPECT_EQ(v->m_y.m_edge1.m_pAnchor, pContent->FindNode(c.nAnchor, -1));
  }
  CLayoutHarness h(480, 800);
  EXPECT_FALSE(ReanchorUserInfoSpacer(RunScene(h, "help.content"), 10, 10, 10));  // not that page
}

TEST(LayoutEditCredits, HeaderTopsKeepTheirSizeAndSectionsStack) {
  CLayoutHarness h(480, 800);
  CLayoutNode* pContent = RunScene(h, "credits.content");
  // A new top on the same anchor replaces the edge and keeps the height.
  CLayoutNode* pHeader = pContent->FindNode(179, -1);
  SetHeightPx(pHeader, 20);
  EditActiveVariant(pHeader);
  pHeader->SetVerticalEdge(LayoutEdgeTo(TFraction(0, 1), pContent->FindNode(178, -1), TFraction(1, 1),
                                        CLayoutValue::Height(1, 30)));
  h.Relayout(pContent);
  EXPECT_EQ(LayoutRectOf(pContent, 179), Rc(19, 172, 441, 20));

  ASSERT_TRUE(SizeCreditsSections(pContent, {20, 50, 21, 51, 22, 52}));
  h.Relayout(pContent);
  // Gaps of h1/30 = 26.67 px before each header.
  ExpectGoldens(pContent, {{179, -1, Rc(19, 172, 441, 20)},
                           {180, -1, Rc(19, 192, 441, 50)},
                           {181, -1, Rc(19, 268, 441, 21)},
                           {182, -1, Rc(19, 289, 441, 51)},
                           {183, -1, Rc(19, 366, 441, 22)},
                           {184, -1, Rc(19, 388, 441, 52)}});
  EXPECT_EQ(pContent->GetContentRect(CLayoutNode::SpaceOwn).bottom, 800);  // the view is taller than the page
}

TEST(LayoutEditDialog, BandIsRecentredWithTheFittedHeight) {
  CLayoutHarness h(480, 800);
  CLayoutNode* pApp = RunScene(h, "app", {{"band", 300}});
  ExpectGoldens(pApp, {{42, -1, Rc(0, 250, 480, 300)}, {43, -1, Rc(15, 265, 450, 270)}});

  // In landscape the text box is crossed until the band grows to fit it.
  CLayoutHarness hl(800, 480);
  CLayoutNode* pDialog = RunScene(hl, "messagedialog", {{"band", 300}});
  ExpectGoldens(pDialog, {{46, -1, Rc(223, 193, 378, 50)}, {51, -1, Rc(406, 288, 195, 66)}});
  EXPECT_FALSE(SetDialogBandHeight(nullptr, 10));
}

TEST(LayoutEditNodes, HeightsAndVisibilityOnTheVariantInUse) {
  CLayoutHarness h(480, 800);
  // #199 keeps its measured height in its key-8 = 1 variant, whichever is in use.
  CLayoutNode* pInfo = RunScene(h, "userinfo.content");
  CLayoutNode* pValue = pInfo->FindNode(199, -1);
  ASSERT_TRUE(SetVariantHeightPx(pValue, 8, 1, 40));
  EXPECT_FALSE(SetVariantHeightPx(pValue, 8, 2, 40));  // no such variant, and none added
  EXPECT_EQ(pValue->GetFirstVariant()->m_pNext->m_pNext, nullptr);
  h.Relayout(pInfo);
  EXPECT_EQ(LayoutRectOf(pInfo, 199), Rc(0, 248, 480, 0));
  pValue->SelectVariants(8, 1);
  h.Relayout(pInfo);
  EXPECT_EQ(LayoutRectOf(pInfo, 199), Rc(20, 248, 440, 40));
  EXPECT_EQ(LayoutRectOf(pInfo, 196).top, 248 + 40 + 25);

  // A height would drop both edges of an axis held by two: refused.
  CLayoutNode* pApp = RunScene(h, "app");
  EXPECT_FALSE(SetHeightPx(pApp->FindNode(43, -1), 100));
  h.Relayout(pApp);
  EXPECT_EQ(LayoutRectOf(pApp, 43), Rc(15, 215, 450, 370));

  // Managed visibility goes to the active variant of a keyed node.
  CLayoutNode* pBar = RunScene(h, "editbar");
  ASSERT_TRUE(ShowLayoutNode(pBar->FindNode(62, -1), true));
  h.Relayout(pBar);
  EXPECT_EQ(VisOf(pBar->FindNode(62, -1)), 'v');
  EXPECT_EQ(LayoutRectOf(pBar, 62), Rc(480, 0, 0, 0));  // still the 10 = 0 variant's place

  // Nothing to edit while no variant is active.
  pBar->ResetVariants();
  EXPECT_EQ(EditActiveVariant(pBar->FindNode(62, -1)), nullptr);
  EXPECT_FALSE(ShowLayoutNode(pBar->FindNode(62, -1), false));
  EXPECT_FALSE(SetHeightPx(nullptr, 1));
}

}  // namespace
