// View 19: a scrolling page of credits: a picture, a title and three
// sections of a heading and a body, each as tall as its text at the page's
// width.
#pragma once

#include <cstdint>

#include "app/EditBar.h"
#include "framework/Control.h"
#include "framework/CtlScrollPanel.h"
#include "framework/CtlStatic.h"

class CCreditsView : public CView {
 public:
  static CView* NewView() { return new CCreditsView(); }
  ~CCreditsView() override;
  void Create(CControl* pParent, plat::WStringView className = {}, plat::WStringView title = {}) override;
  void ApplyLayout(CLayoutNode* pNode) override;
  void OnRectChanged(const RECT& rcNew, const RECT& rcOld) override;

  CtlScrollPanel* Panel() const { return m_pPanel; }
  // Headings and bodies in page order (nodes 179 to 184).
  CtlStatic* SectionText(int32_t i) const { return m_apSections[i]; }
  int32_t SizingRuns() const { return m_nSizingRuns; }

 private:
  void RequestSizing();
  void SizeSections();

  CEditBar m_bar;
  CtlScrollPanel* m_pPanel = nullptr;
  CtlStatic* m_pPicture = nullptr;
  CtlStatic* m_pTitle = nullptr;
  CtlStatic* m_apSections[6] = {};
  int32_t m_nSizingRuns = 0;
};
