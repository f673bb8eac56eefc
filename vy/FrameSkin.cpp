#include "vy/FrameSkin.h"

namespace {

constinit plat::ModuleHandle s_hResourceInstance = nullptr;

// Geometry uses 0 x 0 for a piece that did not load, so that a missing
// corner cannot push the frame apart by the empty image's nominal size.
int32_t W(const CIImage& image) { return image.IsLoaded() ? image.GetWidth() : 0; }
int32_t H(const CIImage& image) { return image.IsLoaded() ? image.GetHeight() : 0; }

}  // namespace

void SetResourceInstance(plat::ModuleHandle hInstance) { s_hResourceInstance = hInstance; }
plat::ModuleHandle GetResourceInstance() { return s_hResourceInstance; }

void CFrameSkin::Load(int32_t nVertical, int32_t nHorizontal, int32_t nTopLeft, int32_t nBottomLeft,
                      int32_t nTopRight, int32_t nBottomRight) {
  if (m_bLoaded) return;
  const int32_t ids[6] = {nVertical, nHorizontal, nTopLeft, nBottomLeft, nTopRight, nBottomRight};
  for (int32_t i = 0; i < 6; ++i) m_images[i].Load(GetResourceInstance(), ids[i]);
  m_bLoaded = 1;
}

void CFrameSkin::Draw(plat::HDC hdc, const RECT& rc) {
  if (!m_bLoaded) return;
  const int32_t l = rc.left, t = rc.top, r = rc.right, b = rc.bottom;
  CIImage* img = m_images;
  auto draw = [hdc](CIImage& image, RECT piece) { image.Draw(hdc, &piece, nullptr, 1); };
  draw(img[2], RECT{l, t, l + W(img[2]), t + H(img[2])});
  const RECT top{l + W(img[2]), t, r - W(img[4]), t + H(img[1])};
  if (top.Width() > 0 && H(img[1]) != 0) draw(img[1], top);
  draw(img[4], RECT{r - W(img[4]), t, r, t + H(img[4])});
  const RECT left{l, t + H(img[2]), l + W(img[0]), b - H(img[3])};
  if (W(img[0]) > 0 && left.Height() > 0) draw(img[0], left);
  draw(img[3], RECT{l, b - H(img[3]), l + W(img[3]), b});
  const RECT right{r - W(img[0]), t + H(img[4]), r, b - H(img[5])};
  if (W(img[0]) > 0 && right.Height() > 0) draw(img[0], right);
  draw(img[5], RECT{r - W(img[5]), b - H(img[5]), r, b});
  const RECT bottom{l + W(img[3]), b - H(img[1]), r - W(img[5]), b};
  if (bottom.Width() >= 1 && H(img[1]) != 0) draw(img[1], bottom);
}

CFrameSkin* GetFrameSkin() {
  // Made on first use and never destroyed: controls held by statics may
  // still draw their focus while the program ends.
  static CFrameSkin* const s_pSkin = new CFrameSkin();
  return s_pSkin;
}
