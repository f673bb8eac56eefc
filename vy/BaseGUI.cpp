#include "vy/BaseGUI.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>

#include "platform/kernel/Kernel.h"
#include "platform/text/Text.h"
#include "vy/VyEdit.h"
#include "vy/VyPanel.h"
#include "vy/VyUtil.h"

namespace {

using plat::HDC;
using plat::HWND;

constexpr uint32_t kRenderPeriod = 35;
constexpr uint32_t kFastRenderPeriod = 11;
constexpr uint32_t kLongPressPeriod = 700;
constexpr uint32_t kEnterLongPressPeriod = 750;
constexpr uint32_t kMinFrameMs = 30;
constexpr uint32_t kFrameWrap = 999999999;
constexpr int32_t kLongPressSlop = 20;

// A still copy of the window in a memory DC.
struct TCapture {
  HDC hdc;
  plat::HBITMAP hBitmap;
  plat::HGDIOBJ hOld;
  RECT rc;
};

// Process-wide state: constant-initialised or made on first use and never
// destroyed, so a screen held by a static may go at exit in any order.
constinit std::vector<CBaseGUI*>* s_pVectorGui = nullptr;
constinit std::vector<CBaseGUI*>* s_pLiveScreens = nullptr;
constinit TCapture s_captured = {};
constinit POINT s_ptSnapshotOffset = {};
constinit int32_t s_nOpenType = 0;
constinit TCapture s_backA = {};
constinit TCapture s_backB = {};
constinit MemDCInfo s_fadeSnapshot = {};
constinit int32_t s_nFadeLevel = 255;
constinit uint32_t s_nInactivityPeriod = 10000;
constinit uint32_t s_nFpsLastTick = 0;

std::vector<CBaseGUI*>& VectorGui() {
  if (!s_pVectorGui) s_pVectorGui = new std::vector<CBaseGUI*>();
  return *s_pVectorGui;
}

std::vector<CBaseGUI*>& LiveScreens() {
  if (!s_pLiveScreens) s_pLiveScreens = new std::vector<CBaseGUI*>();
  return *s_pLiveScreens;
}

void Erase(std::vector<CBaseGUI*>& v, CBaseGUI* p) { v.erase(std::remove(v.begin(), v.end(), p), v.end()); }

void ReleaseCapture(TCapture& c) {
  if (!c.hdc) return;
  if (c.hOld) plat::SelectObject(c.hdc, c.hOld);
  plat::DeleteDC(c.hdc);
  if (c.hBitmap) plat::DeleteObject(c.hBitmap);
  c = TCapture{};
}

// Copies the window's client area into `c`, replacing what it held.
void Capture(HWND hWnd, TCapture& c) {
  ReleaseCapture(c);
  HDC hdc = plat::GetDC(hWnd);
  if (!hdc) return;
  RECT rc;
  plat::GetClientRect(hWnd, &rc);
  c.hdc = plat::CreateCompatibleDC(hdc);
  c.hBitmap = plat::CreateCompatibleBitmap(hdc, std::max(rc.Width(), 1), std::max(rc.Height(), 1));
  c.hOld = plat::SelectObject(c.hdc, c.hBitmap);
  plat::BitBlt(c.hdc, 0, 0, rc.Width(), rc.Height(), hdc, 0, 0, plat::SRCCOPY);
  c.rc = rc;
  plat::ReleaseDC(hWnd, hdc);
}

RECT ClientRect(HWND hWnd) {
  RECT rc;
  plat::GetClientRect(hWnd, &rc);
  return rc;
}

}  // namespace

CBaseGUI::CBaseGUI() {
  m_pRootPanel = new CVyPanel();
  s_ptSnapshotOffset = POINT{};
  LiveScreens().push_back(this);
}

CBaseGUI::~CBaseGUI() {
  // A screen that goes away is no longer current, and its timers stop.
  Erase(VectorGui(), this);
  KillScreenTimers();
  delete m_pFocus;
  m_pFocus = nullptr;
  CVyPanel* pRoot = m_pRootPanel;
  m_pRootPanel = nullptr;
  if (pRoot) pRoot->Destroy();
  if (m_pOwnedControl && !m_pOwnedControl->GetParent()) m_pOwnedControl->Destroy();
  m_pOwnedControl = nullptr;
  Erase(LiveScreens(), this);
}

void CBaseGUI::KillScreenTimers() {
  if (!m_hWnd) return;
  for (uintptr_t id : {TIMERID_RENDER, TIMERID_LONGPRESS, TIMERID_INACTIVITY, TIMERID_ENTER_LONGPRESS})
    plat::KillTimer(m_hWnd, id);
}

HRESULT CBaseGUI::Load(HWND hWnd) {
  VY_LOG(u"hWnd(%p), this(%p)\n", hWnd, this);
  m_hWnd = hWnd;
  const RECT rc = ClientRect(hWnd);
  m_pRootPanel->SetRect(rc.left, rc.top, rc.right, rc.bottom, 1);
  m_pRootPanel->SetWindow(hWnd);
  m_pRootPanel->SetOffset(0, 0);
  ResetMoveAnimation(m_pRootPanel->GetMoveAnimation());
  StartRender(1);
  m_bLoaded = 1;
  return S_OK;
}

HRESULT CBaseGUI::UnLoad() {
  VY_LOG(u"hWnd(%p), this(%p)\n", m_hWnd, this);
  if (m_pOwnedControl) {
    CVyControl* p = m_pOwnedControl;
    m_pOwnedControl = nullptr;
    p->RemoveFromParent();
    p->Destroy();
  }
  m_bLoaded = 0;
  // Unlike StopRender, a hold does not keep the timers past the unload.
  KillScreenTimers();
  m_bRendering = 0;
  m_nRenderHold = 0;
  return S_OK;
}

void CBaseGUI::RequestUnLoad() { m_bUnloadRequested = 1; }

HRESULT CBaseGUI::Open(int32_t nType) {
  VY_LOG(u"%p, nType(%d)\n", this, nType);
  if (IsOpen()) {
    VY_LOG(u"Close() GUI before Open()\n");
    Close(0);
  }
  VectorGui().push_back(this);
  SetKeyFocusVisible(0);
  const RECT rc = ClientRect(m_hWnd);
  TMoveAnimation* pAnim = m_pRootPanel->GetMoveAnimation();
  switch (nType) {
    case 1:
      CaptureCurrentDC();
      m_pRootPanel->SetOffset(-rc.right, 0);
      InitMoveAnimation(pAnim, -rc.right, 0, 1, 50);
      s_ptSnapshotOffset.x = 0;
      s_nOpenType = 1;
      break;
    case 2:
      CaptureCurrentDC();
      m_pRootPanel->SetOffset(rc.right, 0);
      InitMoveAnimation(pAnim, rc.right, rc.left, 1, 50);
      s_ptSnapshotOffset.x = rc.left;
      s_nOpenType = 2;
      break;
    case 3:
      m_pRootPanel->SetOffset(0, 0);
      InitMoveAnimation(pAnim, 0, 0, 1, 0);
      s_ptSnapshotOffset.x = 0;
      s_fadeSnapshot.Capture(m_hWnd, 0);
      s_nOpenType = 3;
      break;
    default:
      m_pRootPanel->SetOffset(0, 0);
      ResetMoveAnimation(pAnim);
      s_ptSnapshotOffset.x = 0;
      break;
  }
  m_bSliding = 0;
  m_nRenderHold = 0;
  StartRender(1);
  return S_OK;
}

HRESULT CBaseGUI::Close(int32_t bSliding) {
  VY_LOG(u"%p, sliding(%d)\n", this, bSliding);
  ClearFocusControl();
  if (bSliding) {
    const RECT rc = ClientRect(m_hWnd);
    POINT off;
    m_pRootPanel->GetOffset(&off);
    InitMoveAnimation(m_pRootPanel->GetMoveAnimation(), off.x, rc.right, 1, 50);
    m_bSliding = 1;
    m_nSlideTarget = rc.right;
    return S_OK;
  }
  std::vector<CBaseGUI*>& s_vectorGui = VectorGui();
  CBR(s_vectorGui.size() > 0);
  if (s_vectorGui.back() == this) {
    s_vectorGui.pop_back();
  } else {
    VY_LOG(u"GetCurrentGUI() != this\n");
    auto it = std::find(s_vectorGui.begin(), s_vectorGui.end(), this);
    if (it == s_vectorGui.end()) {
      VY_LOG(u"Can not find this GUI!\n");
      return E_FAIL;
    }
    s_vectorGui.erase(it);
  }
  m_bSliding = 0;
  if (m_hWnd) {
    plat::KillTimer(m_hWnd, TIMERID_LONGPRESS);
    plat::KillTimer(m_hWnd, TIMERID_ENTER_LONGPRESS);
  }
  if (GetCurrentGUI()) {
    StartRenderCurrentGUI(0);
  } else if (m_hWnd) {
    plat::KillTimer(m_hWnd, TIMERID_RENDER);
    plat::KillTimer(m_hWnd, TIMERID_INACTIVITY);
    m_bRendering = 0;
  }
  return S_OK;
}

void CBaseGUI::CaptureCurrentDC() {
  ReleaseCapturedDC();
  Capture(m_hWnd, s_captured);
  const RECT& rc = s_captured.rc;
  VY_LOG(u"%d,%d,%d,%d\n", rc.left, rc.top, rc.right, rc.bottom);
}

void CBaseGUI::CaptureBackDC() { Capture(m_hWnd, s_backA); }
void CBaseGUI::CaptureMenuDC() { Capture(m_hWnd, s_backB); }

void CBaseGUI::SetShowFPS(int32_t bShow, int32_t bWithMemory) {
  m_bShowFps = bShow;
  m_bShowFpsMemory = bWithMemory;
}

void CBaseGUI::StartRender(int32_t bStart) {
  m_nActivityStamp = plat::GetTickCount();
  if (!bStart || !m_hWnd) return;
  plat::KillTimer(m_hWnd, TIMERID_INACTIVITY);
  plat::SetTimer(m_hWnd, TIMERID_INACTIVITY, s_nInactivityPeriod);
  plat::KillTimer(m_hWnd, TIMERID_RENDER);
  plat::SetTimer(m_hWnd, TIMERID_RENDER, kRenderPeriod);
  m_bRendering = 1;
}

void CBaseGUI::StopRender() {
  if (m_nRenderHold & kHoldKeepRendering) return;
  if (m_hWnd) {
    plat::KillTimer(m_hWnd, TIMERID_RENDER);
    plat::KillTimer(m_hWnd, TIMERID_INACTIVITY);
  }
  m_bRendering = 0;
}

int32_t CBaseGUI::IsRendering() { return m_bRendering; }
HWND CBaseGUI::GetHWnd() { return m_hWnd; }
CVyPanel* CBaseGUI::GetRootPanel() { return m_pRootPanel; }
CVyControl* CBaseGUI::GetOwnedControl() { return m_pOwnedControl; }
void CBaseGUI::SetOwnedControl(CVyControl* pControl) { m_pOwnedControl = pControl; }

plat::LRESULT CBaseGUI::OnPaint(HWND hWnd, HDC hdc) {
  m_hWnd = hWnd;
  const uint32_t t0 = plat::GetTickCount();
  HDC hdcMem = CIImage::CreateMemDC(hWnd, hdc);
  if (!hdcMem) return 0;
  const RECT rc = ClientRect(hWnd);
  const int32_t w = rc.Width(), h = rc.Height();
  if (s_backB.hdc) {
    plat::BitBlt(hdcMem, rc.left, rc.top, w, h, s_backB.hdc, 0, 0, plat::SRCCOPY);
  } else if (s_backA.hdc) {
    plat::BitBlt(hdcMem, rc.left, rc.top, w, h, s_backA.hdc, 0, 0, plat::SRCCOPY);
  } else if (s_captured.hdc) {
    if (s_captured.rc.Width() != w) {
      ReleaseCapturedDC();
    } else {
      const POINT d = s_ptSnapshotOffset;
      plat::BitBlt(hdcMem, rc.left, rc.top, rc.right + d.x, rc.bottom + d.y, s_captured.hdc, -d.x, -d.y,
                   plat::SRCCOPY);
    }
  }
  OnPaintBefore(hWnd, hdcMem);
  if (m_pRootPanel) m_pRootPanel->Draw(hdcMem);
  CVyEdit::MovePanelForEdit(0);
  OnPaintAfter(hWnd, hdcMem);
  OnPaintLast(hWnd, hdcMem);
  DrawMousePoints(hdcMem);
  if (m_bShowFps) {
    const uint32_t now = plat::GetTickCount();
    if (s_nFpsLastTick == 0) s_nFpsLastTick = now;
    uint32_t elapsed = now - s_nFpsLastTick;
    if (elapsed == 0) elapsed = 1;
    const uint32_t fps = 1000 / elapsed;
    const plat::WString text = m_bShowFpsMemory ? plat::FormatW(u"%d,%d\n", fps, GetCurrentMemUsage())
                                                : plat::FormatW(u"%d\n", fps);
    plat::SetTextColor(hdcMem, 0);
    RECT rcText{rc.left, rc.top, rc.right, rc.top + 100};
    plat::DrawText(hdcMem, text, &rcText, plat::DT_RIGHT);
    s_nFpsLastTick = now;
  }
  if (s_fadeSnapshot.hdc && s_nOpenType == 3) {
    if (s_nFadeLevel > 0) s_nFadeLevel -= 50;
    // A snapshot that no longer matches the buffer is dropped, not blended.
    if (s_nFadeLevel <= 50 || CIImage::BlendBackBuffer(&s_fadeSnapshot, &rc, s_nFadeLevel) < 0) {
      s_fadeSnapshot.Release();
      s_nFadeLevel = 255;
    }
  }
  plat::BitBlt(hdc, rc.left, rc.top, rc.right, rc.bottom, hdcMem, 0, 0, plat::SRCCOPY);
  CIImage::DeleteMemDC(hdcMem);
  const uint32_t elapsed = plat::GetTickCount() - t0;
  if (elapsed < kMinFrameMs) plat::Sleep(kMinFrameMs - elapsed);
  if (m_bSliding) {
    POINT off{};
    if (m_pRootPanel) m_pRootPanel->GetOffset(&off);
    if (off.x == m_nSlideTarget) {
      Close(0);
      ReleaseCapturedDC();
    }
  }
  if (m_bUnloadRequested) {
    m_bUnloadRequested = 0;
    UnLoad();
  }
  return 0;
}

plat::LRESULT CBaseGUI::OnPaintBefore(HWND, HDC) { return 0; }
plat::LRESULT CBaseGUI::OnPaintAfter(HWND, HDC) { return 0; }
plat::LRESULT CBaseGUI::OnPaintLast(HWND, HDC) { return 0; }

plat::LRESULT CBaseGUI::OnKeyUp(plat::WPARAM wParam, plat::LPARAM lParam) {
  const uint32_t nKey = uint32_t(wParam);
  if (m_bShowFps && nKey == plat::VK_F4) CVyControl::SetDebugOutline(!CVyControl::GetDebugOutline());
  if (m_hWnd) plat::KillTimer(m_hWnd, TIMERID_ENTER_LONGPRESS);
  m_bEnterArmed = 1;
  StartRenderCurrentGUI(1);
  return m_pRootPanel->OnKeyUp(nKey, lParam);
}

plat::LRESULT CBaseGUI::OnKeyDown(plat::WPARAM wParam, plat::LPARAM lParam) {
  const uint32_t nKey = uint32_t(wParam);
  if (nKey == plat::VK_RETURN) {
    if (!m_bEnterArmed) return 0;
    if (m_hWnd) {
      plat::KillTimer(m_hWnd, TIMERID_ENTER_LONGPRESS);
      plat::SetTimer(m_hWnd, TIMERID_ENTER_LONGPRESS, kEnterLongPressPeriod);
    }
    m_bEnterArmed = 0;
  }
  StartRenderCurrentGUI(1);
  return m_pRootPanel->OnKeyDown(nKey, lParam);
}

plat::LRESULT CBaseGUI::OnLButtonUp(plat::WPARAM, plat::LPARAM lParam) {
  const int32_t x = plat::LOWORD(uintptr_t(lParam));
  int32_t y = plat::HIWORD(uintptr_t(lParam));
  if (y > plat::GetSystemMetrics(plat::SM_CYSCREEN)) y = 0;
  plat::ReleaseCapture();
  if (m_hWnd) plat::KillTimer(m_hWnd, TIMERID_LONGPRESS);
  StartRender(1);
  POINT revised;
  if (ReviseMousePoint(x, y, &revised)) return m_pRootPanel->OnLButtonUp(revised.x, revised.y, 0);
  return m_pRootPanel->OnLButtonUp(x, y, 0);
}

plat::LRESULT CBaseGUI::OnLButtonDown(plat::WPARAM, plat::LPARAM lParam) {
  const int32_t x = plat::LOWORD(uintptr_t(lParam)), y = plat::HIWORD(uintptr_t(lParam));
  plat::SetCapture(m_hWnd);
  m_ptPress = POINT{x, y};
  if (m_hWnd) {
    plat::KillTimer(m_hWnd, TIMERID_LONGPRESS);
    plat::SetTimer(m_hWnd, TIMERID_LONGPRESS, kLongPressPeriod);
  }
  SetKeyFocusVisible(0);
  StartRender(1);
  BeginMousePoints(x, y);
  return m_pRootPanel->OnLButtonDown(x, y);
}

plat::LRESULT CBaseGUI::OnMouseMove(plat::WPARAM, plat::LPARAM lParam) {
  const int32_t x = plat::LOWORD(uintptr_t(lParam));
  int32_t y = plat::HIWORD(uintptr_t(lParam));
  if (m_hWnd && (std::abs(x - m_ptPress.x) > kLongPressSlop || std::abs(y - m_ptPress.y) > kLongPressSlop))
    plat::KillTimer(m_hWnd, TIMERID_LONGPRESS);
  if (y > plat::GetSystemMetrics(plat::SM_CYSCREEN)) y = 0;
  if (m_hWnd) {
    plat::KillTimer(m_hWnd, TIMERID_INACTIVITY);
    plat::SetTimer(m_hWnd, TIMERID_INACTIVITY, s_nInactivityPeriod);
  }
  CollectMousePoints(m_hWnd);
  return m_pRootPanel->OnMouseMove(x, y);
}

plat::LRESULT CBaseGUI::OnTimer(plat::WPARAM wParam, plat::LPARAM) {
  switch (wParam) {
    case TIMERID_RENDER:
      m_nFrame = m_nFrame >= kFrameWrap ? 0 : m_nFrame + 1;
      plat::InvalidateRect(m_hWnd, nullptr, false);
      if (m_nRenderHold == kHoldStopAtTick) StopRender();
      return 0;
    case TIMERID_LONGPRESS:
      plat::KillTimer(m_hWnd, TIMERID_LONGPRESS);
      return m_pRootPanel->OnLongPress(m_ptPress.x, m_ptPress.y, 0);
    case TIMERID_INACTIVITY: {
      const uint32_t now = plat::GetTickCount();
      if (int32_t(now - m_nActivityStamp) >= int32_t(s_nInactivityPeriod)) {
        VY_LOG(u"TIMERID_INACTIVITY (%d,%d)\n", m_nActivityStamp, now);
        StopRender();
      }
      return 0;
    }
    case TIMERID_ENTER_LONGPRESS:
      plat::KillTimer(m_hWnd, TIMERID_ENTER_LONGPRESS);
      return m_pRootPanel->OnKeyLongPress();
    default:
      return 0;
  }
}

plat::LRESULT CBaseGUI::OnSize(plat::WPARAM, plat::LPARAM lParam) {
  const RECT rc = ClientRect(m_hWnd);
  m_pRootPanel->SetRect(rc.left, rc.top, rc.right, rc.bottom, 1);
  m_pRootPanel->SetContentSize(rc.right, rc.bottom);
  CVyEdit::OnScreenResize(plat::LOWORD(uintptr_t(lParam)), plat::HIWORD(uintptr_t(lParam)));
  StartRender(1);
  return 0;
}

plat::LRESULT CBaseGUI::OnCommand(plat::WPARAM, plat::LPARAM) {
  StartRender(1);
  return 0;
}

int32_t CBaseGUI::IsLoaded() { return m_bLoaded; }

int32_t CBaseGUI::IsOpen() {
  const std::vector<CBaseGUI*>& stack = VectorGui();
  return std::find(stack.begin(), stack.end(), this) != stack.end();
}

void CBaseGUI::Invalidate(const RECT* prc, int32_t bErase) { plat::InvalidateRect(m_hWnd, prc, bErase != 0); }

void CBaseGUI::ClearFocusControl() {
  if (!m_pFocus) return;
  TFocusRecord* p = m_pFocus;
  m_pFocus = nullptr;
  if (p->pControl) {
    p->pControl->SetFocus(0, 1);
    p->pControl->ClearHotKey();
  }
  if (p->pPanel) p->pPanel->SetFocusIndex(-1);
  delete p;
}

void CBaseGUI::SetFocusControl(CVyPanel* pPanel, CVyControl* pControl) {
  if (!m_pFocus) m_pFocus = new TFocusRecord{nullptr, nullptr};
  CVyControl* pOld = m_pFocus->pControl;
  if (pOld && pOld != pControl) {
    if (dynamic_cast<CVyEdit*>(pOld)) CVyEdit::KillFocus();
    pOld->SetFocus(0, 1);
    pOld->ClearHotKey();
  }
  CVyPanel* pOldPanel = m_pFocus->pPanel;
  if (pOldPanel && pOldPanel != pPanel)
    pOldPanel->SetFocusIndex(pPanel && pPanel->GetParent() == pOldPanel ? pOldPanel->IndexOfChild(pPanel) : -1);
  if (pPanel) {
    if (auto* pParent = dynamic_cast<CVyPanel*>(pPanel->GetParent()))
      pParent->SetFocusIndex(pParent->IndexOfChild(pPanel));
    pPanel->SetFocusIndex(pPanel->IndexOfChild(pControl));
  }
  m_pFocus->pPanel = pPanel;
  m_pFocus->pControl = pControl;
}

CVyControl* CBaseGUI::GetFocusControl() { return m_pFocus ? m_pFocus->pControl : nullptr; }
CVyPanel* CBaseGUI::GetFocusPanel() { return m_pFocus ? m_pFocus->pPanel : nullptr; }

void CBaseGUI::SetKeyFocusVisible(int32_t bVisible) {
  m_bKeyFocusVisible = bVisible;
  CVyControl* p = GetFocusControl();
  if (!p) return;
  if (bVisible) {
    p->SetFocus(1, 1);
    p->SetHotKey(plat::VK_RETURN);
  } else {
    p->SetFocus(0, 1);
    p->ClearHotKey();
  }
}

int32_t CBaseGUI::IsKeyFocusVisible() { return m_bKeyFocusVisible; }
void CBaseGUI::SetKeepColumn(int32_t bKeep) { m_bKeepColumn = bKeep; }
int32_t CBaseGUI::GetKeepColumn() { return m_bKeepColumn; }

void CBaseGUI::SetRenderHold(uint32_t nBits) {
  m_nRenderHold |= nBits;
  if ((m_nRenderHold & kHoldKeepRendering) && !m_bRendering) StartRender(1);
}

void CBaseGUI::ClearRenderHold(uint32_t nBits) { m_nRenderHold &= ~nBits; }
uint32_t CBaseGUI::GetRenderHold() { return m_nRenderHold; }

CBaseGUI* CBaseGUI::GetCurrentGUI() {
  const std::vector<CBaseGUI*>& stack = VectorGui();
  return stack.empty() ? nullptr : stack.back();
}

int32_t CBaseGUI::StartRenderCurrentGUI(int32_t bFast) {
  CBaseGUI* pGui = GetCurrentGUI();
  CBR_RET(pGui != NULL, 0);
  if (!bFast) {
    pGui->StartRender(1);
    return 1;
  }
  if (!pGui->m_bRendering && pGui->m_hWnd) {
    VY_LOG(u"\n");
    plat::KillTimer(pGui->m_hWnd, TIMERID_INACTIVITY);
    plat::SetTimer(pGui->m_hWnd, TIMERID_INACTIVITY, s_nInactivityPeriod);
    plat::KillTimer(pGui->m_hWnd, TIMERID_RENDER);
    plat::SetTimer(pGui->m_hWnd, TIMERID_RENDER, kFastRenderPeriod);
    pGui->m_bRendering = 1;
  }
  pGui->m_nActivityStamp = plat::GetTickCount();
  return 1;
}

void CBaseGUI::ResumeRenderCurrentGUI() { StartRenderCurrentGUI(0); }

void CBaseGUI::ReleaseCapturedDC() {
  if (!s_captured.hdc) return;
  VY_LOG(u"\n");
  ReleaseCapture(s_captured);
}

void CBaseGUI::ReleaseMenuDC() { ReleaseCapture(s_backB); }

void CBaseGUI::ReleaseGlobalDCs() {
  ReleaseCapturedDC();
  ReleaseCapture(s_backA);
  ReleaseCapture(s_backB);
  CIImage::ReserveDestroy();
}

int32_t CBaseGUI::GetOpenType() { return s_nOpenType; }

uint32_t CBaseGUI::GetCurrentFrame() {
  CBaseGUI* p = GetCurrentGUI();
  return p ? p->m_nFrame : 0;
}

POINT CBaseGUI::GetSnapshotOffset() { return s_ptSnapshotOffset; }
void CBaseGUI::SetSnapshotOffsetX(int32_t x) { s_ptSnapshotOffset.x = x; }
const std::vector<CBaseGUI*>& CBaseGUI::Stack() { return VectorGui(); }

void CBaseGUI::ForgetControl(CVyControl* pControl) {
  if (!s_pLiveScreens) return;
  for (CBaseGUI* p : *s_pLiveScreens) {
    if (p->m_pFocus) {
      if (p->m_pFocus->pControl == pControl) p->m_pFocus->pControl = nullptr;
      if (static_cast<CVyControl*>(p->m_pFocus->pPanel) == pControl) p->m_pFocus->pPanel = nullptr;
    }
    if (p->m_pOwnedControl == pControl) p->m_pOwnedControl = nullptr;
  }
}

const MemDCInfo& CBaseGUI::FadeSnapshot() { return s_fadeSnapshot; }
int32_t CBaseGUI::FadeLevel() { return s_nFadeLevel; }

void CBaseGUI::ResetStaticsForTests() {
  ReleaseCapture(s_captured);
  ReleaseCapture(s_backA);
  ReleaseCapture(s_backB);
  s_fadeSnapshot.Release();
  s_nFadeLevel = 255;
  s_nOpenType = 0;
  s_ptSnapshotOffset = POINT{};
  s_nFpsLastTick = 0;
  VectorGui().clear();
}
