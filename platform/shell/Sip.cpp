// The input panel: only its on/off state matters to the program. Nothing is
// drawn; the rectangles say where a panel would sit on the current screen.
#include <mutex>

#include "platform/base/Errors.h"
#include "platform/display/Display.h"
#include "platform/shell/DeviceServices.h"
#include "platform/shell/ShellState.h"
#include "platform/ui/MenuBar.h"

namespace plat {
namespace {

// The panel's height at 96 dpi, as a keyboard of four rows needs it.
constexpr int32_t kPanelHeightAt96Dpi = 80;

std::mutex g_lock;
bool g_on = false;

}  // namespace

void shell_detail::ResetSip() {
  std::lock_guard<std::mutex> guard(g_lock);
  g_on = false;
}

bool SipGetInfo(SipInfo* info) {
  if (!info || info->cbSize < kSipInfoMinSize) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const Size screen = ScreenSize();
  const int32_t barTop = screen.cy - MenuBarHeight();
  const int32_t panelHeight =
      static_cast<int32_t>((static_cast<int64_t>(kPanelHeightAt96Dpi) * ScreenDpi() + 48) / 96);
  const int32_t panelTop = barTop - panelHeight < 0 ? 0 : barTop - panelHeight;
  bool on = false;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    on = g_on;
  }
  info->fdwFlags = on ? SIPF_ON : SIPF_OFF;
  info->rcSipRect = Rect{0, panelTop, screen.cx, barTop};
  info->rcVisibleDesktop = Rect{0, 0, screen.cx, on ? panelTop : barTop};
  // Everything past the rectangles is only written when the caller's record
  // has room for it.
  if (info->cbSize >= sizeof(SipInfo)) {
    info->dwImDataSize = 0;
    info->pvImData = nullptr;
  }
  return true;
}

bool SipShowIM(uint32_t flags) {
  if (flags != SIPF_ON && flags != SIPF_OFF) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::lock_guard<std::mutex> guard(g_lock);
  g_on = flags == SIPF_ON;
  return true;
}

}  // namespace plat
