#include "app/HelpView.h"

#include <algorithm>

#include "app/QuorelAppUi.h"
#include "app/ScreenSupport.h"
#include "framework/AppUi.h"
#include "framework/Theme.h"
#include "layouts/LayoutEdit.h"
#include "layouts/Layouts.h"

namespace {

struct TPicture {
  int32_t nSlot;
  bool bScaled;
  int32_t nNode;
};
constexpr TPicture kPictures[4] = {{223, false, 162}, {226, true, 165}, {227, true, 168}, {224, false, 172}};

struct TParagraph {
  int32_t nTextId;
  int32_t nNode;
  int32_t nAlign;
  int32_t nPlace;
  int32_t nSizeIndex;
  bool bDim;
};
constexpr TParagraph kParagraphs[CHelpView::kParagraphCount] = {
    {205, 164, EAlignCenter, EPlaceTop, 2, false}, {206, 166, EAlignLeft, EPlaceTop, 2, true},
    {207, 169, EAlignLeft, EPlaceTop, 2, true},    {208, 171, EAlignCenter, EPlaceTop, 2, true},
    {209, 173, EAlignRight, EPlaceCenter, 0, true},
};

// 0 until the application's tree is laid out.
int32_t ParagraphFontHeight(int32_t i) { return StandardHeightNow(kParagraphs[i].nSizeIndex); }

}  // namespace

CHelpView::~CHelpView() {
  m_helpListener.Unsubscribe();
  if (m_pPanel) m_pPanel->SetRelayoutHandler({});
  SetClosing();
}

void CHelpView::Create(CControl* pParent, plat::WStringView className, plat::WStringView title) {
  CView::Create(pParent, className, title);
  const uint32_t nTheme = GetThemeIndex();
  m_pPanel = CreatePagePanel(this, ThemeBackgroundColor(nTheme), true);
  BuildEditBar(m_bar, this, 29);
  m_bar.Bar()->SetPaintedByParent(true);
  CtlPanel* pContent = m_pPanel->GetContentPanel();
  // The page's order: picture, paragraph, picture, paragraph, picture,
  // paragraph, paragraph, paragraph, picture.
  auto picture = [&](int32_t i) {
    CtlStatic* p = CtlStatic::Create(pContent);
    p->SetImageId(kPictures[i].nSlot, kPictures[i].bScaled);
    m_apPictures[i] = p;
  };
  auto paragraph = [&](int32_t i) {
    CtlStatic* p = CtlStatic::Create(pContent);
    p->SetTextId(kParagraphs[i].nTextId);
    p->SetAlignment(kParagraphs[i].nAlign);
    p->SetTextStyle(kParagraphs[i].nPlace);
    p->SetTextColor(kParagraphs[i].bDim ? ThemeDimTextColor(nTheme) : ThemeTextColor(nTheme), EColorSolid);
    m_apParagraphs[i] = p;
  };
  picture(0);
  paragraph(0);
  picture(1);
  paragraph(1);
  picture(2);
  paragraph(2);
  paragraph(3);
  paragraph(4);
  picture(3);

  CQuorelAppUi::SetLeftSoftKey(0);
  CQuorelAppUi::SetRightSoftKey(0);
  m_helpListener.Subscribe();
  m_pPanel->SetDragHandler(m_pPanel->DragDelegate(), true);
  m_pPanel->SetFocus();
}

void CHelpView::ApplyLayout(CLayoutNode* pNode) {
  BuildView18Layout(pNode);
  m_bar.Bar()->SetLayoutNode(pNode->FindNode(114, -1));
  m_pPanel->SetLayoutNode(pNode->FindNode(160, -1));
  CLayoutNode* pContent = m_pPanel->GetContentLayout();
  BuildView18ContentLayout(pContent);
  for (int32_t i = 0; i < 4; ++i) m_apPictures[i]->SetLayoutNode(pContent->FindNode(kPictures[i].nNode, -1));
  for (int32_t i = 0; i < kParagraphCount; ++i) {
    CLayoutNode* pParagraphNode = pContent->FindNode(kParagraphs[i].nNode, -1);
    m_apParagraphs[i]->SetLayoutNode(pParagraphNode);
    if (pParagraphNode)
      pParagraphNode->SetMeasureHandler(
          LayoutMeasureDelegate<&CHelpView::MeasureParagraph>(this, reinterpret_cast<void*>(static_cast<intptr_t>(i))));
  }
  // A rebuild of the same view (a 180° turn keeps the size) ties the rows
  // of the new tree too.
  RequestTies();
}

void CHelpView::OnRectChanged(const RECT& rcNew, const RECT& rcOld) {
  CView::OnRectChanged(rcNew, rcOld);
  if (!SizeDiffers(rcNew, rcOld) || !m_pPanel) return;
  ApplyParagraphFonts();
  RequestTies();
}

void CHelpView::ApplyParagraphFonts() {
  for (int32_t i = 0; i < kParagraphCount; ++i)
    if (const int32_t nHeight = ParagraphFontHeight(i)) m_apParagraphs[i]->SetFont(TFontDesc{nHeight});
}

void CHelpView::RequestTies() { RequestMeasuredPass(m_pPanel, CDelegate::Member<&CHelpView::TieRows>(this)); }

void CHelpView::TieRows() {
  ++m_nTieRuns;
  // Once per request: the relayout asked below runs this handler again
  // otherwise.
  m_pPanel->SetRelayoutHandler({});
  ReanchorHelpSpacers(m_pPanel->GetContentLayout());
  m_pPanel->Relayout();
}

RECT CHelpView::MeasureParagraph(const RECT& rcMeasure, void* pParagraph) {
  const auto i = static_cast<int32_t>(reinterpret_cast<intptr_t>(pParagraph));
  RECT rc = rcMeasure;
  if (i < 0 || i >= kParagraphCount) return rc;
  CtlStatic* pText = m_apParagraphs[i];
  const int32_t nFont = ParagraphFontHeight(i);
  const int32_t nHeight = MeasureTextHeight(pText, pText->Text(), TFontDesc{nFont},
                                            rcMeasure.right - rcMeasure.left, kParagraphs[i].nAlign);
  rc.bottom = std::max(rc.bottom, rc.top + nHeight);
  return rc;
}
