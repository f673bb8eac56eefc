// A control that shows one of four pictures and one of four texts by its
// state (normal, pressed, focused, disabled) and turns touches into press,
// release, click and long-press notifications. Its pictures and texts are
// child controls under fixed slot numbers (their reserved values).
#pragma once

#include "vy/VyControl.h"
#include "vy/VyFont.h"

enum : int32_t {
  VYBUTTON_PICTURE_NORMAL = 0,
  VYBUTTON_PICTURE_PRESSED = 1,
  VYBUTTON_PICTURE_FOCUSED = 2,
  VYBUTTON_PICTURE_DISABLED = 3,
  VYBUTTON_TEXT_NORMAL = 4,
  VYBUTTON_TEXT_PRESSED = 5,
  VYBUTTON_TEXT_FOCUSED = 6,
  VYBUTTON_TEXT_DISABLED = 7,
  VYBUTTON_MAX_CONTROL = 8,
};

// Set while a long press has fired during the current press: no click.
constexpr uint32_t VY_STATE_LONG_PRESSED = 0x2000;

class CVyButton : public CVyControl {
 public:
  // How far the button may move vertically under a held press (the panel
  // scrolled) before it stops looking pressed.
  static constexpr int32_t kDragLimit = 20;

  CVyButton();
  ~CVyButton() override;

  // Texts (slots 4 to 7) are inset by the margins.
  void SetRect(int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom, int32_t bChildren) override;
  int32_t PlayPressFeedback() override;
  int32_t OnRelease(int32_t x, int32_t y, int32_t bCancel) override;
  int32_t OnLongPress(int32_t x, int32_t y, int32_t bRelease) override;
  // A pressed button the pen leaves gets a cancelled release.
  int32_t OnMouseMove(int32_t x, int32_t y) override;
  int32_t Draw(plat::HDC hdc) override;

  virtual HRESULT SetControl(int32_t nType, CVyControl* pControl);
  virtual HRESULT SetPictures(int32_t nNormalPictureID, int32_t nPressedPictureID, int32_t nDisabledPictureID,
                              int32_t nFocusedPictureID, int32_t bTransparent);
  // Further fonts: focused (slot 6) then disabled (slot 7); a null font, like
  // a null pressed font, means the normal one.
  virtual HRESULT SetText(const plat::WChar* pwszText, const CVyFont* pNormalFont, const CVyFont* pPressedFont,
                          const CVyFont* pFocusedFont, const CVyFont* pDisabledFont, uint32_t nFormat,
                          int32_t nMarginX, int32_t nMarginY);

  int32_t IsDragged() const { return m_bDragged; }

 protected:
  // The release without the click: the dragged flag cleared, the control's
  // release, the release notification. 0 when the button was not pressed.
  int32_t ReleaseWithoutClick(int32_t x, int32_t y);

 private:
  int32_t m_nMarginX = 0;
  int32_t m_nMarginY = 0;
  POINT m_ptPress{};
  int32_t m_bDragged = 0;
};
