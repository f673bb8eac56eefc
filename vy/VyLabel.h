// The toolkit's text: a unit that draws a text with the platform's DrawText
// and its format flags, faded by the global alpha, with an optional
// highlighted span, scrolling (marquee) when too wide, placement for fonts
// turned by 90 or 270 degrees, measuring and a line count at a width; and
// the label control that wraps the unit.
#pragma once

#include <cstdint>

#include "vy/VyControl.h"
#include "vy/VyFont.h"

class CLabelUnit {
 public:
  enum : uint32_t { kStyleFit = 0x1, kStyleMarquee = 0x2 };

  CLabelUnit(const CVyFont& font, const plat::WChar* pwszText, uint32_t nFormat, int32_t bFit);
  CLabelUnit(const CLabelUnit&) = delete;
  CLabelUnit& operator=(const CLabelUnit&) = delete;

  virtual ~CLabelUnit();
  virtual int32_t Draw(plat::HDC hdc, const RECT* prc);
  virtual int32_t DrawMarquee(plat::HDC hdc, const RECT* prc);
  virtual void SetText(const plat::WChar* pwszText);
  virtual void SetFormat(uint32_t nFormat);
  virtual void SetFont(const CVyFont& font);
  virtual int32_t SetHighlight(int32_t nStart, int32_t nLength, plat::COLORREF colour);
  virtual void SetMarquee(int32_t bMarquee);
  virtual void SetColor(plat::COLORREF colour);
  virtual const plat::WChar* GetText();
  virtual plat::Size* GetTextExtent(plat::Size* pOut);
  virtual uint32_t GetFormat();
  virtual int32_t GetLineCount(const RECT* prc);
  virtual int32_t IsFit();
  virtual RECT* GetFitRect(RECT* pOut, int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom);
  virtual int32_t CalcRect(RECT* pRect);

  int32_t GetMarqueeOffset() const { return m_nMarqueeOffset; }
  const CVyFont& Font() const { return m_font; }

 private:
  plat::Size Measure(plat::WStringView text);

  CVyFont m_font;
  plat::WChar* m_pwszText = nullptr;
  uint32_t m_nFormat = 0;
  uint32_t m_nStyle = 0;
  int32_t m_nHighlightStart = 0;
  int32_t m_nHighlightLength = 0;
  plat::COLORREF m_colorHighlight = 255;
  int32_t m_nMarqueeOffset = 0;
};

class CVyLabel : public CVyControl {
 public:
  CVyLabel(const CVyFont& font, const plat::WChar* pwszText, int32_t nLeft, int32_t nTop, int32_t nRight,
           int32_t nBottom, uint32_t nFormat, int32_t bFit);
  ~CVyLabel() override;

  // With the fit flag the rectangle goes through GetFitRect first.
  void SetRect(int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom, int32_t bRecursive) override;
  int32_t Draw(plat::HDC hdc) override;
  void Dump(plat::WString* pText) override;

  virtual void SetText(const plat::WChar* pwszText) { m_unit.SetText(pwszText); }
  virtual void SetFormat(uint32_t nFormat) { m_unit.SetFormat(nFormat); }
  virtual void SetFont(const CVyFont& font) { m_unit.SetFont(font); }
  virtual int32_t SetHighlight(int32_t nStart, int32_t nLength, plat::COLORREF colour) {
    return m_unit.SetHighlight(nStart, nLength, colour);
  }
  virtual void SetMarquee(int32_t bMarquee) { m_unit.SetMarquee(bMarquee); }
  virtual void SetColor(plat::COLORREF colour) { m_unit.SetColor(colour); }
  virtual const plat::WChar* GetText() { return m_unit.GetText(); }
  virtual plat::Size* GetTextExtent(plat::Size* pOut) { return m_unit.GetTextExtent(pOut); }
  virtual uint32_t GetFormat() { return m_unit.GetFormat(); }
  virtual int32_t GetLineCount() { return m_unit.GetLineCount(&m_rcOffset); }
  virtual RECT* GetFitRect(RECT* pOut, int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom) {
    return m_unit.GetFitRect(pOut, nLeft, nTop, nRight, nBottom);
  }
  virtual int32_t CalcRect(RECT* pRect) { return m_unit.CalcRect(pRect); }

  CLabelUnit& Unit() { return m_unit; }

 private:
  CLabelUnit m_unit;
};

// The text of the screen's debug overlay (the frame rate): right-aligned,
// not fitted, in a green 15-point face made once.
CLabelUnit& DebugOverlayText();
