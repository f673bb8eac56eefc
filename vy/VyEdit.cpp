#include "vy/VyEdit.h"

#include "vy/BaseGUI.h"
#include "vy/VyUtil.h"

constinit CVyControl* CVyEdit::s_pControlCurrent = nullptr;
constinit plat::HWND CVyEdit::s_hEditWindow = nullptr;
constinit int32_t CVyEdit::s_bActive = 0;
constinit int32_t CVyEdit::s_bLocked = 0;
constinit int32_t CVyEdit::s_nScreenHeight = 0;

int32_t CVyEdit::KillFocus() {
  if (s_bLocked) return 0;
  if (s_bActive && s_hEditWindow && plat::GetFocus() == s_hEditWindow) {
    CBaseGUI::StartRenderCurrentGUI(0);
    CPR_RET(s_pControlCurrent, 0);
    UpdateSipForSlide(0);
    plat::SendMessage(s_hEditWindow, plat::WM_KILLFOCUS, 0, 0);
    s_bActive = 0;
    return 1;
  }
  s_bActive = 0;
  return 0;
}

void CVyEdit::MovePanelForEdit(int32_t) {
  if (!s_pControlCurrent) return;
}

void CVyEdit::OnScreenResize(int32_t, int32_t nHeight) {
  if (!s_bActive || !s_pControlCurrent) return;
  CBaseGUI::StartRenderCurrentGUI(1);
  s_nScreenHeight = nHeight;
}

void CVyEdit::HideEditWindow() {
  plat::SetWindowPos(s_hEditWindow, plat::HWND_BOTTOM, 0, 0, 0, 0, plat::SWP_NOZORDER);
}
