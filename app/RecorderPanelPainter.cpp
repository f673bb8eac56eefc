#include "app/RecorderPanelPainter.h"

#include <algorithm>

#include "app/RowParts.h"
#include "framework/Resources.h"
#include "framework/Theme.h"

namespace {
bool IsEmptyRect(const RECT& rc) { return rc.right <= rc.left || rc.bottom <= rc.top; }

// The band is measured on the screen, whatever the panel's own size.
int32_t BandHeight() { return ScreenLargerSide() * 75 / 800; }
}  // namespace

CRecorderPanelPainter::~CRecorderPanelPainter() { RefPtr::Take(m_pImage, nullptr); }

void CRecorderPanelPainter::SetImage(int32_t nSlot) {
  if (nSlot == m_nSlot) return;
  m_nSlot = nSlot;
  RefPtr::Take(m_pImage, nullptr);
}

void CRecorderPanelPainter::Resize(const RECT& rcNew, const RECT&) {
  if (RectEquals(rcNew, m_rcPanel)) return;
  m_rcPanel = rcNew;
  m_rcBand = RECT{rcNew.left, rcNew.top, rcNew.right, rcNew.top + BandHeight()};
}

void CRecorderPanelPainter::Paint(CGraphics& g, const RECT& rc, const RECT& clip) {
  // The band in the context's coordinates: the panel's own rectangle there
  // is `rc`.
  RECT band{rc.left, rc.top, rc.right, rc.top + (m_rcBand.bottom - m_rcBand.top)};
  if (!m_pImage && m_nSlot >= 0 && !IsEmptyRect(band))
    m_pImage = CResources::GetImage(m_nSlot, EScaleNone, RECT{});
  uint32_t nTheme = GetThemeIndex();
  g.SetFillColor(ThemeBackgroundColor(nTheme), EColorSolid);
  g.SetLineColor(ThemeTextColor(nTheme), EColorSolid);
  g.DrawRectangle(rc);
  if (!m_pImage || IsEmptyRect(RectIntersect(band, clip))) return;
  g.DrawBitmap(m_pImage, band.left, band.top, RECT{});
  ++m_nDrawn;
}
