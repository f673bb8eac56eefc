#include "app/TrackDetailsView.h"

#include "app/QuorelAppUi.h"
#include "app/ResultListView.h"
#include "layouts/Layouts.h"
#include "protocol/AppSettings.h"

CView* CTrackDetailsView::NewView() { return new CTrackDetailsView(); }

CTrackDetailsView::~CTrackDetailsView() = default;

void CTrackDetailsView::Create(CControl* pParent, plat::WStringView className, plat::WStringView title) {
  CView::Create(pParent, className, title);
  CHTTPUserModel* pUsers = AppSettings::GetUserModel();
  CreateBarAndPanel(pUsers->UserName());
  CreateTrackTexts();
  m_play.Build(m_pScroll->GetContentPanel(), 0);
  m_play.pButton->SetPaintedByParent(true);
  m_play.pCaption->SetTextId(65);
  m_play.pBar->SetEnabled(false);  // shows progress; no focus stop
  int32_t an[3];
  if (IdleRowImages(190, an)) SetButtonStateImages(m_play, an[0], an[1], an[2]);
  m_play.pButton->SetClickHandler(CDelegate::Member<&CTrackDetailsView::PlayPressed>(this));
  m_play.pButton->SetDragHandler(m_pScroll->DragDelegate(), true);
  CreateLinkRows();
  CreateFooter();
  CQuorelAppUi::SetLeftSoftKey(0);
  CQuorelAppUi::SetRightSoftKey(14);
  m_play.pButton->SetFocus();
  SubscribeTrackListeners();
  pUsers->CancelPending();
  if (IsVideoEnabled()) pUsers->GetVideos();
  pUsers->GetTrackBuyLinks();
  if (IsLyricsEnabled()) pUsers->GetTrackLyricsLink();
  CQuorelAppUi::ShowPreviewMenuItem(true);
  CQuorelAppUi::EnableResultsMenuItem(HasResultPage());
}

void CTrackDetailsView::ApplyLayout(CLayoutNode* pNode) {
  CLayoutNode* pContent = BuildFrame(pNode);
  BuildTrackDetailsContentLayout(pContent, 1);
  pContent->SelectVariants(11, IsAMGEnabled() ? 1 : 0);
  pContent->SelectVariants(12, IsVideoEnabled() ? 1 : 0);
  pContent->SelectVariants(13, IsLyricsEnabled() ? 1 : 0);
  SelectBuyKey(pContent);
  pContent->SelectVariants(7, 0);
  BindTrackNodes(pContent);
  m_play.pButton->SetLayoutNode(pContent->FindNode(150, -1));
  InstallContentRelayout();
}

void CTrackDetailsView::OnLeave(TViewRecord* pOld, TViewRecord* pNew) {
  CView::OnLeave(pOld, pNew);
  m_bLeft = true;
  UnsubscribeTrackListeners();
  AppSettings::GetUserModel()->CancelPending();
  CQuorelAppUi::ShowPreviewMenuItem(false);
}

void CTrackDetailsView::PlayPressed() { CQuorelAppUi::PreviewCommand(); }

void CTrackDetailsView::OnPreviewState() {
  const int32_t nState = CQuorelAppUi::GetPreviewState();
  if (nState < 0) return;
  int32_t an[3];
  if (nState == 2) {
    if (PlayingRowImages(an)) SetButtonStateImages(m_play, an[0], an[1], an[2]);
    m_play.pBar->SetVisible(true);
    return;
  }
  if (IdleRowImages(190, an)) SetButtonStateImages(m_play, an[0], an[1], an[2]);
  if (nState == 4) {
    m_bFinished = true;
    CQuorelAppUi::StopPreview();
  }
  if (nState == 0 || nState == 1 || nState == 4) ResetBar(m_play.pBar);
}

void CTrackDetailsView::OnPreviewTick() {
  ShowPlayed(m_play.pBar);
}
