// The shell's menu bar with its two soft keys.
#include <algorithm>

#include "platform/base/Debug.h"
#include "platform/base/Errors.h"
#include "platform/ui/UiInternal.h"

namespace plat {
namespace ui_detail {
namespace {

constexpr WChar kBarClass[] = u"PlatformMenuBar";

Rect BandRect() {
  Size screen = ScreenSize();
  int32_t band = MenuBarHeight();
  return {0, screen.cy - band, screen.cx, screen.cy};
}

// Which label a client position falls on: the left half is button 0.
int LabelAt(HWND bar, LPARAM lParam) {
  Rect client;
  if (!GetClientRect(bar, &client)) return -1;
  Point p{LOWORD(static_cast<uintptr_t>(lParam)), HIWORD(static_cast<uintptr_t>(lParam))};
  if (!Contains(client, p)) return -1;
  return p.x < client.Width() / 2 ? 0 : 1;
}

// Sends the button's command to the owner when the button can be used.
bool Fire(HWND bar, int index) {
  HWND owner;
  uint16_t command;
  {
    UiState& s = State();
    Lock lock(s.lock);
    MenuBarData* data = FindMenuBarLocked(s, bar);
    if (!data || index < 0 || index > 1 || !data->buttons[index].Active()) return false;
    owner = data->owner;
    command = data->buttons[index].command;
  }
  SendMessage(owner, WM_COMMAND, MAKEWPARAM(command, 0), reinterpret_cast<LPARAM>(bar));
  return true;
}

LRESULT BarProc(HWND h, uint32_t message, WPARAM wParam, LPARAM lParam) {
  UiState& s = State();
  switch (message) {
    case WM_LBUTTONDOWN: {
      int label = LabelAt(h, lParam);
      {
        Lock lock(s.lock);
        if (MenuBarData* data = FindMenuBarLocked(s, h)) data->pressed = label;
      }
      SetCapture(h);
      return 0;
    }
    case WM_LBUTTONUP: {
      if (GetCapture() == h) ReleaseCapture();
      int pressed = -1;
      {
        Lock lock(s.lock);
        if (MenuBarData* data = FindMenuBarLocked(s, h)) {
          pressed = data->pressed;
          data->pressed = -1;
        }
      }
      // A tap: released on the label it went down on.
      if (pressed >= 0 && LabelAt(h, lParam) == pressed) Fire(h, pressed);
      return 0;
    }
    case WM_PAINT: {
      PaintInfo paint;
      HDC dc = BeginPaint(h, &paint);
      MenuBarPainter painter;
      {
        Lock lock(s.lock);
        painter = s.menuBarPainter;
      }
      std::optional<MenuBarState> state = GetMenuBarState(h);
      Rect client;
      if (dc && painter && state && GetClientRect(h, &client)) painter(dc, client, *state);
      EndPaint(h, &paint);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;  // the painter covers the whole band
    case SHCMBM_OVERRIDEKEY:
      return MenuBarOverrideKey(h, static_cast<uint32_t>(wParam), static_cast<uint32_t>(lParam)) ? 1 : 0;
    default:
      return DefWindowProc(h, message, wParam, lParam);
  }
}

bool EnsureBarClass() {
  WndClass cls;
  cls.proc = BarProc;
  cls.name = kBarClass;
  if (RegisterClass(cls) != 0) return true;
  return GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

MenuBarData* FindMenuBarLocked(UiState& s, HWND bar) {
  for (auto& [h, data] : s.menuBars) {
    if (h == bar) return FindLocked(s, bar) ? &data : nullptr;
  }
  return nullptr;
}

HWND MenuBarOfLocked(UiState& s, const Window* top) {
  if (!top) return nullptr;
  for (auto& [h, data] : s.menuBars) {
    if (data.owner == top->handle && FindLocked(s, h)) return h;
  }
  return nullptr;
}

void ForgetMenuBarLocked(UiState& s, HWND bar) {
  std::erase_if(s.menuBars, [bar](const auto& entry) { return entry.first == bar; });
}

void PlaceMenuBars() {
  std::vector<HWND> bars;
  {
    UiState& s = State();
    Lock lock(s.lock);
    for (auto& [h, data] : s.menuBars) bars.push_back(h);
  }
  Rect band = BandRect();
  for (HWND bar : bars) {
    SetWindowPos(bar, nullptr, band.left, band.top, band.Width(), band.Height(), SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

bool MenuBarDefaultKey(HWND window, uint32_t message, uint32_t vk) {
  if (message != WM_KEYUP) return false;
  HWND bar;
  HWND top;
  uint32_t backFlags = 0;
  {
    UiState& s = State();
    Lock lock(s.lock);
    Window* t = TopLevelOf(FindLocked(s, window));
    bar = MenuBarOfLocked(s, t);
    if (!bar) return false;
    top = t->handle;
    MenuBarData* data = FindMenuBarLocked(s, bar);
    for (auto& [key, flags] : data->keyFlags) {
      if (key == VK_ESCAPE) backFlags = flags;
    }
  }
  if (vk == VK_F1 || vk == VK_F2) {
    Fire(bar, vk == VK_F1 ? 0 : 1);
    return true;
  }
  if (vk == VK_ESCAPE) {
    if (backFlags & SHMBOF_NODEFAULT) return true;  // taken over by the program
    // The shell's own Back: the program goes to the background.
    DebugWrite(u"[platform] Back key: the shell sends the program to the background\n");
    if (GetActiveWindow() == top) ActivateTopLevel(nullptr, WA_INACTIVE);
    return true;
  }
  return false;
}

}  // namespace ui_detail

using namespace ui_detail;

int32_t MenuBarHeight() { return ScreenSize().cy * 2 / 25; }

HWND SHCreateMenuBar(HWND owner, ModuleHandle module, uint16_t menuId) {
  HWND top;
  {
    UiState& s = State();
    Lock lock(s.lock);
    Window* w = FindLocked(s, owner);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    Window* t = TopLevelOf(w);
    if (t->platform) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    if (MenuBarOfLocked(s, t)) {
      SetLastError(ERROR_ALREADY_EXISTS);
      return nullptr;
    }
    top = t->handle;
  }
  std::optional<MenuTemplate> menu = LoadMenu(module, menuId);
  if (!menu) return nullptr;
  if (!EnsureBarClass()) return nullptr;

  MenuBarData data;
  data.owner = top;
  for (size_t i = 0; i < 2 && i < menu->items.size(); ++i) {
    data.buttons[i].command = menu->items[i].command;
    data.buttons[i].text = menu->items[i].text;
    data.buttons[i].enabled = true;
  }
  HWND bar = CreatePlatformWindow(WS_EX_TOPMOST, kBarClass, WS_POPUP | WS_VISIBLE, BandRect(), top);
  if (!bar) return nullptr;
  {
    UiState& s = State();
    Lock lock(s.lock);
    s.menuBars.emplace_back(bar, std::move(data));
  }
  InvalidateRect(bar, nullptr, true);
  return bar;
}

bool MenuBarSetButton(HWND bar, int index, WStringView text, bool enabled) {
  {
    UiState& s = State();
    Lock lock(s.lock);
    MenuBarData* data = FindMenuBarLocked(s, bar);
    if (!data) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    if (index < 0 || index > 1) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    data->buttons[index].text = WString(text);
    data->buttons[index].enabled = enabled;
  }
  InvalidateRect(bar, nullptr, true);
  return true;
}

bool MenuBarOverrideKey(HWND bar, uint32_t vk, uint32_t maskAndValues) {
  UiState& s = State();
  Lock lock(s.lock);
  MenuBarData* data = FindMenuBarLocked(s, bar);
  if (!data) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  uint32_t mask = LOWORD(maskAndValues);
  uint32_t values = HIWORD(maskAndValues);
  for (auto& [key, flags] : data->keyFlags) {
    if (key == vk) {
      flags = (flags & ~mask) | (values & mask);
      return true;
    }
  }
  data->keyFlags.emplace_back(vk, values & mask);
  return true;
}

HWND FindMenuBar(HWND window) {
  UiState& s = State();
  Lock lock(s.lock);
  return MenuBarOfLocked(s, TopLevelOf(FindLocked(s, window)));
}

std::optional<MenuBarState> GetMenuBarState(HWND bar) {
  UiState& s = State();
  Lock lock(s.lock);
  MenuBarData* data = FindMenuBarLocked(s, bar);
  if (!data) return std::nullopt;
  MenuBarState state;
  state.bar = bar;
  state.owner = data->owner;
  state.buttons[0] = data->buttons[0];
  state.buttons[1] = data->buttons[1];
  for (auto& [key, flags] : data->keyFlags) {
    if (key == VK_ESCAPE) state.backOverridden = (flags & SHMBOF_NODEFAULT) != 0;
  }
  state.rect = ScreenRectLocked(FindLocked(s, bar));
  return state;
}

std::optional<MenuBarState> MainMenuBarState() {
  HWND main = GetMainWindow();
  HWND bar = main ? FindMenuBar(main) : nullptr;
  return bar ? GetMenuBarState(bar) : std::nullopt;
}

void SetMenuBarPainter(MenuBarPainter painter) {
  UiState& s = State();
  Lock lock(s.lock);
  s.menuBarPainter = std::move(painter);
}

bool SHHandleWMSettingChange(HWND window, WPARAM wParam, LPARAM, ActivateInfo*) {
  if (wParam != SETTINGCHANGE_RESET) return false;
  bool hasBar;
  {
    UiState& s = State();
    Lock lock(s.lock);
    Window* w = FindLocked(s, window);
    if (!w || w->parent || w->platform) return false;
    HWND bar = MenuBarOfLocked(s, w);
    hasBar = bar && FindLocked(s, bar)->visible;
  }
  Size screen = ScreenSize();
  int32_t height = screen.cy - (hasBar ? MenuBarHeight() : 0);
  return SetWindowPos(window, nullptr, 0, 0, screen.cx, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

bool SHHandleWMActivate(HWND, WPARAM wParam, LPARAM, ActivateInfo* info) {
  if (!info) return false;
  if (LOWORD(wParam) == WA_INACTIVE) info->hwndLastFocus = GetFocus();
  return true;
}

}  // namespace plat
