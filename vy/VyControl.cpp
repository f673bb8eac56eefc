#include "vy/VyControl.h"

#include <algorithm>

#include "platform/kernel/Kernel.h"
#include "vy/BaseGUI.h"
#include "vy/FrameSkin.h"
#include "vy/ImageUtil.h"
#include "vy/VyEdit.h"
#include "vy/VyLabel.h"
#include "vy/VyPanel.h"
#include "vy/VyUtil.h"

namespace {

constexpr const plat::WChar* kPressVibration = u"windows\\press.ivt";
constexpr const plat::WChar* kRunVibration = u"windows\\press.ivt";
constexpr const plat::WChar* kPressSound = u"49_button.wav";
constexpr const plat::WChar* kRunSound = u"02_List Enter.wav";
constexpr plat::COLORREF kOutlineColour = 255;

constinit int32_t s_bDebugOutline = 0;

// The touch-point correction: a history behind a switch nothing turns on.
struct TMousePoints {
  RECT rcTarget;
  POINT points[100];
  uint32_t ticks[100];
  int32_t nCount;
};
constinit TMousePoints s_mousePoints = {};

plat::WChar* CopyString(const plat::WChar* pwsz) {
  const size_t n = std::char_traits<plat::WChar>::length(pwsz);
  plat::WChar* p = new plat::WChar[n + 1];
  std::copy_n(pwsz, n + 1, p);
  return p;
}

void ReplaceString(plat::WChar*& rpTarget, const plat::WChar* pwsz) {
  delete[] rpTarget;
  rpTarget = CopyString(pwsz);
}

const plat::WChar* FileOr(const plat::WChar* pwsz, const plat::WChar* pwszDefault) {
  return pwsz && pwsz[0] ? pwsz : pwszDefault;
}

void ReplaceFunctor(IVyFunctor*& rpSlot, const IVyFunctor* pFunctor) {
  IVyFunctor* pClone = pFunctor ? pFunctor->Clone() : nullptr;
  delete rpSlot;
  rpSlot = pClone;
}

void ReplaceMessage(TVyMessage*& rpSlot, plat::HWND hWnd, uint32_t nMsg, plat::WPARAM wParam, plat::LPARAM lParam) {
  delete rpSlot;
  rpSlot = new TVyMessage{hWnd, nMsg, wParam, lParam};
}

void PostRecord(const TVyMessage* pMsg, plat::LPARAM lParam) {
  plat::PostMessage(pMsg->hWnd, pMsg->nMsg, pMsg->wParam, lParam);
}

int32_t Toward(int32_t nFrom, int32_t nTo, int64_t nStep) {
  if (nFrom < nTo) return int32_t(std::min<int64_t>(nStep, nTo - nFrom));
  if (nFrom > nTo) return -int32_t(std::min<int64_t>(nStep, nFrom - nTo));
  return 0;
}

}  // namespace

CVyControl::CVyControl() = default;

CVyControl::~CVyControl() {
  Cleanup();
  // Nothing may keep naming a control that is gone.
  CBaseGUI::ForgetControl(this);
  if (CVyEdit::s_pControlCurrent == this) CVyEdit::s_pControlCurrent = nullptr;
}

void CVyControl::Destroy() { delete this; }

void CVyControl::Cleanup() {
  SetSelectedChild(nullptr);
  delete[] m_pwszName;
  m_pwszName = nullptr;
  if (m_pExMember1) {
    TExMember1* p = m_pExMember1;
    m_pExMember1 = nullptr;
    delete p->pEvent;
    delete p->pRun;
    delete p->pLongPress;
    delete p->pPress;
    delete[] p->pwszPressVibration;
    delete[] p->pwszRunVibration;
    delete[] p->pwszPressSound;
    delete[] p->pwszRunSound;
    delete p->pMoveTarget;
    delete p->pFocusInset;
    delete p->pPressMessage;
    delete p;
  }
  if (m_pExMember2) {
    delete m_pExMember2->pRunMessage;
    delete m_pExMember2->pLongPressMessage;
    delete m_pExMember2;
    m_pExMember2 = nullptr;
  }
  std::vector<CVyControl*> children;
  children.swap(m_vecChildren);
  for (CVyControl* pChild : children) delete pChild;
}

int32_t CVyControl::GetData() { return m_nData; }
const plat::WChar* CVyControl::GetName() { return m_pwszName; }
void CVyControl::GetRect(RECT* prc) { *prc = m_rc; }
void CVyControl::GetOffsetRect(RECT* prc) { *prc = m_rcOffset; }
void CVyControl::GetOffset(POINT* ppt) { *ppt = m_ptOffset; }

CVyControl* CVyControl::GetChildControl(int32_t nIndex) {
  const int32_t size = int32_t(m_vecChildren.size());
  CBR_RET(nIndex >= 0 && nIndex < size, nullptr);
  return m_vecChildren[size_t(nIndex)];
}

CVyControl* CVyControl::GetChildControlByReservedValue(int32_t nValue) {
  for (CVyControl* p : m_vecChildren)
    if (p && p->GetReservedValue() == nValue) return p;
  return nullptr;
}

int32_t CVyControl::GetChildCount() { return int32_t(m_vecChildren.size()); }
CVyControl* CVyControl::GetParent() { return m_pParent; }

CVyControl* CVyControl::GetRootParent() {
  CVyControl* p = this;
  while (p->GetParent()) p = p->GetParent();
  return p;
}

int32_t CVyControl::GetReservedValue() { return m_nReservedValue; }
int32_t CVyControl::GetTag() { return m_nTag; }
void CVyControl::SetData(int32_t nData) { m_nData = nData; }

HRESULT CVyControl::SetName(const plat::WChar* pwszName) {
  CPR(pwszName);
  ReplaceString(m_pwszName, pwszName);
  return S_OK;
}

void CVyControl::SetRect(int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom, int32_t bRecursive) {
  m_rc = m_rcOffset = m_rcPointCheck = RECT{nLeft, nTop, nRight, nBottom};
  if (!bRecursive) return;
  VY_WALK_CHILDREN([&](CVyControl* pControl, int32_t) {
    pControl->SetRect(nLeft, nTop, nRight, nBottom, bRecursive);
    return true;
  });
}

void CVyControl::SetOffset(int32_t x, int32_t y) {
  m_ptOffset = POINT{x, y};
  m_rcOffset = RECT{m_rc.left + x, m_rc.top + y, m_rc.right + x, m_rc.bottom + y};
  if (m_pExMember1 && m_pExMember1->pMoveTarget) StepMove();
  VY_WALK_CHILDREN([&](CVyControl* pControl, int32_t) {
    pControl->SetOffset(x, y);
    return true;
  });
}

void CVyControl::SetEnable(int32_t bEnable, int32_t bRecursive) {
  SetBit(VY_STATE_DISABLED, !bEnable);
  if (!bRecursive) return;
  VY_WALK_CHILDREN([&](CVyControl* pControl, int32_t) {
    pControl->SetEnable(bEnable, bRecursive);
    return true;
  });
}

void CVyControl::SetVisible(int32_t bVisible, int32_t bRecursive) {
  SetBit(VY_STATE_HIDDEN, !bVisible);
  if (!bRecursive) return;
  VY_WALK_CHILDREN([&](CVyControl* pControl, int32_t) {
    pControl->SetVisible(bVisible, bRecursive);
    return true;
  });
}

void CVyControl::SetFlagged(int32_t bFlag) { SetBit(VY_STATE_FLAGGED, bFlag != 0); }

void CVyControl::SetPressVibration(int32_t bFlag, const plat::WChar* pwszFile) {
  SetBit(VY_STATE_PRESS_VIBRATION, bFlag != 0);
  if (pwszFile) ReplaceString(EnsureExMember1()->pwszPressVibration, pwszFile);
}

void CVyControl::SetRunVibration(int32_t bFlag, const plat::WChar* pwszFile) {
  SetBit(VY_STATE_RUN_VIBRATION, bFlag != 0);
  if (pwszFile) ReplaceString(EnsureExMember1()->pwszRunVibration, pwszFile);
}

void CVyControl::SetPressSound(int32_t bFlag, const plat::WChar* pwszFile) {
  SetBit(VY_STATE_PRESS_SOUND, bFlag != 0);
  if (pwszFile) ReplaceString(EnsureExMember1()->pwszPressSound, pwszFile);
}

void CVyControl::SetRunSound(int32_t bFlag, const plat::WChar* pwszFile) {
  SetBit(VY_STATE_RUN_SOUND, bFlag != 0);
  if (pwszFile) ReplaceString(EnsureExMember1()->pwszRunSound, pwszFile);
}

POINT CVyControl::Centre() const {
  return POINT{m_rcOffset.left + (m_rcOffset.right - m_rcOffset.left) / 2,
               m_rcOffset.top + (m_rcOffset.bottom - m_rcOffset.top) / 2};
}

int32_t CVyControl::SetPress(int32_t bPress, int32_t bRecursive) {
  const POINT c = Centre();
  int32_t nResult = bPress ? PlayPressFeedback() : OnRelease(c.x, c.y, 0);
  if (!bRecursive) return nResult;
  VY_WALK_CHILDREN([&](CVyControl* pControl, int32_t) {
    nResult = pControl->SetPress(bPress, bRecursive);
    return true;
  });
  return nResult;
}

void CVyControl::SetRelease(int32_t bCancel, int32_t bRecursive) {
  const POINT c = Centre();
  OnRelease(c.x, c.y, bCancel);
  if (!bRecursive) return;
  VY_WALK_CHILDREN([&](CVyControl* pControl, int32_t) {
    pControl->SetRelease(bCancel, bRecursive);
    return true;
  });
}

void CVyControl::SetPointCheckRect(int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom, int32_t bRecursive) {
  m_rcPointCheck = RECT{nLeft, nTop, nRight, nBottom};
  if (!bRecursive) return;
  VY_WALK_CHILDREN([&](CVyControl* pControl, int32_t) {
    pControl->SetPointCheckRect(nLeft, nTop, nRight, nBottom, bRecursive);
    return true;
  });
}

void CVyControl::SetFocus(int32_t bFocus, int32_t bRecursive) {
  if (bFocus) {
    SetBit(VY_STATE_FOCUSED, true);
    return;
  }
  if (IsFocused() && IsPressed()) SetRelease(1, 1);
  SetBit(VY_STATE_FOCUSED, false);
  VY_WALK_CHILDREN([&](CVyControl* pControl, int32_t) {
    pControl->SetFocus(0, bRecursive);
    return true;
  });
}

void CVyControl::SetFocusOnPress(int32_t bFlag) { SetBit(VY_STATE_FOCUS_ON_PRESS, bFlag != 0); }
void CVyControl::SetMenuStyle(int32_t bFlag) { SetBit(VY_STATE_MENU_STYLE, bFlag != 0); }

HRESULT CVyControl::SetParent(CVyControl* pParent) {
  CPR(pParent);
  m_pParent = pParent;
  return S_OK;
}

void CVyControl::Select() {
  if (m_pParent) m_pParent->SetSelectedChild(this);
  SetBit(VY_STATE_SELECTED, true);
}

void CVyControl::SetHitPriority(int32_t nValue) { SetBit(VY_STATE_HIT_PRIORITY, nValue == 1); }
void CVyControl::SetReservedValue(int32_t nValue) { m_nReservedValue = nValue; }

void CVyControl::SetMoveTarget(int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom, int32_t nSpeed) {
  TExMember1* p = EnsureExMember1();
  delete p->pMoveTarget;
  p->pMoveTarget = new TMoveTarget{RECT{nLeft, nTop, nRight, nBottom}, nSpeed, CBaseGUI::GetCurrentFrame()};
}

void CVyControl::SetFocusFrameInset(int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom) {
  TExMember1* p = EnsureExMember1();
  if (!p->pFocusInset) p->pFocusInset = new RECT{};
  *p->pFocusInset = RECT{nLeft, nTop, nRight, nBottom};
}

void CVyControl::SetHotKey(uint32_t nKey) { EnsureExMember2()->nHotKey = nKey; }

void CVyControl::ClearHotKey() {
  if (m_pExMember2) m_pExMember2->nHotKey = 0;
}

void CVyControl::SetDeferRelease(int32_t bFlag) { SetBit(VY_STATE_DEFER_RELEASE, bFlag != 0); }
void CVyControl::SetTag(int32_t nTag) { m_nTag = nTag; }
void CVyControl::SetShowFocusFrame(int32_t bShow) { SetBit(VY_STATE_NO_FOCUS_FRAME, bShow == 0); }

void CVyControl::StepMove() {
  if (!m_pExMember1 || !m_pExMember1->pMoveTarget) return;
  TMoveTarget* t = m_pExMember1->pMoveTarget;
  if (m_rcOffset.left == t->rc.left && m_rcOffset.right == t->rc.right) {
    delete t;
    m_pExMember1->pMoveTarget = nullptr;
    return;
  }
  const uint32_t nFrame = CBaseGUI::GetCurrentFrame();
  const int64_t nStep = int64_t(nFrame - t->nLastFrame) * t->nSpeed;
  const int32_t dLeft = Toward(m_rcOffset.left, t->rc.left, nStep);
  const int32_t dRight = Toward(m_rcOffset.right, t->rc.right, nStep);
  t->nLastFrame = nFrame;
  MoveToTargetRect(dLeft, 0, dRight, 0, 1);
}

void CVyControl::MoveToTargetRect(int32_t dLeft, int32_t dTop, int32_t dRight, int32_t dBottom, int32_t bRecursive) {
  for (RECT* r : {&m_rc, &m_rcOffset, &m_rcPointCheck}) {
    r->left += dLeft, r->top += dTop, r->right += dRight, r->bottom += dBottom;
  }
  if (!bRecursive) return;
  VY_WALK_CHILDREN([&](CVyControl* pControl, int32_t) {
    pControl->MoveToTargetRect(dLeft, dTop, dRight, dBottom, bRecursive);
    return true;
  });
}

int32_t CVyControl::HitTest(int32_t x, int32_t y) {
  const RECT r{m_rcPointCheck.left + m_ptOffset.x, m_rcPointCheck.top + m_ptOffset.y,
               m_rcPointCheck.right + m_ptOffset.x, m_rcPointCheck.bottom + m_ptOffset.y};
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

int32_t CVyControl::IsVisible() { return (m_nState & VY_STATE_HIDDEN) == 0; }
int32_t CVyControl::IsEnabled() { return (m_nState & VY_STATE_DISABLED) == 0; }
int32_t CVyControl::IsPressed() { return (m_nState & VY_STATE_PRESSED) != 0; }
int32_t CVyControl::IsFocused() { return (m_nState & VY_STATE_FOCUSED) != 0; }
int32_t CVyControl::IsReleased() { return (m_nState & VY_STATE_PRESSED) == 0; }
int32_t CVyControl::IsFlagged() { return (m_nState & VY_STATE_FLAGGED) != 0; }
int32_t CVyControl::IsFocusOnPress() { return (m_nState & VY_STATE_FOCUS_ON_PRESS) != 0; }
int32_t CVyControl::IsSelected() { return (m_nState & VY_STATE_SELECTED) != 0; }
int32_t CVyControl::IsMenuStyle() { return (m_nState & VY_STATE_MENU_STYLE) != 0; }
int32_t CVyControl::IsDeferRelease() { return (m_nState & VY_STATE_DEFER_RELEASE) != 0; }

int32_t CVyControl::PlayPressFeedback() {
  if (m_nState & VY_STATE_PRESSED) return 0;
  if (m_nState & VY_STATE_PRESS_VIBRATION)
    PlayHapticEffect(FileOr(m_pExMember1 ? m_pExMember1->pwszPressVibration : nullptr, kPressVibration));
  if (m_nState & VY_STATE_PRESS_SOUND)
    PlayLumatapSound(FileOr(m_pExMember1 ? m_pExMember1->pwszPressSound : nullptr, kPressSound));
  SetBit(VY_STATE_PRESSED, true);
  auto* pPanel = dynamic_cast<CVyPanel*>(m_pParent);
  if (pPanel && IsFocusOnPress() && !IsFocused())
    if (CBaseGUI* pGui = CBaseGUI::GetCurrentGUI()) pGui->SetFocusControl(pPanel, this);
  return 1;
}

int32_t CVyControl::OnRelease(int32_t, int32_t, int32_t) {
  if (!(m_nState & VY_STATE_PRESSED)) return 0;
  SetBit(VY_STATE_PRESSED, false);
  return 1;
}

void CVyControl::SetFocusFlag() { SetBit(VY_STATE_FOCUSED, true); }

int32_t CVyControl::OnLButtonDown(int32_t x, int32_t y) {
  CVyEdit::KillFocus();
  if (!HitTest(x, y)) return 1;
  PlayPressFeedback();
  bool bTaken = false;
  if (!VY_WALK_CHILDREN([&](CVyControl* pControl, int32_t) {
        bTaken = (pControl->GetState() & VY_STATE_HIT_PRIORITY) && TakesPart(pControl) &&
                 pControl->OnLButtonDown(x, y) == 0;
        return !bTaken;
      }))
    return 1;
  if (bTaken) return 0;
  if (!VY_WALK_CHILDREN([&](CVyControl* pControl, int32_t) {
        if ((pControl->GetState() & VY_STATE_HIT_PRIORITY) || !TakesPart(pControl)) return true;
        pControl->OnLButtonDown(x, y);
        return !pControl->IsSelected();
      }))
    return 1;
  return 0;
}

int32_t CVyControl::OnLongPress(int32_t x, int32_t y, int32_t bRelease) {
  if (!HitTest(x, y)) return 1;
  if (bRelease) OnRelease(x, y, 1);
  int32_t nResult = 1;
  VY_WALK_CHILDREN([&](CVyControl* pControl, int32_t) {
    if (!TakesPart(pControl)) return true;
    if (pControl->OnLongPress(x, y, bRelease) == 0) nResult = 0;
    return !pControl->IsSelected();
  });
  return nResult;
}

int32_t CVyControl::OnLButtonUp(int32_t x, int32_t y, int32_t bCancel) {
  if (!bCancel && IsDeferRelease()) {
    SetBit(VY_STATE_RELEASE_PENDING, true);
    TExMember2* p = EnsureExMember2();
    p->nPendingX = x;
    p->nPendingY = y;
  } else {
    OnRelease(x, y, bCancel);
  }
  VY_WALK_CHILDREN([&](CVyControl* pControl, int32_t) {
    if (TakesPart(pControl)) pControl->OnLButtonUp(x, y, bCancel);
    return true;
  });
  return 0;
}

int32_t CVyControl::OnMouseMove(int32_t x, int32_t y) {
  VY_WALK_CHILDREN([&](CVyControl* pControl, int32_t) {
    if (TakesPart(pControl)) pControl->OnMouseMove(x, y);
    return true;
  });
  return 0;
}

int32_t CVyControl::OnKeyDown(uint32_t nKey, plat::LPARAM lParam) {
  int32_t nResult = 1;
  bool bTaken = false;
  VY_WALK_CHILDREN([&](CVyControl* pControl, int32_t) {
    if (!TakesPart(pControl)) return true;
    nResult = pControl->OnKeyDown(nKey, lParam);
    bTaken = nResult == 0;
    return !bTaken;
  });
  if (bTaken) return 0;
  if (m_pExMember2 && m_pExMember2->nHotKey != 0 && m_pExMember2->nHotKey == nKey) {
    SetPress(1, 1);
    return 0;
  }
  return nResult;
}

int32_t CVyControl::OnKeyUp(uint32_t nKey, plat::LPARAM lParam) {
  VY_WALK_CHILDREN([&](CVyControl* pControl, int32_t) {
    if (TakesPart(pControl)) pControl->OnKeyUp(nKey, lParam);
    return true;
  });
  if (m_pExMember2 && m_pExMember2->nHotKey != 0 && m_pExMember2->nHotKey == nKey) SetRelease(0, 1);
  return 0;
}

void CVyControl::Reserved() {}

int32_t CVyControl::Draw(plat::HDC hdc) {
  VY_WALK_CHILDREN([&](CVyControl* pControl, int32_t) {
    if (pControl->IsVisible()) pControl->Draw(hdc);
    return true;
  });
  EndDraw(hdc);
  return 0;
}

void CVyControl::EndDraw(plat::HDC hdc) {
  const bool bFrameHere = (m_nState & VY_STATE_NO_FOCUS_FRAME) == 0;
  const bool bFrameParent = !m_pParent || (m_pParent->GetState() & VY_STATE_NO_FOCUS_FRAME) == 0;
  if (IsFocused() && bFrameHere && bFrameParent) {
    RECT rc = m_rcOffset;
    if (m_pExMember1 && m_pExMember1->pFocusInset) {
      const RECT& in = *m_pExMember1->pFocusInset;
      rc = RECT{rc.left + in.left, rc.top + in.top, rc.right + in.right, rc.bottom + in.bottom};
    }
    GetFrameSkin()->Draw(hdc, rc);
  }
  if (m_nState & VY_STATE_RELEASE_PENDING) {
    SetBit(VY_STATE_RELEASE_PENDING, false);
    if (m_pExMember2)
      OnRelease(m_pExMember2->nPendingX, m_pExMember2->nPendingY, 0);
    else
      VY_LOG(u"Error CPR(%s):%s line %d\n", u"m_pExMember2", VY_SOURCE, __LINE__);
  }
  if (s_bDebugOutline && dynamic_cast<CVyPanel*>(m_pParent)) {
    const RECT& r = m_rcOffset;
    const RECT lines[4] = {{r.left, r.top, r.right, r.top + 1},
                           {r.left, r.top, r.left + 1, r.bottom},
                           {r.left, r.bottom - 1, r.right, r.bottom},
                           {r.right - 1, r.top, r.right, r.bottom}};
    for (const RECT& line : lines) CIImage::FillColor(hdc, &line, kOutlineColour);
    const plat::WString text =
        plat::FormatWCut(100, u"%p\n(%d)", static_cast<const void*>(this), m_pParent->GetChildIndex(this));
    CLabelUnit& label = DebugOverlayText();
    label.SetText(text.c_str());
    label.Draw(hdc, &m_rcOffset);
  }
}

HRESULT CVyControl::AddControl(CVyControl* pControl, int32_t nIndex) {
  CPR(pControl);
  // A child listed twice, here or by another parent, would be deleted twice.
  // A parent that is only set does not own it (a nested menu points at the
  // menu that opens it).
  CBR(FindChild(pControl) == m_vecChildren.size());
  CVyControl* pOwner = pControl->m_pParent;
  CBR(!pOwner || pOwner == this || pOwner->FindChild(pControl) == pOwner->m_vecChildren.size());
  pControl->SetParent(this);
  if (nIndex == -1) {
    m_vecChildren.push_back(pControl);
  } else {
    const size_t at = size_t(std::clamp<int64_t>(nIndex, 0, int64_t(m_vecChildren.size())));
    m_vecChildren.insert(m_vecChildren.begin() + ptrdiff_t(at), pControl);
  }
  return S_OK;
}

void CVyControl::BindEvent(const IVyFunctor* pFunctor, int32_t nValue) {
  TExMember1* p = EnsureExMember1();
  ReplaceFunctor(p->pEvent, pFunctor);
  p->nEventValue = nValue;
}

void CVyControl::BindRunEvent(const IVyFunctor* pFunctor, int32_t nValue) {
  TExMember1* p = EnsureExMember1();
  ReplaceFunctor(p->pRun, pFunctor);
  p->nRunValue = nValue;
}

void CVyControl::BindRunMessage(plat::HWND hWnd, uint32_t nMsg, plat::WPARAM wParam, plat::LPARAM lParam) {
  ReplaceMessage(EnsureExMember2()->pRunMessage, hWnd, nMsg, wParam, lParam);
}

HRESULT CVyControl::FireEvent(intptr_t a, intptr_t b) {
  if (!m_pExMember1 || !m_pExMember1->pEvent) return E_FAIL;
  m_pExMember1->pEvent->Invoke(a, b);
  return S_OK;
}

HRESULT CVyControl::FireRunEvent(intptr_t a, intptr_t b) {
  if (m_pExMember1 && m_pExMember1->pRun) m_pExMember1->pRun->Invoke(a, b);
  if (m_pExMember2 && m_pExMember2->pRunMessage) PostRecord(m_pExMember2->pRunMessage, m_pExMember2->pRunMessage->lParam);
  if (m_nState & VY_STATE_RUN_VIBRATION)
    PlayHapticEffect(FileOr(m_pExMember1 ? m_pExMember1->pwszRunVibration : nullptr, kRunVibration));
  if (m_nState & VY_STATE_RUN_SOUND)
    PlayLumatapSound(FileOr(m_pExMember1 ? m_pExMember1->pwszRunSound : nullptr, kRunSound));
  return S_OK;
}

void CVyControl::BindLongPressEvent(const IVyFunctor* pFunctor, int32_t nValue) {
  TExMember1* p = EnsureExMember1();
  ReplaceFunctor(p->pLongPress, pFunctor);
  p->nLongPressValue = nValue;
}

void CVyControl::BindLongPressMessage(plat::HWND hWnd, uint32_t nMsg, plat::WPARAM wParam, plat::LPARAM lParam) {
  ReplaceMessage(EnsureExMember2()->pLongPressMessage, hWnd, nMsg, wParam, lParam);
}

int32_t CVyControl::FireLongPressEvent(intptr_t a, const POINT* pPoint) {
  if (m_pExMember1 && m_pExMember1->pLongPress) {
    m_pExMember1->pLongPress->Invoke(a, reinterpret_cast<intptr_t>(pPoint));
    return 0;
  }
  if (m_pExMember2 && m_pExMember2->pLongPressMessage) {
    const TVyMessage* pMsg = m_pExMember2->pLongPressMessage;
    plat::LPARAM lParam = pMsg->lParam;
    if (lParam == 0 && pPoint)
      lParam = plat::LPARAM((uint32_t(pPoint->x) & 0xFFFF) | (uint32_t(pPoint->y) << 16));
    PostRecord(pMsg, lParam);
    return 0;
  }
  return 1;
}

void CVyControl::BindPressEvent(const IVyFunctor* pFunctor, int32_t nValue) {
  TExMember1* p = EnsureExMember1();
  ReplaceFunctor(p->pPress, pFunctor);
  p->nPressValue = nValue;
}

void CVyControl::BindPressMessage(plat::HWND hWnd, uint32_t nMsg, plat::WPARAM wParam, plat::LPARAM lParam) {
  ReplaceMessage(EnsureExMember1()->pPressMessage, hWnd, nMsg, wParam, lParam);
}

HRESULT CVyControl::FirePressEvent(intptr_t a, intptr_t b) {
  if (!m_pExMember1) return E_FAIL;
  if (m_pExMember1->pPress) m_pExMember1->pPress->Invoke(a, b);
  if (m_pExMember1->pPressMessage) PostRecord(m_pExMember1->pPressMessage, m_pExMember1->pPressMessage->lParam);
  return S_OK;
}

void CVyControl::MoveRect(int32_t dx, int32_t dy, int32_t bRecursive) {
  for (RECT* r : {&m_rc, &m_rcOffset, &m_rcPointCheck}) {
    r->left += dx, r->right += dx, r->top += dy, r->bottom += dy;
  }
  if (!bRecursive) return;
  VY_WALK_CHILDREN([&](CVyControl* pControl, int32_t) {
    pControl->MoveRect(dx, dy, bRecursive);
    return true;
  });
}

void CVyControl::ResizeRect(int32_t dLeft, int32_t dTop, int32_t dRight, int32_t dBottom, int32_t bRecursive) {
  MoveToTargetRect(dLeft, dTop, dRight, dBottom, bRecursive);
}

void CVyControl::SetSelectedChild(CVyControl* pChild) {
  m_pSelectedChild = pChild;
  SetBit(VY_STATE_SELECTED, false);
}

size_t CVyControl::FindChild(CVyControl* pChild) {
  return size_t(std::find(m_vecChildren.begin(), m_vecChildren.end(), pChild) - m_vecChildren.begin());
}

int32_t CVyControl::GetChildIndex(CVyControl* pChild) {
  const size_t at = FindChild(pChild);
  return at == m_vecChildren.size() ? -1 : int32_t(at);
}

void CVyControl::RemoveChildAt(size_t nPosition, int32_t bDelete) {
  if (nPosition >= m_vecChildren.size()) return;
  CVyControl* pChild = m_vecChildren[nPosition];
  m_vecChildren.erase(m_vecChildren.begin() + ptrdiff_t(nPosition));
  // The selection never names a control this one no longer lists.
  if (m_pSelectedChild == pChild) m_pSelectedChild = nullptr;
  pChild->m_pParent = nullptr;
  if (bDelete) delete pChild;
}

void CVyControl::RemoveFromParent() {
  if (!m_pParent) return;
  const size_t at = m_pParent->FindChild(this);
  if (at == size_t(m_pParent->GetChildCount())) return;
  m_pParent->RemoveChildAt(at, 0);
}

void CVyControl::NarrowTouchTarget() {}

int32_t CVyControl::CheckMousePointRevision(int32_t x, int32_t y) {
  NarrowTouchTarget();
  VY_WALK_CHILDREN([&](CVyControl* pControl, int32_t) {
    if (TakesPart(pControl)) pControl->CheckMousePointRevision(x, y);
    return true;
  });
  return 0;
}

void CVyControl::Dump(plat::WString*) {}

CVyControl::TExMember1* CVyControl::EnsureExMember1() {
  if (!m_pExMember1) m_pExMember1 = new TExMember1();
  return m_pExMember1;
}

CVyControl::TExMember2* CVyControl::EnsureExMember2() {
  if (!m_pExMember2) m_pExMember2 = new TExMember2();
  return m_pExMember2;
}

void CVyControl::SetDebugOutline(int32_t bOn) { s_bDebugOutline = bOn; }
int32_t CVyControl::GetDebugOutline() { return s_bDebugOutline; }

void BeginMousePoints(int32_t x, int32_t y) {
  s_mousePoints = TMousePoints{};
  s_mousePoints.points[0] = POINT{x, y};
  s_mousePoints.ticks[0] = plat::GetTickCount();
  s_mousePoints.rcTarget = RECT{0, 0, 480, 800};
  s_mousePoints.nCount = 0;
}

void CollectMousePoints(plat::HWND) {}

int32_t ReviseMousePoint(int32_t, int32_t, POINT*) { return 0; }

void DrawMousePoints(plat::HDC) {}
