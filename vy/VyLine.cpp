#include "vy/VyLine.h"

#include "vy/ImageUtil.h"

CVyLine::CVyLine(int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom, plat::COLORREF colour)
    : m_colour(colour) {
  SetRect(nLeft, nTop, nRight, nBottom, 1);
}

CVyLine::~CVyLine() = default;

int32_t CVyLine::Draw(plat::HDC hdc) {
  if (!IsVisible()) return 1;
  CIImage::FillColor(hdc, &m_rcOffset, m_colour);
  EndDraw(hdc);
  return 0;
}
