// Accelerators, message boxes, display rotation and the test reset.
#include "platform/base/Debug.h"
#include "platform/base/Errors.h"
#include "platform/ui/UiInternal.h"

namespace plat {

using namespace ui_detail;

int TranslateAccelerator(HWND h, const Accelerators& table, Msg* msg) {
  if (!IsWindow(h)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (!msg || msg->message != WM_KEYDOWN) return 0;
  for (const Accelerator& a : table.entries) {
    if (!(a.flags & FVIRTKEY) || (a.flags & (FSHIFT | FCONTROL | FALT))) continue;
    if (a.key != msg->wParam) continue;
    SendMessage(h, WM_COMMAND, MAKEWPARAM(a.command, 1), 0);
    return 1;
  }
  return 0;
}

int MessageBox(HWND owner, WStringView text, WStringView caption, uint32_t type) {
  DebugPrintf(u"[MessageBox] %s: %s\n", WString(caption), WString(text));
  {
    UiState& s = State();
    Lock lock(s.lock);
    s.messageBoxes.push_back({owner, WString(text), WString(caption), type});
  }
  auto backend = CurrentDisplayBackend();
  return backend ? backend->ShowMessageBox(text, caption, type) : IDOK;
}

std::vector<MessageBoxRecord> MessageBoxes() {
  UiState& s = State();
  Lock lock(s.lock);
  return s.messageBoxes;
}

void ClearMessageBoxes() {
  UiState& s = State();
  Lock lock(s.lock);
  s.messageBoxes.clear();
}

int32_t ChangeDisplayOrientation(uint32_t dmdo) {
  if (!IsValidOrientation(dmdo)) return DISP_CHANGE_BADPARAM;
  if (dmdo == DisplayOrientation()) return DISP_CHANGE_SUCCESSFUL;
  SetDisplayOrientation(dmdo);
  PlaceMenuBars();
  std::vector<HWND> tops;
  {
    UiState& s = State();
    Lock lock(s.lock);
    ForEachWindowLocked(s, [](Window* w) { InvalidateWholeLocked(w, true); });
    for (Window* t : s.topLevels) {
      if (!t->platform && !t->destroying) tops.push_back(t->handle);
    }
  }
  // The screen size is already the new one when the windows hear of it.
  for (HWND h : tops) CallProc(h, WM_SETTINGCHANGE, SETTINGCHANGE_RESET, 0);
  return DISP_CHANGE_SUCCESSFUL;
}

uint32_t QueryDisplayOrientation() { return DisplayOrientation(); }

void ResetUiForTests() {
  ResetSingleInstance();
  std::vector<std::shared_ptr<SentCall>> pending;
  {
    UiState& s = State();
    Lock lock(s.lock);
    for (Posted& p : s.posted) {
      if (p.sent) pending.push_back(p.sent);
    }
    s.posted.clear();
    s.input.clear();
    s.quit = false;
    s.quitCode = 0;
    s.timers.clear();
    // Generations move on, so a handle kept from before never names a
    // window made after.
    for (uint32_t i = 0; i < s.slots.size(); ++i) {
      Slot& slot = s.slots[i];
      if (!slot.window) continue;
      slot.window.reset();
      if (++slot.generation >= (uint32_t{1} << 31)) slot.generation = 1;
      s.freeSlots.push_back(i);
    }
    s.topLevels.clear();
    s.classes.clear();
    s.focus = s.active = s.capture = s.lastActive = nullptr;
    s.uiThread = 0;
    s.pointerDown = false;
    s.lastPointer = {};
    s.idleHook = nullptr;
    s.menuBars.clear();
    s.messageBoxes.clear();
  }
  for (auto& call : pending) SetEvent(call->done);
}

}  // namespace plat
