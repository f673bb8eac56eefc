#include "vy/VyLabel.h"

#include <algorithm>
#include <cstring>

#include "platform/text/Text.h"
#include "vy/BaseGUI.h"
#include "vy/ImageUtil.h"
#include "vy/VyGesture.h"
#include "vy/VyUtil.h"

namespace {

int32_t S(int32_t n) { return VyScale(GetLogPixelsX(), n); }

size_t TextLength(const plat::WChar* p) {
  size_t n = 0;
  if (p)
    while (p[n]) ++n;
  return n;
}

// A screen DC with the font selected, for measuring.
class TMeasureDc {
 public:
  explicit TMeasureDc(plat::HFONT hFont) : m_hdc(plat::GetDC(nullptr)) {
    if (m_hdc && hFont) m_hOld = plat::SelectObject(m_hdc, hFont);
  }
  ~TMeasureDc() {
    if (!m_hdc) return;
    if (m_hOld) plat::SelectObject(m_hdc, m_hOld);
    plat::ReleaseDC(nullptr, m_hdc);
  }
  plat::HDC Dc() const { return m_hdc; }
  plat::Size Extent(plat::WStringView text) const {
    plat::Size s{};
    if (m_hdc && !text.empty()) plat::GetTextExtentPoint32(m_hdc, text, &s);
    return s;
  }

 private:
  plat::HDC m_hdc;
  plat::HGDIOBJ m_hOld = nullptr;
};

void RestoreClip(plat::HDC hdc, const RECT& rc) {
  plat::HRGN hrgn = plat::CreateRectRgn(rc.left, rc.top, rc.right, rc.bottom);
  plat::SelectClipRgn(hdc, hrgn);
  plat::DeleteObject(hrgn);
}

}  // namespace

CLabelUnit::CLabelUnit(const CVyFont& font, const plat::WChar* pwszText, uint32_t nFormat, int32_t bFit)
    : m_font(font), m_nFormat(nFormat), m_nStyle(bFit ? uint32_t(kStyleFit) : 0u) {
  SetText(pwszText);
}

CLabelUnit::~CLabelUnit() { delete[] m_pwszText; }

void CLabelUnit::SetText(const plat::WChar* pwszText) {
  if (!pwszText) return;
  const size_t n = TextLength(pwszText);
  auto* p = new plat::WChar[n + 1];
  std::copy(pwszText, pwszText + n + 1, p);
  delete[] m_pwszText;
  m_pwszText = p;
}

void CLabelUnit::SetFormat(uint32_t nFormat) { m_nFormat = nFormat; }
void CLabelUnit::SetFont(const CVyFont& font) { m_font = font; }

int32_t CLabelUnit::SetHighlight(int32_t nStart, int32_t nLength, plat::COLORREF colour) {
  m_nHighlightStart = nStart;
  m_nHighlightLength = nLength;
  m_colorHighlight = colour;
  return 1;
}

void CLabelUnit::SetMarquee(int32_t bMarquee) {
  m_nStyle = bMarquee ? (m_nStyle | kStyleMarquee) : (m_nStyle & ~kStyleMarquee);
}

void CLabelUnit::SetColor(plat::COLORREF colour) { m_font.SetColor(colour); }
const plat::WChar* CLabelUnit::GetText() { return m_pwszText; }
uint32_t CLabelUnit::GetFormat() { return m_nFormat; }
int32_t CLabelUnit::IsFit() { return (m_nStyle & kStyleFit) != 0; }

plat::Size CLabelUnit::Measure(plat::WStringView text) { return TMeasureDc(m_font.GetHFont()).Extent(text); }

plat::Size* CLabelUnit::GetTextExtent(plat::Size* pOut) {
  *pOut = plat::Size{};
  if (m_pwszText) *pOut = Measure(m_pwszText);
  return pOut;
}

int32_t CLabelUnit::CalcRect(RECT* pRect) {
  CPR_RET(pRect, 0);
  TMeasureDc dc(m_font.GetHFont());
  if (!dc.Dc()) return 0;
  return plat::DrawText(dc.Dc(), m_pwszText ? m_pwszText : u"", pRect, m_nFormat | plat::DT_CALCRECT);
}

int32_t CLabelUnit::Draw(plat::HDC hdc, const RECT* prc) {
  if (!m_pwszText || !m_pwszText[0]) return 1;
  const int32_t g = CIImage::GetGlobalAlpha();
  if (g == 0) return 0;
  CVyFont::CFontValue* pValue = m_font.Value();
  const plat::COLORREF colourBefore = pValue ? pValue->m_colour : 0;
  if (g < 255 && pValue) {
    const uint32_t r = (colourBefore & 0xFF) * uint32_t(g) / 255, gr = ((colourBefore >> 8) & 0xFF) * uint32_t(g) / 255,
                   b = ((colourBefore >> 16) & 0xFF) * uint32_t(g) / 255;
    if (g < 100 && r < 50 && gr < 50 && b < 50) return 0;
    pValue->m_colour = r | (gr << 8) | (b << 16);
  }
  m_font.Select(hdc, 1);
  const plat::WStringView text(m_pwszText);
  const RECT rect = *prc;
  const auto length = int32_t(text.size());
  if (m_nHighlightLength > 0 && m_nHighlightStart < length) {
    plat::Size prefix{}, span{}, whole{};
    const size_t start = size_t(std::max(0, m_nHighlightStart));
    plat::GetTextExtentPoint32(hdc, text.substr(0, start), &prefix);
    plat::GetTextExtentPoint32(hdc, text.substr(start, size_t(m_nHighlightLength)), &span);
    plat::GetTextExtentPoint32(hdc, text, &whole);
    RECT hl{};
    if (m_nFormat & plat::DT_CENTER) {
      hl.left = rect.left + (rect.Width() - whole.cx) / 2 + prefix.cx;
    } else if (m_nFormat & plat::DT_RIGHT) {
      hl.left = rect.right - whole.cx + span.cx + prefix.cx - span.cx;
    } else {
      hl.left = rect.left + prefix.cx;
    }
    hl.right = hl.left + span.cx;
    if (m_nFormat & plat::DT_VCENTER) {
      hl.top = rect.top + (rect.Height() - span.cy) / 2;
      hl.bottom = hl.top + span.cy;
    } else if (m_nFormat & plat::DT_BOTTOM) {
      hl.top = rect.bottom - span.cy;
      hl.bottom = rect.bottom;
    } else {
      hl.top = rect.top;
      hl.bottom = rect.top + span.cy;
    }
    int32_t limit = rect.right;
    if ((m_nFormat & (plat::DT_END_ELLIPSIS | plat::DT_WORD_ELLIPSIS)) && whole.cx > rect.Width()) {
      plat::Size dots{};
      plat::GetTextExtentPoint32(hdc, u"...", &dots);
      limit = rect.right - dots.cx;
    }
    hl.right = std::min(hl.right, limit);
    CIImage::FillColor(hdc, &hl, m_colorHighlight);
  }
  plat::Size extent{};
  plat::GetTextExtentPoint32(hdc, text, &extent);
  if ((m_nStyle & kStyleMarquee) && extent.cx > rect.Width()) {
    DrawMarquee(hdc, &rect);
  } else {
    m_nMarqueeOffset = 0;
    RECT rcDraw = rect;
    if (m_nFormat & plat::DT_CALCRECT) {
      // Measures first, then draws into the measured rectangle.
      plat::DrawText(hdc, text, &rcDraw, m_nFormat);
      plat::DrawText(hdc, text, &rcDraw, m_nFormat & ~plat::DT_CALCRECT);
    } else {
      plat::DrawText(hdc, text, &rcDraw, m_nFormat);
    }
  }
  m_font.Select(hdc, 0);
  if (pValue) pValue->m_colour = colourBefore;
  return 0;
}

int32_t CLabelUnit::DrawMarquee(plat::HDC hdc, const RECT* prc) {
  if (CBaseGUI* pGui = CBaseGUI::GetCurrentGUI()) pGui->StartRender(0);
  const plat::WStringView text(m_pwszText ? m_pwszText : u"");
  const uint32_t nFormat = m_nFormat & ~plat::DT_END_ELLIPSIS;
  m_nMarqueeOffset -= IsLargeScreen() ? S(3) : S(2);
  plat::Size extent{};
  plat::GetTextExtentPoint32(hdc, text, &extent);
  RECT rcSaved;
  plat::GetClipBox(hdc, &rcSaved);
  plat::IntersectClipRect(hdc, prc->left, prc->top, prc->right, prc->bottom);
  RECT first{prc->left + m_nMarqueeOffset, prc->top, prc->left + m_nMarqueeOffset + extent.cx, prc->bottom};
  plat::DrawText(hdc, text, &first, nFormat);
  const int32_t firstRight = prc->left + m_nMarqueeOffset + extent.cx;
  // Once the first copy has left, the second takes its place: the loop has
  // no seam.
  if (firstRight < prc->left) m_nMarqueeOffset = S(50) - prc->left + firstRight;
  RECT second{firstRight + S(50), prc->top, firstRight + S(50) + extent.cx, prc->bottom};
  plat::DrawText(hdc, text, &second, nFormat);
  RestoreClip(hdc, rcSaved);
  return 0;
}

int32_t CLabelUnit::GetLineCount(const RECT* prc) {
  if (!m_pwszText) return 0;
  const int32_t W = prc->Width();
  TMeasureDc dc(m_font.GetHFont());
  int32_t n = 1;
  // Growable: a word or line of any length is measured whole.
  plat::WString word, line;
  for (const plat::WChar* p = m_pwszText; *p; ++p) {
    const plat::WChar c = *p;
    if (c == 10) {
      ++n;
      word.clear();
      line.clear();
    } else if (c == 32) {
      line += word;
      line += u' ';
      word.clear();
    } else {
      word += c;
    }
    const plat::Size w = dc.Extent(word), l = dc.Extent(line);
    if (w.cx + l.cx >= W) {
      ++n;
      if (w.cx >= W && line.empty()) word.assign(1, c);
      line.clear();
    }
  }
  return n;
}

RECT* CLabelUnit::GetFitRect(RECT* pOut, int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom) {
  const RECT R{nLeft, nTop, nRight, nBottom};
  const int32_t esc = m_font.GetEscapement();
  const int32_t q = esc / 900;
  *pOut = R;
  if (q % 2 == 0 || (esc != 900 && esc != 2700)) return pOut;
  plat::Size e{};
  GetTextExtent(&e);
  const int32_t cx = e.cx, cy = e.cy;
  int32_t x, y;
  const bool b900 = esc == 900;
  if (m_nFormat & plat::DT_VCENTER)
    x = R.left + (R.right - cy - R.left) / 2 + (b900 ? 0 : cy);
  else if (m_nFormat & plat::DT_BOTTOM)
    x = R.left + (b900 ? 0 : cy);
  else
    x = b900 ? R.right - cy : R.right;
  if (m_nFormat & plat::DT_CENTER)
    y = R.top + (R.bottom - cx - R.top) / 2 + (b900 ? cx : 0);
  else if (m_nFormat & plat::DT_RIGHT)
    y = b900 ? R.top + cx : R.bottom - cx;
  else
    y = b900 ? R.bottom : R.top;
  *pOut = RECT{x, y, x + cx, y + cy};
  return pOut;
}

CVyLabel::CVyLabel(const CVyFont& font, const plat::WChar* pwszText, int32_t nLeft, int32_t nTop, int32_t nRight,
                   int32_t nBottom, uint32_t nFormat, int32_t bFit)
    : m_unit(font, pwszText, nFormat, bFit) {
  CVyLabel::SetRect(nLeft, nTop, nRight, nBottom, 1);
}

CVyLabel::~CVyLabel() = default;

void CVyLabel::SetRect(int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom, int32_t) {
  RECT rc{nLeft, nTop, nRight, nBottom};
  if (m_unit.IsFit()) m_unit.GetFitRect(&rc, nLeft, nTop, nRight, nBottom);
  CVyControl::SetRect(rc.left, rc.top, rc.right, rc.bottom, 1);
}

int32_t CVyLabel::Draw(plat::HDC hdc) {
  if (!IsVisible()) return 1;
  m_unit.Draw(hdc, &m_rcOffset);
  EndDraw(hdc);
  return 0;
}

void CVyLabel::Dump(plat::WString*) {}

CLabelUnit& DebugOverlayText() {
  // Kept to the end of the program; never destroyed (its font would outlive
  // the display).
  static CLabelUnit* s_pUnit = new CLabelUnit(CVyFont(500, S(15), 0x00FF00, u"Tahoma", 0, 0), u"", plat::DT_RIGHT, 0);
  return *s_pUnit;
}
