#include "framework/WidgetLayouts.h"

#include "framework/basetypes.h"

namespace {

TWidgetLayouts s_layouts;

template <class F>
F Require(F pfn, int32_t nLine) {
  if (!pfn) QUOREL_PANIC(u"WidgetLayouts", nLine);
  return pfn;
}

}  // namespace

void InstallWidgetLayouts(const TWidgetLayouts& layouts) { s_layouts = layouts; }

void RunButtonLayout(CLayoutNode* pNode, bool bCaption, bool bSubCaption, bool bIcon) {
  Require(s_layouts.pfnButton, 1)(pNode, bCaption, bSubCaption, bIcon);
}

void RunScrollPanelLayout(CLayoutNode* pNode) { Require(s_layouts.pfnScrollPanel, 2)(pNode); }

void RunSoftKeyBarLayout(CLayoutNode* pNode) { Require(s_layouts.pfnSoftKeyBar, 3)(pNode); }
