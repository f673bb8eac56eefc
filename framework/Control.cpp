#include "framework/Control.h"

#include <cstdlib>

#include "framework/AppUi.h"
#include "framework/Feedback.h"
#include "platform/base/Format.h"
#include "platform/gdi/Gdi.h"
#include "platform/ui/MenuBar.h"

namespace {

constexpr char16_t kControlClass[] = u"QUORELCTL";
constexpr char16_t kThisProp[] = u"THIS";
constexpr char16_t kUnit[] = u"Control";

bool s_bClassRegistered = false;
plat::HBITMAP s_hOffscreen = nullptr;

bool QueueReady() {
  CEventQueue* pQueue = CEventQueue::Current();
  return pQueue && pQueue->IsInitialised();
}

bool IsEmptyRect(const RECT& rc) { return rc.right <= rc.left || rc.bottom <= rc.top; }

RECT Offset(const RECT& rc, int32_t dx, int32_t dy) {
  return RECT{rc.left + dx, rc.top + dy, rc.right + dx, rc.bottom + dy};
}

bool InMenuMode() {
  CAppUi* pApp = CAppUi::Instance();
  return pApp && pApp->IsMenuMode();
}

}  // namespace

CControl* CControl::s_pCapture = nullptr;

// ---------------------------------------------------------------------------
// Messages embedded in or aimed at controls.

void CPaintMessage::Dispatch() { m_pOwner->FlushPaint(); }

CInputMessage* CInputMessage::New(CControl* pTarget, const TInputEvent& event) {
  return new CInputMessage(pTarget, event);
}

CInputMessage::CInputMessage(CControl* pTarget, const TInputEvent& event)
    : m_pTarget(pTarget), m_event(event), m_destroyDelegate(CDelegate::Member<&CInputMessage::OnTargetDestroyed>(this)) {
  pTarget->DestroyListeners().Add(&m_destroyDelegate);
}

CInputMessage::~CInputMessage() = default;  // the delegate unlinks itself

void CInputMessage::OnTargetDestroyed() {
  m_pTarget = nullptr;
  m_destroyDelegate.Detach();
  // Deletes this message when it is queued; otherwise it is running and
  // finds no target.
  if (IsQueued()) Cancel();
}

void CInputMessage::Dispatch() {
  if (m_pTarget) m_pTarget->OfferUp(m_event);
}

// ---------------------------------------------------------------------------
// Life cycle.

CControl::CControl() = default;

CControl::~CControl() {
  CAppUi* pApp = CAppUi::Instance();
  // Messages still reaching the windows of this subtree find it closing.
  SetClosingTree();
  m_destroyListeners.Invoke();
  if (m_pParent && m_bVisible) m_pParent->Invalidate(m_rc);
  if (m_paintMessage.IsQueued()) m_paintMessage.Cancel();
  while (m_pLastChild) delete m_pLastChild;
  if (pApp && pApp != this) pApp->OnControlDestroyed(this);
  if (m_pParent) {
    CControl* pParent = m_pParent;
    if (m_pPrev) m_pPrev->m_pNext = m_pNext; else pParent->m_pFirstChild = m_pNext;
    if (m_pNext) m_pNext->m_pPrev = m_pPrev; else pParent->m_pLastChild = m_pPrev;
    m_pParent = nullptr;
    m_pPrev = m_pNext = nullptr;
    if (!pParent->m_bClosing) pParent->OnChildRemoved(this);
  }
  if (s_pCapture == this) {
    s_pCapture = nullptr;
    plat::ReleaseCapture();
  }
  if (m_pLayoutNode) {
    m_pLayoutNode->SetObserver(nullptr);
    m_pLayoutNode = nullptr;
  }
  if (m_hWnd) {
    plat::RemoveProp(m_hWnd, kThisProp);
    plat::HWND hWnd = m_hWnd;
    m_hWnd = nullptr;
    plat::DestroyWindow(hWnd);
  }
  if (pApp && pApp != this && !pApp->IsClosing()) pApp->RecomputeLayers();
  m_dragDelegate.Detach();
  m_destroyListeners.Clear();
}

void CControl::RegisterWindowClass(plat::ModuleHandle hInstance) {
  if (s_bClassRegistered) QUOREL_PANIC(kUnit, 37);
  plat::WndClass cls;
  cls.proc = &CControl::ControlWndProc;
  cls.instance = hInstance;
  cls.background = static_cast<plat::HBRUSH>(plat::GetStockObject(plat::WHITE_BRUSH));
  cls.name = kControlClass;
  if (!plat::RegisterClass(cls)) Env::ThrowError(Env::ErrSystem);
  s_bClassRegistered = true;
}

void CControl::UnregisterWindowClass(plat::ModuleHandle hInstance) {
  if (!s_bClassRegistered) return;
  plat::UnregisterClass(kControlClass, hInstance);
  s_bClassRegistered = false;
}

void CControl::Create(CControl* pParent, plat::WStringView className, plat::WStringView title) {
  if (m_pParent || m_hWnd) QUOREL_PANIC(kUnit, 142);
  if (className.empty()) className = kControlClass;
  CAppUi* pApp = CAppUi::Instance();
  if (!pParent) {
    plat::HWND hWnd = plat::CreateWindowEx(0, className, title, plat::WS_VISIBLE, plat::CW_USEDEFAULT,
                                           plat::CW_USEDEFAULT, plat::CW_USEDEFAULT, plat::CW_USEDEFAULT, nullptr,
                                           0, pApp ? pApp->m_hInstance : nullptr, nullptr);
    if (!hWnd) Env::ThrowError(Env::ErrSystem);
    if (!plat::SetProp(hWnd, kThisProp, this)) {
      plat::DestroyWindow(hWnd);
      Env::ThrowError(Env::ErrSystem);
    }
    m_hWnd = hWnd;
    plat::GetWindowRect(hWnd, &m_rc);
    return;
  }
  if (!pParent->m_hWnd) Env::ThrowError(Env::ErrBadArgument);
  if (pParent->m_bClosing) QUOREL_PANIC(kUnit, 822);
  // While the options menu covers the screen new windows stay hidden; they
  // show when it closes.
  uint32_t style = plat::WS_CHILD | (InMenuMode() ? 0 : plat::WS_VISIBLE);
  plat::HWND hWnd = plat::CreateWindowEx(0, className, title, style, 0, 0, 0, 0, pParent->m_hWnd,
                                         pParent->m_nNextChildId++, nullptr, nullptr);
  if (!hWnd) Env::ThrowError(Env::ErrSystem);
  if (!plat::SetProp(hWnd, kThisProp, this)) {
    plat::DestroyWindow(hWnd);
    Env::ThrowError(Env::ErrSystem);
  }
  m_hWnd = hWnd;
  LinkToParent(pParent);
  bool bParentIsMain = pApp && pParent == pApp;
  m_pFrame = bParentIsMain ? pParent : pParent->m_pFrame;
  if (pParent->m_bInsideAppFrame) {
    m_bInsideAppFrame = true;
    m_bPaintedByParent = true;
  }
  if (bParentIsMain) {
    m_bInsideAppFrame = true;
    m_bPaintedByParent = false;
  }
  m_nLayer = pParent->m_nLayer;
  pParent->OnChildAdded(this);
  if (m_nEnable == EnableOn && pParent->m_nEnable != EnableOn) m_nEnable = EnableOffByAncestor;
  // Later siblings lie above earlier ones, within the layer order.
  if (bParentIsMain) pApp->RecomputeLayers();
}

void CControl::LinkToParent(CControl* pParent) {
  m_pParent = pParent;
  m_pPrev = pParent->m_pLastChild;
  m_pNext = nullptr;
  if (m_pPrev) m_pPrev->m_pNext = this; else pParent->m_pFirstChild = this;
  pParent->m_pLastChild = this;
}

void CControl::SetClosingTree() {
  m_bClosing = true;
  for (CControl* p = m_pFirstChild; p; p = p->m_pNext) p->SetClosingTree();
}

// ---------------------------------------------------------------------------
// Default handlers.

bool CControl::OnInput(const TInputEvent&) { return false; }

bool CControl::OnDrag(int32_t nDelta) {
  if (m_nDragSteps == 0 && !m_bDragStarted) {
    PlayFeedback(2);
    m_bDragStarted = true;
  }
  if (m_dragDelegate.IsSet()) m_dragDelegate.Call(reinterpret_cast<void*>(static_cast<intptr_t>(nDelta)));
  m_nDragSteps += std::abs(nDelta) > 20 ? 4 : 1;
  return true;
}

void CControl::EndDrag() {
  m_nDragSteps = 0;
  if (m_bDragStarted) {
    PlayFeedback(3);
    m_bDragStarted = false;
  }
}

void CControl::SetDragHandler(const CDelegate& d, bool bDescendants) {
  m_dragDelegate = d;
  if (!bDescendants) return;
  for (CControl* p = m_pFirstChild; p; p = p->m_pNext) p->SetDragHandler(d, true);
}

void CControl::Paint(CGraphics&, const POINT&, const RECT&) {}
void CControl::OnRectChanged(const RECT&, const RECT&) {}
void CControl::OnShown(bool) {}
void CControl::OnFocusChanged(bool, CControl*, CControl*) {}
void CControl::OnEnableChanged(bool, bool) {}
void CControl::OnLayoutNodeChanged(CLayoutNode*) {}
void CControl::OnChildAdded(CControl*) {}
void CControl::OnChildRemoved(CControl*) {}
void CControl::OnDisplayChanged(const RECT&) {}
void CControl::ReloadImages() {}

// ---------------------------------------------------------------------------
// Geometry.

std::unique_ptr<CWindowGraphics> CControl::CreateGraphics() const {
  if (!m_hWnd) Env::ThrowError(Env::ErrSystem);
  return std::make_unique<CWindowGraphics>(m_hWnd);
}

RECT CControl::ScreenRect() const {
  RECT rc = m_rc;
  for (const CControl* p = m_pParent; p; p = p->m_pParent) rc = Offset(rc, p->m_rc.left, p->m_rc.top);
  return rc;
}

POINT CControl::ClientOrigin() const {
  POINT pt{0, 0};
  for (const CControl* p = this; p && p->m_pParent; p = p->m_pParent) {
    pt.x += p->m_rc.left;
    pt.y += p->m_rc.top;
  }
  return pt;
}

bool CControl::IsPartlyVisible() const {
  RECT rc = ScreenRect();
  for (const CControl* p = m_pParent; p; p = p->m_pParent) rc = RectIntersect(rc, p->ScreenRect());
  return !IsEmptyRect(rc);
}

void CControl::MoveTo(const RECT& rc, bool bRepaint) {
  if (!m_hWnd) {
    RECT old = m_rc;
    m_rc = rc;
    OnRectChanged(m_rc, old);
    return;
  }
  m_bSizeChanging = SizeDiffers(rc, m_rc);
  bool bMoved = plat::MoveWindow(m_hWnd, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, bRepaint);
  m_bSizeChanging = false;
  if (!bMoved) Env::ThrowError(Env::ErrSystem);
}

bool CControl::IsAncestorOf(const CControl* pOther) const {
  for (const CControl* p = pOther ? pOther->m_pParent : nullptr; p; p = p->m_pParent)
    if (p == this) return true;
  return false;
}

void CControl::BringToFront() {
  CControl* pParent = m_pParent;
  if (!pParent || pParent->m_pLastChild == this) return;
  if (m_pPrev) m_pPrev->m_pNext = m_pNext; else pParent->m_pFirstChild = m_pNext;
  if (m_pNext) m_pNext->m_pPrev = m_pPrev; else pParent->m_pLastChild = m_pPrev;
  LinkToParent(pParent);
  // Hit order follows paint order: restack the window as well.
  CAppUi* pApp = CAppUi::Instance();
  if (pApp && pParent == pApp)
    pApp->RecomputeLayers();
  else if (m_hWnd)
    plat::SetWindowPos(m_hWnd, plat::HWND_TOP, 0, 0, 0, 0, plat::SWP_NOMOVE | plat::SWP_NOSIZE | plat::SWP_NOACTIVATE);
  Invalidate();
}

// ---------------------------------------------------------------------------
// Painting.

void CControl::Invalidate(const RECT& rcIn) {
  if (!m_bVisible || m_bClosing) return;
  if (m_bPaintedByParent && m_pParent) {
    RECT rc = IsEmptyRect(rcIn) ? LocalRect() : RectIntersect(rcIn, LocalRect());
    if (IsEmptyRect(rc)) return;
    m_pParent->Invalidate(Offset(rc, m_rc.left, m_rc.top));
    return;
  }
  RECT rc = IsEmptyRect(rcIn) ? LocalRect() : RectIntersect(rcIn, LocalRect());
  if (IsEmptyRect(rc)) return;
  if (IsEmptyRect(m_rcDirty))
    m_rcDirty = rc;
  else
    RectUnion(&m_rcDirty, rc);
  // Behind the input already queued, so a burst of invalidations paints once.
  if (QueueReady()) {
    if (m_paintMessage.IsQueued()) m_paintMessage.Cancel();
    if (!InMenuMode()) m_paintMessage.Post();
  }
  for (CControl* p = m_pFirstChild; p; p = p->m_pNext) {
    if (p->m_bPaintedByParent || !p->m_bVisible) continue;
    RECT part = RectIntersect(m_rcDirty, p->m_rc);
    if (!IsEmptyRect(part)) p->Invalidate(Offset(part, -p->m_rc.left, -p->m_rc.top));
  }
}

void CControl::RepostDirtyPaints() {
  if (!m_bVisible || InMenuMode()) return;
  if (!m_bPaintedByParent && !IsEmptyRect(m_rcDirty) && QueueReady() && !m_paintMessage.IsQueued())
    m_paintMessage.Post();
  for (CControl* p = m_pFirstChild; p; p = p->m_pNext) p->RepostDirtyPaints();
}

plat::HBITMAP CControl::OffscreenBitmap() {
  if (s_hOffscreen) return s_hOffscreen;
  CAppUi* pApp = CAppUi::Instance();
  RECT rc = pApp ? pApp->Rect() : RECT{};
  int32_t w = rc.right - rc.left, h = rc.bottom - rc.top;
  if (w < 1 || h < 1) Env::ThrowError(Env::ErrSystem);
  plat::BitmapInfo info;
  info.header.size = sizeof(plat::BitmapInfoHeader);
  info.header.width = w;
  info.header.height = h;  // bottom-up
  info.header.planes = 1;
  info.header.bitCount = 16;
  info.header.compression = plat::BI_BITFIELDS;
  info.masks[0] = 0xF800;
  info.masks[1] = 0x07E0;
  info.masks[2] = 0x001F;
  void* pBits = nullptr;
  s_hOffscreen = plat::CreateDIBSection(nullptr, info, plat::DIB_RGB_COLORS, &pBits);
  if (!s_hOffscreen) Env::ThrowError(Env::ErrSystem);
  return s_hOffscreen;
}

void CControl::ReleaseOffscreenBitmap() {
  if (s_hOffscreen) plat::DeleteObject(s_hOffscreen);
  s_hOffscreen = nullptr;
}

void CControl::FlushPaint() {
  if (!m_bVisible || m_bPaintedByParent || m_bClosing) return;
  // The off-screen bitmap is the options menu's background meanwhile: keep
  // the dirty area for when the menu has gone.
  if (InMenuMode()) return;
  for (const CControl* p = this; p; p = p->m_pParent)
    if (!p->m_bVisible) return;
  RECT dirty = m_rcDirty;
  m_rcDirty = RECT{};
  if (IsEmptyRect(dirty)) return;
  RECT rcScreen = Offset(dirty, ScreenRect().left, ScreenRect().top);
  for (const CControl* p = this; p; p = p->m_pParent) rcScreen = RectIntersect(rcScreen, p->ScreenRect());
  if (IsEmptyRect(rcScreen)) return;
  CAppUi* pApp = CAppUi::Instance();
  RECT rcMain = pApp ? pApp->ScreenRect() : ScreenRect();
  RECT rcClient = Offset(rcScreen, -rcMain.left, -rcMain.top);

  plat::HDC hScreen = plat::GetDC(nullptr);
  {
    CMemoryGraphics g(OffscreenBitmap(), hScreen);
    g.PushClip(rcClient);
    PaintTree(g, ClientOrigin(), rcClient, true, true);
    g.PopClip();

    plat::IntersectClipRect(hScreen, rcScreen.left, rcScreen.top, rcScreen.right, rcScreen.bottom);
    if (pApp) {
      for (CControl* p = pApp->m_pFirstChild; p; p = p->m_pNext) {
        if (p == this || !p->m_bVisible || p->m_nLayer <= m_nLayer) continue;
        RECT r = p->ScreenRect();
        plat::ExcludeClipRect(hScreen, r.left, r.top, r.right, r.bottom);
      }
      for (plat::HWND hTop : plat::VisibleTopLevelWindowsAbove(pApp->Window())) {
        RECT r;
        if (plat::GetWindowRect(hTop, &r)) plat::ExcludeClipRect(hScreen, r.left, r.top, r.right, r.bottom);
      }
    }
    plat::BitBlt(hScreen, rcScreen.left, rcScreen.top, rcScreen.right - rcScreen.left,
                 rcScreen.bottom - rcScreen.top, g.Dc(), rcClient.left, rcClient.top, plat::SRCCOPY);
    plat::SelectClipRgn(hScreen, nullptr);
  }
  plat::ReleaseDC(nullptr, hScreen);
}

void CControl::PaintTree(CGraphics& g, const POINT& origin, const RECT& clip, bool bChildren, bool bOnlyByParent) {
  if (IsEmptyRect(clip) || m_bPainting) return;
  m_bPainting = true;
  struct TGuard {
    bool& b;
    ~TGuard() { b = false; }
  } guard{m_bPainting};
  Paint(g, origin, clip);
  if (!bChildren) return;
  for (CControl* p = m_pFirstChild; p; p = p->m_pNext) {
    if (!p->m_bVisible || p->m_bPainting) continue;
    if (bOnlyByParent && !p->m_bPaintedByParent) continue;
    RECT rcChild = Offset(p->m_rc, origin.x, origin.y);
    RECT c = RectIntersect(clip, rcChild);
    if (IsEmptyRect(c)) continue;
    g.PushClip(c);
    p->PaintTree(g, POINT{rcChild.left, rcChild.top}, c, true, bOnlyByParent);
    g.PopClip();
  }
}

void CControl::PaintParentBackground(CGraphics& g, const POINT& origin, const RECT& clip) {
  if (!m_pParent) QUOREL_PANIC(kUnit, 762);
  if (m_bPaintedByParent) return;
  POINT parentOrigin{origin.x - m_rc.left, origin.y - m_rc.top};
  RECT c = RectIntersect(clip, Offset(LocalRect(), origin.x, origin.y));
  if (IsEmptyRect(c)) return;
  g.PushClip(c);
  m_pParent->PaintTree(g, parentOrigin, c, true, true);
  g.PopClip();
}

// ---------------------------------------------------------------------------
// Messages.

bool CControl::BlockedByLayer() const {
  CAppUi* pApp = CAppUi::Instance();
  if (!pApp || this == pApp || m_bInputThrough) return false;
  return m_nLayer < pApp->TopShownLayer();
}

plat::LRESULT CControl::OnMessage(uint32_t nMsg, plat::WPARAM wParam, plat::LPARAM lParam) {
  if (m_bClosing) return 0;
  CAppUi* pApp = CAppUi::Instance();
  bool bKeyOrPointer = nMsg == plat::WM_KEYDOWN || nMsg == plat::WM_KEYUP || nMsg == plat::WM_LBUTTONDOWN ||
                       nMsg == plat::WM_LBUTTONUP || nMsg == plat::WM_MOUSEMOVE;
  if (bKeyOrPointer && pApp && pApp != this && pApp->IsMenuMode()) {
    if (nMsg == plat::WM_KEYDOWN || nMsg == plat::WM_KEYUP) return pApp->OnMessage(nMsg, wParam, lParam);
    POINT o = ClientOrigin();
    int32_t x = static_cast<int16_t>(plat::LOWORD(lParam)) + o.x;
    int32_t y = static_cast<int16_t>(plat::HIWORD(lParam)) + o.y;
    return pApp->OnMessage(nMsg, wParam, plat::MAKELPARAM(static_cast<uint32_t>(x), static_cast<uint32_t>(y)));
  }
  switch (nMsg) {
    case plat::WM_KEYDOWN:
    case plat::WM_KEYUP: {
      if ((wParam == plat::VK_F1 || wParam == plat::VK_F2) && plat::FindMenuBar(m_hWnd))
        return plat::DefWindowProc(m_hWnd, nMsg, wParam, lParam);
      TInputEvent ev{static_cast<uint8_t>(nMsg == plat::WM_KEYDOWN ? 1 : 0), static_cast<uint32_t>(wParam), 0, 0};
      if (!BlockedByLayer() && OnInput(ev)) return 0;
      if (m_pParent && m_pParent->m_hWnd) return m_pParent->OnMessage(nMsg, wParam, lParam);
      return plat::DefWindowProc(m_hWnd, nMsg, wParam, lParam);
    }
    case plat::WM_LBUTTONDOWN: {
      int32_t x = static_cast<int16_t>(plat::LOWORD(lParam));
      int32_t y = static_cast<int16_t>(plat::HIWORD(lParam));
      if (!s_pCapture || !s_pCapture->IsAncestorOf(this)) {
        s_pCapture = this;
        plat::SetCapture(m_hWnd);
      }
      RECT rs = ScreenRect();
      m_ptLast = POINT{x, y};
      m_ptLastScreen = POINT{x + rs.left, y + rs.top};
      if (s_pCapture != this) {
        // An ancestor bubbling on: keep its positions in step.
        s_pCapture->m_ptLastScreen = m_ptLastScreen;
      }
      TInputEvent ev{1, KeyPointer, x, y};
      if (!BlockedByLayer() && OnInput(ev)) return 0;
      if (m_pParent && m_pParent->m_hWnd) {
        s_pCapture = m_pParent;
        plat::SetCapture(m_pParent->m_hWnd);
        return m_pParent->OnMessage(nMsg, wParam,
                                    plat::MAKELPARAM(static_cast<uint32_t>(x + m_rc.left),
                                                     static_cast<uint32_t>(y + m_rc.top)));
      }
      return 0;
    }
    case plat::WM_MOUSEMOVE: {
      CControl* pHolder = s_pCapture;
      if (!pHolder || !(wParam & plat::MK_LBUTTON)) return plat::DefWindowProc(m_hWnd, nMsg, wParam, lParam);
      int32_t x = static_cast<int16_t>(plat::LOWORD(lParam));
      int32_t y = static_cast<int16_t>(plat::HIWORD(lParam));
      RECT mine = ScreenRect(), theirs = pHolder->ScreenRect();
      int32_t sx = x + mine.left, sy = y + mine.top;
      POINT pt{sx - theirs.left, sy - theirs.top};
      if (pt.x == pHolder->m_ptLast.x && pt.y == pHolder->m_ptLast.y)
        return plat::DefWindowProc(m_hWnd, nMsg, wParam, lParam);
      int32_t nDelta = pHolder->m_ptLastScreen.y - sy;
      pHolder->m_ptLast = pt;
      pHolder->m_ptLastScreen = POINT{sx, sy};
      if (pHolder->BlockedByLayer()) return 0;
      if (!pHolder->OnDrag(nDelta)) pHolder->OnInput(TInputEvent{1, KeyPointer, pt.x, pt.y});
      return 0;
    }
    case plat::WM_LBUTTONUP: {
      CControl* pHolder = s_pCapture;
      if (!pHolder) return plat::DefWindowProc(m_hWnd, nMsg, wParam, lParam);
      int32_t x = static_cast<int16_t>(plat::LOWORD(lParam));
      int32_t y = static_cast<int16_t>(plat::HIWORD(lParam));
      RECT mine = ScreenRect(), theirs = pHolder->ScreenRect();
      POINT pt{x + mine.left - theirs.left, y + mine.top - theirs.top};
      s_pCapture = nullptr;
      plat::ReleaseCapture();
      // The gesture ends here for every holder, not only for those that end
      // their drag themselves (a page scrolled by its text or its link), so
      // the next drag starts with its feedback and a tap counts as a tap.
      // The release may delete the holder (a click that switches views).
      bool bGone = false;
      CDelegate gone(&bGone, nullptr, [](CDelegate*, void* pGone, void*) { *static_cast<bool*>(pGone) = true; });
      pHolder->m_destroyListeners.Add(&gone);
      if (!pHolder->BlockedByLayer()) pHolder->OnInput(TInputEvent{0, KeyPointer, pt.x, pt.y});
      if (!bGone) pHolder->EndDrag();
      return 0;
    }
    case plat::WM_WINDOWPOSCHANGED: {
      auto* pPos = reinterpret_cast<const plat::WindowPos*>(lParam);
      if (pPos && (pPos->flags & (plat::SWP_NOSIZE | plat::SWP_NOMOVE)) != (plat::SWP_NOSIZE | plat::SWP_NOMOVE)) {
        RECT old = m_rc;
        m_rc = RECT{pPos->x, pPos->y, pPos->x + pPos->cx, pPos->y + pPos->cy};
        // The window moves without the platform's redraw, and the layers
        // below left out what this one covered when they last flushed: what
        // it no longer covers must be painted again, as when it hides or goes.
        if (m_pParent && m_bVisible && !m_bPaintedByParent && !IsEmptyRect(old) &&
            !RectEquals(RectIntersect(old, m_rc), old))
          m_pParent->Invalidate(old);
        OnRectChanged(m_rc, old);
      }
      m_bSizeChanging = false;
      return 0;
    }
    case plat::WM_PAINT: {
      if (InMenuMode()) {
        // Validate so the loop cannot spin on it; the area stays dirty and is
        // painted when the menu closes.
        RECT rc;
        if (plat::GetUpdateRect(m_hWnd, &rc, false)) {
          plat::ValidateRect(m_hWnd, nullptr);
          if (m_bPaintedByParent && m_pParent) {
            m_pParent->m_rcDirty = IsEmptyRect(m_pParent->m_rcDirty)
                                       ? Offset(rc, m_rc.left, m_rc.top)
                                       : RectUnion(m_pParent->m_rcDirty, Offset(rc, m_rc.left, m_rc.top));
          } else if (!IsEmptyRect(rc)) {
            m_rcDirty = IsEmptyRect(m_rcDirty) ? rc : RectUnion(m_rcDirty, rc);
          }
        }
        return 0;
      }
      if (m_bPaintedByParent && m_pParent) {
        RECT rc;
        bool bAny = plat::GetUpdateRect(m_hWnd, &rc, false);
        plat::ValidateRect(m_hWnd, nullptr);
        if (bAny) m_pParent->Invalidate(Offset(rc, m_rc.left, m_rc.top));
        return 0;
      }
      plat::PaintInfo ps;
      plat::BeginPaint(m_hWnd, &ps);
      plat::EndPaint(m_hWnd, &ps);
      if (!IsEmptyRect(ps.rcPaint)) Invalidate(ps.rcPaint);
      plat::ValidateRect(m_hWnd, nullptr);
      return 0;
    }
    case plat::WM_DESTROY:
      plat::RemoveProp(m_hWnd, kThisProp);
      return 0;
    case plat::WM_MOVE:
    case plat::WM_SIZE:
    case plat::WM_ERASEBKGND:
      return 1;
    default:
      return plat::DefWindowProc(m_hWnd, nMsg, wParam, lParam);
  }
}

plat::LRESULT CControl::ControlWndProc(plat::HWND hWnd, uint32_t nMsg, plat::WPARAM wParam, plat::LPARAM lParam) {
  CControl* pControl = static_cast<CControl*>(plat::GetProp(hWnd, kThisProp));
  CAppUi* pApp = CAppUi::Instance();
  if (!pControl && pApp && pApp->m_hWnd == hWnd) pControl = pApp;
  if (!pControl) return plat::DefWindowProc(hWnd, nMsg, wParam, lParam);
  try {
    return pControl->OnMessage(nMsg, wParam, lParam);
  } catch (const Env::TSysErrorCode&) {
    return plat::DefWindowProc(hWnd, nMsg, wParam, lParam);
  } catch (const TPanic& panic) {
    plat::WString text = plat::FormatW(u"%s, %d: ", plat::WString(panic.source ? panic.source : u""), panic.line);
    if (panic.text) text += panic.text;
    plat::MessageBox(nullptr, text, u"Runtime Panic", plat::MB_ICONHAND);
    plat::PostQuitMessage(1);
    return 0;
  } catch (...) {
    plat::MessageBox(nullptr, u"Unhandled exception", u"Error", plat::MB_ICONHAND);
    plat::PostQuitMessage(1);
    return plat::DefWindowProc(hWnd, nMsg, wParam, lParam);
  }
}

// ---------------------------------------------------------------------------
// Visibility and enabling.

bool CControl::IsShown() const {
  for (const CControl* p = this; p; p = p->m_pParent)
    if (!p->m_bVisible) return false;
  return true;
}

void CControl::SetVisible(bool bVisible) {
  if (!m_pParent || bVisible == m_bVisible) return;
  CAppUi* pApp = CAppUi::Instance();
  if (!bVisible && (m_bFocused || (pApp && pApp->m_pFocused && IsAncestorOf(pApp->m_pFocused)))) MoveFocusAway();
  m_bVisible = bVisible;
  // After the flag, so the parent's repaint does not dirty this control.
  if (!bVisible) m_pParent->Invalidate(m_rc);
  // While the menu is up the main window's children stay hidden (they are
  // shown again when it closes); deeper windows follow their control at once
  // so that a control hidden meanwhile cannot take input afterwards.
  if (m_hWnd) {
    if (!bVisible)
      plat::ShowWindow(m_hWnd, plat::SW_HIDE);
    else if (!InMenuMode() || m_pParent != pApp)
      plat::ShowWindow(m_hWnd, plat::SW_SHOWNA);
  }
  if (bVisible) Invalidate();
  if (pApp) pApp->RecomputeLayers();
  OnShown(bVisible);
}

void CControl::ApplyEnable(uint8_t nNew) {
  bool bWasOn = m_nEnable == EnableOn;
  m_nEnable = nNew;
  for (CControl* p = m_pFirstChild; p; p = p->m_pNext) {
    if (nNew != EnableOn && p->m_nEnable == EnableOn)
      p->ApplyEnable(EnableOffByAncestor);
    else if (nNew == EnableOn && p->m_nEnable == EnableOffByAncestor)
      p->ApplyEnable(EnableOn);
  }
  if (bWasOn != (m_nEnable == EnableOn)) {
    if (!IsEnabled() && m_bFocused) MoveFocusAway();
    OnEnableChanged(IsEnabled(), bWasOn);
  }
}

void CControl::SetEnabled(bool bEnabled) {
  uint8_t nNew = bEnabled ? EnableOn : EnableOff;
  if (bEnabled && m_pParent && m_pParent->m_nEnable != EnableOn) nNew = EnableOffByAncestor;
  if (nNew == m_nEnable) return;
  ApplyEnable(nNew);
}

// ---------------------------------------------------------------------------
// Focus.

bool CControl::IsFocusable(int32_t nLayer) const {
  CAppUi* pApp = CAppUi::Instance();
  if (!IsShown() || !IsEnabled() || m_bClosing) return false;
  if (pApp && this == pApp) return true;
  if (m_nLayer != nLayer) return false;
  return !(pApp && m_nLayer < pApp->TopShownLayer());
}

CControl* CControl::NextInTree(const CControl* pStop) const {
  if (m_pFirstChild) return m_pFirstChild;
  for (const CControl* p = this; p && p != pStop; p = p->m_pParent)
    if (p->m_pNext) return p->m_pNext;
  return nullptr;
}

CControl* CControl::FindFirstFocusable(int32_t nLayer) {
  if (!m_bVisible) return nullptr;
  CAppUi* pApp = CAppUi::Instance();
  if (this != pApp && IsFocusable(nLayer)) return this;
  for (CControl* p = m_pFirstChild; p; p = p->m_pNext)
    if (CControl* f = p->FindFirstFocusable(nLayer)) return f;
  return nullptr;
}

CControl* CControl::FindLastFocusable(int32_t nLayer) {
  if (!m_bVisible) return nullptr;
  for (CControl* p = m_pLastChild; p; p = p->m_pPrev)
    if (CControl* f = p->FindLastFocusable(nLayer)) return f;
  CAppUi* pApp = CAppUi::Instance();
  if (this != pApp && IsFocusable(nLayer)) return this;
  return nullptr;
}

CControl* CControl::FindNextFocusable(int32_t nLayer) {
  // Children first (this control's own subtree lies after it in tree order).
  for (CControl* p = m_pFirstChild; p; p = p->m_pNext)
    if (CControl* f = p->FindFirstFocusable(nLayer)) return f;
  for (CControl* pAt = this; pAt; pAt = pAt->m_pParent)
    for (CControl* p = pAt->m_pNext; p; p = p->m_pNext)
      if (CControl* f = p->FindFirstFocusable(nLayer)) return f;
  return nullptr;
}

CControl* CControl::FindPreviousFocusable(int32_t nLayer) {
  CAppUi* pApp = CAppUi::Instance();
  for (CControl* pAt = this; pAt; pAt = pAt->m_pParent) {
    for (CControl* p = pAt->m_pPrev; p; p = p->m_pPrev)
      if (CControl* f = p->FindLastFocusable(nLayer)) return f;
    CControl* pParent = pAt->m_pParent;
    if (pParent && pParent != pApp && pParent->IsFocusable(nLayer)) return pParent;
  }
  return nullptr;
}

void CControl::SetNeighbours(CControl* pLeft, CControl* pUp, CControl* pRight, CControl* pDown) {
  m_pNeighbours[0] = pLeft;
  m_pNeighbours[1] = pUp;
  m_pNeighbours[2] = pRight;
  m_pNeighbours[3] = pDown;
}

bool CControl::FocusTo(CControl* pTarget) {
  if (!pTarget) return false;
  pTarget->SetFocus();
  return true;
}

bool CControl::FocusPrevious() {
  CAppUi* pApp = CAppUi::Instance();
  return pApp && FocusTo(FindPreviousFocusable(pApp->TopShownLayer()));
}

bool CControl::FocusNext() {
  CAppUi* pApp = CAppUi::Instance();
  return pApp && FocusTo(FindNextFocusable(pApp->TopShownLayer()));
}

CControl* CControl::Neighbour(int nDirection) const {
  if (nDirection < 0 || nDirection > 3) return nullptr;
  // Bounded walk: links may form a cycle of hidden controls.
  const CControl* p = this;
  for (int i = 0; i < 64; ++i) {
    p = p->m_pNeighbours[nDirection];
    if (!p || p == this) return nullptr;
    if (p->IsShown() && p->IsEnabled()) return const_cast<CControl*>(p);
  }
  return nullptr;
}

void CControl::SetFocus() {
  CAppUi* pApp = CAppUi::Instance();
  if (!pApp || !IsEnabled() || m_bClosing) return;
  if (this != pApp && m_nLayer < pApp->TopShownLayer()) {
    pApp->RememberFocus(m_nLayer, this);
    return;
  }
  CControl* pOld = pApp->m_pFocused;
  if (pOld == this) {
    if (m_hWnd) plat::SetFocus(m_hWnd);
    return;
  }
  // The first ancestor (or self) the two chains share.
  CControl* pShared = nullptr;
  for (CControl* a = this; a && !pShared; a = a->m_pParent)
    for (CControl* b = pOld; b; b = b->m_pParent)
      if (a == b) {
        pShared = a;
        break;
      }
  for (CControl* p = pOld; p && p != pShared; p = p->m_pParent) {
    p->m_bFocused = false;
    p->OnFocusChanged(false, pOld, this);
  }
  if (m_hWnd) plat::SetFocus(m_hWnd);
  pApp->m_pFocused = this;
  if (this != pApp) pApp->RememberFocus(m_nLayer, this);
  // Down from below the shared ancestor to the new control.
  CControl* chain[64];
  int n = 0;
  for (CControl* p = this; p && p != pShared && n < 64; p = p->m_pParent) chain[n++] = p;
  while (n > 0) {
    CControl* p = chain[--n];
    p->m_bFocused = true;
    p->OnFocusChanged(true, pOld, this);
  }
}

void CControl::MoveFocusAway() {
  CAppUi* pApp = CAppUi::Instance();
  if (!pApp) return;
  int32_t nLayer = pApp->TopShownLayer();
  CControl* pTarget = nullptr;
  // Candidates outside the subtree that is going away.
  for (CControl* p = FindNextFocusable(nLayer); p; p = p->FindNextFocusable(nLayer))
    if (p != this && !IsAncestorOf(p)) {
      pTarget = p;
      break;
    }
  if (!pTarget)
    for (CControl* p = FindPreviousFocusable(nLayer); p; p = p->FindPreviousFocusable(nLayer))
      if (p != this && !IsAncestorOf(p) && !p->IsAncestorOf(this)) {
        pTarget = p;
        break;
      }
  if (!pTarget) pTarget = pApp;
  pTarget->SetFocus();
  if (pApp->m_pFocused == this || IsAncestorOf(pApp->m_pFocused)) pApp->SetFocus();
}

// ---------------------------------------------------------------------------
// Input.

void CControl::PostInput(const TInputEvent& event) {
  CInputMessage* pMessage = CInputMessage::New(this, event);
  pMessage->Post();
}

bool CControl::OfferUp(const TInputEvent& event) {
  for (CControl* p = this; p; p = p->m_pParent)
    if (!p->m_bClosing && p->OnInput(event)) return true;
  return false;
}

// ---------------------------------------------------------------------------
// Layout binding.

void CControl::SetLayoutNode(CLayoutNode* pNode) {
  if (m_pLayoutNode && m_pLayoutNode->GetObserver() == this) m_pLayoutNode->SetObserver(nullptr);
  m_pLayoutNode = pNode;
  if (pNode) {
    // A node has one observer: the one it replaces must forget the node, or
    // it would hold it after the tree goes.
    if (CLayoutObserver* pOld = pNode->GetObserver(); pOld && pOld != this) pOld->OnLayoutNodeDeleted(pNode);
    pNode->SetObserver(this);
  }
  OnLayoutNodeChanged(pNode);
}

void CControl::OnLayoutChanged(CLayoutNode* pNode) {
  if (pNode != m_pLayoutNode || !pNode || !pNode->IsLaidOut()) return;
  RECT rc = pNode->GetRect(CLayoutNode::SpaceWindow);
  if (m_pParent) {
    RECT parent = m_pParent->ScreenRect();
    rc = Offset(rc, -parent.left, -parent.top);
  }
  bool bChanged = !RectEquals(rc, m_rc);
  if (bChanged) MoveTo(rc);
  if (m_pParent && !pNode->IsVisibilityFree() && pNode->IsVisible() != m_bVisible) {
    SetVisible(pNode->IsVisible());
    bChanged = true;
  }
  if (bChanged) Invalidate();
}

void CControl::OnLayoutNodeDeleted(CLayoutNode* pNode) {
  if (pNode == m_pLayoutNode) m_pLayoutNode = nullptr;
}

void CControl::LayoutInto(CLayoutNode* pRoot) {
  if (!pRoot) return;
  pRoot->PinToRect(ScreenRect());
  pRoot->Update(RECT{0, 0, plat::GetSystemMetrics(plat::SM_CXSCREEN), plat::GetSystemMetrics(plat::SM_CYSCREEN)});
}

// ---------------------------------------------------------------------------
// Panel.

CtlPanel::CtlPanel() { SetEnableStateRaw(EnableOn); }

CtlPainter::~CtlPainter() {
  if (m_pPanel && m_pPanel->m_pPainter == this) m_pPanel->m_pPainter = nullptr;
  m_pPanel = nullptr;
}

CtlPanel::~CtlPanel() {
  SetClosingTree();
  DetachPainter();
}

void CtlPanel::DetachPainter() {
  if (m_pPainter) m_pPainter->m_pPanel = nullptr;
  m_pPainter = nullptr;
}

void CtlPanel::SetPainter(CtlPainter* pPainter) {
  DetachPainter();
  if (pPainter && pPainter->m_pPanel) pPainter->m_pPanel->DetachPainter();
  m_nMode = EPanelPainter;
  m_pPainter = pPainter;
  if (pPainter) {
    pPainter->m_pPanel = this;
    RECT rc = LocalRect();
    if (rc.right > 0 && rc.bottom > 0) pPainter->Resize(rc, RECT{});
  }
  Invalidate();
}

void CtlPanel::OnRectChanged(const RECT& rcNew, const RECT& rcOld) {
  if (m_nMode == EPanelPainter && m_pPainter && !RectEquals(rcNew, rcOld)) m_pPainter->Resize(rcNew, rcOld);
}

void CtlPanel::SetColors(TColor border, TColor fill) {
  DetachPainter();
  m_nMode = EPanelColors;
  m_border = border;
  m_fill = fill;
  Invalidate();
}

void CtlPanel::SetTransparent() {
  DetachPainter();
  m_nMode = EPanelParent;
  Invalidate();
}

void CtlPanel::SetNoBackground() {
  DetachPainter();
  m_nMode = EPanelNone;
  Invalidate();
}

void CtlPanel::Paint(CGraphics& g, const POINT& origin, const RECT& clip) {
  switch (m_nMode) {
    case EPanelColors: {
      RECT rc = Offset(LocalRect(), origin.x, origin.y);
      g.SetFillColor(m_fill, EColorSolid);
      g.SetLineColor(m_border, EColorSolid);
      g.DrawRectangle(rc);
      break;
    }
    case EPanelParent:
      if (Parent()) PaintParentBackground(g, origin, clip);
      break;
    case EPanelPainter:
      if (m_pPainter) m_pPainter->Paint(g, Offset(LocalRect(), origin.x, origin.y), clip);
      break;
    default:
      break;
  }
}

bool CtlPanel::OnInput(const TInputEvent& event) {
  if (!m_bArrowKeys || !event.bPressed) return false;
  CAppUi* pApp = CAppUi::Instance();
  if (!pApp) return false;
  CControl* pFocused = pApp->FocusedControl();
  if (!pFocused || !IsAncestorOf(pFocused)) return false;
  int32_t nLayer = pApp->TopShownLayer();
  if (event.nKey == plat::VK_UP) {
    CControl* p = pFocused->FindPreviousFocusable(nLayer);
    if (p && IsAncestorOf(p)) {
      p->SetFocus();
      return true;
    }
    return false;
  }
  if (event.nKey == plat::VK_DOWN) {
    CControl* p = pFocused->FindNextFocusable(nLayer);
    if (p && IsAncestorOf(p)) {
      p->SetFocus();
      return true;
    }
    return false;
  }
  return false;
}

bool CtlPanel::HasChildEnabledBySelf() const {
  for (CControl* p = FirstChild(); p; p = p->NextSibling())
    if (p->EnableState() != EnableOff) return true;
  return false;
}

void CtlPanel::OnChildAdded(CControl* pChild) {
  if (HasChildEnabledBySelf()) SetEnabled(true);
  if (Parent()) Parent()->OnChildAdded(pChild);
}

void CtlPanel::OnChildRemoved(CControl* pChild) {
  if (!HasChildEnabledBySelf()) SetEnabled(false);
  if (Parent() && !Parent()->IsClosing()) Parent()->OnChildRemoved(pChild);
}

// ---------------------------------------------------------------------------
// Views.

void DeferredDeleteMessage::Dispatch() {
  CView* pTarget = m_pTarget;
  m_pTarget = nullptr;
  delete pTarget;  // this message dies with it
}

CView::CView() = default;

CView::~CView() {
  if (m_deleteMessage.IsQueued()) m_deleteMessage.Cancel();
}

void CView::ApplyLayout(CLayoutNode*) {}
void CView::OnViewActivated(CLayoutNode*) {}
void CView::OnLeave(TViewRecord*, TViewRecord*) {}

void CView::ScheduleDelete() {
  if (!m_deleteMessage.IsQueued()) m_deleteMessage.Post();
}

CView* CViewFactory::Create(CControl* pParent, CLayoutNode* pNode) {
  if (!pParent || !pNode) QUOREL_PANIC(u"View", 120);
  std::unique_ptr<CView> pView(CreateView());
  if (!pView) Env::ThrowError(Env::ErrSystem);
  pView->Create(pParent);
  BindLayoutAndApply(pView.get(), pNode);
  m_pView = pView.release();
  return m_pView;
}

void BindLayoutAndApply(CView* pView, CLayoutNode* pNode) {
  pView->SetLayoutNode(pNode);
  pView->ApplyLayout(pNode);
}
