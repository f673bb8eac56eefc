#include "app/CreditsView.h"

#include "app/QuorelAppUi.h"
#include "app/ScreenSupport.h"
#include "layouts/LayoutEdit.h"
#include "layouts/Layouts.h"

namespace {

constexpr TColor kPageColor = 0xFFF2EBDA;
constexpr TColor kHeadingColor = 0xFF333333;
constexpr TColor kBodyColor = 0xFF4D4D4D;
constexpr TFontDesc kHeadingFont{13};
constexpr TFontDesc kBodyFont{12};

constexpr const char16_t* kBody0 =
    u"Lorem ipsum dolor sit amet, consectetuer adipiscing elit, sed diam nonummy nibh euismod tincidunt ut laoreet "
    u"dolore magna aliquam erat volutpat.";
constexpr const char16_t* kBody12 =
    u"Ut wisi enim ad minim veniam, quis nostrud exerci tation ullamcorper suscipit lobortis nisl ut aliquip ex ea "
    u"commodo consequat.";
constexpr const char16_t* kSectionTexts[6] = {u"Sub-header", kBody0, u"SPEEX 2008", kBody12, u"ZLIB 2007", kBody12};

}  // namespace

CCreditsView::~CCreditsView() {
  if (m_pPanel) m_pPanel->SetRelayoutHandler({});
  SetClosing();
}

void CCreditsView::Create(CControl* pParent, plat::WStringView className, plat::WStringView title) {
  CView::Create(pParent, className, title);
  CQuorelAppUi::SetLeftSoftKey(3);
  CQuorelAppUi::SetRightSoftKey(0);
  BuildEditBar(m_bar, this, 0);
  m_pPanel = CreatePagePanel(this, kPageColor, true);
  CtlPanel* pContent = m_pPanel->GetContentPanel();
  m_pPicture = CtlStatic::Create(pContent);
  m_pPicture->SetImageId(223, false);
  m_pTitle = CtlStatic::Create(pContent);
  m_pTitle->SetTextId(204);
  m_pTitle->SetFont(TFontDesc{16, true});
  m_pTitle->SetTextColor(kHeadingColor, EColorSolid);
  for (int32_t i = 0; i < 6; ++i) {
    const bool bHeading = i % 2 == 0;
    CtlStatic* p = CtlStatic::Create(pContent);
    p->SetText(kSectionTexts[i]);
    p->SetFont(bHeading ? kHeadingFont : kBodyFont);
    p->SetTextColor(bHeading ? kHeadingColor : kBodyColor, EColorSolid);
    m_apSections[i] = p;
  }
  m_pPanel->SetDragHandler(m_pPanel->DragDelegate(), true);
}

void CCreditsView::ApplyLayout(CLayoutNode* pNode) {
  BuildCreditsLayout(pNode);
  m_bar.Bar()->SetLayoutNode(pNode->FindNode(176, -1));
  m_pPanel->SetLayoutNode(pNode->FindNode(175, -1));
  CLayoutNode* pContent = m_pPanel->GetContentLayout();
  BuildCreditsContentLayout(pContent);
  m_pPicture->SetLayoutNode(pContent->FindNode(177, -1));
  m_pTitle->SetLayoutNode(pContent->FindNode(178, -1));
  for (int32_t i = 0; i < 6; ++i) m_apSections[i]->SetLayoutNode(pContent->FindNode(179 + i, -1));
  // A rebuild (a 180° turn keeps the size) sizes the new tree's sections.
  RequestSizing();
}

void CCreditsView::OnRectChanged(const RECT& rcNew, const RECT& rcOld) {
  CView::OnRectChanged(rcNew, rcOld);
  if (m_pPanel && !RectEquals(rcNew, rcOld)) RequestSizing();
}

void CCreditsView::RequestSizing() { RequestMeasuredPass(m_pPanel, CDelegate::Member<&CCreditsView::SizeSections>(this)); }

void CCreditsView::SizeSections() {
  ++m_nSizingRuns;
  m_pPanel->SetRelayoutHandler({});
  CLayoutNode* pContent = m_pPanel->GetContentLayout();
  const int32_t nInset = (m_pPanel->Rect().right - m_pPanel->Rect().left) / 12;
  int32_t anHeights[6] = {};
  for (int32_t i = 0; i < 6; ++i) {
    CLayoutNode* pNode = pContent->FindNode(179 + i, -1);
    const int32_t nWidth = pNode && pNode->IsLaidOut() ? pNode->GetWidth() - nInset : 0;
    anHeights[i] = MeasureTextHeight(m_apSections[i], m_apSections[i]->Text(), i % 2 == 0 ? kHeadingFont : kBodyFont,
                                     nWidth, EAlignLeft);
  }
  SizeCreditsSections(pContent, anHeights);
  m_pPanel->Relayout();
}
