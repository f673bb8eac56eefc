#include "app/UserPageView.h"

#include "app/FunctionDelegate.h"
#include "app/QuorelAppUi.h"
#include "app/ResultListView.h"
#include "framework/Resources.h"
#include "framework/Theme.h"
#include "layouts/Layouts.h"
#include "platform/base/Format.h"
#include "protocol/AppSettings.h"
#include "protocol/SearchResults.h"

namespace {

constexpr int32_t kUserPageView = 13, kRecordingsView = 10, kPlaylistView = 11, kUserInfoView = 15;

bool DetailsShown() { return *AppSettings::ShowDetails() != 0; }

void BindTo(CControl* pControl, CLayoutNode* pContent, int32_t nId) {
  if (pControl) pControl->SetLayoutNode(pContent->FindNode(nId, -1));
}

// A button of the user part: usable while `bEnabled`; its caption is lit
// while `bLit` (a list with records, the information always).
void SetButtonState(CtlButton* pButton, bool bEnabled, bool bLit) {
  pButton->SetEnabled(bEnabled);
  uint32_t nTheme = GetThemeIndex();
  pButton->SetCaptionColor(bLit ? ThemeTextColor(nTheme) : ThemeSecondaryTextColor(nTheme));
}

}  // namespace

CView* CUserPageView::NewView() { return new CUserPageView(); }

CUserPageView::~CUserPageView() {
  m_userImageListener.Unsubscribe();
  m_userInfoListener.Unsubscribe();
  m_recordingsListener.Unsubscribe();
  m_playlistListener.Unsubscribe();
}

void CUserPageView::BuildPreviewRow(CDetailsRowA& row, int32_t nMode, int32_t nRest) {
  row.Build(m_pScroll->GetContentPanel(), nMode);
  row.pButton->SetPaintedByParent(true);
  row.pButton->SetDragHandler(m_pScroll->DragDelegate(), true);
  row.pBar->SetEnabled(false);  // shows progress; no focus stop
  row.SetHighlightImages(nRest, 191);
  int32_t an[3];
  if (IdleRowImages(nRest, an)) SetButtonStateImages(row, an[0], an[1], an[2]);
}

CtlButton* CUserPageView::BuildUserButton(int32_t nCaption, bool bEnabled, bool bLit) {
  CtlButton* pButton = CtlButton::Create(m_pScroll->GetContentPanel());
  pButton->SetPaintedByParent(true);
  TInnerLayoutEdit edit = pButton->EditInnerLayout();
  BuildUserPageLayout(edit.pNode);
  if (edit.bPending) edit.finisher.Call();
  ApplyUserPageButtonSkin(pButton);
  pButton->SetCaptionAlignment(EAlignCenter);
  pButton->SetCaptionId(nCaption);
  pButton->SetDragHandler(m_pScroll->DragDelegate(), true);
  SetButtonState(pButton, bEnabled, bLit);
  return pButton;
}

void CUserPageView::Create(CControl* pParent, plat::WStringView className, plat::WStringView title) {
  CView::Create(pParent, className, title);
  CHTTPUserModel* pUsers = AppSettings::GetUserModel();
  CQuorelAppUi::SetLeftSoftKey(0);
  CQuorelAppUi::SetRightSoftKey(14);
  CreateBarAndPanel(pUsers->TrackName());
  CreateTrackTexts();
  const uint32_t nTheme = GetThemeIndex();
  m_pUserPicture = CtlStatic::Create(m_pScroll->GetContentPanel());
  m_pUserPicture->SetPaintedByParent(true);
  if (nTheme <= 1) m_pUserPicture->SetImageId(nTheme == 0 ? 211 : 325, true);

  const plat::WString userName = pUsers->UserName();
  m_nRestImage = 190;
  BuildPreviewRow(m_preview, 0, 190);
  m_preview.pCaption->SetTextId(63);
  m_preview.pButton->SetClickHandler(CDelegate::Member<&CUserPageView::PreviewPressed>(this));
  // No preview address: nothing to play on this row.
  if (pUsers->AudioPreviewUrl().empty()) SetRowHighlight(m_preview, false);
  BuildPreviewRow(m_matched, 0, m_nRestImage);
  m_matched.pCaption->SetText(userName);
  m_matched.pButton->SetClickHandler(CDelegate::Member<&CUserPageView::MatchedPressed>(this));
  m_switch.Build(m_pScroll->GetContentPanel(), 0);
  m_switch.pButton->SetPaintedByParent(true);
  m_switch.pButton->SetDragHandler(m_pScroll->DragDelegate(), true);
  m_switch.pCaption->SetTextId(61);
  m_switch.pButton->SetClickHandler(CDelegate::Member<&CUserPageView::ToggleDetails>(this));
  ShowSwitchImages();
  BuildPreviewRow(m_full, 1, 190);
  m_full.pCaption->SetText(userName);
  m_full.pButton->SetClickHandler(CDelegate::Member<&CUserPageView::FullPressed>(this));
  m_full.pButton->SetEnabled(DetailsShown());

  m_pRecordings = BuildUserButton(71, false, false);
  m_pPlaylist = BuildUserButton(72, false, false);
  m_pInfo = BuildUserButton(70, DetailsShown(), true);
  m_pRecordings->SetClickHandler(CDelegate::Member<&CUserPageView::OpenRecordings>(this));
  m_pPlaylist->SetClickHandler(CDelegate::Member<&CUserPageView::OpenPlaylist>(this));
  m_pInfo->SetClickHandler(CDelegate::Member<&CUserPageView::OpenInformation>(this));

  CreateLinkRows();
  CreateFooter();

  FocusStartRow();
  SubscribeTrackListeners();
  m_userImageListener.Subscribe();
  m_userInfoListener.Subscribe();
  m_recordingsListener.Subscribe();
  m_playlistListener.Subscribe();
  CQuorelAppUi::ShowPreviewMenuItem(true);
  CQuorelAppUi::EnableResultsMenuItem(HasResultPage());

  pUsers->CancelPending();
  if (IsVideoEnabled()) pUsers->GetVideos();
  pUsers->GetTrackBuyLinks();
  if (IsLyricsEnabled()) pUsers->GetTrackLyricsLink();
  pUsers->GetUserInformation();
  pUsers->GetUserRecordings();
  pUsers->GetUserPlaylist();
  // A preview that went on playing from the list shows on its row.
  OnPreviewState();
}

void CUserPageView::FocusStartRow() {
  CHTTPUserModel* pUsers = AppSettings::GetUserModel();
  if (CQuorelAppUi::GetPreviewState() == 0) {
    if (!pUsers->MatchedUrl().empty()) {
      m_matched.pButton->SetFocus();
      pUsers->SetTrackKind(TrackKindMatched);
    }
    if (!pUsers->AudioPreviewUrl().empty()) {
      m_preview.pButton->SetFocus();
      pUsers->SetTrackKind(TrackKindPreview);
    }
    return;
  }
  if (pUsers->TrackKind() == TrackKindMatched)
    m_matched.pButton->SetFocus();
  else if (pUsers->TrackKind() == TrackKindPreview)
    m_preview.pButton->SetFocus();
}

uint32_t CUserPageView::Key9() const { return (DetailsShown() ? 1u : 0u) + VideoLyricsBits(); }

void CUserPageView::ApplyLayout(CLayoutNode* pNode) {
  CLayoutNode* pContent = BuildFrame(pNode);
  BuildUserPageContentLayout(pContent, 1);
  pContent->SelectVariants(6, IsPreviewEnabled() ? 1 : 0);
  pContent->SelectVariants(5, AppSettings::GetUserModel()->UserName().empty() ? 0 : 1);
  pContent->SelectVariants(9, Key9());
  pContent->SelectVariants(11, IsAMGEnabled() ? 1 : 0);
  SelectBuyKey(pContent);
  BindTrackNodes(pContent);
  BindTo(m_matched.pButton, pContent, 130);
  BindTo(m_preview.pButton, pContent, 131);
  BindTo(m_switch.pButton, pContent, 132);
  BindTo(m_pUserPicture, pContent, 133);
  BindTo(m_full.pButton, pContent, 137);
  BindTo(m_pRecordings, pContent, 138);
  BindTo(m_pPlaylist, pContent, 139);
  BindTo(m_pInfo, pContent, 140);
  InstallContentRelayout();
}

void CUserPageView::OnLeave(TViewRecord* pOld, TViewRecord* pNew) {
  CView::OnLeave(pOld, pNew);
  m_bLeft = true;
  UnsubscribeTrackListeners();
  m_userImageListener.Unsubscribe();
  m_userInfoListener.Unsubscribe();
  m_recordingsListener.Unsubscribe();
  m_playlistListener.Unsubscribe();
  if (m_imageStep.IsQueued()) m_imageStep.Cancel();
  AppSettings::GetUserModel()->CancelPending();
  CQuorelAppUi::ShowPreviewMenuItem(false);
}

void CUserPageView::OnRectChanged(const RECT& rcNew, const RECT& rcOld) {
  CTrackPageView::OnRectChanged(rcNew, rcOld);
  const bool bSizeChanged = SizeDiffers(rcNew, rcOld);
  if (!bSizeChanged || m_bLeft) return;
  m_bImagePending = true;
  m_nImageRetries = 0;
  PostImageStep();
}

void CUserPageView::PostImageStep() {
  if (!m_imageStep.IsQueued()) m_imageStep.Post();
}

void CUserPageView::RunImageStep() {
  if (!m_bImagePending || m_bLeft) return;
  CLayoutNode* pNode = Content() ? Content()->FindNode(134, -1) : nullptr;
  if (!pNode || !pNode->IsLaidOut() || pNode->GetWidth() < 1 || pNode->GetHeight() < 1) {
    // The panel has not laid out yet; a bounded number of tries, so that a
    // page whose node never gets a size does not keep the queue busy.
    if (++m_nImageRetries <= kMaxImageRetries) PostImageStep();
    return;
  }
  m_bImagePending = false;
  CHTTPUserModel* pUsers = AppSettings::GetUserModel();
  if (pUsers->UserName().empty()) return;
  pUsers->RequestImage(RECT{0, 0, pNode->GetWidth(), pNode->GetHeight()});
}

// ---------------------------------------------------------------------------

void CUserPageView::ShowSwitchImages() {
  const uint32_t nTheme = GetThemeIndex();
  if (nTheme > 1) return;
  if (DetailsShown())
    SetButtonStateImages(m_switch, 277, nTheme == 0 ? 278 : 321, 277);
  else
    SetButtonStateImages(m_switch, 275, nTheme == 0 ? 276 : 320, 275);
}

void CUserPageView::EnableUserPart() {
  const bool bShown = DetailsShown();
  m_full.pButton->SetEnabled(bShown);
  SetButtonState(m_pInfo, bShown, true);
  SetButtonState(m_pRecordings, bShown && m_bHasRecordings, m_bHasRecordings);
  SetButtonState(m_pPlaylist, bShown && m_bHasPlaylist, m_bHasPlaylist);
}

void CUserPageView::ToggleDetails() {
  uint8_t* pDetails = AppSettings::ShowDetails();
  *pDetails = *pDetails ? 0 : 1;
  Content()->SelectVariants(9, Key9());
  EnableUserPart();
  ShowSwitchImages();
  if (*pDetails && m_nLastState != 2) CQuorelAppUi::PlayPreviewKind(TrackKindFull);
  m_pScroll->Relayout();
  m_pScroll->Invalidate();
}

void CUserPageView::PlayKind(int32_t nKind) { CQuorelAppUi::PlayPreviewKind(nKind); }

void CUserPageView::OpenRecordings() {
  CQuorelAppUi::StopPreview();
  CQuorelAppUi::PushHistory(kUserPageView, FunctionDelegate<&CUserPageView::PopUserHistory>());
  CAppUi::Instance()->ActivateView(kRecordingsView);
}

void CUserPageView::OpenPlaylist() {
  CQuorelAppUi::StopPreview();
  CQuorelAppUi::PushHistory(kUserPageView, FunctionDelegate<&CUserPageView::PopUserHistory>());
  CAppUi::Instance()->ActivateView(kPlaylistView);
}

void CUserPageView::OpenInformation() {
  CQuorelAppUi::PushHistory(kUserPageView);
  CAppUi::Instance()->ActivateView(kUserInfoView);
}

void CUserPageView::PopUserHistory() {
  if (CHTTPUserModel* pUsers = AppSettings::GetUserModel()) pUsers->PopHistory();
}

// ---------------------------------------------------------------------------

void CUserPageView::HandleUserImage(const TImageLoaded& payload) { ShowUserPicture(m_pUserPicture, payload); }

void CUserPageView::HandleUserInfo(const StringRecord7& payload) {
  if (!m_full.pCaption2) return;
  if (payload.m_nValue)
    m_full.pCaption2->SetText(payload.m_texts[5]);
  else
    m_full.pCaption2->SetTextId(74);
}

void CUserPageView::HandleRecordings(const TResultsLoaded& payload) {
  if (!payload.m_bSuccess || !payload.m_pResults) {
    m_pRecordings->SetCaptionId(75);
    return;
  }
  const int32_t nTotal = payload.m_pResults->TotalRecords();
  m_pRecordings->SetCaption(CResources::GetString(71) + plat::FormatW(u"(%d)", nTotal));
  if (nTotal > 0) {
    m_bHasRecordings = true;
    SetButtonState(m_pRecordings, DetailsShown(), true);
  }
}

void CUserPageView::HandlePlaylist(const TResultsLoaded& payload) {
  if (!payload.m_bSuccess || !payload.m_pResults || payload.m_pResults->TotalRecords() <= 0) return;
  m_bHasPlaylist = true;
  SetButtonState(m_pPlaylist, DetailsShown(), true);
}

// ---------------------------------------------------------------------------

CDetailsRowA* CUserPageView::RowOf(int32_t nRow) {
  switch (nRow) {
    case ERowMatched: return &m_matched;
    case ERowPreview: return &m_preview;
    case ERowFull: return &m_full;
    default: return nullptr;
  }
}

CDetailsRowA* CUserPageView::RowOfKind(int32_t nKind) {
  switch (nKind) {
    case TrackKindMatched: return &m_matched;
    case TrackKindPreview: return &m_preview;
    case TrackKindFull: return &m_full;
    default: return nullptr;
  }
}

void CUserPageView::OnPreviewState() {
  const int32_t nState = CQuorelAppUi::GetPreviewState();
  m_nLastState = nState;
  if (nState < 0) return;
  CDetailsRowA* pPlaying = nState == 2 ? RowOfKind(AppSettings::GetUserModel()->TrackKind()) : nullptr;
  int32_t an[3];
  for (CDetailsRowA* pRow : {&m_matched, &m_preview, &m_full}) {
    const int32_t nRest = pRow == &m_matched ? m_nRestImage : 190;
    // The preview row without a preview stays dim: binding the idle images
    // would show the play picture on a row that plays nothing.
    const bool bDimPreview = pRow == &m_preview && !pRow->pButton->IsEnabled();
    if (!bDimPreview && (pRow == pPlaying ? PlayingRowImages(an) : IdleRowImages(nRest, an)))
      SetButtonStateImages(*pRow, an[0], an[1], an[2]);
    if (nState == 3) continue;  // paused: the bars stay as they are
    if (nState == 4)
      ResetBar(pRow->pBar);
    else
      pRow->pBar->SetVisible(pRow == pPlaying);
  }
  if (nState == 0 || nState == 1) m_nActiveRow = ERowNone;
  if (nState == 2)
    m_nActiveRow = pPlaying == &m_matched ? ERowMatched
                   : pPlaying == &m_preview ? ERowPreview
                   : pPlaying == &m_full    ? ERowFull
                                            : ERowNone;
  if (nState == 4) {
    m_nActiveRow = ERowNone;
    m_bFinished = true;
    CQuorelAppUi::StopPreview();
  }
}

void CUserPageView::OnPreviewTick() {
  if (CDetailsRowA* pRow = RowOf(m_nActiveRow)) ShowPlayed(pRow->pBar);
}
