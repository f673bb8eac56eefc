#include "vy/VyPicture.h"

#include "platform/base/Format.h"
#include "platform/ui/Ui.h"
#include "vy/FrameSkin.h"

namespace {

void TakeRect(CVyControl* p, const RECT* prc) {
  if (prc) p->SetRect(prc->left, prc->top, prc->right, prc->bottom, 1);
}

}  // namespace

CVyPicture::CVyPicture(const CIImage& img, const RECT* prc) : m_img(img) { TakeRect(this, prc); }

CVyPicture::CVyPicture(int32_t nResourceID, const RECT* prc) {
  // A picture "without image" keeps its empty image: loading -1 would fail
  // and be retried, and logged, on every draw.
  if (nResourceID != -1) m_img.Load(GetResourceInstance(), nResourceID);
  TakeRect(this, prc);
}

CVyPicture::CVyPicture(const RECT* prc) { TakeRect(this, prc); }

CVyPicture::~CVyPicture() = default;

void CVyPicture::SetTransparent(int32_t bTransparent) { m_bTransparent = bTransparent; }

void CVyPicture::SetBackColor(plat::COLORREF colour) {
  m_colorBack = colour;
  m_bBackColor = 1;
}

HRESULT CVyPicture::SetImage(const CIImage& img) {
  if (img.Value() != m_img.Value()) m_img = img;
  return S_OK;
}

CIImage* CVyPicture::GetImage() { return &m_img; }
void CVyPicture::SetTile(int32_t bTile) { m_bTile = bTile; }

int32_t CVyPicture::Draw(plat::HDC hdc) {
  if (!IsVisible()) return 1;
  RECT rc;
  GetOffsetRect(&rc);
  if (m_bBackColor) CIImage::FillColor(hdc, &rc, m_colorBack);
  if (m_bTile)
    DrawTiled(hdc, rc);
  else if (m_img.Value())
    m_img.Draw(hdc, &rc, nullptr, m_bTransparent);
  CVyControl::Draw(hdc);
  return 0;
}

void CVyPicture::DrawTiled(plat::HDC hdc, const RECT& rcIn) {
  if (!m_img.Value()) return;
  RECT rc = rcIn;
  const int32_t h = plat::GetSystemMetrics(plat::SM_CYSCREEN);
  if (rc.top < 0 && 0 < rc.bottom) rc.top = 0;
  if (rc.bottom > h && rc.top < h) rc.bottom = h;
  RECT band{rc.left, rc.top, rc.right, rc.top + kTileBand};
  while (band.bottom <= rc.bottom) {
    if (band.top <= h && band.bottom >= 0) m_img.Draw(hdc, &band, nullptr, m_bTransparent);
    band.top = band.bottom;
    band.bottom += kTileBand;
  }
  // The remainder; the image's draw skips an empty destination.
  band.bottom = rc.bottom;
  m_img.Draw(hdc, &band, nullptr, m_bTransparent);
}

void CVyPicture::Dump(plat::WString* pText) {
  if (!pText) return;
  *pText += plat::FormatWCut(1024, u"<CVyPicture-%d this=\"0x%p\">\n", m_img.GetResourceID(),
                             static_cast<const void*>(this));
  CVyControl::Dump(pText);
  *pText += u"</CVyControl>\n";
  *pText += plat::FormatWCut(1024, u"<m_img.m_nResourceID value=\"%d\"/>\n", m_img.GetResourceID());
  *pText += plat::FormatWCut(1024, u"<m_colorBack value=\"%d,%d,%d\"/>\n", int(m_colorBack & 0xFF),
                             int((m_colorBack >> 8) & 0xFF), int((m_colorBack >> 16) & 0xFF));
  *pText += plat::FormatWCut(1024, u"<m_bTransparent value=\"%d\"/>\n", m_bTransparent);
}
