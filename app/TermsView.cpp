#include "app/TermsView.h"

#include <algorithm>

#include "app/QuorelAppUi.h"
#include "app/RowParts.h"
#include "app/ScreenSupport.h"
#include "framework/AppRegistry.h"
#include "framework/Theme.h"
#include "layouts/LayoutEdit.h"
#include "layouts/Layouts.h"

int32_t CTermsView::FontHeight(int32_t nWidth, int32_t nHeight) { return std::min(nWidth, nHeight) * 30 / 480; }

// The screen's sides, not the main window's: the menu bar must not shrink
// the text in landscape.
int32_t CTermsView::CurrentFontHeight() const {
  return std::max(1, FontHeight(ScreenLargerSide(), ScreenSmallerSide()));
}

CTermsView::~CTermsView() {
  if (m_pPanel) m_pPanel->SetRelayoutHandler({});
  SetClosing();
}

void CTermsView::Create(CControl* pParent, plat::WStringView className, plat::WStringView title) {
  CQuorelAppUi::ShowTermsMenuItem(false);
  CView::Create(pParent, className, title);
  SetNoBackground();
  CQuorelAppUi::SetLeftSoftKey(0);
  CQuorelAppUi::SetRightSoftKey(0);
  const uint32_t nTheme = GetThemeIndex();
  m_pPanel = CreatePagePanel(this, ThemeBackgroundColor(nTheme), false);
  BuildEditBar(m_bar, this, 216);
  m_bar.Bar()->SetPaintedByParent(true);
  const TFontDesc font{CurrentFontHeight()};
  m_pText = CtlStatic::Create(m_pPanel->GetContentPanel());
  m_pText->SetTextId(217);
  m_pText->SetTextColor(ThemeTextColor(nTheme), EColorSolid);
  m_pText->SetFont(font);
  m_pLink = CtlLink::Create(m_pPanel->GetContentPanel());
  m_pLink->SetTextId(218);
  m_pLink->SetFont(font);
  m_pLink->SetAlignment(EAlignCenter);
  m_pLink->SetClickHandler(CDelegate::Member<&CTermsView::OpenTermsPage>(this));
  // A drag scrolls the page wherever it starts, on the link too.
  m_pPanel->GetContentPanel()->SetDragHandler(m_pPanel->DragDelegate(), true);
}

void CTermsView::ApplyLayout(CLayoutNode* pNode) {
  BuildTermsLayout(pNode);
  m_bar.Bar()->SetLayoutNode(pNode->FindNode(114, -1));
  m_pPanel->SetLayoutNode(pNode->FindNode(110, -1));
  CLayoutNode* pContent = m_pPanel->GetContentLayout();
  BuildTermsContentLayout(pContent);
  m_pText->SetLayoutNode(pContent->FindNode(112, -1));
  m_pLink->SetLayoutNode(pContent->FindNode(113, -1));
  // A rebuild (a 180° turn keeps the size) measures the new tree too.
  RequestSizing();
}

void CTermsView::OnRectChanged(const RECT& rcNew, const RECT& rcOld) {
  CView::OnRectChanged(rcNew, rcOld);
  if (m_pPanel && !RectEquals(rcNew, rcOld)) RequestSizing();
}

void CTermsView::OnLeave(TViewRecord* pOld, TViewRecord* pNew) {
  CQuorelAppUi::ShowTermsMenuItem(true);
  CView::OnLeave(pOld, pNew);
}

void CTermsView::RequestSizing() { RequestMeasuredPass(m_pPanel, CDelegate::Member<&CTermsView::SizeBlocks>(this)); }

void CTermsView::SizeBlocks() {
  ++m_nSizingRuns;
  m_pPanel->SetRelayoutHandler({});
  const TFontDesc font{CurrentFontHeight()};
  CLayoutNode* pContent = m_pPanel->GetContentLayout();
  // The description places both blocks; only their heights are measured.
  const std::pair<CtlStatic*, int32_t> blocks[] = {{m_pText, 112}, {m_pLink, 113}};
  for (const auto& [pControl, nId] : blocks) {
    CLayoutNode* pNode = pContent->FindNode(nId, -1);
    if (!pNode || !pNode->IsLaidOut()) continue;
    SetHeightPx(pNode, MeasureTextHeight(pControl, pControl->Text(), font, pNode->GetWidth(), pControl->Alignment()));
  }
  m_pText->SetFont(font);
  m_pLink->SetFont(font);
  m_pPanel->Relayout();
}

void CTermsView::OpenTermsPage() {
  plat::WString url;
  RegGetAppString(u"terms_and_conditions_url", url);
  CQuorelAppUi::OpenUrl(url);
}
