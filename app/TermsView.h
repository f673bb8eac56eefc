// View 6: the terms of use: a title, one scrolling text and a link to the
// terms page, whose address is the registry's "terms_and_conditions_url".
// The options menu's terms entry is hidden while the screen shows.
#pragma once

#include <cstdint>

#include "app/EditBar.h"
#include "framework/Control.h"
#include "framework/CtlScrollPanel.h"
#include "framework/CtlStatic.h"

class CTermsView : public CView {
 public:
  static CView* NewView() { return new CTermsView(); }
  ~CTermsView() override;
  void Create(CControl* pParent, plat::WStringView className = {}, plat::WStringView title = {}) override;
  void ApplyLayout(CLayoutNode* pNode) override;
  void OnRectChanged(const RECT& rcNew, const RECT& rcOld) override;
  void OnLeave(TViewRecord* pOld, TViewRecord* pNew) override;

  // The text's and the link's font height: the smaller side × 30 / 480.
  static int32_t FontHeight(int32_t nWidth, int32_t nHeight);
  CtlScrollPanel* Panel() const { return m_pPanel; }
  CtlStatic* Text() const { return m_pText; }
  CtlLink* Link() const { return m_pLink; }
  int32_t SizingRuns() const { return m_nSizingRuns; }

 private:
  int32_t CurrentFontHeight() const;
  void RequestSizing();
  void SizeBlocks();
  void OpenTermsPage();

  CEditBar m_bar;
  CtlScrollPanel* m_pPanel = nullptr;
  CtlStatic* m_pText = nullptr;
  CtlLink* m_pLink = nullptr;
  int32_t m_nSizingRuns = 0;
};
