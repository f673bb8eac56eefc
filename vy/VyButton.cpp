#include "vy/VyButton.h"

#include "vy/VyLabel.h"
#include "vy/VyPicture.h"

namespace {

plat::LPARAM PackPoint(int32_t x, int32_t y) {
  return plat::LPARAM((uint32_t(x) & 0xFFFF) | (uint32_t(y) << 16));
}

}  // namespace

CVyButton::CVyButton() {
  SetEnable(1, 1);
  SetVisible(1, 1);
  SetPressVibration(1, nullptr);
  SetRunVibration(1, nullptr);
  SetRunSound(1, nullptr);
  SetFocusOnPress(1);
  SetDeferRelease(1);
}

CVyButton::~CVyButton() = default;

HRESULT CVyButton::SetControl(int32_t nType, CVyControl* pControl) {
  CBR_RET(nType >= 0 && nType < VYBUTTON_MAX_CONTROL, S_OK);
  CPR_RET(pControl, S_OK);
  pControl->SetReservedValue(nType);
  for (int32_t i = 0; i < GetChildCount(); ++i) {
    CVyControl* pDeletingControl = GetChildControl(i);
    if (!pDeletingControl) {
      VY_LOG(u"Error %s = %s->GetChildControl(%d) : %s, line %d\n", u"pDeletingControl", u"this", i, VY_SOURCE,
             __LINE__);
      return S_OK;
    }
    if (pDeletingControl->GetReservedValue() != nType) continue;
    CBR_RET(pControl != pDeletingControl && L"Please check again!", S_OK);
    RemoveChildAt(size_t(i), 0);
    pDeletingControl->Destroy();
    break;
  }
  AddControl(pControl, -1);
  return S_OK;
}

HRESULT CVyButton::SetPictures(int32_t nNormalPictureID, int32_t nPressedPictureID, int32_t nDisabledPictureID,
                               int32_t nFocusedPictureID, int32_t bTransparent) {
  CBR(nNormalPictureID != -1);
  const std::pair<int32_t, int32_t> slots[] = {{VYBUTTON_PICTURE_NORMAL, nNormalPictureID},
                                               {VYBUTTON_PICTURE_PRESSED, nPressedPictureID},
                                               {VYBUTTON_PICTURE_DISABLED, nDisabledPictureID},
                                               {VYBUTTON_PICTURE_FOCUSED, nFocusedPictureID}};
  for (auto [slot, id] : slots) {
    if (id == -1) continue;
    auto* p = new CVyPicture(id, &m_rc);
    p->SetTransparent(bTransparent);
    SetControl(slot, p);
  }
  return S_OK;
}

HRESULT CVyButton::SetText(const plat::WChar* pwszText, const CVyFont* pNormalFont, const CVyFont* pPressedFont,
                           const CVyFont* pFocusedFont, const CVyFont* pDisabledFont, uint32_t nFormat,
                           int32_t nMarginX, int32_t nMarginY) {
  CPR(pNormalFont);
  m_nMarginX = nMarginX;
  m_nMarginY = nMarginY;
  const RECT r{m_rc.left + nMarginX, m_rc.top + nMarginY, m_rc.right - nMarginX, m_rc.bottom - nMarginY};
  auto make = [&](const CVyFont& font) { return new CVyLabel(font, pwszText, r.left, r.top, r.right, r.bottom, nFormat, 0); };
  SetControl(VYBUTTON_TEXT_NORMAL, make(*pNormalFont));
  // Every slot is filled again, so no label of an earlier call outlives it.
  SetControl(VYBUTTON_TEXT_PRESSED, make(pPressedFont ? *pPressedFont : *pNormalFont));
  SetControl(VYBUTTON_TEXT_FOCUSED, make(pFocusedFont ? *pFocusedFont : *pNormalFont));
  SetControl(VYBUTTON_TEXT_DISABLED, make(pDisabledFont ? *pDisabledFont : *pNormalFont));
  return S_OK;
}

void CVyButton::SetRect(int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom, int32_t bChildren) {
  m_rc = m_rcOffset = m_rcPointCheck = RECT{nLeft, nTop, nRight, nBottom};
  if (!bChildren) return;
  VY_WALK_CHILDREN([&](CVyControl* pControl, int32_t) {
    const int32_t slot = pControl->GetReservedValue();
    if (slot >= VYBUTTON_TEXT_NORMAL && slot <= VYBUTTON_TEXT_DISABLED)
      pControl->SetRect(nLeft + m_nMarginX, nTop + m_nMarginY, nRight - m_nMarginX, nBottom - m_nMarginY, 1);
    else
      pControl->SetRect(nLeft, nTop, nRight, nBottom, 1);
    return true;
  });
}

int32_t CVyButton::PlayPressFeedback() {
  if (!CVyControl::PlayPressFeedback()) return 0;
  // A new press: a long press of an earlier one does not hold back its click.
  SetBit(VY_STATE_LONG_PRESSED, false);
  FirePressEvent(m_pExMember1 ? m_pExMember1->nPressValue : 0, 0);
  GetOffset(&m_ptPress);
  return 1;
}

int32_t CVyButton::ReleaseWithoutClick(int32_t x, int32_t y) {
  m_bDragged = 0;
  if (!CVyControl::OnRelease(x, y, 0)) return 0;
  FireEvent(m_pExMember1 ? m_pExMember1->nEventValue : 0, PackPoint(x, y));
  return 1;
}

int32_t CVyButton::OnRelease(int32_t x, int32_t y, int32_t bCancel) {
  if (!ReleaseWithoutClick(x, y)) return 0;
  if (!bCancel && HitTest(x, y) && !(m_nState & VY_STATE_LONG_PRESSED))
    FireRunEvent(m_pExMember1 ? m_pExMember1->nRunValue : 0, 0);
  return 1;
}

int32_t CVyButton::OnLongPress(int32_t x, int32_t y, int32_t bRelease) {
  if (!HitTest(x, y) || !IsPressed()) return 1;
  const POINT pt{x, y};
  const int32_t a = FireLongPressEvent(m_pExMember1 ? m_pExMember1->nLongPressValue : 0, &pt);
  SetBit(VY_STATE_LONG_PRESSED, true);
  const int32_t b = CVyControl::OnLongPress(x, y, bRelease);
  return (a != 0 || b != 0) ? 0 : 1;
}

int32_t CVyButton::OnMouseMove(int32_t x, int32_t y) {
  if (IsPressed() && !HitTest(x, y)) SetRelease(1, 1);
  return CVyControl::OnMouseMove(x, y);
}

int32_t CVyButton::Draw(plat::HDC hdc) {
  if (!IsVisible()) return 1;
  int32_t nPicture = VYBUTTON_PICTURE_NORMAL, nText = VYBUTTON_TEXT_NORMAL;
  if (!IsEnabled()) {
    nPicture = VYBUTTON_PICTURE_DISABLED, nText = VYBUTTON_TEXT_DISABLED;
  } else if (IsPressed()) {
    if (!m_bDragged && std::abs(m_ptOffset.y - m_ptPress.y) > kDragLimit) m_bDragged = 1;
    if (!m_bDragged) nPicture = VYBUTTON_PICTURE_PRESSED, nText = VYBUTTON_TEXT_PRESSED;
  } else if (IsFocused()) {
    nPicture = VYBUTTON_PICTURE_FOCUSED, nText = VYBUTTON_TEXT_FOCUSED;
  }
  CVyControl* pPicture = GetChildControlByReservedValue(nPicture);
  if (!pPicture) pPicture = GetChildControlByReservedValue(VYBUTTON_PICTURE_NORMAL);
  if (pPicture) pPicture->Draw(hdc);
  CVyControl* pText = GetChildControlByReservedValue(nText);
  if (!pText) pText = GetChildControlByReservedValue(VYBUTTON_TEXT_NORMAL);
  if (pText) pText->Draw(hdc);
  EndDraw(hdc);
  return 0;
}
