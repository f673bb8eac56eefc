#include "app/ResultListView.h"

#include "app/FunctionDelegate.h"
#include "app/QuorelAppUi.h"
#include "app/RecordListPanel.h"
#include "framework/Theme.h"
#include "layouts/Layouts.h"
#include "protocol/AppSettings.h"
#include "protocol/HTTPUserModel.h"
#include "protocol/SearchResults.h"

bool HasResultPage() {
  CSearchResults* pResults = AppSettings::GetResultModel();
  return pResults && pResults->Page() != nullptr;
}

CRecordListView::~CRecordListView() { SetClosing(); }

void CRecordListView::ApplyLayout(CLayoutNode* pNode) {
  BuildFrameLayout(pNode);
  if (CtlAdvButton* pBar = m_bar.Bar()) pBar->SetLayoutNode(pNode->FindNode(114, -1));
  if (m_pPanel) m_pPanel->SetLayoutNode(pNode->FindNode(69, -1));
}

void CRecordListView::OnLeave(TViewRecord* pOld, TViewRecord* pNew) {
  CView::OnLeave(pOld, pNew);
  if (m_pPanel) m_pPanel->OnLeave();
  CQuorelAppUi::ShowPreviewMenuItem(false);
}

// ---------------------------------------------------------------------------

CView* CResultListView::NewView() { return new CResultListView(); }

void CResultListView::Create(CControl* pParent, plat::WStringView className, plat::WStringView title) {
  *AppSettings::ShowDetails() = 0;
  CView::Create(pParent, className, title);
  BuildEditBar(m_bar, this, 219);
  const bool bSing = *AppSettings::SavedSearchMode() == 0;
  if (bSing && m_bar.pButton) {
    m_bar.pButton->SetCaptionId(10);
    m_bar.pButton->SetCaptionColor(ThemeCaptionColor(GetThemeIndex()));
    m_bar.pButton->SetClickHandler(FunctionDelegate<&CQuorelAppUi::OpenSearchLanguages>());
    ShowEditBarButton(m_bar, true);
  }
  CQuorelAppUi::ShowPreviewMenuItem(false);
  m_pPanel = CRecordListPanel::New(this, AppSettings::GetResultModel(), CRecordListPanel::EKindResults, &m_bar);
  CQuorelAppUi::SetLeftSoftKey(0);
  CQuorelAppUi::SetRightSoftKey(14);
  SetNoBackground();
  CSearchResults* pResults = AppSettings::GetResultModel();
  const int32_t nTotal = pResults ? pResults->TotalRecords() : 0;
  CQuorelAppUi::ShowSearchLanguagesMenuItem(bSing && (nTotal >= 1 || *AppSettings::LangIndex() != 0));
  CQuorelAppUi::EnableResultsMenuItem(HasResultPage());
}

void CResultListView::OnLeave(TViewRecord* pOld, TViewRecord* pNew) {
  CRecordListView::OnLeave(pOld, pNew);
  CQuorelAppUi::ShowSearchLanguagesMenuItem(false);
}

// ---------------------------------------------------------------------------

CView* CUserListView::NewRecordingsView() { return new CUserListView(CRecordListPanel::EKindRecordings); }
CView* CUserListView::NewPlaylistView() { return new CUserListView(CRecordListPanel::EKindPlaylist); }

void CUserListView::Create(CControl* pParent, plat::WStringView className, plat::WStringView title) {
  CView::Create(pParent, className, title);
  BuildEditBar(m_bar, this, 0);
  CQuorelAppUi::ShowPreviewMenuItem(false);
  CHTTPUserModel* pUsers = AppSettings::GetUserModel();
  CSearchResults* pList =
      m_nKind == CRecordListPanel::EKindRecordings ? pUsers->RecordingsResults() : pUsers->PlaylistResults();
  m_pPanel = CRecordListPanel::New(this, pList, m_nKind, &m_bar);
  CQuorelAppUi::SetLeftSoftKey(0);
  CQuorelAppUi::SetRightSoftKey(0);
  SetNoBackground();
  CQuorelAppUi::EnableResultsMenuItem(HasResultPage());
}
