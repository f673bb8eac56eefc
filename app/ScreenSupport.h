// Small helpers the settings, choice, help, message, credits and terms
// screens share: the page panel they scroll, text measured at a width and
// the main window's sides. UI thread.
#pragma once

#include <cstdint>

#include "framework/CtlScrollPanel.h"
#include "framework/Graphics.h"
#include "platform/base/Strings.h"

// A scroll panel under the parent in the colour, painted with its content by
// the parent; with bBarImages the bar uses the pictures 37, 38 and 39.
CtlScrollPanel* CreatePagePanel(CControl* pParent, TColor background, bool bBarImages);

// The height the text takes wrapped at nWidth pixels in the font (0 for an
// empty text or a width below 1), measured on the control's window.
int32_t MeasureTextHeight(const CControl* pControl, plat::WStringView text, const TFontDesc& font, int32_t nWidth,
                          int32_t nAlign);

// CAppUi::GetStandardHeight once the application's tree is laid out (at
// least 1); 0 before, when a view is still being built.
int32_t StandardHeightNow(int32_t nIndex);

// Asks the panel for a pass after which `handler` runs. The handler must
// clear itself (SetRelayoutHandler with an empty delegate) before it asks
// for another pass, or it would run after every pass.
void RequestMeasuredPass(CtlScrollPanel* pPanel, const CDelegate& handler);

// The main window's width and height (0 without an application).
int32_t MainWindowWidth();
int32_t MainWindowHeight();
