// What GDI needs from the window system, and what it lends back. GDI links
// against the window system, not the other way round: BeginPaint's DC and the
// class-brush fill of WM_ERASEBKGND come through the hooks GDI installs.
#pragma once

#include "platform/base/Geometry.h"
#include "platform/ui/Ui.h"

namespace plat {

// The window's top-left corner on the screen, and the part of the window
// (in window coordinates) that lies inside every ancestor: empty while the
// window or an ancestor is hidden. False for a handle that is not a window.
bool GetWindowSurfaceArea(HWND window, Point* screenOrigin, Rect* visibleInWindow);

struct PaintHooks {
  // A DC on the window, clipped to `paintRect` (window coordinates). Called
  // by BeginPaint after the window was validated.
  HDC (*beginPaint)(HWND window, const Rect& paintRect) = nullptr;
  // Called by EndPaint with BeginPaint's DC.
  void (*endPaint)(HWND window, HDC dc) = nullptr;
  // WM_ERASEBKGND's default: fills `rect` with `brush`; false when nothing
  // was filled.
  bool (*fillBackground)(HDC dc, const Rect& rect, HBRUSH brush) = nullptr;
};
// Returns the hooks it replaced.
PaintHooks SetPaintHooks(const PaintHooks& hooks);

}  // namespace plat
