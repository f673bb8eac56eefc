// Golden rectangles of the descriptions, each solved the way its owner runs
// it. The 480 x 800 and 800 x 480 values come from an independent model of
// the engine; those at 480 x 480, 240 x 400 and with the real main window
// (the screen less the menu bar) were worked out by hand from the tables,
// truncating each edge toward zero.
#include <gtest/gtest.h>

#include "tests/layouts/layout_golden_support.h"

using namespace layouts_test;

namespace {

const RECT kMenuBarPortrait = CLayoutHarness::MenuBarWindow(480, 800);   // 0, 0, 480, 736
const RECT kMenuBarLandscape = CLayoutHarness::MenuBarWindow(800, 480);  // 0, 0, 800, 442

TEST(LayoutGoldenApp, BandsDialogCellsAndStandardHeights) {
  CLayoutHarness h(480, 800);
  ExpectGoldens(RunScene(h, "app"), {{0, -1, Rc(0, 736, 480, 64)},
                                     {1, -1, Rc(0, 0, 480, 64)},
                                     {4, -1, Rc(0, 736, 240, 64), 'h'},
                                     {5, -1, Rc(240, 736, 240, 64), 'h'},
                                     {40, -1, Rc(21, 757, 197, 21), 'h'},  // hidden with its bar
                                     {6, -1, Rc(0, 0, 480, 800), 'v'},
                                     {34, -1, Rc(0, 0, 480, 20)},
                                     {38, -1, Rc(0, 0, 480, 48)},
                                     {42, -1, Rc(0, 200, 480, 400), 'f'},
                                     {43, -1, Rc(15, 215, 450, 370), 'f'},
                                     {49, -1, Rc(0, 0, 65, 65)},
                                     {52, -1, Rc(0, 0, 480, 800)},
                                     {59, -1, Rc(0, 0, 480, 800)},
                                     {41, -1, Rc(480, 0, 0, 0), 'h'}});

  // Per-edge truncation makes the two bands differ by a pixel; the standard
  // heights follow the smaller side and so keep their size.
  CLayoutHarness hl(800, 480);
  ExpectGoldens(RunScene(hl, "app"), {{0, -1, Rc(0, 441, 800, 39)},
                                      {1, -1, Rc(0, 0, 800, 38)},
                                      {36, -1, Rc(0, 0, 800, 30)},
                                      {42, -1, Rc(0, 120, 800, 240)},
                                      {43, -1, Rc(175, 135, 450, 210)}});

  // With the real main window the dialog cells over the view area shrink,
  // the dialog band (on the screen) does not.
  CLayoutHarness hm(480, 800, kMenuBarPortrait);
  ExpectGoldens(RunScene(hm, "app"), {{6, -1, Rc(0, 0, 480, 736)},
                                      {53, -1, Rc(0, 0, 480, 736)},
                                      {42, -1, Rc(0, 200, 480, 400)}});
}

TEST(LayoutGoldenControls, ButtonScrollPanelAndListDialog) {
  CLayoutHarness h(480, 800);
  ExpectGoldens(RunScene(h, "button"), {{7, -1, Rc(10, 10, 12, 12)},
                                        {10, -1, Rc(22, 22, 36, 36), 'v'},
                                        {8, -1, Rc(70, 22, 128, 18), 'v'},
                                        {9, -1, Rc(70, 40, 128, 18), 'v'}});
  // The captions sit in the inner box beside the icon, not in the gap.
  CLayoutNode* pButton = RunScene(h, "button");
  CLayoutNode* pBox = pButton->FindNode(10, -1)->GetParent();
  EXPECT_EQ(pButton->FindNode(8, -1)->GetParent(), pBox);
  EXPECT_EQ(pButton->FindNode(9, -1)->GetParent(), pBox);
  EXPECT_EQ(pBox->GetRect(CLayoutNode::SpaceWindow), Rc(22, 22, 176, 36));

  ExpectGoldens(RunScene(h, "scrollpanel"), {{27, -1, Rc(465, 75, 15, 725), 'f'}, {28, -1, Rc(0, 75, 480, 725)}});

  // Rows stack upwards; the bottom row's separator is hidden.
  ExpectGoldens(RunScene(h, "listdialog"), {{58, -1, Rc(0, 0, 20, 20)},
                                            {55, 0, Rc(40, 730, 400, 60), 'f'},
                                            {55, 1, Rc(40, 670, 400, 60)},
                                            {55, 3, Rc(40, 550, 400, 60)},
                                            {57, 0, Rc(39, 769, 402, 1), 'h'},
                                            {57, 1, Rc(39, 729, 402, 1), 'f'}});
  CLayoutNode* pEmpty = RunScene(h, "listdialog", {{"rows", 0}});
  EXPECT_EQ(pEmpty->FindNode(54, -1)->GetFirstChild(), nullptr);
}

TEST(LayoutGoldenControls, ButtonFlagsCollapseAndHideTheirParts) {
  // Button (10, 10, 200 x 60): inner box [22,22 176x36], corner 12.
  CLayoutHarness h(480, 800);
  struct TCase {
    int32_t caption, sub, icon;
    RECT rc8, rc9, rc10;
    char vis8, vis9, vis10;
  };
  const TCase cases[] = {
      {1, 0, 1, Rc(70, 22, 128, 36), Rc(70, 58, 128, 0), Rc(22, 22, 36, 36), 'v', 'h', 'v'},
      {0, 1, 1, Rc(70, 22, 128, 0), Rc(70, 22, 128, 36), Rc(22, 22, 36, 36), 'h', 'v', 'v'},
      {0, 0, 1, Rc(70, 22, 128, 0), Rc(70, 58, 128, 0), Rc(22, 22, 36, 36), 'h', 'h', 'v'},
      {1, 1, 0, Rc(22, 22, 176, 18), Rc(22, 40, 176, 18), Rc(22, 22, 0, 36), 'v', 'v', 'h'},
      {1, 0, 0, Rc(22, 22, 176, 36), Rc(22, 58, 176, 0), Rc(22, 22, 0, 36), 'v', 'h', 'h'},
      {0, 0, 0, Rc(22, 22, 176, 0), Rc(22, 58, 176, 0), Rc(22, 22, 0, 36), 'h', 'h', 'h'},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "flags " << c.caption << c.sub << c.icon);
    CLayoutNode* pTree = RunScene(h, "button", {{"caption", c.caption}, {"subcaption", c.sub}, {"icon", c.icon}});
    ExpectGoldens(pTree, {{8, -1, c.rc8, c.vis8}, {9, -1, c.rc9, c.vis9}, {10, -1, c.rc10, c.vis10}});
  }
}

TEST(LayoutGoldenSettings, PortraitLandscapeSquareAndButtonParts) {
  CLayoutHarness h(480, 800);
  // The labels reach 22/800 past the right edge, the lines are 800 wide.
  ExpectGoldens(RunScene(h, "settings"), {{102, -1, Rc(22, 75, 480, 73)},
                                          {103, -1, Rc(13, 150, 454, 62)},
                                          {106, -1, Rc(-160, 222, 800, 1)},
                                          {104, -1, Rc(22, 229, 480, 73)},
                                          {105, -1, Rc(14, 304, 452, 62)},
                                          {107, -1, Rc(-160, 376, 800, 1)}});
  ExpectGoldens(RunScene(h, "settings.button1"), {{61, -1, Rc(33, 155, 413, 62)}});
  ExpectGoldens(RunScene(h, "settings.button2"), {{61, -1, Rc(28, 309, 424, 62)}});
  ExpectGoldens(RunScene(h, "settings.button1.skin"), {{7, -1, Rc(13, 150, 26, 0)}});

  CLayoutHarness hl(800, 480);
  ExpectGoldens(RunScene(hl, "settings"), {{102, -1, Rc(22, 75, 356, 73)},
                                           {103, -1, Rc(422, 81, 356, 62)},
                                           {106, -1, Rc(0, 153, 800, 1)},
                                           {104, -1, Rc(22, 160, 356, 73)},
                                           {105, -1, Rc(422, 160, 356, 62)},
                                           {107, -1, Rc(0, 232, 800, 1)}});
  // The second caption is wider than its button.
  ExpectGoldens(RunScene(hl, "settings.button2"), {{61, -1, Rc(388, 165, 424, 62)}});

  // A square screen takes the landscape description.
  CLayoutHarness hs(480, 480);
  ExpectGoldens(RunScene(hs, "settings"), {{114, -1, Rc(0, 0, 480, 45)},
                                           {108, -1, Rc(0, 45, 0, 2)},
                                           {102, -1, Rc(13, 45, 213, 43)},
                                           {103, -1, Rc(253, 48, 213, 37)}});
}

TEST(LayoutGoldenRecorder, PortraitAndLandscape) {
  CLayoutHarness h(480, 800);
  ExpectGoldens(RunScene(h, "recorder"), {{114, -1, Rc(0, 0, 480, 0), 'h'},
                                          {83, -1, Rc(0, 0, 240, 100)},
                                          {84, -1, Rc(240, 0, 240, 100)},
                                          {85, -1, Rc(0, 100, 480, 1)},
                                          {75, -1, Rc(13, 667, 454, 120)},
                                          {86, -1, Rc(15, 635, 450, 12)},
                                          {87, -1, Rc(15, 593, 225, 30)},
                                          {88, -1, Rc(240, 593, 225, 30)},
                                          {76, -1, Rc(28, 136, 424, 457)},
                                          {77, -1, Rc(28, 136, 424, 30)},
                                          {78, -1, Rc(28, 176, 424, 417)},
                                          {74, -1, Rc(0, 540, 480, 40)}});
  // The icon overhangs the mode button's top; the caption box is 2.34 times
  // the text column and reaches past the screen.
  ExpectGoldens(RunScene(h, "recorder.modebutton"),
                {{7, -1, Rc(0, 0, 10, 10)}, {10, -1, Rc(84, -2, 72, 71)}, {8, -1, Rc(0, 69, 240, 23)},
                 {9, -1, Rc(0, 0, 0, 0), 'h'}});
  ExpectGoldens(RunScene(h, "recorder.recordbutton"), {{10, -1, Rc(28, 679, 115, 95), 'v'},
                                                       {234, -1, Rc(143, 712, 309, 30)},
                                                       {8, -1, Rc(158, 586, 294, 281)},
                                                       {226, -1, Rc(158, 692, 294, 30)},
                                                       {227, -1, Rc(158, 732, 294, 30)}});

  CLayoutHarness hl(800, 480);  // rotation index 3: only the screen's own selection places the nodes
  ExpectGoldens(RunScene(hl, "recorder"), {{75, -1, Rc(173, 382, 454, 90)},
                                           {86, -1, Rc(15, 350, 770, 12)},
                                           {87, -1, Rc(15, 308, 385, 30)},
                                           {88, -1, Rc(400, 308, 385, 30)},
                                           {76, -1, Rc(28, 100, 744, 208)},
                                           {78, -1, Rc(28, 136, 744, 172)},
                                           {74, -1, Rc(256, 308, 288, 40)}});
  ExpectGoldens(RunScene(hl, "recorder.recordbutton"),
                {{10, -1, Rc(188, 379, 115, 95)}, {8, -1, Rc(318, 321, 294, 211)}});
}

TEST(LayoutGoldenRecorder, SquareSmallAndRealMainWindow) {
  // A square window is not landscape.
  CLayoutHarness hs(480, 480);
  ExpectGoldens(RunScene(hs, "recorder"), {{75, -1, Rc(103, 352, 273, 120)},
                                           {86, -1, Rc(9, 320, 462, 12)},
                                           {87, -1, Rc(9, 278, 231, 30)},
                                           {76, -1, Rc(16, 122, 447, 156)},
                                           {74, -1, Rc(96, 230, 288, 40)}});
  // Less the menu bar, the same screen's window is wider than high.
  CLayoutHarness hsm(480, 480, CLayoutHarness::MenuBarWindow(480, 480));
  ExpectGoldens(RunScene(hsm, "recorder"), {{75, -1, Rc(103, 344, 273, 90)}, {76, -1, Rc(16, 100, 447, 170)}});

  CLayoutHarness hq(240, 400);
  ExpectGoldens(RunScene(hq, "recorder"), {{83, -1, Rc(0, 0, 120, 50)}, {75, -1, Rc(6, 333, 227, 60)}});
  ExpectGoldens(RunScene(hq, "recorder.modebutton"), {{10, -1, Rc(42, -1, 36, 35)}, {8, -1, Rc(0, 34, 120, 12)}});

  CLayoutHarness hm(480, 800, kMenuBarPortrait);
  ExpectGoldens(RunScene(hm, "recorder"), {{73, -1, Rc(0, 0, 480, 736)},
                                           {75, -1, Rc(13, 603, 454, 120)},
                                           {86, -1, Rc(15, 571, 450, 12)},
                                           {76, -1, Rc(28, 136, 424, 393)},
                                           {74, -1, Rc(19, 476, 441, 40)}});
  CLayoutHarness hml(800, 480, kMenuBarLandscape);
  ExpectGoldens(RunScene(hml, "recorder"), {{73, -1, Rc(0, 0, 800, 442)}, {75, -1, Rc(173, 344, 454, 90)}});
}

TEST(LayoutGoldenSearching, ScreenAndWaitPanelAgree) {
  for (auto [w, hgt, rc100, rc99] : {std::tuple{480, 800, Rc(0, 130, 480, 44), Rc(60, 194, 360, 270)},
                                     std::tuple{800, 480, Rc(0, 118, 800, 44), Rc(292, 174, 216, 162)}}) {
    SCOPED_TRACE(w);
    CLayoutHarness h(w, hgt);
    ExpectGoldens(RunScene(h, "searching"), {{114, -1, Rc(0, 0, w, 0), 'h'}, {100, -1, rc100}, {99, -1, rc99}});
    ExpectGoldens(RunScene(h, "searching.wait"), {{100, -1, rc100}, {99, -1, rc99}});
  }
}

TEST(LayoutGoldenDialogs, MessageProgressAndButtons) {
  CLayoutHarness h(480, 800);
  ExpectGoldens(RunScene(h, "messagedialog"), {{44, -1, Rc(15, 229, 450, 36)},
                                               {50, -1, Rc(39, 498, 195, 66)},
                                               {51, -1, Rc(246, 498, 195, 66)},
                                               {45, -1, Rc(39, 279, 0, 198), 'h'},
                                               {46, -1, Rc(63, 303, 378, 150)}});
  ExpectGoldens(RunScene(h, "messagedialog", {{"buttons", 1}}),
                {{51, -1, Rc(39, 498, 402, 66)}, {50, -1, Rc(39, 477, 0, 0), 'h'}});
  ExpectGoldens(RunScene(h, "progressdialog"), {{47, -1, Rc(39, 451, 402, 20)}, {46, -1, Rc(63, 303, 378, 118)}});
  ExpectGoldens(RunScene(h, "dialogbutton"), {{11, -1, Rc(254, 515, 179, 32)}});
  ExpectGoldens(RunScene(h, "dialogbutton.skin"),
                {{7, -1, Rc(246, 498, 14, 14)}, {8, -1, Rc(260, 512, 167, 37)}, {9, -1, Rc(246, 498, 0, 0), 'h'}});
}

TEST(LayoutGoldenEditBar, RightHandButtonShownOrNot) {
  CLayoutHarness h(480, 800);
  ExpectGoldens(RunScene(h, "editbar"),
                {{60, -1, Rc(12, 5, 68, 68)}, {62, -1, Rc(480, 0, 0, 0), 'h'}, {61, -1, Rc(102, 16, 378, 50)}});
  ExpectGoldens(RunScene(h, "editbar", {{"k10", 1}}), {{62, -1, Rc(384, 5, 84, 66), 'v'}, {61, -1, Rc(102, 16, 260, 50)}});
  ExpectGoldens(RunScene(h, "editbar.button"), {{8, -1, Rc(384, 24, 84, 28)}, {10, -1, Rc(384, 5, 0, 0), 'h'}});

  CLayoutHarness hl(800, 480);
  ExpectGoldens(RunScene(hl, "editbar", {{"k10", 1}}), {{62, -1, Rc(704, 5, 84, 66)}, {61, -1, Rc(102, 16, 580, 50)}});

  CLayoutHarness hq(240, 400);
  ExpectGoldens(RunScene(hq, "editbar"), {{60, -1, Rc(6, 2, 34, 34)}, {61, -1, Rc(51, 8, 189, 25)}});
}

TEST(LayoutGoldenFrames, FramesTermsAndCredits) {
  CLayoutHarness h(480, 800);
  ExpectGoldens(RunScene(h, "frame"), {{114, -1, Rc(0, 0, 480, 75)}, {69, -1, Rc(0, 75, 480, 725)}});
  ExpectGoldens(RunScene(h, "credits"), {{176, -1, Rc(0, 0, 480, 0), 'h'}, {175, -1, Rc(0, 0, 480, 800)}});
  ExpectGoldens(RunScene(h, "terms.content"), {{112, -1, Rc(22, 97, 436, 215)}, {113, -1, Rc(40, 452, 400, 143)}});

  CLayoutHarness hl(800, 480);
  ExpectGoldens(RunScene(hl, "frame"), {{114, -1, Rc(0, 0, 800, 75)}, {69, -1, Rc(0, 75, 800, 405)}});
  ExpectGoldens(RunScene(hl, "terms.content"), {{112, -1, Rc(36, 88, 727, 129)}, {113, -1, Rc(66, 301, 667, 86)}});

  CLayoutHarness hm(480, 800, kMenuBarPortrait);
  ExpectGoldens(RunScene(hm, "frame"), {{114, -1, Rc(0, 0, 480, 75)}, {69, -1, Rc(0, 75, 480, 661)}});
}

TEST(LayoutGoldenRecordList, PanelRowsAndRowTrees) {
  CLayoutHarness h(480, 800);
  ExpectGoldens(RunScene(h, "recordlist"),
                {{115, -1, Rc(0, 75, 480, 0), 'h'}, {117, -1, Rc(0, 75, 480, 725), 'v'}, {118, -1, Rc(0, 418, 480, 38), 'h'}});
  ExpectGoldens(RunScene(h, "recordlist", {{"records", 0}}), {{117, -1, Rc(0, 75, 480, 725), 'h'}, {118, -1, Rc(0, 418, 480, 38), 'v'}});
  // Rows of 102.86 px anchor on the truncated previous row: no gaps.
  ExpectGoldens(RunScene(h, "recordlist.rows"),
                {{119, 0, Rc(0, 75, 480, 102)}, {119, 1, Rc(0, 177, 480, 102)}, {119, 2, Rc(0, 279, 480, 102)}});
  ExpectGoldens(RunScene(h, "recordlist.row.skin"), {{10, -1, Rc(8, 109, 33, 33)}, {8, -1, Rc(50, 76, 429, 50)}});
  // #19 and #21 overlap by 2 px: the row is shorter than the stack.
  ExpectGoldens(RunScene(h, "recordlist.row"), {{20, -1, Rc(405, 95, 62, 62)},
                                                {18, -1, Rc(22, 91, 360, 40)},
                                                {19, -1, Rc(22, 139, 360, 32)},
                                                {21, -1, Rc(22, 169, 360, 6)}});
  ExpectGoldens(RunScene(h, "recordlist.row", {{"k16", 0}}),
                {{20, -1, Rc(480, 126, 0, 0), 'h'}, {18, -1, Rc(22, 91, 435, 40)}, {19, -1, Rc(22, 139, 435, 32)}});

  // In landscape #19 ends closer to the preview button than #18 (h23/800 of
  // a 480-px height is less than l23/800).
  CLayoutHarness hl(800, 480);
  CLayoutNode* pRow = RunScene(hl, "recordlist.row");
  EXPECT_EQ(LayoutRectOf(pRow, 20), Rc(725, 95, 62, 62));
  EXPECT_EQ(LayoutRectOf(pRow, 18).right, 702);
  EXPECT_EQ(LayoutRectOf(pRow, 19).right, 711);
}

TEST(LayoutGoldenPages, HelpWithMeasuredParagraphsAndCredits) {
  CLayoutHarness h(480, 800);
  ExpectGoldens(RunScene(h, "help.content"), {{162, -1, Rc(104, 133, 272, 134)},
                                              {164, -1, Rc(22, 267, 436, 60)},
                                              {165, -1, Rc(17, 362, 55, 55)},
                                              {166, -1, Rc(96, 362, 357, 60)},
                                              {167, -1, Rc(0, 422, 480, 0)},
                                              {168, -1, Rc(17, 457, 55, 55)},
                                              {169, -1, Rc(96, 447, 357, 60)},
                                              {170, -1, Rc(0, 507, 480, 0)},
                                              {171, -1, Rc(40, 532, 400, 60)},
                                              {173, -1, Rc(75, 612, 200, 60)},
                                              {172, -1, Rc(291, 626, 110, 32)}});
  CLayoutHarness hl(800, 480);
  CLayoutNode* pHelp = RunScene(hl, "help.content");
  ExpectGoldens(pHelp, {{164, -1, Rc(36, 267, 727, 60)}, {166, -1, Rc(160, 362, 595, 60)}});
  EXPECT_EQ(pHelp->GetContentRect(CLayoutNode::SpaceOwn).bottom, 597);  // taller than its 405-px view

  // Before the view sizes them the sections are 0 high with h1/50 gaps.
  ExpectGoldens(RunScene(h, "credits.content"), {{177, -1, Rc(0, 0, 480, 100)},
                                                 {178, -1, Rc(19, 112, 429, 34)},
                                                 {179, -1, Rc(19, 162, 441, 0)},
                                                 {181, -1, Rc(19, 178, 441, 0)},
                                                 {183, -1, Rc(19, 194, 441, 0)}});
  ExpectGoldens(RunScene(hl, "credits.content"), {{178, -1, Rc(32, 112, 748, 34)}});
}

TEST(LayoutGoldenUserPage, KeyCombinations) {
  CLayoutHarness h(480, 800);
  ExpectGoldens(RunScene(h, "userpage.content", {{"k14", 1}}), {{126, -1, Rc(17, 102, 125, 125)},
                                                                 {127, -1, Rc(159, 109, 321, 32)},
                                                                 {131, -1, Rc(0, 254, 480, 88)},
                                                                 {130, -1, Rc(0, 342, 480, 88)},
                                                                 {132, -1, Rc(0, 430, 480, 88)},
                                                                 {133, -1, Rc(18, 520, 93, 98)},
                                                                 {134, -1, Rc(18, 520, 93, 98)},
                                                                 {135, -1, Rc(129, 530, 351, 39)},
                                                                 {136, -1, Rc(129, 577, 351, 35)},
                                                                 {137, -1, Rc(129, 520, 351, 98)},
                                                                 {138, -1, Rc(13, 637, 454, 62)},
                                                                 {139, -1, Rc(13, 716, 454, 62)},
                                                                 {140, -1, Rc(13, 795, 454, 62)},
                                                                 {141, -1, Rc(0, 871, 480, 88)},
                                                                 {142, -1, Rc(0, 959, 480, 88), 'v'},
                                                                 {143, -1, Rc(0, 1047, 480, 88)},
                                                                 {145, -1, Rc(0, 1135, 480, 1)},
                                                                 {146, -1, Rc(15, 1184, 103, 30)},
                                                                 {147, -1, Rc(232, 1184, 72, 24)},
                                                                 {148, -1, Rc(15, 1223, 210, 0)},
                                                                 {149, -1, Rc(232, 1217, 233, 0)}});

  // Everything off: the toggle row only collapses (its control keeps its own
  // visibility), #134 keeps its size for the image request.
  ExpectGoldens(RunScene(h, "userpage.content", {{"k6", 0}, {"k5", 0}, {"k9", 0}, {"k11", 0}}),
                {{131, -1, Rc(0, 254, 480, 0), 'h'},
                 {130, -1, Rc(0, 254, 480, 0), 'h'},
                 {132, -1, Rc(0, 254, 480, 0), 'f'},
                 {141, -1, Rc(0, 254, 480, 0), 'h'},
                 {143, -1, Rc(0, 254, 480, 0), 'h'},
                 {145, -1, Rc(0, 254, 480, 1)},
                 {146, -1, Rc(67, 303, 110, 32)},
                 {149, -1, Rc(189, 305, 240, 0)},
                 {134, -1, Rc(18, 256, 93, 98)},
                 {147, -1, Rc(0, 75, 0, 0), 'h'}});

  // Details without video keep the gap below #140; video without details
  // starts right under the collapsed block.
  ExpectGoldens(RunScene(h, "userpage.content", {{"k9", 5}}),
                {{141, -1, Rc(0, 871, 480, 0), 'h'}, {143, -1, Rc(0, 871, 480, 88)}});
  ExpectGoldens(RunScene(h, "userpage.content", {{"k9", 2}}), {{141, -1, Rc(0, 518, 480, 88)}});
  ExpectGoldens(RunScene(h, "userpage.button"), {{8, -1, Rc(13, 651, 454, 34)}, {7, -1, Rc(13, 637, 0, 0)}});
}

TEST(LayoutGoldenTrackDetails, ContentAndRowParts) {
  CLayoutHarness h(480, 800);
  ExpectGoldens(RunScene(h, "trackdetails.content", {{"k14", 1}}), {{150, -1, Rc(0, 254, 480, 88)},
                                                                     {141, -1, Rc(0, 342, 480, 88)},
                                                                     {142, -1, Rc(0, 430, 480, 88), 'v'},
                                                                     {143, -1, Rc(0, 518, 480, 88)},
                                                                     {145, -1, Rc(0, 606, 480, 1)},
                                                                     {146, -1, Rc(15, 656, 103, 30)},
                                                                     {147, -1, Rc(232, 656, 72, 24)},
                                                                     {148, -1, Rc(15, 695, 210, 0)},
                                                                     {149, -1, Rc(232, 689, 233, 0)}});
  ExpectGoldens(RunScene(h, "trackdetails.content", {{"k11", 0}, {"k12", 0}, {"k13", 0}}),
                {{141, -1, Rc(0, 342, 480, 0), 'h'},
                 {142, -1, Rc(0, 342, 480, 0), 'h'},
                 {145, -1, Rc(0, 342, 480, 1)},
                 {146, -1, Rc(67, 392, 110, 32)},
                 {149, -1, Rc(189, 394, 240, 0)}});
  ExpectGoldens(RunScene(h, "details.row"), {{11, -1, Rc(22, 254, 381, 88)},
                                             {12, -1, Rc(22, 332, 381, 0), 'h'},
                                             {10, -1, Rc(403, 267, 62, 62)},
                                             {13, -1, Rc(22, 334, 359, 6)}});
  ExpectGoldens(RunScene(h, "details.row", {{"mode", 1}}),
                {{11, -1, Rc(18, 264, 363, 42)}, {12, -1, Rc(18, 306, 363, 28)}, {13, -1, Rc(22, 336, 359, 6)}});
  ExpectGoldens(RunScene(h, "details.link", {{"row", 150}}), {{11, -1, Rc(22, 254, 395, 88)}});
  ExpectGoldens(RunScene(h, "details.skin"), {{7, -1, Rc(0, 254, 0, 1)}});
}

TEST(LayoutGoldenUserInfo, ProvisionalHeights) {
  CLayoutHarness h(480, 800);
  // #145 and #149 end at the pass rectangle's right: their anchor #129 is
  // not in this tree.
  ExpectGoldens(RunScene(h, "userinfo.content"), {{185, -1, Rc(0, 75, 480, 20)},
                                                  {190, -1, Rc(20, 95, 120, 160)},
                                                  {191, -1, Rc(152, 115, 308, 28)},
                                                  {192, -1, Rc(152, 151, 308, 22)},
                                                  {193, -1, Rc(152, 181, 308, 20)},
                                                  {194, -1, Rc(0, 201, 0, 0)},
                                                  {198, -1, Rc(20, 226, 440, 22)},
                                                  {199, -1, Rc(0, 248, 480, 0), 'v'},
                                                  {196, -1, Rc(20, 273, 440, 0)},
                                                  {145, -1, Rc(12, 268, 468, 2)},
                                                  {146, -1, Rc(12, 290, 102, 32)},
                                                  {147, -1, Rc(200, 290, 62, 22)},
                                                  {148, -1, Rc(12, 326, 188, 62)},
                                                  {149, -1, Rc(200, 316, 280, 62)}});
  ExpectGoldens(RunScene(h, "userinfo.content", {{"k8", 1}}), {{199, -1, Rc(20, 248, 440, 0), 'v'}});
}

TEST(LayoutGoldenViews, MessageScreenAndChoiceRows) {
  CLayoutHarness h(480, 800);
  ExpectGoldens(RunScene(h, "view16"), {{209, -1, Rc(0, 0, 480, 0), 'h'},
                                        {213, -1, Rc(136, 0, 208, 400)},
                                        {214, -1, Rc(176, 136, 128, 128)},
                                        {211, -1, Rc(60, 400, 360, 90)},
                                        {212, -1, Rc(24, 490, 432, 310)}});
  ExpectGoldens(RunScene(h, "view8.rows"), {{229, 0, Rc(0, 75, 480, 88)},
                                            {229, 1, Rc(0, 163, 480, 88)},
                                            {229, 2, Rc(0, 251, 480, 88)},
                                            {229, 3, Rc(0, 339, 480, 88)}});
  ExpectGoldens(RunScene(h, "network.rows"), {{232, 0, Rc(0, 75, 480, 88)}, {232, 3, Rc(0, 339, 480, 88)}});
  ExpectGoldens(RunScene(h, "choice.row", {{"row", 2}}), {{60, -1, Rc(22, 283, 24, 24)}, {61, -1, Rc(68, 259, 412, 79)}});
  ExpectGoldens(RunScene(h, "view8"), {{200, -1, Rc(0, 0, 480, 75)}, {201, -1, Rc(0, 75, 480, 725)}});

  CLayoutHarness hl(800, 480);
  ExpectGoldens(RunScene(hl, "view16"), {{213, -1, Rc(296, 0, 208, 240)},
                                         {214, -1, Rc(336, 56, 128, 128)},
                                         {211, -1, Rc(100, 240, 600, 90)},
                                         {212, -1, Rc(40, 330, 720, 150)}});
  CLayoutHarness hs(480, 480);
  ExpectGoldens(RunScene(hs, "view16"), {{213, -1, Rc(136, 0, 208, 240)},
                                         {214, -1, Rc(176, 56, 128, 128)},
                                         {211, -1, Rc(60, 240, 360, 90)},
                                         {212, -1, Rc(24, 330, 432, 150)}});
  // On a small screen the picture shrinks with the smaller side, the frame
  // keeps its 208 px, and overhangs a screen narrower than that.
  CLayoutHarness hq(240, 400);
  ExpectGoldens(RunScene(hq, "view16"), {{213, -1, Rc(16, 0, 208, 200)},
                                         {214, -1, Rc(88, 68, 64, 64)},
                                         {211, -1, Rc(30, 200, 180, 45)},
                                         {212, -1, Rc(12, 245, 216, 155)}});
  CLayoutHarness hn(200, 320);
  EXPECT_EQ(LayoutRectOf(RunScene(hn, "view16"), 213), Rc(-4, 0, 208, 160));
}

}  // namespace
