#include "framework/AppUi.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "framework/Feedback.h"
#include "framework/Resources.h"
#include "framework/Theme.h"
#include "framework/Trace.h"
#include "framework/VyServices.h"
#include "framework/WidgetLayouts.h"
#include "layouts/Layouts.h"
#include "platform/base/Errors.h"
#include "platform/gdi/Gdi.h"
#include "platform/registry/Registry.h"
#include "platform/ui/MenuBar.h"

namespace {

constexpr char16_t kUnit[] = u"AppUi";
constexpr uintptr_t kTickTimer = 1;
constexpr uint32_t kTickMs = 100;
constexpr uint16_t kMenuBarResource = 102;
constexpr uint16_t kAccelerators = 2;
constexpr uint16_t kTitleString = 1;
constexpr uint16_t kClassString = 2;
constexpr size_t kMaxNameUnits = 100;

plat::WString LoadName(plat::ModuleHandle hInstance, uint16_t nId) {
  std::optional<plat::WStringView> text = plat::LoadStringRef(hInstance, nId);
  if (!text || text->empty()) Env::ThrowError(Env::ErrSystem);
  return plat::WString(text->substr(0, kMaxNameUnits));
}

// The counter-angle the layouts are told and the rotation variant index.
int32_t CounterAngle(int32_t nAngle) {
  switch (nAngle) {
    case 90: return 270;
    case 180: return 180;
    case 270: return 90;
    default: return 0;
  }
}
uint32_t RotationIndex(int32_t nAngle) {
  switch (nAngle) {
    case 90: return 3;
    case 180: return 2;
    case 270: return 1;
    default: return 0;
  }
}

// The shell's activation record: the one both its activation and its
// setting-change handlers are given.
plat::ActivateInfo s_shellActivateInfo;

template <class F>
void ForEachControl(CControl* pRoot, const F& f) {
  f(pRoot);
  for (CControl* p = pRoot->FirstChild(); p; p = p->NextSibling()) ForEachControl(p, f);
}

}  // namespace

CAppUi* CAppUi::s_pInstance = nullptr;
bool CAppUi::s_bSquareScreen = false;

int RunApplication(const std::function<std::unique_ptr<CAppUi>()>& create) {
  DebugTrace(u"[QUOREL] Starting Quorel %u.%u.%u.\n", 1u, 6u, 57u);
  try {
    std::unique_ptr<CAppUi> pApp = create();
    if (!pApp) return 1;
    return pApp->Run();
  } catch (const Env::TSysErrorCode& e) {
    return e.code == Env::ErrAlreadyExists ? 0 : 1;
  } catch (const TPanic&) {
    return 1;
  }
}

void CFocusLayoutMessage::Dispatch() {
  // The shutdown drains run it too; there is no focus or layout to restore.
  if (!m_pApp->m_pQueue || !m_pApp->m_pQueue->IsLoopAlive()) {
    m_bRestoreFocus = m_bRelayout = false;
    return;
  }
  bool bRestore = m_bRestoreFocus, bRelayout = m_bRelayout;
  m_bRestoreFocus = m_bRelayout = false;
  if (bRestore) m_pApp->RestoreFocus();
  if (bRelayout) m_pApp->LayoutToWindow();
}

CAppUi::CAppUi() {
  SetEnableStateRaw(EnableOn);
  InstallWidgetLayouts(TWidgetLayouts{&BuildButtonLayout, &BuildScrollPanelLayout, &BuildSoftKeyBarLayout});
}

CAppUi::~CAppUi() {
  CAppUi* pPrevious = s_pInstance;
  if (pPrevious != this) {
    // A second application that failed its Init: it owns nothing shared.
    return;
  }
  SetClosing();
  VyServices().UnLoad();
  for (auto& [id, pFactory] : m_views) {
    (void)id;
    if (pFactory->m_pView) {
      CView* pView = pFactory->m_pView;
      pFactory->m_pView = nullptr;
      delete pView;
    }
  }
  if (m_hMenuBar) {
    plat::DestroyWindow(m_hMenuBar);
    m_hMenuBar = nullptr;
  }
  while (LastChild()) delete LastChild();
  m_pRootLayout.reset();
  for (CEventMessage* p : {static_cast<CEventMessage*>(&m_tickMessage), static_cast<CEventMessage*>(&m_startMessage),
                           static_cast<CEventMessage*>(&m_focusMessage), static_cast<CEventMessage*>(&m_rotationMessage),
                           static_cast<CEventMessage*>(&m_paintMessage)})
    if (p->IsQueued() && m_pQueue) p->Cancel();
  if (m_bBacklightHeld) SetBacklightOn(false);
  if (CResources::Instance()) CResources::Destroy();
  ReleaseOffscreenBitmap();
  if (m_hWnd) {
    plat::HWND hWnd = m_hWnd;
    m_hWnd = nullptr;  // the window's last messages get default handling
    plat::RemoveProp(hWnd, u"THIS");
    plat::DestroyWindow(hWnd);
  }
  if (m_nClassAtom) plat::UnregisterClass(m_className, m_hInstance);
  if (m_bControlClassRegistered) UnregisterWindowClass(m_hInstance);
  s_pCapture = nullptr;
  m_views.clear();
  m_pQueue.reset();
  m_pRegistry.reset();
  s_pInstance = nullptr;
}

// ---------------------------------------------------------------------------
// Start.

void CAppUi::Init(plat::ModuleHandle hInstance, int nShowCmd) {
  if (s_pInstance) QUOREL_PANIC(kUnit, 499);
  s_pInstance = this;
  m_hInstance = hInstance;
  m_pRegistry = std::make_unique<CObjectRegistry>();
  m_pQueue = std::make_unique<CEventQueue>([this] {
    return m_hWnd && plat::PostMessage(m_hWnd, WM_QUOREL_EVENTS, 0, 0);
  });
  CResources::Create();

  m_title = LoadName(hInstance, kTitleString);
  m_className = LoadName(hInstance, kClassString);

  if (plat::HWND hOther = plat::FindWindow(m_className, m_title)) {
    plat::SetForegroundWindow(hOther);
    plat::ShowWindow(reinterpret_cast<plat::HWND>(reinterpret_cast<uintptr_t>(hOther) | 1), plat::SW_SHOW);
    Env::ThrowError(Env::ErrAlreadyExists);
  }

  RegisterWindowClass(hInstance);
  m_bControlClassRegistered = true;
  plat::WndClass cls;
  cls.style = plat::CS_HREDRAW | plat::CS_VREDRAW;
  cls.proc = &CControl::ControlWndProc;
  cls.instance = hInstance;
  cls.background = nullptr;
  cls.name = m_className;
  m_nClassAtom = plat::RegisterClass(cls);
  if (!m_nClassAtom) Env::ThrowError(Env::ErrSystem);

  s_bSquareScreen = plat::GetSystemMetrics(plat::SM_CXSCREEN) == plat::GetSystemMetrics(plat::SM_CYSCREEN);
  Create(nullptr, m_className, m_title);
  plat::HWND hWnd = m_hWnd;
  plat::ShowWindow(hWnd, nShowCmd);

  m_hMenuBar = plat::SHCreateMenuBar(hWnd, hInstance, kMenuBarResource);
  if (m_hMenuBar) {
    plat::MenuBarSetButton(m_hMenuBar, 0, u"", false);
    plat::MenuBarSetButton(m_hMenuBar, 1, u"", false);
    plat::SendMessage(m_hMenuBar, plat::SHCMBM_OVERRIDEKEY, plat::VK_ESCAPE,
                      plat::MAKELPARAM(plat::SHMBOF_NODEFAULT, plat::SHMBOF_NODEFAULT));
  }
  s_shellActivateInfo = plat::ActivateInfo{};
  s_shellActivateInfo.cbSize = 12;
  m_pQueue->SetInitialised(true);
  m_pQueue->SetLoopAlive(true);
}

void CAppUi::FitWindow() {
  if (!m_hWnd) return;
  RECT rc;
  if (!plat::GetWindowRect(m_hWnd, &rc)) return;
  // The bar's band is taken off once; later fits only put the window back.
  if (m_hMenuBar && !m_bFitted) {
    rc.bottom -= plat::MenuBarHeight();
    plat::MoveWindow(m_hWnd, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, false);
    m_bFitted = true;
  }
  MoveTo(rc);
  Invalidate();
}

int CAppUi::Run() {
  if (s_pInstance != this || !m_pQueue || !m_hWnd) return 1;  // Init did not succeed
  int nExit = 0;
  bool bFailed = false;
  try {
    if (m_nStartViewId == -1 || !m_views.count(m_nStartViewId)) QUOREL_PANIC(kUnit, 1255);
    FitWindow();
    SetFocus();
    OnStart();
    SetUpToolkitImages();
    VyServices().Load(m_hWnd);
    VyServices().Open(0);
    UpdateLandscapeOption();
    SwitchView(-1, m_nStartViewId);
    if (!plat::SetTimer(m_hWnd, kTickTimer, kTickMs)) Env::ThrowError(Env::ErrSystem);
    plat::PostMessage(m_hWnd, plat::WM_TIMER, kTickTimer, 0);
    plat::PostMessage(m_hWnd, plat::WM_ACTIVATE, plat::WA_ACTIVE, 0);
    Invalidate();
    FlushPaint();
    m_startMessage.Post();
    std::optional<plat::Accelerators> accelerators = plat::LoadAccelerators(m_hInstance, kAccelerators);
    for (;;) {
      plat::Msg msg;
      bool bPainted = false;
      while (plat::PeekMessage(&msg, nullptr, plat::WM_PAINT, plat::WM_PAINT, plat::PM_NOREMOVE | plat::PM_NOYIELD)) {
        plat::DispatchMessage(&msg);
        bPainted = true;
      }
      if (bPainted) RepostDirtyPaints();
      int r = plat::GetMessage(&msg, nullptr, 0, 0);
      if (r == 0) {
        nExit = static_cast<int>(msg.wParam);
        break;
      }
      if (r < 0) Env::ThrowError(Env::ErrSystem);
      if (accelerators && plat::TranslateAccelerator(m_hWnd, *accelerators, &msg)) continue;
      plat::TranslateMessage(&msg);
      plat::DispatchMessage(&msg);
    }
  } catch (...) {
    bFailed = true;
  }
  if (m_hWnd) plat::ShowWindow(m_hWnd, plat::SW_HIDE);
  m_pQueue->SetLoopAlive(false);
  try {
    Shutdown();
  } catch (...) {
    bFailed = true;
  }
  m_pQueue->SetInitialised(false);
  for (CEventMessage* p : {static_cast<CEventMessage*>(&m_tickMessage), static_cast<CEventMessage*>(&m_startMessage),
                           static_cast<CEventMessage*>(&m_focusMessage), static_cast<CEventMessage*>(&m_rotationMessage)})
    m_pQueue->Unlink(p);
  return bFailed ? 1 : nExit;
}

void CAppUi::DrainInto(int* pFirstCode) {
  int32_t nCode = m_pQueue->RunEvents();
  if (nCode != 0 && *pFirstCode == 0) *pFirstCode = nCode;
  else if (nCode != 0) *pFirstCode = Env::ErrSeveral;
}

int CAppUi::Shutdown() {
  int nCode = 0;
  if (m_bBacklightHeld) SetBacklightOn(false);
  if (m_hWnd) plat::KillTimer(m_hWnd, kTickTimer);
  if (m_tickMessage.IsQueued()) m_tickMessage.Cancel();
  SwitchView(m_nActiveViewId, -1);
  OnShutdown();
  DrainInto(&nCode);
  for (auto& [id, pFactory] : m_views) {
    (void)id;
    if (CView* pView = pFactory->m_pView) {
      pFactory->m_pView = nullptr;
      delete pView;
    }
  }
  DrainInto(&nCode);
  while (CControl* pChild = FirstChild()) delete pChild;
  DrainInto(&nCode);
  return nCode;
}

// ---------------------------------------------------------------------------
// Views.

void CAppUi::RegisterView(int32_t nViewId, CViewFactory* pFactory) {
  std::unique_ptr<CViewFactory> owned(pFactory);
  if (!pFactory) Env::ThrowError(Env::ErrBadArgument);
  if (m_views.count(nViewId)) Env::ThrowError(Env::ErrAlreadyExists);
  pFactory->m_nViewId = nViewId;
  m_views[nViewId] = std::move(owned);
}

void CAppUi::ActivateView(int32_t nViewId) {
  if (!m_views.count(nViewId)) QUOREL_PANIC(kUnit, 1459);
  if (nViewId == m_nActiveViewId) return;
  SwitchView(m_nActiveViewId, nViewId);
}

void CAppUi::ReactivateView(int32_t nViewId) {
  if (!m_views.count(nViewId)) QUOREL_PANIC(kUnit, 1474);
  SwitchView(m_nActiveViewId, nViewId);
}

void CAppUi::SwitchView(int32_t nFrom, int32_t nTo) {
  (void)nFrom;
  CViewFactory* pNewFactory = nTo >= 0 && m_views.count(nTo) ? m_views[nTo].get() : nullptr;
  TViewRecord next{pNewFactory, nullptr, nTo};
  TViewRecord old = m_active;
  if (old.pView) {
    CView* pOld = old.pView;
    pOld->OnLeave(&m_active, &next);
    // Input already queued for it (a second tap on a row) must not act on a
    // screen that is gone.
    pOld->SetClosingTree();
    if (old.pFactory) old.pFactory->m_pView = nullptr;
    m_active.pView = nullptr;
    // The old view may be running one of its own handlers: it goes later.
    pOld->ScheduleDelete();
  }
  m_pRootLayout.reset();
  m_nPreviousViewId = m_nActiveViewId;
  if (!pNewFactory) {
    if (old.pFactory) old.pFactory->SetActive(false);
    m_active = TViewRecord{};
    m_nActiveViewId = -1;
    return;
  }
  m_pRootLayout = BuildAppRootLayout();
  CLayoutNode* pViewArea = m_pRootLayout->FindNode(kViewAreaNode, -1);
  CView* pView = pNewFactory->Create(this, pViewArea);
  OnLayoutTreeCreated(m_pRootLayout.get());
  m_pRootLayout->ResetVariants();
  ApplyRotation();
  pView->OnViewActivated(pViewArea);
  if (old.pFactory) old.pFactory->SetActive(false);
  next.pView = pView;
  m_active = next;
  pNewFactory->SetActive(true);
  m_nActiveViewId = nTo;
  LayoutToWindow();
  RecomputeLayers();
  OnViewActivated();
  RaiseLayers();
  KeepDeviceAwake();
}

void CAppUi::RaiseLayers() {
  for (int32_t nLayer = 1; nLayer <= m_nTopLayer; ++nLayer)
    for (CControl* p = FirstChild(); p; p = p->NextSibling()) {
      if (p->m_nLayer != nLayer || !p->IsVisible() || p->IsClosing() || !p->Window()) continue;
      plat::SetWindowPos(p->Window(), plat::HWND_TOP, 0, 0, 0, 0,
                         plat::SWP_NOMOVE | plat::SWP_NOSIZE | plat::SWP_NOACTIVATE | plat::SWP_NOREDRAW);
      plat::SetForegroundWindow(p->Window());
    }
}

void CAppUi::LayoutToWindow() {
  if (!m_pRootLayout) return;
  CLayoutNode* pViewArea = m_pRootLayout->FindNode(kViewAreaNode, -1);
  if (!pViewArea) return;
  RECT rc = ScreenRect();
  pViewArea->PinToRect(rc);
  m_pRootLayout->Update(
      RECT{0, 0, plat::GetSystemMetrics(plat::SM_CXSCREEN), plat::GetSystemMetrics(plat::SM_CYSCREEN)});
}

void CAppUi::ApplyRotation() {
  if (m_rotationMessage.IsQueued()) m_rotationMessage.Cancel();
  int32_t nAngle = GetScreenRotation();
  TDisplayRotation& payload = m_rotationMessage.Payload();
  payload.nWidth = plat::GetSystemMetrics(plat::SM_CXSCREEN);
  payload.nHeight = plat::GetSystemMetrics(plat::SM_CYSCREEN);
  payload.nAngle = CounterAngle(nAngle);
  if (m_pRootLayout) m_pRootLayout->SelectVariants(0, RotationIndex(nAngle));
  if (m_pQueue && m_pQueue->IsInitialised()) m_rotationMessage.Post();
}

// ---------------------------------------------------------------------------
// Layers and focus.

void CAppUi::SetChildLayer(CControl* pControl, int32_t nLayer) {
  if (!pControl || pControl->Parent() != this) QUOREL_PANIC(kUnit, 1652);
  ForEachControl(pControl, [nLayer](CControl* p) { p->m_nLayer = nLayer; });
  RecomputeLayers();
  if (m_pFocused && m_pFocused != this && m_pFocused->m_nLayer < m_nTopShownLayer) {
    RememberFocus(m_pFocused->m_nLayer, m_pFocused);
    SetFocus();
  }
}

void CAppUi::RecomputeLayers() {
  int32_t nTop = 0, nTopShown = 0;
  std::vector<CControl*> order;
  for (CControl* p = FirstChild(); p; p = p->NextSibling()) {
    if (p->IsClosing()) continue;
    nTop = std::max(nTop, p->m_nLayer);
    if (p->IsVisible()) nTopShown = std::max(nTopShown, p->m_nLayer);
    order.push_back(p);
  }
  // Windows stacked as painted: by layer, then later siblings above.
  std::stable_sort(order.begin(), order.end(),
                   [](const CControl* a, const CControl* b) { return a->m_nLayer < b->m_nLayer; });
  std::vector<plat::HWND> windows;
  for (CControl* p : order) windows.push_back(p->Window());
  if (windows != m_stackOrder) {
    m_stackOrder = windows;
    for (plat::HWND h : windows)
      if (h)
        plat::SetWindowPos(h, plat::HWND_TOP, 0, 0, 0, 0,
                           plat::SWP_NOMOVE | plat::SWP_NOSIZE | plat::SWP_NOACTIVATE | plat::SWP_NOREDRAW);
  }
  if (nTop != m_nTopLayer || nTopShown != m_nTopShownLayer) {
    m_nTopLayer = nTop;
    m_nTopShownLayer = nTopShown;
    if (m_pQueue && m_pQueue->IsLoopAlive() && m_pQueue->IsInitialised()) PostFocusRestore();
    OnOptionsMenuClosed(nTop, nTopShown);
  }
}

void CAppUi::PostFocusRestore() {
  m_focusMessage.m_bRestoreFocus = true;
  if (!m_focusMessage.IsQueued()) m_focusMessage.Post();
}

void CAppUi::PostRelayout() {
  m_focusMessage.m_bRelayout = true;
  if (!m_focusMessage.IsQueued()) m_focusMessage.Post();
}

void CAppUi::RestoreFocus() {
  auto it = m_focusMemory.find(m_nTopShownLayer);
  CControl* pTarget = it != m_focusMemory.end() ? it->second : nullptr;
  if (pTarget && pTarget->IsFocusable(m_nTopShownLayer))
    pTarget->SetFocus();
  else if (!m_pFocused || m_pFocused == this || m_pFocused->m_nLayer != m_nTopShownLayer)
    SetFocus();
}

void CAppUi::RememberFocus(int32_t nLayer, CControl* pControl) { m_focusMemory[nLayer] = pControl; }

void CAppUi::OnControlDestroyed(CControl* pControl) {
  if (m_pFocused == pControl) {
    CControl* pParent = pControl->Parent();
    if (pParent) {
      m_pFocused = pParent;
      m_focusMemory[pControl->m_nLayer] = pParent == this ? nullptr : pParent;
      if (pParent->Window() && !pParent->IsClosing()) plat::SetFocus(pParent->Window());
    } else {
      m_pFocused = this;
    }
  }
  for (auto& [layer, p] : m_focusMemory) {
    (void)layer;
    if (p == pControl) p = this;
  }
  if (s_pCapture == pControl) s_pCapture = nullptr;
  m_stackOrder.erase(std::remove(m_stackOrder.begin(), m_stackOrder.end(), pControl->Window()), m_stackOrder.end());
}

CControl* CAppUi::GetFocus() { return s_pInstance ? s_pInstance->m_pFocused : nullptr; }

namespace {
// The focused control of the one application, the application itself when
// none is; null without an application.
CControl* FocusedOrApp() {
  CAppUi* pApp = CAppUi::Instance();
  if (!pApp) return nullptr;
  CControl* p = CAppUi::GetFocus();
  return p ? p : pApp;
}
}  // namespace

bool CAppUi::FocusPrevious() {
  CControl* pFocused = FocusedOrApp();
  if (!pFocused) return false;
  if (pFocused != s_pInstance) return pFocused->FocusPrevious();
  return FocusTo(s_pInstance->FindLastFocusable(s_pInstance->m_nTopShownLayer));
}

bool CAppUi::FocusNext() {
  CControl* pFocused = FocusedOrApp();
  if (!pFocused) return false;
  if (pFocused != s_pInstance) return pFocused->FocusNext();
  return FocusTo(s_pInstance->FindFirstFocusable(s_pInstance->m_nTopShownLayer));
}

bool CAppUi::FocusLeft() { return FocusedOrApp() && FocusedOrApp()->FocusLeft(); }
bool CAppUi::FocusUp() { return FocusedOrApp() && FocusedOrApp()->FocusUp(); }
bool CAppUi::FocusRight() { return FocusedOrApp() && FocusedOrApp()->FocusRight(); }
bool CAppUi::FocusDown() { return FocusedOrApp() && FocusedOrApp()->FocusDown(); }

void CAppUi::SetInputThroughLayers(CControl* pControl, bool bThrough) {
  if (!pControl) return;
  ForEachControl(pControl, [bThrough](CControl* p) { p->SetInputThrough(bThrough); });
}

bool CAppUi::OnInput(const TInputEvent& event) {
  if (!event.bPressed || event.nKey == KeyPointer) return true;
  switch (event.nKey) {
    case plat::VK_LEFT:
      FocusLeft();
      break;
    case plat::VK_RIGHT:
      FocusRight();
      break;
    case plat::VK_UP:
      if (!FocusUp()) FocusPrevious();
      break;
    case plat::VK_DOWN:
      if (!FocusDown()) FocusNext();
      break;
    default:
      break;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Messages.

void CAppUi::Paint(CGraphics& g, const POINT& origin, const RECT& clip) {
  (void)clip;
  g.SetFillColor(ThemeBackgroundColor(GetThemeIndex()), EColorSolid);
  g.SetLineColor(0, EColorOff);
  g.DrawRectangle(RECT{origin.x, origin.y, origin.x + m_rc.right - m_rc.left, origin.y + m_rc.bottom - m_rc.top});
}

plat::LRESULT CAppUi::OnMenuModeInput(uint32_t nMsg, plat::WPARAM wParam, plat::LPARAM lParam) {
  VyServices().ForwardMessage(m_hWnd, nMsg, wParam, lParam);
  // The bar turns F1 and F2 into its soft-key commands, menu or not.
  bool bKey = nMsg == plat::WM_KEYDOWN || nMsg == plat::WM_KEYUP;
  if (bKey && (wParam == plat::VK_F1 || wParam == plat::VK_F2) && m_hMenuBar)
    return plat::DefWindowProc(m_hWnd, nMsg, wParam, lParam);
  return 0;
}

plat::LRESULT CAppUi::OnMessage(uint32_t nMsg, plat::WPARAM wParam, plat::LPARAM lParam) {
  bool bInput = nMsg == plat::WM_KEYDOWN || nMsg == plat::WM_KEYUP || nMsg == plat::WM_LBUTTONDOWN ||
                nMsg == plat::WM_LBUTTONUP || nMsg == plat::WM_MOUSEMOVE;
  if (bInput && m_bMenuMode) return OnMenuModeInput(nMsg, wParam, lParam);
  switch (nMsg) {
    case WM_QUOREL_EVENTS:
      Env::ThrowIfError(m_pQueue->RunEvents());
      return 0;
    case WM_QUOREL_ROTATE:
      SetScreenRotation(IsSlideOpen() ? 90 : 0);
      return 0;
    case WM_QUOREL_MENU_RUN:
      RunMenuCommand(static_cast<int32_t>(lParam));
      return 0;
    case WM_QUOREL_MENU_CLOSED:
      SetMenuMode(false);
      OnOptionsMenuClosed(m_nTopLayer, m_nTopShownLayer);
      return 0;
    case plat::WM_TIMER:
      VyServices().ForwardMessage(m_hWnd, nMsg, wParam, lParam);
      if (wParam == kTickTimer) {
        if (!m_tickMessage.IsQueued()) m_tickMessage.Post();
        if (m_bBacklightHeld) KeepDeviceAwake();
      }
      return 0;
    case plat::WM_COMMAND:
      if (m_bMenuMode) VyServices().ForwardMessage(m_hWnd, nMsg, wParam, lParam);
      // Also in menu mode: the right soft key is what closes the menu.
      if (plat::LOWORD(wParam) == kCmdLeftSoftKey) PostInput(TInputEvent{0, plat::VK_F1, 0, 0});
      else if (plat::LOWORD(wParam) == kCmdRightSoftKey) PostInput(TInputEvent{0, plat::VK_F2, 0, 0});
      return 0;
    case plat::WM_SETTINGCHANGE:
      OnSettingChange(wParam);
      return 0;
    case plat::WM_PAINT:
      if (m_bMenuMode) {
        plat::PaintInfo ps;
        plat::BeginPaint(m_hWnd, &ps);
        if (m_bWindowActive) VyServices().Paint(ps.hdc);
        plat::EndPaint(m_hWnd, &ps);
        return 0;
      }
      return CControl::OnMessage(nMsg, wParam, lParam);
    case plat::WM_DESTROY:
      VyServices().ReleaseGlobalDCs();
      plat::PostQuitMessage(0);
      return 0;
    case plat::WM_SIZE:
      if (m_bMenuMode) VyServices().ForwardMessage(m_hWnd, nMsg, wParam, lParam);
      return 1;
    case plat::WM_ACTIVATE:
      OnActivate(wParam, lParam);
      return 0;
    default:
      return CControl::OnMessage(nMsg, wParam, lParam);
  }
}

void CAppUi::OnActivate(plat::WPARAM wParam, plat::LPARAM lParam) {
  plat::SHHandleWMActivate(m_hWnd, wParam, lParam, &s_shellActivateInfo);
  uint16_t nState = plat::LOWORD(wParam);
  bool bActive = nState != plat::WA_INACTIVE;
  if (bActive) {
    if (GetThemeIndex() == 0) SetScreenRotation(0);
    m_bWindowActive = true;
    FitWindow();
    CControl* pFocused = m_pFocused ? m_pFocused : this;
    plat::SetFocus(nullptr);
    if (pFocused->Window()) plat::SetFocus(pFocused->Window());
    KeepDeviceAwake();
  } else {
    m_bWindowActive = false;
    if (CControl* pHolder = s_pCapture) {
      s_pCapture = nullptr;
      plat::ReleaseCapture();
      pHolder->OnInput(TInputEvent{0, KeyPointer, -1, -1});
    }
  }
  auto* pMessage = CEventFireMessage<AppActivatedEvent>::New();
  pMessage->Payload() = bActive ? 1 : 0;
  pMessage->Post();
  if (m_bMenuMode) {
    if (nState == plat::WA_ACTIVE)
      VyServices().ResumeRenderCurrentGUI();
    else if (nState == plat::WA_CLICKACTIVE)
      VyServices().ForwardMessage(m_hWnd, plat::WM_ACTIVATE, wParam, lParam);
  }
}

void CAppUi::OnSettingChange(plat::WPARAM wParam) {
  plat::SHHandleWMSettingChange(m_hWnd, wParam, 0, &s_shellActivateInfo);
  if (wParam != plat::SETTINGCHANGE_RESET) return;
  // The snapshot has the old screen's size.
  ReleaseOffscreenBitmap();
  UpdateLandscapeOption();
  CResources::ClearCaches();
  FitWindow();
  ForEachControl(this, [](CControl* p) { p->ReloadImages(); });
  m_pRootLayout.reset();
  if (m_active.pView) {
    m_pRootLayout = BuildAppRootLayout();
    CLayoutNode* pViewArea = m_pRootLayout->FindNode(kViewAreaNode, -1);
    BindLayoutAndApply(m_active.pView, pViewArea);
    OnLayoutTreeCreated(m_pRootLayout.get());
    m_pRootLayout->ResetVariants();
    ApplyRotation();
    m_active.pView->OnViewActivated(pViewArea);
    LayoutToWindow();
  }
  RECT rcApp = GetMainWindowRect();
  ForEachControl(this, [&rcApp](CControl* p) { p->OnDisplayChanged(rcApp); });
  Invalidate();
}

// ---------------------------------------------------------------------------
// Registry of objects and the screen.

void CAppUi::AddObject(int32_t nId, CObject* pObject) {
  if (!s_pInstance || !s_pInstance->m_pRegistry) QUOREL_PANIC(kUnit, 1854);
  if (!pObject) Env::ThrowError(Env::ErrBadArgument);
  s_pInstance->m_pRegistry->AddObject(nId, pObject);
}

CObject* CAppUi::FindObject(int32_t nId) {
  if (!s_pInstance || !s_pInstance->m_pRegistry) QUOREL_PANIC(kUnit, 1869);
  return s_pInstance->m_pRegistry->FindObject(nId);
}

RECT CAppUi::GetMainWindowRect() const { return m_rc; }

RECT CAppUi::GetScreenRect() const {
  return RECT{0, 0, plat::GetSystemMetrics(plat::SM_CXSCREEN), plat::GetSystemMetrics(plat::SM_CYSCREEN)};
}

int32_t CAppUi::GetMinScreenDimension() const {
  return std::min(plat::GetSystemMetrics(plat::SM_CXSCREEN), plat::GetSystemMetrics(plat::SM_CYSCREEN));
}

int32_t CAppUi::GetStandardHeight(int32_t nIndex) const {
  if (nIndex < 0 || nIndex > 4 || !m_pRootLayout) QUOREL_PANIC(kUnit, 1973);
  CLayoutNode* pNode = m_pRootLayout->FindNode(34 + nIndex, -1);
  if (!pNode || !pNode->IsLaidOut()) QUOREL_PANIC(kUnit, 1973);
  return pNode->GetHeight();
}

bool CAppUi::IsForeground() const {
  if (!m_hWnd) QUOREL_PANIC(kUnit, 1946);
  return plat::GetForegroundWindow() == m_hWnd;
}

// ---------------------------------------------------------------------------
// Soft keys.

void CAppUi::UpdateSoftKeys() {
  if (!m_hMenuBar) return;
  plat::MenuBarSetButton(m_hMenuBar, 0, m_leftText, m_bLeftText && m_bLeftEnabled);
  plat::MenuBarSetButton(m_hMenuBar, 1, m_rightText, m_bRightText && m_bRightEnabled);
}

void CAppUi::SetLeftSoftkeyText(plat::WStringView text) {
  m_leftText = plat::WString(text);
  m_bLeftText = !text.empty();
  UpdateSoftKeys();
}

void CAppUi::SetRightSoftkeyText(plat::WStringView text) {
  m_rightText = plat::WString(text);
  m_bRightText = !text.empty();
  UpdateSoftKeys();
}

void CAppUi::EnableSoftKeys(bool bLeft, bool bRight) {
  m_bLeftEnabled = bLeft;
  m_bRightEnabled = bRight;
  UpdateSoftKeys();
}
