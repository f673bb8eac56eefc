// View 18: a title bar over a scrolling page of pictures and paragraphs.
// Each paragraph is as tall as its text at the page's width, and the rows
// after a picture-and-paragraph pair start below the taller of the two.
#pragma once

#include <cstdint>

#include "app/EditBar.h"
#include "framework/Control.h"
#include "framework/CtlScrollPanel.h"
#include "framework/CtlStatic.h"
#include "framework/Events.h"

class CHelpView : public CView {
 public:
  static CView* NewView() { return new CHelpView(); }
  ~CHelpView() override;
  void Create(CControl* pParent, plat::WStringView className = {}, plat::WStringView title = {}) override;
  void ApplyLayout(CLayoutNode* pNode) override;
  void OnRectChanged(const RECT& rcNew, const RECT& rcOld) override;

  static constexpr int32_t kParagraphCount = 5;
  CtlScrollPanel* Panel() const { return m_pPanel; }
  CControl* TitleBarBack() const { return m_bar.pBack; }
  CtlStatic* Paragraph(int32_t i) const { return m_apParagraphs[i]; }
  // How often the tie handler ran (tests check it runs once per request).
  int32_t TieRuns() const { return m_nTieRuns; }

 private:
  class CHelpListener : public CEventListenerFor<HelpViewEvent> {
   protected:
    void HandleEvent(const TNoPayload&) override {}
  };

  void ApplyParagraphFonts();
  void RequestTies();
  void TieRows();
  RECT MeasureParagraph(const RECT& rcMeasure, void* pParagraph);

  CHelpListener m_helpListener;
  CEditBar m_bar;
  CtlScrollPanel* m_pPanel = nullptr;
  CtlStatic* m_apPictures[4] = {};
  CtlStatic* m_apParagraphs[kParagraphCount] = {};
  int32_t m_nTieRuns = 0;
};
