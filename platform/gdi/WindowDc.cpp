// Screen and window DCs, and GDI's side of BeginPaint and EndPaint.
#include "platform/base/Errors.h"
#include "platform/gdi/GdiPrivate.h"
#include "platform/gdi/ScreenLink.h"
#include "platform/ui/WindowSurface.h"

namespace plat::gdi {

std::shared_ptr<DcObject> NewDc(DcKind kind);

namespace {

HDC PaintDc(HWND window, const Rect& paintRect) {
  HDC hdc = GetDC(window);
  if (auto dc = LookupDc(hdc)) dc->paintArea = paintRect;
  return hdc;
}

void EndPaintDc(HWND window, HDC dc) { ReleaseDC(window, dc); }

bool FillBackground(HDC dc, const Rect& rect, HBRUSH brush) {
  auto object = Lookup<BrushObject>(brush, ObjectKind::Brush);
  if (!object || object->null) return false;
  return FillRect(dc, rect, brush) != 0;
}

}  // namespace

void InstallPaintHooks() {
  PaintHooks hooks;
  hooks.beginPaint = PaintDc;
  hooks.endPaint = EndPaintDc;
  hooks.fillBackground = FillBackground;
  SetPaintHooks(hooks);
}

}  // namespace plat::gdi

namespace plat {

using namespace gdi;

HDC GetDC(HWND window) {
  auto dc = NewDc(window ? DcKind::Window : DcKind::Screen);
  if (window) {
    if (!GetWindowSurfaceArea(window, nullptr, nullptr)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    dc->window = window;
  }
  return reinterpret_cast<HDC>(RegisterObject(std::move(dc)));
}

int ReleaseDC(HWND, HDC hdc) {
  auto dc = LookupDc(hdc);
  if (!dc) return 0;
  if (dc->dcKind == DcKind::Memory) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return UnregisterObject(reinterpret_cast<uintptr_t>(hdc), ObjectKind::Dc) ? 1 : 0;
}

}  // namespace plat
