#include "platform/gdi/ScreenLink.h"

#include "platform/display/Display.h"
#include "platform/ui/WindowSurface.h"

namespace plat::gdi {

Surface FrameSurface() {
  FrameBuffer& fb = ScreenFrameBuffer();
  return {PixelFormat::Rgb565, fb.Width(), fb.Height(), fb.Bits(), fb.Stride()};
}

void FrameDamage(const Rect& screenRect) { ScreenFrameBuffer().AddDamage(screenRect); }

bool WindowArea(HWND window, Point* origin, Region* visible) {
  Rect area;
  if (!GetWindowSurfaceArea(window, origin, &area)) return false;
  *visible = Region(area);
  return true;
}

}  // namespace plat::gdi

