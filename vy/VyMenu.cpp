#include "vy/VyMenu.h"

#include <algorithm>

#include "vy/BaseGUI.h"
#include "vy/ImageUtil.h"
#include "vy/VyEdit.h"
#include "vy/VyPanel.h"

namespace {

constexpr const plat::WChar* kPopupVibration = u"windows\\press.ivt";
constexpr const plat::WChar* kPopupSound = u"12_List Popup.wav";
constexpr uint32_t kKeyReturn = 13, kKeyEscape = 27, kKeyLeft = 37, kKeyUp = 38, kKeyRight = 39, kKeyDown = 40;

RECT WindowClient(CVyControl* p) {
  RECT rc{};
  if (p && p->GetWindow()) plat::GetClientRect(p->GetWindow(), &rc);
  return rc;
}

void RestoreClip(plat::HDC hdc, const RECT& rc) {
  plat::HRGN hrgn = plat::CreateRectRgn(rc.left, rc.top, rc.right, rc.bottom);
  plat::SelectClipRgn(hdc, hrgn);
  plat::DeleteObject(hrgn);
}

void PopupFeedback() {
  PlayHapticEffect(kPopupVibration);
  PlayLumatapSound(kPopupSound);
}

}  // namespace

int32_t CVyMenu::s_nMenuPhase = 0;
RECT CVyMenu::s_rcMenuAnchor = {};
uint32_t CVyMenu::s_nDimColour = 0xFF000000u;
int32_t CVyMenu::s_bDimRepaint = 1;
int32_t CVyMenu::s_nFadeLevel = 255;

void CVyMenu::ResetStaticsForTests() {
  s_nMenuPhase = 0;
  s_rcMenuAnchor = {};
  s_nDimColour = 0xFF000000u;
  s_bDimRepaint = 1;
  s_nFadeLevel = 255;
}

CVyMenu::CVyMenu() {
  EnsureExMember1();
  EnsureExMember2();
  SetMenuStyle(1);
}

CVyMenu::~CVyMenu() {
  // The framework drops a menu it left open (menu mode ended under it): the
  // panel must not keep naming it.
  if (m_pOpenPanel && m_pOpenPanel->GetModalControl() == this) {
    m_pOpenPanel->SetModalControl(m_pSavedModal, 0);
    m_pOpenPanel->SetFocusIndex(m_pOpenPanel->GetSavedFocusIndex());
    m_pOpenPanel->SetSavedFocusIndex(-1);
    CBaseGUI::ReleaseMenuDC();
  }
  delete m_pCloseMessage;
}

CVyPanel* CVyMenu::FindPanel() {
  for (CVyControl* p = GetParent(); p; p = p->GetParent()) {
    if (auto* pPanel = dynamic_cast<CVyPanel*>(p)) return pPanel;
    if (!dynamic_cast<CVyMenu*>(p)) return nullptr;
  }
  return nullptr;
}

CVyControl* CVyMenu::FindRole(int32_t nRole) {
  CVyControl* pFound = nullptr;
  // The items' reserved value is 0 too: only the children after them count.
  VY_WALK_CHILD_RANGE(m_nItemCount, GetChildCount(), [&](CVyControl* pControl, int32_t) {
    if (pControl->GetReservedValue() == nRole) pFound = pControl;
    return pFound == nullptr;
  });
  return pFound;
}

void CVyMenu::SetCloseMessage(plat::HWND hWnd, uint32_t nMsg, plat::WPARAM wParam, plat::LPARAM lParam) {
  delete m_pCloseMessage;
  m_pCloseMessage = new TVyMessage{hWnd, nMsg, wParam, lParam};
}

HRESULT CVyMenu::SetControl(int32_t nType, CVyControl* pControl) {
  CBR_RET(nType >= 0 && nType < VYMENU_MAX_CONTROL, S_OK);
  CPR_RET(pControl, S_OK);
  pControl->SetReservedValue(nType);
  AddControl(pControl, -1);
  return S_OK;
}

void CVyMenu::BeginOpen(int32_t nType) {
  PopupFeedback();
  if (CVyEdit::KillFocus() == 0) UpdateSipForSlide(0);
  CBaseGUI::StartRenderCurrentGUI(0);
  m_nState = kStateOpening;
  s_nMenuPhase = kPhaseOpened;
  m_nOpenType = nType;
}

HRESULT CVyMenu::Open(CVyControl* pMainPanel, int32_t nType, const RECT* pAnchor, const RECT* pRect) {
  BeginOpen(nType);
  if (pAnchor) s_rcMenuAnchor = *pAnchor;
  CPR(pMainPanel);
  auto* pPanel = dynamic_cast<CVyPanel*>(pMainPanel);
  CPR(pPanel);
  const RECT rc = pRect ? *pRect : WindowClient(pPanel);
  SetRect(rc.left, rc.top, rc.right, rc.bottom, nType);
  pPanel->SetSavedFocusIndex(pPanel->GetFocusIndex());
  pPanel->AddControl(this, -1);
  pPanel->SetFocusIndex(pPanel->GetChildCount() - 1);
  m_pSavedModal = pPanel->SetModalControl(nullptr, 0);
  m_pOpenPanel = pPanel;
  return S_OK;
}

HRESULT CVyMenu::Open(int32_t nType) {
  BeginOpen(nType);
  CBaseGUI* pGui = CBaseGUI::GetCurrentGUI();
  CPR(pGui);
  CVyPanel* pPanel = pGui->GetRootPanel();
  CPR(pPanel);
  m_pSavedModal = pPanel->SetModalControl(nullptr, 0);
  m_pOpenPanel = pPanel;
  return S_OK;
}

int32_t CVyMenu::SlideEnd() const {
  const int32_t h = m_rc.Height();
  return (m_nOpenType == 0 || m_bFromBelow) ? h : -h;
}

int32_t CVyMenu::StartClose() {
  if (m_pCurrentMenu) return m_pCurrentMenu->StartClose();
  InitMoveAnimation(&m_anim, m_ptOffset.y, SlideEnd(), 0, kSlideBoost);
  m_nState = kStateSlidingOut;
  auto* pParent = dynamic_cast<CVyMenu*>(GetParent());
  if (!pParent) return 1;
  if (pParent->m_pCurrentMenu == this) m_nFocusIndex = -1;
  return 0;
}

HRESULT CVyMenu::Close(int32_t bNow, int32_t bSilent) {
  if (!bSilent) PopupFeedback();
  CBaseGUI::StartRenderCurrentGUI(0);
  if (!bNow && m_nState != kStateOpen && m_nState != kStateWaiting) return S_OK;
  StartClose();
  (m_pCurrentMenu ? m_pCurrentMenu : this)->m_nState = kStateClosing;
  s_nMenuPhase = kPhaseClosing;
  auto* pPanel = dynamic_cast<CVyPanel*>(GetParent());
  if (!pPanel) return S_OK;
  if (bNow) {
    CBaseGUI::ReleaseMenuDC();
    if (m_pCloseMessage) plat::PostMessage(m_pCloseMessage->hWnd, m_pCloseMessage->nMsg, m_pCloseMessage->wParam, 0);
    pPanel->SetModalControl(m_pSavedModal, 0);
    m_pSavedModal = nullptr;
    SetVisible(0, 1);
    RemoveFromParent();
  }
  pPanel->SetFocusIndex(pPanel->GetSavedFocusIndex());
  pPanel->SetSavedFocusIndex(-1);
  pPanel->CallOnReleaseToChildcontrol();
  return S_OK;
}

void CVyMenu::GoToPage(int32_t nWhere) {
  CVyControl* pUpControl = FindRole(VYMENU_ROLE_PAGE_UP);
  CPR_RET(pUpControl);
  CVyControl* pDownControl = FindRole(VYMENU_ROLE_PAGE_DOWN);
  CPR_RET(pDownControl);
  const int32_t n = m_nItemCount, p = m_nPageSize;
  int32_t& t = m_nTopIndex;
  switch (nWhere) {
    case 0: {
      const int32_t r = p > 0 ? n % p : 0;
      if (r != 0 && t + std::min(p, n) == n)
        t -= r;
      else
        t -= p;
      if (t < 1) {
        t = 0;
        pUpControl->SetEnable(0, 1);
      }
      pDownControl->SetEnable(1, 1);
      break;
    }
    case 1:
      t += p;
      if (t >= n - p) {
        t = n - p;
        pDownControl->SetEnable(0, 1);
      }
      if (t < 0) t = 0;
      pUpControl->SetEnable(1, 1);
      break;
    case 2:
      t = 0;
      pUpControl->SetEnable(0, 1);
      pDownControl->SetEnable(1, 1);
      break;
    case 3:
      t = std::max(0, n - p);
      pUpControl->SetEnable(1, 1);
      pDownControl->SetEnable(0, 1);
      break;
    default:
      return;
  }
  CVyPanel* pPanel = FindPanel();
  CPR_RET(pPanel);
  const RECT rc = WindowClient(pPanel);
  SetRect(rc.left, rc.top, rc.right, rc.bottom, m_nOpenType);
}

HRESULT CVyMenu::FireRunEvent(intptr_t a, intptr_t b) {
  // A menu on its way out has made its choice.
  if (m_bRunPending || m_nState == kStateSlidingOut || m_nState == kStateClosing) return S_OK;
  const bool bBound = (m_pExMember1 && m_pExMember1->pRun) || (m_pExMember2 && m_pExMember2->pRunMessage);
  if (!bBound) {
    CVyControl* pParent = GetParent();
    return pParent ? pParent->FireRunEvent(a, b) : E_FAIL;
  }
  m_nRunData = a;
  m_bRunPending = 1;
  Close(0, 1);
  return S_OK;
}

void CVyMenu::OnRunEvent() {
  CVyMenu* pMenu = this;
  if (auto* pParent = dynamic_cast<CVyMenu*>(GetParent())) pMenu = pParent;
  CVyPanel* pPanel = pMenu->FindPanel();
  CPR_RET(pPanel);
  pMenu->SetVisible(0, 1);
  if (pMenu->m_bRunPending) {
    pMenu->m_bRunPending = 0;
    if (pMenu->m_pExMember1 && pMenu->m_pExMember1->pRun) pMenu->m_pExMember1->pRun->Invoke(pMenu->m_nRunData, 0);
    if (const TVyMessage* pMsg = pMenu->m_pExMember2 ? pMenu->m_pExMember2->pRunMessage : nullptr)
      plat::PostMessage(pMsg->hWnd, pMsg->nMsg, pMsg->wParam, plat::LPARAM(pMenu->m_nRunData));
  }
  if (const TVyMessage* pMsg = pMenu->m_pCloseMessage) plat::PostMessage(pMsg->hWnd, pMsg->nMsg, pMsg->wParam, 0);
  pPanel->SetModalControl(pMenu->m_pSavedModal, 0);
  pMenu->m_pSavedModal = nullptr;
  pMenu->RemoveFromParent();
}

void CVyMenu::FinishClose(CVyPanel* pPanel) {
  CBaseGUI::ReleaseMenuDC();
  if (pPanel) pPanel->SetModalControl(nullptr, 0);
  if (auto* pParent = dynamic_cast<CVyMenu*>(GetParent())) {
    pParent->m_pCurrentMenu = nullptr;
    pParent->m_ptOffset.y = pParent->m_rc.Height();
  } else {
    m_pCurrentMenu = nullptr;
  }
  s_nMenuPhase = kPhaseClosed;
}

void CVyMenu::MoveFocus(int32_t nNew) {
  if (m_nFocusIndex != -1)
    if (CVyControl* pOld = GetChildControl(m_nFocusIndex)) pOld->SetFocus(0, 1);
  m_nFocusIndex = nNew;
  if (nNew != -1)
    if (CVyControl* pNew = GetChildControl(nNew)) pNew->SetFocus(1, 1);
}

void CVyMenu::KeyUp() {
  const int32_t n = m_nItemCount, vis = std::min(m_nPageSize, n);
  CVyControl* pBack = FindRole(VYMENU_ROLE_BACK);
  const int32_t k = pBack ? GetChildIndex(pBack) : -1;
  const int32_t f = m_nFocusIndex;
  const int32_t lastVisible = m_nTopIndex + vis - 1;
  if (n == 0) {
    if (k != -1) MoveFocus(k);
    return;
  }
  if (f == -1) {
    MoveFocus(k != -1 ? k : lastVisible);
    return;
  }
  if (f == k) {
    MoveFocus(lastVisible);
    return;
  }
  int32_t g = f - 1;
  if (g < 0) {
    if (k == -1) {
      g = n - 1;
      if (g > lastVisible) GoToPage(3);
    } else {
      g = k;
      GoToPage(3);
    }
  } else if (g < m_nTopIndex) {
    GoToPage(0);
  }
  MoveFocus(g);
}

void CVyMenu::KeyDown() {
  const int32_t n = m_nItemCount, p = m_nPageSize, vis = std::min(p, n);
  CVyControl* pBack = FindRole(VYMENU_ROLE_BACK);
  const int32_t k = pBack ? GetChildIndex(pBack) : -1;
  const int32_t f = m_nFocusIndex;
  if (n == 0) {
    if (k != -1) MoveFocus(k);
    return;
  }
  if (f == -1) {
    MoveFocus(m_nTopIndex);
    return;
  }
  if (f == k) {
    if (n > p) GoToPage(2);
    MoveFocus(m_nTopIndex);
    return;
  }
  int32_t g = f + 1;
  if (g > n - 1) {
    if (k == -1) {
      g = 0;
      if (n > p && m_nTopIndex != 0) GoToPage(2);
    } else {
      g = k;
    }
  } else if (g > m_nTopIndex + vis - 1) {
    GoToPage(1);
  }
  MoveFocus(g);
}

void CVyMenu::OpenSubMenu(CVyMenuItem* pItem, bool bMoveFocus) {
  CVyMenu* pSub = pItem->m_pSubMenu;
  CPR_RET(pSub);
  pSub->m_nOpenType = m_nOpenType;
  pSub->m_nState = kStateWaiting;
  if (bMoveFocus) pSub->MoveFocus(0);
  m_nState = kStateSubOpening;
  m_pCurrentMenu = pSub;
}

int32_t CVyMenu::OnKeyDown(uint32_t nKey, plat::LPARAM lParam) {
  if (m_pCurrentMenu) return m_pCurrentMenu->OnKeyDown(nKey, lParam);
  if (nKey == kKeyEscape) nKey = kKeyLeft;  // Back closes the menu
  switch (nKey) {
    case kKeyReturn:
      if (m_nFocusIndex != -1)
        if (CVyControl* p = GetChildControl(m_nFocusIndex)) p->SetPress(1, 1);
      return 0;
    case kKeyLeft:
      if (m_bHasBackButton)
        StartClose();
      else
        Close(0, 0);
      return 0;
    case kKeyUp:
    case kKeyDown:
    case kKeyRight:
      break;
    default:
      return 0;
  }
  // Disabled items are skipped; with every item disabled the search ends
  // after one round with no focus.
  for (int32_t tries = 0;; ++tries) {
    if (nKey == kKeyUp) {
      KeyUp();
    } else if (nKey == kKeyDown) {
      KeyDown();
    } else {
      auto* pItem = m_nFocusIndex != -1 ? dynamic_cast<CVyMenuItem*>(GetChildControl(m_nFocusIndex)) : nullptr;
      if (pItem && pItem->GetSubMenu() && pItem->IsEnabled()) {
        OpenSubMenu(pItem, true);
        return 0;
      }
    }
    CVyControl* pFocus = m_nFocusIndex != -1 ? GetChildControl(m_nFocusIndex) : nullptr;
    if (!pFocus || pFocus->IsEnabled()) return 0;
    pFocus->SetFocus(0, 1);
    if (tries >= m_nItemCount + 1) {
      m_nFocusIndex = -1;
      return 0;
    }
    if (nKey == kKeyRight) nKey = kKeyDown;
  }
}

int32_t CVyMenu::OnKeyUp(uint32_t nKey, plat::LPARAM lParam) {
  if (m_pCurrentMenu) return m_pCurrentMenu->OnKeyUp(nKey, lParam);
  if (nKey != kKeyReturn || m_nFocusIndex == -1) return 0;
  CVyControl* pFocus = GetChildControl(m_nFocusIndex);
  if (!pFocus) return 0;
  if (pFocus == FindRole(VYMENU_ROLE_BACK)) pFocus->SetFocus(0, 1);
  if (auto* pItem = dynamic_cast<CVyMenuItem*>(pFocus); pItem && pItem->GetSubMenu())
    pItem->GetSubMenu()->MoveFocus(0);
  pFocus->SetRelease(0, 1);
  return 0;
}

int32_t CVyMenu::OnLButtonDown(int32_t x, int32_t y) {
  if (!HitTest(x, y)) {
    // Delivered once to an open sub-menu.
    if (m_pCurrentMenu) return m_pCurrentMenu->OnLButtonDown(x, y);
    CVyMenu* pTop = this;
    while (auto* pParent = dynamic_cast<CVyMenu*>(pTop->GetParent())) pTop = pParent;
    pTop->Close(0, 0);
    SetSelectedChild(nullptr);
    return 1;
  }
  // A touch ends the key focus, frame and all.
  if (m_nFocusIndex != -1) {
    if (CVyControl* p = GetChildControl(m_nFocusIndex)) p->SetFocus(0, 1);
    m_nFocusIndex = -1;
  }
  if (m_pCurrentMenu) return m_pCurrentMenu->OnLButtonDown(x, y);
  return CVyControl::OnLButtonDown(x, y);
}

int32_t CVyMenu::OnLButtonUp(int32_t x, int32_t y, int32_t bCancel) {
  const int32_t r = m_pCurrentMenu ? m_pCurrentMenu->OnLButtonUp(x, y, bCancel) : CVyControl::OnLButtonUp(x, y, bCancel);
  SetSelectedChild(nullptr);
  return r;
}

int32_t CVyMenu::OnMouseMove(int32_t x, int32_t y) {
  return m_pCurrentMenu ? m_pCurrentMenu->OnMouseMove(x, y) : CVyControl::OnMouseMove(x, y);
}

void CVyMenu::RepaintDim(plat::HDC hdc, CVyPanel* pPanel) {
  const RECT rc = WindowClient(pPanel);
  CIImage::FillAlpha(hdc, &rc, s_nDimColour, 1);
  s_bDimRepaint = 0;
}

int32_t CVyMenu::Draw(plat::HDC hdc) {
  if (!IsVisible()) return 1;
  CVyPanel* pPanel = FindPanel();
  CPR_RET(pPanel, 0);
  auto setDim = [](int32_t level) { s_nDimColour = (s_nDimColour & 0x00FFFFFFu) | (uint32_t(level) << 24); };
  switch (s_nMenuPhase) {
    case kPhaseOpened:
      s_nMenuPhase = kPhaseFirstFrame;
      return 0;
    case kPhaseFirstFrame:
      pPanel->SetModalControl(this, 1);
      if (CBaseGUI* pGui = CBaseGUI::GetCurrentGUI()) pGui->CaptureMenuDC();
      CVyEdit::HideEditWindow();
      setDim(255);
      s_nMenuPhase = kPhaseOpen;
      return 0;
    case kPhaseClosed:
      OnRunEvent();
      return 0;
    case kPhaseClosing:
      if (s_bDimRepaint) {
        if (DimLevel() < 255) {
          setDim(std::min(255, DimLevel() + kDimStep));
          RepaintDim(hdc, pPanel);
        } else {
          s_bDimRepaint = 0;
        }
      }
      break;
    default:
      if (s_bDimRepaint) {
        if (DimLevel() > 120) setDim(DimLevel() - kDimStep);
        RepaintDim(hdc, pPanel);
      }
      break;
  }
  return DrawBody(hdc, pPanel);
}

int32_t CVyMenu::DrawBody(plat::HDC hdc, CVyPanel* pPanel) {
  if (m_nState == kStateOpening) {
    const int32_t from = SlideEnd();
    m_ptOffset = POINT{0, from};
    InitMoveAnimation(&m_anim, from, 0, 0, kSlideBoost);
    m_nState = kStateOpen;
    s_nFadeLevel = 255;
    s_bDimRepaint = 1;
    return 0;
  }
  if (m_pCurrentMenu && m_pCurrentMenu->m_nState != kStateWaiting) {
    m_pCurrentMenu->DrawBody(hdc, pPanel);
    if (m_nState == kStateWaiting) return 0;
  }
  int32_t y = m_ptOffset.y;
  StepMoveAnimation(&m_anim, &y);
  m_ptOffset = POINT{0, y};
  m_rcOffset = RECT{m_rc.left, m_rc.top + y, m_rc.right, m_rc.bottom + y};
  RECT rcSaved{};
  const bool bClip = m_nOpenType != 0;
  if (bClip) {
    plat::GetClipBox(hdc, &rcSaved);
    RECT rcPanel;
    pPanel->GetOffsetRect(&rcPanel);
    if (m_bFromBelow)
      plat::IntersectClipRect(hdc, m_rc.left, rcSaved.top, m_rc.right, m_rc.bottom);
    else
      plat::IntersectClipRect(hdc, m_rc.left, m_rc.top, m_rc.right, rcPanel.bottom);
  }
  const bool bFade = m_nState == kStateSubOpening || m_nState == kStateSubClosed;
  const int32_t nAlphaBefore = CIImage::GetGlobalAlpha();
  if (m_nState == kStateSubClosed) {
    if (s_nFadeLevel == 255) s_nFadeLevel = 0;
    if (s_nFadeLevel < 180) {
      s_nFadeLevel += kFadeStep;
    } else {
      m_nState = kStateOpen;
      s_nFadeLevel = 255;
    }
  } else if (m_nState == kStateSubOpening) {
    if (s_nFadeLevel >= kFadeStep + 1) {
      s_nFadeLevel -= kFadeStep;
    } else if (m_pCurrentMenu) {
      m_pCurrentMenu->m_nState = kStateOpening;
      m_nState = kStateWaiting;
      s_nFadeLevel = 0;
    }
  }
  if (bFade) CIImage::SetGlobalAlpha(s_nFadeLevel);
  const int32_t n = m_nItemCount, count = GetChildCount();
  auto drawChild = [&](CVyControl* pControl, int32_t) {
    pControl->SetOffset(0, y);
    if (pControl->IsVisible()) pControl->Draw(hdc);
    return true;
  };
  VY_WALK_CHILD_RANGE(n, count, drawChild);
  VY_WALK_CHILD_RANGE(m_nTopIndex, std::min(n, m_nTopIndex + std::min(m_nPageSize, n)), drawChild);
  if (bFade) CIImage::SetGlobalAlpha(nAlphaBefore);
  if (bClip) RestoreClip(hdc, rcSaved);
  if (m_nState == kStateSlidingOut || m_nState == kStateClosing) {
    // Where the slide was sent, not where the menu's height would send it
    // now: a rotation or a page key lays the menu out again mid-slide, and
    // a taller menu would never reach its new end, never give the panel
    // back nor post its close message.
    const int32_t end = m_anim.nTargetY;
    const bool bAtEnd = end > 0 ? y >= end - 5 : y <= end + 5;
    if (bAtEnd) {
      if (m_nState == kStateClosing) {
        FinishClose(pPanel);
      } else {
        auto* pParentMenu = dynamic_cast<CVyMenu*>(GetParent());
        CPR_RET(pParentMenu, 0);
        pParentMenu->m_nState = kStateSubClosed;
        pParentMenu->m_pCurrentMenu = nullptr;
        m_nState = kStateWaiting;
      }
    }
  }
  s_bDimRepaint = 1;
  return 0;
}

CVyMenuItem::CVyMenuItem() { SetDeferRelease(1); }

CVyMenuItem::~CVyMenuItem() {
  if (m_pSubMenu) m_pSubMenu->Destroy();
}

HRESULT CVyMenuItem::SetControl(CVyControl* pParent, int32_t nType, CVyControl* pChild) {
  CBR_RET(nType >= 0 && nType < VYMENUITEM_MAX_PRESS_CONTROL, S_OK);
  CPR_RET(pParent, S_OK);
  CPR_RET(pChild, S_OK);
  pChild->SetReservedValue(nType);
  pParent->AddControl(pChild, -1);
  return S_OK;
}

int32_t CVyMenuItem::OnMouseMove(int32_t x, int32_t y) {
  if (IsPressed() && !HitTest(x, y)) SetRelease(1, 1);
  return CVyControl::OnMouseMove(x, y);
}

int32_t CVyMenuItem::OnRelease(int32_t x, int32_t y, int32_t bCancel) {
  const bool bChosen = !bCancel && IsPressed() && HitTest(x, y);
  CVyControl::OnRelease(x, y, bCancel);
  if (!bChosen) return 0;
  auto* pMenu = dynamic_cast<CVyMenu*>(GetParent());
  CPR_RET(pMenu, 1);
  if (m_nDisabled) return 0;
  if (m_pSubMenu)
    pMenu->OpenSubMenu(this, false);
  else
    pMenu->FireRunEvent(GetData(), 0);
  return 1;
}

CVyMenuButton::~CVyMenuButton() = default;

int32_t CVyMenuButton::OnRelease(int32_t x, int32_t y, int32_t bCancel) {
  if (!ReleaseWithoutClick(x, y)) return 0;
  if (bCancel || !HitTest(x, y)) return 1;
  auto* pMenu = dynamic_cast<CVyMenu*>(GetParent());
  CPR_RET(pMenu, 0);
  CVyControl::FireRunEvent(GetData(), 0);
  switch (GetData()) {
    case 0:
      pMenu->StartClose();
      break;
    case 1:
      pMenu->GoToPage(0);
      break;
    case 2:
      pMenu->GoToPage(1);
      break;
    default:
      break;
  }
  return 1;
}
