#include "app/ChoiceListView.h"

#include "app/QuorelAppUi.h"
#include "app/ScreenSupport.h"
#include "framework/Theme.h"

void CChoiceListView::Create(CControl* pParent, plat::WStringView className, plat::WStringView title) {
  CView::Create(pParent, className, title);
  const TShape shape = Shape();
  CQuorelAppUi::SetLeftSoftKey(0);
  CQuorelAppUi::SetRightSoftKey(0);
  BuildEditBar(m_bar, this, shape.nTitleId);
  m_pPanel = CreatePagePanel(this, ThemeBackgroundColor(GetThemeIndex()), true);

  std::vector<plat::WString> entries = Entries();
  m_nTicked = InitialTick();
  const int32_t nCount = static_cast<int32_t>(entries.size());
  if (m_nTicked >= nCount) m_nTicked = -1;
  CLayoutNode* pContent = m_pPanel->GetContentLayout();
  shape.buildRows(pContent, nCount);
  for (int32_t i = 0; i < nCount; ++i) {
    auto pRow = std::make_unique<CChoiceRow>();
    pRow->Build(m_pPanel->GetContentPanel());
    pRow->pCaption->SetText(entries[static_cast<size_t>(i)]);
    pRow->pButton->SetClickHandler(
        CDelegate::Member<&CChoiceListView::OnRowClick>(this, reinterpret_cast<void*>(static_cast<intptr_t>(i))));
    pRow->pButton->SetDragHandler(m_pPanel->DragDelegate(), true);
    if (i == m_nTicked) ShowChild(*pRow, true);
    pRow->pButton->SetLayoutNode(pContent->FindNode(shape.nRowNode, i));
    m_rows.push_back(std::move(pRow));
  }
  if (m_nTicked >= 0) m_rows[static_cast<size_t>(m_nTicked)]->pButton->SetFocus();
  m_pPanel->Relayout();
}

void CChoiceListView::ApplyLayout(CLayoutNode* pNode) {
  const TShape shape = Shape();
  shape.buildLayout(pNode);
  m_bar.Bar()->SetLayoutNode(pNode->FindNode(shape.nTitleNode, -1));
  m_pPanel->SetLayoutNode(pNode->FindNode(shape.nPanelNode, -1));
}

void CChoiceListView::MoveTick(int32_t nRow) {
  if (m_nTicked >= 0 && m_nTicked < RowCount()) ShowChild(Row(m_nTicked), false);
  m_nTicked = nRow;
  if (nRow >= 0 && nRow < RowCount()) ShowChild(Row(nRow), true);
}

void CChoiceListView::OnRowClick(void* pRow) {
  OnRowTapped(static_cast<int32_t>(reinterpret_cast<intptr_t>(pRow)));
}
