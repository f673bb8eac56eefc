// The GUI toolkit as the framework sees it: the few operations it uses to
// attach the toolkit screen to the main window and to show the options menu
// over a snapshot of the screen. Until the toolkit is linked in, the default
// does nothing (no menu appears); the toolkit installs its own object with
// SetVyServices.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/base/Strings.h"
#include "platform/module/Module.h"
#include "platform/ui/Ui.h"

namespace plat {
struct GdiBitmapTag;
using HBITMAP = GdiBitmapTag*;
}  // namespace plat

// One options-menu entry as the toolkit's menu takes it.
struct TVyMenuItem {
  plat::WString text;
  int32_t nId = 0;
  int32_t nFlag = 0;  // non-zero: disabled
};

class CVyServices {
 public:
  virtual ~CVyServices() = default;
  virtual void SetResourceInstance(plat::ModuleHandle) {}
  // The shared frame skin's six images.
  virtual void LoadFrameSkin(const std::vector<int32_t>&) {}
  virtual void SetMenuItemImageIDs(const std::vector<int32_t>&) {}  // ten ids, -1 none
  virtual void SetMenuImageIDs(const std::vector<int32_t>&) {}      // twenty-six ids, -1 none
  // The toolkit screen: attach to the window, open, detach.
  virtual void Load(plat::HWND) {}
  virtual void Open(int32_t) {}
  virtual void UnLoad() {}
  virtual bool IsLoaded() const { return false; }
  // Hands a timer, key, pointer, command or size message to the current
  // toolkit screen (its OnTimer, OnKeyDown, ... handler); nothing without one.
  virtual plat::LRESULT ForwardMessage(plat::HWND, uint32_t, plat::WPARAM, plat::LPARAM) { return 0; }
  virtual void Paint(plat::HDC) {}
  virtual void StartRender() {}
  virtual void ResumeRenderCurrentGUI() {}
  virtual void ReleaseGlobalDCs() {}
  // Shows the menu over the snapshot; the toolkit's root panel (the
  // snapshot behind the menu) and the menu take the main window's client
  // rectangle. The snapshot stays the framework's: the toolkit must copy it
  // or hold it without owning it. The menu posts `runMessage` (lParam = the
  // chosen id) and then `closeMessage` to the window; with nothing chosen
  // only `closeMessage`.
  virtual void ShowMenu(plat::HBITMAP, const plat::Rect& /*client*/, const std::vector<TVyMenuItem>&,
                        int32_t /*width*/, int32_t /*maxWidth*/, int32_t /*itemHeight*/, plat::HWND,
                        uint32_t /*runMessage*/, uint32_t /*closeMessage*/) {}
  virtual void CloseMenu() {}
};

// The installed toolkit (the do-nothing default when none is).
CVyServices& VyServices();
// Null puts the default back. The caller keeps ownership.
void SetVyServices(CVyServices* pServices);
