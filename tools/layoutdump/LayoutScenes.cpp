#include "tools/layoutdump/LayoutScenes.h"

#include "layouts/LayoutEdit.h"
#include "layouts/Layouts.h"

int32_t TLayoutSceneArgs::Get(std::string_view name, int32_t nDefault) const {
  auto it = values.find(name);
  return it == values.end() ? nDefault : it->second;
}

namespace {

using TArgs = TLayoutSceneArgs;
using THarness = CLayoutHarness;

CLayoutNode* ViewOf(CLayoutNode* pApp) { return pApp->FindNode(6, -1); }

// A screen whose layout step is one description on node 6.
CLayoutNode* View(THarness& h, void (*pfnBuild)(CLayoutNode*)) { return ViewOf(h.App(pfnBuild)); }

TArgs With(const TArgs& a, const char* pszName, int32_t nValue) {
  TArgs b = a;
  b.values[pszName] = nValue;
  return b;
}

// Application and frames

CLayoutNode* SceneApp(THarness& h, const TArgs& a) {
  CLayoutNode* pRoot = h.App();
  if (int32_t nBand = a.Get("band", 0)) {
    SetDialogBandHeight(pRoot, nBand);
    h.Relayout(pRoot);
  }
  return pRoot;
}

CLayoutNode* SceneFrame(THarness& h, const TArgs&) { return View(h, BuildFrameLayout); }
CLayoutNode* SceneHelp(THarness& h, const TArgs&) { return View(h, BuildView18Layout); }
CLayoutNode* SceneCredits(THarness& h, const TArgs&) { return View(h, BuildCreditsLayout); }
CLayoutNode* SceneTerms(THarness& h, const TArgs&) { return View(h, BuildTermsLayout); }
CLayoutNode* SceneView8(THarness& h, const TArgs&) { return View(h, BuildView8Layout); }
CLayoutNode* SceneView21(THarness& h, const TArgs&) { return View(h, BuildView21Layout); }
CLayoutNode* SceneView16(THarness& h, const TArgs&) { return View(h, BuildView16Layout); }
CLayoutNode* SceneNetwork(THarness& h, const TArgs&) { return View(h, BuildNetworkSelectLayout); }
CLayoutNode* SceneSearching(THarness& h, const TArgs&) { return View(h, BuildSearchingLayout); }

// Widgets

CLayoutNode* SceneButton(THarness& h, const TArgs& a) {
  int32_t x = a.Get("x", 10), y = a.Get("y", 10);
  RECT rc{x, y, x + a.Get("w", 200), y + a.Get("h", 60)};
  bool bCaption = a.Get("caption", 1), bSub = a.Get("subcaption", 1), bIcon = a.Get("icon", 1);
  return h.Control(rc, [=](CLayoutNode* n) { BuildButtonLayout(n, bCaption, bSub, bIcon); });
}

CLayoutNode* SceneScrollPanel(THarness& h, const TArgs& a) {
  return h.Control(LayoutRectOf(SceneFrame(h, a), 69), BuildScrollPanelLayout);
}

CLayoutNode* SceneListDialog(THarness& h, const TArgs& a) {
  int32_t nRows = a.Get("rows", 4);
  return h.Control(LayoutRectOf(h.App(), 53), [=](CLayoutNode* n) { BuildListDialogLayout(n, nRows); }, {}, false);
}

// Settings

CLayoutNode* SceneSettings(THarness& h, const TArgs&) {
  const RECT& rc = h.Screen();
  return View(h, rc.Width() >= rc.Height() ? BuildTwoButtonLandscapeLayout : BuildTwoButtonPortraitLayout);
}

CLayoutNode* SceneSettingsSkin1(THarness& h, const TArgs& a) {
  return h.Control(LayoutRectOf(SceneSettings(h, a), 103), BuildCapCornerLayout);
}
CLayoutNode* SceneSettingsButton1(THarness& h, const TArgs& a) {
  return h.Control(LayoutRectOf(SceneSettings(h, a), 103), BuildTwoButtonPartLayoutA, {}, false);
}
CLayoutNode* SceneSettingsSkin2(THarness& h, const TArgs& a) {
  return h.Control(LayoutRectOf(SceneSettings(h, a), 105), BuildNoCornerLayout);
}
CLayoutNode* SceneSettingsButton2(THarness& h, const TArgs& a) {
  return h.Control(LayoutRectOf(SceneSettings(h, a), 105), BuildTwoButtonPartLayoutB, {}, false);
}

// Recorder and searching

CLayoutNode* SceneRecorder(THarness& h, const TArgs&) {
  // The screen's own key-0 step: landscape when the main window is wider
  // than high.
  return ViewOf(h.App(BuildRecorderLayout, [&h](CLayoutNode* n) {
    const RECT& rc = h.Window();
    h.Select(n, 0, rc.Height() < rc.Width() ? 1 : 0);
  }));
}

CLayoutNode* SceneModeButton(THarness& h, const TArgs& a) {
  return h.Control(LayoutRectOf(SceneRecorder(h, a), a.Get("button", 83)), BuildRecordButtonLayout);
}
CLayoutNode* SceneRecordButtonSkin(THarness& h, const TArgs& a) {
  return h.Control(LayoutRectOf(SceneRecorder(h, a), 75), BuildSquareCornerLayout);
}
CLayoutNode* SceneRecordButton(THarness& h, const TArgs& a) {
  return h.Control(LayoutRectOf(SceneRecorder(h, a), 75), BuildRecorderPartLayoutA, {}, false);
}

CLayoutNode* SceneWaitPanel(THarness& h, const TArgs&) {
  return h.Control(LayoutRectOf(h.App(BuildSearchingLayout), 52), BuildSearchingLayout);
}

// Dialogs

CLayoutNode* Dialog(THarness& h, const TArgs& a, void (*pfnBuild)(CLayoutNode*)) {
  CLayoutNode* pApp = SceneApp(h, a);
  uint32_t nSingle = a.Get("buttons", 2) == 1 ? 1 : 0;
  return h.Control(LayoutRectOf(pApp, 43), pfnBuild, [&h, nSingle](CLayoutNode* n) { h.Select(n, 15, nSingle); });
}

CLayoutNode* SceneMessageDialog(THarness& h, const TArgs& a) { return Dialog(h, a, BuildMessageDialogLayout); }
CLayoutNode* SceneProgressDialog(THarness& h, const TArgs& a) { return Dialog(h, a, BuildProgressDialogLayout); }

CLayoutNode* SceneDialogButtonSkin(THarness& h, const TArgs& a) {
  return h.Control(LayoutRectOf(SceneMessageDialog(h, a), 51), BuildListItemLayout);
}
CLayoutNode* SceneDialogButton(THarness& h, const TArgs& a) {
  return h.Control(LayoutRectOf(SceneMessageDialog(h, a), 51), BuildListItemPartLayout, {}, false);
}

// Edit bar

CLayoutNode* SceneEditBar(THarness& h, const TArgs& a) {
  uint32_t nShown = a.Get("k10", 0);
  return h.Control(LayoutRectOf(SceneFrame(h, a), 114), BuildEditBarLayout,
                   [&h, nShown](CLayoutNode* n) {
                     h.Select(n, 10, 0);  // the bar's factory
                     if (nShown) h.Select(n, 10, nShown);
                   },
                   false);
}
CLayoutNode* SceneEditBarSkin(THarness& h, const TArgs& a) {
  return h.Control(LayoutRectOf(SceneFrame(h, a), 114), BuildNoCornerLayout);
}
CLayoutNode* SceneEditBarButton(THarness& h, const TArgs& a) {
  return h.Control(LayoutRectOf(SceneEditBar(h, With(a, "k10", 1)), 62), BuildEditBarPartLayout);
}

// Terms

CLayoutNode* SceneTermsContent(THarness& h, const TArgs& a) {
  return h.ScrollContent(LayoutRectOf(SceneTerms(h, a), 110), BuildTermsContentLayout);
}

// Record lists

CLayoutNode* SceneRecordList(THarness& h, const TArgs& a) {
  bool bEmpty = a.Get("records", 3) < 1;
  return h.Control(LayoutRectOf(SceneFrame(h, a), 69), BuildUserListInitLayout, [&h, bEmpty](CLayoutNode* n) {
    h.Select(n, 3, 0);
    ShowLayoutNode(n->FindNode(118, -1), bEmpty);
    ShowLayoutNode(n->FindNode(117, -1), !bEmpty);
  });
}

CLayoutNode* SceneRecordRows(THarness& h, const TArgs& a) {
  int32_t nRecords = a.Get("records", 3);
  return h.ScrollContent(LayoutRectOf(SceneRecordList(h, a), 117),
                         [=](CLayoutNode* n) { BuildListRowsLayout(n, 119, nRecords, -2); });
}

RECT RecordRow(THarness& h, const TArgs& a) { return LayoutRectOf(SceneRecordRows(h, a), 119, a.Get("row", 0)); }

CLayoutNode* SceneRecordRowSkin(THarness& h, const TArgs& a) {
  return h.Control(RecordRow(h, a), BuildUserListLayout);
}
CLayoutNode* SceneRecordRow(THarness& h, const TArgs& a) {
  uint32_t nPreview = a.Get("k16", 1);
  return h.Control(RecordRow(h, a), BuildUserListItemLayout,
                   [&h, nPreview](CLayoutNode* n) { h.Select(n, 16, nPreview); }, false);
}

// Help and credits

CLayoutNode* SceneHelpContent(THarness& h, const TArgs& a) {
  int32_t nText = a.Get("text", 60);
  CLayoutNode* pContent = h.ScrollContent(LayoutRectOf(SceneHelp(h, a), 160), BuildView18ContentLayout,
                                          [&h, nText](CLayoutNode* n) {
                                            for (int32_t id : {164, 166, 169, 171, 173})
                                              h.MeasureAs(n->FindNode(id, -1), nText);
                                          });
  if (a.Get("relayout", 0)) {
    ReanchorHelpSpacers(pContent);
    h.Relayout(pContent);
  }
  return pContent;
}

CLayoutNode* SceneCreditsContent(THarness& h, const TArgs& a) {
  CLayoutNode* pContent = h.ScrollContent(LayoutRectOf(SceneCredits(h, a), 175), BuildCreditsContentLayout);
  if (a.Get("measured", 0)) {
    int32_t nHeader = a.Get("header", 20), nBody = a.Get("body", 50);
    SizeCreditsSections(pContent, {nHeader, nBody, nHeader, nBody, nHeader, nBody});
    h.Relayout(pContent);
  }
  return pContent;
}

// User page and track details

CLayoutNode* SceneUserPage(THarness& h, const TArgs& a) {
  return h.ScrollContent(LayoutRectOf(SceneFrame(h, a), 69),
                         [](CLayoutNode* n) { BuildUserPageContentLayout(n, 1); },
                         [&h, &a](CLayoutNode* n) {
                           h.Select(n, 6, a.Get("k6", 1));
                           h.Select(n, 5, a.Get("k5", 1));
                           h.Select(n, 9, a.Get("k9", 7));
                           h.Select(n, 11, a.Get("k11", 1));
                           h.Select(n, 14, a.Get("k14", 0));
                         });
}

CLayoutNode* SceneUserPageButton(THarness& h, const TArgs& a) {
  return h.Control(LayoutRectOf(SceneUserPage(h, a), a.Get("button", 138)), BuildUserPageLayout);
}

CLayoutNode* SceneTrackDetails(THarness& h, const TArgs& a) {
  return h.ScrollContent(LayoutRectOf(SceneFrame(h, a), 69),
                         [](CLayoutNode* n) { BuildTrackDetailsContentLayout(n, 1); },
                         [&h, &a](CLayoutNode* n) {
                           h.Select(n, 7, 0);  // a key no variant has: nothing changes
                           h.Select(n, 11, a.Get("k11", 1));
                           h.Select(n, 12, a.Get("k12", 1));
                           h.Select(n, 13, a.Get("k13", 1));
                           h.Select(n, 14, a.Get("k14", 0));
                         });
}

CLayoutNode* SceneDetailsRow(THarness& h, const TArgs& a) {
  int32_t nMode = a.Get("mode", 0);
  return h.Control(LayoutRectOf(SceneTrackDetails(h, a), 150),
                   [nMode](CLayoutNode* n) { BuildDetailsPartLayoutA(n, nMode); }, {}, false);
}
CLayoutNode* SceneDetailsLink(THarness& h, const TArgs& a) {
  return h.Control(LayoutRectOf(SceneTrackDetails(h, a), a.Get("row", 141)), BuildDetailsPartLayoutB, {}, false);
}
CLayoutNode* SceneDetailsSkin(THarness& h, const TArgs& a) {
  return h.Control(LayoutRectOf(SceneTrackDetails(h, a), 150), BuildThinCornerLayout);
}

// User information: h191.. are measured text heights; 0 keeps the
// description's provisional heights (no relayout step).
CLayoutNode* SceneUserInfo(THarness& h, const TArgs& a) {
  uint32_t nSecondField = a.Get("k8", 0);
  CLayoutNode* pContent =
      h.ScrollContent(LayoutRectOf(SceneFrame(h, a), 69), BuildUserInfoContentLayout,
                      [&h, nSecondField](CLayoutNode* n) { h.Select(n, 8, nSecondField); });
  int32_t h191 = a.Get("h191", 0), h192 = a.Get("h192", 0), h193 = a.Get("h193", 0);
  if (h191 > 0 || h192 > 0 || h193 > 0) {
    SetHeightPx(pContent->FindNode(191, -1), h191);
    SetHeightPx(pContent->FindNode(192, -1), h192);
    SetHeightPx(pContent->FindNode(193, -1), h193);
    SetVariantHeightPx(pContent->FindNode(199, -1), 8, 1, a.Get("h199", 0));
    ReanchorUserInfoSpacer(pContent, h191, h192, h193);
    h.Relayout(pContent);
  }
  return pContent;
}

// Choice lists

CLayoutNode* SceneView8Rows(THarness& h, const TArgs& a) {
  int32_t nCount = a.Get("count", 4);
  return h.ScrollContent(LayoutRectOf(SceneView8(h, a), 201), [=](CLayoutNode* n) { BuildChoiceRowsLayout(n, nCount); });
}
CLayoutNode* SceneView21Rows(THarness& h, const TArgs& a) {
  int32_t nCount = a.Get("count", 4);
  return h.ScrollContent(LayoutRectOf(SceneView21(h, a), 228),
                         [=](CLayoutNode* n) { BuildChoiceRowsLayout(n, nCount); });
}
CLayoutNode* SceneChoiceRow(THarness& h, const TArgs& a) {
  return h.Control(LayoutRectOf(SceneView8Rows(h, a), 229, a.Get("row", 0)), BuildView8PartLayout, {}, false);
}
CLayoutNode* SceneChoiceRowSkin(THarness& h, const TArgs& a) {
  return h.Control(LayoutRectOf(SceneView8Rows(h, a), 229, a.Get("row", 0)), BuildNoCornerLayout);
}
CLayoutNode* SceneNetworkRows(THarness& h, const TArgs& a) {
  int32_t nCount = a.Get("count", 4);
  return h.ScrollContent(LayoutRectOf(SceneNetwork(h, a), 231),
                         [=](CLayoutNode* n) { BuildNetworkRowsLayout(n, nCount); });
}

constexpr TLayoutScene kScenes[] = {
    {"app", "band=0 (dialog band height in px)", "BuildAppRootLayout, BuildAppFrameLayout, BuildSoftKeyBarLayout", SceneApp},
    {"button", "caption=1 subcaption=1 icon=1 x=10 y=10 w=200 h=60", "BuildButtonLayout", SceneButton},
    {"scrollpanel", "", "BuildScrollPanelLayout on #69", SceneScrollPanel},
    {"listdialog", "rows=4", "BuildListDialogLayout on #53", SceneListDialog},
    {"settings", "", "BuildTwoButtonPortraitLayout / BuildTwoButtonLandscapeLayout", SceneSettings},
    {"settings.button1.skin", "", "BuildCapCornerLayout on #103", SceneSettingsSkin1},
    {"settings.button1", "", "BuildTwoButtonPartLayoutA on #103", SceneSettingsButton1},
    {"settings.button2.skin", "", "BuildNoCornerLayout on #105", SceneSettingsSkin2},
    {"settings.button2", "", "BuildTwoButtonPartLayoutB on #105", SceneSettingsButton2},
    {"recorder", "", "BuildRecorderLayout", SceneRecorder},
    {"recorder.modebutton", "button=83", "BuildRecordButtonLayout", SceneModeButton},
    {"recorder.recordbutton.skin", "", "BuildSquareCornerLayout on #75", SceneRecordButtonSkin},
    {"recorder.recordbutton", "", "BuildRecorderPartLayoutA on #75", SceneRecordButton},
    {"searching", "", "BuildSearchingLayout", SceneSearching},
    {"searching.wait", "", "BuildSearchingLayout on the wait panel at #52", SceneWaitPanel},
    {"messagedialog", "buttons=2 band=0", "BuildMessageDialogLayout on #43", SceneMessageDialog},
    {"progressdialog", "buttons=2 band=0", "BuildProgressDialogLayout on #43", SceneProgressDialog},
    {"dialogbutton.skin", "buttons=2", "BuildListItemLayout on #51", SceneDialogButtonSkin},
    {"dialogbutton", "buttons=2", "BuildListItemPartLayout on #51", SceneDialogButton},
    {"frame", "", "BuildFrameLayout", SceneFrame},
    {"editbar", "k10=0", "BuildEditBarLayout on #114", SceneEditBar},
    {"editbar.skin", "", "BuildNoCornerLayout on #114", SceneEditBarSkin},
    {"editbar.button", "", "BuildEditBarPartLayout on #62", SceneEditBarButton},
    {"terms", "", "BuildTermsLayout", SceneTerms},
    {"terms.content", "", "BuildTermsContentLayout on #110", SceneTermsContent},
    {"recordlist", "records=3", "BuildUserListInitLayout on #69", SceneRecordList},
    {"recordlist.rows", "records=3", "BuildListRowsLayout on #117", SceneRecordRows},
    {"recordlist.row.skin", "records=3 row=0", "BuildUserListLayout on #119.row", SceneRecordRowSkin},
    {"recordlist.row", "records=3 row=0 k16=1", "BuildUserListItemLayout on #119.row", SceneRecordRow},
    {"help", "", "BuildView18Layout", SceneHelp},
    {"help.content", "text=60 relayout=0", "BuildView18ContentLayout on #160", SceneHelpContent},
    {"credits", "", "BuildCreditsLayout", SceneCredits},
    {"credits.content", "measured=0 header=20 body=50", "BuildCreditsContentLayout on #175", SceneCreditsContent},
    {"userpage.content", "k6=1 k5=1 k9=7 k11=1 k14=0", "BuildUserPageContentLayout on #69", SceneUserPage},
    {"userpage.button", "button=138 (and the content's keys)", "BuildUserPageLayout", SceneUserPageButton},
    {"trackdetails.content", "k11=1 k12=1 k13=1 k14=0", "BuildTrackDetailsContentLayout on #69", SceneTrackDetails},
    {"details.row", "mode=0", "BuildDetailsPartLayoutA on #150", SceneDetailsRow},
    {"details.link", "row=141", "BuildDetailsPartLayoutB", SceneDetailsLink},
    {"details.skin", "", "BuildThinCornerLayout on #150", SceneDetailsSkin},
    {"userinfo.content", "k8=0 h191=0 h192=0 h193=0 h199=0", "BuildUserInfoContentLayout on #69", SceneUserInfo},
    {"view8", "", "BuildView8Layout", SceneView8},
    {"view8.rows", "count=4", "BuildChoiceRowsLayout on #201", SceneView8Rows},
    {"choice.row", "count=4 row=0", "BuildView8PartLayout on #229.row", SceneChoiceRow},
    {"choice.row.skin", "count=4 row=0", "BuildNoCornerLayout on #229.row", SceneChoiceRowSkin},
    {"view21", "", "BuildView21Layout", SceneView21},
    {"view21.rows", "count=4", "BuildChoiceRowsLayout on #228", SceneView21Rows},
    {"view16", "", "BuildView16Layout", SceneView16},
    {"network", "", "BuildNetworkSelectLayout", SceneNetwork},
    {"network.rows", "count=4", "BuildNetworkRowsLayout on #231", SceneNetworkRows},
};

}  // namespace

std::span<const TLayoutScene> LayoutScenes() { return kScenes; }

const TLayoutScene* FindLayoutScene(std::string_view name) {
  for (const TLayoutScene& scene : kScenes)
    if (name == scene.pszName) return &scene;
  return nullptr;
}
