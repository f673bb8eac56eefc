#include "app/MessageView.h"

#include "app/QuorelAppUi.h"
#include "app/ScreenSupport.h"
#include "framework/AppUi.h"
#include "framework/Theme.h"
#include "layouts/Layouts.h"
#include "platform/ui/Ui.h"
#include "protocol/AppSettings.h"

CMessageView::~CMessageView() {
  StopListening();
  SetClosing();
}

void CMessageView::Create(CControl* pParent, plat::WStringView className, plat::WStringView title) {
  CView::Create(pParent, className, title);
  const uint32_t nTheme = GetThemeIndex();
  BuildEditBar(m_bar, this, 0);
  m_pContent = new CtlPanel();
  m_pContent->Create(this);
  m_pContent->SetEnabled(false);  // texts and a picture: no focus stop
  m_pContent->SetColor(ThemeBackgroundColor(nTheme));
  for (CtlStatic** ppLabel : {&m_pTitle, &m_pText}) {
    *ppLabel = CtlStatic::Create(m_pContent);
    (*ppLabel)->SetAlignment(EAlignCenter);
    (*ppLabel)->SetTextColor(ThemeTextColor(nTheme), EColorSolid);
  }
  m_pTitle->SetText(*AppSettings::MessageTitle());
  m_pText->SetText(*AppSettings::MessageText());

  if (*AppSettings::MessagePending()) {
    m_bLink = true;
    m_pPicture = CtlStatic::Create(m_pContent);
    m_pPicture->SetImageId(5, true);
    m_url = *AppSettings::MessageUrl();
    if (*AppSettings::MessageRequired()) {
      CQuorelAppUi::SetLeftSoftKey(m_url.empty() ? 0 : 13);
      CQuorelAppUi::SetRightSoftKey(1);
    } else {
      CQuorelAppUi::SetLeftSoftKey(3);
      CQuorelAppUi::SetRightSoftKey(14);
    }
    m_commandListener.Subscribe();
  } else {
    m_pWait = CtlAnimation::Create(m_pContent);
    for (int32_t nSlot = 84; nSlot <= 100; ++nSlot) m_pWait->AddFrame(nSlot);
    m_pWait->SetFrameInterval(1);
    m_pWait->Show(true);
    CQuorelAppUi::SetLeftSoftKey(3);
    CQuorelAppUi::SetRightSoftKey(0);
    m_playerListener.Subscribe();
  }
  m_quiet.HoldQuiet();
}

void CMessageView::ApplyLayout(CLayoutNode* pNode) {
  BuildView16Layout(pNode);
  m_bar.Bar()->SetLayoutNode(pNode->FindNode(209, -1));
  m_pContent->SetLayoutNode(pNode->FindNode(210, -1));
  m_pTitle->SetLayoutNode(pNode->FindNode(211, -1));
  m_pText->SetLayoutNode(pNode->FindNode(212, -1));
  CControl* pMark = m_pWait ? static_cast<CControl*>(m_pWait) : m_pPicture;
  pMark->SetLayoutNode(pNode->FindNode(214, -1));
}

void CMessageView::OnRectChanged(const RECT& rcNew, const RECT& rcOld) {
  CView::OnRectChanged(rcNew, rcOld);
  const int32_t nHeight = StandardHeightNow(2);
  if (!SizeDiffers(rcNew, rcOld) || !nHeight || !m_pTitle) return;
  m_pTitle->SetFont(TFontDesc{nHeight, true});
  m_pText->SetFont(TFontDesc{nHeight, false});
}

void CMessageView::OnLeave(TViewRecord* pOld, TViewRecord* pNew) {
  StopListening();
  m_quiet.ReleaseQuiet();
  CView::OnLeave(pOld, pNew);
}

void CMessageView::StopListening() {
  m_playerListener.Unsubscribe();
  m_commandListener.Unsubscribe();
}

void CMessageView::OnMessageCommand(const int32_t& nPayload) {
  CQuorelAppUi::OpenUrl(m_url);
  if (nPayload != 0)
    plat::PostQuitMessage(0);
  else
    CQuorelAppUi::GoBack();
}

void CMessageView::OnPlayerState(const int32_t& nState) {
  if (nState == 7) {
    CQuorelAppUi::ShowMessage(86, 152);
    CQuorelAppUi::GoBack();
    return;
  }
  const int32_t nPreview = CQuorelAppUi::GetPreviewState();
  if (nPreview != 0 && nPreview != 1)
    if (CAppUi* pApp = CAppUi::Instance()) pApp->ActivateView(13);
}
