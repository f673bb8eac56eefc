// The shell and screen side of the application: rotation and the slide,
// the landscape option, the options menu and menu mode.
#include <algorithm>

#include "framework/AppUi.h"
#include "framework/Resources.h"
#include "framework/Theme.h"
#include "framework/VyServices.h"
#include "platform/base/Errors.h"
#include "platform/gdi/Gdi.h"
#include "platform/kernel/Kernel.h"
#include "platform/registry/Registry.h"

namespace {

constexpr char16_t kRotationKey[] = u"System\\GDI\\ROTATION";
constexpr char16_t kMotionKey[] = u"\\ControlPanel\\MotionSensor";
constexpr int kRotationPolls = 31;
constexpr int32_t kLandscapeOption = 0;

CVyServices s_noToolkit;
CVyServices* s_pToolkit = nullptr;

}  // namespace

CVyServices& VyServices() { return s_pToolkit ? *s_pToolkit : s_noToolkit; }
void SetVyServices(CVyServices* pServices) { s_pToolkit = pServices; }

namespace {

std::vector<int32_t> Range(std::initializer_list<std::pair<int32_t, int32_t>> spans) {
  std::vector<int32_t> ids;
  for (auto [first, last] : spans)
    for (int32_t id = first; id <= last; ++id) ids.push_back(id);
  return ids;
}

}  // namespace

void CAppUi::SetUpToolkitImages() {
  CVyServices& vy = VyServices();
  vy.SetResourceInstance(m_hInstance);
  uint32_t nTheme = GetThemeIndex();
  if (IsSmallScreen()) {
    vy.LoadFrameSkin({649, 650, 645, 652, 653, 654});
    vy.SetMenuItemImageIDs(Range({{553, 553}, {589, 593}, {606, 607}, {606, 607}}));
    vy.SetMenuImageIDs(Range({{580, 587}, {594, 594}, {596, 596}, {595, 595}, {608, 613}, {597, 605}}));
    return;
  }
  vy.LoadFrameSkin(Range({{643, 648}}));
  if (nTheme == 0) {
    vy.SetMenuItemImageIDs(Range({{553, 558}, {571, 572}, {571, 572}}));
    vy.SetMenuImageIDs(Range({{545, 552}, {559, 559}, {561, 561}, {560, 560}, {573, 578}, {562, 570}}));
  } else if (nTheme == 1) {
    vy.SetMenuItemImageIDs(Range({{692, 695}, {557, 558}, {571, 572}, {571, 572}}));
    vy.SetMenuImageIDs(Range({{684, 691}, {559, 559}, {561, 561}, {560, 560}, {573, 578}, {562, 570}}));
  }
  // Other themes leave the toolkit's ids at "none".
}

void CAppUi::SetScreenRotation(int32_t nAngle) {
  plat::HKEY hKey = nullptr;
  if (plat::RegOpenKeyEx(plat::HKEY_LOCAL_MACHINE, kRotationKey, 0, &hKey) != plat::ERROR_SUCCESS) return;
  uint32_t value = static_cast<uint32_t>(nAngle);
  plat::RegSetValueEx(hKey, u"Angle", plat::REG_DWORD, reinterpret_cast<const uint8_t*>(&value), sizeof value);
  plat::RegCloseKey(hKey);
  // The display driver clears the value once it has taken the request.
  bool bCleared = false;
  for (int i = 0; i < kRotationPolls && !bCleared; ++i) {
    uint32_t read = 1, size = sizeof read;
    if (plat::RegOpenKeyEx(plat::HKEY_LOCAL_MACHINE, kRotationKey, 0, &hKey) == plat::ERROR_SUCCESS) {
      plat::RegQueryValueEx(hKey, u"Angle", nullptr, reinterpret_cast<uint8_t*>(&read), &size);
      plat::RegCloseKey(hKey);
    }
    bCleared = read == 0;
  }
  if (!bCleared) plat::Sleep(10);
  uint32_t dmdo = nAngle == 90 ? plat::DMDO_90 : nAngle == 180 ? plat::DMDO_180 : nAngle == 270 ? plat::DMDO_270 : 0;
  plat::ChangeDisplayOrientation(dmdo);
}

int32_t CAppUi::GetScreenRotation() {
  switch (plat::QueryDisplayOrientation()) {
    case plat::DMDO_90: return 90;
    case plat::DMDO_180: return 180;
    case plat::DMDO_270: return 270;
    default: return 0;
  }
}

bool CAppUi::IsSlideOpen() {
  return plat::ReadDword(plat::HKEY_CURRENT_USER, kMotionKey, u"SlideState").value_or(0) != 0;
}

void CAppUi::UpdateLandscapeOption() {
  uint32_t nTheme = GetThemeIndex();
  int32_t nAngle = GetScreenRotation();
  if (nTheme == 0)
    CResources::SetOption(kLandscapeOption, 0);
  else if (nTheme == 1)
    CResources::SetOption(kLandscapeOption, nAngle == 90 || nAngle == 270 ? 1 : 0);
}

// ---------------------------------------------------------------------------
// Options menu.

void CAppUi::ClearMenuCommands() { m_menuCommands.clear(); }

CAppUi::TMenuCommand* CAppUi::AddMenuCommand(TMenuCommandList& list, plat::WStringView text, bool bEnabled,
                                             const CDelegate& action) {
  list.push_back(TMenuCommand{plat::WString(text), bEnabled, action});
  return &list.back();
}

CAppUi::TMenuCommand* CAppUi::AddOptionsMenuCommand(plat::WStringView text, bool bEnabled, const CDelegate& action) {
  CAppUi* pApp = Instance();
  return pApp ? AddMenuCommand(pApp->m_menuCommands, text, bEnabled, action) : nullptr;
}

void CAppUi::SetMenuMode(bool bOn) {
  if (bOn == m_bMenuMode) return;
  if (bOn) {
    // The screen as it is becomes the menu's background.
    plat::HBITMAP hSnapshot = OffscreenBitmap();
    plat::HDC hScreen = plat::GetDC(nullptr);
    plat::HDC hMem = plat::CreateCompatibleDC(hScreen);
    plat::HGDIOBJ hOld = plat::SelectObject(hMem, hSnapshot);
    plat::BitBlt(hMem, 0, 0, m_rc.right - m_rc.left, m_rc.bottom - m_rc.top, hScreen, m_rc.left, m_rc.top,
                 plat::SRCCOPY);
    plat::SelectObject(hMem, hOld);
    plat::DeleteDC(hMem);
    plat::ReleaseDC(nullptr, hScreen);
    m_bMenuMode = true;
    for (CControl* p = FirstChild(); p; p = p->NextSibling())
      if (p->Window()) plat::ShowWindow(p->Window(), plat::SW_HIDE);
    ShowOptionsMenu();
    return;
  }
  m_bMenuMode = false;
  // The toolkit took the capture on its pen-down; the pen-up now goes to the
  // views and would never give it back.
  if (m_hWnd && plat::GetCapture() == m_hWnd) plat::ReleaseCapture();
  for (CControl* p = FirstChild(); p; p = p->NextSibling())
    if (p->Window() && p->IsVisible()) plat::ShowWindow(p->Window(), plat::SW_SHOWNA);
  // Windows made while the menu was up were created hidden.
  std::function<void(CControl*)> showNew = [&](CControl* pAt) {
    for (CControl* p = pAt->FirstChild(); p; p = p->NextSibling()) {
      if (pAt != this && p->Window() && p->IsVisible() && !plat::IsWindowVisible(p->Window()))
        plat::ShowWindow(p->Window(), plat::SW_SHOWNA);
      showNew(p);
    }
  };
  showNew(this);
  // What was kept dirty meanwhile is painted now.
  Invalidate();
  RepostDirtyPaints();
}

void CAppUi::ShowOptionsMenu() {
  std::vector<TVyMenuItem> items;
  for (size_t i = 0; i < m_menuCommands.size(); ++i)
    items.push_back(TVyMenuItem{m_menuCommands[i].text, static_cast<int32_t>(i + 1), m_menuCommands[i].bEnabled ? 0 : 1});
  RECT rcClient{};
  plat::GetClientRect(m_hWnd, &rcClient);
  int32_t s = GetMinScreenDimension();
  VyServices().ShowMenu(OffscreenBitmap(), rcClient, items, s * 352 / 480, s * 450 / 480, s * 66 / 800, m_hWnd,
                        WM_QUOREL_MENU_RUN, WM_QUOREL_MENU_CLOSED);
}

void CAppUi::RunMenuCommand(TMenuCommandList& list, int32_t nIndex) {
  if (nIndex > 0 && static_cast<size_t>(nIndex) <= list.size()) {
    // A copy: the command may rebuild the list.
    CDelegate action = list[static_cast<size_t>(nIndex) - 1].action;
    action.Call();
  }
  SetMenuMode(false);
}

void CAppUi::CloseOptionsMenu() {
  if (m_bMenuMode) VyServices().CloseMenu();
}
