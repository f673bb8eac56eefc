// The recorder's content background: the theme's background colour with a
// text-coloured outline, and one picture across the top band (75/800 of the
// screen's larger side high) at its own size.
#pragma once

#include <cstdint>

#include "framework/Control.h"

class CRecorderPanelPainter : public CtlPainter {
 public:
  CRecorderPanelPainter() = default;
  ~CRecorderPanelPainter() override;

  void SetImage(int32_t nSlot);
  void Resize(const RECT& rcNew, const RECT& rcOld) override;
  void Paint(CGraphics& g, const RECT& rc, const RECT& clip) override;

  // The band's rectangle in the panel's parent.
  const RECT& BandRect() const { return m_rcBand; }
  // How often the picture was drawn.
  int32_t DrawCount() const { return m_nDrawn; }

 private:
  int32_t m_nSlot = -1;
  CBitmap* m_pImage = nullptr;
  RECT m_rcBand{};
  RECT m_rcPanel{};
  int32_t m_nDrawn = 0;
};
