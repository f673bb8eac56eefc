// Every description solved by its owner's sequence at every screen size, the
// tree checks that catch table typos, the owner steps the descriptions
// depend on, and the layoutdump tool.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "layouts/LayoutEdit.h"
#include "layouts/Layouts.h"
#include "tests/layouts/layout_golden_support.h"
#include "tools/layoutdump/LayoutDump.h"

using namespace layouts_test;
using namespace LayoutOps;

namespace {

void ExpectAllLaidOut(const CLayoutNode* pNode) {
  EXPECT_TRUE(pNode->IsLaidOut()) << LayoutNodeLabel(pNode);
  for (const CLayoutNode* c = pNode->GetFirstChild(); c; c = c->GetNextSibling()) ExpectAllLaidOut(c);
}

struct TScreen {
  int32_t width, height;
  bool bMenuBar;
};

void PrintTo(const TScreen& s, std::ostream* os) {
  *os << s.width << "x" << s.height << (s.bMenuBar ? " less the menu bar" : "");
}

class LayoutScenesAtSize : public testing::TestWithParam<TScreen> {
 protected:
  CLayoutHarness Harness() const {
    const TScreen& s = GetParam();
    return s.bMenuBar ? CLayoutHarness(s.width, s.height, CLayoutHarness::MenuBarWindow(s.width, s.height))
                      : CLayoutHarness(s.width, s.height);
  }
};

TEST_P(LayoutScenesAtSize, EverySceneSolvesAndPassesTheChecks) {
  for (const TLayoutScene& scene : LayoutScenes()) {
    SCOPED_TRACE(scene.pszName);
    CLayoutHarness h = Harness();
    CLayoutNode* pShown = nullptr;
    EXPECT_NO_THROW(pShown = scene.pfnRun(h, {}));
    if (pShown) ExpectAllLaidOut(pShown);
    EXPECT_EQ(h.Problems(), std::vector<std::string>{});
  }
}

TEST_P(LayoutScenesAtSize, EveryKeyCombinationOfTheOwnersSolves) {
  CLayoutHarness h = Harness();
  for (int32_t k6 : {0, 1})
    for (int32_t k5 : {0, 1})
      for (int32_t k9 = 0; k9 < 8; ++k9)
        for (int32_t k11 : {0, 1})
          for (int32_t k14 : {0, 1})
            RunScene(h, "userpage.content", {{"k6", k6}, {"k5", k5}, {"k9", k9}, {"k11", k11}, {"k14", k14}});
  for (int32_t keys = 0; keys < 16; ++keys)
    RunScene(h, "trackdetails.content",
             {{"k11", keys & 1}, {"k12", keys >> 1 & 1}, {"k13", keys >> 2 & 1}, {"k14", keys >> 3 & 1}});
  for (int32_t v : {0, 1}) {
    RunScene(h, "editbar", {{"k10", v}});
    RunScene(h, "recordlist.row", {{"k16", v}});
    RunScene(h, "details.row", {{"mode", v}});
    RunScene(h, "userinfo.content", {{"k8", v}, {"h191", 40}, {"h192", 30}, {"h193", 20}, {"h199", 25}});
    RunScene(h, "messagedialog", {{"buttons", v + 1}});
    RunScene(h, "progressdialog", {{"buttons", v + 1}});
  }
  for (int32_t n : {0, 1, 255}) {
    RunScene(h, "recordlist.rows", {{"records", n}});
    RunScene(h, "listdialog", {{"rows", n}});
    RunScene(h, "view8.rows", {{"count", n}});
  }
  RunScene(h, "help.content", {{"relayout", 1}, {"text", 20}});
  RunScene(h, "credits.content", {{"measured", 1}});
  EXPECT_EQ(h.Problems(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Screens, LayoutScenesAtSize,
                         testing::Values(TScreen{480, 800, false}, TScreen{800, 480, false}, TScreen{480, 480, false},
                                         TScreen{240, 400, false}, TScreen{480, 800, true}, TScreen{800, 480, true}),
                         [](const testing::TestParamInfo<TScreen>& info) {
                           return std::to_string(info.param.width) + "x" + std::to_string(info.param.height) +
                                  (info.param.bMenuBar ? "MenuBar" : "");
                         });

TEST(LayoutScenes, TheCatalogueShowsEveryDescription) {
  // The names the scenes mention, as whole words.
  std::set<std::string> shown;
  for (const TLayoutScene& scene : LayoutScenes()) {
    std::string word;
    for (const char* p = scene.pszShows;; ++p) {
      if (std::isalnum(static_cast<unsigned char>(*p))) {
        word += *p;
        continue;
      }
      if (!word.empty()) shown.insert(word);
      word.clear();
      if (!*p) break;
    }
  }
  for (const char* psz :
       {"BuildAppRootLayout", "BuildAppFrameLayout", "BuildButtonLayout", "BuildScrollPanelLayout",
        "BuildSoftKeyBarLayout", "BuildListDialogLayout", "BuildTwoButtonPortraitLayout",
        "BuildTwoButtonLandscapeLayout", "BuildTwoButtonPartLayoutA", "BuildCapCornerLayout",
        "BuildTwoButtonPartLayoutB", "BuildRecorderLayout", "BuildRecorderPartLayoutA", "BuildSquareCornerLayout",
        "BuildRecordButtonLayout", "BuildSearchingLayout", "BuildMessageDialogLayout", "BuildProgressDialogLayout",
        "BuildEditBarLayout", "BuildEditBarPartLayout", "BuildTermsLayout", "BuildTermsContentLayout",
        "BuildUserListInitLayout", "BuildListRowsLayout", "BuildUserListLayout", "BuildUserListItemLayout",
        "BuildListItemLayout", "BuildFrameLayout", "BuildView18Layout", "BuildCreditsLayout",
        "BuildView18ContentLayout", "BuildCreditsContentLayout", "BuildUserPageContentLayout",
        "BuildUserPageLayout", "BuildTrackDetailsContentLayout", "BuildDetailsPartLayoutA",
        "BuildDetailsPartLayoutB", "BuildThinCornerLayout", "BuildUserInfoContentLayout", "BuildView8Layout",
        "BuildView21Layout", "BuildView16Layout", "BuildView8PartLayout", "BuildChoiceRowsLayout",
        "BuildNetworkSelectLayout", "BuildNetworkRowsLayout", "BuildNoCornerLayout", "BuildListItemPartLayout"})
    EXPECT_EQ(shown.count(psz), 1u) << psz;
  EXPECT_EQ(FindLayoutScene("nothing"), nullptr);
}

// A frame description with one typo each: the checks must report it.
constexpr TLayoutOp kTypoAnchor[] = {
    ClearFirst,
    Node(114), H(1, P, 1), H(0, P, 0), V(0, P, 0), Height(l(75, 800)), End,
    Node(69), H(0, P, 0), H(1, P, 1), V(0, N(141), 1), V(1, P, 1), End,  // #114 mistyped
};
constexpr TLayoutOp kTypoFraction[] = {
    ClearFirst,
    Node(114), H(1, P, 1), H(1, P, 0), V(0, P, 0), Height(l(75, 800)), End,  // second own fraction 1, not 0
    Node(69), H(0, P, 0), H(1, P, 1), V(0, N(114), 1), V(1, P, 1), End,
};
constexpr TLayoutOp kTypoKey[] = {
    ClearFirst,
    Node(114), Var(10, 0), H(0, P, 0), H(1, P, 1), V(0, P, 0), Height(px(0)),  // key the owner never selects
    End,
    Node(69), End,  // no constraints at all
};

TEST(LayoutChecks, TableTyposAreReported) {
  CLayoutHarness h(480, 800);
  h.App([](CLayoutNode* n) { RunLayoutTable(n, kTypoAnchor, "typo"); });
  ASSERT_EQ(h.Problems().size(), 1u);
  EXPECT_EQ(h.Problems()[0], "application tree: typo names #141, which is not in the tree");

  CLayoutHarness h2(480, 800);
  EXPECT_EQ(layout_test::PanicLine([&] { h2.App([](CLayoutNode* n) { RunLayoutTable(n, kTypoFraction, "typo"); }); }),
            894);
  ASSERT_EQ(h2.Problems().size(), 1u);
  EXPECT_EQ(h2.Problems()[0], "application tree: #114 default: horizontal axis incomplete");

  auto root = CLayoutNode::CreateRoot();
  RunLayoutTable(root.get(), kTypoKey, "typo");
  const CLayoutNode* pinned[] = {root.get()};
  EXPECT_EQ(CheckLayoutTree(root.get(), {}, pinned),
            (std::vector<std::string>{"#114: placed only by keys its owner does not select", "#69: no constraints"}));
  const int32_t key10[] = {10};
  EXPECT_EQ(CheckLayoutTree(root.get(), key10, pinned), std::vector<std::string>{"#69: no constraints"});
  EXPECT_EQ(CheckLayoutTree(root.get(), key10, {}).size(), 2u);  // an unpinned root has no constraints either

  // Only the user information's anchors on #129 are meant.
  EXPECT_TRUE(IsDeliberateMissingRef({"BuildUserInfoContentLayout", 129, -1}));
  EXPECT_FALSE(IsDeliberateMissingRef({"BuildUserInfoContentLayout", 128, -1}));
  EXPECT_FALSE(IsDeliberateMissingRef({"BuildTrackDetailsContentLayout", 129, -1}));
}

TEST(LayoutOwnerSteps, KeyedOnlyTreesNeedTheirKeysBeforeEveryPass) {
  // Turned by 90 degrees the application selects key 0 = 3, which no
  // recorder variant matches: the screen's own selection is what places it.
  CLayoutHarness hl(800, 480);
  EXPECT_EQ(layout_test::PanicLine([&] { hl.App(BuildRecorderLayout); }), 876);
  CLayoutHarness hp(480, 800);
  EXPECT_EQ(layout_test::PanicLine([&] { hp.App(BuildRecorderLayout); }), -1);  // rotation 0 happens to match

  // A reset deactivates every keyed variant: the dialog's buttons are gone
  // until key 15 is selected again.
  CLayoutNode* pDialog = RunScene(hp, "messagedialog");
  pDialog->ResetVariants();
  EXPECT_EQ(layout_test::PanicLine([&] { hp.Relayout(pDialog); }), 876);
  pDialog->SelectVariants(15, 0);
  EXPECT_EQ(layout_test::PanicLine([&] { hp.Relayout(pDialog); }), -1);

  // Keys no variant has leave the tree as it was.
  CLayoutNode* pDetails = RunScene(hp, "trackdetails.content");
  std::string before = DumpLayoutTree(pDetails);
  pDetails->SelectVariants(7, 0);
  pDetails->SelectVariants(1, 0);
  hp.Relayout(pDetails);
  EXPECT_EQ(DumpLayoutTree(pDetails), before);
}

TEST(LayoutOwnerSteps, TheHelpPageNeedsDeepExtentOnItsContentRoot) {
  CLayoutHarness h(480, 800);
  CLayoutNode* pContent = RunScene(h, "help.content");
  pContent->SetDeepExtent(false);
  EXPECT_EQ(layout_test::PanicLine([&] { h.Relayout(pContent); }), 61);  // #173 before #171
  pContent->SetDeepExtent(true);
  EXPECT_EQ(layout_test::PanicLine([&] { h.Relayout(pContent); }), -1);
}

int Dump(std::vector<const char*> args, std::string* pOut, std::string* pErr = nullptr) {
  args.insert(args.begin(), "layoutdump");
  std::ostringstream out, err;
  int rc = LayoutDumpMain(static_cast<int>(args.size()), args.data(), out, err);
  *pOut = out.str();
  if (pErr) *pErr = err.str();
  return rc;
}

TEST(LayoutDumpTool, PrintsRectanglesAndVisibility) {
  std::string out;
  EXPECT_EQ(Dump({"editbar", "k10=1"}, &out), 0);
  EXPECT_EQ(out,
            "# editbar (BuildEditBarLayout on #114) at 480x800, main window 0,0,480,800\n"
            "root [0,0 480x75] free\n"
            "  #60 [12,5 68x68] free\n"
            "  #62 [384,5 84x66] vis\n"
            "  #61 [102,16 260x50] free\n");
  EXPECT_EQ(Dump({"--size", "800x480", "--menu-bar", "frame"}, &out), 0);
  EXPECT_NE(out.find("main window 0,0,800,442\n#6 [0,0 800x442] vis\n  #114 [0,0 800x75] free\n"), std::string::npos)
      << out;
  EXPECT_EQ(Dump({"--window", "0,10,480,700", "listdialog", "rows=1"}, &out), 0);
  EXPECT_NE(out.find("    #55.0 [40,630 400x60] free\n      #57.0 [39,669 402x1] hid\n"), std::string::npos) << out;

  EXPECT_EQ(Dump({"--list"}, &out), 0);
  EXPECT_EQ(size_t(std::count(out.begin(), out.end(), '\n')), LayoutScenes().size());
}

TEST(LayoutDumpTool, RefusesBadArguments) {
  std::string out, err;
  for (std::vector<const char*> args : std::vector<std::vector<const char*>>{
           {},
           {"nosuchscene"},
           {"--size", "0x800", "app"},
           {"--size", "480", "app"},
           {"--window", "0,0,480", "app"},
           {"--window", "0,0,480,800", "--menu-bar", "app"},
           {"editbar", "k10=one"},
           {"editbar", "=1"},
           {"editbar", "stray"},
           {"--size"}}) {
    EXPECT_EQ(Dump(args, &out, &err), 2) << (args.empty() ? "" : args[0]);
    EXPECT_FALSE(err.empty());
  }
}

}  // namespace
