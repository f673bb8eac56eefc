#include "vy/VyFont.h"

#include <algorithm>

CVyFont::CFontValue::CFontValue(const plat::FontDesc& desc, plat::COLORREF colour)
    : m_desc(desc), m_hFont(plat::CreateFontIndirect(desc)), m_colour(colour) {}

CVyFont::CFontValue::CFontValue(const CFontValue& other)
    : RCObject(other),
      m_desc(other.m_desc),
      m_hFont(plat::CreateFontIndirect(other.m_desc)),
      m_hSavedFont(other.m_hSavedFont),
      m_colour(other.m_colour),
      m_savedTextColour(other.m_savedTextColour),
      m_nSavedBkMode(other.m_nSavedBkMode),
      m_nEscapement(other.m_nEscapement) {}

CVyFont::CFontValue::~CFontValue() {
  if (m_hFont) plat::DeleteObject(m_hFont);
}

CVyFont::CVyFont(int32_t nWeight, int32_t nHeight, plat::COLORREF colour, const plat::WChar* pwszFace,
                 uint8_t bItalic, uint8_t bUnderline) {
  plat::FontDesc desc;
  desc.height = nHeight;
  desc.weight = nWeight;
  desc.italic = bItalic;
  desc.underline = bUnderline;
  desc.charSet = 1;
  if (pwszFace) {
    size_t n = 0;
    while (n < 31 && pwszFace[n]) {
      desc.faceName[n] = pwszFace[n];
      ++n;
    }
  }
  CFontValue* pValue = new (std::nothrow) CFontValue(desc, colour);
  if (pValue) m_handle = THandle(pValue);
}

int32_t CVyFont::Select(plat::HDC hdc, int32_t bSelect) {
  CFontValue* v = m_handle.Value();
  if (!v) return bSelect;
  if (bSelect) {
    v->m_savedTextColour = plat::SetTextColor(hdc, v->m_colour);
    v->m_nSavedBkMode = plat::SetBkMode(hdc, plat::TRANSPARENT);
    v->m_hSavedFont = plat::SelectObject(hdc, v->m_hFont);
  } else {
    plat::SetTextColor(hdc, v->m_savedTextColour);
    plat::SetBkMode(hdc, v->m_nSavedBkMode);
    if (v->m_hSavedFont) plat::SelectObject(hdc, v->m_hSavedFont);
  }
  return bSelect;
}

void CVyFont::SetColor(plat::COLORREF colour) {
  if (CFontValue* v = m_handle.Value()) v->m_colour = colour;
}

plat::HFONT CVyFont::GetHFont() const {
  CFontValue* v = m_handle.Value();
  return v ? v->m_hFont : nullptr;
}

int32_t CVyFont::GetEscapement() const {
  CFontValue* v = m_handle.Value();
  return v ? v->m_nEscapement : 0;
}
