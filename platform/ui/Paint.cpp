// Update areas, invalidation and the paint calls.
#include <algorithm>

#include "platform/base/Errors.h"
#include "platform/ui/UiInternal.h"

namespace plat {
namespace ui_detail {

namespace {

bool Covers(const Rect& outer, const Rect& inner) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

}  // namespace

Rect UpdateArea::Bounds() const {
  Rect b;
  for (const Rect& r : m_rects) b = Union(b, r);
  return b;
}

void UpdateArea::Add(const Rect& r) {
  ++m_version;
  if (r.IsEmpty()) return;
  for (const Rect& e : m_rects) {
    if (Covers(e, r)) return;
  }
  std::erase_if(m_rects, [&r](const Rect& e) { return Covers(r, e); });
  m_rects.push_back(r);
  if (m_rects.size() > kMaxRects) Collapse();
}

void UpdateArea::Subtract(const Rect& cut) {
  ++m_version;
  if (cut.IsEmpty() || m_rects.empty()) return;
  std::vector<Rect> kept;
  for (const Rect& e : m_rects) {
    Rect hit = Intersect(e, cut);
    if (hit.IsEmpty()) {
      kept.push_back(e);
      continue;
    }
    // What is left of e: the bands above and below the cut, then the parts
    // beside it.
    if (e.top < hit.top) kept.push_back({e.left, e.top, e.right, hit.top});
    if (hit.bottom < e.bottom) kept.push_back({e.left, hit.bottom, e.right, e.bottom});
    if (e.left < hit.left) kept.push_back({e.left, hit.top, hit.left, hit.bottom});
    if (hit.right < e.right) kept.push_back({hit.right, hit.top, e.right, hit.bottom});
  }
  m_rects = std::move(kept);
  if (m_rects.size() > kMaxRects) Collapse();
  if (m_rects.empty()) erase = false;
}

void UpdateArea::ClipTo(const Rect& r) {
  ++m_version;
  std::vector<Rect> kept;
  for (const Rect& e : m_rects) {
    Rect c = Intersect(e, r);
    if (!c.IsEmpty()) kept.push_back(c);
  }
  m_rects = std::move(kept);
  if (m_rects.empty()) erase = false;
}

void UpdateArea::Collapse() {
  Rect b = Bounds();
  m_rects.assign(1, b);
}

}  // namespace ui_detail

using namespace ui_detail;

PaintHooks SetPaintHooks(const PaintHooks& hooks) {
  UiState& s = State();
  Lock lock(s.lock);
  PaintHooks previous = s.paintHooks;
  s.paintHooks = hooks;
  return previous;
}

bool InvalidateRect(HWND h, const Rect* rect, bool erase) {
  UiState& s = State();
  Lock lock(s.lock);
  if (!h) {
    ForEachWindowLocked(s, [erase](Window* w) { InvalidateWholeLocked(w, erase); });
    return true;
  }
  Window* w = FindLocked(s, h);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  Rect client{0, 0, w->rect.Width(), w->rect.Height()};
  Rect area = rect ? Intersect(*rect, client) : client;
  if (area.IsEmpty()) return true;
  w->update.Add(area);
  if (erase) w->update.erase = true;
  return true;
}

bool ValidateRect(HWND h, const Rect* rect) {
  UiState& s = State();
  Lock lock(s.lock);
  Window* w = FindLocked(s, h);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  if (rect) {
    w->update.Subtract(*rect);
  } else {
    w->update.Clear();
  }
  return true;
}

bool GetUpdateRect(HWND h, Rect* rect, bool) {
  UiState& s = State();
  Lock lock(s.lock);
  Window* w = FindLocked(s, h);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    if (rect) *rect = {};
    return false;
  }
  Rect b = Intersect(w->update.Bounds(), {0, 0, w->rect.Width(), w->rect.Height()});
  if (rect) *rect = b;
  return !b.IsEmpty();
}

HDC BeginPaint(HWND h, PaintInfo* paint) {
  if (!paint) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  *paint = {};
  UiState& s = State();
  Rect bounds;
  bool erase;
  PaintHooks hooks;
  {
    Lock lock(s.lock);
    Window* w = FindLocked(s, h);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    bounds = Intersect(w->update.Bounds(), {0, 0, w->rect.Width(), w->rect.Height()});
    erase = w->update.erase && !bounds.IsEmpty();
    w->update.Clear();
    hooks = s.paintHooks;
  }
  HDC dc = hooks.beginPaint ? hooks.beginPaint(h, bounds) : nullptr;
  bool stillToErase = false;
  if (erase) stillToErase = CallProc(h, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0) == 0;
  paint->hdc = dc;
  paint->erase = stillToErase;
  paint->rcPaint = bounds;
  return dc;
}

bool EndPaint(HWND h, const PaintInfo* paint) {
  if (!paint) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  PaintHooks hooks;
  {
    UiState& s = State();
    Lock lock(s.lock);
    hooks = s.paintHooks;
  }
  if (paint->hdc && hooks.endPaint) hooks.endPaint(h, paint->hdc);
  return true;
}

}  // namespace plat
