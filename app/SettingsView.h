// View 5: the update section (a text and the check-for-update button) and
// the interface-language section (a text and a button naming the current
// language, which opens view 21).
#pragma once

#include <cstdint>

#include "app/EditBar.h"
#include "app/RowParts.h"
#include "framework/Control.h"

class CSettingsView : public CView {
 public:
  static CView* NewView() { return new CSettingsView(); }
  void Create(CControl* pParent, plat::WStringView className = {}, plat::WStringView title = {}) override;
  void ApplyLayout(CLayoutNode* pNode) override;

  // The texts' margins: 15/800 of the main window's larger side.
  static int32_t TextMargin(int32_t nWidth, int32_t nHeight);
  // Landscape when the width is at least the height.
  bool IsLandscapeLayout() const { return m_bLandscape; }
  CEditBar& Bar() { return m_bar; }
  CTwoButtonPartB& UpdateButton() { return m_update; }
  CTwoButtonPartA& LanguageButton() { return m_language; }
  CtlStatic* UpdateText() const { return m_pUpdateText; }
  CtlStatic* LanguageText() const { return m_pLanguageText; }

 private:
  CtlStatic* CreateSectionText(int32_t nTextId);
  CtlStatic* CreateSeparator();
  void OnUpdateTap();
  void OnLanguageTap();

  CEditBar m_bar;
  CtlPanel* m_pContent = nullptr;
  CtlStatic* m_pUpdateText = nullptr;
  CTwoButtonPartB m_update;
  CtlStatic* m_pSeparator1 = nullptr;
  CtlStatic* m_pLanguageText = nullptr;
  CTwoButtonPartA m_language;
  CtlStatic* m_pSeparator2 = nullptr;
  bool m_bLandscape = false;
};
