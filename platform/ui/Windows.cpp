// Classes, windows, properties, geometry, visibility, focus, activation and
// capture.
#include <algorithm>

#include "platform/base/Errors.h"
#include "platform/ui/UiInternal.h"

namespace plat {
namespace ui_detail {
namespace {

// Handle layout: ((generation << 20) | (slot + 1)) << 4. The low four bits of
// a window handle are zero; another instance's window is (index + 1) << 4 | 8.
constexpr uintptr_t kSlotBits = 20;
constexpr uintptr_t kSlotMask = (uintptr_t{1} << kSlotBits) - 1;

HWND MakeHandle(uint32_t slot, uint32_t generation) {
  uintptr_t v = ((static_cast<uintptr_t>(generation) << kSlotBits) | (slot + 1)) << 4;
  return reinterpret_cast<HWND>(v);
}

}  // namespace

UiState& State() {
  // Never destroyed: threads may post during static destruction.
  static UiState* state = [] {
    EnsureInputSink();
    return new UiState;
  }();
  return *state;
}

HWND StripFlag(HWND h) { return reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(h) & ~uintptr_t{1}); }

bool IsProxyHandle(HWND h) { return h && (reinterpret_cast<uintptr_t>(h) & 0xF) == 8; }

Window* FindLocked(UiState& s, HWND h) {
  uintptr_t v = reinterpret_cast<uintptr_t>(h);
  if (!v || (v & 0xF) != 0) return nullptr;
  v >>= 4;
  uintptr_t slot = (v & kSlotMask);
  if (slot == 0 || slot > s.slots.size()) return nullptr;
  Slot& entry = s.slots[slot - 1];
  if (!entry.window || entry.generation != (v >> kSlotBits)) return nullptr;
  return entry.window.get();
}

Rect Intersect(const Rect& a, const Rect& b) {
  Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
  return r.IsEmpty() ? Rect{} : r;
}

Rect Union(const Rect& a, const Rect& b) {
  if (a.IsEmpty()) return b;
  if (b.IsEmpty()) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

Rect Offset(const Rect& r, int32_t dx, int32_t dy) { return {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy}; }

bool Contains(const Rect& r, Point p) { return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom; }

Window* TopLevelOf(Window* w) {
  while (w && w->parent) w = w->parent;
  return w;
}

Point ScreenOriginLocked(const Window* w) {
  Point p;
  for (; w; w = w->parent) {
    p.x += w->rect.left;
    p.y += w->rect.top;
  }
  return p;
}

Rect ScreenRectLocked(const Window* w) {
  Point o = ScreenOriginLocked(w);
  return {o.x, o.y, o.x + w->rect.Width(), o.y + w->rect.Height()};
}

bool IsVisibleLocked(const Window* w) {
  for (; w; w = w->parent) {
    if (!w->visible) return false;
  }
  return true;
}

Rect VisibleScreenRectLocked(const Window* w) {
  if (!IsVisibleLocked(w)) return {};
  Rect r = ScreenRectLocked(w);
  for (const Window* a = w->parent; a && !r.IsEmpty(); a = a->parent) r = Intersect(r, ScreenRectLocked(a));
  return r;
}

bool IsSelfOrDescendant(const Window* ancestor, const Window* w) {
  for (; w; w = w->parent) {
    if (w == ancestor) return true;
  }
  return false;
}

namespace {

void VisitTree(Window* w, const std::function<void(Window*)>& fn) {
  fn(w);
  // The procedure may not run here (the lock is held), so the list is stable.
  for (Window* c : w->children) VisitTree(c, fn);
}

}  // namespace

void ForEachWindowLocked(UiState& s, const std::function<void(Window*)>& fn) {
  for (Window* top : s.topLevels) VisitTree(top, fn);
}

void InvalidateWholeLocked(Window* w, bool erase) {
  VisitTree(w, [erase](Window* x) {
    Rect client{0, 0, x->rect.Width(), x->rect.Height()};
    if (client.IsEmpty()) return;
    x->update.Add(client);
    if (erase) x->update.erase = true;
  });
}

void ExposeLocked(UiState& s, const Rect& area) {
  if (area.IsEmpty()) return;
  ForEachWindowLocked(s, [&area](Window* w) {
    if (w->destroying) return;
    Rect hit = Intersect(VisibleScreenRectLocked(w), area);
    if (hit.IsEmpty()) return;
    Point o = ScreenOriginLocked(w);
    w->update.Add(Offset(hit, -o.x, -o.y));
    w->update.erase = true;
  });
}

LRESULT CallProc(HWND h, uint32_t message, WPARAM wParam, LPARAM lParam) {
  WndProc proc = nullptr;
  {
    UiState& s = State();
    Lock lock(s.lock);
    Window* w = FindLocked(s, h);
    if (!w) return 0;
    proc = w->cls->cls.proc;
  }
  return proc(h, message, wParam, lParam);
}

void ActivateTopLevel(HWND top, uint32_t state) {
  UiState& s = State();
  HWND previous;
  {
    Lock lock(s.lock);
    if (top && !FindLocked(s, top)) return;
    previous = FindLocked(s, s.active) ? s.active : nullptr;
    if (previous == top) return;
    s.active = top;
    if (top) s.lastActive = top;
  }
  if (previous) CallProc(previous, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 0), reinterpret_cast<LPARAM>(top));
  if (top) CallProc(top, WM_ACTIVATE, MAKEWPARAM(state, 0), reinterpret_cast<LPARAM>(previous));
}

namespace {

std::shared_ptr<ClassRec> FindClassLocked(UiState& s, WStringView name) {
  for (auto& c : s.classes) {
    if (EqualsNoCase(c->cls.name, name)) return c;
  }
  return nullptr;
}

// Where a new or restacked window goes in its sibling list: topmost
// top-level windows stay above the others.
size_t TopIndexLocked(const UiState& s, const Window* w) {
  if (w->parent || w->topmost) return 0;
  size_t i = 0;
  while (i < s.topLevels.size() && s.topLevels[i]->topmost) ++i;
  return i;
}

std::vector<Window*>& SiblingsLocked(UiState& s, Window* w) { return w->parent ? w->parent->children : s.topLevels; }

void FreeSubtreeLocked(UiState& s, Window* w, std::vector<std::shared_ptr<SentCall>>& failed) {
  for (Window* c : w->children) FreeSubtreeLocked(s, c, failed);
  w->children.clear();
  HWND h = w->handle;
  DropTimersLocked(s, h);
  FailSendsLocked(s, h, failed);
  ForgetMenuBarLocked(s, h);
  if (s.focus == h) s.focus = nullptr;
  if (s.capture == h) s.capture = nullptr;
  if (s.active == h) s.active = nullptr;
  if (s.lastActive == h) s.lastActive = nullptr;
  --w->cls->windows;
  Slot& slot = s.slots[w->slot];
  ++slot.generation;
  if (slot.generation >= (uint32_t{1} << 31)) slot.generation = 1;
  s.freeSlots.push_back(w->slot);
  slot.window.reset();
}

void ReleaseInputInSubtreeLocked(UiState& s, Window* w) {
  if (Window* f = FindLocked(s, s.focus); f && IsSelfOrDescendant(w, f)) s.focus = nullptr;
  if (Window* c = FindLocked(s, s.capture); c && IsSelfOrDescendant(w, c)) s.capture = nullptr;
}

// WM_DESTROY to the window, then to each child still alive (children of the
// moment: a child destroyed by a handler on the way is already gone).
void SendDestroyTree(HWND h) {
  CallProc(h, WM_DESTROY, 0, 0);
  std::vector<HWND> children;
  {
    UiState& s = State();
    Lock lock(s.lock);
    Window* w = FindLocked(s, h);
    if (!w) return;
    for (Window* c : w->children) children.push_back(c->handle);
  }
  for (HWND c : children) {
    {
      UiState& s = State();
      Lock lock(s.lock);
      Window* cw = FindLocked(s, c);
      if (!cw || cw->destroying) continue;
      cw->destroying = true;
    }
    SendDestroyTree(c);
  }
}

HWND CreateWindowImpl(uint32_t exStyle, WStringView className, WStringView title, uint32_t style, int32_t x,
                      int32_t y, int32_t width, int32_t height, HWND parent, uintptr_t id, ModuleHandle instance,
                      void* param, bool platform) {
  UiState& s = State();
  HWND h;
  bool child = (style & WS_CHILD) != 0;
  CreateStruct cs;
  {
    Lock lock(s.lock);
    std::shared_ptr<ClassRec> cls = FindClassLocked(s, className);
    if (!cls) {
      SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
      return nullptr;
    }
    Window* p = nullptr;
    if (parent) {
      p = FindLocked(s, parent);
      if (!p) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
      }
    }
    if (child && !p) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    if (child) {
      if (x == CW_USEDEFAULT) x = y = 0;
      if (width == CW_USEDEFAULT) width = height = 0;
    } else {
      // The whole screen, menu bar band included: the program shortens its
      // main window by the bar itself.
      if (x == CW_USEDEFAULT) x = y = 0;
      if (width == CW_USEDEFAULT) {
        Size screen = ScreenSize();
        width = screen.cx;
        height = screen.cy;
      }
    }
    width = std::max(width, 0);
    height = std::max(height, 0);

    uint32_t slot;
    if (!s.freeSlots.empty()) {
      slot = s.freeSlots.back();
      s.freeSlots.pop_back();
    } else {
      if (s.slots.size() >= kSlotMask) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
      }
      slot = static_cast<uint32_t>(s.slots.size());
      s.slots.emplace_back();
    }
    auto w = std::make_unique<Window>();
    h = MakeHandle(slot, s.slots[slot].generation);
    w->handle = h;
    w->slot = slot;
    w->cls = cls;
    w->title = WString(title);
    w->style = style;
    w->exStyle = exStyle;
    w->id = id;
    w->instance = instance;
    w->rect = {x, y, x + width, y + height};
    w->visible = (style & WS_VISIBLE) != 0;
    w->topmost = !child && (exStyle & WS_EX_TOPMOST) != 0;
    w->platform = platform;
    w->serial = s.nextSerial++;
    if (child) {
      w->parent = p;
      p->children.insert(p->children.begin(), w.get());
    } else {
      w->owner = p ? TopLevelOf(p) : nullptr;
      s.topLevels.insert(s.topLevels.begin() + static_cast<ptrdiff_t>(TopIndexLocked(s, w.get())), w.get());
    }
    ++cls->windows;
    if (s.uiThread == 0) s.uiThread = GetCurrentThreadId();
    s.slots[slot].window = std::move(w);

    cs.createParams = param;
    cs.instance = instance;
    cs.parent = parent;
    cs.x = x;
    cs.y = y;
    cs.cx = width;
    cs.cy = height;
    cs.style = style;
    cs.name = title;
    cs.className = className;
    cs.exStyle = exStyle;
  }

  if (CallProc(h, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    DestroyWindow(h);
    return nullptr;
  }
  bool activate = false;
  {
    Lock lock(s.lock);
    Window* w = FindLocked(s, h);
    if (!w) return nullptr;  // the procedure destroyed it
    if (w->visible) {
      InvalidateWholeLocked(w, true);
      activate = !child && !platform;
    }
  }
  if (activate) ActivateTopLevel(h, WA_ACTIVE);
  return h;
}

}  // namespace

HWND CreatePlatformWindow(uint32_t exStyle, WStringView className, uint32_t style, const Rect& rect, HWND owner) {
  return CreateWindowImpl(exStyle, className, u"", style, rect.left, rect.top, rect.Width(), rect.Height(), owner, 0,
                          nullptr, nullptr, true);
}

}  // namespace ui_detail

using namespace ui_detail;

uint16_t RegisterClass(const WndClass& cls) {
  if (!cls.proc || cls.name.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  UiState& s = State();
  Lock lock(s.lock);
  for (auto& c : s.classes) {
    if (EqualsNoCase(c->cls.name, cls.name)) {
      SetLastError(ERROR_CLASS_ALREADY_EXISTS);
      return 0;
    }
  }
  auto rec = std::make_shared<ClassRec>();
  rec->cls = cls;
  rec->atom = s.nextAtom++;
  if (s.nextAtom == 0) s.nextAtom = 0xC000;
  s.classes.push_back(rec);
  return rec->atom;
}

bool UnregisterClass(WStringView name, ModuleHandle) {
  UiState& s = State();
  Lock lock(s.lock);
  for (auto it = s.classes.begin(); it != s.classes.end(); ++it) {
    if (!EqualsNoCase((*it)->cls.name, name)) continue;
    if ((*it)->windows > 0) {
      SetLastError(ERROR_CLASS_HAS_WINDOWS);
      return false;
    }
    s.classes.erase(it);
    return true;
  }
  SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
  return false;
}

HWND CreateWindowEx(uint32_t exStyle, WStringView className, WStringView title, uint32_t style, int32_t x, int32_t y,
                    int32_t width, int32_t height, HWND parent, uintptr_t id, ModuleHandle instance, void* param) {
  return CreateWindowImpl(exStyle, className, title, style, x, y, width, height, parent, id, instance, param, false);
}

bool DestroyWindow(HWND h) {
  UiState& s = State();
  std::vector<HWND> owned;
  {
    Lock lock(s.lock);
    Window* w = FindLocked(s, h);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    if (w->destroying) return true;
    for (Window* t : s.topLevels) {
      if (t->owner == w) owned.push_back(t->handle);
    }
  }
  for (HWND o : owned) DestroyWindow(o);

  bool wasActive;
  {
    Lock lock(s.lock);
    Window* w = FindLocked(s, h);
    if (!w || w->destroying) return true;  // a handler of an owned window got there first
    w->destroying = true;
    ReleaseInputInSubtreeLocked(s, w);
    wasActive = !w->parent && s.active == h;
  }
  if (wasActive) ActivateTopLevel(nullptr, WA_INACTIVE);
  SendDestroyTree(h);

  std::vector<std::shared_ptr<SentCall>> failed;
  {
    Lock lock(s.lock);
    Window* w = FindLocked(s, h);
    if (!w) return true;
    ReleaseInputInSubtreeLocked(s, w);
    Rect covered = VisibleScreenRectLocked(w);
    auto& siblings = SiblingsLocked(s, w);
    siblings.erase(std::find(siblings.begin(), siblings.end(), w));
    // Owned windows created by a handler during destruction lose their owner.
    for (Window* t : s.topLevels) {
      if (t->owner && IsSelfOrDescendant(w, t->owner)) t->owner = nullptr;
    }
    FreeSubtreeLocked(s, w, failed);
    ExposeLocked(s, covered);
  }
  for (auto& call : failed) SetEvent(call->done);
  return true;
}

bool IsWindow(HWND h) {
  UiState& s = State();
  {
    Lock lock(s.lock);
    if (FindLocked(s, h)) return true;
  }
  return IsLiveProxy(StripFlag(h));
}

HWND GetParent(HWND h) {
  UiState& s = State();
  Lock lock(s.lock);
  Window* w = FindLocked(s, h);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return w->parent ? w->parent->handle : nullptr;
}

bool SetProp(HWND h, WStringView name, void* data) {
  UiState& s = State();
  Lock lock(s.lock);
  Window* w = FindLocked(s, h);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  if (name.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  for (auto& [key, value] : w->props) {
    if (EqualsNoCase(key, name)) {
      value = data;
      return true;
    }
  }
  w->props.emplace_back(WString(name), data);
  return true;
}

void* GetProp(HWND h, WStringView name) {
  UiState& s = State();
  Lock lock(s.lock);
  Window* w = FindLocked(s, h);
  if (!w) return nullptr;
  for (auto& [key, value] : w->props) {
    if (EqualsNoCase(key, name)) return value;
  }
  return nullptr;
}

void* RemoveProp(HWND h, WStringView name) {
  UiState& s = State();
  Lock lock(s.lock);
  Window* w = FindLocked(s, h);
  if (!w) return nullptr;
  for (auto it = w->props.begin(); it != w->props.end(); ++it) {
    if (EqualsNoCase(it->first, name)) {
      void* v = it->second;
      w->props.erase(it);
      return v;
    }
  }
  return nullptr;
}

bool GetWindowRect(HWND h, Rect* rect) {
  UiState& s = State();
  Lock lock(s.lock);
  Window* w = FindLocked(s, h);
  if (!w || !rect) {
    SetLastError(w ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  *rect = ScreenRectLocked(w);
  return true;
}

bool GetClientRect(HWND h, Rect* rect) {
  UiState& s = State();
  Lock lock(s.lock);
  Window* w = FindLocked(s, h);
  if (!w || !rect) {
    SetLastError(w ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  *rect = {0, 0, w->rect.Width(), w->rect.Height()};
  return true;
}

int GetSystemMetrics(int index) {
  Size screen = ScreenSize();
  if (index == SM_CXSCREEN) return screen.cx;
  if (index == SM_CYSCREEN) return screen.cy;
  return 0;
}

bool GetWindowSurfaceArea(HWND h, Point* origin, Rect* visible) {
  UiState& s = State();
  Lock lock(s.lock);
  Window* w = FindLocked(s, h);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  Point o = ScreenOriginLocked(w);
  if (origin) *origin = o;
  if (visible) *visible = Offset(VisibleScreenRectLocked(w), -o.x, -o.y);
  if (visible && visible->IsEmpty()) *visible = {};
  return true;
}

bool SetWindowPos(HWND h, HWND after, int32_t x, int32_t y, int32_t cx, int32_t cy, uint32_t flags) {
  UiState& s = State();
  WindowPos pos;
  bool deactivate = false;
  {
    Lock lock(s.lock);
    Window* w = FindLocked(s, h);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    Rect old = w->rect;
    Rect next = old;
    if (!(flags & SWP_NOMOVE)) next = Offset(next, x - old.left, y - old.top);
    if (!(flags & SWP_NOSIZE)) {
      next.right = next.left + std::max(cx, 0);
      next.bottom = next.top + std::max(cy, 0);
    }
    uint32_t done = flags & ~(SWP_SHOWWINDOW | SWP_HIDEWINDOW);
    if (next.left == old.left && next.top == old.top) done |= SWP_NOMOVE;
    if (next.Width() == old.Width() && next.Height() == old.Height()) done |= SWP_NOSIZE;

    // Where the window goes among its siblings.
    auto& siblings = SiblingsLocked(s, w);
    size_t current = static_cast<size_t>(std::find(siblings.begin(), siblings.end(), w) - siblings.begin());
    std::optional<size_t> target;
    bool topmost = w->topmost;
    if (!(flags & SWP_NOZORDER)) {
      if (after == HWND_TOP) {
        target = 0;
      } else if (after == HWND_BOTTOM) {
        target = siblings.size() - 1;
      } else if (after == HWND_TOPMOST || after == HWND_NOTOPMOST) {
        if (!w->parent) topmost = after == HWND_TOPMOST;
        target = 0;
      } else {
        Window* a = FindLocked(s, after);
        if (!a || a == w || a->parent != w->parent) {
          SetLastError(ERROR_INVALID_PARAMETER);
          return false;
        }
        size_t ai = static_cast<size_t>(std::find(siblings.begin(), siblings.end(), a) - siblings.begin());
        target = ai < current ? ai + 1 : ai;  // index once w is out of the list
      }
    }
    if (target) {
      // Keep topmost top-level windows above the others.
      size_t floor = 0, ceiling = siblings.size() - 1;
      if (!w->parent) {
        size_t topmostCount = 0;
        for (Window* t : siblings) {
          if (t != w && t->topmost) ++topmostCount;
        }
        if (topmost) {
          ceiling = topmostCount;
        } else {
          floor = topmostCount;
        }
      }
      *target = std::clamp(*target, floor, std::max(floor, ceiling));
      if (*target == current && topmost == w->topmost) {
        done |= SWP_NOZORDER;
        target.reset();
      }
    } else {
      done |= SWP_NOZORDER;
    }

    bool show = (flags & SWP_SHOWWINDOW) && !w->visible;
    bool hide = (flags & SWP_HIDEWINDOW) && w->visible && !show;
    if (show) done |= SWP_SHOWWINDOW;
    if (hide) done |= SWP_HIDEWINDOW;
    if ((done & (SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER)) == (SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER) && !show &&
        !hide) {
      return true;  // nothing changes, nothing is said
    }

    Rect before = VisibleScreenRectLocked(w);
    w->rect = next;
    if (target) {
      siblings.erase(siblings.begin() + static_cast<ptrdiff_t>(current));
      siblings.insert(siblings.begin() + static_cast<ptrdiff_t>(*target), w);
      w->topmost = topmost;
    }
    if (show) w->visible = true;
    if (hide) w->visible = false;
    // What lay outside the new size is no longer part of the window.
    if (!(done & SWP_NOSIZE)) w->update.ClipTo({0, 0, next.Width(), next.Height()});
    if (!(flags & SWP_NOREDRAW)) {
      ExposeLocked(s, before);
      Rect after_ = VisibleScreenRectLocked(w);
      ExposeLocked(s, after_);
      if (show) InvalidateWholeLocked(w, true);
    }
    deactivate = hide && !w->parent && s.active == h;
    pos = {h, after, next.left, next.top, next.Width(), next.Height(), done};
  }
  CallProc(h, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
  if (deactivate) ActivateTopLevel(nullptr, WA_INACTIVE);
  return true;
}

bool MoveWindow(HWND h, int32_t x, int32_t y, int32_t width, int32_t height, bool repaint) {
  return SetWindowPos(h, nullptr, x, y, width, height,
                      SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0u : SWP_NOREDRAW));
}

bool ShowWindow(HWND h, int command) {
  if (IsProxyHandle(StripFlag(h))) return ProxyShow(StripFlag(h), command);
  UiState& s = State();
  bool wasVisible, topLevel;
  {
    Lock lock(s.lock);
    Window* w = FindLocked(s, h);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    wasVisible = w->visible;
    topLevel = !w->parent && !w->platform;
  }
  constexpr uint32_t kKeep = SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE;
  switch (command) {
    case SW_HIDE:
      if (wasVisible) SetWindowPos(h, nullptr, 0, 0, 0, 0, kKeep | SWP_HIDEWINDOW);
      return wasVisible;
    case SW_SHOWNORMAL:
    case SW_SHOW:
      if (!wasVisible) SetWindowPos(h, nullptr, 0, 0, 0, 0, kKeep | SWP_SHOWWINDOW);
      if (topLevel && IsWindow(h)) ActivateTopLevel(h, WA_ACTIVE);
      return wasVisible;
    case SW_SHOWNOACTIVATE:
    case SW_SHOWNA:
      if (!wasVisible) SetWindowPos(h, nullptr, 0, 0, 0, 0, kKeep | SWP_SHOWWINDOW);
      return wasVisible;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
  }
}

bool IsWindowVisible(HWND h) {
  UiState& s = State();
  Lock lock(s.lock);
  Window* w = FindLocked(s, h);
  return w && IsVisibleLocked(w);
}

std::vector<HWND> VisibleTopLevelWindowsAbove(HWND h) {
  UiState& s = State();
  Lock lock(s.lock);
  std::vector<HWND> above;
  Window* w = FindLocked(s, h);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return above;
  }
  Window* top = TopLevelOf(w);
  for (Window* t : s.topLevels) {
    if (t == top) break;
    if (t->visible && !t->destroying) above.push_back(t->handle);
  }
  return above;
}

HWND SetFocus(HWND h) {
  UiState& s = State();
  HWND previous;
  {
    Lock lock(s.lock);
    if (h && !FindLocked(s, h)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    previous = FindLocked(s, s.focus) ? s.focus : nullptr;
    if (previous == h) return previous;
    s.focus = h;
  }
  if (previous) CallProc(previous, WM_KILLFOCUS, reinterpret_cast<WPARAM>(h), 0);
  if (h) {
    {
      Lock lock(s.lock);
      if (s.focus != h) return previous;  // a WM_KILLFOCUS handler moved it on
    }
    CallProc(h, WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0);
  }
  return previous;
}

HWND GetFocus() {
  UiState& s = State();
  Lock lock(s.lock);
  return FindLocked(s, s.focus) ? s.focus : nullptr;
}

bool SetForegroundWindow(HWND h) {
  h = StripFlag(h);
  if (IsProxyHandle(h)) return ProxyActivate(h);
  UiState& s = State();
  HWND top;
  {
    Lock lock(s.lock);
    Window* w = FindLocked(s, h);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    Window* t = TopLevelOf(w);
    if (t->platform || t->handle == s.active) return true;
    top = t->handle;
  }
  SetWindowPos(top, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  ActivateTopLevel(top, WA_ACTIVE);
  if (auto backend = CurrentDisplayBackend()) backend->Raise();
  return true;
}

HWND GetForegroundWindow() { return GetActiveWindow(); }

HWND GetActiveWindow() {
  UiState& s = State();
  Lock lock(s.lock);
  return FindLocked(s, s.active) ? s.active : nullptr;
}

HWND SetCapture(HWND h) {
  UiState& s = State();
  Lock lock(s.lock);
  if (!FindLocked(s, h)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  HWND previous = FindLocked(s, s.capture) ? s.capture : nullptr;
  s.capture = h;
  return previous;
}

bool ReleaseCapture() {
  UiState& s = State();
  Lock lock(s.lock);
  s.capture = nullptr;
  return true;
}

HWND GetCapture() {
  UiState& s = State();
  Lock lock(s.lock);
  return FindLocked(s, s.capture) ? s.capture : nullptr;
}

HWND GetMainWindow() {
  UiState& s = State();
  Lock lock(s.lock);
  Window* best = nullptr;
  for (Window* t : s.topLevels) {
    if (t->platform || t->destroying) continue;
    if (!best || t->serial < best->serial) best = t;
  }
  return best ? best->handle : nullptr;
}

HWND FindWindow(WStringView className, WStringView title) {
  {
    UiState& s = State();
    Lock lock(s.lock);
    for (Window* t : s.topLevels) {
      if (t->platform || t->destroying) continue;
      if (!className.empty() && !EqualsNoCase(t->cls->cls.name, className)) continue;
      if (!title.empty() && !EqualsNoCase(t->title, title)) continue;
      return t->handle;
    }
  }
  if (className.empty()) return nullptr;
  return FindOtherInstance(className);
}

LRESULT DefWindowProc(HWND h, uint32_t message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_WINDOWPOSCHANGED: {
      const auto* pos = reinterpret_cast<const WindowPos*>(lParam);
      if (!pos) return 0;
      if (!(pos->flags & SWP_NOMOVE)) CallProc(h, WM_MOVE, 0, MAKELPARAM(pos->x, pos->y));
      if (!(pos->flags & SWP_NOSIZE)) CallProc(h, WM_SIZE, SIZE_RESTORED, MAKELPARAM(pos->cx, pos->cy));
      return 0;
    }
    case WM_CLOSE:
      DestroyWindow(h);
      return 0;
    case WM_PAINT: {
      PaintInfo paint;
      BeginPaint(h, &paint);
      EndPaint(h, &paint);
      return 0;
    }
    case WM_ERASEBKGND: {
      UiState& s = State();
      HBRUSH brush = nullptr;
      PaintHooks hooks;
      Rect client;
      {
        Lock lock(s.lock);
        Window* w = FindLocked(s, h);
        if (!w) return 0;
        brush = w->cls->cls.background;
        hooks = s.paintHooks;
        client = {0, 0, w->rect.Width(), w->rect.Height()};
      }
      HDC dc = reinterpret_cast<HDC>(wParam);
      if (!brush || !dc || !hooks.fillBackground) return 0;
      return hooks.fillBackground(dc, client, brush) ? 1 : 0;
    }
    case WM_KEYDOWN:
    case WM_KEYUP:
      MenuBarDefaultKey(h, message, static_cast<uint32_t>(wParam));
      return 0;
    default:
      return 0;
  }
}

}  // namespace plat
