// The toolkit's font: a shared value that owns one GDI font and the text
// colour to draw with it, and that can be selected into a DC and taken out
// again.
#pragma once

#include <cstdint>

#include "platform/gdi/Gdi.h"
#include "platform/text/Text.h"
#include "vy/VyCommon.h"
#include "vy/VyHandle.h"

class CVyFont {
 public:
  class CFontValue : public RCObject {
   public:
    CFontValue(const plat::FontDesc& desc, plat::COLORREF colour);
    // A copy makes its own GDI font from the same description, so that each
    // value deletes only the font it made.
    CFontValue(const CFontValue& other);
    ~CFontValue() override;
    // Shareability is the test seam for the copy-on-share rule.
    using RCObject::SetShareable;

    plat::FontDesc m_desc;
    plat::HFONT m_hFont = nullptr;
    plat::HGDIOBJ m_hSavedFont = nullptr;
    plat::COLORREF m_colour = 0;
    plat::COLORREF m_savedTextColour = 0;
    int32_t m_nSavedBkMode = 0;
    int32_t m_nEscapement = 0;
  };

  CVyFont() = default;
  CVyFont(int32_t nWeight, int32_t nHeight, plat::COLORREF colour, const plat::WChar* pwszFace, uint8_t bItalic,
          uint8_t bUnderline);
  explicit CVyFont(CFontValue* pValue) : m_handle(pValue) {}

  // Non-zero: sets the value's colour, transparent mode and font, saving the
  // DC's; zero: puts the saved ones back. Pairs must not interleave across
  // DCs: the saved state lives in the shared value.
  int32_t Select(plat::HDC hdc, int32_t bSelect);
  void SetColor(plat::COLORREF colour);
  plat::HFONT GetHFont() const;
  int32_t GetEscapement() const;
  CFontValue* Value() const { return m_handle.Value(); }

 private:
  struct THandle : TVyHandle<CFontValue> {
    using TVyHandle::TVyHandle;
  };
  THandle m_handle;
};
