// What GDI takes from the window system: where a window is and what of it
// drawing may touch. The screen itself (framebuffer, size, DPI) comes
// straight from the display. Internal to GDI.
#pragma once

#include <cstdint>

#include "platform/base/Geometry.h"
#include "platform/gdi/GdiPrivate.h"

namespace plat::gdi {

// The screen framebuffer as it is now (its size follows the rotation).
Surface FrameSurface();
void FrameDamage(const Rect& screenRect);

// The screen position of a window's top-left corner and the part of the
// window that drawing may touch (the window within its ancestors), in window
// coordinates. False when the handle is not a live window.
bool WindowArea(HWND window, Point* origin, Region* visible);

// Installs GDI's side of painting in the window system (BeginPaint's DC,
// EndPaint, the background fill); done once before main.
void InstallPaintHooks();

}  // namespace plat::gdi
