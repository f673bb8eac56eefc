#include "vy/OptionsMenuGUI.h"

#include "vy/BasicMenu.h"
#include "vy/FrameSkin.h"
#include "vy/VyGesture.h"
#include "vy/VyPanel.h"
#include "vy/VyPicture.h"

COptionsMenuGUI::COptionsMenuGUI() = default;

COptionsMenuGUI::~COptionsMenuGUI() { DropMenu(); }

void COptionsMenuGUI::DropMenu() {
  if (!m_pMenu) return;
  CBasicMenuEx* p = m_pMenu;
  m_pMenu = nullptr;
  p->RemoveFromParent();
  p->Destroy();
}

void COptionsMenuGUI::ShowMenu(plat::HBITMAP hSnapshot, const RECT& rc, const std::vector<TVyMenuItem>& items,
                               int32_t nWidth, int32_t nMaxWidth, int32_t nItemHeight, plat::HWND hWnd,
                               uint32_t nRunMessage, uint32_t nCloseMessage) {
  CVyPanel* pRoot = GetRootPanel();
  CPR_RET(pRoot);
  CIImage snapshot;
  snapshot.Load(hSnapshot, 0);
  if (!m_pBackground) {
    m_pBackground = new CVyPicture(snapshot);
    pRoot->AddControl(m_pBackground, -1);
  } else {
    m_pBackground->SetImage(snapshot);
  }
  // The panel does not size its children: without this the menu would open
  // over black after a rotation.
  pRoot->SetRect(rc.left, rc.top, rc.right, rc.bottom, 1);
  m_pBackground->SetRect(rc.left, rc.top, rc.right, rc.bottom, 1);
  DropMenu();
  std::vector<BasicMenuItemInfo> table;
  table.reserve(items.size());
  for (const TVyMenuItem& item : items) {
    BasicMenuItemInfo r;
    r.label = item.text;
    r.nId = item.nId;
    r.nDisabled = item.nFlag != 0 ? 1 : 0;
    table.push_back(std::move(r));
  }
  m_pMenu = new CBasicMenuEx(table.data(), int32_t(table.size()), nWidth, nMaxWidth, nItemHeight);
  m_pMenu->CreateControls(nullptr);
  m_pMenu->SetRect(rc.left, rc.top, rc.right, rc.bottom, 0);
  m_pMenu->BindRunMessage(hWnd, nRunMessage, 0, 0);
  m_pMenu->SetCloseMessage(hWnd, nCloseMessage, 0, 0);
  m_pMenu->BindPressMessage(hWnd, nRunMessage, 0, 0);
  // Added last, and nothing after it: it leaves the panel during the
  // panel's own walk.
  m_pMenu->Open(pRoot, 0, nullptr, nullptr);
}

void COptionsMenuGUI::CloseMenu() {
  if (m_pMenu) m_pMenu->Close(0, 0);
}

// ---- The services ------------------------------------------------------------

CVyToolkitServices::CVyToolkitServices() = default;
CVyToolkitServices::~CVyToolkitServices() = default;

CVyToolkitServices& ToolkitServices() {
  static CVyToolkitServices* s_pServices = new CVyToolkitServices();
  return *s_pServices;
}

void CVyToolkitServices::SetResourceInstance(plat::ModuleHandle hInstance) { ::SetResourceInstance(hInstance); }

void CVyToolkitServices::LoadFrameSkin(const std::vector<int32_t>& ids) {
  if (ids.size() == 6) GetFrameSkin()->Load(ids[0], ids[1], ids[2], ids[3], ids[4], ids[5]);
}

void CVyToolkitServices::SetMenuItemImageIDs(const std::vector<int32_t>& ids) {
  if (ids.size() == 10) ::SetMenuItemImageIDs(std::span<const int32_t, 10>(ids.data(), 10));
}

void CVyToolkitServices::SetMenuImageIDs(const std::vector<int32_t>& ids) {
  if (ids.size() == 26) ::SetMenuImageIDs(std::span<const int32_t, 26>(ids.data(), 26));
}

void CVyToolkitServices::Load(plat::HWND hWnd) {
  if (!m_pGui) m_pGui = std::make_unique<COptionsMenuGUI>();
  m_pGui->Load(hWnd);
}

void CVyToolkitServices::Open(int32_t nType) {
  if (m_pGui) m_pGui->Open(nType);
}

void CVyToolkitServices::UnLoad() {
  if (!m_pGui) return;
  m_pGui->UnLoad();
  m_pGui.reset();
}

bool CVyToolkitServices::IsLoaded() const { return m_pGui && m_pGui->IsLoaded(); }

plat::LRESULT CVyToolkitServices::ForwardMessage(plat::HWND, uint32_t nMsg, plat::WPARAM wParam,
                                                 plat::LPARAM lParam) {
  CBaseGUI* pGui = CBaseGUI::GetCurrentGUI();
  if (!pGui) return 0;
  switch (nMsg) {
    case plat::WM_TIMER:
      return pGui->OnTimer(wParam, lParam);
    case plat::WM_KEYDOWN:
      return pGui->OnKeyDown(wParam, lParam);
    case plat::WM_KEYUP:
      return pGui->OnKeyUp(wParam, lParam);
    case plat::WM_LBUTTONDOWN:
      return pGui->OnLButtonDown(wParam, lParam);
    case plat::WM_LBUTTONUP:
      return pGui->OnLButtonUp(wParam, lParam);
    case plat::WM_MOUSEMOVE:
      return pGui->OnMouseMove(wParam, lParam);
    case plat::WM_COMMAND:
      return pGui->OnCommand(wParam, lParam);
    case plat::WM_SIZE:
      return pGui->IsLoaded() ? pGui->OnSize(wParam, lParam) : 0;
    case plat::WM_ACTIVATE:
      if (plat::LOWORD(wParam) == plat::WA_CLICKACTIVE) pGui->StartRender(1);
      return 0;
    default:
      return 0;
  }
}

void CVyToolkitServices::Paint(plat::HDC hdc) {
  if (m_pGui) m_pGui->OnPaint(m_pGui->GetHWnd(), hdc);
}

void CVyToolkitServices::StartRender() {
  if (m_pGui) m_pGui->StartRender(1);
}

void CVyToolkitServices::ResumeRenderCurrentGUI() { CBaseGUI::ResumeRenderCurrentGUI(); }
void CVyToolkitServices::ReleaseGlobalDCs() { CBaseGUI::ReleaseGlobalDCs(); }

void CVyToolkitServices::ShowMenu(plat::HBITMAP hSnapshot, const plat::Rect& rcClient,
                                  const std::vector<TVyMenuItem>& items, int32_t nWidth, int32_t nMaxWidth,
                                  int32_t nItemHeight, plat::HWND hWnd, uint32_t nRunMessage,
                                  uint32_t nCloseMessage) {
  if (m_pGui)
    m_pGui->ShowMenu(hSnapshot, rcClient, items, nWidth, nMaxWidth, nItemHeight, hWnd, nRunMessage, nCloseMessage);
}

void CVyToolkitServices::CloseMenu() {
  if (m_pGui) m_pGui->CloseMenu();
}
