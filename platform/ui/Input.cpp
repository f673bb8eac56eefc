// Input: injection from backends and tests, and the routing that turns a
// queued event into a message for a window when it is taken from the queue.
#include <algorithm>

#include "platform/base/Errors.h"
#include "platform/registry/Registry.h"
#include "platform/ui/UiInternal.h"

namespace plat {
namespace ui_detail {
namespace {

Window* HitTestIn(Window* w, Point pt) {
  if (!w->visible || w->destroying || !Contains(ScreenRectLocked(w), pt)) return nullptr;
  for (Window* c : w->children) {
    if (Window* hit = HitTestIn(c, pt)) return hit;
  }
  return w;
}

Window* HitTestLocked(UiState& s, Point pt) {
  for (Window* t : s.topLevels) {
    if (Window* hit = HitTestIn(t, pt)) return hit;
  }
  return nullptr;
}

Window* MainWindowLocked(UiState& s) {
  Window* best = nullptr;
  for (Window* t : s.topLevels) {
    if (!t->platform && !t->destroying && (!best || t->serial < best->serial)) best = t;
  }
  return best;
}

void Push(InputEvent e) {
  UiState& s = State();
  {
    Lock lock(s.lock);
    s.input.push_back(e);
  }
  WakeDisplay();
}

// The window system's end of the backend's input.
class Sink : public IInputSink {
 public:
  void Pointer(PointerKind kind, int32_t x, int32_t y) override { InjectPointer(kind, x, y); }
  void Key(uint32_t vk, bool down) override { InjectKey(vk, down); }
  void Activation(bool active, bool byClick) override { InjectActivation(active, byClick); }
  void Close() override { InjectClose(); }
  // Both send messages; they run as platform tasks, in order with the rest.
  void Rotate(uint32_t dmdo) override {
    PostTask([dmdo] { ChangeDisplayOrientation(dmdo); });
  }
  void Slide(bool open) override {
    PostTask([open] { SetSlideState(open); });
  }
};

struct SinkInstaller {
  SinkInstaller() { SetDisplayInputSink(&sink); }
  Sink sink;
};

}  // namespace

void EnsureInputSink() {
  static SinkInstaller* installer = new SinkInstaller;  // lives as long as the display may call it
  (void)installer;
}

bool ResolveInputLocked(UiState& s, const InputEvent& e, Msg* out) {
  *out = {};
  out->time = e.time;
  out->pt = s.lastPointer;
  switch (e.kind) {
    case InputKind::PointerDown:
    case InputKind::PointerMove:
    case InputKind::PointerUp: {
      Window* target = FindLocked(s, s.capture);
      if (!target) target = HitTestLocked(s, e.pt);
      if (!target) return false;
      Point o = ScreenOriginLocked(target);
      out->hwnd = target->handle;
      out->message = e.kind == InputKind::PointerDown   ? WM_LBUTTONDOWN
                     : e.kind == InputKind::PointerMove ? WM_MOUSEMOVE
                                                        : WM_LBUTTONUP;
      out->wParam = e.kind == InputKind::PointerUp ? 0 : MK_LBUTTON;
      // Two unsigned 16-bit words: a position left of or above the window
      // (only while captured) wraps, as on the device.
      out->lParam = MAKELPARAM(static_cast<uint16_t>(e.pt.x - o.x), static_cast<uint16_t>(e.pt.y - o.y));
      out->pt = e.pt;
      return true;
    }
    case InputKind::KeyDown:
    case InputKind::KeyUp: {
      Window* target = FindLocked(s, s.focus);
      if (!target) target = FindLocked(s, s.active);
      if (!target) return false;
      out->hwnd = target->handle;
      out->message = e.kind == InputKind::KeyDown ? WM_KEYDOWN : WM_KEYUP;
      out->wParam = e.vk;
      out->lParam = e.kind == InputKind::KeyDown ? 1 : static_cast<LPARAM>(0xC0000001u);
      return true;
    }
    case InputKind::Close: {
      Window* main = MainWindowLocked(s);
      if (!main) return false;
      out->hwnd = main->handle;
      out->message = WM_CLOSE;
      return true;
    }
    case InputKind::Activate:
    case InputKind::Deactivate:
      return false;
  }
  return false;
}

}  // namespace ui_detail

using namespace ui_detail;

void InjectPointer(PointerKind kind, int32_t x, int32_t y) {
  uint32_t now = GetTickCount();
  UiState& s = State();
  {
    Lock lock(s.lock);
    InputEvent e;
    e.pt = {x, y};
    e.time = now;
    switch (kind) {
      case PointerKind::Down:
        e.kind = InputKind::PointerDown;
        s.pointerDown = true;
        break;
      case PointerKind::Move:
        // A touch screen reports no position while nothing touches it.
        if (!s.pointerDown) return;
        e.kind = InputKind::PointerMove;
        if (!s.input.empty() && s.input.back().kind == InputKind::PointerMove) {
          s.input.back().pt = e.pt;
          s.input.back().time = now;
          s.lastPointer = e.pt;
          return;  // the UI thread has not seen the earlier move yet
        }
        break;
      case PointerKind::Up:
        if (!s.pointerDown) return;
        e.kind = InputKind::PointerUp;
        s.pointerDown = false;
        break;
    }
    s.lastPointer = e.pt;
    s.input.push_back(e);
  }
  WakeDisplay();
}

void InjectKey(uint32_t vk, bool down) {
  InputEvent e;
  e.kind = down ? InputKind::KeyDown : InputKind::KeyUp;
  e.vk = vk;
  e.time = GetTickCount();
  Push(e);
}

void InjectActivation(bool active, bool byClick) {
  InputEvent e;
  e.kind = active ? InputKind::Activate : InputKind::Deactivate;
  e.byClick = byClick;
  e.time = GetTickCount();
  Push(e);
}

void InjectClose() {
  InputEvent e;
  e.kind = InputKind::Close;
  e.time = GetTickCount();
  Push(e);
}

bool SetSlideState(bool open) {
  long rc = WriteDword(HKEY_CURRENT_USER, u"ControlPanel\\MotionSensor", u"SlideState", open ? 1 : 0);
  if (rc != 0) {
    SetLastError(static_cast<uint32_t>(rc));
    return false;
  }
  if (HWND main = GetMainWindow()) PostMessage(main, WM_SLIDE_CHANGED, 0, 0);
  return true;
}

}  // namespace plat
