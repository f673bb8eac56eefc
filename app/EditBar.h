// The title bar every screen carries: a back button, the screen's title and
// a right-hand button that only some screens show (key 10 of the bar's
// content tree). The screen binds the bar's control to a node of its own.
#pragma once

#include <cstdint>

#include "app/ImageToggle.h"
#include "framework/CtlButton.h"

struct CEditBar {
  CControlBinder binder;  // owns the bar
  CImageToggle* pBack = nullptr;
  CtlButton* pButton = nullptr;
  CtlStatic* pCaption = nullptr;
  CtlAdvButton* Bar() const { return binder.Control(); }
};

// Builds the bar under the parent; a caption id of 0 leaves the title empty
// for the screen to set.
void BuildEditBar(CEditBar& bar, CControl* pParent, int32_t nCaptionId);
// Shows or hides the right-hand button.
void ShowEditBarButton(CEditBar& bar, bool bShow);
// The title's font: its own height less 6 pixels, at least 1.
int32_t EditBarCaptionFont(int32_t nCaptionHeight);
