// The toolkit screen of the application's main window, and the toolkit as
// the framework's seam (CVyServices) reaches it: the screen shows the
// options menu over a snapshot of the window, and the services forward the
// window's messages to the current toolkit screen.
#pragma once

#include <memory>

#include "framework/VyServices.h"
#include "vy/BaseGUI.h"

class CBasicMenuEx;
class CVyPicture;

class COptionsMenuGUI : public CBaseGUI {
 public:
  COptionsMenuGUI();
  // Drops the menu before the base destroys the root panel under it.
  ~COptionsMenuGUI() override;

  // Builds the menu of the items and opens it over the snapshot (held, not
  // owned); the menu posts runMessage (lParam = the chosen id), then
  // closeMessage.
  void ShowMenu(plat::HBITMAP hSnapshot, const RECT& rcClient, const std::vector<TVyMenuItem>& items, int32_t nWidth,
                int32_t nMaxWidth, int32_t nItemHeight, plat::HWND hWnd, uint32_t nRunMessage,
                uint32_t nCloseMessage);
  // Slides the menu out with the sound; it then posts its close message.
  void CloseMenu();

  CBasicMenuEx* GetMenu() const { return m_pMenu; }
  CVyPicture* GetBackground() const { return m_pBackground; }

 private:
  void DropMenu();

  CBasicMenuEx* m_pMenu = nullptr;
  CVyPicture* m_pBackground = nullptr;
};

class CVyToolkitServices : public CVyServices {
 public:
  CVyToolkitServices();
  ~CVyToolkitServices() override;

  void SetResourceInstance(plat::ModuleHandle hInstance) override;
  void LoadFrameSkin(const std::vector<int32_t>& ids) override;
  void SetMenuItemImageIDs(const std::vector<int32_t>& ids) override;
  void SetMenuImageIDs(const std::vector<int32_t>& ids) override;
  void Load(plat::HWND hWnd) override;
  void Open(int32_t nType) override;
  // Unloads and destroys the screen.
  void UnLoad() override;
  bool IsLoaded() const override;
  plat::LRESULT ForwardMessage(plat::HWND hWnd, uint32_t nMsg, plat::WPARAM wParam, plat::LPARAM lParam) override;
  void Paint(plat::HDC hdc) override;
  void StartRender() override;
  void ResumeRenderCurrentGUI() override;
  void ReleaseGlobalDCs() override;
  void ShowMenu(plat::HBITMAP hSnapshot, const plat::Rect& rcClient, const std::vector<TVyMenuItem>& items,
                int32_t nWidth, int32_t nMaxWidth, int32_t nItemHeight, plat::HWND hWnd, uint32_t nRunMessage,
                uint32_t nCloseMessage) override;
  void CloseMenu() override;

  COptionsMenuGUI* Screen() const { return m_pGui.get(); }

 private:
  std::unique_ptr<COptionsMenuGUI> m_pGui;
};

// The process's toolkit services; the program installs them with
// SetVyServices(&ToolkitServices()).
CVyToolkitServices& ToolkitServices();
