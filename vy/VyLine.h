// A control that fills its rectangle with one colour: the menus' separators.
#pragma once

#include "vy/VyControl.h"

class CVyLine : public CVyControl {
 public:
  CVyLine(int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom, plat::COLORREF colour);
  ~CVyLine() override;
  // 1 when hidden (nothing drawn).
  int32_t Draw(plat::HDC hdc) override;

 private:
  plat::COLORREF m_colour;
};
