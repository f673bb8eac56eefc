// The toolkit's text-edit support: the statics and entry points through which
// the screen, the controls and the menus make a text edit give up the input
// focus at the right moments. This program creates no edit controls, so the
// current edit stays null and the entry points reduce to their null cases.
#pragma once

#include <cstdint>

#include "vy/VyControl.h"

class CVyEdit : public CVyControl {
 public:
  // 1 when an edit gave up the focus; always 0 while there is no edit.
  static int32_t KillFocus();
  static void MovePanelForEdit(int32_t bStop);
  static void OnScreenResize(int32_t nWidth, int32_t nHeight);
  static void HideEditWindow();

  // Cleared by the control's destructor when it is the current edit.
  static CVyControl* s_pControlCurrent;
  static plat::HWND s_hEditWindow;
  static int32_t s_bActive;
  static int32_t s_bLocked;
  static int32_t s_nScreenHeight;
};
