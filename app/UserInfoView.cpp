#include "app/UserInfoView.h"

#include "app/QuorelAppUi.h"
#include "app/ResultListView.h"
#include "app/ScreenSupport.h"
#include "app/TrackPageView.h"
#include "framework/Theme.h"
#include "layouts/LayoutEdit.h"
#include "layouts/Layouts.h"
#include "protocol/AppSettings.h"
#include "protocol/Records.h"

namespace {

int32_t NodeHeight(CLayoutNode* pContent, int32_t nId) {
  CLayoutNode* p = pContent->FindNode(nId, -1);
  return p ? p->GetHeight() : 0;
}

// Sizes the text's node to the text wrapped at the node's width; the
// control gets the font it was measured in.
int32_t FitText(CtlStatic* pText, int32_t nFont) {
  CLayoutNode* pNode = pText->LayoutNode();
  if (!pNode || nFont < 1) return 0;
  pText->SetFont(TFontDesc{nFont});
  return MeasureTextHeight(pText, pText->Text(), TFontDesc{nFont}, pNode->GetWidth(), EAlignLeft);
}

}  // namespace

CView* CUserInfoView::NewView() { return new CUserInfoView(); }

CUserInfoView::~CUserInfoView() {
  SetClosing();
  m_imageListener.Unsubscribe();
  m_infoListener.Unsubscribe();
}

void CUserInfoView::Create(CControl* pParent, plat::WStringView className, plat::WStringView title) {
  CView::Create(pParent, className, title);
  SetNoBackground();
  CQuorelAppUi::SetLeftSoftKey(0);
  CQuorelAppUi::SetRightSoftKey(0);
  BuildEditBar(m_bar, this, 220);
  const uint32_t nTheme = GetThemeIndex();
  m_pScroll = CreatePagePanel(this, ThemeBackgroundColor(nTheme), false);
  m_pScroll->GetContentPanel()->SetColor(ThemeBackgroundColor(nTheme));
  CControl* pContent = m_pScroll->GetContentPanel();
  m_pPicture = CtlStatic::Create(pContent);
  m_pPicture->SetPaintedByParent(true);
  for (CtlStatic** pp : {&m_pName, &m_pDisplay, &m_pThird, &m_pLabel1, &m_pText1, &m_pLabel2, &m_pText2}) {
    *pp = CtlStatic::Create(pContent);
    (*pp)->SetPaintedByParent(true);
    (*pp)->SetTextColor(ThemeTextColor(nTheme), EColorSolid);
  }
  m_pLabel1->SetAutoFit(true);
  m_pLabel2->SetAutoFit(true);
  InstallMeasuredLayout();
  m_imageListener.Subscribe();
  m_infoListener.Subscribe();
  CHTTPUserModel* pUsers = AppSettings::GetUserModel();
  pUsers->CancelPending();
  pUsers->GetUserInformation();
  CQuorelAppUi::ShowPreviewMenuItem(true);
  CQuorelAppUi::EnableResultsMenuItem(HasResultPage());
}

void CUserInfoView::ApplyLayout(CLayoutNode* pNode) {
  BuildFrameLayout(pNode);
  if (CtlAdvButton* pBar = m_bar.Bar()) pBar->SetLayoutNode(pNode->FindNode(114, -1));
  m_pScroll->SetLayoutNode(pNode->FindNode(69, -1));
  CLayoutNode* pContent = m_pScroll->GetContentLayout();
  BuildUserInfoContentLayout(pContent);
  const std::pair<CtlStatic*, int32_t> binds[] = {{m_pPicture, 190}, {m_pName, 191},   {m_pDisplay, 192},
                                                  {m_pThird, 193},   {m_pLabel1, 196}, {m_pText1, 197},
                                                  {m_pLabel2, 198},  {m_pText2, 199}};
  for (const auto& [pControl, nId] : binds) pControl->SetLayoutNode(pContent->FindNode(nId, -1));
  // A rebuild keeps a second text that arrived already.
  pContent->SelectVariants(8, m_pText2->Text().empty() ? 0 : 1);
  m_pScroll->GetContentPanel()->SetDragHandler(m_pScroll->DragDelegate(), true);
  InstallMeasuredLayout();
}

void CUserInfoView::OnRectChanged(const RECT& rcNew, const RECT& rcOld) {
  CView::OnRectChanged(rcNew, rcOld);
  const bool bSizeChanged = SizeDiffers(rcNew, rcOld);
  if (bSizeChanged && m_pScroll) InstallMeasuredLayout();
}

void CUserInfoView::OnLeave(TViewRecord* pOld, TViewRecord* pNew) {
  CView::OnLeave(pOld, pNew);
  m_bLeft = true;
  m_imageListener.Unsubscribe();
  m_infoListener.Unsubscribe();
  AppSettings::GetUserModel()->CancelPending();
  CQuorelAppUi::ShowPreviewMenuItem(false);
}

void CUserInfoView::InstallMeasuredLayout() {
  RequestMeasuredPass(m_pScroll, CDelegate::Member<&CUserInfoView::MeasuredLayout>(this));
}

void CUserInfoView::MeasuredLayout() {
  m_pScroll->SetRelayoutHandler(CDelegate());
  if (m_bLeft) return;
  CLayoutNode* pContent = Content();
  if (!pContent->FindNode(190, -1)) return;  // not laid out by a description yet
  m_pPicture->SetImageId(-1, true);
  AppSettings::GetUserModel()->RequestImage(m_pPicture->LocalRect());

  const int32_t nNameFont = NodeHeight(pContent, 186), nDisplayFont = NodeHeight(pContent, 187),
                nThirdFont = NodeHeight(pContent, 188), nLabelFont = NodeHeight(pContent, 189);
  const int32_t h191 = FitText(m_pName, nNameFont), h192 = FitText(m_pDisplay, nDisplayFont),
                h193 = FitText(m_pThird, nThirdFont);
  SetHeightPx(pContent->FindNode(191, -1), h191);
  SetHeightPx(pContent->FindNode(192, -1), h192);
  SetHeightPx(pContent->FindNode(193, -1), h193);
  ReanchorUserInfoSpacer(pContent, h191, h192, h193);
  SetHeightPx(pContent->FindNode(198, -1), FitText(m_pLabel2, nLabelFont));
  SetVariantHeightPx(pContent->FindNode(199, -1), 8, 1, FitText(m_pText2, nLabelFont));
  SetHeightPx(pContent->FindNode(196, -1), FitText(m_pLabel1, nLabelFont));
  SetHeightPx(pContent->FindNode(197, -1), FitText(m_pText1, nLabelFont));
  m_pScroll->Relayout();
}

void CUserInfoView::HandleUserImage(const TImageLoaded& payload) { ShowUserPicture(m_pPicture, payload); }

void CUserInfoView::HandleUserInfo(const StringRecord7& payload) {
  CLayoutNode* pContent = Content();
  if (!payload.m_nValue) {
    m_pThird->SetTextId(74);
  } else {
    const plat::WString* t = payload.m_texts;
    AppSettings::GetUserModel()->SetImageUrl(t[1]);
    m_pName->SetText(t[0]);
    m_pDisplay->SetText(t[3]);
    m_pThird->SetText(t[5]);
    if (!t[4].empty()) {
      m_pLabel1->SetTextId(77);
      m_pText1->SetText(t[4]);
    } else {
      m_pLabel1->SetText(u"");
      m_pText1->SetText(u"");
    }
    if (!t[2].empty()) {
      pContent->SelectVariants(8, 1);
      m_pLabel2->SetTextId(78);
      m_pText2->SetText(t[2]);
    } else {
      pContent->SelectVariants(8, 0);
      m_pLabel2->SetText(u"");
      m_pText2->SetText(u"");
    }
  }
  InstallMeasuredLayout();
}
