// The shell's menu bar: a platform window in the bottom band of the screen
// (2/25 of the screen height, following rotation) with the two soft-key
// labels. A tap on an enabled label, or the key F1 / F2 released in any window
// of the bar's owner, sends WM_COMMAND with the button's command (40000 and
// 40001 from the program's menu) to the owner; a disabled or empty label sends
// nothing. The Back key (27), until it is overridden, is the shell's: its
// release sends the application to the background.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "platform/ui/Ui.h"

namespace plat {

// The message the program sends to the bar to take a key over:
// wParam = the virtual key, lParam = MAKELPARAM(mask, values) of the flags.
constexpr uint32_t SHCMBM_OVERRIDEKEY = WM_USER + 403;
constexpr uint32_t SHMBOF_NODEFAULT = 0x1;  // the shell does not handle the key
constexpr uint32_t SHMBOF_NOTIFY = 0x2;

constexpr uint16_t kSoftKeyLeftCommand = 40000;
constexpr uint16_t kSoftKeyRightCommand = 40001;

// Creates the bar for `owner`'s top-level window from the menu resource:
// its first two items give button 0 (left) and button 1 (right) their
// command and text; a missing item leaves that button without a command.
// The bar is shown without activating anything and stays above the
// program's windows. Null with the last error when the owner is not a window
// (ERROR_INVALID_WINDOW_HANDLE), already has a bar (ERROR_ALREADY_EXISTS) or
// the menu cannot be loaded (the module's error).
HWND SHCreateMenuBar(HWND owner, ModuleHandle module, uint16_t menuId);
// Index 0 or 1. Redraws the bar. False with ERROR_INVALID_WINDOW_HANDLE for
// a window that is not a bar, ERROR_INVALID_PARAMETER for another index.
bool MenuBarSetButton(HWND bar, int index, WStringView text, bool enabled);
// The effect of SHCMBM_OVERRIDEKEY: the flags under the mask take the values.
bool MenuBarOverrideKey(HWND bar, uint32_t vk, uint32_t maskAndValues);

// The band's height on the current screen.
int32_t MenuBarHeight();
// The bar of a window's top-level window; null when it has none.
HWND FindMenuBar(HWND window);

struct MenuBarButton {
  uint16_t command = 0;
  WString text;
  bool enabled = false;
  bool Active() const { return enabled && command != 0 && !text.empty(); }
};
struct MenuBarState {
  HWND bar = nullptr;
  HWND owner = nullptr;
  MenuBarButton buttons[2];
  bool backOverridden = false;
  Rect rect;  // on the screen
};
std::optional<MenuBarState> GetMenuBarState(HWND bar);
// The bar of the main window, if any (for the test harness).
std::optional<MenuBarState> MainMenuBarState();

// Draws the bar into its paint DC: given the DC, the bar's client rectangle
// and its state. Installed by whoever links GDI and text; without one the
// bar only validates.
using MenuBarPainter = std::function<void(HDC dc, const Rect& client, const MenuBarState& state)>;
void SetMenuBarPainter(MenuBarPainter painter);

// The shell's activation record (the program sets its size field to 12).
struct ActivateInfo {
  uint32_t cbSize = 0;
  HWND hwndLastFocus = nullptr;
  uint32_t flags = 0;
};
// On SETTINGCHANGE_RESET a top-level window is fitted to the new screen:
// its whole width, from the top down to the bar's band when it owns a bar.
// Other settings, child windows: nothing. Returns whether it acted.
bool SHHandleWMSettingChange(HWND window, WPARAM wParam, LPARAM lParam, ActivateInfo* info);
// The shell's side of WM_ACTIVATE. On the phone it restores the input panel
// and the focus of the window being activated. Here it only keeps the record:
// a deactivation notes the window that held the focus in `hwndLastFocus`;
// nothing else visible happens. False for a null record.
bool SHHandleWMActivate(HWND window, WPARAM wParam, LPARAM lParam, ActivateInfo* info);

}  // namespace plat
