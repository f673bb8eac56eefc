#include "app/RecordListPanel.h"

#include <algorithm>

#include "app/EditBar.h"
#include "app/FunctionDelegate.h"
#include "app/QuorelAppUi.h"
#include "app/ScreenSupport.h"
#include "framework/Theme.h"
#include "layouts/LayoutEdit.h"
#include "layouts/Layouts.h"
#include "platform/base/Format.h"
#include "protocol/AppSettings.h"
#include "protocol/HTTPUserModel.h"
#include "protocol/SearchResults.h"

namespace {

constexpr int32_t kListView = 4, kRecordingsView = 10, kPlaylistView = 11, kUserPageView = 13,
                  kTrackDetailsView = 14;
constexpr int32_t kProgressTotal = 1000;

void* RowArgument(int32_t i) { return reinterpret_cast<void*>(static_cast<intptr_t>(i)); }
int32_t RowOf(void* p) { return static_cast<int32_t>(reinterpret_cast<intptr_t>(p)); }

CHTTPUserModel& Users() { return *AppSettings::GetUserModel(); }

// Idle play-button pictures {normal, focused, pressed}; themes other than 0
// and 1 keep what the row shows, except that a row without a preview always
// shows 191.
bool IdleImages(bool bPreview, int32_t (&an)[3]) {
  if (!bPreview) {
    an[0] = an[1] = an[2] = 191;
    return true;
  }
  uint32_t nTheme = GetThemeIndex();
  if (nTheme > 1) return false;
  an[0] = an[1] = 190;
  an[2] = nTheme == 0 ? 192 : 323;
  return true;
}

bool PlayingImages(int32_t (&an)[3]) {
  uint32_t nTheme = GetThemeIndex();
  if (nTheme > 1) return false;
  an[0] = an[1] = 193;
  an[2] = nTheme == 0 ? 194 : 319;
  return true;
}

void ShowImages(CRecordListItem& row, const int32_t (&an)[3]) {
  row.pPlay->SetImages(an[0], an[1], an[2]);
  row.pPlay->Invalidate();
}

}  // namespace

CRecordListPanel::CRecordListPanel() = default;

CRecordListPanel* CRecordListPanel::New(CControl* pParent, CSearchResults* pModel, int32_t nKind, CEditBar* pBar) {
  return NewControl<CRecordListPanel>([&](CRecordListPanel* p) { p->Init(pParent, pModel, nKind, pBar); });
}

CRecordListPanel::~CRecordListPanel() {
  m_tickListener.Unsubscribe();
  m_playerListener.Unsubscribe();
}

void CRecordListPanel::Init(CControl* pParent, CSearchResults* pModel, int32_t nKind, CEditBar* pBar) {
  CtlPanel::Create(pParent);
  TColor background = ThemeBackgroundColor(GetThemeIndex());
  SetColor(background);
  m_nKind = nKind;
  m_pBar = pBar;

  m_pRoot = CLayoutNode::CreateRoot();
  BuildUserListInitLayout(m_pRoot.get());
  m_pRoot->ResetVariants();
  m_pRoot->SelectVariants(3, 0);

  m_pScroll = CreatePagePanel(this, background, false);
  m_pScroll->SetLayoutNode(m_pRoot->FindNode(117, -1));

  m_pEmpty = CtlStatic::Create(this);
  m_pEmpty->SetTextId(60);
  m_pEmpty->SetAlignment(EAlignCenter);
  m_pEmpty->SetTextStyle(EPlaceCenter);
  m_pEmpty->SetTextColor(ThemeTextColor(GetThemeIndex()), EColorSolid);
  m_pEmpty->SetAutoFit(true);
  m_pEmpty->SetPaintedByParent(true);
  m_pEmpty->SetLayoutNode(m_pRoot->FindNode(118, -1));

  m_pModel = pModel;
  if (m_nKind != EKindResults) Users().PushHistory();
  SetTitle();
  BuildRows();

  m_playerListener.Subscribe();
  m_tickListener.Subscribe();
  OnPlayerState();
}

void CRecordListPanel::SetTitle() {
  if (m_nKind == EKindResults) return;
  CHTTPUserModel& users = Users();
  CSearchResults* pList = m_nKind == EKindRecordings ? users.RecordingsResults() : users.PlaylistResults();
  m_title = users.UserName();
  m_title += m_nKind == EKindRecordings ? u"'s recordings" : u"'s playlist";
  m_title += plat::FormatW(u" (%d)", pList->TotalRecords());
  if (m_pBar && m_pBar->pCaption) m_pBar->pCaption->SetText(m_title);
}

void CRecordListPanel::BuildRows() {
  const int32_t n = m_pModel ? m_pModel->RecordingCount() : 0;
  CLayoutNode* pEmptyNode = m_pRoot->FindNode(118, -1);
  CLayoutNode* pListNode = m_pRoot->FindNode(117, -1);
  if (n < 1) {
    ShowLayoutNode(pEmptyNode, true);
    ShowLayoutNode(pListNode, false);
    SetEnabled(false);
    return;
  }
  CLayoutNode* pContent = m_pScroll->GetContentLayout();
  BuildListRowsLayout(pContent, 119, n, -2);
  const uint32_t nKey16 = (m_nKind != EKindResults || IsPreviewEnabled()) ? 1 : 0;
  const TColor caption = ThemeCaptionColor(GetThemeIndex());
  const TColor secondary = ThemeSecondaryTextColor(GetThemeIndex());
  m_rows.reserve(n);
  for (int32_t i = 0; i < n; ++i) {
    auto pRow = std::make_unique<CRecordListItem>();
    pRow->Build(m_pScroll->GetContentPanel());
    CImageButton* pButton = pRow->pButton;
    pButton->SetPaintedByParent(true);
    pButton->SetLayoutNode(pContent->FindNode(119, i));
    TInnerLayoutEdit edit = pButton->EditInnerLayout();
    BuildUserListLayout(edit.pNode);
    if (edit.bPending) edit.finisher.Call();
    BuildUserListItemLayout(pButton->GetChildLayout());
    pButton->GetChildLayout()->SelectVariants(16, nKey16);
    pRow->pPlay->SetPaintedByParent(true);
    // One feedback per tap, at the press; the release plays none.
    pRow->pPlay->SetPressFeedback(9);
    pRow->pPlay->SetReleaseFeedback(0);
    pButton->SetReleaseFeedback(13);

    int32_t an[3];
    if (IdleImages(HasPreview(i), an)) ShowImages(*pRow, an);
    // A plain font fitted to the box once the row has its size (a font made
    // before would only be made again).
    for (CtlStatic* pText : {pRow->pTitle, pRow->pSubtitle}) {
      pText->SetAutoFit(true);
      pText->SetAlignment(EAlignLeftSingle);
      pText->SetMarquee(false);
    }
    pRow->pTitle->SetText(m_pModel->TrackName(i));
    pRow->pTitle->SetTextColor(caption, EColorSolid);
    pRow->pSubtitle->SetText(m_pModel->ArtistName(i));
    pRow->pSubtitle->SetTextColor(secondary, EColorSolid);
    pRow->pBar->SetVisible(false);
    pRow->pBar->SetEnabled(false);  // shows progress; no focus stop

    pButton->SetFocusHandler(CDelegate::Member<&CRecordListPanel::RowFocused>(this, RowArgument(i)));
    pButton->SetBlurHandler(CDelegate::Member<&CRecordListPanel::RowBlurred>(this, RowArgument(i)));
    pButton->SetDragHandler(m_pScroll->DragDelegate(), true);
    if (HasPreview(i))
      pRow->pPlay->SetToggleClickHandler(CDelegate::Member<&CRecordListPanel::PlayClicked>(this, RowArgument(i)));
    pButton->SetClickHandler(CDelegate::Member<&CRecordListPanel::RowClicked>(this, RowArgument(i)));
    m_rows.push_back(std::move(pRow));
  }

  // A stored index may belong to an older list: anything outside the rows
  // means the first row.
  int32_t nFocus = -1;
  if (m_nKind == EKindResults)
    nFocus = *AppSettings::CurrentItem();
  else
    nFocus = m_nKind == EKindRecordings ? Users().ItemIndex() : Users().SubItemIndex();
  if (!IsRow(nFocus)) nFocus = 0;

  SetNoBackground();
  ShowLayoutNode(pEmptyNode, false);
  ShowLayoutNode(pListNode, true);
  m_pScroll->Relayout();
  m_rows[nFocus]->pButton->SetFocus();
}

void CRecordListPanel::OnRectChanged(const RECT& rcNew, const RECT& rcOld) {
  CtlPanel::OnRectChanged(rcNew, rcOld);
  const bool bSizeChanged = SizeDiffers(rcNew, rcOld);
  if (bSizeChanged && m_pRoot) LayoutInto(m_pRoot.get());
}

bool CRecordListPanel::HasPreview(int32_t i) const {
  if (m_nKind == EKindResults) return !m_pModel->AudioPreviewUrl(i).empty();
  return !m_pModel->RecordingFullUrl(i).empty();
}

void CRecordListPanel::SelectRecord(int32_t i) {
  if (!IsRow(i)) return;
  if (CQuorelAppUi::GetPreviewState() == 4) CQuorelAppUi::StopPreview();
  CHTTPUserModel& users = Users();
  const CSearchResults& m = *m_pModel;
  users.SetMatchedUrl(m.RecordingMatchedUrl(i));
  users.SetFullUrl(m.RecordingFullUrl(i));
  users.SetAudioPreviewUrl(m.AudioPreviewUrl(i));
  users.SetImageUrl(m.UserImageName(i));
  users.SetTrackImageUrl(m.AlbumImageName(i));
  users.SetTrackId(m.TrackId(i));
  users.SetRecordingId(m.RecordingId(i));
  users.SetTrackName(m.TrackName(i));
  users.SetArtistName(m.ArtistName(i));
  users.SetAlbumName(m.AlbumName(i));
  users.SetVideoUrl(m.VideoUrl(i));
  // Last: another user starts from an empty user record.
  users.SetUserName(m.RecordingUserName(i));
  bool bPreview = !m.AudioPreviewUrl(i).empty();
  if (m_nKind == EKindResults)
    users.SetTrackKind(bPreview ? TrackKindPreview : TrackKindMatched);
  else
    users.SetTrackKind(TrackKindFull);
  bool bPlayable = m_nKind == EKindResults && (bPreview || !m.RecordingMatchedUrl(i).empty());
  CQuorelAppUi::ShowPreviewMenuItem(bPlayable);
}

void CRecordListPanel::ResetRowIcon(int32_t i) {
  if (!IsRow(i)) return;
  CRecordListItem& row = *m_rows[i];
  int32_t an[3];
  if (IdleImages(HasPreview(i), an)) ShowImages(row, an);
  row.pBar->SetVisible(false);
  row.pBar->SetThumbSize(kProgressTotal, 0);
}

void CRecordListPanel::SetRowMarquee(int32_t i, bool bOn) {
  if (!IsRow(i)) return;
  m_rows[i]->pTitle->SetMarquee(bOn);
  m_rows[i]->pSubtitle->SetMarquee(bOn);
}

void CRecordListPanel::RowFocused(void* pRow) {
  int32_t i = RowOf(pRow);
  if (i != m_nPlaying) {
    ResetRowIcon(i);
    SetRowMarquee(i, true);
  }
  if (i == m_nSelected) return;
  m_nSelected = i;
  if (m_nPlaying != -1) return;
  if (m_nPaused != -1) {
    if (m_nPaused == i) return;
    // Another row than the paused one: the paused preview ends (the next
    // report of a starting preview selects the focused row).
    CQuorelAppUi::StopPreview();
    OnPreviewStopped();
    return;
  }
  SelectRecord(i);
}

void CRecordListPanel::RowBlurred(void* pRow) {
  int32_t i = RowOf(pRow);
  if (i == m_nPlaying) return;
  ResetRowIcon(i);
  SetRowMarquee(i, false);
}

void CRecordListPanel::PlayClicked(void* pRow) {
  int32_t i = RowOf(pRow);
  if (!IsRow(i)) return;
  m_rows[i]->pButton->SetFocus();
  OnPlayPressed(i);
}

void CRecordListPanel::OnPlayPressed(int32_t i) {
  if (!IsRow(i)) return;
  if (i == m_nPlaying) {
    CQuorelAppUi::StopPreview();
    OnPreviewStopped();
    return;
  }
  StartPreview(i);
}

void CRecordListPanel::StartPreview(int32_t i) {
  if (m_nPlaying != -1 || m_nPaused != -1) {
    CQuorelAppUi::StopPreview();
    OnPreviewStopped();
  }
  SelectRecord(i);
  const plat::WString url = m_nKind == EKindResults ? m_pModel->AudioPreviewUrl(i) : m_pModel->RecordingFullUrl(i);
  if (url.empty()) return;
  Users().SetTrackKind(m_nKind == EKindResults ? TrackKindPreview : TrackKindFull);
  m_nPaused = -1;
  m_nPlaying = i;
  CQuorelAppUi::PlayPreview();
  OnPlayerState();
}

void CRecordListPanel::OnPreviewStopped() {
  if (m_nPlaying == -1) return;
  int32_t nState = CQuorelAppUi::GetPreviewState();
  m_nPaused = (nState == 3 && m_nPlaying == m_nSelected) ? m_nPlaying : -1;
  int32_t r = m_nPlaying;
  m_nPlaying = -1;
  ResetRowIcon(r);
  if (IsRow(r) && !m_rows[r]->pButton->IsFocused()) SetRowMarquee(r, false);
  if (m_nPaused == -1) {
    CQuorelAppUi::StopPreview();
    SelectRecord(m_nSelected);
  } else {
    SelectRecord(m_nPaused);
  }
}

void CRecordListPanel::OnPlayerState() {
  int32_t nState = CQuorelAppUi::GetPreviewState();
  if (nState == 0 || nState == 3 || nState == 4) {
    OnPreviewStopped();
    return;
  }
  if (nState != 1 && nState != 2) return;
  if (m_nPlaying == -1) {
    int32_t p = m_nPaused, s = m_nSelected;
    if (p == -1) {
      // Nothing focused yet (or no rows): no row to show the preview on.
      if (!IsRow(s)) return;
      SelectRecord(s);
      m_nPlaying = s;
    } else if (p == s) {
      m_nPaused = -1;
      m_nPlaying = p;
    } else {
      SelectRecord(s);
      m_nPaused = -1;
      CQuorelAppUi::PlayPreview();
      return;
    }
  }
  if (!IsRow(m_nPlaying)) return;
  CRecordListItem& row = *m_rows[m_nPlaying];
  int32_t an[3];
  if (PlayingImages(an)) ShowImages(row, an);
  SetRowMarquee(m_nPlaying, true);
  row.pBar->SetVisible(true);
}

void CRecordListPanel::OnTimerTick() {
  if (!IsRow(m_nPlaying)) return;
  int32_t nTotal = CQuorelAppUi::GetPreviewLength();
  if (nTotal < 1) nTotal = 1000;
  int32_t nPosition = std::min(CQuorelAppUi::GetPreviewPlayedSeconds(), nTotal);
  m_rows[m_nPlaying]->pBar->SetThumbSize(nTotal, nPosition);
}

void CRecordListPanel::RowClicked(void* pRow) {
  int32_t i = RowOf(pRow);
  if (!IsRow(i)) return;
  if (m_nKind == EKindResults)
    OpenRecord(i);
  else
    OpenUserEntry(i);
}

void CRecordListPanel::OpenRecord(int32_t i) {
  if (i != m_nPlaying) CQuorelAppUi::StopPreview();
  int32_t nMode = *AppSettings::SavedSearchMode();
  if (nMode != 0 && nMode != 1) return;
  m_bRemember = false;
  *AppSettings::CurrentItem() = i;
  SelectRecord(i);
  CQuorelAppUi::PushHistory(kListView, FunctionDelegate<&CQuorelAppUi::StopPreview>());
  m_playerListener.Unsubscribe();
  CAppUi::Instance()->ActivateView(kUserPageView);
}

void CRecordListPanel::OpenUserEntry(int32_t i) {
  CHTTPUserModel& users = Users();
  if (users.HistoryDepth() > kMaxUserHistory) {
    CQuorelAppUi::ShowMessage(49, 152);
    return;
  }
  if (users.UserName().empty()) return;
  if (m_nKind == EKindRecordings)
    users.SetHistoryItemIndex(i);
  else
    users.SetHistorySubItemIndex(i);
  SelectRecord(i);
  users.SetTrackKind(TrackKindFull);
  m_bRemember = false;
  CQuorelAppUi::PushHistory(m_nKind == EKindRecordings ? kRecordingsView : kPlaylistView,
                            FunctionDelegate<&CRecordListPanel::StopAndPopUser>(),
                            FunctionDelegate<&CQuorelAppUi::StopPreview>());
  m_playerListener.Unsubscribe();
  CQuorelAppUi::StopPreview();
  CAppUi::Instance()->ActivateView(kTrackDetailsView);
}

void CRecordListPanel::StopAndPopUser() {
  CQuorelAppUi::StopPreview();
  if (CHTTPUserModel* pUsers = AppSettings::GetUserModel()) pUsers->PopHistory();
}

void CRecordListPanel::OnLeave() {
  m_playerListener.Unsubscribe();
  m_tickListener.Unsubscribe();
  if (!m_bRemember) return;
  int32_t nRow = m_nPlaying;
  if (nRow == -1) {
    nRow = m_nSelected;
    CQuorelAppUi::StopPreview();
  }
  if (m_nKind == EKindResults)
    *AppSettings::CurrentItem() = nRow;
  else if (m_nKind == EKindRecordings)
    Users().SetItemIndex(nRow);
  else
    Users().SetSubItemIndex(nRow);
}
