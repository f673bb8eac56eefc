// The module the toolkit loads its "IIMAGE" resources from, and the shared
// six-image frame drawn around the focused control.
#pragma once

#include <cstdint>

#include "platform/module/Module.h"
#include "vy/ImageUtil.h"

void SetResourceInstance(plat::ModuleHandle hInstance);
plat::ModuleHandle GetResourceInstance();

class CFrameSkin {
 public:
  CFrameSkin() = default;
  // Loads images 0 to 5 (vertical edge, horizontal edge, top-left,
  // bottom-left, top-right, bottom-right) once; later calls change nothing.
  void Load(int32_t nVertical, int32_t nHorizontal, int32_t nTopLeft, int32_t nBottomLeft, int32_t nTopRight,
            int32_t nBottomRight);
  // The eight pieces inside the rectangle; nothing before Load.
  void Draw(plat::HDC hdc, const RECT& rc);
  int32_t IsLoadedSkin() const { return m_bLoaded; }
  CIImage& Image(int32_t i) { return m_images[i]; }

 private:
  CIImage m_images[6];
  int32_t m_bLoaded = 0;
};

// The one shared frame skin, made on first use and kept to the end of the
// program; never null.
CFrameSkin* GetFrameSkin();
