// The seam through which the widgets reach the descriptions of their own
// interiors, which live a layer up in layouts/. The application object
// installs them when it is made; a widget built before that is a broken
// invariant (TPanic "WidgetLayouts").
#pragma once

#include <cstdint>

class CLayoutNode;

struct TWidgetLayouts {
  void (*pfnButton)(CLayoutNode* pNode, bool bCaption, bool bSubCaption, bool bIcon) = nullptr;
  void (*pfnScrollPanel)(CLayoutNode* pNode) = nullptr;
  void (*pfnSoftKeyBar)(CLayoutNode* pNode) = nullptr;
};

void InstallWidgetLayouts(const TWidgetLayouts& layouts);
void RunButtonLayout(CLayoutNode* pNode, bool bCaption, bool bSubCaption, bool bIcon);
void RunScrollPanelLayout(CLayoutNode* pNode);
void RunSoftKeyBarLayout(CLayoutNode* pNode);
