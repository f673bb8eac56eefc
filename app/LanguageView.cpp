#include "app/LanguageView.h"

#include "app/LanguageTable.h"
#include "app/QuorelAppUi.h"
#include "layouts/Layouts.h"
#include "protocol/AppSettings.h"

CChoiceListView::TShape CSearchLanguageView::Shape() const {
  return TShape{212, 200, 201, 229, BuildView8Layout, BuildChoiceRowsLayout};
}

std::vector<plat::WString> CSearchLanguageView::Entries() { return *AppSettings::LangLabels(); }

int32_t CSearchLanguageView::InitialTick() { return *AppSettings::LangIndex(); }

void CSearchLanguageView::OnRowTapped(int32_t nRow) {
  // One choice per visit: a second tap before the follow-up runs would
  // start a second search and drop an unrelated history entry with it.
  if (m_nChosen >= 0) return;
  m_nChosen = nRow;
  MoveTick(nRow);
  *AppSettings::LangIndex() = nRow;
  auto* pMessage = CEventFireMessage<FollowUpSearchEvent>::New();
  if (!CAppUi::Instance()->PostEvent(pMessage)) delete pMessage;
}

CChoiceListView::TShape CLanguageView::Shape() const {
  return TShape{210, 114, 228, 229, BuildView21Layout, BuildChoiceRowsLayout};
}

std::vector<plat::WString> CLanguageView::Entries() { return *AppSettings::UiLanguages(); }

int32_t CLanguageView::InitialTick() {
  AppSettings* pSettings = GetAppSettings();
  if (!pSettings) return -1;
  const std::vector<int32_t>& indices = *AppSettings::LanguageIndexList(*pSettings);
  for (size_t i = 0; i < indices.size(); ++i)
    if (indices[i] == *CurrentLanguageIndex()) return static_cast<int32_t>(i);
  return -1;
}

void CLanguageView::OnRowTapped(int32_t nRow) {
  AppSettings* pSettings = GetAppSettings();
  if (!pSettings) return;
  const std::vector<int32_t>& indices = *AppSettings::LanguageIndexList(*pSettings);
  if (nRow < 0 || static_cast<size_t>(nRow) >= indices.size()) return;
  SetLanguage(indices[static_cast<size_t>(nRow)]);
  CQuorelAppUi::GoBack();
}
